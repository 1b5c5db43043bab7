#include "host/server_details.h"

#include "platform/code_page.h"

std::optional<ServerDetails> serverDetails(const SlotTable& table, int index) {
    if (!SlotTable::isRegular(index))
        return std::nullopt;
    const ClientSlot& s = table[index];
    if (s.Mode != SessionMode::Server)
        return std::nullopt;
    ServerDetails d;
    d.slot = index;
    d.serverIdBytes = s.ServerId;
    d.serverId = CodePage::toUnicode(s.ServerId);
    d.serverName = CodePage::toUnicode(s.ServerName);
    d.description = CodePage::toUnicode(s.Description);
    d.ip = QString::fromLatin1(s.IP);
    d.playerCount = s.PlayerCount;
    d.official = s.Official;
    return d;
}

std::optional<ServerDetails> findOnlineServer(const SlotTable& table, QByteArrayView name) {
    const int index = table.findServerByName(name);
    if (index == 0)
        return std::nullopt;
    return serverDetails(table, index);
}
