#include "host/event_log.h"

void EventLog::append(const QString& line) {
    m_lines.append(line);
    bool removed = false;
    if (m_lines.size() > kMaxLines) {
        m_lines.removeFirst();
        removed = true;
    }
    emit lineAppended(line, removed);
}
