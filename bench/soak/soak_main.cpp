// tavsoak: runs a real tavregistry on loopback for a bounded time under 255
// connections of well-behaved and hostile peers, then checks that it still
// serves, that its memory and descriptors stayed bounded, and that its
// database is sound and holds every acknowledged registration.
//
//   tavsoak --registry PATH [--seconds N] [--rss-limit-mb M] [--seed S]
#include "registry_child.h"
#include "soak_peers.h"
#include "wire.h"

#include <sqlite3.h>

#include <arpa/inet.h>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <netinet/in.h>
#include <poll.h>
#include <string>
#include <sys/socket.h>
#include <unistd.h>

namespace {

struct Options {
    std::string registry;
    int seconds = 60;
    long rssLimitMb = 64;
    uint32_t seed = 20240611;
};

// The well-behaved and hostile population: 199 steady connections, and every
// few seconds a burst of callers that pushes the registry past its 255 slots.
struct Population {
    Role role;
    int count;
} const kPopulation[] = {
    {Role::Operator, 2},    {Role::Server, 80},    {Role::Client, 50},   {Role::RandomBytes, 25},
    {Role::Oversize, 10},   {Role::HalfFrame, 20}, {Role::Storm, 8},     {Role::NeverReads, 4},
};
constexpr int kOverflowBurst = 90;

// A fresh client's list query over every page, on a blocking socket.
bool freshListQuery(int port, std::set<std::string>* users, std::string* why) {
    const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_port = htons(uint16_t(port));
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    if (::connect(fd, reinterpret_cast<sockaddr*>(&a), sizeof a) != 0) {
        *why = "cannot connect";
        ::close(fd);
        return false;
    }
    std::string in, m;
    int start = 1;
    bool done = false;
    while (!done) {
        const std::string q = Wire::frame(3, std::string(1, char(start)));
        ::send(fd, q.data(), q.size(), MSG_NOSIGNAL);
        for (;;) {
            if (!Wire::nextMessage(in, m)) {
                pollfd p{fd, POLLIN, 0};
                char buf[8192];
                ssize_t n = 0;
                if (::poll(&p, 1, 3000) <= 0 || (n = ::recv(fd, buf, sizeof buf, 0)) <= 0) {
                    *why = "no complete list within 3 s";
                    ::close(fd);
                    return false;
                }
                in.append(buf, size_t(n));
                continue;
            }
            if (uint8_t(m[0]) == 4) {
                users->insert(m.substr(1, m.find('\0', 1) - 1));
            } else if (uint8_t(m[0]) == 255 && m.size() == 2 && m[1] == 4) {
                done = true;
                break;
            } else if (uint8_t(m[0]) == 255 && m.size() == 3 && m[1] == 3) {
                start = uint8_t(m[2]);
                break;
            } else {
                *why = "an unexpected frame in the list";
                ::close(fd);
                return false;
            }
        }
    }
    ::close(fd);
    return true;
}

// PRAGMA integrity_check, and the acknowledged accounts that are missing.
std::string checkDatabase(const std::string& path, const std::vector<std::string>& acked, long* missing) {
    sqlite3* db = nullptr;
    if (sqlite3_open_v2(path.c_str(), &db, SQLITE_OPEN_READONLY, nullptr) != SQLITE_OK) {
        sqlite3_close(db);
        return "cannot open";
    }
    std::string integrity;
    sqlite3_stmt* st = nullptr;
    sqlite3_prepare_v2(db, "PRAGMA integrity_check", -1, &st, nullptr);
    while (st && sqlite3_step(st) == SQLITE_ROW)
        integrity += reinterpret_cast<const char*>(sqlite3_column_text(st, 0));
    sqlite3_finalize(st);
    *missing = 0;
    sqlite3_prepare_v2(db, "SELECT 1 FROM Servers WHERE User = ?", -1, &st, nullptr);
    for (const std::string& user : acked) {
        sqlite3_reset(st);
        sqlite3_bind_text(st, 1, user.c_str(), -1, SQLITE_TRANSIENT);
        if (!st || sqlite3_step(st) != SQLITE_ROW)
            ++*missing;
    }
    sqlite3_finalize(st);
    sqlite3_close(db);
    return integrity.empty() ? "no answer" : integrity;
}

bool parse(int argc, char** argv, Options& o) {
    for (int i = 1; i < argc; ++i) {
        const std::string a = argv[i];
        const bool hasValue = i + 1 < argc;
        if (a == "--registry" && hasValue)
            o.registry = argv[++i];
        else if (a == "--seconds" && hasValue)
            o.seconds = std::atoi(argv[++i]);
        else if (a == "--rss-limit-mb" && hasValue)
            o.rssLimitMb = std::atol(argv[++i]);
        else if (a == "--seed" && hasValue)
            o.seed = uint32_t(std::strtoul(argv[++i], nullptr, 10));
        else
            return false;
    }
    return !o.registry.empty() && o.seconds > 0;
}

} // namespace

