#include "host/event_echo.h"

#include "platform/escaped_text.h"
#include "platform/nonblocking_output.h"

#include <QAbstractEventDispatcher>
#include <QDeadlineTimer>
#include <QSocketNotifier>
#include <QThread>

#include <cstring>

namespace {
// At shutdown the registry waits this long at most for a slow reader to take
// the last lines.
constexpr int kFinalDrainMs = 1000;
} // namespace

EventEcho::EventEcho(int fd, qsizetype queueLimit, QObject* parent)
    : QObject(parent), m_out(std::make_unique<NonBlockingOutput>(fd)), m_limit(queueLimit) {}

EventEcho::~EventEcho() {
    flush();
    const QDeadlineTimer deadline(kFinalDrainMs);
    while (!m_broken && queuedBytes() > 0 && m_out->waitWritable(int(deadline.remainingTime())))
        flush();
}

QByteArray EventEcho::escapedLine(const QString& line) {
    QByteArray out;
    appendEscapedUtf8(out, line);
    out += '\n';
    return out;
}

QByteArray EventEcho::droppedLinesReport(quint64 count) {
    return QByteArray::number(count) + " event lines were dropped: standard output was not being read\n";
}

void EventEcho::append(const QString& line) {
    if (m_broken)
        return;
    // Escaped into a buffer that keeps its room from line to line: an echoed
    // line costs no allocation of its own.
    m_line.resize(0);
    appendEscapedUtf8(m_line, line);
    m_line += '\n';
    const QByteArray& bytes = m_line;
    // A full queue is written out first: a file, or a reader that keeps up,
    // takes it now and loses nothing however many lines one pass makes.
    if (m_dropped == 0 && queuedBytes() + bytes.size() > m_limit) {
        flush();
        if (m_broken)
            return;
    }
    // Once a line has been dropped, the following ones are too until the
    // reader has caught up, so that the report stands where the gap is.
    if (m_dropped > 0 || queuedBytes() + bytes.size() > m_limit) {
        ++m_dropped;
        return;
    }
    // Grown and copied by hand: QByteArray's own append costs several times
    // the copy of a short line.
    const qsizetype at = m_queue.size();
    m_queue.resize(at + bytes.size());
    std::memcpy(m_queue.data() + at, bytes.constData(), size_t(bytes.size()));
    if (!m_hooked) {
        if (QAbstractEventDispatcher* d = QAbstractEventDispatcher::instance(thread())) {
            connect(d, &QAbstractEventDispatcher::aboutToBlock, this, &EventEcho::flushBeforeWaiting);
            m_hooked = true;
        }
    }
    if (!m_hooked)
        flush(); // no event loop to wait for: write at once
}

void EventEcho::flush() {
    writeQueued();
    if (!m_broken && !m_retryLater && queuedBytes() == 0 && m_dropped > 0) {
        m_queue = droppedLinesReport(m_dropped);
        m_head = 0;
        m_dropped = 0;
        writeQueued();
    }
    watchWritable(!m_broken && !m_retryLater && queuedBytes() > 0);
}

void EventEcho::flushBeforeWaiting() {
    // While standard output is known to be full, its notifier says when to
    // try again; a write per loop pass would only fail.
    if (m_writable && m_writable->isEnabled())
        return;
    flush();
}

void EventEcho::writeQueued() {
    m_retryLater = false;
    while (!m_broken && queuedBytes() > 0) {
        qsizetype n = 0;
        const NonBlockingOutput::Result r = m_out->write(QByteArrayView(m_queue).sliced(m_head), &n);
        m_head += n;
        if (r == NonBlockingOutput::Result::Failed) {
            // A write that failed (a full disk under a redirection) is tried
            // again on the next pass; meanwhile the queue holds what it holds.
            m_retryLater = true;
            break;
        }
        if (r == NonBlockingOutput::Result::Gone) {
            // A closed standard output must not stop the registry; nothing
            // will be read from it again.
            m_broken = true;
            m_queue.clear();
            m_head = 0;
            m_dropped = 0;
            return;
        }
        if (r == NonBlockingOutput::Result::WouldBlock)
            break;
    }
    if (m_head == m_queue.size()) {
        m_queue.clear();
        m_head = 0;
    } else if (m_head > m_limit / 2) {
        m_queue.remove(0, m_head); // keep the queue's memory near its limit
        m_head = 0;
    }
}

void EventEcho::watchWritable(bool on) {
    if (!m_writable) {
        if (!on || !QAbstractEventDispatcher::instance(thread()))
            return;
        m_writable = new QSocketNotifier(m_out->descriptor(), QSocketNotifier::Write, this);
        connect(m_writable, &QSocketNotifier::activated, this, &EventEcho::flush);
    }
    if (m_writable->isEnabled() != on)
        m_writable->setEnabled(on);
}
