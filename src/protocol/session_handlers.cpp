#include "protocol/dispatcher.h"
#include "protocol/keep_alive.h"
#include "protocol/list_query.h"
#include "protocol/operator_session.h"
#include "protocol/server_session.h"

// The complete message table. Types not installed here close the connection.
void installSessionHandlers(Dispatcher& dispatcher) {
    ServerSession::install(dispatcher);
    OperatorSession::install(dispatcher);
    ListQuery::install(dispatcher);
    KeepAlive::install(dispatcher);
}
