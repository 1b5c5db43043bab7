#pragma once

#include "protocol/slot_table.h"

#include <QByteArray>
#include <QString>
#include <optional>

// What the windows show of one online game server: a copy of its slot's
// fields, texts decoded from the wire's code page. Windows read servers
// through this and never hold the slot itself.
struct ServerDetails {
    int slot = 0;
    QByteArray serverIdBytes; // as on the wire, for exact comparisons
    QString serverId;
    QString serverName;
    QString description;
    QString ip;
    int playerCount = 0;
    quint8 official = 0; // any non-zero value is official

    bool isOfficial() const { return official != 0; }
};

// The details of the logged-in server in `index`, or nothing when the slot
// carries no logged-in server.
std::optional<ServerDetails> serverDetails(const SlotTable& table, int index);

// The details of the online server named `name` (letter case ignored), or nothing.
std::optional<ServerDetails> findOnlineServer(const SlotTable& table, QByteArrayView name);
