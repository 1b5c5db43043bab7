#include "host/event_echo.h"

#include "platform/escaped_text.h"

#include <QAbstractEventDispatcher>
#include <QThread>

#include <cerrno>
#include <unistd.h>

EventEcho::EventEcho(int fd, QObject* parent) : QObject(parent), m_fd(fd) {}

EventEcho::~EventEcho() { flush(); }

QByteArray EventEcho::escapedLine(const QString& line) {
    return (escapedControls(line) + QLatin1Char('\n')).toUtf8();
}

void EventEcho::append(const QString& line) {
    m_pending += escapedLine(line);
    if (!m_hooked) {
        if (QAbstractEventDispatcher* d = QAbstractEventDispatcher::instance(thread())) {
            connect(d, &QAbstractEventDispatcher::aboutToBlock, this, &EventEcho::flush);
            m_hooked = true;
        }
    }
    if (!m_hooked)
        flush(); // no event loop to wait for: write at once
}

void EventEcho::flush() {
    qsizetype done = 0;
    while (done < m_pending.size()) {
        const ssize_t n = ::write(m_fd, m_pending.constData() + done, size_t(m_pending.size() - done));
        if (n > 0)
            done += n;
        else if (n < 0 && errno == EINTR)
            continue;
        else
            break; // a closed or full standard output must not stop the registry
    }
    m_pending.clear();
}
