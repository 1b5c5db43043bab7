#include "client/blocking_client.h"

#include "client/messages.h"
#include "client/replies.h"

#include <QDeadlineTimer>
#include <QHostAddress>

namespace TavClient {

BlockingClient::BlockingClient(int timeoutMs) : m_timeoutMs(timeoutMs) {}

void BlockingClient::fail(Error error, const QString& text) {
    m_error = error;
    m_errorText = text;
}

bool BlockingClient::connectTo(const QString& host, quint16 port) {
    m_reader.reset();
    m_bytesReceived = 0;
    m_error = Error::None;
    m_errorText.clear();
    if (!m_localAddress.isEmpty() && !m_socket.bind(QHostAddress(m_localAddress))) {
        fail(Error::ConnectFailed, QStringLiteral("cannot bind to %1: %2").arg(m_localAddress, m_socket.errorString()));
        return false;
    }
    m_socket.connectToHost(host, port);
    if (!m_socket.waitForConnected(m_timeoutMs)) {
        if (m_socket.error() == QAbstractSocket::SocketTimeoutError)
            fail(Error::Timeout, QStringLiteral("no connection to %1:%2 within %3 ms").arg(host).arg(port).arg(m_timeoutMs));
        else
            fail(Error::ConnectFailed,
                 QStringLiteral("cannot connect to %1:%2: %3").arg(host).arg(port).arg(m_socket.errorString()));
        m_socket.abort();
        return false;
    }
    return true;
}

bool BlockingClient::send(const QByteArray& frames) {
    if (!isConnected()) {
        fail(Error::Closed, QStringLiteral("the registry closed the connection"));
        return false;
    }
    m_socket.write(frames);
    QDeadlineTimer deadline(m_timeoutMs);
    while (m_socket.bytesToWrite() > 0) {
        if (!m_socket.waitForBytesWritten(int(deadline.remainingTime()))) {
            if (m_socket.state() != QAbstractSocket::ConnectedState)
                fail(Error::Closed, QStringLiteral("the registry closed the connection"));
            else
                fail(Error::Timeout, QStringLiteral("could not send within %1 ms").arg(m_timeoutMs));
            return false;
        }
    }
    return true;
}

std::optional<Frame> BlockingClient::readFrame(int timeoutMs) {
    if (timeoutMs < 0)
        timeoutMs = m_timeoutMs;
    QDeadlineTimer deadline = timeoutMs == 0 ? QDeadlineTimer(QDeadlineTimer::Forever) : QDeadlineTimer(timeoutMs);
    for (;;) {
        Frame frame;
        switch (m_reader.next(&frame)) {
        case FrameReader::Status::Ready:
            if (m_answerProbes && Replies::parseMarker(frame).kind == Replies::Marker::Kind::Probe) {
                if (!send(Messages::keepAlive()))
                    return std::nullopt;
                continue;
            }
            return frame;
        case FrameReader::Status::TooLong:
            fail(Error::TooLong, QStringLiteral("the registry sent a frame longer than %1 bytes").arg(kMaxReplyLength));
            return std::nullopt;
        case FrameReader::Status::NeedMore:
            break;
        }
        if (m_socket.bytesAvailable() > 0) {
            const QByteArray bytes = m_socket.readAll();
            m_bytesReceived += bytes.size();
            m_reader.feed(bytes);
            continue;
        }
        if (m_socket.state() != QAbstractSocket::ConnectedState) {
            if (m_reader.buffered() > 0)
                fail(Error::Truncated, QStringLiteral("the registry closed the connection in the middle of a message "
                                                      "(%1 bytes of it arrived)")
                                           .arg(m_reader.buffered()));
            else
                fail(Error::Closed, QStringLiteral("the registry closed the connection"));
            return std::nullopt;
        }
        const int wait = deadline.isForever() ? -1 : int(deadline.remainingTime());
        if (!deadline.isForever() && wait <= 0) {
            fail(Error::Timeout, QStringLiteral("no answer from the registry within %1 ms").arg(timeoutMs));
            return std::nullopt;
        }
        if (!m_socket.waitForReadyRead(wait) && m_socket.bytesAvailable() == 0 &&
            m_socket.state() == QAbstractSocket::ConnectedState && !deadline.isForever() &&
            deadline.hasExpired()) {
            fail(Error::Timeout, QStringLiteral("no answer from the registry within %1 ms").arg(timeoutMs));
            return std::nullopt;
        }
    }
}

void BlockingClient::close() {
    if (m_socket.state() == QAbstractSocket::ConnectedState) {
        m_socket.disconnectFromHost();
        if (m_socket.state() != QAbstractSocket::UnconnectedState)
            m_socket.waitForDisconnected(m_timeoutMs);
    }
    m_socket.abort();
}

} // namespace TavClient
