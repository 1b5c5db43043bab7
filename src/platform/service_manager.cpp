#include "platform/service_manager.h"

#include "platform/escaped_text.h"
#include "platform/install_layout.h"
#include "platform/service_user_entry.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QProcess>
#include <QSaveFile>

#include <cerrno>
#include <cstring>
#include <optional>

#include <fcntl.h>
#include <pwd.h>
#include <systemd/sd-daemon.h>
#include <unistd.h>

namespace {

bool hasControlCharacter(const QString& text) {
    for (QChar c : text)
        if (c.unicode() < 0x20 || c.unicode() == 0x7f)
            return true;
    return false;
}

// A path as one quoted word of a unit file. Backslashes and quotes are
// escaped for the unquoting, '%' for the specifier expansion; the arguments
// of ExecStart also expand "$NAME", so there '$' is doubled as well. The
// program's own path is never expanded: a '$' in it stays single.
QString quotedWord(const QString& path, bool doubleDollars) {
    QString out;
    out.reserve(path.size() + 2);
    out += QLatin1Char('"');
    for (QChar c : path) {
        if (c == QLatin1Char('\\') || c == QLatin1Char('"'))
            out += QLatin1Char('\\');
        else if (c == QLatin1Char('%'))
            out += QLatin1Char('%');
        else if (c == QLatin1Char('$') && doubleDollars)
            out += QLatin1Char('$');
        out += c;
    }
    out += QLatin1Char('"');
    return out;
}

// systemd refuses a program path with quotes or backslashes ("special
// characters") however it is quoted; such a program is started through env,
// where its path is an argument like any other.
QString programWord(const QString& executable) {
    for (QChar c : executable)
        if (c == QLatin1Char('"') || c == QLatin1Char('\'') || c == QLatin1Char('\\'))
            return QStringLiteral("/usr/bin/env -- ") + quotedWord(executable, true);
    return quotedWord(executable, false);
}

bool checkPath(const QString& what, const QString& path, QString* errorText) {
    QString why;
    if (path.isEmpty())
        why = QStringLiteral("%1 is not known").arg(what);
    else if (!QDir::isAbsolutePath(path))
        why = QStringLiteral("%1 '%2' is not an absolute path").arg(what, path);
    else if (hasControlCharacter(path))
        why = QStringLiteral("%1 contains a control character").arg(what);
    if (why.isEmpty())
        return true;
    if (errorText)
        *errorText = why;
    return false;
}

bool writeWhole(const QString& path, const QByteArray& bytes, QString* errorText) {
    QSaveFile file(path);
    if (file.open(QIODevice::WriteOnly) && file.write(bytes) == bytes.size() && file.commit())
        return true;
    if (errorText)
        *errorText = QStringLiteral("cannot write %1: %2").arg(path, file.errorString());
    return false;
}

// Folders below these are hidden by ProtectHome=yes; a unit that needs one
// hides them behind an empty tmpfs and binds back only what it needs.
bool underHome(const QString& path) {
    for (const char* top : {"/home", "/root", "/run/user"}) {
        const QString t = QString::fromLatin1(top);
        if (path == t || path.startsWith(t + QLatin1Char('/')))
            return true;
    }
    return false;
}

QString wordList(const QStringList& paths) {
    QStringList words;
    for (const QString& p : paths)
        words << quotedWord(p, false);
    return words.join(QLatin1Char(' '));
}

// Everything a network service does not need is taken away (measured with
// systemd-analyze security; the figures are in docs/reliability.md).
const char* const kConfinement = "CapabilityBoundingSet=\n"
                                 "AmbientCapabilities=\n"
                                 "NoNewPrivileges=yes\n"
                                 "PrivateTmp=yes\n"
                                 "PrivateDevices=yes\n"
                                 "DevicePolicy=closed\n"
                                 "ProtectKernelTunables=yes\n"
                                 "ProtectKernelModules=yes\n"
                                 "ProtectKernelLogs=yes\n"
                                 "ProtectControlGroups=yes\n"
                                 "ProtectClock=yes\n"
                                 "ProtectHostname=yes\n"
                                 "ProtectProc=invisible\n"
                                 "RestrictAddressFamilies=AF_INET AF_INET6 AF_UNIX\n"
                                 "RestrictNamespaces=yes\n"
                                 "RestrictRealtime=yes\n"
                                 "RestrictSUIDSGID=yes\n"
                                 "LockPersonality=yes\n"
                                 "RemoveIPC=yes\n"
                                 "SystemCallFilter=@system-service\n"
                                 "SystemCallFilter=~@privileged @resources\n"
                                 "SystemCallErrorNumber=EPERM\n"
                                 "SystemCallArchitectures=native\n";

// The folder and what lies directly in it go to the service's user; links
// are not followed, and nothing deeper is touched (a folder of its own holds
// the registry's files, not a tree of someone else's).
bool giveToAccount(const QString& folder, const ServiceAccount& account, QString* errorText) {
    auto chownOne = [&](const QString& path) {
        if (::fchownat(AT_FDCWD, QFile::encodeName(path).constData(), account.uid, account.gid,
                       AT_SYMLINK_NOFOLLOW) == 0)
            return true;
        if (errorText)
            *errorText = QStringLiteral("cannot give %1 to the service user: %2")
                             .arg(path, QString::fromLocal8Bit(std::strerror(errno)));
        return false;
    };
    if (!QFileInfo(folder).isDir()) {
        if (errorText)
            *errorText = QStringLiteral("the data folder %1 is not a folder").arg(folder);
        return false;
    }
    if (!chownOne(folder))
        return false;
    const QFileInfoList entries =
        QDir(folder).entryInfoList(QDir::AllEntries | QDir::Hidden | QDir::System | QDir::NoDotAndDotDot);
    for (const QFileInfo& entry : entries)
        if (!entry.isSymLink() && !chownOne(entry.absoluteFilePath()))
            return false;
    return true;
}

std::optional<ServiceAccount> systemAccount(const QString& name) {
    const passwd* pw = ::getpwnam(QFile::encodeName(name).constData());
    if (!pw)
        return std::nullopt;
    return ServiceAccount{pw->pw_uid, pw->pw_gid};
}

} // namespace

