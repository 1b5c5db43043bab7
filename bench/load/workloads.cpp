#include "workloads.h"

#include "expected.h"
#include "latency.h"
#include "net.h"
#include "proc_stats.h"

#include <cerrno>
#include <cstring>
#include <sys/epoll.h>
#include <sys/socket.h>
#include <unistd.h>
#include <vector>

namespace {

constexpr int kChurnServers = 200, kChurnClients = 32;
constexpr int kPersistentServers = 100, kPersistentClients = 155;
constexpr int kStormAccounts = 128, kStormClients = 16;
constexpr int kBurstCallers = 254; // with one game server online: every slot taken
constexpr int kBurstRounds = 20;
constexpr int kReportsPerSecond = 2000;

// Registers and logs in every server in slot order, waiting for each answer,
// then sets its name, description and player count.
bool logInServers(uint16_t port, const std::vector<BenchServer>& servers, std::vector<int>* fds, std::string* error) {
    for (const BenchServer& s : servers) {
        const int fd = Net::connectBlocking(port);
        std::string reply;
        if (fd < 0 || !Net::sendAll(fd, Expected::registerRequest(s.user)) ||
            !Net::readExactly(fd, Expected::freshAccountReply().size(), &reply, 3000) ||
            reply != Expected::freshAccountReply()) {
            *error = "registration of " + s.user + " was not answered as expected";
            return false;
        }
        Net::sendAll(fd, Expected::nameReport(s) + Expected::playerReport(s));
        fds->push_back(fd);
    }
    return true;
}

// Waits until the list shows every report (they have no answer of their own).
bool awaitList(uint16_t port, const std::map<int, std::string>& pages, std::string* error) {
    const uint64_t deadline = Net::nowNs() + 5000000000ull;
    while (Net::nowNs() < deadline) {
        const int fd = Net::connectBlocking(port);
        bool same = fd >= 0;
        for (const auto& [first, page] : pages) {
            std::string got;
            if (!same || !Net::sendAll(fd, Expected::listQuery(first)) || !Net::readExactly(fd, page.size(), &got, 2000) ||
                got != page) {
                same = false;
                break;
            }
        }
        if (fd >= 0)
            ::close(fd);
        if (same)
            return true;
        ::usleep(50000);
    }
    *error = "the list never matched the expected bytes";
    return false;
}

struct Client {
    int fd = -1;
    bool connected = false;
    std::string in;
    const std::string* expect = nullptr;
    int page = 1;
    uint64_t opStart = 0;
    uint64_t requestStart = 0;
    int account = 0;
    uint32_t generation = 0; // tells events of a closed connection from its successor's
};

class Engine {
public:
    Engine(const LoadOptions& o, LoadResult* r) : m_o(o), m_r(r) { m_epoll = epoll_create1(0); }
    ~Engine() {
        for (Client& c : m_clients)
            if (c.fd >= 0)
                ::close(c.fd);
        ::close(m_epoll);
    }

    std::vector<Client> m_clients;
    Latency latency;

    void open(int i) {
        Client& c = m_clients[i];
        c = Client{};
        c.generation = ++m_generation;
        c.fd = Net::connectNonBlocking(m_o.port);
        c.opStart = Net::nowNs();
        if (c.fd < 0) {
            ++m_r->dropped;
            return;
        }
        epoll_event ev{EPOLLOUT | EPOLLIN, {.u64 = key(i)}};
        epoll_ctl(m_epoll, EPOLL_CTL_ADD, c.fd, &ev);
    }
    void close(int i) {
        Client& c = m_clients[i];
        if (c.fd >= 0)
            ::close(c.fd);
        c.fd = -1;
        c.connected = false;
    }
    void request(int i, const std::string& bytes, const std::string* expect) {
        Client& c = m_clients[i];
        c.in.clear();
        c.expect = expect;
        c.requestStart = Net::nowNs();
        if (!Net::sendAll(c.fd, bytes))
            fail(i, "send failed");
    }
    void fail(int i, const std::string& what) {
        Client& c = m_clients[i];
        if (c.in == Expected::fullNotice())
            ++m_r->dropped;
        else {
            ++m_r->errors;
            if (m_r->firstError.empty())
                m_r->firstError = what;
        }
        close(i);
    }

