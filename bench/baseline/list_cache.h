#pragma once

#include <array>
#include <string>

// The online servers of the baseline, by slot, and the list replies built from
// them once and served from that prepared buffer until something changes.
struct ListedSlot {
    bool online = false;
    std::string user;
    std::string address;
    unsigned char players = 0;
    std::string name;
    std::string description;
};

class ListCache {
public:
    static constexpr int kSlots = 255;
    static constexpr std::size_t kPageLimit = 1024;

    ListedSlot& slot(int i) { return m_slots[i]; }
    void invalidate() { m_valid.fill(false); }
    // The reply to a query from `first` (1..255); empty when nothing is listed there.
    const std::string& reply(int first);

private:
    void build(int first);

    std::array<ListedSlot, kSlots + 1> m_slots{};
    std::array<std::string, kSlots + 1> m_replies{};
    std::array<bool, kSlots + 1> m_valid{};
};
