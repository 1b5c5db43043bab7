// The update check: which files start the updater, how it is started, the
// shutdown that follows, and an updater that cannot be started.
#include "host/update_check.h"
#include "platform/process_starter.h"
#include "support/registry_fixture.h"

#include <QDir>
#include <QFile>
#include <QProcess>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>

#include <sys/stat.h>
#include <unistd.h>

namespace {

void put(const QString& path, const QByteArray& bytes, bool executable = false) {
    QFile f(path);
    QVERIFY(f.open(QIODevice::WriteOnly | QIODevice::Truncate));
    f.write(bytes);
    f.close();
    QFile::Permissions p = QFile::ReadOwner | QFile::WriteOwner;
    if (executable)
        p |= QFile::ExeOwner;
    QFile::setPermissions(path, p);
}

QByteArray contents(const QString& path) {
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray("<missing>");
}

struct RecordingStarter final : ProcessStarter {
    bool succeed = true;
    QString reason = QStringLiteral("Exec format error");
    QStringList started; // "program @ folder"
    bool startDetached(const QString& program, const QString& folder, QString* errorText) override {
        started << program + QStringLiteral(" @ ") + folder;
        if (!succeed && errorText)
            *errorText = reason;
        return succeed;
    }
};

// The real starter, counted, so that a test sees every attempt on real files.
struct CountingStarter final : ProcessStarter {
    DetachedProcessStarter real;
    int attempts = 0;
    bool startDetached(const QString& program, const QString& folder, QString* errorText) override {
        ++attempts;
        return real.startDetached(program, folder, errorText);
    }
};

// Logs a game server into a slot by hand (the session logic is not what is tested here).
int connectServer(RegistryFixture& f, const QByteArray& name, const QByteArray& address) {
    const int peer = f.connect(address);
    ClientSlot& s = f.reg().slot(f.slotOf(peer));
    s.Mode = SessionMode::Server;
    s.ServerId = name;
    return peer;
}

} // namespace

class TestUpdateCheck : public QObject {
    Q_OBJECT

private slots:
    void nothingHappensWithoutBothFiles_data() {
        QTest::addColumn<bool>("marker");
        QTest::addColumn<bool>("updater");
        QTest::newRow("neither") << false << false;
        QTest::newRow("only regupdate.exe") << true << false;
        QTest::newRow("only updater.exe") << false << true;
    }
    void nothingHappensWithoutBothFiles() {
        QFETCH(bool, marker);
        QFETCH(bool, updater);
        RegistryFixture f;
        RecordingStarter starter;
        f.reg().setProcessStarter(&starter);
        if (marker)
            put(f.dataDir.filePath(QStringLiteral("regupdate.exe")), "x");
        if (updater)
            put(f.dataDir.filePath(QStringLiteral("updater.exe")), "#!/bin/sh\n", true);
        const int lines = f.reg().eventLog().lines().size();
        f.reg().generalTimerTick();
        f.reg().generalTimerTick();
        QVERIFY(starter.started.isEmpty());
        QCOMPARE(f.reg().state(), Registry::State::Running);
        QCOMPARE(f.reg().eventLog().lines().size(), lines);
        f.reg().setProcessStarter(nullptr);
    }

    void folderNamedLikeTheMarkerIsNoUpdate() {
        RegistryFixture f;
        RecordingStarter starter;
        f.reg().setProcessStarter(&starter);
        QDir(f.dataDir.path()).mkdir(QStringLiteral("regupdate.exe"));
        put(f.dataDir.filePath(QStringLiteral("updater.exe")), "#!/bin/sh\n", true);
        f.reg().generalTimerTick();
        QVERIFY(starter.started.isEmpty());
        f.reg().setProcessStarter(nullptr);
    }

