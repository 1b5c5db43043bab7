#pragma once

#include <QtGlobal>

// The registry's notion of time: a 32-bit millisecond counter that wraps about
// every 49.7 days. Every difference of two ticks is taken with tickSince() so
// that the wrap neither fails nor misfires.
class TickClock {
public:
    virtual ~TickClock() = default;
    virtual quint32 now() const = 0;
};

// Milliseconds elapsed from `earlier` to `later`, correct across the wrap.
constexpr quint32 tickSince(quint32 later, quint32 earlier) { return later - earlier; }

// The machine's monotonic uptime in milliseconds, cut to 32 bits.
class SystemTickClock final : public TickClock {
public:
    quint32 now() const override;
};
