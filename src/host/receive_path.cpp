#include "host/front_end.h"
#include "host/registry.h"
#include "platform/socket_layer.h"
#include "platform/tick_clock.h"
#include "protocol/framing.h"

void Registry::onDataArrival(int index) {
    const QByteArray data = m_sockets.takeData(index);
    m_counters.bytesReceived += quint64(data.size());
    processData(index, data);
}

// Appends the arrival to the slot's buffer and dispatches every complete
// message in it. The retained tail is never longer than 512 bytes: either
// fewer than three bytes, or a prefix announcing at most 511 with fewer bytes
// behind it.
void Registry::processData(int index, QByteArrayView data) {
    if (!SlotTable::isRegular(index))
        return; // the overflow slot only delivers its notice; no session runs there
    ClientSlot& s = m_clients[index];
    if (!s.InUse)
        return;
    s.LastTick = m_clock.now();

    // Work on the arrival itself when nothing was buffered (the usual case),
    // so that whole messages are cut without copying.
    QByteArray joined;
    QByteArrayView b = data;
    if (!s.Buffer.isEmpty()) {
        joined.swap(s.Buffer);
        joined.append(data);
        b = joined;
    }

    const quint64 generation = s.Generation;
    qsizetype pos = 0;
    for (;;) {
        const qsizetype left = b.size() - pos;
        if (left < 3)
            break;
        const int length = Framing::decodeLength(b.sliced(pos, 2));
        if (length > Framing::kMaxMessageLength) {
            closeClient(index);
            return;
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
            return;
    }
    if (pos < b.size())
        s.Buffer = b.sliced(pos).toByteArray();

    if (s.Mode == SessionMode::Server)
        m_frontEnd->serverSlotUpdated(index);
}
