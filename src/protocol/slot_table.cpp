#include "protocol/slot_table.h"

#include "platform/code_page.h"

namespace {
// `wanted` is already upper-cased.
bool holdsAccount(const ClientSlot& s, const QByteArray& wanted) { return CodePage::equalsUpper(s.ServerId, wanted); }
} // namespace

int SlotTable::findFreeSlot() const {
    // A full table is known without a look: callers refused while it is
    // full cost one comparison each.
    if (connectionCount >= kLastRegularSlot)
        return 0;
    for (int i = kFirstSlot; i <= kLastRegularSlot; ++i)
        if (!m_slots[i].InUse)
            return i;
    return 0;
}

int SlotTable::findServerByName(QByteArrayView name, int except) const {
    const QByteArray wanted = CodePage::upper(name);
    for (int i = kFirstSlot; i <= kLastRegularSlot; ++i) {
        const ClientSlot& s = m_slots[i];
        if (i != except && s.Mode == SessionMode::Server && holdsAccount(s, wanted))
            return i;
    }
    return 0;
}

QList<int> SlotTable::slotsOfAccount(QByteArrayView account) const {
    const QByteArray wanted = CodePage::upper(account);
    QList<int> found;
    for (int i = kFirstSlot; i <= kLastRegularSlot; ++i) {
        const ClientSlot& s = m_slots[i];
        if (s.InUse && holdsAccount(s, wanted))
            found.append(i);
    }
    return found;
}

int SlotTable::slotsHeldBy(QByteArrayView ip) const {
    int held = 0;
    for (int i = kFirstSlot; i <= kLastRegularSlot; ++i)
        if (m_slots[i].InUse && m_slots[i].IP == ip)
            ++held;
    return held;
}
