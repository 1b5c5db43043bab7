#pragma once

#include "client/frame_codec.h"

#include <QByteArray>
#include <QString>
#include <QTcpSocket>
#include <optional>

// A peer connection that waits for each step, with a time-out on every wait.
// Meant for tools and tests; it runs no event loop of its own.
namespace TavClient {

class BlockingClient {
public:
    // Closed: at a frame boundary; Truncated: in the middle of a frame.
    enum class Error { None, ConnectFailed, Timeout, Closed, TooLong, Truncated };

    explicit BlockingClient(int timeoutMs = 5000);

    bool connectTo(const QString& host, quint16 port);
    // Connects from the given local address (on Linux any of 127.0.0.0/8 serves
    // to play several callers on one machine); empty: the system's choice.
    void setLocalAddress(const QString& address) { m_localAddress = address; }
    // Sends complete frames and waits until they are handed to the system.
    bool send(const QByteArray& frames);
    // The next frame. timeoutMs < 0 uses the client's time-out; 0 waits for ever.
    // Keep-alive probes are answered and skipped unless answerProbes is off.
    std::optional<Frame> readFrame(int timeoutMs = -1);
    void close();

    void setAnswerProbes(bool on) { m_answerProbes = on; }
    int timeout() const { return m_timeoutMs; }
    Error error() const { return m_error; }
    QString errorText() const { return m_errorText; }
    bool isConnected() const { return m_socket.state() == QAbstractSocket::ConnectedState; }
    // Every byte read since connectTo, frames of length 0 included: tells a
    // peer that said nothing from one that said something unreadable.
    qint64 bytesReceived() const { return m_bytesReceived; }

private:
    void fail(Error error, const QString& text);

    QTcpSocket m_socket;
    QString m_localAddress;
    FrameReader m_reader{kMaxReplyLength};
    int m_timeoutMs;
    qint64 m_bytesReceived = 0;
    bool m_answerProbes = true;
    Error m_error = Error::None;
    QString m_errorText;
};

} // namespace TavClient
