#include "app/diagnostics.h"

#include "platform/escaped_text.h"

#include <QByteArray>

#include <cstdio>
#include <sys/stat.h>
#include <unistd.h>

bool standardErrorIsJournal() {
    const QByteArray stream = qgetenv("JOURNAL_STREAM");
    const qsizetype colon = stream.indexOf(':');
    if (colon <= 0)
        return false;
    bool okDevice = false, okInode = false;
    const qulonglong device = stream.first(colon).toULongLong(&okDevice);
    const qulonglong inode = stream.sliced(colon + 1).toULongLong(&okInode);
    struct stat st {};
    if (!okDevice || !okInode || ::fstat(STDERR_FILENO, &st) != 0)
        return false;
    return qulonglong(st.st_dev) == device && qulonglong(st.st_ino) == inode;
}

QByteArray diagnosticPrefix(Severity severity, bool toJournal) {
    if (!toJournal)
        return {};
    switch (severity) {
    case Severity::Error:
        return "<3>";
    case Severity::Warning:
        return "<4>";
    case Severity::Info:
        break;
    }
    return "<6>";
}

void printDiagnostic(Severity severity, const QString& text) {
    static const bool toJournal = standardErrorIsJournal();
    // A line break inside the text would start a line without the prefix,
    // and file names or peer texts may hold escape sequences.
    const QString oneLine = escapedControls(text);
    const QByteArray bytes =
        diagnosticPrefix(severity, toJournal) + ("tavregistry: " + oneLine + QLatin1Char('\n')).toLocal8Bit();
    std::fwrite(bytes.constData(), 1, size_t(bytes.size()), stderr);
    std::fflush(stderr);
}
