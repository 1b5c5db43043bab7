#include "host/registry.h"

#include "host/admission_control.h"

#include "platform/socket_layer.h"
#include "platform/tick_clock.h"
#include "protocol/message_types.h"

// The listener stays open while callers are taken (closing it would reset every
// caller waiting in the kernel's queue); callers are taken one at a time, each
// through the same steps in the same order.
void Registry::onConnectionRequest() {
    while (m_state == State::Running && m_sockets.hasPendingConnection())
        acceptOne();
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

void Registry::acceptOne() {
    if (m_limits.settings().connectionsPerAddress > 0) {
        // An address at its cap hears what a caller hears when every slot is
        // taken, and is dropped the same way: one address cannot fill the table.
        const QByteArray ip = m_sockets.pendingAddress();
        if (m_limits.connectionRefused(ip, slotsHeldBy(ip))) {
            m_counters.count(Refusal::PerAddress);
            refuseAsFull();
            return;
        }
    }
    int k = findFreeSlot();
    if (k == 0) {
        // Hang-ups not yet handled in this pass must not make a caller hear
        // "full": the notice goes out only when live connections hold every slot.
        for (int i = SlotTable::kFirstSlot; i <= SlotTable::kLastRegularSlot; ++i)
            if (m_clients[i].InUse && !m_sockets.isConnected(i))
                closeClient(i, CloseReason::Peer);
        k = findFreeSlot();
    }
    if (k == 0) {
        // All regular slots are busy: tell the caller and drop it once the
        // notice has left. Nothing is logged and the count does not change.
        m_counters.count(Refusal::Full);
        refuseAsFull();
        return;
    }

    if (!m_sockets.acceptInto(k))
        return;
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
        return;
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
}
