#include "platform/epoll_socket_layer.h"

#include <QSocketNotifier>

#include <algorithm>
#include <arpa/inet.h>
#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <linux/sockios.h>
#include <sys/epoll.h>
#include <sys/ioctl.h>
#include <sys/resource.h>
#include <sys/socket.h>
#include <unistd.h>

namespace {

// Listener events carry this marker instead of a slot index.
constexpr quint64 kListenerTag = 0xFFFFFFFFull;
constexpr int kReadChunk = 64 * 1024;
constexpr int kMaxAcceptsPerPass = 256;

// Dotted decimal, as inet_ntop writes it: that formats through sprintf, a
// sixth of what a caller that connects and logs in costs us.
QByteArray dottedQuad(const unsigned char* octets) {
    char text[16];
    int at = 0;
    for (int k = 0; k < 4; ++k) {
        const unsigned v = octets[k];
        if (v >= 100)
            text[at++] = char('0' + v / 100);
        if (v >= 10)
            text[at++] = char('0' + v / 10 % 10);
        text[at++] = char('0' + v % 10);
        text[at++] = '.';
    }
    return QByteArray(text, at - 1);
}

QByteArray addressText(const sockaddr_storage& ss) {
    if (ss.ss_family == AF_INET) {
        const auto* sin = reinterpret_cast<const sockaddr_in*>(&ss);
        return dottedQuad(reinterpret_cast<const unsigned char*>(&sin->sin_addr));
    }
    char text[INET6_ADDRSTRLEN] = {};
    if (ss.ss_family == AF_INET6) {
        const auto* sin6 = reinterpret_cast<const sockaddr_in6*>(&ss);
        if (IN6_IS_ADDR_V4MAPPED(&sin6->sin6_addr))
            return dottedQuad(&sin6->sin6_addr.s6_addr[12]);
        inet_ntop(AF_INET6, &sin6->sin6_addr, text, sizeof text);
    }
    return QByteArray(text);
}

quint64 tag(int index, quint64 generation) { return (generation << 32) | quint64(index); }

// The kernel widens a process's descriptor table when a new descriptor's
// number passes its width, and in a process with threads it then waits for an
// RCU grace period: 10 to 30 ms in the middle of a burst of callers, the
// first time the table fills. Widened once before the first caller, to the
// descriptor limit or `highest`, whichever is lower.
void widenDescriptorTable(int anyOpen, int highest) {
    rlimit limit{};
    if (::getrlimit(RLIMIT_NOFILE, &limit) != 0 || limit.rlim_cur == RLIM_INFINITY)
        limit.rlim_cur = rlim_t(highest) + 1;
    const int top = int(std::min<rlim_t>(rlim_t(highest), limit.rlim_cur - 1));
    const int fd = ::fcntl(anyOpen, F_DUPFD_CLOEXEC, top);
    if (fd >= 0)
        ::close(fd);
}

} // namespace

EpollSocketLayer::EpollSocketLayer(QObject* parent) : SocketLayer(parent) {
    m_epoll = ::epoll_create1(EPOLL_CLOEXEC);
    if (m_epoll >= 0) {
        m_notifier = new QSocketNotifier(m_epoll, QSocketNotifier::Read, this);
        connect(m_notifier, &QSocketNotifier::activated, this, &EpollSocketLayer::onReady);
    }
    m_readBuffer.resize(kReadChunk);
}

EpollSocketLayer::~EpollSocketLayer() {
    for (int i = 1; i <= kMaxIndex; ++i)
        close(i);
    stopListening();
    if (m_epoll >= 0)
        ::close(m_epoll);
}

