#include "admin/http_connection_guard.h"

#include <QTcpSocket>
#include <QTimer>

namespace {
const QByteArray kBusyAnswer = QByteArrayLiteral("HTTP/1.1 503 Service Unavailable\r\n"
                                                 "Content-Type: text/plain; charset=utf-8\r\n"
                                                 "Content-Length: 5\r\nConnection: close\r\n"
                                                 "Retry-After: 1\r\n\r\nbusy\n");
constexpr int kBusyLingerMs = 1000;
} // namespace

HttpConnectionGuard::HttpConnectionGuard(Limits limits, QObject* parent) : QTcpServer(parent), m_limits(limits) {}

bool HttpConnectionGuard::overOutputLimit(const QTcpSocket* socket) const {
    return socket->bytesToWrite() > m_limits.maxUnsentBytes;
}

void HttpConnectionGuard::dropLater(QTcpSocket* socket) {
    ++m_dropped;
    QMetaObject::invokeMethod(socket, &QTcpSocket::abort, Qt::QueuedConnection);
}

void HttpConnectionGuard::turnAway(QTcpSocket* socket) {
    ++m_turnedAway;
    socket->write(kBusyAnswer);
    socket->disconnectFromHost();
    connect(socket, &QTcpSocket::disconnected, socket, &QObject::deleteLater);
    // A caller that does not read the answer does not keep the socket.
    QTimer::singleShot(kBusyLingerMs, socket, [socket] {
        socket->abort();
        socket->deleteLater();
    });
}

void HttpConnectionGuard::forget(const QHostAddress& address) {
    --m_active;
    auto it = m_perAddress.find(address);
    if (it != m_perAddress.end() && --it.value() <= 0)
        m_perAddress.erase(it);
}

namespace {
// What the guard keeps per connection; a child of its socket, gone with it.
struct Budget : QObject {
    using QObject::QObject;
    qint64 received = 0;
    QTimer deadline{this};
};
} // namespace

void HttpConnectionGuard::incomingConnection(qintptr descriptor) {
    auto* socket = new QTcpSocket(this);
    if (!socket->setSocketDescriptor(descriptor)) {
        delete socket;
        return;
    }
    const QHostAddress address = socket->peerAddress();
    if (m_active >= m_limits.maxConnections || m_perAddress.value(address) >= m_limits.maxPerAddress) {
        turnAway(socket);
        return;
    }
    ++m_active;
    ++m_perAddress[address];
    connect(socket, &QObject::destroyed, this, [this, address] { forget(address); });

    auto* budget = new Budget(socket);
    budget->deadline.setSingleShot(true);
    budget->deadline.setInterval(m_limits.answerDeadlineMs);
    connect(&budget->deadline, &QTimer::timeout, socket, [this, socket] {
        ++m_dropped;
        socket->abort();
    });
    budget->deadline.start();

    // Connected before the server's own handler, so this sees each arrival
    // first: what the server has not yet read is all new.
    connect(socket, &QTcpSocket::readyRead, budget, [this, socket, budget] {
        budget->received += socket->bytesAvailable();
        if (budget->received > m_limits.maxRequestBytes) {
            ++m_dropped;
            socket->abort();
        }
    });
    // An answer sent whole: the next request gets a deadline and a budget of its own.
    connect(socket, &QTcpSocket::bytesWritten, budget, [socket, budget] {
        if (socket->bytesToWrite() == 0) {
            budget->received = 0;
            budget->deadline.start();
        }
    });
    addPendingConnection(socket);
}
