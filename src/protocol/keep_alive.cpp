#include "protocol/keep_alive.h"

#include "protocol/session_context.h"

namespace KeepAlive {

void handle(SessionContext& session, int slot, quint8, QByteArrayView payload) {
    if (!payload.isEmpty())
        session.closeClient(slot);
}

} // namespace KeepAlive