bool EpollSocketLayer::listen(const QHostAddress& address, quint16 port, QString* errorText) {
    auto fail = [&](const char* what) {
        if (errorText)
            *errorText = QStringLiteral("%1: %2").arg(QLatin1String(what), QString::fromLocal8Bit(strerror(errno)));
        if (m_listener >= 0)
            ::close(m_listener);
        m_listener = -1;
        return false;
    };
    if (m_epoll < 0)
        return fail("epoll_create1");
    sockaddr_storage ss{};
    socklen_t len = 0;
    bool ok = false;
    const quint32 v4 = address.toIPv4Address(&ok);
    if (ok) {
        auto* sin = reinterpret_cast<sockaddr_in*>(&ss);
        sin->sin_family = AF_INET;
        sin->sin_port = htons(port);
        sin->sin_addr.s_addr = htonl(v4);
        len = sizeof(sockaddr_in);
    } else {
        auto* sin6 = reinterpret_cast<sockaddr_in6*>(&ss);
        sin6->sin6_family = AF_INET6;
        sin6->sin6_port = htons(port);
        const Q_IPV6ADDR a = address.toIPv6Address();
        std::memcpy(&sin6->sin6_addr, &a, 16);
        len = sizeof(sockaddr_in6);
    }
    m_listener = ::socket(ss.ss_family, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
    if (m_listener < 0)
        return fail("socket");
    const int one = 1;
    ::setsockopt(m_listener, SOL_SOCKET, SO_REUSEADDR, &one, sizeof one);
    if (::bind(m_listener, reinterpret_cast<sockaddr*>(&ss), len) != 0)
        return fail("bind");
    if (::listen(m_listener, kListenBacklog) != 0)
        return fail("listen");
    sockaddr_storage bound{};
    socklen_t boundLen = sizeof bound;
    ::getsockname(m_listener, reinterpret_cast<sockaddr*>(&bound), &boundLen);
    m_port = ntohs(bound.ss_family == AF_INET ? reinterpret_cast<sockaddr_in*>(&bound)->sin_port
                                              : reinterpret_cast<sockaddr_in6*>(&bound)->sin6_port);
    epoll_event ev{};
    ev.events = EPOLLIN;
    ev.data.u64 = kListenerTag;
    if (::epoll_ctl(m_epoll, EPOLL_CTL_ADD, m_listener, &ev) != 0)
        return fail("epoll_ctl");
    // Every slot, a full pass of waiting callers, and room for the rest.
    widenDescriptorTable(m_epoll, kDescriptorRoom - 1);
    return true;
}

void EpollSocketLayer::stopListening() {
    if (m_listener >= 0) {
        ::epoll_ctl(m_epoll, EPOLL_CTL_DEL, m_listener, nullptr);
        ::close(m_listener);
        m_listener = -1;
    }
    for (const Waiting& w : m_accepted)
        ::close(w.fd);
    m_accepted.clear();
}

void EpollSocketLayer::onReady() {
    epoll_event events[128];
    const int n = ::epoll_wait(m_epoll, events, 128, 0);
    bool callers = false;
    for (int k = 0; k < n; ++k) {
        const quint64 t = events[k].data.u64;
        if (t == kListenerTag) {
            callers = true;
            continue;
        }
        const int index = int(t & 0xFFFFFFFFu);
        const quint64 generation = t >> 32;
        if (index < 1 || index > kMaxIndex || m_conn[index].fd < 0 || m_conn[index].generation != generation)
            continue; // closed earlier in this pass
        const quint32 ev = events[k].events;
        if (ev & EPOLLOUT)
            writeOut(index);
        if (m_conn[index].generation != generation || m_conn[index].fd < 0)
            continue;
        if (m_conn[index].readPaused) {
            // A hang-up or failure while paused ends the connection: what
            // the peer sent before it is not wanted by anybody who reads
            // replies. Level-triggered, it would come back every pass.
            if (ev & (EPOLLRDHUP | EPOLLHUP | EPOLLERR)) {
                m_conn[index].peerGone = true;
                emit error(index);
                stopWatchingIfOpen(index, generation);
            }
            continue;
        }
        if (ev & (EPOLLIN | EPOLLHUP | EPOLLERR))
            readFrom(index);
    }
    if (callers) {
        acceptWaiting();
        if (!m_accepted.empty())
            emit connectionRequest();
    }
}

void EpollSocketLayer::acceptWaiting() {
    for (int i = 0; i < kMaxAcceptsPerPass && m_listener >= 0; ++i) {
        sockaddr_storage ss{};
        socklen_t len = sizeof ss;
        const int fd = ::accept4(m_listener, reinterpret_cast<sockaddr*>(&ss), &len, SOCK_NONBLOCK | SOCK_CLOEXEC);
        if (fd < 0)
            break; // EAGAIN, or a caller that vanished while queued
        m_accepted.push_back({fd, addressText(ss)});
    }
}

bool EpollSocketLayer::acceptInto(int index) {
    if (index < 1 || index > kMaxIndex || m_accepted.empty())
        return false;
    close(index);
    Waiting w = std::move(m_accepted.front());
    m_accepted.pop_front();
    Connection& c = m_conn[index];
    c.fd = w.fd;
    c.address = std::move(w.address);
    c.peerGone = false;
    c.wantWrite = false;
    c.readPaused = false;
    c.completionWanted = false;
    c.inbox.clear();
    c.outbox.clear();
    c.kernelBound = 0;
    ++c.generation;
    const int one = 1;
    ::setsockopt(c.fd, IPPROTO_TCP, TCP_NODELAY, &one, sizeof one);
    epoll_event ev{};
    ev.events = EPOLLIN | EPOLLRDHUP;
    ev.data.u64 = tag(index, c.generation);
    ::epoll_ctl(m_epoll, EPOLL_CTL_ADD, c.fd, &ev);
    ++m_open;
    return true;
}

void EpollSocketLayer::refuse(const QByteArray& notice) {
    if (m_accepted.empty())
        return;
    const Waiting w = std::move(m_accepted.front());
    m_accepted.pop_front();
    // A few bytes always fit into a fresh connection's send buffer; the
    // kernel delivers them before the end of the stream.
    [[maybe_unused]] const ssize_t n = ::send(w.fd, notice.constData(), size_t(notice.size()), MSG_NOSIGNAL);
    ::shutdown(w.fd, SHUT_WR);
    ::close(w.fd);
}

void EpollSocketLayer::readFrom(int index) {
    Connection& c = m_conn[index];
    const quint64 generation = c.generation;
    bool ended = false;
    const ssize_t n = ::read(c.fd, m_readBuffer.data(), size_t(m_readBuffer.size()));
    if (n > 0 && c.inbox.isEmpty())
        c.inbox = QByteArray(m_readBuffer.constData(), n); // one allocation, where append costs more
    else if (n > 0)
        c.inbox.append(m_readBuffer.constData(), n);
    else if (n == 0 || (errno != EAGAIN && errno != EWOULDBLOCK && errno != EINTR))
        ended = true;
    if (ended)
        c.peerGone = true;
    if (n > 0)
        emit dataArrival(index);
    if (ended && m_conn[index].fd >= 0 && m_conn[index].generation == generation) {
        // Nothing more will come: the registry closes it, which takes it out
        // of the epoll set. Only one left open is taken out by hand, or the
        // end of its stream would be reported again at every pass.
        emit error(index);
        stopWatchingIfOpen(index, generation);
    }
}

void EpollSocketLayer::stopWatchingIfOpen(int index, quint64 generation) {
    const Connection& c = m_conn[index];
    if (c.fd >= 0 && c.generation == generation)
        ::epoll_ctl(m_epoll, EPOLL_CTL_DEL, c.fd, nullptr);
}

void EpollSocketLayer::writeOut(int index) {
    Connection& c = m_conn[index];
    while (!c.outbox.isEmpty()) {
        const ssize_t n = ::send(c.fd, c.outbox.constData(), size_t(c.outbox.size()), MSG_NOSIGNAL);
        if (n > 0) {
            c.outbox.remove(0, n);
            c.kernelBound += n;
            continue;
        }
        if (n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK))
            return;
        if (n < 0 && errno == EINTR)
            continue;
        c.peerGone = true;
        c.outbox.clear();
        setWriteInterest(index, false);
        emit error(index);
        return;
    }
    setWriteInterest(index, false);
    queueCompletion(index);
}

