#include "protocol/list_query.h"

#include "protocol/framing.h"
#include "protocol/list_pages.h"
#include "protocol/message_types.h"
#include "protocol/session_context.h"

#include <algorithm>
#include <vector>

namespace ListQuery {

void appendEntry(QByteArray& out, const ClientSlot& s) {
    static const QByteArray official = QByteArrayLiteral("Official Server: ");
    static const QByteArray unofficial = QByteArrayLiteral("Unofficial Server: ");
    Framing::FrameWriter entry(out, MessageType::ToClient::ListEntry);
    entry.append(s.ServerId).separator();
    entry.append(s.IP).separator();
    entry.append('[').append(QByteArray::number(s.PlayerCount)).append("] ").append(s.ServerName).separator();
    entry.append(s.Official != 0 ? official : unofficial).append(s.Description).separator();
    entry.append(s.UpdateUrl);
    entry.finish();
}

QByteArray buildReply(const SlotTable& clients, int start) { return buildReply(clients, start, nullptr); }

QByteArray buildReply(const SlotTable& clients, int start, PageOrder* order) {
    // Official servers go in front, the one in the highest slot first; the
    // others follow in slot order. Collected apart and joined once at the end,
    // so a page costs one pass over its bytes.
    std::vector<QByteArray> officials;
    std::vector<int> officialSlots;
    QByteArray others;
    qsizetype total = 0;
    int next = 0;
    for (int i = start; i <= SlotTable::kLastRegularSlot; ++i) {
        const ClientSlot& s = clients[i];
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
            if (order)
                officialSlots.push_back(i);
        } else {
            const qsizetype before = others.size();
            appendEntry(others, s);
            total += others.size() - before;
            if (order)
                order->listed.append(i);
        }
    }
    if (total == 0)
        return {};
    QByteArray reply;
    reply.reserve(total + 5);
    for (auto it = officials.rbegin(); it != officials.rend(); ++it)
        reply.append(*it);
    reply.append(others);
    reply.append(next == 0 ? FixedFrame::listEnd() : FixedFrame::listContinue(quint8(next)));
    if (order) {
        order->listed.insert(0, qsizetype(officialSlots.size()), 0);
        std::copy(officialSlots.rbegin(), officialSlots.rend(), order->listed.begin());
        order->next = next;
    }
    return reply;
}

QList<int> slotsInListOrder(const SlotTable& clients) {
    QList<int> all;
    int start = SlotTable::kFirstSlot;
    while (start != 0) {
        PageOrder page;
        if (buildReply(clients, start, &page).isEmpty())
            break;
        all.append(page.listed);
        start = page.next;
    }
    return all;
}

void handle(SessionContext& session, int slot, quint8, QByteArrayView payload) {
    if (payload.size() != 1) {
        session.closeClient(slot);
        return;
    }
    const int start = static_cast<unsigned char>(payload[0]);
    if (start == 0)
        return;
    // Over its rate the query is dropped unanswered and unlogged; the
    // connection stays, as a client that asks too fast may still be honest.
    if (!session.callerLimits().takeListQuery(session.slot(slot).IP)) {
        ++session.counters().listQueriesIgnored;
        return;
    }
    const QByteArray reply = session.listPages().page(start);
    if (reply.isEmpty()) {
        session.closeClient(slot);
        return;
    }
    session.logEvent(session.listPages().sentToLine(slot, session.slot(slot).IP));
    ++session.counters().listReplies;
    session.sendRaw(slot, reply);
}

} // namespace ListQuery
