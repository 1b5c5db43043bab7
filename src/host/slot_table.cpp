#include "host/slot_table.h"

#include "platform/code_page.h"

int SlotTable::findFreeSlot() const {
    for (int i = kFirstSlot; i <= kLastRegularSlot; ++i)
        if (!m_slots[i].InUse)
            return i;
    return 0;
}

int SlotTable::findServerByName(QByteArrayView name) const {
    const QByteArray wanted = CodePage::upper(name);
    for (int i = kFirstSlot; i <= kLastRegularSlot; ++i) {
        const ClientSlot& s = m_slots[i];
        if (s.Mode == SessionMode::Server && s.ServerId.size() == wanted.size() &&
            CodePage::upper(s.ServerId) == wanted)
            return i;
    }
    return 0;
}
