#include "host/update_check.h"

#include "host/registry.h"
#include "platform/process_starter.h"

#include <QDir>
#include <QFileInfo>

#include <sys/stat.h>
#include <unistd.h>

namespace {

// A regular file (or a link to one); a folder of that name is no update.
bool fileExists(const QByteArray& nativePath) {
    struct stat st {};
    return ::stat(nativePath.constData(), &st) == 0 && S_ISREG(st.st_mode);
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

UpdateCheck::UpdateCheck(QString dataFolder)
    : m_dataFolder(std::move(dataFolder)), m_markerNative(QFile::encodeName(markerPath())),
      m_updaterNative(QFile::encodeName(updaterPath())) {}

QString UpdateCheck::markerPath() const {
    return QDir(m_dataFolder).filePath(QString::fromLatin1(kMarkerName));
}

QString UpdateCheck::updaterPath() const {
    return QDir(m_dataFolder).filePath(QString::fromLatin1(kUpdaterName));
}

UpdateCheck::FileState UpdateCheck::stateOf(const QString& path) {
    FileState state;
    const QFileInfo info(path);
    state.size = info.size();
    state.time = info.lastModified();
    struct stat st {};
    if (::stat(QFile::encodeName(path).constData(), &st) == 0) {
        state.inode = quint64(st.st_ino);
        state.mode = quint32(st.st_mode);
        state.owner = quint32(st.st_uid);
    }
    return state;
}

UpdateCheck::Snapshot UpdateCheck::snapshot() const {
    return {stateOf(markerPath()), stateOf(updaterPath()), stateOf(QFileInfo(updaterPath()).absolutePath())};
}

QString UpdateCheck::untrustedReason() const {
    const QString problem = trustProblem(QStringLiteral("updater.exe"), statOf(updaterPath()));
    if (!problem.isEmpty())
        return problem;
    return trustProblem(QStringLiteral("its folder"), statOf(QFileInfo(updaterPath()).absolutePath()));
}

UpdateCheck::Outcome UpdateCheck::run(ProcessStarter& starter, QString* reason) {
    if (!fileExists(m_markerNative) || !fileExists(m_updaterNative)) {
        // The update went away: a later one is news again.
        m_failed = false;
        m_reportedReason.reset();
        return Outcome::NoUpdate;
    }
    const Snapshot now = snapshot();
    if (m_failed && now == m_failedSnapshot)
        return Outcome::StillFailing;

    QString why = untrustedReason();
    if (why.isEmpty() && starter.startDetached(QDir(m_dataFolder).absoluteFilePath(QString::fromLatin1(kUpdaterName)),
                              QDir(m_dataFolder).absolutePath(), &why)) {
        m_failed = false;
        m_reportedReason.reset();
        return Outcome::Started;
    }
    m_failed = true;
    m_failedSnapshot = now;
    if (why.isEmpty())
        why = QStringLiteral("unknown error");
    if (m_reportedReason == why)
        return Outcome::StillFailing;
    m_reportedReason = why;
    if (reason)
        *reason = why;
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
