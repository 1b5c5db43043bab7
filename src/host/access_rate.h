#pragma once

#include <QString>
#include <QtGlobal>
#include <array>

// The "Accesses/Hour" figure: the ticks of the last 100 admitted connections
// (entry 1 oldest, entry 100 newest; all hold the start-up tick at first) and
// how many of them are real admissions.
class AccessRate {
public:
    static constexpr int kEntries = 100;
    static constexpr quint32 kMsPerHour = 3600000;

    // Start-up: every entry holds the start-up tick, nothing counted.
    void reset(quint32 tick);
    // An admitted caller at `tick`.
    void record(quint32 tick);

    // AccessCount × 3600000 / (entry 100 − entry 1), truncated. The span is
    // taken across the counter's wrap, and a span below 1 ms counts as 1 ms.
    quint32 perHour() const;
    QString text() const { return QStringLiteral("Accesses/Hour = ") + QString::number(perHour()); }

    int accessCount() const { return m_count; }
    quint32 entry(int number) const { return m_ticks[size_t(number - 1)]; } // 1..100

private:
    std::array<quint32, kEntries> m_ticks{};
    int m_count = 0;
};
