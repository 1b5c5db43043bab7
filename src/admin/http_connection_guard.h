#pragma once

#include <QHash>
#include <QHostAddress>
#include <QTcpServer>

class QTcpSocket;

// The listening socket handed to the HTTP server, keeping its callers in
// bounds before a byte of theirs is parsed: at most `maxConnections` at once
// (and `maxPerAddress` from one address), each with a deadline by which its
// request must have been answered, a cap on the bytes it may send towards one
// answer, and a cap on the answers it may leave unread. A caller over a cap
// is dropped; one over the connection caps gets a fixed 503 and is closed.
class HttpConnectionGuard : public QTcpServer {
    Q_OBJECT
public:
    struct Limits {
        int maxConnections = 64;
        int maxPerAddress = 16;
        int answerDeadlineMs = 10000;      // from accept, or from the last answer sent whole
        qint64 maxRequestBytes = 64 * 1024; // read towards one answer (headers and body)
        qint64 maxUnsentBytes = 1 << 20;    // answers the peer has not read yet
    };

    explicit HttpConnectionGuard(Limits limits, QObject* parent = nullptr);
    explicit HttpConnectionGuard(QObject* parent = nullptr) : HttpConnectionGuard(Limits{}, parent) {}

    const Limits& limits() const { return m_limits; }
    int activeConnections() const { return m_active; }
    // Callers dropped or turned away since the start, for the reliability figures and tests.
    quint64 turnedAway() const { return m_turnedAway; }
    quint64 dropped() const { return m_dropped; }

    // Whether `socket` has so much unread output that no further answer may
    // be added to it (the handler then drops the connection instead).
    bool overOutputLimit(const QTcpSocket* socket) const;
    // Drops a connection from inside a handler without pulling the socket
    // from under the server while it is still parsing.
    void dropLater(QTcpSocket* socket);

protected:
    void incomingConnection(qintptr descriptor) override;

private:
    void turnAway(QTcpSocket* socket);
    void forget(const QHostAddress& address);

    Limits m_limits;
    int m_active = 0;
    QHash<QHostAddress, int> m_perAddress;
    quint64 m_turnedAway = 0;
    quint64 m_dropped = 0;
};