    void bothFilesStartTheUpdaterThenShutDown() {
        RegistryFixture f;
        RecordingStarter starter;
        f.reg().setProcessStarter(&starter);
        connectServer(f, "Alpha", "10.0.0.1");
        const int operatorPeer = f.connect("10.0.0.9");
        f.reg().slot(f.slotOf(operatorPeer)).Mode = SessionMode::Operator;
        connectServer(f, "Beta", "10.0.0.2");
        QSignalSpy finished(f.registry.get(), &Registry::shutdownFinished);

        put(f.dataDir.filePath(QStringLiteral("regupdate.exe")), "x");
        put(f.dataDir.filePath(QStringLiteral("updater.exe")), "#!/bin/sh\n", true);
        f.reg().generalTimerTick();

        const QString folder = QDir(f.dataDir.path()).absolutePath();
        QCOMPARE(starter.started, QStringList{folder + QStringLiteral("/updater.exe @ ") + folder});
        QCOMPARE(finished.count(), 1);
        QCOMPARE(f.reg().state(), Registry::State::Ended);
        const QStringList tail = f.reg().eventLog().lines().mid(f.reg().eventLog().lines().size() - 3);
        QCOMPARE(tail, (QStringList{QStringLiteral("Alpha has disconnected from 10.0.0.1"),
                                    QStringLiteral("Operator has disconnected from 10.0.0.9"),
                                    QStringLiteral("Beta has disconnected from 10.0.0.2")}));
        // The operator, in a higher slot than Alpha, heard of Alpha's going.
        QVERIFY(f.received(operatorPeer).contains(frame(6, "Alpha")));
        f.reg().setProcessStarter(nullptr);
    }

    // The updater runs with the registry's rights: one that anybody else
    // could have put there is never started, and one event line says why.
    void untrustedUpdaterIsNotStarted_data() {
        QTest::addColumn<int>("updaterMode");
        QTest::addColumn<int>("folderMode");
        QTest::addColumn<bool>("otherOwner");
        QTest::addColumn<QString>("why");
        QTest::newRow("group-writable updater") << 0770 << 0700 << false << "updater.exe is writable by other users";
        QTest::newRow("world-writable updater") << 0702 << 0700 << false << "updater.exe is writable by other users";
        QTest::newRow("group-writable folder") << 0700 << 0770 << false << "its folder is writable by other users";
        QTest::newRow("world-writable folder") << 0700 << 01777 << false << "its folder is writable by other users";
        QTest::newRow("owned by another user") << 0755 << 0755 << true
                                               << "updater.exe belongs to user 65534, not to this registry's user or root";
    }
    void untrustedUpdaterIsNotStarted() {
        QFETCH(int, updaterMode);
        QFETCH(int, folderMode);
        QFETCH(bool, otherOwner);
        QFETCH(QString, why);
        if (otherOwner && ::geteuid() != 0)
            QSKIP("only root can give a file to another user");
        RegistryFixture f;
        RecordingStarter starter;
        f.reg().setProcessStarter(&starter);
        const QString updater = f.dataDir.filePath(QStringLiteral("updater.exe"));
        put(f.dataDir.filePath(QStringLiteral("regupdate.exe")), "x");
        put(updater, "#!/bin/sh\n", true);
        QCOMPARE(::chmod(QFile::encodeName(updater).constData(), mode_t(updaterMode)), 0);
        if (otherOwner)
            QCOMPARE(::chown(QFile::encodeName(updater).constData(), 65534, 65534), 0);
        QCOMPARE(::chmod(QFile::encodeName(f.dataDir.path()).constData(), mode_t(folderMode)), 0);
        const int lines = f.reg().eventLog().lines().size();
        f.reg().generalTimerTick();
        f.reg().generalTimerTick();
        ::chmod(QFile::encodeName(f.dataDir.path()).constData(), 0700);
        QVERIFY(starter.started.isEmpty());
        QCOMPARE(f.reg().state(), Registry::State::Running);
        QCOMPARE(f.reg().eventLog().lines().mid(lines),
                 QStringList{QStringLiteral("The updater could not be started: ") + why});
        f.reg().setProcessStarter(nullptr);
    }

