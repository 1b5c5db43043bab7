// Installing and removing the systemd unit with a stand-in systemctl, and the
// readiness notification on a real notify socket.
#include "support/test_files.h"
#include "platform/service_manager.h"

#include <QDir>
#include <QCoreApplication>
#include <QFile>
#include <QProcess>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QTest>

#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

namespace {


// The ids the stand-in user database gives the service's user: another
// user's when the test may give files away, else the test's own.
ServiceAccount testAccount() {
    if (::geteuid() == 0)
        return ServiceAccount{4242, 4243};
    return ServiceAccount{::getuid(), ::getgid()};
}

// A temporary unit folder and data folder, a systemctl stand-in that logs
// each call (and whether the unit file existed then) and fails the command
// named in "fail-on", and a systemd-sysusers stand-in that keeps what it
// was given and "creates" the user unless "sysusers-fails" exists.
struct FakeSystem {
    QTemporaryDir root;
    QString unitFolder;
    QString dataFolder;
    QString systemctl;
    QString sysusers;
    QString log;
    bool userExists = true;

    FakeSystem() {
        unitFolder = root.filePath(QStringLiteral("units"));
        QDir().mkpath(unitFolder);
        dataFolder = root.filePath(QStringLiteral("data"));
        QDir().mkpath(dataFolder);
        systemctl = root.filePath(QStringLiteral("systemctl"));
        sysusers = root.filePath(QStringLiteral("systemd-sysusers"));
        log = root.filePath(QStringLiteral("calls.log"));
        const QString unit = unitFolder + QStringLiteral("/tavregistry.service");
        put(systemctl, QStringLiteral("#!/bin/sh\n"
                                      "d=$(dirname \"$0\")\n"
                                      "if [ -f '%1' ]; then u=unit; else u=no-unit; fi\n"
                                      "echo \"$* ($u)\" >> \"$d/calls.log\"\n"
                                      "if [ -f \"$d/fail-on\" ] && [ \"$(cat \"$d/fail-on\")\" = \"$1\" ]; then\n"
                                      "  echo \"Failed to $1: Access denied\" >&2; exit 4\n"
                                      "fi\n")
                           .arg(unit)
                           .toUtf8());
        put(sysusers, "#!/bin/sh\n"
                      "d=$(dirname \"$0\")\n"
                      "echo \"sysusers $*\" >> \"$d/calls.log\"\n"
                      "cat > \"$d/sysusers.in\"\n"
                      "if [ -f \"$d/sysusers-fails\" ]; then echo 'Failed to create tavregistry' >&2; exit 1; fi\n"
                      "if [ ! -f \"$d/sysusers-makes-nothing\" ]; then touch \"$d/user-made\"; fi\n");
        for (const QString& tool : {systemctl, sysusers})
            QFile::setPermissions(tool, QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
    }
    void failOn(const QByteArray& command) { put(root.filePath(QStringLiteral("fail-on")), command); }
    QStringList calls() const {
        if (!QFile::exists(log))
            return {};
        return QString::fromUtf8(contents(log)).split(QLatin1Char('\n'), Qt::SkipEmptyParts);
    }
    SystemdServiceConfig config() const {
        SystemdServiceConfig c;
        c.unitFolder = unitFolder;
        c.systemctl = systemctl;
        c.sysusers = sysusers;
        c.executable = QStringLiteral("/opt/tav/bin/tavregistry");
        c.dataDir = dataFolder;
        const QString made = root.filePath(QStringLiteral("user-made"));
        const bool exists = userExists;
        c.lookUpAccount = [made, exists](const QString& name) -> std::optional<ServiceAccount> {
            if (name != QLatin1String("tavregistry") || !(exists || QFile::exists(made)))
                return std::nullopt;
            return testAccount();
        };
        return c;
    }
};

struct stat statOf(const QString& path) {
    struct stat st {};
    ::lstat(QFile::encodeName(path).constData(), &st);
    return st;
}

const QByteArray kConfinement = "CapabilityBoundingSet=\n"
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

QByteArray expectedUnit(const QByteArray& execStart, const QByteArray& readWrite, const QByteArray& home) {
    return "[Unit]\n"
           "Description=Tarvane Classic Server Registry\n"
           "After=network.target\n"
           "\n"
           "[Service]\n"
           "Type=notify\n"
           "NotifyAccess=main\n"
           "WatchdogSec=30\n"
           "ExecStart=" + execStart + "\n"
           "User=tavregistry\n"
           "Group=tavregistry\n"
           "UMask=0077\n"
           "Restart=always\n"
           "RestartSec=5\n"
           "KillMode=process\n"
           "ProtectSystem=strict\n"
           "ReadWritePaths=" + readWrite + "\n" +
           home + kConfinement +
           "\n"
           "[Install]\n"
           "WantedBy=multi-user.target\n";
}

} // namespace

class TestServiceManager : public QObject {
    Q_OBJECT

private slots:
    void installWritesTheUnitThenReloadsAndEnables() {
        FakeSystem sys;
        SystemdServiceManager manager(sys.config());
        QString error;
        QVERIFY2(manager.install(&error), qPrintable(error));
        QCOMPARE(manager.unitPath(), sys.unitFolder + QStringLiteral("/tavregistry.service"));
        const QByteArray data = QFile::encodeName(sys.dataFolder);
        QCOMPARE(contents(manager.unitPath()),
                 expectedUnit("\"/opt/tav/bin/tavregistry\" --data-dir \"" + data + "\" --headless --bus system",
                              "\"" + data + "\"", "ProtectHome=yes\n"));
        QCOMPARE(sys.calls(), (QStringList{QStringLiteral("daemon-reload (unit)"),
                                           QStringLiteral("enable tavregistry.service (unit)")}));
    }

