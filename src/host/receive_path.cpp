#include "host/front_end.h"
#include "host/registry.h"
#include "platform/socket_layer.h"
#include "platform/tick_clock.h"
#include "protocol/framing.h"

namespace {
// True when `b` starts with something to act on: a whole message, or a
// length that closes the connection.
bool startsWithWork(QByteArrayView b) {
    if (b.size() < 3)
        return false;
    const int length = Framing::decodeLength(b.first(2));
    return length > Framing::kMaxMessageLength || b.size() - 2 >= length;
}
} // namespace

void Registry::onDataArrival(int index) {
    const QByteArray data = m_sockets.takeData(index);
    m_counters.bytesReceived += quint64(data.size());
    processData(index, data);
}

void Registry::setReadPaused(int index, bool paused) {
    ClientSlot& s = m_clients[index];
    if (s.ReadPaused == paused)
        return;
    s.ReadPaused = paused;
    m_sockets.setReadPaused(index, paused);
}

// Appends the arrival to the slot's buffer and dispatches the complete
// messages in it, at most kMessagesPerPass of them. Whatever is left beyond
// an incomplete tail (fewer than three bytes, or a prefix announcing at most
// 511 with fewer bytes behind it) waits for the next pass with reading
// paused, so the buffer never holds more than one arrival and 512 bytes.
void Registry::processData(int index, QByteArrayView data) {
    if (!SlotTable::isRegular(index))
        return; // the overflow slot only delivers its notice; no session runs there
    ClientSlot& s = m_clients[index];
    if (!s.InUse)
        return;
    s.LastTick = m_clock.now();

    if (s.Backlogged || s.HeldForOutput) {
        s.Buffer.append(data);
        setReadPaused(index, true);
        return;
    }
    if (m_sockets.unsentOver(index, kReadPauseOutput)) {
        s.Buffer.append(data);
        s.HeldForOutput = true;
        setReadPaused(index, true);
        superviseSoon(); // each tick looks whether the peer has taken enough
        return;
    }

    // Work on the arrival itself when nothing was buffered (the usual case),
    // so that whole messages are cut without copying.
    QByteArray joined;
    QByteArrayView b = data;
    if (!s.Buffer.isEmpty()) {
        joined.swap(s.Buffer);
        joined.append(data);
        b = joined;
    }
    const qsizetype pos = dispatchMessages(index, b);
    if (pos < 0)
        return;
    finishArrival(index, b.sliced(pos));
}

// Cuts and dispatches up to kMessagesPerPass messages from the front of
// `b`; returns how many bytes were consumed, or -1 when the connection was
// closed (by a length over 511 or by a handler).
qsizetype Registry::dispatchMessages(int index, QByteArrayView b) {
    ClientSlot& s = m_clients[index];
    const quint64 generation = s.Generation;
    qsizetype pos = 0;
    for (int cut = 0; cut < kMessagesPerPass; ++cut) {
        const qsizetype left = b.size() - pos;
        if (left < 3)
            break;
        const int length = Framing::decodeLength(b.sliced(pos, 2));
        if (length > Framing::kMaxMessageLength) {
            closeClient(index);
            return -1;
        }
        if (left - 2 < length)
            break;
        const QByteArrayView message = b.sliced(pos + 2, length);
        pos += 2 + length;
        if (length == 0)
            continue;
        m_dispatcher.dispatch(*this, index, s.Mode, static_cast<quint8>(message[0]), message.sliced(1));
        // A handler that closed the connection ends the arrival: what is left
        // belongs to a connection that no longer exists.
        if (s.Generation != generation)
            return -1;
    }
    return pos;
}

// Keeps what was not handled. More work than one pass allows waits for the
// next pass with reading paused; otherwise reading goes on.
void Registry::finishArrival(int index, QByteArrayView rest) {
    ClientSlot& s = m_clients[index];
    s.Buffer = rest.toByteArray();
    if (startsWithWork(s.Buffer)) {
        s.Backlogged = true;
        setReadPaused(index, true);
        if (!m_backlogPosted) {
            m_backlogPosted = true;
            QMetaObject::invokeMethod(this, &Registry::handleBacklog, Qt::QueuedConnection);
        }
    } else {
        s.Backlogged = false;
        setReadPaused(index, s.HeldForOutput);
    }
    if (s.Mode == SessionMode::Server)
        m_frontEnd->serverSlotUpdated(index);
}

// One more share for every connection that had messages left over, in slot
// order. A connection whose output is held stays as it is until it drains.
void Registry::handleBacklog() {
    m_backlogPosted = false;
    if (m_state != State::Running)
        return;
    for (int i = SlotTable::kFirstSlot; i <= SlotTable::kLastRegularSlot; ++i) {
        ClientSlot& s = m_clients[i];
        if (!s.InUse || !s.Backlogged)
            continue;
        if (m_sockets.unsentOver(i, kReadPauseOutput)) {
            s.Backlogged = false;
            s.HeldForOutput = true;
            superviseSoon();
            continue;
        }
        QByteArray buffered;
        buffered.swap(s.Buffer);
        const qsizetype pos = dispatchMessages(i, buffered);
        if (pos >= 0)
            finishArrival(i, QByteArrayView(buffered).sliced(pos));
    }
}

// From the supervision timer: connections whose peers have taken enough of
// their replies are served again.
void Registry::releaseHeldOutput() {
    for (int i = SlotTable::kFirstSlot; i <= SlotTable::kLastRegularSlot; ++i) {
        ClientSlot& s = m_clients[i];
        if (!s.InUse || !s.HeldForOutput || m_sockets.unsentOver(i, kReadPauseOutput / 2))
            continue;
        s.HeldForOutput = false;
        finishArrival(i, QByteArray(std::move(s.Buffer)));
    }
}
