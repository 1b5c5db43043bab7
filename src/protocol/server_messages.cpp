#include "protocol/server_messages.h"

#include "protocol/framing.h"
#include "protocol/message_types.h"
#include "protocol/session_context.h"

namespace ServerMessages {

void sendText(SessionContext& session, int slot, QByteArrayView text) {
    session.sendFramed(slot, Framing::message(MessageType::ToServer::Text, text));
}

void sendTextToAllServers(SessionContext& session, QByteArrayView text) {
    const QByteArray message = Framing::message(MessageType::ToServer::Text, text);
    for (int i = SlotTable::kFirstSlot; i <= SlotTable::kLastRegularSlot; ++i)
        if (session.slot(i).Mode == SessionMode::Server)
            session.sendFramed(i, message);
}

void sendAddGod(SessionContext& session, int slot, QByteArrayView payload) {
    session.sendFramed(slot, Framing::message(MessageType::ToServer::AddGod, payload));
}

} // namespace ServerMessages