    // The folder and its own entries go to the service's user; nothing
    // deeper, and no link's target.
    void installGivesTheDataFolderToTheServiceUser() {
        if (::geteuid() != 0)
            QSKIP("giving files to another user needs root");
        FakeSystem sys;
        const QString data = sys.dataFolder;
        put(data + QStringLiteral("/qbrx.dat"), "db");
        put(data + QStringLiteral("/server.ini"), "[TavRegistry]\nService=True\n");
        QVERIFY(QDir().mkpath(data + QStringLiteral("/sub")));
        put(data + QStringLiteral("/sub/inner"), "x");
        const QString outside = sys.root.filePath(QStringLiteral("outside"));
        put(outside, "not the registry's");
        QVERIFY(QFile::link(outside, data + QStringLiteral("/link")));
        SystemdServiceManager manager(sys.config());
        QString error;
        QVERIFY2(manager.install(&error), qPrintable(error));
        for (const char* name : {"", "/qbrx.dat", "/server.ini", "/sub"}) {
            const struct stat st = statOf(data + QLatin1String(name));
            QCOMPARE(st.st_uid, uid_t(4242));
            QCOMPARE(st.st_gid, gid_t(4243));
        }
        QCOMPARE(statOf(data + QStringLiteral("/sub/inner")).st_uid, uid_t(0));
        QCOMPARE(statOf(data + QStringLiteral("/link")).st_uid, uid_t(0));
        QCOMPARE(statOf(outside).st_uid, uid_t(0));
        // The user was there: systemd-sysusers is not asked.
        QCOMPARE(sys.calls(), (QStringList{QStringLiteral("daemon-reload (unit)"),
                                           QStringLiteral("enable tavregistry.service (unit)")}));
    }

    // A registry in a folder of its own: the update hand-over rewrites that
    // folder, so it is the user's and writable in the unit.
    void installGivesAFolderOfItsOwnToTheServiceUser() {
        FakeSystem sys;
        const QString own = sys.root.filePath(QStringLiteral("tav"));
        QVERIFY(QDir().mkpath(own));
        put(own + QStringLiteral("/tavregistry"), "program");
        SystemdServiceConfig config = sys.config();
        config.executable = own + QStringLiteral("/tavregistry");
        SystemdServiceManager manager(config);
        QString error;
        QVERIFY2(manager.install(&error), qPrintable(error));
        const QByteArray text = contents(manager.unitPath());
        QVERIFY2(text.contains("\nReadWritePaths=\"" + QFile::encodeName(sys.dataFolder) + "\" \"" +
                               QFile::encodeName(own) + "\"\n"),
                 text.constData());
        if (::geteuid() == 0) {
            QCOMPARE(statOf(own).st_uid, uid_t(4242));
            QCOMPARE(statOf(own + QStringLiteral("/tavregistry")).st_uid, uid_t(4242));
        }
    }

