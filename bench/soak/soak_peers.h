#pragma once

#include <cstdint>
#include <map>
#include <memory>
#include <random>
#include <set>
#include <string>
#include <vector>

// The peers of the soak, each a small state machine on a non-blocking socket,
// all driven by one epoll loop.
enum class Role { Server, Client, Operator, RandomBytes, Oversize, HalfFrame, Storm, NeverReads, Overflow };

struct SoakStats {
    long connects = 0, connectFailures = 0, fullNotices = 0;
    long registrationsAcked = 0, logins = 0, reportsSent = 0, probesAnswered = 0;
    long listReplies = 0, listPages = 0, malformedReplies = 0;
    long serversDropped = 0, serverRefusals = 0;
    long randomBytesSent = 0, oversizeClosed = 0, halfFramesClosed = 0, stormConnects = 0;
    long neverReaderQueries = 0, neverReaderClosed = 0, neverReaderNotClosed = 0;
    long overflowAdmitted = 0, offlineNotices = 0;
};

struct Peer {
    Role role;
    int id = 0;
    int fd = -1;
    bool connecting = false;
    bool fresh = true;          // nothing received yet on this connection
    std::string in;
    std::string user, password; // game servers
    bool registered = false;    // the registry acknowledged the account
    bool loggedIn = false;
    bool byUs = false;          // we are closing it
    int64_t nextMs = 0;         // next scheduled action
    int64_t phaseMs = 0;        // never-reader: start of the current phase
    bool draining = false;
};

class Swarm {
public:
    Swarm(int port, uint32_t seed, SoakStats& stats);
    ~Swarm();

    // Game servers are named <prefix><number>.
    void setNamePrefix(const std::string& prefix) { m_prefix = prefix; }
    void add(Role role, int count);
    // One turn of the loop: socket events for up to `timeoutMs`, then the
    // scheduled actions.
    void turn(int timeoutMs);
    // Closes every peer of a role (all roles when `all`).
    void closeRole(Role role);
    void closeAll();
    int count(Role role) const;
    int open() const;

    // Accounts the registry said it created, and servers logged in now.
    const std::vector<std::string>& acknowledgedAccounts() const { return m_acked; }
    std::set<std::string> loggedInServers() const;

private:
    void connect(Peer& p);
    void onConnected(Peer& p);
    void onReadable(Peer& p);
    void onMessage(Peer& p, const std::string& m);
    void onClosed(Peer& p, bool byRegistry);
    void act(Peer& p, int64_t now);
    void send(Peer& p, const std::string& bytes);
    void drop(Peer& p, int64_t reconnectAfterMs);
    std::string randomBytes(size_t n);

    int m_port;
    int m_epoll;
    std::mt19937 m_rng;
    SoakStats& m_stats;
    std::map<int, std::unique_ptr<Peer>> m_peers; // by id
    std::map<int, Peer*> m_byFd;
    std::vector<std::string> m_acked;
    int m_nextId = 1;
    std::string m_prefix = "soak";
};

int64_t nowMs();
