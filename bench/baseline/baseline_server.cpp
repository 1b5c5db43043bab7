// The baseline the registry is measured against: the same replies to server
// registrations and logins, reports and list queries, from one epoll loop with
// nothing else to do. Every server is unofficial and has no update URL.
#include "list_cache.h"

#include <arpa/inet.h>
#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <map>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <string>
#include <sys/epoll.h>
#include <sys/socket.h>
#include <unistd.h>

namespace {

struct Account {
    std::string name = "<untitled>";
    std::string description;
};

struct Conn {
    int fd = -1;
    int mode = 0; // 0 fresh, 2 logged-in server
    std::string in;
    std::string out;
    std::string address;
    Account* account = nullptr;
};

ListCache g_list;
std::map<std::string, Account> g_accounts;
Conn g_conns[ListCache::kSlots + 1];
int g_epoll = -1;
volatile std::sig_atomic_t g_stop = 0;

std::string frame(char type, const std::string& payload) {
    std::string f;
    f += char((payload.size() + 1) >> 8);
    f += char((payload.size() + 1) & 0xFF);
    f += type;
    f += payload;
    return f;
}

void closeSlot(int i) {
    Conn& c = g_conns[i];
    if (c.fd < 0)
        return;
    ::close(c.fd);
    c = Conn{};
    if (g_list.slot(i).online) {
        g_list.slot(i) = ListedSlot{};
        g_list.invalidate();
    }
}

// Returns false when the slot was closed.
bool flush(int i) {
    Conn& c = g_conns[i];
    while (!c.out.empty()) {
        const ssize_t n = ::send(c.fd, c.out.data(), c.out.size(), MSG_NOSIGNAL);
        if (n < 0) {
            if (errno == EAGAIN) {
                epoll_event ev{EPOLLIN | EPOLLOUT, {.u32 = uint32_t(i)}};
                epoll_ctl(g_epoll, EPOLL_CTL_MOD, c.fd, &ev);
                return true;
            }
            closeSlot(i);
            return false;
        }
        c.out.erase(0, size_t(n));
    }
    return true;
}

void sendTo(int i, const std::string& bytes) {
    g_conns[i].out += bytes;
}

void logIn(int i, Account& account, const std::string& user) {
    Conn& c = g_conns[i];
    c.mode = 2;
    c.account = &account;
    ListedSlot& s = g_list.slot(i);
    s = ListedSlot{true, user, c.address, 0, account.name, account.description};
    g_list.invalidate();
    sendTo(i, frame(0, account.name + '\0' + account.description));
}

// Returns false when the connection is to be closed.
bool dispatch(int i, unsigned char type, const std::string& payload) {
    Conn& c = g_conns[i];
    if (type == 255)
        return payload.empty();
    if (c.mode == 0) {
        const size_t zero = payload.find('\0');
        switch (type) {
        case 0: { // registration
            if (zero == std::string::npos || zero == 0 || zero + 1 >= payload.size())
                return false;
            const std::string user = payload.substr(0, zero);
            if (g_accounts.count(user)) {
                sendTo(i, frame(1, ""));
                return false;
            }
            logIn(i, g_accounts[user], user);
            return true;
        }
        case 1: { // login
            auto it = zero == std::string::npos ? g_accounts.end() : g_accounts.find(payload.substr(0, zero));
            if (it == g_accounts.end()) {
                sendTo(i, frame(3, ""));
                return false;
            }
            logIn(i, it->second, it->first);
            return true;
        }
        case 3: { // list query
            if (payload.size() != 1)
                return false;
            const int first = (unsigned char)payload[0];
            if (first == 0)
                return true;
            const std::string& reply = g_list.reply(first);
            if (reply.empty())
                return false;
            sendTo(i, reply);
            return true;
        }
        default:
            return false;
        }
    }
    switch (type) {
    case 5: { // name and description
        const size_t zero = payload.find('\0');
        if (zero == std::string::npos)
            return false;
        c.account->name = payload.substr(0, zero);
        c.account->description = payload.substr(zero + 1);
        g_list.slot(i).name = c.account->name;
        g_list.slot(i).description = c.account->description;
        g_list.invalidate();
        return true;
    }
    case 6:
        return true;
    case 7:
        if (payload.size() != 1)
            return false;
        if (g_list.slot(i).players != (unsigned char)payload[0]) {
            g_list.slot(i).players = (unsigned char)payload[0];
            g_list.invalidate();
        }
        return true;
    default:
        return false;
    }
}

void readable(int i) {
    Conn& c = g_conns[i];
    char buffer[16384];
    for (;;) {
        const ssize_t n = ::recv(c.fd, buffer, sizeof buffer, 0);
        if (n == 0 || (n < 0 && errno != EAGAIN)) {
            closeSlot(i);
            return;
        }
        if (n < 0)
            break;
        c.in.append(buffer, size_t(n));
    }
    size_t at = 0;
    while (c.in.size() - at >= 3) {
        const size_t length = (unsigned char)c.in[at] * 256u + (unsigned char)c.in[at + 1];
        if (length > 511) {
            closeSlot(i);
            return;
        }
        if (c.in.size() - at - 2 < length)
            break;
        const size_t body = at + 2;
        at = body + length;
        if (length == 0)
            continue;
        if (!dispatch(i, (unsigned char)c.in[body], c.in.substr(body + 1, length - 1))) {
            flush(i);
            closeSlot(i);
            return;
        }
    }
    c.in.erase(0, at);
    flush(i);
}

void accept(int listener) {
    for (;;) {
        sockaddr_in peer{};
        socklen_t len = sizeof peer;
        const int fd = ::accept4(listener, reinterpret_cast<sockaddr*>(&peer), &len, SOCK_NONBLOCK);
        if (fd < 0)
            return;
        int slot = 1;
        while (slot <= ListCache::kSlots && g_conns[slot].fd >= 0)
            ++slot;
        if (slot > ListCache::kSlots) {
            ::send(fd, "\x00\x02\x00\x04", 4, MSG_NOSIGNAL);
            ::close(fd);
            continue;
        }
        int one = 1;
        setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &one, sizeof one);
        char text[INET_ADDRSTRLEN];
        inet_ntop(AF_INET, &peer.sin_addr, text, sizeof text);
        g_conns[slot].fd = fd;
        g_conns[slot].address = text;
        epoll_event ev{EPOLLIN, {.u32 = uint32_t(slot)}};
        epoll_ctl(g_epoll, EPOLL_CTL_ADD, fd, &ev);
    }
}

} // namespace

