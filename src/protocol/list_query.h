#pragma once

#include <QByteArray>
#include <QByteArrayView>
#include <QList>

class SessionContext;
class SlotTable;
struct ClientSlot;

// Game clients ask for the online servers from a slot number on (mode 0,
// type 3) and get them in pages of about 1 KiB, official servers first.
namespace ListQuery {

constexpr int ListPageLimit = 1024;

void handle(SessionContext& session, int slot, quint8 type, QByteArrayView payload);

// The reply to a query from slot `start` on (frames, then the end or continue
// frame); empty when no server is online at or after `start`.
QByteArray buildReply(const SlotTable& clients, int start);
// The slots of one page in the order it lists them, and the slot its continue
// frame names (0 when the page ends the list).
struct PageOrder {
    QList<int> listed;
    int next = 0;
};
QByteArray buildReply(const SlotTable& clients, int start, PageOrder* order);
// Every listed server's slot, in the order a client that reads every page
// from slot 1 on receives them.
QList<int> slotsInListOrder(const SlotTable& clients);
// One server's frame.
void appendEntry(QByteArray& out, const ClientSlot& server);

} // namespace ListQuery
