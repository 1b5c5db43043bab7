#include "host/registry.h"

#include "platform/socket_layer.h"
#include "platform/tick_clock.h"
#include "protocol/message_types.h"

namespace {
constexpr quint32 kProbeAfterMs = 30000;   // silence before a probe (or a drop, before login)
constexpr quint32 kProbeWindowMs = 35000;  // the probe is sent once within this window
constexpr quint32 kDropAfterMs = 60000;    // silence that always ends the connection

// The tick at which supervision next has something to do for a slot whose
// last activity was at `lastTick`, seen at `now`: the probe (or the drop
// before login) 30 s after it, and once that has passed the drop 60 s after it.
quint32 slotDueAt(quint32 lastTick, quint32 now) {
    return tickSince(now, lastTick) < kProbeAfterMs ? lastTick + kProbeAfterMs : lastTick + kDropAfterMs;
}

// True when tick `a` lies after tick `b` (the two within 24 days of each other).
bool tickAfter(quint32 a, quint32 b) { return qint32(a - b) > 0; }

// The first tick of the 10 ms grid through `grid` that is not before `t`.
quint32 gridTickAtOrAfter(quint32 grid, quint32 t) {
    if (!tickAfter(t, grid))
        return grid;
    const quint32 step = Registry::kClientTimerMs;
    return grid + (tickSince(t, grid) + step - 1) / step * step;
}
} // namespace

// The 10 ms supervision: finds sockets that are no longer connected, probes
// logged-in sessions that went quiet and drops the silent ones. Then it plans
// its next run for the first 10 ms tick at which anything can be due.
void Registry::superviseSlots() {
    m_supervisionGrid = m_clock.now();
    m_supervisionPlanned = false; // this is the planned run; the next is planned below
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
    planSupervision();
}

// Nothing is due before the earliest deadline of a slot in use, so the timer
// sleeps until the 10 ms tick at or after it instead of scanning 100 times a
// second. Activity only moves deadlines later: a run that comes early finds
// nothing and plans again. A held connection (its output being drained) or
// a socket that failed a send is looked at on the next tick.
void Registry::planSupervision() {
    if (m_state != State::Running) {
        m_clientTimer.stop();
        m_supervisionPlanned = false;
        return;
    }
    const quint32 now = m_clock.now();
    bool any = false;
    bool nextTick = false;
    quint32 due = 0;
    for (int i = SlotTable::kFirstSlot; i <= SlotTable::kLastRegularSlot; ++i) {
        const ClientSlot& s = m_clients[i];
        if (!s.InUse)
            continue;
        if (s.HeldForOutput || !m_sockets.isConnected(i)) {
            nextTick = true;
            break;
        }
        const quint32 at = slotDueAt(s.LastTick, now);
        if (!any || tickAfter(due, at))
            due = at;
        any = true;
    }
    if (nextTick) {
        superviseSoon();
        return;
    }
    if (!any) {
        m_clientTimer.stop();
        m_supervisionPlanned = false;
        return;
    }
    quint32 wake = gridTickAtOrAfter(m_supervisionGrid, due);
    if (!tickAfter(wake, now))
        wake = gridTickAtOrAfter(m_supervisionGrid, now + 1);
    wakeSupervisionAt(wake, now);
}

// Supervision on the next 10 ms tick (or sooner if already planned sooner).
void Registry::superviseSoon() {
    if (m_state != State::Running)
        return;
    const quint32 now = m_clock.now();
    if (!m_supervisionPlanned)
        m_supervisionGrid = now;
    const quint32 wake = gridTickAtOrAfter(m_supervisionGrid, now + 1);
    if (m_supervisionPlanned && !tickAfter(m_supervisionDue, wake))
        return;
    wakeSupervisionAt(wake, now);
}

// A slot has just been taken: with nothing planned the grid starts at its
// accept, so that its first deadline falls on a tick.
void Registry::superviseNewSlot() {
    if (m_supervisionPlanned || m_state != State::Running)
        return;
    m_supervisionGrid = m_clock.now();
    planSupervision();
}

void Registry::wakeSupervisionAt(quint32 wake, quint32 now) {
    m_supervisionDue = wake;
    m_supervisionPlanned = true;
    m_clientTimer.start(int(tickSince(wake, now)));
}
