#include "platform/service_manager.h"

#include "platform/escaped_text.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QProcess>
#include <QSaveFile>

#include <optional>
#include <systemd/sd-daemon.h>

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

} // namespace

SystemdServiceManager::SystemdServiceManager(SystemdServiceConfig config) : m_config(std::move(config)) {}

QString SystemdServiceManager::unitPath() const {
    return QDir(m_config.unitFolder).filePath(QString::fromLatin1(kUnitName));
}

QString SystemdServiceManager::executable() const {
    return m_config.executable.isEmpty() ? QCoreApplication::applicationFilePath() : m_config.executable;
}

// KillMode=process: when an update is found the registry starts the updater
// and ends; with the default mode systemd would kill the updater with it.
QString SystemdServiceManager::unitFileText(const QString& executable, const QString& dataDir,
                                            QString* errorText) {
    if (!checkPath(QStringLiteral("the program path"), executable, errorText) ||
        !checkPath(QStringLiteral("the data folder"), dataDir, errorText))
        return {};
    const QString dir = QDir::cleanPath(dataDir);
    return QStringLiteral("[Unit]\n"
                          "Description=Tarvane Classic Server Registry\n"
                          "After=network.target\n"
                          "\n"
                          "[Service]\n"
                          "Type=notify\n"
                          "ExecStart=%1 --data-dir %2 --headless --bus system\n"
                          "Restart=on-failure\n"
                          "KillMode=process\n"
                          "NoNewPrivileges=yes\n"
                          "ProtectSystem=strict\n"
                          "ReadWritePaths=%3\n"
                          "PrivateTmp=yes\n"
                          "\n"
                          "[Install]\n"
                          "WantedBy=multi-user.target\n")
        .arg(programWord(executable), quotedWord(dir, true), quotedWord(dir, false));
}

bool SystemdServiceManager::install(QString* errorText) {
    const QString text = unitFileText(executable(), m_config.dataDir, errorText);
    if (text.isEmpty())
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
    QProcess process;
    process.setProgram(m_config.systemctl);
    process.setArguments(arguments);
    process.setProcessChannelMode(QProcess::MergedChannels);
    process.start(QIODevice::ReadOnly);
    const QString command = m_config.systemctl + QLatin1Char(' ') + arguments.join(QLatin1Char(' '));
    auto fail = [&](const QString& why) {
        if (errorText)
            *errorText = QStringLiteral("%1: %2").arg(command, why);
        return false;
    };
    if (!process.waitForStarted(m_config.commandTimeoutMs))
        return fail(process.errorString());
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