int main(int argc, char** argv) {
    Options o;
    if (!parse(argc, argv, o)) {
        std::fprintf(stderr, "usage: tavsoak --registry PATH [--seconds N] [--rss-limit-mb M] [--seed S]\n");
        return 2;
    }
    char dirTemplate[] = "/tmp/tavsoak-XXXXXX";
    const std::string dataDir = ::mkdtemp(dirTemplate);

    RegistryChild registry;
    std::string why;
    if (!registry.start(o.registry, dataDir, &why)) {
        std::fprintf(stderr, "soak: the registry did not start: %s\n", why.c_str());
        return 1;
    }
    // A short warm-up with every kind of peer first: Qt creates some helpers
    // (an eventfd among them) only on first use, and those are not a leak.
    SoakStats stats;
    std::vector<std::string> warmupAccounts;
    {
        Swarm warmup(registry.port(), o.seed + 1, stats);
        warmup.setNamePrefix("warm");
        warmup.add(Role::Operator, 1);
        for (int64_t until = nowMs() + 300; nowMs() < until;)
            warmup.turn(5);
        for (const auto& p : kPopulation)
            warmup.add(p.role, 2);
        warmup.add(Role::Overflow, 300);
        for (int64_t until = nowMs() + 2000; nowMs() < until;) {
            warmup.turn(5);
            registry.drainOutput();
        }
        warmupAccounts = warmup.acknowledgedAccounts();
    }
    long idleFds = -1;
    for (int i = 0; i < 100; ++i) { // settled: the same count twice, 100 ms apart
        registry.drainOutput();
        ::usleep(100000);
        const long n = registry.openDescriptors();
        if (n == idleFds)
            break;
        idleFds = n;
    }
    const std::string idleFdList = registry.describeDescriptors();
    const long idleRss = registry.rssKb();
    stats = SoakStats{};

    long outputLines = 0;
    long peakRss = idleRss;
    long peakFds = idleFds;
    int peakOpen = 0;
    bool crashed = false;
    {
        Swarm swarm(registry.port(), o.seed, stats);
        // The operators switch new accounts on before the servers register.
        swarm.add(Role::Operator, 2);
        for (int64_t until = nowMs() + 300; nowMs() < until;)
            swarm.turn(5);
        for (const auto& p : kPopulation)
            if (p.role != Role::Operator)
                swarm.add(p.role, p.count);

        const int64_t start = nowMs();
        int64_t nextSample = start, nextBurst = start + 2000;
        while (nowMs() - start < int64_t(o.seconds) * 1000) {
            swarm.turn(5);
            outputLines += registry.drainOutput();
            const int64_t now = nowMs();
            if (now >= nextBurst) {
                swarm.add(Role::Overflow, kOverflowBurst);
                nextBurst = now + 4000;
            }
            if (now >= nextSample) {
                if (!registry.alive()) {
                    crashed = true;
                    break;
                }
                peakRss = std::max(peakRss, registry.rssKb());
                peakFds = std::max(peakFds, registry.openDescriptors());
                nextSample = now + 250;
            }
            peakOpen = std::max(peakOpen, swarm.open());
        }

        // The hostile peers leave; the servers and operators stay for the check.
        for (Role r : {Role::RandomBytes, Role::Oversize, Role::HalfFrame, Role::Storm, Role::NeverReads,
                       Role::Overflow, Role::Client})
            swarm.closeRole(r);
        for (int i = 0; i < 40; ++i) {
            swarm.turn(5);
            outputLines += registry.drainOutput();
        }
        std::set<std::string> listed;
        const std::set<std::string> online = swarm.loggedInServers();
        const bool served = !crashed && freshListQuery(registry.port(), &listed, &why);
        long unlisted = 0;
        for (const std::string& u : online)
            unlisted += !listed.count(u);
        std::printf("soak: fresh client got the list: %s (%zu servers listed, %zu logged in, %ld missing)\n",
                    served ? "yes" : ("NO: " + why).c_str(), listed.size(), online.size(), unlisted);
        crashed = crashed || !served || unlisted > 0;

        std::vector<std::string> acked = swarm.acknowledgedAccounts();
        acked.insert(acked.end(), warmupAccounts.begin(), warmupAccounts.end());
        swarm.closeAll();
        long endFds = -1;
        for (int i = 0; i < 500 && !crashed; ++i) {
            outputLines += registry.drainOutput();
            endFds = registry.openDescriptors();
            if (endFds == idleFds)
                break;
            ::usleep(10000);
        }
        if (endFds != idleFds)
            std::printf("soak: descriptors at idle:\n%ssoak: descriptors now:\n%s", idleFdList.c_str(),
                        registry.describeDescriptors().c_str());
        const long hwm = registry.peakRssKb();
        peakRss = std::max(peakRss, hwm);
        int status = 0;
        const bool clean = !crashed && registry.terminate(&status);
        long missing = -1;
        const std::string integrity =
            checkDatabase((std::filesystem::path(dataDir) / "qbrx.dat").string(), acked, &missing);

        std::printf("soak: %d s, seed %u; %ld connects (%ld failed), peak %d open by the soak, %ld full notices, "
                    "%ld overflow callers admitted\n",
                    o.seconds, o.seed, stats.connects, stats.connectFailures, peakOpen, stats.fullNotices,
                    stats.overflowAdmitted);
        std::printf("soak: servers: %ld registrations acknowledged, %ld logins, %ld reports, %ld dropped, %ld refused; "
                    "operators: %ld offline notices; keep-alive probes answered: %ld\n",
                    stats.registrationsAcked, stats.logins, stats.reportsSent, stats.serversDropped,
                    stats.serverRefusals, stats.offlineNotices, stats.probesAnswered);
        std::printf("soak: clients: %ld complete lists, %ld pages, %ld malformed\n", stats.listReplies,
                    stats.listPages, stats.malformedReplies);
        std::printf("soak: hostile: %ld random bytes, %ld oversize lengths closed, %ld half frames closed, "
                    "%ld storm connects, never-readers: %ld queries, %ld cut off, %ld held (served once they read)\n",
                    stats.randomBytesSent, stats.oversizeClosed, stats.halfFramesClosed, stats.stormConnects,
                    stats.neverReaderQueries, stats.neverReaderClosed, stats.neverReaderNotClosed);
        std::printf("soak: registry: RSS idle %ld kB, peak %ld kB (limit %ld MB); descriptors idle %ld, peak %ld, "
                    "after %ld; %ld event lines\n",
                    idleRss, peakRss, o.rssLimitMb, idleFds, peakFds, endFds, outputLines);
        std::printf("soak: after SIGTERM: exit %s; integrity_check %s; %zu acknowledged accounts, %ld missing\n",
                    clean ? "0" : "NOT CLEAN", integrity.c_str(), acked.size(), missing);

        struct Check {
            const char* what;
            bool ok;
        } const checks[] = {
            {"the registry kept running and served a fresh client", !crashed},
            {"RSS stayed under the limit", peakRss <= o.rssLimitMb * 1024},
            {"descriptors came back to the idle count", endFds == idleFds},
            {"clean exit on SIGTERM", clean},
            {"integrity_check ok", integrity == "ok"},
            {"every acknowledged registration is stored", missing == 0 && !acked.empty()},
            {"no game server was refused or dropped", stats.serverRefusals == 0 && stats.serversDropped == 0},
            {"list replies were well formed", stats.malformedReplies == 0 && stats.listReplies > 0},
            {"oversize lengths were cut off", stats.oversizeClosed > 0},
            {"callers beyond 255 got the full notice", stats.fullNotices > 0},
            // A peer that does not read is no longer read from either (its
            // replies wait in the kernel); it is cut off only when the registry
            // had to queue more than its cap. Either way it costs a bounded
            // amount, which the RSS limit above checks.
            {"never-reading peers flooded and were held or cut off",
             stats.neverReaderQueries > 0 && stats.neverReaderClosed + stats.neverReaderNotClosed > 0},
        };
        int failed = 0;
        for (const Check& c : checks) {
            if (!c.ok) {
                std::printf("soak: FAILED: %s\n", c.what);
                ++failed;
            }
        }
        std::error_code ec;
        std::filesystem::remove_all(dataDir, ec);
        std::printf("soak: %s\n", failed ? "FAILED" : "passed");
        return failed ? 1 : 0;
    }
}
