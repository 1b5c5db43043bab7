#include "doubles/memory_socket_layer.h"

MemorySocketLayer::MemorySocketLayer(QObject* parent) : SocketLayer(parent) {}

int MemorySocketLayer::connectPeer(const QByteArray& address) {
    auto p = std::make_unique<Peer>();
    p->id = int(m_peers.size()) + 1;
    p->address = address;
    m_peers.push_back(std::move(p));
    m_pending.push_back(m_peers.back()->id);
    const int id = m_peers.back()->id;
    if (m_listening)
        emit connectionRequest();
    return id;
}

QList<int> MemorySocketLayer::connectPeers(int count, const QByteArray& address) {
    QList<int> ids;
    for (int i = 0; i < count; ++i) {
        auto p = std::make_unique<Peer>();
        p->id = int(m_peers.size()) + 1;
        p->address = address;
        m_peers.push_back(std::move(p));
        m_pending.push_back(m_peers.back()->id);
        ids.append(m_peers.back()->id);
    }
    if (m_listening)
        emit connectionRequest();
    return ids;
}

MemorySocketLayer::Peer* MemorySocketLayer::attached(int index) const {
    if (index < 1 || index > kMaxIndex || m_byIndex[index] == 0)
        return nullptr;
    return m_peers[m_byIndex[index] - 1].get();
}

void MemorySocketLayer::peerSends(int peerId, const QByteArray& bytes) {
    Peer& p = *m_peers.at(peerId - 1);
    if (!p.open || p.index == 0)
        return;
    m_inbox[p.index] += bytes;
    if (!p.readPaused)
        announce(p.index);
}

void MemorySocketLayer::announce(int index) {
    ++attached(index)->arrivals;
    emit dataArrival(index);
}

qsizetype MemorySocketLayer::waitingInput(int peerId) const {
    const Peer& p = *m_peers.at(peerId - 1);
    return p.index != 0 ? m_inbox[p.index].size() : 0;
}

qint64 MemorySocketLayer::kernelUnsentBytes(int index) const {
    const Peer* p = attached(index);
    return p ? p->kernelQueue : 0;
}

void MemorySocketLayer::setReadPaused(int index, bool paused) {
    Peer* p = attached(index);
    if (!p || p->readPaused == paused)
        return;
    p->readPaused = paused;
    if (!paused && !m_inbox[index].isEmpty()) {
        // Announced from the event loop, as a real socket would.
        const int id = p->id;
        QMetaObject::invokeMethod(
            this, [this, id] {
                const Peer& q = *m_peers[id - 1];
                if (q.open && q.index != 0 && !q.readPaused && !m_inbox[q.index].isEmpty())
                    announce(q.index);
            },
            Qt::QueuedConnection);
    }
}

void MemorySocketLayer::peerCloses(int peerId) { m_peers.at(peerId - 1)->peerGone = true; }

void MemorySocketLayer::raiseError(int peerId) {
    Peer& p = *m_peers.at(peerId - 1);
    if (p.open && p.index != 0)
        emit error(p.index);
}

void MemorySocketLayer::completeSends() {
    std::vector<int> done;
    done.swap(m_completions);
    for (int id : done) {
        Peer& p = *m_peers[id - 1];
        p.unsent = 0;
        if (p.open && p.index != 0)
            emit sendComplete(p.index);
    }
}

void MemorySocketLayer::completeSends(int peerId) {
    std::erase(m_completions, peerId);
    Peer& p = *m_peers.at(peerId - 1);
    p.unsent = 0;
    if (p.open && p.index != 0)
        emit sendComplete(p.index);
}

QByteArray MemorySocketLayer::takeReceived(int peerId) {
    Peer& p = *m_peers.at(peerId - 1);
    QByteArray out = p.received;
    p.received.clear();
    return out;
}

bool MemorySocketLayer::listen(const QHostAddress&, quint16 port, QString*) {
    m_listening = true;
    m_port = port == 0 ? 40000 : port;
    return true;
}

bool MemorySocketLayer::acceptInto(int index) {
    if (m_pending.empty() || index < 1 || index > kMaxIndex)
        return false;
    close(index);
    const int id = m_pending.front();
    m_pending.pop_front();
    Peer& p = *m_peers[id - 1];
    p.index = index;
    p.readPaused = false;
    m_byIndex[index] = id;
    ++m_openCount;
    m_inbox[index].clear();
    return true;
}

void MemorySocketLayer::refuse(const QByteArray& notice) {
    if (m_pending.empty())
        return;
    const int id = m_pending.front();
    m_pending.pop_front();
    Peer& p = *m_peers[id - 1];
    p.refused = true;
    p.received += notice;
    p.open = false;
}

QByteArray MemorySocketLayer::pendingAddress() {
    return m_pending.empty() ? QByteArray() : m_peers[std::size_t(m_pending.front() - 1)]->address;
}

QByteArray MemorySocketLayer::remoteAddress(int index) const {
    const Peer* p = attached(index);
    return p ? p->address : QByteArray();
}

bool MemorySocketLayer::isConnected(int index) const {
    const Peer* p = attached(index);
    return p && p->open && !p->peerGone;
}

void MemorySocketLayer::send(int index, const QByteArray& data) {
    Peer* p = attached(index);
    if (!p)
        return;
    p->received += data;
    if (m_holdOutput)
        p->unsent += data.size();
    m_completions.push_back(p->id);
}

qint64 MemorySocketLayer::unsentBytes(int index) const {
    const Peer* p = attached(index);
    return p ? p->unsent : 0;
}

QByteArray MemorySocketLayer::takeData(int index) {
    if (index < 1 || index > kMaxIndex)
        return {};
    QByteArray out;
    out.swap(m_inbox[index]);
    return out;
}

void MemorySocketLayer::close(int index) {
    Peer* p = attached(index);
    if (!p)
        return;
    p->open = false;
    p->index = 0;
    m_byIndex[index] = 0;
    --m_openCount;
    m_inbox[index].clear();
}

bool MemorySocketLayer::forgetPeers() {
    if (openCount() != 0 || !m_pending.empty())
        return false;
    m_peers.clear();
    // Its storage goes too: a run that leaves nothing allocated for the next
    // one to free is what the fuzzer's leak detection expects.
    std::vector<int>().swap(m_completions);
    for (QByteArray& inbox : m_inbox)
        inbox.clear();
    m_holdOutput = false;
    return true;
}

