#include "database/postgres_call.h"

#include <cerrno>
#include <chrono>
#include <libpq-fe.h>
#include <poll.h>
#include <sys/socket.h>

namespace PostgresCall {

namespace {

using Clock = std::chrono::steady_clock;

// Reads what the server sent until libpq has a whole result; false when the
// deadline passed first.
bool readUntilReady(PGconn* connection, Clock::time_point deadline) {
    while (PQisBusy(connection)) {
        const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now()).count();
        if (left <= 0)
            return false;
        pollfd fd{PQsocket(connection), POLLIN, 0};
        if (fd.fd < 0)
            return true; // lost: PQgetResult reports it without waiting
        const int ready = poll(&fd, 1, int(left));
        if (ready < 0 && errno != EINTR)
            return true;
        if (ready > 0 && PQconsumeInput(connection) == 0)
            return true; // the socket failed; the error is in the next result
    }
    return true;
}

} // namespace

void breakOff(PGconn* connection) {
    if (!connection)
        return;
    const int socket = PQsocket(connection);
    if (socket >= 0)
        shutdown(socket, SHUT_RDWR);
    // libpq reads the end of the socket and marks the connection lost.
    PQconsumeInput(connection);
    if (PQstatus(connection) != CONNECTION_BAD)
        return;
    // A lost connection answers at once: drop what was pending.
    for (int i = 0; i < 4; ++i) {
        PGresult* r = PQgetResult(connection);
        if (!r)
            break;
        PQclear(r);
    }
}

PGresult* awaitResult(PGconn* connection, int timeoutMs) {
    const Clock::time_point deadline = Clock::now() + std::chrono::milliseconds(timeoutMs);
    PGresult* last = nullptr;
    for (;;) {
        if (!readUntilReady(connection, deadline)) {
            PQclear(last);
            breakOff(connection);
            return nullptr;
        }
        PGresult* r = PQgetResult(connection);
        if (!r)
            return last;
        PQclear(last);
        last = r;
    }
}

PGresult* exec(PGconn* connection, const char* sql, int timeoutMs) {
    if (!connection || PQstatus(connection) != CONNECTION_OK || !PQsendQuery(connection, sql))
        return nullptr;
    return awaitResult(connection, timeoutMs);
}

} // namespace PostgresCall
