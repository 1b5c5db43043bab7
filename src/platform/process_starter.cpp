#include "platform/process_starter.h"

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
        if (!info.isExecutable())
            *errorText = QStringLiteral("%1 is not executable").arg(program);
        else
            *errorText = QStringLiteral("%1: %2").arg(program, process.errorString());
    }
    return false;
}
