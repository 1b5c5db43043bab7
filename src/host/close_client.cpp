#include "host/registry.h"

#include "platform/code_page.h"
#include "platform/socket_layer.h"
#include "protocol/framing.h"
#include "protocol/message_types.h"
#include "protocol/server_session.h"

void Registry::closeClient(int index, CloseReason reason) {
    if (SlotTable::isRegular(index) && m_clients[index].InUse)
        m_counters.count(reason);
    releaseSlot(index);
}

void Registry::releaseSlot(int index) {
    if (!SlotTable::isValidIndex(index))
        return;
    ClientSlot& s = m_clients[index];
    if (!s.InUse)
        return;
    // Marked free first: the notices below may close other slots, and nothing
    // they do may close this one a second time.
    s.InUse = false;
    ++s.Generation;

    if (SlotTable::isRegular(index)) {
        --m_clients.connectionCount;
        refreshCountTexts();
    }
    m_sockets.close(index);

    if (s.Mode == SessionMode::Server) {
        if (m_database.presence().isShared())
            m_database.presence().release(CodePage::toUnicode(s.ServerId));
        logEvent(ServerSession::eventLine(s, QLatin1StringView(" has disconnected from ")));
        sendToOperators(Framing::message(MessageType::ToOperator::ServerOffline, s.ServerId));
        m_onlineServers.removeFirst(s.ServerId);
        m_clients.listChanged();
    } else if (s.Mode == SessionMode::Operator) {
        logEvent(QStringLiteral("Operator has disconnected from ") + QString::fromLatin1(s.IP));
    }

    s.IP.clear();
    s.Buffer.clear();
    s.ServerId.clear();
    s.ServerName.clear();
    s.Mode = SessionMode::Connected;
    s.CloseAfterSend = false;
}

void Registry::onSocketError(int index) { closeClient(index, CloseReason::Peer); }

void Registry::onSendComplete(int index) {
    if (!SlotTable::isValidIndex(index))
        return;
    if (!m_clients[index].InUse || !m_clients[index].CloseAfterSend)
        return;
    if (SlotTable::isRegular(index))
        closeClient(index); // a refusal delivered: the registry's answer to what was sent
    else
        releaseSlot(index);
}