    void missingUserIsCreatedFromTheShippedEntry() {
        FakeSystem sys;
        sys.userExists = false;
        SystemdServiceManager manager(sys.config());
        QString error;
        QVERIFY2(manager.install(&error), qPrintable(error));
        QCOMPARE(sys.calls(), (QStringList{QStringLiteral("sysusers -"), QStringLiteral("daemon-reload (unit)"),
                                           QStringLiteral("enable tavregistry.service (unit)")}));
        const QByteArray shipped =
            contents(qEnvironmentVariable("TAV_SOURCE_DIR") + QStringLiteral("/packaging/tavregistry.sysusers.conf"));
        QVERIFY(shipped.contains("\nu tavregistry - "));
        QCOMPARE(contents(sys.root.filePath(QStringLiteral("sysusers.in"))), shipped);
    }

    void userThatCannotBeCreatedFailsTheInstall_data() {
        QTest::addColumn<QString>("flag");
        QTest::addColumn<QString>("expectedError");
        QTest::newRow("sysusers fails") << "sysusers-fails" << "exit code 1: Failed to create tavregistry";
        QTest::newRow("sysusers creates nothing") << "sysusers-makes-nothing" << "did not create the user tavregistry";
        QTest::newRow("no sysusers") << "" << "no-such-sysusers -: ";
    }
    void userThatCannotBeCreatedFailsTheInstall() {
        QFETCH(QString, flag);
        QFETCH(QString, expectedError);
        FakeSystem sys;
        sys.userExists = false;
        SystemdServiceConfig config = sys.config();
        if (flag.isEmpty())
            config.sysusers = sys.root.filePath(QStringLiteral("no-such-sysusers"));
        else
            put(sys.root.filePath(flag), "");
        const uid_t ownerBefore = statOf(sys.dataFolder).st_uid;
        SystemdServiceManager manager(config);
        QString error;
        QVERIFY(!manager.install(&error));
        QVERIFY2(error.contains(expectedError), qPrintable(error));
        QVERIFY(!QFile::exists(manager.unitPath()));
        for (const QString& call : sys.calls())
            QVERIFY2(call.startsWith(QStringLiteral("sysusers")), qPrintable(call));
        QCOMPARE(statOf(sys.dataFolder).st_uid, ownerBefore);
    }

    void dataFolderThatIsNoFolderFailsTheInstall() {
        FakeSystem sys;
        SystemdServiceConfig config = sys.config();
        config.dataDir = sys.root.filePath(QStringLiteral("a-file"));
        put(config.dataDir, "x");
        SystemdServiceManager manager(config);
        QString error;
        QVERIFY(!manager.install(&error));
        QCOMPARE(error, QStringLiteral("the data folder %1 is not a folder").arg(config.dataDir));
        QVERIFY(!QFile::exists(manager.unitPath()));
        QVERIFY(sys.calls().isEmpty());
    }