SystemdServiceManager::SystemdServiceManager(SystemdServiceConfig config) : m_config(std::move(config)) {}

QString SystemdServiceManager::unitPath() const {
    return QDir(m_config.unitFolder).filePath(QString::fromLatin1(kUnitName));
}

QString SystemdServiceManager::executable() const {
    return m_config.executable.isEmpty() ? QCoreApplication::applicationFilePath() : m_config.executable;
}

QStringList SystemdServiceManager::writableFolders(const QString& executable, const QString& dataDir) {
    QStringList folders{QDir::cleanPath(dataDir)};
    const QString programFolder = QFileInfo(executable).absolutePath();
    if (livesInFolderOfItsOwn(programFolder) && !folders.contains(programFolder))
        folders << programFolder;
    return folders;
}

// The update hand-over: the registry starts the updater and ends cleanly.
// KillMode=process lets the updater outlive it (the default mode would kill
// it with the registry), and Restart=always starts the registry again after
// that clean exit, as Restart=on-failure would not.
QString SystemdServiceManager::unitFileText(const QString& executable, const QString& dataDir,
                                            QString* errorText) {
    if (!checkPath(QStringLiteral("the program path"), executable, errorText) ||
        !checkPath(QStringLiteral("the data folder"), dataDir, errorText))
        return {};
    const QString dir = QDir::cleanPath(dataDir);
    const QStringList writable = writableFolders(executable, dir);
    const QString programFolder = QFileInfo(executable).absolutePath();

    QString home = QStringLiteral("ProtectHome=yes\n");
    QStringList bound, boundReadOnly;
    for (const QString& folder : writable)
        if (underHome(folder))
            bound << folder;
    if (underHome(programFolder) && !writable.contains(programFolder))
        boundReadOnly << programFolder;
    if (!bound.isEmpty() || !boundReadOnly.isEmpty()) {
        // A bind mount names source and target with ':' between them.
        for (const QString& folder : bound + boundReadOnly)
            if (folder.contains(QLatin1Char(':'))) {
                if (errorText)
                    *errorText = QStringLiteral("the folder '%1' below a home folder contains ':'").arg(folder);
                return {};
            }
        home = QStringLiteral("ProtectHome=tmpfs\n");
        if (!bound.isEmpty())
            home += QStringLiteral("BindPaths=%1\n").arg(wordList(bound));
        if (!boundReadOnly.isEmpty())
            home += QStringLiteral("BindReadOnlyPaths=%1\n").arg(wordList(boundReadOnly));
    }

    return QStringLiteral("[Unit]\n"
                          "Description=Tarvane Classic Server Registry\n"
                          "After=network.target\n"
                          "\n"
                          "[Service]\n"
                          "Type=notify\n"
                          "NotifyAccess=main\n"
                          "WatchdogSec=30\n"
                          "ExecStart=%1 --data-dir %2 --headless --bus system\n"
                          "User=%3\n"
                          "Group=%3\n"
                          "UMask=0077\n"
                          "Restart=always\n"
                          "RestartSec=5\n"
                          "KillMode=process\n"
                          "ProtectSystem=strict\n"
                          "ReadWritePaths=%4\n"
                          "%5"
                          "%6"
                          "\n"
                          "[Install]\n"
                          "WantedBy=multi-user.target\n")
        .arg(programWord(executable), quotedWord(dir, true), QString::fromLatin1(kServiceUser), wordList(writable),
             home, QString::fromLatin1(kConfinement));
}