    // Runs until `until` (ns), calling onConnected and onReply; `tick` runs every loop.
    template <typename Connected, typename Reply, typename Tick>
    void run(uint64_t until, Connected onConnected, Reply onReply, Tick tick) {
        epoll_event events[512];
        char buffer[65536];
        while (Net::nowNs() < until && !m_stop) {
            tick();
            const int n = epoll_wait(m_epoll, events, 512, 1);
            for (int k = 0; k < n; ++k) {
                const int i = int(events[k].data.u64 & 0xFFFFFFFFu);
                Client& c = m_clients[i];
                if (c.fd < 0 || events[k].data.u64 != key(i))
                    continue;
                if (!c.connected && (events[k].events & EPOLLOUT)) {
                    int err = 0;
                    socklen_t len = sizeof err;
                    getsockopt(c.fd, SOL_SOCKET, SO_ERROR, &err, &len);
                    if (err) {
                        ++m_r->dropped;
                        close(i);
                        continue;
                    }
                    c.connected = true;
                    epoll_event ev{EPOLLIN, {.u64 = key(i)}};
                    epoll_ctl(m_epoll, EPOLL_CTL_MOD, c.fd, &ev);
                    onConnected(i);
                    if (c.fd < 0)
                        continue;
                }
                if (!(events[k].events & (EPOLLIN | EPOLLHUP | EPOLLERR)))
                    continue;
                for (;;) {
                    const ssize_t got = ::recv(c.fd, buffer, sizeof buffer, MSG_DONTWAIT);
                    if (got < 0 && (errno == EAGAIN || errno == EINTR))
                        break;
                    if (got <= 0) {
                        fail(i, "connection closed before the whole reply came");
                        break;
                    }
                    c.in.append(buffer, std::size_t(got));
                    if (!c.expect || c.in.size() > c.expect->size()) {
                        fail(i, "more bytes than the expected reply");
                        break;
                    }
                    if (c.in.size() == c.expect->size()) {
                        if (c.in != *c.expect) {
                            fail(i, "reply differs from the expected bytes");
                            break;
                        }
                        c.expect = nullptr;
                        onReply(i);
                        if (c.fd < 0)
                            break;
                    }
                }
            }
        }
    }
    void stop() { m_stop = true; }

private:
    uint64_t key(int i) const { return (uint64_t(m_clients[i].generation) << 32) | uint32_t(i); }

