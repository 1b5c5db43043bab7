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
#include <sys/un.h>
#include <unistd.h>

namespace {


// A temporary unit folder and a systemctl stand-in that logs each call (and
// whether the unit file existed then) and fails the command named in "fail-on".
struct FakeSystem {
    QTemporaryDir root;
    QString unitFolder;
    QString systemctl;
    QString log;

    FakeSystem() {
        unitFolder = root.filePath(QStringLiteral("units"));
        QDir().mkpath(unitFolder);
        systemctl = root.filePath(QStringLiteral("systemctl"));
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
        QFile::setPermissions(systemctl, QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
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
        c.executable = QStringLiteral("/opt/tav/bin/tavregistry");
        c.dataDir = QStringLiteral("/var/lib/tav");
        return c;
    }
};

const QByteArray kExpectedUnit = "[Unit]\n"
                                 "Description=Tarvane Classic Server Registry\n"
                                 "After=network.target\n"
                                 "\n"
                                 "[Service]\n"
                                 "Type=notify\n"
                                 "ExecStart=\"/opt/tav/bin/tavregistry\" --data-dir \"/var/lib/tav\" --headless --bus system\n"
                                 "Restart=on-failure\n"
                                 "KillMode=process\n"
                                 "NoNewPrivileges=yes\n"
                                 "ProtectSystem=strict\n"
                                 "ReadWritePaths=\"/var/lib/tav\"\n"
                                 "PrivateTmp=yes\n"
                                 "\n"
                                 "[Install]\n"
                                 "WantedBy=multi-user.target\n";

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
        QCOMPARE(contents(manager.unitPath()), kExpectedUnit);
        QCOMPARE(sys.calls(), (QStringList{QStringLiteral("daemon-reload (unit)"),
                                           QStringLiteral("enable tavregistry.service (unit)")}));
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
        QCOMPARE(contents(manager.unitPath()), kExpectedUnit);
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