    // Where program and data live decides what the unit may write and what
    // of the home folders it sees.
    void foldersOfTheUnit_data() {
        QTest::addColumn<QString>("program");
        QTest::addColumn<QString>("data");
        QTest::addColumn<QByteArray>("expected");
        QTest::newRow("installed") << "/usr/bin/tavregistry" << "/var/lib/tav"
                                   << QByteArray("ReadWritePaths=\"/var/lib/tav\"\nProtectHome=yes\n");
        QTest::newRow("own folder, data beside it") << "/opt/tav/tavregistry" << "/opt/tav/"
                                                    << QByteArray("ReadWritePaths=\"/opt/tav\"\nProtectHome=yes\n");
        QTest::newRow("own folder, data elsewhere")
            << "/opt/tav/tavregistry" << "/srv/tav"
            << QByteArray("ReadWritePaths=\"/srv/tav\" \"/opt/tav\"\nProtectHome=yes\n");
        QTest::newRow("own folder in a home")
            << "/home/ann/tav/tavregistry" << "/home/ann/tav"
            << QByteArray("ReadWritePaths=\"/home/ann/tav\"\nProtectHome=tmpfs\nBindPaths=\"/home/ann/tav\"\n");
        QTest::newRow("installed in a home")
            << "/home/ann/.local/bin/tavregistry" << "/home/ann/.local/share/tavregistry"
            << QByteArray("ReadWritePaths=\"/home/ann/.local/share/tavregistry\"\nProtectHome=tmpfs\n"
                          "BindPaths=\"/home/ann/.local/share/tavregistry\"\n"
                          "BindReadOnlyPaths=\"/home/ann/.local/bin\"\n");
        QTest::newRow("root's home") << "/usr/bin/tavregistry" << "/root/tav"
                                     << QByteArray("ReadWritePaths=\"/root/tav\"\nProtectHome=tmpfs\n"
                                                   "BindPaths=\"/root/tav\"\n");
        QTest::newRow("not a home") << "/usr/bin/tavregistry" << "/homes/tav"
                                    << QByteArray("ReadWritePaths=\"/homes/tav\"\nProtectHome=yes\n");
    }
    void foldersOfTheUnit() {
        QFETCH(QString, program);
        QFETCH(QString, data);
        QFETCH(QByteArray, expected);
        QString error;
        const QByteArray text = SystemdServiceManager::unitFileText(program, data, &error).toUtf8();
        QVERIFY2(!text.isEmpty(), qPrintable(error));
        QVERIFY2(text.contains("\nProtectSystem=strict\n" + expected + "CapabilityBoundingSet=\n"), text.constData());
    }

    void aBoundFolderWithAColonIsRefused() {
        QString error;
        QVERIFY(SystemdServiceManager::unitFileText(QStringLiteral("/usr/bin/tavregistry"),
                                                    QStringLiteral("/home/ann/a:b"), &error)
                    .isEmpty());
        QCOMPARE(error, QStringLiteral("the folder '/home/ann/a:b' below a home folder contains ':'"));
        // Outside the home folders nothing is bound, and ':' is harmless.
        QVERIFY(!SystemdServiceManager::unitFileText(QStringLiteral("/usr/bin/tavregistry"),
                                                     QStringLiteral("/srv/a:b"), &error)
                     .isEmpty());
    }

    void failingInstallStepReportsAndLeavesNoUnit_data() {
        QTest::addColumn<QByteArray>("failingCommand");
        QTest::addColumn<QStringList>("expectedCalls");
        QTest::newRow("daemon-reload") << QByteArray("daemon-reload")
                                       << QStringList{"daemon-reload (unit)", "daemon-reload (no-unit)"};
        QTest::newRow("enable") << QByteArray("enable")
                                << QStringList{"daemon-reload (unit)", "enable tavregistry.service (unit)",
                                               "daemon-reload (no-unit)"};
    }
    void failingInstallStepReportsAndLeavesNoUnit() {
        QFETCH(QByteArray, failingCommand);
        QFETCH(QStringList, expectedCalls);
        FakeSystem sys;
        sys.failOn(failingCommand);
        SystemdServiceManager manager(sys.config());
        QString error;
        QVERIFY(!manager.install(&error));
        QVERIFY2(error.contains(QStringLiteral("exit code 4")), qPrintable(error));
        QVERIFY2(error.contains(QStringLiteral("Access denied")), qPrintable(error));
        QVERIFY(!QFile::exists(manager.unitPath()));
        QCOMPARE(sys.calls(), expectedCalls);
    }

    void failingReinstallRestoresThePreviousUnit() {
        FakeSystem sys;
        const QByteArray previous = "[Service]\nExecStart=/old\n";
        put(sys.unitFolder + QStringLiteral("/tavregistry.service"), previous);
        sys.failOn("enable");
        SystemdServiceManager manager(sys.config());
        QVERIFY(!manager.install(nullptr));
        QCOMPARE(contents(manager.unitPath()), previous);
    }

    void installWithoutSystemctlFails() {
        FakeSystem sys;
        SystemdServiceConfig config = sys.config();
        config.systemctl = sys.root.filePath(QStringLiteral("no-such-systemctl"));
        SystemdServiceManager manager(config);
        QString error;
        QVERIFY(!manager.install(&error));
        QVERIFY(error.startsWith(config.systemctl + QStringLiteral(" daemon-reload: ")));
        QVERIFY(!QFile::exists(manager.unitPath()));
    }