void EpollSocketLayer::setWriteInterest(int index, bool on) {
    Connection& c = m_conn[index];
    if (c.wantWrite == on || c.fd < 0)
        return;
    c.wantWrite = on;
    updateInterest(index);
}

void EpollSocketLayer::setReadPaused(int index, bool paused) {
    if (index < 1 || index > kMaxIndex)
        return;
    Connection& c = m_conn[index];
    if (c.readPaused == paused || c.fd < 0 || c.peerGone)
        return;
    c.readPaused = paused;
    updateInterest(index);
    // Bytes read before the pause and not taken are announced again.
    if (!paused && !c.inbox.isEmpty()) {
        const quint64 generation = c.generation;
        QMetaObject::invokeMethod(
            this, [this, index, generation] {
                const Connection& now = m_conn[index];
                if (now.fd >= 0 && now.generation == generation && !now.readPaused && !now.inbox.isEmpty())
                    emit dataArrival(index);
            },
            Qt::QueuedConnection);
    }
}

void EpollSocketLayer::updateInterest(int index) {
    const Connection& c = m_conn[index];
    epoll_event ev{};
    ev.events = (c.readPaused ? 0u : uint32_t(EPOLLIN)) | EPOLLRDHUP | (c.wantWrite ? EPOLLOUT : 0u);
    ev.data.u64 = tag(index, c.generation);
    ::epoll_ctl(m_epoll, EPOLL_CTL_MOD, c.fd, &ev);
}

