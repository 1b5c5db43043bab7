#include "protocol/dispatcher.h"
#include "protocol/keep_alive.h"

// The complete message table. Types not installed here close the connection.
void installSessionHandlers(Dispatcher& dispatcher) {
    KeepAlive::install(dispatcher);
}