    const LoadOptions& m_o;
    uint32_t m_generation = 0;
    LoadResult* m_r;
    int m_epoll;
    bool m_stop = false;
};

void finish(const LoadOptions& o, LoadResult* r, Engine& e, uint64_t start, const ProcSample& before) {
    r->seconds = double(Net::nowNs() - start) / 1e9;
    r->p50Ms = e.latency.percentileMs(50);
    r->p99Ms = e.latency.percentileMs(99);
    const ProcSample after = sampleProcess(o.serverPid);
    // schedstat's nanoseconds when there are any: stat's 10 ms ticks make a
    // step of 2 us per operation in a short burst run.
    if (after.ok && before.ok && r->ops > 0)
        r->cpuUsPerOp = after.runNs > before.runNs ? double(after.runNs - before.runNs) / 1000.0 / double(r->ops)
                                                    : double(after.cpuUs - before.cpuUs) / double(r->ops);
    if (after.ok && before.ok && r->seconds > 0)
        r->cpuPercent = double(after.runNs - before.runNs) / (r->seconds * 1e7);
    r->rssKb = after.rssKb;
    r->peakRssKb = after.peakRssKb;
}

// Logs the servers in and waits until the registry lists them; fills the
// servers' sockets and the expected list pages.
bool bringOnline(const LoadOptions& o, LoadResult* r, const std::vector<BenchServer>& servers, std::vector<int>* fds,
                 std::map<int, std::string>* pages) {
    if (!logInServers(o.port, servers, fds, &r->firstError))
        return false;
    *pages = Expected::listPages(servers);
    return awaitList(o.port, *pages, &r->firstError);
}

// Answers the registry's probes of idle servers: reads what waits (the probes)
// and sends an empty keep-alive.
void keepServersAlive(const std::vector<int>& fds) {
    static const char keepAlive[] = {0, 1, char(255)};
    char sink[512];
    for (int fd : fds) {
        while (::recv(fd, sink, sizeof sink, MSG_DONTWAIT) > 0) {
        }
        ::send(fd, keepAlive, sizeof keepAlive, MSG_NOSIGNAL | MSG_DONTWAIT);
    }
}

bool churn(const LoadOptions& o, LoadResult* r) {
    const auto servers = makeServers(kChurnServers, "churn");
    std::vector<int> fds;
    std::map<int, std::string> pages;
    if (!bringOnline(o, r, servers, &fds, &pages))
        return false;
    std::vector<std::string> queries(256);
    for (const auto& [first, page] : pages)
        queries[first] = Expected::listQuery(first);
    Engine e(o, r);
    e.m_clients.resize(kChurnClients);
    const ProcSample before = sampleProcess(o.serverPid);
    const uint64_t start = Net::nowNs();
    uint64_t opened = 0;
    auto openNext = [&](int i) {
        if (o.churnCycles > 0 && opened >= uint64_t(o.churnCycles))
            return;
        ++opened;
        e.open(i);
    };
    for (int i = 0; i < kChurnClients; ++i)
        openNext(i);
    uint64_t lastKeepAlive = start;
    const uint64_t until = o.churnCycles > 0 ? ~0ull : start + uint64_t(o.seconds * 1e9);
    e.run(
        until, [&](int i) { e.request(i, queries[1], &pages.at(1)); },
        [&](int i) {
            Client& c = e.m_clients[i];
            const int next = Expected::nextPage(pages.at(c.page));
            if (next) {
                c.page = next;
                e.request(i, queries[next], &pages.at(next));
                return;
            }
            ++r->ops;
            e.latency.add(Net::nowNs() - c.opStart);
            e.close(i);
            openNext(i);
        },
        [&] {
            // The logged-in servers stay idle; a long run keeps them alive as a
            // real server would, or the registry's keep-alive rule drops them.
            const uint64_t now = Net::nowNs();
            if (now - lastKeepAlive > 10'000'000'000ull) {
                lastKeepAlive = now;
                keepServersAlive(fds);
            }
            // Lost connections are replaced; a bounded run ends when all are in.
            bool anyOpen = false;
            for (int i = 0; i < kChurnClients; ++i) {
                if (e.m_clients[i].fd < 0)
                    openNext(i);
                anyOpen = anyOpen || e.m_clients[i].fd >= 0;
            }
            if (!anyOpen)
                e.stop();
        });
    finish(o, r, e, start, before);
    for (int fd : fds)
        ::close(fd);
    return true;
}

bool persistent(const LoadOptions& o, LoadResult* r) {
    auto servers = makeServers(kPersistentServers, "steady");
    std::vector<int> fds;
    std::map<int, std::string> pages;
    if (!bringOnline(o, r, servers, &fds, &pages))
        return false;
    std::vector<std::string> queries(256), reports;
    for (const auto& [first, page] : pages)
        queries[first] = Expected::listQuery(first);
    for (const BenchServer& s : servers)
        reports.push_back(Expected::playerReport(s)); // the same count again: the list stays as expected
    Engine e(o, r);
    e.m_clients.resize(kPersistentClients);
    for (int i = 0; i < kPersistentClients; ++i)
        e.open(i);
    const ProcSample before = sampleProcess(o.serverPid);
    const uint64_t start = Net::nowNs();
    std::size_t nextServer = 0;
    e.run(
        start + uint64_t(o.seconds * 1e9), [&](int i) { e.request(i, queries[1], &pages.at(1)); },
        [&](int i) {
            Client& c = e.m_clients[i];
            ++r->ops;
            e.latency.add(Net::nowNs() - c.requestStart);
            const int next = Expected::nextPage(pages.at(c.page));
            c.page = next ? next : 1;
            e.request(i, queries[c.page], &pages.at(c.page));
        },
        [&] {
            const uint64_t due = (Net::nowNs() - start) * kReportsPerSecond / 1000000000ull;
            while (r->extra < due) {
                ::send(fds[nextServer], reports[nextServer].data(), reports[nextServer].size(),
                       MSG_DONTWAIT | MSG_NOSIGNAL);
                nextServer = (nextServer + 1) % fds.size();
                ++r->extra;
            }
        });
    finish(o, r, e, start, before);
    for (int fd : fds)
        ::close(fd);
    return true;
}

bool storm(const LoadOptions& o, LoadResult* r) {
    const auto accounts = makeServers(kStormAccounts, "storm");
    {
        std::vector<int> fds;
        if (!logInServers(o.port, accounts, &fds, &r->firstError))
            return false;
        for (int fd : fds)
            ::close(fd);
        ::usleep(300000); // let the registry see every session end
    }
    std::vector<std::string> logins;
    for (const BenchServer& s : accounts)
        logins.push_back(Expected::loginRequest(s.user));
    // The reports renamed the accounts: a login answers with the stored name.
    std::vector<std::string> replies;
    for (const BenchServer& s : accounts)
        replies.push_back(Expected::loginReply(s));
    Engine e(o, r);
    e.m_clients.resize(kStormClients);
    int nextAccount = 0;
    auto openNext = [&](int i) {
        e.open(i);
        e.m_clients[i].account = nextAccount;
        nextAccount = (nextAccount + 1) % kStormAccounts;
    };
    for (int i = 0; i < kStormClients; ++i)
        openNext(i);
    const ProcSample before = sampleProcess(o.serverPid);
    const uint64_t start = Net::nowNs();
    e.run(
        start + uint64_t(o.seconds * 1e9),
        [&](int i) {
            const int a = e.m_clients[i].account;
            e.request(i, logins[a], &replies[a]);
        },
        [&](int i) {
            ++r->ops;
            e.latency.add(Net::nowNs() - e.m_clients[i].opStart);
            e.close(i);
            openNext(i);
        },
        [&] {
            for (int i = 0; i < kStormClients; ++i)
                if (e.m_clients[i].fd < 0)
                    openNext(i);
        });
    finish(o, r, e, start, before);
    return true;
}

bool burst(const LoadOptions& o, LoadResult* r) {
    const auto servers = makeServers(1, "burst");
    std::vector<int> fds;
    std::map<int, std::string> pages;
    if (!bringOnline(o, r, servers, &fds, &pages))
        return false;
    const std::string query = Expected::listQuery(1);
    const ProcSample before = sampleProcess(o.serverPid);
    const uint64_t start = Net::nowNs();
    Latency rounds;
    uint64_t busyNs = 0;
    for (int round = 0; round < kBurstRounds; ++round) {
        ::usleep(200000); // the previous callers' slots are free again
        Engine e(o, r);
        e.m_clients.resize(kBurstCallers);
        const uint64_t t0 = Net::nowNs();
        for (int i = 0; i < kBurstCallers; ++i)
            e.open(i);
        int pending = kBurstCallers;
        uint64_t last = t0;
        e.run(
            t0 + 5000000000ull, [&](int i) { e.request(i, query, &pages.at(1)); },
            [&](int i) {
                ++r->ops;
                last = Net::nowNs();
                e.close(i);
            },
            [&] {
                pending = 0;
                for (const Client& c : e.m_clients)
                    pending += c.fd >= 0;
                if (!pending)
                    e.stop();
            });
        r->errors += uint64_t(pending); // callers never answered in time
        rounds.add(last - t0);
        busyNs += last - t0;
    }
    // For this workload the percentiles are those of the time until the last caller is answered.
    Engine summary(o, r);
    summary.latency = rounds;
    finish(o, r, summary, start, before);
    r->seconds = double(busyNs) / 1e9; // callers per second while a burst was on
    for (int fd : fds)
        ::close(fd);
    return true;
}

// `connections` operators log in and then send nothing (answering only the
// registry's probes); the server's CPU time is read from /proc over the run.
// What an idle registry costs: its timers, and its supervision of the slots.
bool idle(const LoadOptions& o, LoadResult* r) {
    std::vector<int> fds;
    const std::string login = Expected::operatorLogin();
    const std::string accepted = Expected::operatorAccepted();
    for (int i = 0; i < o.connections; ++i) {
        const int fd = Net::connectBlocking(o.port);
        std::string reply;
        if (fd < 0 || !Net::sendAll(fd, login) || !Net::readExactly(fd, accepted.size(), &reply, 3000) ||
            reply != accepted) {
            r->firstError = "operator login " + std::to_string(i + 1) + " was not answered as expected";
            if (fd >= 0)
                ::close(fd);
            for (int f : fds)
                ::close(f);
            return false;
        }
        fds.push_back(fd);
    }
    ::usleep(1000000); // the logins' own work is over
    Engine e(o, r);
    const ProcSample before = sampleProcess(o.serverPid);
    const uint64_t start = Net::nowNs();
    const uint64_t until = start + uint64_t(o.seconds * 1e9);
    while (Net::nowNs() < until) {
        ::usleep(200000);
        // A run longer than 30 s meets the probes; a live operator answers them.
        char probe[64];
        for (int fd : fds)
            if (::recv(fd, probe, sizeof probe, MSG_DONTWAIT) > 0)
                ::send(fd, "\x00\x01\xff", 3, MSG_NOSIGNAL | MSG_DONTWAIT);
    }
    finish(o, r, e, start, before);
    for (int fd : fds)
        ::close(fd);
    return true;
}

} // namespace

bool runWorkload(const LoadOptions& options, LoadResult* result) {
    if (options.workload == "churn")
        return churn(options, result);
    if (options.workload == "persistent")
        return persistent(options, result);
    if (options.workload == "storm")
        return storm(options, result);
    if (options.workload == "burst")
        return burst(options, result);
    if (options.workload == "idle")
        return idle(options, result);
    result->firstError = "unknown workload " + options.workload;
    return false;
}
