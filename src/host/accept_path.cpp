#include "host/registry.h"

#include "host/admission_control.h"

#include "platform/socket_layer.h"
#include "platform/tick_clock.h"
#include "protocol/message_types.h"

// The listener stays open while callers are taken (closing it would reset every
// caller waiting in the kernel's queue); callers are taken one at a time, each
// through the same steps in the same order.
void Registry::onConnectionRequest() {
    // A socket learns of a hang-up from the event loop or from a send to it;
    // turning a caller away sends to no regular slot and the loop does
    // not run here, so once a look found every slot live, the callers refused
    // after it in this pass need no look of their own.
    bool tableLive = false;
    while (m_state == State::Running && m_sockets.hasPendingConnection())
        tableLive = acceptOne(tableLive);
}

void Registry::refuseAsFull() {
    ClientSlot& overflow = m_clients[SlotTable::kOverflowSlot];
    if (overflow.InUse) {
        // The overflow slot is still delivering an earlier notice; this
        // caller gets the same notice on a socket of its own.
        m_sockets.refuse(FixedFrame::fullNotice());
        m_counters.bytesSent += FixedFrame::fullNotice().size();
        return;
    }
    m_sockets.acceptInto(SlotTable::kOverflowSlot);
    overflow.CloseAfterSend = true;
    overflow.InUse = true;
    sendRaw(SlotTable::kOverflowSlot, FixedFrame::fullNotice());
}

bool Registry::acceptOne(bool tableLive) {
    if (m_limits.settings().connectionsPerAddress > 0) {
        // An address at its cap hears what a caller hears when every slot is
        // taken, and is dropped the same way: one address cannot fill the table.
        const QByteArray ip = m_sockets.pendingAddress();
        if (m_limits.connectionRefused(ip, slotsHeldBy(ip))) {
            m_counters.count(Refusal::PerAddress);
            refuseAsFull();
            return tableLive;
        }
    }
    int k = findFreeSlot();
    if (k == 0 && !tableLive) {
        // Hang-ups not yet handled in this pass must not make a caller hear
        // "full": the notice goes out only when live connections hold every slot.
        // A close sends (operators hear of a server leaving), so after one the
        // next caller looks again.
        tableLive = true;
        for (int i = SlotTable::kFirstSlot; i <= SlotTable::kLastRegularSlot; ++i)
            if (m_clients[i].InUse && !m_sockets.isConnected(i)) {
                closeClient(i, CloseReason::Peer);
                tableLive = false;
            }
        k = findFreeSlot();
    }
    if (k == 0) {
        // All regular slots are busy: tell the caller and drop it once the
        // notice has left. Nothing is logged and the count does not change.
        m_counters.count(Refusal::Full);
        refuseAsFull();
        return tableLive;
    }

    if (!m_sockets.acceptInto(k))
        return false;
    ClientSlot& s = m_clients[k];
    s.IP = m_sockets.remoteAddress(k);

    const Admission admission = decideAdmission(m_database.bans(), QString::fromLatin1(s.IP), today());

    ++m_clients.connectionCount;

    if (admission == Admission::Banned) {
        // Dropped at once: nothing sent, nothing logged; CloseClient takes the
        // count down again and refreshes the caption and tray tip.
        s.CloseAfterSend = true;
        s.InUse = true;
        m_counters.count(Refusal::Banned);
        releaseSlot(k);
        return false;
    }

    ++m_counters.accepted;
    m_accessRate.record(m_clock.now());
    emit accessRateTextChanged(m_accessRate.text());
    s.InUse = true;
    s.Mode = SessionMode::Connected;
    s.Buffer.clear();
    s.Backlogged = false;
    s.HeldForOutput = false;
    s.ReadPaused = false; // a new socket is read
    s.PlayerCount = 0;
    s.LastTick = m_clock.now() - 50;
    refreshCountTexts();
    superviseNewSlot();
    return false;
}