    void updaterThatCannotStartIsReportedOnceUntilAFileChanges() {
        RegistryFixture f;
        RecordingStarter starter;
        starter.succeed = false;
        f.reg().setProcessStarter(&starter);
        const QString marker = f.dataDir.filePath(QStringLiteral("regupdate.exe"));
        const QString updater = f.dataDir.filePath(QStringLiteral("updater.exe"));
        put(marker, "x");
        put(updater, "not a program");

        const int before = f.reg().eventLog().lines().size();
        for (int i = 0; i < 5; ++i)
            f.reg().generalTimerTick();
        QCOMPARE(starter.started.size(), 1);
        QCOMPARE(f.reg().eventLog().lines().size(), before + 1);
        QCOMPARE(f.reg().eventLog().last(), QStringLiteral("The updater could not be started: Exec format error"));
        QCOMPARE(f.reg().state(), Registry::State::Running);

        // A new updater is tried again (and reported again when it fails too).
        put(updater, "still not a program");
        starter.reason = QStringLiteral("second reason");
        f.reg().generalTimerTick();
        f.reg().generalTimerTick();
        QCOMPARE(starter.started.size(), 2);
        QCOMPARE(f.reg().eventLog().lines().size(), before + 2);
        QCOMPARE(f.reg().eventLog().last(), QStringLiteral("The updater could not be started: second reason"));

        // A replaced marker counts as a change too; this time it works.
        QFile::remove(marker);
        put(marker, "xy");
        starter.succeed = true;
        f.reg().generalTimerTick();
        QCOMPARE(starter.started.size(), 3);
        QCOMPARE(f.reg().state(), Registry::State::Ended);
        f.reg().setProcessStarter(nullptr);
    }

    void modeChangesAreChangesAndEachCauseIsReportedOnce() {
        RegistryFixture f;
        CountingStarter starter;
        f.reg().setProcessStarter(&starter);
        const QString updater = QDir(f.dataDir.path()).absoluteFilePath(QStringLiteral("updater.exe"));
        put(f.dataDir.filePath(QStringLiteral("regupdate.exe")), "x");
        put(updater, "\x7f" "ELF garbage");
        const int before = f.reg().eventLog().lines().size();
        f.reg().generalTimerTick();
        f.reg().generalTimerTick();
        QCOMPARE(starter.attempts, 1);
        QCOMPARE(f.reg().eventLog().lines().size(), before + 1);
        QCOMPARE(f.reg().eventLog().last(),
                 QStringLiteral("The updater could not be started: %1 is not executable").arg(updater));

        // Another mode, still not executable: tried again, but the cause is
        // the one already reported.
        QVERIFY(QFile::setPermissions(updater, QFile::ReadOwner | QFile::WriteOwner | QFile::ReadGroup));
        f.reg().generalTimerTick();
        f.reg().generalTimerTick();
        QCOMPARE(starter.attempts, 2);
        QCOMPARE(f.reg().eventLog().lines().size(), before + 1);

        // chmod +x: tried at once; it fails for a new cause, which gets its line.
        QVERIFY(QFile::setPermissions(updater, QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner));
        f.reg().generalTimerTick();
        f.reg().generalTimerTick();
        QCOMPARE(starter.attempts, 3);
        QCOMPARE(f.reg().eventLog().lines().size(), before + 2);
        QVERIFY2(f.reg().eventLog().last().startsWith(QStringLiteral("The updater could not be started: ")) &&
                     !f.reg().eventLog().last().endsWith(QStringLiteral("is not executable")),
                 qPrintable(f.reg().eventLog().last()));
        QCOMPARE(f.reg().state(), Registry::State::Running);

        // A working updater in its place runs, and the registry hands over.
        put(updater, "#!/bin/sh\nexit 0\n", true);
        f.reg().generalTimerTick();
        QCOMPARE(starter.attempts, 4);
        QCOMPARE(f.reg().state(), Registry::State::Ended);
        f.reg().setProcessStarter(nullptr);
    }

