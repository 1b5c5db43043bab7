#include "host/update_check.h"

#include "host/registry.h"
#include "platform/process_starter.h"

#include <QDir>
#include <QFileInfo>

#include <sys/stat.h>

namespace {

// A regular file (or a link to one); a folder of that name is no update.
bool fileExists(const QString& path) {
    return QFileInfo(path).isFile();
}

quint64 inodeOf(const QString& path) {
    struct stat st {};
    return ::stat(QFile::encodeName(path).constData(), &st) == 0 ? quint64(st.st_ino) : 0;
}

} // namespace

UpdateCheck::UpdateCheck(QString dataFolder) : m_dataFolder(std::move(dataFolder)) {}

QString UpdateCheck::markerPath() const {
    return QDir(m_dataFolder).filePath(QString::fromLatin1(kMarkerName));
}

QString UpdateCheck::updaterPath() const {
    return QDir(m_dataFolder).filePath(QString::fromLatin1(kUpdaterName));
}

UpdateCheck::Snapshot UpdateCheck::snapshot() const {
    const QFileInfo marker(markerPath());
    const QFileInfo updater(updaterPath());
    Snapshot s;
    s.markerSize = marker.size();
    s.updaterSize = updater.size();
    s.markerTime = marker.lastModified();
    s.updaterTime = updater.lastModified();
    s.markerInode = inodeOf(markerPath());
    s.updaterInode = inodeOf(updaterPath());
    return s;
}

UpdateCheck::Outcome UpdateCheck::run(ProcessStarter& starter, QString* reason) {
    if (!fileExists(markerPath()) || !fileExists(updaterPath()))
        return Outcome::NoUpdate;
    const Snapshot now = snapshot();
    if (m_failed && now == m_failedSnapshot)
        return Outcome::StillFailing;

    QString why;
    if (starter.startDetached(QDir(m_dataFolder).absoluteFilePath(QString::fromLatin1(kUpdaterName)),
                              QDir(m_dataFolder).absolutePath(), &why)) {
        m_failed = false;
        return Outcome::Started;
    }
    m_failed = true;
    m_failedSnapshot = now;
    if (reason)
        *reason = why.isEmpty() ? QStringLiteral("unknown error") : why;
    return Outcome::Failed;
}

void Registry::checkForUpdate() {
    if (m_state != State::Running)
        return;
    QString reason;
    switch (m_updateCheck.run(*m_processStarter, &reason)) {
    case UpdateCheck::Outcome::Started:
        shutdown();
        break;
    case UpdateCheck::Outcome::Failed:
        logEvent(QStringLiteral("The updater could not be started: ") + reason);
        break;
    case UpdateCheck::Outcome::NoUpdate:
    case UpdateCheck::Outcome::StillFailing:
        break;
    }
}
