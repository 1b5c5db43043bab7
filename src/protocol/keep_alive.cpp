#include "protocol/keep_alive.h"

#include "host/registry.h"
#include "protocol/dispatcher.h"

namespace KeepAlive {

void handle(Registry& registry, int slot, quint8, QByteArrayView payload) {
    if (!payload.isEmpty())
        registry.closeClient(slot);
}

void install(Dispatcher& dispatcher) {
    for (quint8 mode = 0; mode < Dispatcher::kModes; ++mode)
        dispatcher.install(mode, 255, &handle);
}

} // namespace KeepAlive
