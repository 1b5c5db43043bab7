#include "soak_peers.h"

#include "wire.h"

#include <arpa/inet.h>
#include <cerrno>
#include <chrono>
#include <cstring>
#include <fcntl.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <sys/epoll.h>
#include <sys/socket.h>
#include <unistd.h>

namespace {
const std::string kFirstCode = "QWZRTPLKMX";
const std::string kSecondCode = "ZKRTQWPMNBVCXLKJHGFD";
constexpr int64_t kNeverReaderFloodMs = 3000;
constexpr int64_t kNeverReaderDrainMs = 4000;
} // namespace

int64_t nowMs() {
    return std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now().time_since_epoch())
        .count();
}

Swarm::Swarm(int port, uint32_t seed, SoakStats& stats)
    : m_port(port), m_epoll(::epoll_create1(EPOLL_CLOEXEC)), m_rng(seed), m_stats(stats) {}

Swarm::~Swarm() {
    closeAll();
    ::close(m_epoll);
}

void Swarm::add(Role role, int count) {
    for (int i = 0; i < count; ++i) {
        auto p = std::make_unique<Peer>();
        p->role = role;
        p->id = m_nextId++;
        if (role == Role::Server) {
            p->user = m_prefix + std::to_string(p->id);
            p->password = "pw" + std::to_string(p->id);
        }
        Peer& ref = *p;
        m_peers[ref.id] = std::move(p);
        connect(ref);
    }
}

