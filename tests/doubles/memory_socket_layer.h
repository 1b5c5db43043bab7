#pragma once

#include "platform/socket_layer.h"

#include <QList>
#include <array>
#include <deque>
#include <memory>
#include <vector>

// An in-memory socket layer for tests and fuzzing: the test plays the peers.
// Nothing happens behind the test's back: arrivals, completions and errors are
// delivered only when the test calls the matching method.
class MemorySocketLayer final : public SocketLayer {
    Q_OBJECT
public:
    static constexpr int kMaxIndex = 256;

    // One caller, followed from its connection to its end (kept after close so
    // that a test can read what it received).
    struct Peer {
        int id = 0;
        QByteArray address;
        int index = 0;         // slot index while attached, 0 otherwise
        bool refused = false;  // taken by refuse()
        bool open = true;      // the registry has not closed it
        bool peerGone = false; // the peer closed its side
        QByteArray received;   // everything the registry sent to it
        qint64 unsent = 0;     // bytes sent but not yet "written to the kernel"
        qint64 kernelQueue = 0; // what "the kernel" holds unacknowledged (set by the test)
        bool readPaused = false; // the registry stopped reading it
        int arrivals = 0;       // dataArrival raised for it
    };

    explicit MemorySocketLayer(QObject* parent = nullptr);

    // --- the test's side ---
    // Queues a caller from `address` and raises connectionRequest; returns its id.
    int connectPeer(const QByteArray& address = "127.0.0.1");
    // Queues several callers, then raises one connectionRequest.
    QList<int> connectPeers(int count, const QByteArray& address = "127.0.0.1");
    // Delivers bytes from a peer as one arrival; while the registry has paused
    // reading, they wait (as in the kernel) and are announced on resumption.
    void peerSends(int peerId, const QByteArray& bytes);
    // Sets what "the kernel" holds unacknowledged for the peer.
    void setKernelQueue(int peerId, qint64 bytes) { m_peers.at(peerId - 1)->kernelQueue = bytes; }
    // Bytes the peer sent that the registry has not taken.
    qsizetype waitingInput(int peerId) const;
    // The peer goes away: its socket no longer reports connected.
    void peerCloses(int peerId);
    // Raises the error event for the peer's index.
    void raiseError(int peerId);
    // Delivers the pending send completions (all peers, or one).
    void completeSends();
    void completeSends(int peerId);
    // When true, every send stays unsent until completeSends() (default false:
    // sends are written at once but completion is still announced only by completeSends()).
    void setHoldOutput(bool hold) { m_holdOutput = hold; }
    // Raise connectionRequest only by hand (default: at once from connectPeer()).
    const Peer& peer(int peerId) const { return *m_peers.at(peerId - 1); }
    QByteArray takeReceived(int peerId);
    // The peer on a slot index, or 0 (inline: the fuzz rig asks for every
    // slot after every step).
    int peerAtIndex(int index) const { return index >= 1 && index <= kMaxIndex ? m_byIndex[index] : 0; }
    int peerCount() const { return int(m_peers.size()); }
    // Starts the peer numbering again from 1, for a layer used for many runs
    // (the fuzz rig). Only when no socket is open and no caller waits: false
    // otherwise, and nothing changes. Held output is off again.
    bool forgetPeers();
    bool listening() const { return m_listening; }

    // --- SocketLayer ---
    bool listen(const QHostAddress& address, quint16 port, QString* errorText) override;
    quint16 localPort() const override { return m_port; }
    void stopListening() override { m_listening = false; }
    bool hasPendingConnection() const override { return !m_pending.empty(); }
    bool acceptInto(int index) override;
    void refuse(const QByteArray& notice) override;
    QByteArray pendingAddress() override;
    QByteArray remoteAddress(int index) const override;
    bool isConnected(int index) const override;
    void send(int index, const QByteArray& data) override;
    qint64 unsentBytes(int index) const override;
    qint64 kernelUnsentBytes(int index) const override;
    void setReadPaused(int index, bool paused) override;
    QByteArray takeData(int index) override;
    void close(int index) override;
    int openCount() const override { return m_openCount; }

private:
    Peer* attached(int index) const;
    void announce(int index);

    std::vector<std::unique_ptr<Peer>> m_peers;
    std::deque<int> m_pending;
    std::array<int, kMaxIndex + 1> m_byIndex{};
    std::array<QByteArray, kMaxIndex + 1> m_inbox{};
    std::vector<int> m_completions;
    int m_openCount = 0; // indexes with a peer attached
    bool m_listening = false;
    bool m_holdOutput = false;
    quint16 m_port = 0;
};