    void realStarterRunsTheUpdaterInTheDataFolder() {
        QTemporaryDir dir;
        const QString updater = dir.filePath(QStringLiteral("updater.exe"));
        put(updater, "#!/bin/sh\npwd > started-in.txt\necho \"$#\" >> started-in.txt\n", true);
        DetachedProcessStarter starter;
        QString error;
        QVERIFY2(starter.startDetached(updater, dir.path(), &error), qPrintable(error));
        const QString marker = dir.filePath(QStringLiteral("started-in.txt"));
        QTRY_VERIFY_WITH_TIMEOUT(contents(marker).endsWith("\n0\n"), 5000);
        QCOMPARE(contents(marker), QFile::encodeName(QDir(dir.path()).canonicalPath()) + "\n0\n");
    }

    void realStarterNamesWhyAnUpdaterCannotStart_data() {
        QTest::addColumn<QByteArray>("body");
        QTest::addColumn<bool>("executable");
        QTest::addColumn<QString>("reasonPart");
        QTest::newRow("no execute bit") << QByteArray("#!/bin/sh\nexit 0\n") << false << "is not executable";
        QTest::newRow("not a program") << QByteArray("\x7f" "ELF garbage") << true << "updater.exe: ";
        QTest::newRow("missing interpreter") << QByteArray("#!/no/such/interpreter\n") << true << "the interpreter named in its first line cannot be run";
        QTest::newRow("missing file") << QByteArray() << false << "does not exist";
    }
    void realStarterNamesWhyAnUpdaterCannotStart() {
        QFETCH(QByteArray, body);
        QFETCH(bool, executable);
        QFETCH(QString, reasonPart);
        QTemporaryDir dir;
        const QString updater = dir.filePath(QStringLiteral("updater.exe"));
        if (!body.isEmpty())
            put(updater, body, executable);
        DetachedProcessStarter starter;
        QString error;
        QVERIFY(!starter.startDetached(updater, dir.path(), &error));
        QVERIFY2(error.contains(reasonPart), qPrintable(error));
    }

    // The whole way, on the real program: a headless registry notices the
    // update within a tick or two, starts the updater and ends with exit code 0.
    void headlessRegistryHandsOverToTheUpdater() {
        const QString program = qEnvironmentVariable("TAVREGISTRY_BIN");
        if (program.isEmpty())
            QSKIP("TAVREGISTRY_BIN is not set");
        QTemporaryDir dir;
        put(dir.filePath(QStringLiteral("updater.exe")), "#!/bin/sh\npwd > updater-ran.txt\n", true);
        QProcess registry;
        registry.setProgram(program);
        registry.setArguments({QStringLiteral("--data-dir"), dir.path(), QStringLiteral("--port"), QStringLiteral("0"),
                               QStringLiteral("--listen"), QStringLiteral("127.0.0.1"), QStringLiteral("--headless"),
                               QStringLiteral("--bus"), QStringLiteral("none")});
        registry.start();
        QVERIFY(registry.waitForStarted(5000));
        QByteArray output;
        QTRY_VERIFY2_WITH_TIMEOUT((output += registry.readAllStandardOutput()).contains("has loaded"),
                                  output + registry.readAllStandardError(), 10000);
        QTest::qWait(600);
        QCOMPARE(registry.state(), QProcess::Running); // only the updater: nothing happens

        put(dir.filePath(QStringLiteral("regupdate.exe")), "marker");
        QVERIFY(registry.waitForFinished(10000));
        QCOMPARE(registry.exitStatus(), QProcess::NormalExit);
        QCOMPARE(registry.exitCode(), 0);
        QTRY_COMPARE_WITH_TIMEOUT(contents(dir.filePath(QStringLiteral("updater-ran.txt"))),
                                  QFile::encodeName(QDir(dir.path()).canonicalPath()) + "\n", 5000);
        QVERIFY(QFile::exists(dir.filePath(QStringLiteral("regupdate.exe")))); // never deleted by us
    }
};

QTEST_GUILESS_MAIN(TestUpdateCheck)
#include "tst_update_check.moc"
