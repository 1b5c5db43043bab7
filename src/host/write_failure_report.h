#pragma once

#include <QString>
#include <QtGlobal>

// Turns failed database writes into lines for standard error: the first at
// once, then at most one a second, each with the number of failures since
// the line before, so a full disk under a flood of registrations is said
// without flooding the journal.
class WriteFailureReport {
public:
    static constexpr quint32 kGapMs = 1000;

    // A failure at tick `now`; the line to print now, or the empty text when
    // it waits for the next one (counted).
    QString failed(quint32 now, const QString& why);
    // From the timer: the line for failures that waited, once their second
    // has passed; otherwise the empty text.
    QString due(quint32 now);
    quint64 waiting() const { return m_waiting; }

private:
    QString line();

    quint64 m_waiting = 0;
    QString m_lastWhy;
    quint32 m_lastLine = 0;
    bool m_anyLine = false;
};
