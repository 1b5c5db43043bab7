#include "protocol/online_servers.h"

#include "platform/code_page.h"

void OnlineServerList::add(const QByteArray& serverId) {
    m_entries.append(serverId);
    emit added(int(m_entries.size()) - 1, CodePage::toUnicode(serverId));
}

void OnlineServerList::removeFirst(const QByteArray& serverId) {
    const qsizetype row = m_entries.indexOf(serverId);
    if (row < 0)
        return;
    m_entries.removeAt(row);
    emit removed(int(row));
}

QString OnlineServerList::text(int row) const { return CodePage::toUnicode(m_entries.at(row)); }

QStringList OnlineServerList::texts() const {
    QStringList out;
    out.reserve(m_entries.size());
    for (const QByteArray& e : m_entries)
        out.append(CodePage::toUnicode(e));
    return out;
}
