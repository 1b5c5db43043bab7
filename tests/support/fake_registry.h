#pragma once

#include "client/frame_codec.h"

#include <QByteArray>
#include <QList>
#include <QMutex>
#include <QSemaphore>
#include <QThread>
#include <functional>

// A scripted stand-in for the registry on 127.0.0.1, running in a thread of its
// own so that blocking clients and child processes can talk to it.
class FakeRegistry : public QThread {
public:
    struct Answer {
        QByteArray bytes; // sent back at once
        bool close = false;
    };
    // Called in the fake's thread for every complete frame of connection `conn`.
    using Handler = std::function<Answer(int conn, const TavClient::Frame& frame)>;
    struct Received {
        int conn;
        TavClient::Frame frame;
    };

    explicit FakeRegistry(Handler handler, QByteArray greeting = {});
    ~FakeRegistry() override;

    quint16 port() const { return m_port; }
    QList<Received> received() const;
    // Every frame received, as wire bytes, in order (all connections).
    QByteArray receivedBytes() const;
    int connections() const;

protected:
    void run() override;

private:
    Handler m_handler;
    QByteArray m_greeting; // sent to each caller on connect
    quint16 m_port = 0;
    QSemaphore m_ready;
    mutable QMutex m_mutex;
    QList<Received> m_received;
    int m_connections = 0;
};
