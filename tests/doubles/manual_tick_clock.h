#pragma once

#include "platform/tick_clock.h"

// A clock that moves only when told to, for deterministic tests.
class ManualTickClock final : public TickClock {
public:
    explicit ManualTickClock(quint32 start = 1000) : m_now(start) {}
    quint32 now() const override { return m_now; }
    void set(quint32 tick) { m_now = tick; }
    void advance(quint32 ms) { m_now += ms; }

private:
    quint32 m_now;
};
