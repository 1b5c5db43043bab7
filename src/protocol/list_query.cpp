#include "protocol/list_query.h"

#include "host/registry.h"
#include "protocol/dispatcher.h"

#include <vector>

namespace ListQuery {

void appendEntry(QByteArray& out, const ClientSlot& s) {
    static const QByteArray official = QByteArrayLiteral("Official Server: ");
    static const QByteArray unofficial = QByteArrayLiteral("Unofficial Server: ");
    const QByteArray players = QByteArray::number(s.PlayerCount);
    const QByteArray& kind = s.Official != 0 ? official : unofficial;
    const qsizetype length = 1 + s.ServerId.size() + 1 + s.IP.size() + 1 + (1 + players.size() + 2) +
                             s.ServerName.size() + 1 + kind.size() + s.Description.size() + 1 +
                             s.UpdateUrl.size();
    out.append(char((length >> 8) & 0xFF));
    out.append(char(length & 0xFF));
    out.append(char(4));
    out.append(s.ServerId).append('\0');
    out.append(s.IP).append('\0');
    out.append('[').append(players).append("] ").append(s.ServerName).append('\0');
    out.append(kind).append(s.Description).append('\0');
    out.append(s.UpdateUrl);
}

QByteArray buildReply(const Registry& registry, int start) {
    // Official servers go in front, the one in the highest slot first; the
    // others follow in slot order. Collected apart and joined once at the end,
    // so a page costs one pass over its bytes.
    std::vector<QByteArray> officials;
    QByteArray others;
    qsizetype total = 0;
    int next = 0;
    for (int i = start; i <= SlotTable::kLastRegularSlot; ++i) {
        const ClientSlot& s = registry.clients()[i];
        if (s.Mode != SessionMode::Server)
            continue;
        if (total >= ListPageLimit) {
            next = i;
            break;
        }
        if (s.Official != 0) {
            QByteArray entry;
            appendEntry(entry, s);
            total += entry.size();
            officials.push_back(std::move(entry));
        } else {
            const qsizetype before = others.size();
            appendEntry(others, s);
            total += others.size() - before;
        }
    }
    if (total == 0)
        return {};
    QByteArray reply;
    reply.reserve(total + 5);
    for (auto it = officials.rbegin(); it != officials.rend(); ++it)
        reply.append(*it);
    reply.append(others);
    if (next == 0)
        reply.append("\x00\x02\xff\x04", 4);
    else
        reply.append("\x00\x03\xff\x03", 4).append(char(next));
    return reply;
}

void handle(Registry& registry, int slot, quint8, QByteArrayView payload) {
    if (payload.size() != 1) {
        registry.closeClient(slot);
        return;
    }
    const int start = static_cast<unsigned char>(payload[0]);
    if (start == 0)
        return;
    const QByteArray reply = buildReply(registry, start);
    if (reply.isEmpty()) {
        registry.closeClient(slot);
        return;
    }
    registry.logEvent(QStringLiteral("Server information sent to ") +
                      QString::fromLatin1(registry.slot(slot).IP));
    registry.sendRaw(slot, reply);
}

void install(Dispatcher& dispatcher) { dispatcher.install(SessionMode::Connected, 3, &handle); }

} // namespace ListQuery
