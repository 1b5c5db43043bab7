#include "protocol/listed_servers.h"

#include "platform/code_page.h"
#include "protocol/list_query.h"
#include "protocol/slot_table.h"

const QList<ListedServer>& ListedServers::entries() {
    const quint64 now = m_clients.listGeneration();
    if (m_built && now == m_generation)
        return m_entries;
    m_entries.clear();
    for (int i : ListQuery::slotsInListOrder(m_clients)) {
        const ClientSlot& s = m_clients[i];
        ListedServer e;
        e.slot = i;
        e.user = CodePage::toUnicode(s.ServerId);
        e.address = QString::fromLatin1(s.IP);
        e.name = CodePage::toUnicode(s.ServerName);
        e.players = s.PlayerCount;
        e.official = s.Official != 0;
        e.description = CodePage::toUnicode(s.Description);
        e.updateUrl = CodePage::toUnicode(s.UpdateUrl);
        m_entries.append(e);
    }
    m_generation = now;
    m_built = true;
    return m_entries;
}
