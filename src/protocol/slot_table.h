#pragma once

#include "protocol/client_slot.h"

#include <QByteArrayView>
#include <QList>
#include <array>

// The Clients table: slots 1..255 carry connections, slot 256 only refuses a
// caller when the registry is full. Index 0 is unused (it is the listener's).
class SlotTable {
public:
    static constexpr int kFirstSlot = 1;
    static constexpr int kLastRegularSlot = 255;
    static constexpr int kOverflowSlot = 256;

    ClientSlot& operator[](int index) { return m_slots[index]; }
    const ClientSlot& operator[](int index) const { return m_slots[index]; }

    static bool isValidIndex(int index) { return index >= kFirstSlot && index <= kOverflowSlot; }
    static bool isRegular(int index) { return index >= kFirstSlot && index <= kLastRegularSlot; }

    // Lowest free regular slot, or 0 when all 255 are taken (known from
    // connectionCount, which must count exactly the occupied regular slots).
    int findFreeSlot() const;
    // Lowest logged-in server slot other than `except` whose ServerId equals
    // `name` without regard to case, or 0.
    int findServerByName(QByteArrayView name, int except = 0) const;
    // Every occupied regular slot, in slot order, whose ServerId equals
    // `account` without regard to case, whatever its session mode.
    QList<int> slotsOfAccount(QByteArrayView account) const;
    // Regular slots in use whose caller has the address `ip`.
    int slotsHeldBy(QByteArrayView ip) const;

    int connectionCount = 0; // occupied regular slots

    // Moves on with every change to what a list query would show (a login, a
    // report, a change of the official mark, a close), so that views built
    // from the list are rebuilt once per change and not once per look.
    quint64 listGeneration() const { return m_listGeneration; }
    void listChanged() { ++m_listGeneration; }

private:
    quint64 m_listGeneration = 0;
    std::array<ClientSlot, kOverflowSlot + 1> m_slots{};
};
