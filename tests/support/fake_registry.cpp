#include "support/fake_registry.h"

#include <QHostAddress>
#include <QTcpServer>
#include <QTcpSocket>
#include <memory>

FakeRegistry::FakeRegistry(Handler handler, QByteArray greeting)
    : m_handler(std::move(handler)), m_greeting(std::move(greeting)) {
    start();
    m_ready.acquire();
}

FakeRegistry::~FakeRegistry() {
    quit();
    wait();
}

QList<FakeRegistry::Received> FakeRegistry::received() const {
    QMutexLocker lock(&m_mutex);
    return m_received;
}

QByteArray FakeRegistry::receivedBytes() const {
    QByteArray out;
    for (const Received& r : received())
        TavClient::appendFrame(out, r.frame.type, r.frame.payload);
    return out;
}

int FakeRegistry::connections() const {
    QMutexLocker lock(&m_mutex);
    return m_connections;
}

void FakeRegistry::run() {
    QTcpServer server;
    server.listen(QHostAddress::LocalHost, 0);
    m_port = server.serverPort();
    QObject::connect(&server, &QTcpServer::newConnection, &server, [this, &server] {
        while (QTcpSocket* socket = server.nextPendingConnection()) {
            int conn;
            {
                QMutexLocker lock(&m_mutex);
                conn = ++m_connections;
            }
            auto reader = std::make_shared<TavClient::FrameReader>();
            QObject::connect(socket, &QTcpSocket::disconnected, socket, &QObject::deleteLater);
            QObject::connect(socket, &QTcpSocket::readyRead, socket, [this, socket, reader, conn] {
                reader->feed(socket->readAll());
                TavClient::Frame frame;
                while (reader->next(&frame) == TavClient::FrameReader::Status::Ready) {
                    {
                        QMutexLocker lock(&m_mutex);
                        m_received.append({conn, frame});
                    }
                    const Answer answer = m_handler(conn, frame);
                    socket->write(answer.bytes);
                    if (answer.close) {
                        socket->disconnectFromHost();
                        return;
                    }
                }
            });
            if (!m_greeting.isEmpty())
                socket->write(m_greeting);
        }
    });
    m_ready.release();
    exec();
}
