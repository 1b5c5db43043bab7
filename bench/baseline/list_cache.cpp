#include "list_cache.h"

const std::string& ListCache::reply(int first) {
    if (!m_valid[first])
        build(first);
    return m_replies[first];
}

void ListCache::build(int first) {
    std::string& out = m_replies[first];
    out.clear();
    int next = 0;
    for (int i = first; i <= kSlots; ++i) {
        const ListedSlot& s = m_slots[i];
        if (!s.online)
            continue;
        if (out.size() >= kPageLimit) {
            next = i;
            break;
        }
        std::string entry;
        entry.reserve(96 + s.name.size() + s.description.size());
        entry += '\x04';
        entry += s.user;
        entry += '\0';
        entry += s.address;
        entry += '\0';
        entry += '[' + std::to_string(s.players) + "] " + s.name;
        entry += '\0';
        entry += "Unofficial Server: " + s.description;
        entry += '\0';
        out += char(entry.size() >> 8);
        out += char(entry.size() & 0xFF);
        out += entry;
    }
    if (!out.empty()) {
        if (next)
            out += std::string("\x00\x03\xFF\x03", 4) + char(next);
        else
            out += std::string("\x00\x02\xFF\x04", 4);
    }
    m_valid[first] = true;
}
