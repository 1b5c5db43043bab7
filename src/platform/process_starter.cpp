#include "platform/process_starter.h"

#include <QFile>
#include <QFileInfo>
#include <QProcess>

bool DetachedProcessStarter::startDetached(const QString& program, const QString& workingFolder,
                                           QString* errorText) {
    QProcess process;
    process.setProgram(program);
    process.setWorkingDirectory(workingFolder);
    process.setStandardInputFile(QProcess::nullDevice());
    if (process.startDetached())
        return true;
    if (errorText) {
        // Qt's own text is vague for the common cases; name them.
        const QFileInfo info(program);
        if (!info.exists())
            *errorText = QStringLiteral("%1 does not exist").arg(program);
        else if (!info.isExecutable())
            *errorText = QStringLiteral("%1 is not executable").arg(program);
        else if (QFile file(program); file.open(QIODevice::ReadOnly) && file.read(2) == "#!" &&
                                      process.error() == QProcess::FailedToStart)
            *errorText = QStringLiteral("%1: the interpreter named in its first line cannot be run (%2)")
                             .arg(program, process.errorString());
        else
            *errorText = QStringLiteral("%1: %2").arg(program, process.errorString());
    }
    return false;
}