    void installIntoMissingUnitFolderFails() {
        FakeSystem sys;
        SystemdServiceConfig config = sys.config();
        config.unitFolder = sys.root.filePath(QStringLiteral("no-such-folder"));
        SystemdServiceManager manager(config);
        QString error;
        QVERIFY(!manager.install(&error));
        QVERIFY(!error.isEmpty());
        QVERIFY(sys.calls().isEmpty());
    }

    void hangingSystemctlTimesOut() {
        FakeSystem sys;
        put(sys.systemctl, "#!/bin/sh\nexec sleep 30\n");
        SystemdServiceConfig config = sys.config();
        config.commandTimeoutMs = 200;
        SystemdServiceManager manager(config);
        QString error;
        QVERIFY(!manager.install(&error));
        QVERIFY2(error.contains(QStringLiteral("did not finish within 200 ms")), qPrintable(error));
    }

    void uninstallDisablesRemovesAndReloads() {
        FakeSystem sys;
        SystemdServiceManager manager(sys.config());
        QVERIFY(manager.install(nullptr));
        QFile::remove(sys.log);
        QString error;
        QVERIFY2(manager.uninstall(&error), qPrintable(error));
        QVERIFY(!QFile::exists(manager.unitPath()));
        QCOMPARE(sys.calls(), (QStringList{QStringLiteral("disable tavregistry.service (unit)"),
                                           QStringLiteral("daemon-reload (no-unit)")}));
    }

    void uninstallWithFailingDisableKeepsTheUnit() {
        FakeSystem sys;
        SystemdServiceManager manager(sys.config());
        QVERIFY(manager.install(nullptr));
        sys.failOn("disable");
        QString error;
        QVERIFY(!manager.uninstall(&error));
        QVERIFY(error.contains(QStringLiteral("disable tavregistry.service")));
        const QByteArray data = QFile::encodeName(sys.dataFolder);
        QCOMPARE(contents(manager.unitPath()),
                 expectedUnit("\"/opt/tav/bin/tavregistry\" --data-dir \"" + data + "\" --headless --bus system",
                              "\"" + data + "\"", "ProtectHome=yes\n"));
    }

    void uninstallOfNothingInstalledSucceedsWithoutSystemctl() {
        FakeSystem sys;
        SystemdServiceManager manager(sys.config());
        QVERIFY(manager.uninstall(nullptr));
        QVERIFY(sys.calls().isEmpty());
    }

    void unitQuotesPathsSafely() {
        QString error;
        const QString text = SystemdServiceManager::unitFileText(QStringLiteral("/opt/my $tav/bin/reg\"x"),
                                                                 QStringLiteral("/srv/50% $HOME\\d/"), &error);
        QVERIFY2(!text.isEmpty(), qPrintable(error));
        QVERIFY2(text.contains(QStringLiteral(
                     "ExecStart=/usr/bin/env -- \"/opt/my $$tav/bin/reg\\\"x\" --data-dir \"/srv/50%% $$HOME\\\\d\" --headless")),
                 qPrintable(text));
        QVERIFY2(text.contains(QStringLiteral("ReadWritePaths=\"/srv/50%% $HOME\\\\d\"\n")), qPrintable(text));
    }

