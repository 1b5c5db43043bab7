#include "host/registry.h"
#include "platform/socket_layer.h"
#include "protocol/framing.h"

void Registry::sendRaw(int index, const QByteArray& data) {
    if (!SlotTable::isValidIndex(index))
        return;
    ClientSlot& s = m_clients[index];
    if (!s.InUse)
        return;
    if (!m_sockets.isConnected(index)) {
        closeClient(index, CloseReason::Peer);
        return;
    }
    // Only a reply that closes the connection once delivered waits for its
    // completion; every other reply leaves none to deliver.
    if (s.CloseAfterSend)
        m_sockets.send(index, data);
    else
        m_sockets.sendUnwatched(index, data);
    m_counters.bytesSent += quint64(data.size());
    if (m_sockets.unsentOver(index, kMaxUnsentOutput))
        closeClient(index, CloseReason::OutputLimit);
    else if (!m_sockets.isConnected(index))
        superviseSoon(); // the send found the peer gone: the next tick closes it
}

void Registry::sendFramed(int index, QByteArrayView message) { sendRaw(index, Framing::frame(message)); }

void Registry::sendToOperators(QByteArrayView message) {
    // Framed once, and only when an operator is there to receive it.
    QByteArray framed;
    for (int i = SlotTable::kFirstSlot; i <= SlotTable::kLastRegularSlot; ++i) {
        if (m_clients[i].Mode != SessionMode::Operator)
            continue;
        if (framed.isEmpty())
            framed = Framing::frame(message);
        sendRaw(i, framed);
    }
}
