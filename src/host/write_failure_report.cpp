#include "host/write_failure_report.h"

#include "platform/tick_clock.h"

QString WriteFailureReport::failed(quint32 now, const QString& why) {
    ++m_waiting;
    m_lastWhy = why;
    return due(now);
}

QString WriteFailureReport::due(quint32 now) {
    if (m_waiting == 0 || (m_anyLine && tickSince(now, m_lastLine) < kGapMs))
        return {};
    m_anyLine = true;
    m_lastLine = now;
    return line();
}

QString WriteFailureReport::line() {
    const quint64 n = m_waiting;
    m_waiting = 0;
    if (n == 1)
        return QStringLiteral("a write to the database failed: ") + m_lastWhy;
    return QStringLiteral("%1 writes to the database failed since the last report; the last one: %2").arg(n).arg(m_lastWhy);
}
