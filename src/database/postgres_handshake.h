#pragma once

#include <functional>
#include <memory>

class QSocketNotifier;
struct pg_conn;

// Opens a libpq connection without blocking: each step of the handshake runs
// when the socket is ready for it. A server that accepts the connection but
// never answers leaves it Running; the owner gives up after its own deadline.
class PostgresHandshake {
public:
    enum class State { Idle, Running, Done, Failed };

    PostgresHandshake();
    ~PostgresHandshake();
    PostgresHandshake(const PostgresHandshake&) = delete;
    PostgresHandshake& operator=(const PostgresHandshake&) = delete;

    // A lost connection opened anew with its own parameters (what the server
    // held for it is gone).
    void startReset(pg_conn* connection);
    // A connection made by PQconnectStartParams, taken through to the end.
    void startNew(pg_conn* connection);
    // Told once, when the handshake is Done or Failed.
    void setFinished(std::function<void()> finished) { m_finished = std::move(finished); }
    // Stops watching; the connection stays as it is (lost, unless Done).
    void abandon();
    // Abandons and forgets the outcome: Idle again.
    void clear();
    State state() const { return m_state; }

private:
    void start(pg_conn* connection, bool reset, bool started);
    void step();
    void watch(int socket, bool forWriting);
    void finish(State state);

    pg_conn* m_connection = nullptr;
    bool m_reset = false;
    State m_state = State::Idle;
    std::unique_ptr<QSocketNotifier> m_notifier;
    std::function<void()> m_finished;
};
