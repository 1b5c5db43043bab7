#include "host/update_check.h"

#include "host/registry.h"
#include "platform/process_starter.h"

#include <QDir>
#include <QFileInfo>

#include <sys/stat.h>
#include <unistd.h>

namespace {

// A regular file (or a link to one); a folder of that name is no update.
bool fileExists(const QString& path) {
    return QFileInfo(path).isFile();
}

struct stat statOf(const QString& path) {
    struct stat st {};
    if (::stat(QFile::encodeName(path).constData(), &st) != 0)
        st = {};
    return st;
}

// Owned by us or root, and writable by nobody else.
QString trustProblem(const QString& what, const struct stat& st) {
    if (st.st_uid != ::geteuid() && st.st_uid != 0)
        return QStringLiteral("%1 belongs to user %2, not to this registry's user or root").arg(what).arg(st.st_uid);
    if (st.st_mode & (S_IWGRP | S_IWOTH))
        return QStringLiteral("%1 is writable by other users").arg(what);
    return {};
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
    const struct stat updaterStat = statOf(updaterPath());
    const struct stat folderStat = statOf(QFileInfo(updaterPath()).absolutePath());
    s.markerInode = quint64(statOf(markerPath()).st_ino);
    s.updaterInode = quint64(updaterStat.st_ino);
    s.updaterOwner = updaterStat.st_uid;
    s.updaterMode = updaterStat.st_mode;
    s.folderOwner = folderStat.st_uid;
    s.folderMode = folderStat.st_mode;
    return s;
}

QString UpdateCheck::untrustedReason() const {
    const QString problem = trustProblem(QStringLiteral("updater.exe"), statOf(updaterPath()));
    if (!problem.isEmpty())
        return problem;
    return trustProblem(QStringLiteral("its folder"), statOf(QFileInfo(updaterPath()).absolutePath()));
}

UpdateCheck::Outcome UpdateCheck::run(ProcessStarter& starter, QString* reason) {
    if (!fileExists(markerPath()) || !fileExists(updaterPath()))
        return Outcome::NoUpdate;
    const Snapshot now = snapshot();
    if (m_failed && now == m_failedSnapshot)
        return Outcome::StillFailing;

    QString why = untrustedReason();
    if (why.isEmpty() && starter.startDetached(QDir(m_dataFolder).absoluteFilePath(QString::fromLatin1(kUpdaterName)),
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
