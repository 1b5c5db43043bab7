#pragma once

#include <QObject>
#include <QStringList>

// The event view's lines: one line per event, newest last, no time stamps, the
// newest 50 kept. The main window shows it; headless runs print each line.
class EventLog : public QObject {
    Q_OBJECT
public:
    static constexpr int kMaxLines = 50;

    using QObject::QObject;

    void append(const QString& line);
    // No lines, as at start; nothing is emitted.
    void clear() { m_lines.clear(); }
    const QStringList& lines() const { return m_lines; }
    QString last() const { return m_lines.isEmpty() ? QString() : m_lines.last(); }

signals:
    // Emitted after the line was added and, when the log was full, the oldest removed.
    void lineAppended(const QString& line, bool oldestRemoved);

private:
    QStringList m_lines;
};
