#include "platform/qt_socket_layer.h"

#include <QTcpSocket>

#include <linux/sockios.h>
#include <sys/ioctl.h>
#include <utility>

namespace {
// IPv4 callers on a dual-stack listener come as mapped addresses; they are
// written dotted, as the epoll layer writes them.
QByteArray addressOf(const QTcpSocket& socket) {
    const QHostAddress addr = socket.peerAddress();
    bool ok = false;
    const quint32 v4 = addr.toIPv4Address(&ok);
    if (ok)
        return QHostAddress(v4).toString().toLatin1();
    return addr.toString().toLatin1();
}
} // namespace

QtSocketLayer::QtSocketLayer(QObject* parent) : SocketLayer(parent) {
    m_server.setListenBacklogSize(kListenBacklog);
    // Accept nothing ourselves beyond what the kernel queues; the registry
    // takes callers one at a time.
    m_server.setMaxPendingConnections(kListenBacklog);
    connect(&m_server, &QTcpServer::newConnection, this, &SocketLayer::connectionRequest);
}

QtSocketLayer::~QtSocketLayer() {
    for (int i = 1; i <= kMaxIndex; ++i)
        close(i);
}

bool QtSocketLayer::listen(const QHostAddress& address, quint16 port, QString* errorText) {
    if (m_server.listen(address, port))
        return true;
    if (errorText)
        *errorText = m_server.errorString();
    return false;
}

quint16 QtSocketLayer::localPort() const { return m_server.serverPort(); }

void QtSocketLayer::stopListening() {
    m_server.close();
    if (m_next) {
        m_next->abort();
        m_next->deleteLater();
        m_next = nullptr;
    }
}

bool QtSocketLayer::hasPendingConnection() const { return m_next || m_server.hasPendingConnections(); }

QTcpSocket* QtSocketLayer::takeNext() {
    if (m_next)
        return std::exchange(m_next, nullptr);
    return m_server.nextPendingConnection();
}

QByteArray QtSocketLayer::pendingAddress() {
    if (!m_next) {
        m_next = m_server.nextPendingConnection();
        if (!m_next)
            return {};
        m_next->setParent(this);
    }
    return addressOf(*m_next);
}

QTcpSocket* QtSocketLayer::at(int index) const {
    if (index < 1 || index > kMaxIndex)
        return nullptr;
    return m_sockets[index];
}

void QtSocketLayer::attach(int index, QTcpSocket* socket) {
    m_sockets[index] = socket;
    m_readPaused[index] = false;
    ++m_open;
    socket->setParent(this);
    connect(socket, &QTcpSocket::readyRead, this, [this, index] {
        if (!m_readPaused[index])
            emit dataArrival(index);
    });
    connect(socket, &QTcpSocket::bytesWritten, this, [this, socket, index](qint64) { noteWritten(index, socket); });
    connect(socket, &QTcpSocket::errorOccurred, this, [this, socket, index](QAbstractSocket::SocketError) {
        if (m_sockets[index] == socket)
            emit error(index);
    });
}

bool QtSocketLayer::acceptInto(int index) {
    if (index < 1 || index > kMaxIndex)
        return false;
    QTcpSocket* socket = takeNext();
    if (!socket)
        return false;
    close(index);
    attach(index, socket);
    // Bytes may already be waiting; they were announced before we connected.
    if (socket->bytesAvailable() > 0)
        QMetaObject::invokeMethod(
            this, [this, socket, index] {
                if (m_sockets[index] == socket && socket->bytesAvailable() > 0)
                    emit dataArrival(index);
            },
            Qt::QueuedConnection);
    return true;
}

void QtSocketLayer::refuse(const QByteArray& notice) {
    QTcpSocket* socket = takeNext();
    if (!socket)
        return;
    socket->setParent(this);
    // The refused caller lives on its own until its notice is out.
    auto finish = [socket] {
        if (socket->bytesToWrite() == 0) {
            socket->abort();
            socket->deleteLater();
        }
    };
    connect(socket, &QTcpSocket::bytesWritten, socket, finish);
    connect(socket, &QTcpSocket::errorOccurred, socket, [socket] {
        socket->abort();
        socket->deleteLater();
    });
    socket->write(notice);
    socket->flush();
    finish();
}

QByteArray QtSocketLayer::remoteAddress(int index) const {
    QTcpSocket* s = at(index);
    return s ? addressOf(*s) : QByteArray();
}

bool QtSocketLayer::isConnected(int index) const {
    QTcpSocket* s = at(index);
    return s && s->state() == QAbstractSocket::ConnectedState;
}

void QtSocketLayer::send(int index, const QByteArray& data) {
    QTcpSocket* s = at(index);
    if (!s)
        return;
    s->write(data);
    // Hand the bytes to the kernel now rather than on the next loop pass:
    // replies leave sooner and most sends complete at once.
    s->flush();
}

void QtSocketLayer::noteWritten(int index, QTcpSocket* socket) {
    if (m_sockets[index] != socket || socket->bytesToWrite() != 0)
        return;
    m_completed.push_back(index);
    if (!m_deliveryPosted) {
        m_deliveryPosted = true;
        QMetaObject::invokeMethod(this, &QtSocketLayer::deliverCompletions, Qt::QueuedConnection);
    }
}

void QtSocketLayer::deliverCompletions() {
    m_deliveryPosted = false;
    std::vector<int> done;
    done.swap(m_completed);
    for (int index : done) {
        QTcpSocket* s = m_sockets[index];
        if (s && s->bytesToWrite() == 0)
            emit sendComplete(index);
    }
}

qint64 QtSocketLayer::unsentBytes(int index) const {
    QTcpSocket* s = at(index);
    return s ? s->bytesToWrite() : 0;
}

qint64 QtSocketLayer::kernelUnsentBytes(int index) const {
    QTcpSocket* s = at(index);
    int queued = 0;
    if (!s || s->socketDescriptor() < 0 || ::ioctl(int(s->socketDescriptor()), SIOCOUTQ, &queued) != 0)
        return 0;
    return queued;
}

void QtSocketLayer::setReadPaused(int index, bool paused) {
    QTcpSocket* s = at(index);
    if (!s || m_readPaused[index] == paused)
        return;
    m_readPaused[index] = paused;
    // A full read buffer makes Qt stop reading the socket: the bytes stay
    // in the kernel. One byte is the smallest buffer Qt accepts.
    s->setReadBufferSize(paused ? 1 : 0);
    if (!paused && s->bytesAvailable() > 0)
        QMetaObject::invokeMethod(
            this, [this, s, index] {
                if (m_sockets[index] == s && !m_readPaused[index] && s->bytesAvailable() > 0)
                    emit dataArrival(index);
            },
            Qt::QueuedConnection);
}

QByteArray QtSocketLayer::takeData(int index) {
    QTcpSocket* s = at(index);
    return s ? s->readAll() : QByteArray();
}

void QtSocketLayer::close(int index) {
    QTcpSocket* s = at(index);
    if (!s)
        return;
    m_sockets[index] = nullptr;
    --m_open;
    s->disconnect(this);
    s->abort();
    s->deleteLater();
}

int QtSocketLayer::openCount() const { return m_open; }
