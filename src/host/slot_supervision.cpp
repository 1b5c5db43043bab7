#include "host/registry.h"

#include "platform/socket_layer.h"
#include "platform/tick_clock.h"
#include "protocol/message_types.h"

namespace {
constexpr quint32 kProbeAfterMs = 30000;   // silence before a probe (or a drop, before login)
constexpr quint32 kProbeWindowMs = 35000;  // the probe is sent once within this window
constexpr quint32 kDropAfterMs = 60000;    // silence that always ends the connection
} // namespace

// Runs every 10 ms: finds sockets that are no longer connected, probes
// logged-in sessions that went quiet and drops the silent ones.
void Registry::superviseSlots() {
    for (int i = SlotTable::kFirstSlot; i <= SlotTable::kLastRegularSlot; ++i) {
        ClientSlot& s = m_clients[i];
        if (!s.InUse)
            continue;
        if (!m_sockets.isConnected(i)) {
            closeClient(i, CloseReason::Peer);
            continue;
        }

        const quint32 t1 = m_clock.now();
        const quint32 t2 = m_clock.now();
        if (tickSince(t2, s.LastTick) <= kProbeWindowMs && tickSince(t1, s.LastTick) >= kProbeAfterMs) {
            if (s.Mode != SessionMode::Connected) {
                sendRaw(i, FixedFrame::probe());
                if (!s.InUse)
                    continue;
                // Moved back so that the probe goes out once per quiet spell.
                s.LastTick = m_clock.now() - kProbeWindowMs;
            } else {
                closeClient(i, CloseReason::Idle);
                continue;
            }
        }

        if (tickSince(m_clock.now(), s.LastTick) < kDropAfterMs) {
            if (!m_sockets.isConnected(i))
                closeClient(i, CloseReason::Peer);
        } else {
            closeClient(i, CloseReason::Idle);
        }
    }
    releaseHeldOutput();
}
