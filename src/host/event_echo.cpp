#include "host/event_echo.h"

#include <QAbstractEventDispatcher>
#include <QThread>

#include <cerrno>
#include <unistd.h>

EventEcho::EventEcho(int fd, QObject* parent) : QObject(parent), m_fd(fd) {}

EventEcho::~EventEcho() { flush(); }

QByteArray EventEcho::escapedLine(const QString& line) {
    QString out;
    out.reserve(line.size() + 1);
    for (const QChar c : line) {
        const char16_t u = c.unicode();
        if (u == u'\\')
            out += QLatin1String("\\\\");
        else if (u == u'\n')
            out += QLatin1String("\\n");
        else if (u == u'\r')
            out += QLatin1String("\\r");
        else if (u == u'\t')
            out += QLatin1String("\\t");
        else if (u < 0x20 || (u >= 0x7f && u <= 0x9f)) // C0, DEL and the C1 controls
            out += QStringLiteral("\\x%1").arg(uint(u), 2, 16, QLatin1Char('0'));
        else
            out += c;
    }
    out += QLatin1Char('\n');
    return out.toUtf8();
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
