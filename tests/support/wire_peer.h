#pragma once

#include <QByteArray>
#include <QTcpSocket>
#include <optional>

// A blocking peer on a real TCP connection, for tests that drive the
// tavregistry process: it writes frames and reads whole frames back.
class WirePeer {
public:
    bool connectTo(quint16 port, int timeoutMs = 3000);
    bool isConnected() const { return m_socket.state() == QAbstractSocket::ConnectedState; }
    // Writes one frame (prefix, type byte, payload) or raw bytes.
    bool sendFrame(quint8 type, const QByteArray& payload = {});
    bool sendRaw(const QByteArray& bytes);
    // The next whole message (type byte + payload), or nothing on time-out or
    // when the connection ends first.
    std::optional<QByteArray> readMessage(int timeoutMs = 3000);
    // True when the registry closes the connection within the time.
    bool waitClosed(int timeoutMs = 3000);
    void close() { m_socket.abort(); }

    // Logs in as an operator; true when the registry answered 0,1,5.
    bool loginOperator();
    // Registers or logs in a game server; returns the reply message.
    std::optional<QByteArray> logIn(quint8 type, const QByteArray& user, const QByteArray& password);

private:
    bool fill(qsizetype need, int timeoutMs);
    QTcpSocket m_socket;
    QByteArray m_in;
};
