#pragma once

struct pg_conn;
struct pg_result;

// Talking to the database server from the registry's one thread: every
// question is sent without blocking and its answer awaited for a bounded
// time. A server that stops answering without closing its socket (stopped,
// or behind a stalled network) would otherwise hold the thread for ever:
// its own statement time-out is of no help when it does not run.
namespace PostgresCall {

// Longer than the server's own statement time-out, so that a statement the
// server gives up on is told apart from a server that does not answer.
constexpr int kAnswerTimeoutMs = 3000;
constexpr int kStatementTimeoutMs = 2000;

// Waits for the answer to what was just sent on `connection` and returns its
// last result (the caller clears it). When no answer comes within
// `timeoutMs`, the connection is broken off (see breakOff) and null returned.
pg_result* awaitResult(pg_conn* connection, int timeoutMs = kAnswerTimeoutMs);

// One statement without values, as PQexec but bounded; null when it could
// not be sent or no answer came in time. Nothing is sent on a connection
// already lost.
pg_result* exec(pg_conn* connection, const char* sql, int timeoutMs = kAnswerTimeoutMs);

// Ends the connection's socket at our side, so that libpq counts the
// connection as lost and the server ends what it was doing once it runs
// again. (libpq's cancel request waits for the server to close the cancel
// connection, which a stopped server never does.)
void breakOff(pg_conn* connection);

} // namespace PostgresCall
