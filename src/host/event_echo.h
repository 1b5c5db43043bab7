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

private:
    int m_fd;
    QByteArray m_pending;
    bool m_hooked = false;
};
