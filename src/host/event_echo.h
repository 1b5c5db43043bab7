#pragma once

#include <QByteArray>
#include <QObject>

// Copies event lines to standard output for journald and scripts. Lines made
// while one batch of events is handled go out in one write, before the event
// loop next waits: under load a busy registry does not pay a system call per
// line, and no line ever stays behind while the registry is idle.
class EventEcho final : public QObject {
    Q_OBJECT
public:
    explicit EventEcho(int fd, QObject* parent = nullptr);
    ~EventEcho() override;

    void append(const QString& line);
    void flush();

    // One event is one line: control characters inside it (a line break in a
    // message, an escape sequence in a server name) are written as \n, \r,
    // \t or \xHH, and a backslash as \\, so that no peer can forge lines
    // of the journal or move a terminal's cursor.
    static QByteArray escapedLine(const QString& line);

private:
    int m_fd;
    QByteArray m_pending;
    bool m_hooked = false;
};