int main(int argc, char** argv) {
    int port = argc > 1 ? std::atoi(argv[1]) : 5679;
    std::signal(SIGTERM, [](int) { g_stop = 1; });
    std::signal(SIGINT, [](int) { g_stop = 1; });
    const int listener = ::socket(AF_INET, SOCK_STREAM | SOCK_NONBLOCK, 0);
    int one = 1;
    setsockopt(listener, SOL_SOCKET, SO_REUSEADDR, &one, sizeof one);
    sockaddr_in addr{};
    addr.sin_family = AF_INET;
    addr.sin_port = htons(uint16_t(port));
    addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    if (::bind(listener, reinterpret_cast<sockaddr*>(&addr), sizeof addr) < 0 || ::listen(listener, 512) < 0) {
        std::perror("tav_bench_baseline: bind/listen");
        return 1;
    }
    socklen_t len = sizeof addr;
    getsockname(listener, reinterpret_cast<sockaddr*>(&addr), &len);
    std::printf("listening on port %d\n", ntohs(addr.sin_port));
    std::fflush(stdout);
    g_epoll = epoll_create1(0);
    epoll_event ev{EPOLLIN, {.u32 = 0}};
    epoll_ctl(g_epoll, EPOLL_CTL_ADD, listener, &ev);
    epoll_event events[256];
    while (!g_stop) {
        const int n = epoll_wait(g_epoll, events, 256, 200);
        for (int k = 0; k < n; ++k) {
            const int i = int(events[k].data.u32);
            if (i == 0) {
                accept(listener);
                continue;
            }
            if (g_conns[i].fd < 0)
                continue;
            if (events[k].events & EPOLLOUT) {
                if (flush(i) && g_conns[i].out.empty()) {
                    epoll_event in{EPOLLIN, {.u32 = uint32_t(i)}};
                    epoll_ctl(g_epoll, EPOLL_CTL_MOD, g_conns[i].fd, &in);
                }
            }
            if (g_conns[i].fd >= 0 && (events[k].events & (EPOLLIN | EPOLLHUP | EPOLLERR)))
                readable(i);
        }
    }
    return 0;
}