std::optional<ServiceAccount> SystemdServiceManager::serviceAccount(QString* errorText) const {
    const QString name = QString::fromLatin1(kServiceUser);
    auto lookUp = [&] { return m_config.lookUpAccount ? m_config.lookUpAccount(name) : systemAccount(name); };
    if (auto account = lookUp())
        return account;
    if (!run(m_config.sysusers, {QStringLiteral("-")}, QByteArray(ServiceUserEntry::kText), errorText))
        return std::nullopt;
    if (auto account = lookUp())
        return account;
    if (errorText)
        *errorText = QStringLiteral("%1 did not create the user %2").arg(m_config.sysusers, name);
    return std::nullopt;
}

bool SystemdServiceManager::install(QString* errorText) {
    const QString text = unitFileText(executable(), m_config.dataDir, errorText);
    if (text.isEmpty())
        return false;

    // The user first, then its folders: a unit is written only for a user
    // that exists and may write where the registry writes.
    const std::optional<ServiceAccount> account = serviceAccount(errorText);
    if (!account)
        return false;
    for (const QString& folder : writableFolders(executable(), m_config.dataDir))
        if (!giveToAccount(folder, *account, errorText))
            return false;

    // A failed install leaves the unit folder as it found it.
    std::optional<QByteArray> previous;
    if (QFile old(unitPath()); old.exists()) {
        if (!old.open(QIODevice::ReadOnly)) {
            if (errorText)
                *errorText = QStringLiteral("cannot read %1: %2").arg(unitPath(), old.errorString());
            return false;
        }
        previous = old.readAll();
    }
    auto rollBack = [&] {
        if (previous)
            writeWhole(unitPath(), *previous, nullptr);
        else
            QFile::remove(unitPath());
        systemctl({QStringLiteral("daemon-reload")}, nullptr);
    };

    if (!writeWhole(unitPath(), text.toUtf8(), errorText))
        return false;
    if (!systemctl({QStringLiteral("daemon-reload")}, errorText)) {
        rollBack();
        return false;
    }
    if (!systemctl({QStringLiteral("enable"), QString::fromLatin1(kUnitName)}, errorText)) {
        rollBack();
        return false;
    }
    return true;
}

bool SystemdServiceManager::uninstall(QString* errorText) {
    // Nothing installed is nothing to remove.
    if (!QFileInfo::exists(unitPath()))
        return true;
    if (!systemctl({QStringLiteral("disable"), QString::fromLatin1(kUnitName)}, errorText))
        return false;
    if (!QFile::remove(unitPath())) {
        if (errorText)
            *errorText = QStringLiteral("cannot remove %1").arg(unitPath());
        return false;
    }
    return systemctl({QStringLiteral("daemon-reload")}, errorText);
}

bool SystemdServiceManager::systemctl(const QStringList& arguments, QString* errorText) const {
    return run(m_config.systemctl, arguments, {}, errorText);
}

bool SystemdServiceManager::run(const QString& program, const QStringList& arguments, const QByteArray& input,
                                QString* errorText) const {
    QProcess process;
    process.setProgram(program);
    process.setArguments(arguments);
    process.setProcessChannelMode(QProcess::MergedChannels);
    process.start(QIODevice::ReadWrite);
    const QString command = program + QLatin1Char(' ') + arguments.join(QLatin1Char(' '));
    auto fail = [&](const QString& why) {
        if (errorText)
            *errorText = QStringLiteral("%1: %2").arg(command, why);
        return false;
    };
    if (!process.waitForStarted(m_config.commandTimeoutMs))
        return fail(process.errorString());
    if (!input.isEmpty())
        process.write(input);
    process.closeWriteChannel();
    if (!process.waitForFinished(m_config.commandTimeoutMs)) {
        process.kill();
        process.waitForFinished(1000);
        return fail(QStringLiteral("did not finish within %1 ms").arg(m_config.commandTimeoutMs));
    }
    const QString output = QString::fromLocal8Bit(process.readAll()).trimmed();
    if (process.exitStatus() != QProcess::NormalExit)
        return fail(QStringLiteral("crashed"));
    if (process.exitCode() != 0)
        return fail(QStringLiteral("exit code %1%2")
                        .arg(process.exitCode())
                        .arg(output.isEmpty() ? QString() : QStringLiteral(": ") + output));
    return true;
}

void SystemdServiceManager::notifyReady() {
    sd_notify(0, "READY=1");
}

void SystemdServiceManager::notifyStopping() {
    sd_notify(0, "STOPPING=1");
}

void SystemdServiceManager::notifyStatus(const QString& text) {
    // One line: a line break would end the STATUS= assignment early, and a
    // 0 byte would cut the message.
    sd_notify(0, (QByteArrayLiteral("STATUS=") + escapedControls(text).toUtf8()).constData());
}

void SystemdServiceManager::notifyWatchdog() {
    sd_notify(0, "WATCHDOG=1");
}

qint64 SystemdServiceManager::watchdogIntervalUsec() const {
    uint64_t usec = 0;
    return sd_watchdog_enabled(0, &usec) > 0 ? qint64(usec) : 0;
}