void EpollSocketLayer::send(int index, const QByteArray& data) {
    if (index < 1 || index > kMaxIndex || m_conn[index].fd < 0 || data.isEmpty())
        return;
    m_conn[index].completionWanted = true;
    write(index, data);
}

// A reply that nobody waits for costs no queued completion and no signal.
void EpollSocketLayer::sendUnwatched(int index, const QByteArray& data) {
    if (index < 1 || index > kMaxIndex || m_conn[index].fd < 0 || data.isEmpty())
        return;
    write(index, data);
}

void EpollSocketLayer::write(int index, const QByteArray& data) {
    Connection& c = m_conn[index];
    if (!c.outbox.isEmpty()) {
        c.outbox.append(data);
        return;
    }
    qsizetype done = 0;
    while (done < data.size()) {
        const ssize_t n = ::send(c.fd, data.constData() + done, size_t(data.size() - done), MSG_NOSIGNAL);
        if (n > 0) {
            done += n;
            c.kernelBound += n;
            continue;
        }
        if (n < 0 && errno == EINTR)
            continue;
        if (n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK)) {
            c.outbox = data.sliced(done);
            setWriteInterest(index, true);
            return;
        }
        // The peer is gone; the registry notices through isConnected().
        c.peerGone = true;
        return;
    }
    queueCompletion(index);
}

void EpollSocketLayer::queueCompletion(int index) {
    if (!m_conn[index].completionWanted)
        return;
    m_completed.emplace_back(index, m_conn[index].generation);
    if (!m_deliveryPosted) {
        m_deliveryPosted = true;
        QMetaObject::invokeMethod(this, &EpollSocketLayer::deliverCompletions, Qt::QueuedConnection);
    }
}

// Completions are delivered from the event loop, never from inside send(),
// so that a handler that sends is not re-entered by the close it may cause.
void EpollSocketLayer::deliverCompletions() {
    m_deliveryPosted = false;
    std::vector<std::pair<int, quint64>> done;
    done.swap(m_completed);
    for (const auto& [index, generation] : done) {
        const Connection& c = m_conn[index];
        if (c.fd >= 0 && c.generation == generation && c.outbox.isEmpty())
            emit sendComplete(index);
    }
}

QByteArray EpollSocketLayer::remoteAddress(int index) const {
    if (index < 1 || index > kMaxIndex)
        return {};
    return m_conn[index].address;
}

bool EpollSocketLayer::isConnected(int index) const {
    return index >= 1 && index <= kMaxIndex && m_conn[index].fd >= 0 && !m_conn[index].peerGone;
}

qint64 EpollSocketLayer::unsentBytes(int index) const {
    if (index < 1 || index > kMaxIndex)
        return 0;
    return m_conn[index].outbox.size();
}

qint64 EpollSocketLayer::kernelUnsentBytes(int index) const {
    if (index < 1 || index > kMaxIndex || m_conn[index].fd < 0)
        return 0;
    int queued = 0;
    if (::ioctl(m_conn[index].fd, SIOCOUTQ, &queued) != 0)
        return 0;
    m_conn[index].kernelBound = queued;
    return queued;
}

bool EpollSocketLayer::unsentOver(int index, qint64 limit) const {
    if (index < 1 || index > kMaxIndex)
        return false;
    const Connection& c = m_conn[index];
    // One system call less per send and per arrival while a peer keeps up.
    if (c.outbox.size() + c.kernelBound <= limit)
        return false;
    return c.outbox.size() + kernelUnsentBytes(index) > limit;
}

QByteArray EpollSocketLayer::takeData(int index) {
    if (index < 1 || index > kMaxIndex)
        return {};
    QByteArray out;
    out.swap(m_conn[index].inbox);
    return out;
}

void EpollSocketLayer::close(int index) {
    if (index < 1 || index > kMaxIndex)
        return;
    Connection& c = m_conn[index];
    if (c.fd < 0)
        return;
    // Closing the only descriptor of the socket takes it out of the epoll
    // set; an event already taken for it is told apart by its generation.
    ::close(c.fd);
    c.fd = -1;
    c.inbox.clear();
    c.outbox.clear();
    c.address.clear();
    c.peerGone = false;
    c.wantWrite = false;
    c.readPaused = false;
    c.completionWanted = false;
    ++c.generation;
    --m_open;
}
