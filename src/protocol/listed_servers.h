#pragma once

#include <QList>
#include <QString>

class SlotTable;

// One online server as a game client's list shows it, its texts decoded from
// Windows-1252.
struct ListedServer {
    int slot = 0;
    QString user;
    QString address;
    QString name;
    int players = 0;
    bool official = false;
    QString description;
    QString updateUrl;
};

// The online servers in the order a game client reading every page from slot
// 1 on receives them, kept until the slot table's list generation moves on:
// built once per change of the list, however often it is looked at.
class ListedServers {
public:
    explicit ListedServers(const SlotTable& clients) : m_clients(clients) {}

    const QList<ListedServer>& entries();
    // The generation the entries were built for (after entries()).
    quint64 generation() const { return m_generation; }

private:
    const SlotTable& m_clients;
    QList<ListedServer> m_entries;
    quint64 m_generation = 0;
    bool m_built = false;
};
