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
