#pragma once

#include "platform/socket_layer.h"

#include <array>
#include <deque>
#include <vector>

class QSocketNotifier;

// The socket layer on raw non-blocking sockets and one epoll set. Qt's event
// loop watches only the epoll descriptor, so the cost of a loop pass does not
// grow with the number of connections, and a read or write is one system call.
class EpollSocketLayer final : public SocketLayer {
    Q_OBJECT
public:
    static constexpr int kMaxIndex = 256;
    static constexpr int kListenBacklog = 512;
    // Descriptors the table holds from listen() on, without widening later.
    static constexpr int kDescriptorRoom = 1024;

    explicit EpollSocketLayer(QObject* parent = nullptr);
    ~EpollSocketLayer() override;

    bool listen(const QHostAddress& address, quint16 port, QString* errorText) override;
    quint16 localPort() const override { return m_port; }
    void stopListening() override;
    bool hasPendingConnection() const override { return !m_accepted.empty(); }
    bool acceptInto(int index) override;
    void refuse(const QByteArray& notice) override;
    QByteArray pendingAddress() override { return m_accepted.empty() ? QByteArray() : m_accepted.front().address; }
    QByteArray remoteAddress(int index) const override;
    bool isConnected(int index) const override;
    void send(int index, const QByteArray& data) override;
    void sendUnwatched(int index, const QByteArray& data) override;
    qint64 unsentBytes(int index) const override;
    qint64 kernelUnsentBytes(int index) const override;
    bool unsentOver(int index, qint64 limit) const override;
    void setReadPaused(int index, bool paused) override;
    QByteArray takeData(int index) override;
    void close(int index) override;
    int openCount() const override { return m_open; }

private:
    struct Connection {
        int fd = -1;
        bool peerGone = false;  // end of stream or a socket error seen
        bool wantWrite = false; // EPOLLOUT armed
        bool readPaused = false; // EPOLLIN not armed
        bool completionWanted = false; // a send() since the accept asked for sendComplete
        QByteArray address;
        QByteArray inbox;  // read, not yet taken
        QByteArray outbox; // not yet written to the kernel
        // At least what the kernel holds unacknowledged: what it held when
        // last asked plus everything written to it since. Its queue grows
        // only by our writes, so below a limit there is no need to ask.
        mutable qint64 kernelBound = 0;
        quint64 generation = 0;
    };

    void onReady();
    void acceptWaiting();
    void readFrom(int index);
    void stopWatchingIfOpen(int index, quint64 generation);
    void writeOut(int index);
    void setWriteInterest(int index, bool on);
    void updateInterest(int index);
    void write(int index, const QByteArray& data);
    void queueCompletion(int index);
    void deliverCompletions();

    int m_epoll = -1;
    int m_listener = -1;
    quint16 m_port = 0;
    QSocketNotifier* m_notifier = nullptr;
    std::array<Connection, kMaxIndex + 1> m_conn{};
    struct Waiting {
        int fd;
        QByteArray address;
    };
    std::deque<Waiting> m_accepted;
    std::vector<std::pair<int, quint64>> m_completed;
    bool m_deliveryPosted = false;
    int m_open = 0;
    QByteArray m_readBuffer;
};
