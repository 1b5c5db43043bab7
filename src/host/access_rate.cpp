#include "host/access_rate.h"

#include "platform/tick_clock.h"

#include <algorithm>

void AccessRate::reset(quint32 tick) {
    m_ticks.fill(tick);
    m_count = 0;
}

void AccessRate::record(quint32 tick) {
    m_count = std::min(m_count + 1, kEntries);
    std::rotate(m_ticks.begin(), m_ticks.begin() + 1, m_ticks.end());
    m_ticks.back() = tick;
}

quint32 AccessRate::perHour() const {
    const quint32 span = std::max<quint32>(tickSince(m_ticks.back(), m_ticks.front()), 1);
    return quint32(quint64(m_count) * kMsPerHour / span);
}