void Swarm::connect(Peer& p) {
    p.fd = ::socket(AF_INET, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
    if (p.role == Role::NeverReads) {
        const int small = 4096;
        ::setsockopt(p.fd, SOL_SOCKET, SO_RCVBUF, &small, sizeof small);
    }
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_port = htons(uint16_t(m_port));
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    p.in.clear();
    p.fresh = true;
    p.loggedIn = false;
    p.byUs = false;
    p.draining = false;
    ++m_stats.connects;
    if (::connect(p.fd, reinterpret_cast<sockaddr*>(&a), sizeof a) != 0 && errno != EINPROGRESS) {
        ++m_stats.connectFailures;
        ::close(p.fd);
        p.fd = -1;
        p.nextMs = nowMs() + 100;
        return;
    }
    p.connecting = true;
    epoll_event ev{};
    ev.events = EPOLLIN | EPOLLOUT | EPOLLRDHUP;
    ev.data.fd = p.fd;
    ::epoll_ctl(m_epoll, EPOLL_CTL_ADD, p.fd, &ev);
    m_byFd[p.fd] = &p;
}

void Swarm::send(Peer& p, const std::string& bytes) {
    if (p.fd < 0 || p.connecting)
        return;
    // Only the never-reader ever fills its send buffer; what does not fit is dropped.
    (void)::send(p.fd, bytes.data(), bytes.size(), MSG_NOSIGNAL);
}

void Swarm::drop(Peer& p, int64_t reconnectAfterMs) {
    if (p.fd >= 0) {
        ::epoll_ctl(m_epoll, EPOLL_CTL_DEL, p.fd, nullptr);
        m_byFd.erase(p.fd);
        ::close(p.fd);
        p.fd = -1;
    }
    p.connecting = false;
    p.loggedIn = false;
    p.nextMs = reconnectAfterMs < 0 ? INT64_MAX : nowMs() + reconnectAfterMs;
}

std::string Swarm::randomBytes(size_t n) {
    std::string s(n, '\0');
    for (auto& c : s)
        c = char(m_rng() & 0xFF);
    return s;
}

void Swarm::onConnected(Peer& p) {
    p.connecting = false;
    epoll_event ev{};
    ev.events = (p.role == Role::NeverReads ? 0u : uint32_t(EPOLLIN)) | EPOLLRDHUP;
    ev.data.fd = p.fd;
    ::epoll_ctl(m_epoll, EPOLL_CTL_MOD, p.fd, &ev);
    const int64_t now = nowMs();
    p.nextMs = now + 50 + int64_t(m_rng() % 200);
    switch (p.role) {
    case Role::Server:
        send(p, Wire::frame(p.registered ? 1 : 0, Wire::fields(p.user, p.password)));
        break;
    case Role::Client:
        send(p, Wire::frame(3, std::string(1, '\x01')));
        break;
    case Role::Operator:
        // One operator types the codes in lower case; they are compared upper-cased.
        if (p.id % 2)
            send(p, Wire::frame(2, Wire::fields(kFirstCode, kSecondCode)));
        else
            send(p, Wire::frame(2, Wire::fields("qwzrtplkmx", "zkrtqwpmnbvcxlkjhgfd")));
        break;
    case Role::Oversize:
        send(p, std::string("\x02\x00\x03", 3) + randomBytes(m_rng() % 40));
        break;
    case Role::HalfFrame:
        send(p, std::string("\x00\xC8\x01", 3) + randomBytes(60));
        break;
    case Role::Storm: {
        ++m_stats.stormConnects;
        if (m_rng() % 2) {
            const linger reset{1, 0}; // close with a reset
            ::setsockopt(p.fd, SOL_SOCKET, SO_LINGER, &reset, sizeof reset);
        }
        drop(p, int64_t(m_rng() % 20));
        break;
    }
    case Role::NeverReads:
        p.phaseMs = now;
        break;
    default:
        break;
    }
}

void Swarm::onReadable(Peer& p) {
    char buf[65536];
    for (;;) {
        const ssize_t n = ::recv(p.fd, buf, sizeof buf, 0);
        if (n > 0) {
            p.in.append(buf, size_t(n));
            continue;
        }
        if (n == 0 || (errno != EAGAIN && errno != EWOULDBLOCK)) {
            std::string m;
            while (p.fd >= 0 && Wire::nextMessage(p.in, m))
                onMessage(p, m);
            if (p.fd >= 0)
                onClosed(p, true);
            return;
        }
        break;
    }
    std::string m;
    while (p.fd >= 0 && Wire::nextMessage(p.in, m))
        onMessage(p, m);
}

void Swarm::onMessage(Peer& p, const std::string& m) {
    const bool fresh = p.fresh;
    p.fresh = false;
    const uint8_t type = uint8_t(m[0]);
    if (fresh && m == std::string("\x00\x04", 2)) {
        // Wire::kFullNotice without its prefix: the registry is full.
        ++m_stats.fullNotices;
        drop(p, p.role == Role::Overflow ? -1 : 100 + int64_t(m_rng() % 200));
        return;
    }
    if (type == 255 && m.size() == 2 && uint8_t(m[1]) == 255) {
        ++m_stats.probesAnswered; // keep-alive probe
        send(p, Wire::frame(255));
        return;
    }
    switch (p.role) {
    case Role::Server:
        if (type == 0 && !p.loggedIn) {
            p.loggedIn = true;
            if (!p.registered) {
                p.registered = true;
                ++m_stats.registrationsAcked;
                m_acked.push_back(p.user);
            } else {
                ++m_stats.logins;
            }
        } else if (type == 1 && !p.loggedIn) {
            p.registered = true; // created on an earlier connection whose reply was lost
        } else if ((type == 2 || type == 3) && !p.loggedIn) {
            ++m_stats.serverRefusals;
        }
        break;
    case Role::Client:
        if (type == 4) {
            int zeros = 0;
            for (char c : m)
                zeros += c == '\0';
            if (zeros != 4)
                ++m_stats.malformedReplies;
        } else if (type == 255 && m.size() == 2 && m[1] == 4) {
            ++m_stats.listPages;
            ++m_stats.listReplies;
            p.nextMs = nowMs() + 20 + int64_t(m_rng() % 80);
        } else if (type == 255 && m.size() == 3 && m[1] == 3) {
            ++m_stats.listPages;
            send(p, Wire::frame(3, std::string(1, m[2])));
        } else {
            ++m_stats.malformedReplies;
        }
        break;
    case Role::Operator:
        if (type == 5 && m.size() == 1)
            send(p, Wire::frame(13)); // new accounts allowed
        else if (type == 6)
            ++m_stats.offlineNotices;
        break;
    default:
        break;
    }
}

void Swarm::onClosed(Peer& p, bool byRegistry) {
    const int64_t now = nowMs();
    switch (p.role) {
    case Role::Server:
        if (byRegistry && p.loggedIn)
            ++m_stats.serversDropped;
        drop(p, 100);
        break;
    case Role::Oversize:
        m_stats.oversizeClosed += byRegistry;
        drop(p, 20);
        break;
    case Role::HalfFrame:
        m_stats.halfFramesClosed += byRegistry;
        drop(p, 20);
        break;
    case Role::NeverReads:
        if (p.draining)
            ++m_stats.neverReaderClosed;
        drop(p, 200);
        break;
    case Role::Overflow:
        drop(p, -1);
        break;
    default:
        drop(p, 20 + int64_t(m_rng() % 100));
        break;
    }
    (void)now;
}

void Swarm::act(Peer& p, int64_t now) {
    if (p.fd < 0) {
        if (p.role != Role::Overflow)
            connect(p);
        return;
    }
    if (p.connecting)
        return;
    p.nextMs = now + 100 + int64_t(m_rng() % 400);
    switch (p.role) {
    case Role::Server:
        if (!p.loggedIn)
            break;
        if (m_rng() % 400 == 0) { // leave and log in again
            drop(p, 50);
            break;
        }
        ++m_stats.reportsSent;
        if (m_rng() % 8 == 0)
            send(p, Wire::frame(5, Wire::fields("Soak " + p.user, "A server of the soak, up for " +
                                                                       std::to_string(now % 100000))));
        else
            send(p, Wire::frame(7, std::string(1, char(m_rng() % 64))));
        break;
    case Role::Client:
        send(p, Wire::frame(3, std::string(1, '\x01')));
        p.nextMs = now + 1000; // again if no answer came meanwhile
        break;
    case Role::RandomBytes: {
        const std::string junk = randomBytes(1 + m_rng() % 600);
        m_stats.randomBytesSent += long(junk.size());
        send(p, junk);
        p.nextMs = now + 20 + int64_t(m_rng() % 200);
        break;
    }
    case Role::NeverReads:
        if (!p.draining && now - p.phaseMs < kNeverReaderFloodMs) {
            std::string burst;
            for (int i = 0; i < 64; ++i)
                burst += Wire::frame(3, std::string(1, '\x01'));
            const ssize_t n = ::send(p.fd, burst.data(), burst.size(), MSG_NOSIGNAL);
            if (n > 0)
                m_stats.neverReaderQueries += n / 4;
            p.nextMs = now + 5;
        } else if (!p.draining) {
            // Read at last: the registry must have given up on us.
            p.draining = true;
            p.phaseMs = now;
            epoll_event ev{};
            ev.events = EPOLLIN | EPOLLRDHUP;
            ev.data.fd = p.fd;
            ::epoll_ctl(m_epoll, EPOLL_CTL_MOD, p.fd, &ev);
            p.nextMs = now + kNeverReaderDrainMs;
        } else {
            ++m_stats.neverReaderNotClosed;
            drop(p, 100);
        }
        break;
    case Role::Overflow:
        if (!p.fresh)
            break;
        // Not refused within the time: it was admitted into a free slot.
        ++m_stats.overflowAdmitted;
        drop(p, -1);
        break;
    default:
        break;
    }
}

void Swarm::turn(int timeoutMs) {
    epoll_event events[256];
    const int n = ::epoll_wait(m_epoll, events, 256, timeoutMs);
    for (int i = 0; i < n; ++i) {
        const auto it = m_byFd.find(events[i].data.fd);
        if (it == m_byFd.end())
            continue;
        Peer& p = *it->second;
        if (p.connecting) {
            int err = 0;
            socklen_t len = sizeof err;
            ::getsockopt(p.fd, SOL_SOCKET, SO_ERROR, &err, &len);
            if (err != 0 || (events[i].events & (EPOLLERR | EPOLLHUP))) {
                ++m_stats.connectFailures;
                drop(p, p.role == Role::Overflow ? -1 : 50);
                continue;
            }
            if (events[i].events & EPOLLOUT)
                onConnected(p);
            if (p.fd < 0 || p.connecting)
                continue;
        }
        if (p.role == Role::NeverReads && !p.draining)
            continue;
        if (events[i].events & (EPOLLIN | EPOLLRDHUP | EPOLLHUP | EPOLLERR))
            onReadable(p);
    }
    const int64_t now = nowMs();
    for (auto& [id, p] : m_peers)
        if (p->nextMs <= now)
            act(*p, now);
    // Refused and finished overflow callers are forgotten.
    std::erase_if(m_peers, [](const auto& e) { return e.second->role == Role::Overflow && e.second->fd < 0; });
}

void Swarm::closeRole(Role role) {
    for (auto& [id, p] : m_peers)
        if (p->role == role)
            drop(*p, -1);
    std::erase_if(m_peers, [role](const auto& e) { return e.second->role == role; });
}

void Swarm::closeAll() {
    for (auto& [id, p] : m_peers)
        drop(*p, -1);
    m_peers.clear();
}

int Swarm::count(Role role) const {
    int n = 0;
    for (const auto& [id, p] : m_peers)
        n += p->role == role;
    return n;
}

int Swarm::open() const { return int(m_byFd.size()); }

std::set<std::string> Swarm::loggedInServers() const {
    std::set<std::string> out;
    for (const auto& [id, p] : m_peers)
        if (p->role == Role::Server && p->loggedIn && p->fd >= 0)
            out.insert(p->user);
    return out;
}
