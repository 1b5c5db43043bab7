#include "app/data_folder.h"

#include "platform/install_layout.h"

#include <QDir>
#include <QFileInfo>

#include <unistd.h>

QString defaultDataFolder(const QString& executableFolder) {
    if (livesInFolderOfItsOwn(executableFolder))
        return executableFolder;
    QString base = qEnvironmentVariable("XDG_DATA_HOME");
    if (!QDir::isAbsolutePath(base)) // unset, empty or relative: the XDG rule falls back
        base = QDir::homePath() + QStringLiteral("/.local/share");
    return QDir(base).filePath(QStringLiteral("tavregistry"));
}

QString executableFolder(const char* argv0) {
    char buffer[4096];
    const ssize_t n = ::readlink("/proc/self/exe", buffer, sizeof buffer - 1);
    if (n > 0)
        return QFileInfo(QString::fromLocal8Bit(buffer, int(n))).absolutePath();
    return QFileInfo(QString::fromLocal8Bit(argv0)).absolutePath();
}