    // systemd itself accepts the unit, awkward program paths and data folders
    // included: verify also checks that the program it names is there.
    void systemdAcceptsTheUnit_data() {
        QTest::addColumn<QString>("programName");
        QTest::addColumn<QString>("dataName");
        QTest::newRow("plain") << "tavregistry" << "data";
        QTest::newRow("dollar") << "tav$HOME$$x" << "data $HOME";
        QTest::newRow("percent") << "tav 100%n" << "my data 100% \"x\"";
        QTest::newRow("spaces") << "my tav registry" << "my data";
        QTest::newRow("quotes") << "tav\"reg'istry" << "da\"ta'x";
        QTest::newRow("backslash") << "tav\\registry\\n" << "da\\ta";
    }
    void systemdAcceptsTheUnit() {
        QFETCH(QString, programName);
        QFETCH(QString, dataName);
        const QString analyze = QStandardPaths::findExecutable(QStringLiteral("systemd-analyze"));
        if (analyze.isEmpty())
            QSKIP("systemd-analyze is not installed");
        QTemporaryDir dir;
        const QString folder = dir.filePath(QStringLiteral("bin %x $y"));
        QVERIFY(QDir().mkpath(folder));
        const QString program = QDir(folder).filePath(programName);
        QVERIFY(QFile::link(QCoreApplication::applicationFilePath(), program));
        const QString data = dir.filePath(dataName);
        QVERIFY(QDir().mkpath(data));
        QString error;
        const QString text = SystemdServiceManager::unitFileText(program, data, &error);
        QVERIFY2(!text.isEmpty(), qPrintable(error));
        const QString unit = dir.filePath(QStringLiteral("tavregistry.service"));
        put(unit, text.toUtf8());
        QProcess verify;
        verify.setProcessChannelMode(QProcess::MergedChannels);
        verify.start(analyze, {QStringLiteral("verify"), unit});
        QVERIFY(verify.waitForFinished(30000));
        const QByteArray output = verify.readAll();
        QVERIFY2(verify.exitCode() == 0 && output.trimmed().isEmpty(), (text.toUtf8() + output).constData());
    }

    void unsafePathsAreRefused_data() {
        QTest::addColumn<QString>("executable");
        QTest::addColumn<QString>("dataDir");
        QTest::newRow("line break in data folder") << "/usr/bin/tavregistry" << "/srv/x\nExecStartPre=/bin/evil";
        QTest::newRow("relative data folder") << "/usr/bin/tavregistry" << "data";
        QTest::newRow("relative program") << "tavregistry" << "/srv/tav";
        QTest::newRow("empty data folder") << "/usr/bin/tavregistry" << "";
        QTest::newRow("tab in program") << "/usr/bin/tav\tregistry" << "/srv/tav";
    }
    void unsafePathsAreRefused() {
        QFETCH(QString, executable);
        QFETCH(QString, dataDir);
        QString error;
        QVERIFY(SystemdServiceManager::unitFileText(executable, dataDir, &error).isEmpty());
        QVERIFY(!error.isEmpty());

        FakeSystem sys;
        SystemdServiceConfig config = sys.config();
        config.executable = executable;
        config.dataDir = dataDir;
        SystemdServiceManager manager(config);
        QVERIFY(!manager.install(nullptr));
        QVERIFY(!QFile::exists(manager.unitPath()));
        QVERIFY(sys.calls().isEmpty());
    }

    void readinessReachesTheNotifySocket() {
        QTemporaryDir dir;
        const QByteArray path = QFile::encodeName(dir.filePath(QStringLiteral("notify")));
        const int fd = ::socket(AF_UNIX, SOCK_DGRAM | SOCK_CLOEXEC, 0);
        QVERIFY(fd >= 0);
        sockaddr_un addr{};
        addr.sun_family = AF_UNIX;
        qstrncpy(addr.sun_path, path.constData(), sizeof addr.sun_path);
        QCOMPARE(::bind(fd, reinterpret_cast<sockaddr*>(&addr), sizeof addr), 0);
        qputenv("NOTIFY_SOCKET", path);

        SystemdServiceManager manager(SystemdServiceConfig{});
        auto receive = [fd] {
            char buffer[256];
            const ssize_t n = ::recv(fd, buffer, sizeof buffer, MSG_DONTWAIT);
            return n < 0 ? QByteArray("<nothing>") : QByteArray(buffer, int(n));
        };
        manager.notifyReady();
        QCOMPARE(receive(), QByteArray("READY=1"));
        manager.notifyStopping();
        QCOMPARE(receive(), QByteArray("STOPPING=1"));

        // Not started by systemd: nothing is sent, nothing fails.
        qunsetenv("NOTIFY_SOCKET");
        manager.notifyReady();
        QCOMPARE(receive(), QByteArray("<nothing>"));
        ::close(fd);
    }
};

QTEST_GUILESS_MAIN(TestServiceManager)
#include "tst_service_manager.moc"
