// tavattack: one address against a real tavregistry on loopback, with the
// per-address limits off and then on. Each attacker has a loopback address of
// its own (127.0.0.2 ...); 20 game servers (127.0.1.x) stay online, and a
// legitimate client (127.0.0.9) fetches the whole list every half second,
// each time on a new connection as a game client does.
//
//   tavattack --registry PATH [--seconds N]     (N seconds per attack, default 15)
//
// Attacks: slot exhaustion (hold every slot it can get, retry every 100 ms),
// password guessing (connect, wrong password, repeat), registration spam
// (a new account per connection). Prints one Markdown table.
#include "registry_child.h"
#include "wire.h"

#include <algorithm>
#include <arpa/inet.h>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <functional>
#include <mutex>
#include <netinet/in.h>
#include <poll.h>
#include <string>
#include <sys/socket.h>
#include <thread>
#include <unistd.h>
#include <vector>

namespace {

using Clock = std::chrono::steady_clock;
constexpr const char* kLegitimate = "127.0.0.9";
constexpr int kServers = 20;

double msSince(Clock::time_point t) { return std::chrono::duration<double, std::milli>(Clock::now() - t).count(); }

// A blocking connection from `local` to the registry; -1 when it fails.
int connectFrom(const char* local, int port) {
    const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (fd < 0)
        return -1;
    const int one = 1;
    ::setsockopt(fd, IPPROTO_IP, IP_BIND_ADDRESS_NO_PORT, &one, sizeof one);
    sockaddr_in from{};
    from.sin_family = AF_INET;
    ::inet_pton(AF_INET, local, &from.sin_addr);
    sockaddr_in to{};
    to.sin_family = AF_INET;
    to.sin_port = htons(uint16_t(port));
    to.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    if (::bind(fd, reinterpret_cast<sockaddr*>(&from), sizeof from) != 0 ||
        ::connect(fd, reinterpret_cast<sockaddr*>(&to), sizeof to) != 0) {
        ::close(fd);
        return -1;
    }
    return fd;
}

// Closes with a reset, so that a loop of connections leaves no TIME_WAIT behind.
void resetClose(int fd) {
    linger l{1, 0};
    ::setsockopt(fd, SOL_SOCKET, SO_LINGER, &l, sizeof l);
    ::close(fd);
}

bool sendAll(int fd, const std::string& bytes) {
    return ::send(fd, bytes.data(), bytes.size(), MSG_NOSIGNAL) == ssize_t(bytes.size());
}

enum class Read { Message, Closed, Timeout };

// The next message within `timeoutMs`.
Read readMessage(int fd, std::string& in, std::string& message, int timeoutMs) {
    const auto deadline = Clock::now() + std::chrono::milliseconds(timeoutMs);
    while (!Wire::nextMessage(in, message)) {
        const int left = int(std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now()).count());
        if (left <= 0)
            return Read::Timeout;
        pollfd p{fd, POLLIN, 0};
        if (::poll(&p, 1, left) <= 0)
            return Read::Timeout;
        char buf[65536];
        const ssize_t n = ::recv(fd, buf, sizeof buf, 0);
        if (n <= 0)
            return Read::Closed;
        in.append(buf, size_t(n));
    }
    return Read::Message;
}

const std::string kFullMessage("\x00\x04", 2);
const std::string kListEnd("\xff\x04", 2);

struct Legitimate {
    std::vector<double> latencies;
    int attempts = 0, full = 0, failed = 0;
    int noConnection = 0, timedOut = 0, closed = 0; // the failures by kind
};

// One whole list, page after page, on a new connection.
void fetchList(int port, Legitimate& out) {
    ++out.attempts;
    const auto t0 = Clock::now();
    const int fd = connectFrom(kLegitimate, port);
    if (fd < 0) {
        ++out.failed;
        ++out.noConnection;
        return;
    }
    std::string in, m;
    int start = 1, entries = 0;
    for (;;) {
        if (!sendAll(fd, Wire::frame(3, std::string(1, char(start))))) {
            ++out.failed;
            ++out.closed;
            break;
        }
        bool pageDone = false;
        while (!pageDone) {
            const Read r = readMessage(fd, in, m, 3000);
            if (r != Read::Message) {
                ++out.failed;
                ++(r == Read::Closed ? out.closed : out.timedOut);
                resetClose(fd);
                return;
            }
            if (m == kFullMessage && entries == 0) {
                ++out.full;
                resetClose(fd);
                return;
            }
            if (m == kListEnd) {
                out.latencies.push_back(msSince(t0));
                resetClose(fd);
                return;
            }
            if (m.size() == 3 && uint8_t(m[0]) == 255 && m[1] == 3) {
                start = uint8_t(m[2]);
                pageDone = true;
            } else {
                ++entries;
            }
        }
    }
    resetClose(fd);
}

