#include "support/wire_peer.h"

#include <QDeadlineTimer>
#include <QHostAddress>

bool WirePeer::connectTo(quint16 port, int timeoutMs) {
    m_in.clear();
    m_socket.connectToHost(QHostAddress::LocalHost, port);
    return m_socket.waitForConnected(timeoutMs);
}

bool WirePeer::sendRaw(const QByteArray& bytes) {
    if (!isConnected())
        return false;
    if (m_socket.write(bytes) != bytes.size())
        return false;
    while (m_socket.bytesToWrite() > 0)
        if (!m_socket.waitForBytesWritten(3000))
            return false;
    return true;
}

bool WirePeer::sendFrame(quint8 type, const QByteArray& payload) {
    const int n = int(payload.size()) + 1;
    QByteArray f;
    f.append(char(n >> 8)).append(char(n & 0xFF)).append(char(type)).append(payload);
    return sendRaw(f);
}

bool WirePeer::fill(qsizetype need, int timeoutMs) {
    QDeadlineTimer deadline(timeoutMs);
    while (m_in.size() < need) {
        m_in += m_socket.readAll();
        if (m_in.size() >= need)
            break;
        if (m_socket.state() != QAbstractSocket::ConnectedState || deadline.hasExpired())
            return false;
        m_socket.waitForReadyRead(int(qMax<qint64>(1, deadline.remainingTime())));
    }
    return true;
}

std::optional<QByteArray> WirePeer::readMessage(int timeoutMs) {
    if (!fill(2, timeoutMs))
        return std::nullopt;
    const int n = (uchar(m_in[0]) << 8) | uchar(m_in[1]);
    if (!fill(2 + n, timeoutMs))
        return std::nullopt;
    QByteArray message = m_in.mid(2, n);
    m_in.remove(0, 2 + n);
    return message;
}

bool WirePeer::waitClosed(int timeoutMs) {
    QDeadlineTimer deadline(timeoutMs);
    while (m_socket.state() == QAbstractSocket::ConnectedState && !deadline.hasExpired()) {
        m_in += m_socket.readAll();
        m_socket.waitForReadyRead(int(qMax<qint64>(1, deadline.remainingTime())));
    }
    return m_socket.state() != QAbstractSocket::ConnectedState;
}

bool WirePeer::loginOperator() {
    if (!sendFrame(2, QByteArray("QWZRTPLKMX") + '\0' + QByteArray("ZKRTQWPMNBVCXLKJHGFD")))
        return false;
    const auto reply = readMessage();
    return reply && *reply == QByteArray(1, char(5));
}

std::optional<QByteArray> WirePeer::logIn(quint8 type, const QByteArray& user, const QByteArray& password) {
    if (!sendFrame(type, user + '\0' + password))
        return std::nullopt;
    return readMessage();
}
