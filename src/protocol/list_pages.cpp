#include "protocol/list_pages.h"

#include "protocol/list_query.h"
#include "protocol/slot_table.h"

QByteArray ListPages::page(int start) {
    if (start < SlotTable::kFirstSlot || start > SlotTable::kLastRegularSlot)
        return {};
    const quint64 current = m_clients.listGeneration() + 1;
    if (m_builtFor[start] != current) {
        m_pages[start] = ListQuery::buildReply(m_clients, start);
        m_builtFor[start] = current;
        ++m_builds;
    }
    return m_pages[start];
}

const QString& ListPages::sentToLine(int slot, const QByteArray& ip) {
    SentTo& kept = m_sentTo[std::size_t(slot) % kPages];
    if (kept.line.isEmpty() || kept.ip != ip) {
        static constexpr QLatin1StringView sentTo("Server information sent to ");
        QString line;
        line.reserve(sentTo.size() + ip.size());
        line.append(sentTo).append(QLatin1StringView(ip));
        kept.ip = ip;
        kept.line = std::move(line);
    }
    return kept.line;
}