double percentile(std::vector<double> v, double p) {
    if (v.empty())
        return 0;
    std::sort(v.begin(), v.end());
    const size_t i = std::min(v.size() - 1, size_t(p * double(v.size() - 1) + 0.5));
    return v[i];
}

long cpuTicks(pid_t pid) {
    std::ifstream f("/proc/" + std::to_string(pid) + "/stat");
    std::string s((std::istreambuf_iterator<char>(f)), std::istreambuf_iterator<char>());
    const size_t close = s.rfind(')');
    if (close == std::string::npos)
        return 0;
    std::vector<std::string> fields;
    size_t i = close + 2;
    while (i < s.size()) {
        const size_t j = s.find(' ', i);
        fields.push_back(s.substr(i, j - i));
        if (j == std::string::npos)
            break;
        i = j + 1;
    }
    // utime and stime are fields 14 and 15 of the line; 12 and 13 after the name.
    return fields.size() > 12 ? std::atol(fields[11].c_str()) + std::atol(fields[12].c_str()) : 0;
}

struct Outcome {
    std::string attack;
    std::string measure;
    Legitimate legit;
    double cpuPercent = 0;
    long rssKb = 0;
};

// Runs `attack` for `seconds` beside the legitimate client; drains the
// registry's standard output meanwhile.
Outcome runPhase(RegistryChild& registry, int seconds, const std::string& name,
                 const std::function<std::string(std::atomic<bool>&)>& attack) {
    Outcome o;
    o.attack = name;
    std::atomic<bool> stop{false};
    std::atomic<int> finished{0};
    std::string measure;
    std::thread attacker([&] {
        measure = attack(stop);
        ++finished;
    });
    std::thread client([&] {
        while (!stop) {
            const auto next = Clock::now() + std::chrono::milliseconds(500);
            fetchList(registry.port(), o.legit);
            std::this_thread::sleep_until(next);
        }
        ++finished;
    });
    const long cpu0 = cpuTicks(registry.pid());
    const auto t0 = Clock::now();
    while (msSince(t0) < seconds * 1000.0) {
        registry.drainOutput();
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    const double wall = msSince(t0) / 1000.0;
    o.cpuPercent = 100.0 * double(cpuTicks(registry.pid()) - cpu0) / double(sysconf(_SC_CLK_TCK)) / wall;
    o.rssKb = registry.rssKb();
    stop = true;
    // The registry must not stall on a full pipe while the peers wind down.
    while (finished < 2) {
        registry.drainOutput();
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    attacker.join();
    client.join();
    o.measure = measure;
    registry.drainOutput();
    return o;
}

std::string perSecond(long n, double seconds) {
    char b[64];
    std::snprintf(b, sizeof b, "%.1f", double(n) / seconds);
    return b;
}

// --- the attacks ---

std::string noAttack(std::atomic<bool>& stop) {
    while (!stop)
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
    return "-";
}

std::string exhaustSlots(int port, std::atomic<bool>& stop) {
    std::vector<int> held;
    long refused = 0;
    auto lastKeepAlive = Clock::now();
    while (!stop) {
        const int fd = connectFrom("127.0.0.2", port);
        if (fd < 0) {
            std::this_thread::sleep_for(std::chrono::milliseconds(100));
            continue;
        }
        std::string in, m;
        if (readMessage(fd, in, m, 5) == Read::Message && m == kFullMessage) {
            ++refused;
            resetClose(fd);
            std::this_thread::sleep_for(std::chrono::milliseconds(100));
        } else {
            held.push_back(fd);
        }
        // Never-logged-in connections are dropped after 30 s of silence.
        if (msSince(lastKeepAlive) > 20000) {
            for (int h : held)
                sendAll(h, Wire::frame(255));
            lastKeepAlive = Clock::now();
        }
    }
    const size_t most = held.size();
    for (int h : held)
        resetClose(h);
    char b[160];
    std::snprintf(b, sizeof b, "%zu slots held by one address, %ld callers from it refused", most, refused);
    return b;
}

std::string guessPasswords(int port, std::atomic<bool>& stop) {
    long answered = 0, unheard = 0;
    const auto t0 = Clock::now();
    int n = 0;
    while (!stop) {
        const int fd = connectFrom("127.0.0.3", port);
        if (fd < 0)
            continue;
        sendAll(fd, Wire::frame(1, Wire::fields("srv1", "guess" + std::to_string(n++))));
        std::string in, m;
        const Read r = readMessage(fd, in, m, 1000);
        if (r == Read::Message && m == std::string(1, '\x02'))
            ++answered;
        else
            ++unheard;
        resetClose(fd);
    }
    const double s = msSince(t0) / 1000.0;
    return perSecond(answered, s) + " guesses/s answered (" + std::to_string(answered) + " in all), " +
           std::to_string(unheard) + " closed unheard";
}

std::string spamRegistrations(int port, std::atomic<bool>& stop) {
    long created = 0, refused = 0;
    const auto t0 = Clock::now();
    int n = 0;
    while (!stop) {
        const int fd = connectFrom("127.0.0.4", port);
        if (fd < 0)
            continue;
        sendAll(fd, Wire::frame(0, Wire::fields("spam" + std::to_string(n++), "pw")));
        std::string in, m;
        if (readMessage(fd, in, m, 1000) == Read::Message) {
            if (!m.empty() && m[0] == 0)
                ++created;
            else
                ++refused;
        }
        resetClose(fd);
    }
    const double minutes = msSince(t0) / 60000.0;
    char b[160];
    std::snprintf(b, sizeof b, "%.0f accounts/min created (%ld in all), %ld refused", double(created) / minutes,
                  created, refused);
    return b;
}

// Game servers that stay online for the list, one per address.
std::vector<int> bringServersOnline(int port) {
    std::vector<int> fds;
    for (int i = 1; i <= kServers; ++i) {
        const std::string local = "127.0.1." + std::to_string(i);
        const int fd = connectFrom(local.c_str(), port);
        if (fd < 0)
            continue;
        sendAll(fd, Wire::frame(0, Wire::fields("srv" + std::to_string(i), "right")));
        std::string in, m;
        if (readMessage(fd, in, m, 3000) == Read::Message && !m.empty() && m[0] == 0)
            fds.push_back(fd);
        else
            ::close(fd);
    }
    return fds;
}

} // namespace

int main(int argc, char** argv) {
    std::string binary;
    int seconds = 15;
    for (int i = 1; i + 1 < argc; i += 2) {
        const std::string a = argv[i];
        if (a == "--registry")
            binary = argv[i + 1];
        else if (a == "--seconds")
            seconds = std::max(2, std::atoi(argv[i + 1]));
    }
    if (binary.empty()) {
        std::fprintf(stderr, "usage: tavattack --registry PATH [--seconds N]\n");
        return 2;
    }

    struct Mode {
        const char* name;
        std::vector<std::string> args;
    } const modes[] = {
        {"off", {"--limits-login_failures", "0"}},
        {"on",
         {"--limits-exempt=", "--limits-connections_per_address", "8", "--limits-registrations_per_hour", "3",
          "--limits-list_queries_per_second", "50"}},
    };

    std::printf("| Attack | Limits | What the attacker got | Legitimate list p50 / p99 | Legitimate lists refused \"full\" / failed (no connection, timed out, closed) / asked | Registry CPU | RSS |\n");
    std::printf("|---|---|---|---|---|---|---|\n");
    for (const Mode& mode : modes) {
        const std::filesystem::path dir =
            std::filesystem::temp_directory_path() / ("tavattack-" + std::to_string(::getpid()) + "-" + mode.name);
        std::filesystem::create_directories(dir);
        std::ofstream(dir / "server.ini") << "[TavRegistry]\nAutoAllow=True\n";
        RegistryChild registry;
        std::string why;
        if (!registry.start(binary, dir.string(), &why, mode.args)) {
            std::fprintf(stderr, "tavattack: %s\n", why.c_str());
            return 1;
        }
        const std::vector<int> servers = bringServersOnline(registry.port());
        if (int(servers.size()) != kServers) {
            std::fprintf(stderr, "tavattack: only %zu of %d game servers came online\n", servers.size(), kServers);
            return 1;
        }
        const int port = registry.port();
        std::vector<Outcome> outcomes;
        outcomes.push_back(runPhase(registry, seconds, "none", noAttack));
        outcomes.push_back(runPhase(registry, seconds, "slot exhaustion",
                                    [port](std::atomic<bool>& stop) { return exhaustSlots(port, stop); }));
        std::this_thread::sleep_for(std::chrono::seconds(1));
        outcomes.push_back(runPhase(registry, seconds, "password guessing",
                                    [port](std::atomic<bool>& stop) { return guessPasswords(port, stop); }));
        outcomes.push_back(runPhase(registry, seconds, "registration spam",
                                    [port](std::atomic<bool>& stop) { return spamRegistrations(port, stop); }));
        for (const Outcome& o : outcomes)
            std::printf("| %s | %s | %s | %.2f / %.2f ms | %d / %d (%d, %d, %d) / %d | %.0f%% | %.1f MiB |\n",
                        o.attack.c_str(), mode.name, o.measure.c_str(), percentile(o.legit.latencies, 0.5),
                        percentile(o.legit.latencies, 0.99), o.legit.full, o.legit.failed, o.legit.noConnection,
                        o.legit.timedOut, o.legit.closed, o.legit.attempts, o.cpuPercent, double(o.rssKb) / 1024.0);
        std::fflush(stdout);
        for (int fd : servers)
            ::close(fd);
        int status = 0;
        registry.terminate(&status);
        std::filesystem::remove_all(dir);
    }
    return 0;
}
