#pragma once

#include <QByteArray>
#include <QObject>

#include <memory>

class NonBlockingOutput;
class QSocketNotifier;

// Copies event lines to standard output for journald and scripts. Lines made
// while one batch of events is handled go out in one write, before the event
// loop next waits: under load a busy registry does not pay a system call per
// line, and no line ever stays behind while the registry is idle.
//
// Standard output never holds up the registry: a reader that stops reading
// (`| less`, a stalled collector) fills a bounded queue, and the lines that do
// not fit are counted instead of kept. Once the reader has taken everything
// queued, one line says how many were dropped; lines are written in order
// from then on. Every line is either written whole or counted.
class EventEcho final : public QObject {
    Q_OBJECT
public:
    static constexpr qsizetype kDefaultQueueLimit = 256 * 1024;

    explicit EventEcho(int fd, qsizetype queueLimit = kDefaultQueueLimit, QObject* parent = nullptr);
    ~EventEcho() override;

    void append(const QString& line);
    // Writes what standard output takes now; the rest waits for it to become
    // writable. Never blocks.
    void flush();

    // Bytes waiting for standard output.
    qsizetype queuedBytes() const { return m_queue.size() - m_head; }
    // Lines dropped and not yet reported.
    quint64 droppedLines() const { return m_dropped; }

    // One event is one line: control characters inside it (a line break in a
    // message, an escape sequence in a server name) are written as \n, \r,
    // \t or \xHH, and a backslash as \\, so that no peer can forge lines
    // of the journal or move a terminal's cursor.
    static QByteArray escapedLine(const QString& line);
    // The line that stands for `count` dropped lines.
    static QByteArray droppedLinesReport(quint64 count);

private:
    void flushBeforeWaiting();
    void writeQueued();
    void watchWritable(bool on);

    std::unique_ptr<NonBlockingOutput> m_out;
    qsizetype m_limit;
    QByteArray m_queue;
    QByteArray m_line; // the line being escaped
    qsizetype m_head = 0; // bytes of m_queue already written
    quint64 m_dropped = 0;
    bool m_broken = false; // standard output failed for good (closed)
    bool m_retryLater = false; // the last write failed; try again next pass, not when writable
    bool m_hooked = false;
    QSocketNotifier* m_writable = nullptr;
};
