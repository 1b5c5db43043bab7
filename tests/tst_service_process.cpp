// The registry as a service manager runs it: one registry per data folder,
// what it tells a notify socket, SIGHUP, SIGQUIT and SIGUSR1, the event lines
// on standard output, the journal's priority prefixes and the default data
// folder of an installed program. Every case runs the built program.
#include "client/blocking_client.h"
#include "client/messages.h"
#include "client/replies.h"
#include "support/registry_process.h"
#include "support/test_files.h"

#include <QCryptographicHash>
#include <QDeadlineTimer>
#include <QDir>
#include <QDirIterator>
#include <QFileInfo>
#include <QTcpServer>
#include <QTemporaryDir>
#include <QTest>

#include <csignal>
#include <poll.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

using namespace TavClient;

namespace {

const QByteArray kFirstCode = "QWZRTPLKMX";
const QByteArray kSecondCode = "ZKRTQWPMNBVCXLKJHGFD";

// Every file of a folder with its size, time and content: "nothing changed".
QStringList folderState(const QString& folder) {
    QStringList state;
    QDirIterator it(folder, QDir::AllEntries | QDir::Hidden | QDir::System | QDir::NoDotAndDotDot);
    while (it.hasNext()) {
        const QFileInfo info(it.next());
        state << QStringLiteral("%1 %2 %3 %4")
                     .arg(info.fileName())
                     .arg(info.size())
                     .arg(info.lastModified().toMSecsSinceEpoch())
                     .arg(QString::fromLatin1(
                         QCryptographicHash::hash(contents(info.filePath()), QCryptographicHash::Sha1).toHex()));
    }
    state.sort();
    return state;
}

// Reads standard error until it holds `needle` or the process ends.
QByteArray waitForError(RegistryProcess& p, const QByteArray& needle) {
    QDeadlineTimer deadline(10000);
    while (!p.errors().contains(needle) && !deadline.hasExpired() && p.process().state() == QProcess::Running)
        p.process().waitForReadyRead(100);
    return p.errors();
}

QByteArray waitForOutput(RegistryProcess& p, QByteArray& out, const QByteArray& needle) {
    QDeadlineTimer deadline(10000);
    while (!(out += p.process().readAllStandardOutput()).contains(needle) && !deadline.hasExpired() &&
           p.process().state() == QProcess::Running)
        p.process().waitForReadyRead(100);
    return out;
}

// A datagram socket of our own, given to the registry as NOTIFY_SOCKET.
struct NotifySocket {
    QTemporaryDir dir;
    QByteArray path;
    int fd = -1;

    NotifySocket() {
        path = QFile::encodeName(dir.filePath(QStringLiteral("notify")));
        fd = ::socket(AF_UNIX, SOCK_DGRAM | SOCK_CLOEXEC, 0);
        sockaddr_un addr{};
        addr.sun_family = AF_UNIX;
        qstrncpy(addr.sun_path, path.constData(), sizeof addr.sun_path);
        if (::bind(fd, reinterpret_cast<sockaddr*>(&addr), sizeof addr) != 0) {
            ::close(fd);
            fd = -1;
        }
    }
    ~NotifySocket() {
        if (fd >= 0)
            ::close(fd);
    }
    // The next datagram, or empty when none comes within the wait.
    QByteArray next(int waitMs = 10000) {
        pollfd p{fd, POLLIN, 0};
        if (::poll(&p, 1, waitMs) <= 0)
            return {};
        char buffer[4096];
        const ssize_t n = ::recv(fd, buffer, sizeof buffer, 0);
        return n > 0 ? QByteArray(buffer, int(n)) : QByteArray();
    }
    // Datagrams until one starts with `prefix` (included); empty when none does.
    QList<QByteArray> until(const QByteArray& prefix) {
        QList<QByteArray> seen;
        for (QByteArray d = next(); !d.isEmpty(); d = next()) {
            seen << d;
            if (d.startsWith(prefix))
                return seen;
        }
        return {};
    }
    QList<QByteArray> rest() {
        QList<QByteArray> seen;
        for (QByteArray d = next(0); !d.isEmpty(); d = next(0))
            seen << d;
        return seen;
    }
};

void putServiceSetting(const QString& folder) {
    put(QDir(folder).filePath(QStringLiteral("server.ini")), "[TavRegistry]\nService=True\nAutoAllow=True\n");
}

quint16 freePort() {
    QTcpServer probe;
    probe.listen(QHostAddress::LocalHost, 0);
    return probe.serverPort();
}

Replies::LoginResult loginResult(quint16 port, const QByteArray& message) {
    BlockingClient client;
    if (!client.connectTo(QStringLiteral("127.0.0.1"), port) || !client.send(message))
        return Replies::LoginResult::Unexpected;
    const std::optional<Frame> f = client.readFrame();
    return f ? Replies::parseLoginReply(*f).result : Replies::LoginResult::Unexpected;
}

} // namespace

class TestServiceProcess : public QObject {
    Q_OBJECT

private slots:
    void initTestCase() { QVERIFY(QFileInfo(RegistryProcess::binary()).isExecutable()); }

    void secondRegistryOnTheSameFolderRefusesAtOnce_data() {
        QTest::addColumn<bool>("samePort");
        QTest::newRow("another port") << false;
        QTest::newRow("the same port") << true;
    }
    void secondRegistryOnTheSameFolderRefusesAtOnce() {
        QFETCH(bool, samePort);
        QTemporaryDir dir;
        put(dir.filePath(QStringLiteral("server.ini")), "[TavRegistry]\nAutoAllow=True\n");
        RegistryProcess first;
        const quint16 port = first.start(dir.path());
        QVERIFY2(port != 0, first.errors().constData());
        const QStringList before = folderState(dir.path());

        RegistryProcess second;
        second.setExtraArguments({QStringLiteral("--port"), samePort ? QString::number(port) : QStringLiteral("0")});
        QVERIFY(second.launch(dir.path()));
        QVERIFY(second.process().waitForFinished(10000));
        QCOMPARE(second.process().exitCode(), 1);
        const QByteArray errors = second.errors();
        const QByteArray expected = "tavregistry: start-up failed: the data folder " + QFile::encodeName(dir.path()) +
                                    " is in use by another registry (process " + QByteArray::number(first.pid()) +
                                    ")\n";
        QCOMPARE(errors, expected);
        QCOMPARE(second.process().readAllStandardOutput(), QByteArray());
        QCOMPARE(folderState(dir.path()), before);

        // The first registry was not disturbed: what it stores survives its restart.
        QCOMPARE(loginResult(port, Messages::registerServer("alpha", "pw1")), Replies::LoginResult::Accepted);
        QVERIFY(first.terminate());
        RegistryProcess again;
        const quint16 port2 = again.start(dir.path());
        QVERIFY2(port2 != 0, again.errors().constData());
        QCOMPARE(loginResult(port2, Messages::login("alpha", "wrong")), Replies::LoginResult::WrongPassword);
        QCOMPARE(loginResult(port2, Messages::login("alpha", "pw1")), Replies::LoginResult::Accepted);
        QVERIFY(again.terminate());
    }

    void notifySocketHearsReadinessWatchdogStatusAndStopping() {
        NotifySocket notify;
        QVERIFY(notify.fd >= 0);
        QTemporaryDir dir;
        putServiceSetting(dir.path());
        const quint16 port = freePort();
        RegistryProcess p;
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert(QStringLiteral("NOTIFY_SOCKET"), QString::fromLocal8Bit(notify.path));
        env.insert(QStringLiteral("WATCHDOG_USEC"), QStringLiteral("200000"));
        env.remove(QStringLiteral("WATCHDOG_PID"));
        p.process().setProcessEnvironment(env);
        p.setExtraArguments({QStringLiteral("--port"), QString::number(port), QStringLiteral("--listen"),
                             QStringLiteral("127.0.0.1")});
        QVERIFY(p.launch(dir.path()));

        // Readiness comes first, and only once the port takes connections.
        QCOMPARE(notify.next(), QByteArray("READY=1"));
        QTcpSocket probe;
        probe.connectToHost(QHostAddress::LocalHost, port);
        QVERIFY(probe.waitForConnected(5000));
        probe.disconnectFromHost();

        const QList<QByteArray> first = notify.until("STATUS=");
        QVERIFY(!first.isEmpty());
        QCOMPARE(first.last(), QByteArray("STATUS=Listening on port ") + QByteArray::number(port) +
                                   "; 0 connections; 0 servers online");
        // The watchdog asked for 200 ms: "still alive" keeps coming.
        QVERIFY(!notify.until("WATCHDOG=1").isEmpty());
        QVERIFY(!notify.until("WATCHDOG=1").isEmpty());

        // A logged-in server shows in the status line.
        BlockingClient server;
        QVERIFY(server.connectTo(QStringLiteral("127.0.0.1"), port));
        QVERIFY(server.send(Messages::registerServer("beta", "pw")));
        QVERIFY(server.readFrame());
        QVERIFY(!notify.until("STATUS=Listening on port " + QByteArray::number(port) +
                              "; 1 connection; 1 server online")
                     .isEmpty());

        QVERIFY(p.terminate());
        const QList<QByteArray> last = notify.rest();
        QVERIFY(last.contains("STOPPING=1"));
        // Nothing but the watchdog after "stopping".
        for (const QByteArray& d : last.mid(last.indexOf("STOPPING=1") + 1))
            QCOMPARE(d, QByteArray("WATCHDOG=1"));
        QVERIFY(!last.contains("READY=1"));
    }

    // Without Service=True in server.ini only the daemon, whose packaged unit
    // waits for readiness, reports to systemd.
    void readinessWithoutTheServiceSetting_data() {
        QTest::addColumn<bool>("daemon");
        QTest::newRow("tavregistryd") << true;
        QTest::newRow("tavregistry") << false;
    }
    void readinessWithoutTheServiceSetting() {
        QFETCH(bool, daemon);
        NotifySocket notify;
        QVERIFY(notify.fd >= 0);
        QTemporaryDir dir;
        RegistryProcess p;
        if (daemon) {
            QVERIFY(QFileInfo(RegistryProcess::daemonBinary()).isExecutable());
            p.setProgram(RegistryProcess::daemonBinary());
        }
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert(QStringLiteral("NOTIFY_SOCKET"), QString::fromLocal8Bit(notify.path));
        env.remove(QStringLiteral("WATCHDOG_USEC"));
        p.process().setProcessEnvironment(env);
        const quint16 port = p.start(dir.path());
        QVERIFY2(port != 0, p.errors().constData());
        QVERIFY(p.terminate());
        const QList<QByteArray> sent = notify.rest();
        if (daemon) {
            QVERIFY(sent.size() >= 2);
            QCOMPARE(sent.first(), QByteArray("READY=1"));
            QCOMPARE(sent.count("READY=1"), 1);
            QVERIFY(sent.indexOf("STOPPING=1") > 0);
        } else {
            QVERIFY(!sent.contains("READY=1"));
            QVERIFY(!sent.contains("STOPPING=1"));
        }
    }

    void failedStartSaysWhyAndNeverReady() {
        NotifySocket notify;
        QTcpServer blocker;
        QVERIFY(blocker.listen(QHostAddress::Any, 0));
        QTemporaryDir dir;
        putServiceSetting(dir.path());
        RegistryProcess p;
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert(QStringLiteral("NOTIFY_SOCKET"), QString::fromLocal8Bit(notify.path));
        p.process().setProcessEnvironment(env);
        p.setExtraArguments({QStringLiteral("--port"), QString::number(blocker.serverPort())});
        QVERIFY(p.launch(dir.path()));
        QVERIFY(p.process().waitForFinished(10000));
        QCOMPARE(p.process().exitCode(), 1);
        const QList<QByteArray> sent = notify.rest();
        QCOMPARE(sent.size(), 1);
        QVERIFY2(sent.first().startsWith("STATUS=Start-up failed: cannot listen on 0.0.0.0 port " +
                                         QByteArray::number(blocker.serverPort()) + ": "),
                 sent.first().constData());
    }

    void sighupReloadsAndRefusesAnInvalidFile() {
        QTemporaryDir dir;
        const QString conf = dir.filePath(QStringLiteral("tavregistry.conf"));
        put(conf, "; nothing set yet\n[limits]\n");
        RegistryProcess p;
        const quint16 port = p.start(dir.path());
        QVERIFY2(port != 0, p.errors().constData());

        put(conf, "[limits]\n# a typo must not pass\nno-such-key = 5\n");
        ::kill(pid_t(p.pid()), SIGHUP);
        const QByteArray refused = "tavregistry: configuration not reloaded, the settings in force stay: " +
                                   QFile::encodeName(conf) + ":3: unknown key 'no-such-key' in [limits]\n";
        QVERIFY2(waitForError(p, refused).contains(refused), p.errors().constData());
        QCOMPARE(p.process().state(), QProcess::Running);
        QCOMPARE(loginResult(port, Messages::login("nobody", "pw")), Replies::LoginResult::Refused);

        put(conf, "[http]\n");
        ::kill(pid_t(p.pid()), SIGHUP);
        const QByteArray reloaded = refused + "tavregistry: configuration reloaded from " + QFile::encodeName(conf) + "\n";
        QVERIFY2(waitForError(p, reloaded).contains(reloaded), p.errors().constData());
        QVERIFY(p.terminate());
    }

    void invalidConfigurationRefusesStartUp_data() {
        QTest::addColumn<QByteArray>("text");
        QTest::addColumn<QByteArray>("fault");
        QTest::newRow("unknown section") << QByteArray("# c\n[limit]\n") << QByteArray(":2: unknown section [limit]");
        QTest::newRow("key before a section") << QByteArray("x = 1\n") << QByteArray(":1: key 'x' stands before any [section]");
    }
    void invalidConfigurationRefusesStartUp() {
        QFETCH(QByteArray, text);
        QFETCH(QByteArray, fault);
        QTemporaryDir dir;
        const QString conf = dir.filePath(QStringLiteral("my.conf"));
        put(conf, text);
        RegistryProcess p;
        p.setExtraArguments({QStringLiteral("--config"), conf});
        QVERIFY(p.launch(dir.path()));
        QVERIFY(p.process().waitForFinished(10000));
        QCOMPARE(p.process().exitCode(), 1);
        QCOMPARE(p.errors(), "tavregistry: start-up failed: " + QFile::encodeName(conf) + fault + "\n");
        QVERIFY(!QFile::exists(dir.filePath(QStringLiteral("qbrx.dat"))));
    }

    void unknownConfigurationOptionIsABadArgument() {
        QTemporaryDir dir;
        RegistryProcess p;
        p.setExtraArguments({QStringLiteral("--limits-no-such-key"), QStringLiteral("3")});
        QVERIFY(p.launch(dir.path()));
        QVERIFY(p.process().waitForFinished(10000));
        QCOMPARE(p.process().exitCode(), 2);
        QCOMPARE(p.errors(), QByteArray("tavregistry: unknown option --limits-no-such-key\n"));
    }

    void sigquitShutsDownCleanlyAndSigusr1IsIgnored() {
        QTemporaryDir dir;
        put(dir.filePath(QStringLiteral("server.ini")), "[TavRegistry]\nAutoAllow=True\n");
        RegistryProcess p;
        const quint16 port = p.start(dir.path());
        QVERIFY(port != 0);
        BlockingClient server;
        QVERIFY(server.connectTo(QStringLiteral("127.0.0.1"), port));
        QVERIFY(server.send(Messages::registerServer("gamma", "pw")));
        QVERIFY(server.readFrame());

        ::kill(pid_t(p.pid()), SIGUSR1);
        const QByteArray ignored = "tavregistry: signal " + QByteArray::number(SIGUSR1) + " ignored\n";
        QVERIFY2(waitForError(p, ignored).contains(ignored), p.errors().constData());
        QCOMPARE(p.process().state(), QProcess::Running);

        ::kill(pid_t(p.pid()), SIGQUIT);
        QVERIFY(p.process().waitForFinished(10000));
        QCOMPARE(p.process().exitStatus(), QProcess::NormalExit);
        QCOMPARE(p.process().exitCode(), 0);
        // The shutdown sequence ran: the server's going was logged.
        QVERIFY(p.process().readAllStandardOutput().endsWith("gamma has disconnected from 127.0.0.1\n"));
    }

    // A broadcast with a line break and an escape sequence is one event line.
    void controlCharactersInAnEventAreEscapedOnStandardOutput() {
        QTemporaryDir dir;
        RegistryProcess p;
        const quint16 port = p.start(dir.path());
        QVERIFY(port != 0);
        BlockingClient op;
        QVERIFY(op.connectTo(QStringLiteral("127.0.0.1"), port));
        QVERIFY(op.send(Messages::operatorLogin(kFirstCode, kSecondCode)));
        QVERIFY(op.send(Messages::broadcast("line\nTavRegistry v9 \x1b[2Jfake\\x\r")));
        QByteArray out;
        const QByteArray expected = "Operator: line\\nTavRegistry v9 \\x1b[2Jfake\\\\x\\r\n";
        QVERIFY2(waitForOutput(p, out, expected).endsWith(expected), out.constData());
        QVERIFY(p.terminate());
    }

    void journalGetsPriorityPrefixesOnlyWhenItIsStandardError_data() {
        QTest::addColumn<bool>("matching");
        QTest::newRow("JOURNAL_STREAM names standard error") << true;
        QTest::newRow("JOURNAL_STREAM names another file") << false;
    }
    void journalGetsPriorityPrefixesOnlyWhenItIsStandardError() {
        QFETCH(bool, matching);
        QTemporaryDir dir;
        const QString errFile = dir.filePath(QStringLiteral("stderr.txt"));
        put(errFile, "");
        struct stat st {};
        QCOMPARE(::stat(QFile::encodeName(errFile).constData(), &st), 0);
        const QString stream = matching ? QStringLiteral("%1:%2").arg(st.st_dev).arg(st.st_ino)
                                        : QStringLiteral("%1:%2").arg(st.st_dev).arg(st.st_ino + 1);
        const QString data = dir.filePath(QStringLiteral("data"));
        const QString conf = dir.filePath(QStringLiteral("bad.conf"));
        put(conf, "[database]\nhost = x\n");

        QProcess p;
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert(QStringLiteral("JOURNAL_STREAM"), stream);
        p.setProcessEnvironment(env);
        p.setStandardErrorFile(errFile, QIODevice::Append);
        p.start(RegistryProcess::binary(), {QStringLiteral("--headless"), QStringLiteral("--bus"), QStringLiteral("none"),
                                            QStringLiteral("--data-dir"), data, QStringLiteral("--config"), conf});
        QVERIFY(p.waitForFinished(10000));
        QCOMPARE(p.exitCode(), 1);
        const QByteArray line = "tavregistry: start-up failed: " + QFile::encodeName(conf) +
                                ":2: unknown key 'host' in [database]\n";
        QCOMPARE(contents(errFile), matching ? "<3>" + line : line);
    }

    // A file's text reaches standard error escaped: an escape sequence or a
    // line break in a bad key can neither drive the terminal nor forge a line.
    void diagnosticsEscapeControlCharacters() {
        QTemporaryDir dir;
        const QString data = dir.filePath(QStringLiteral("data"));
        const QString conf = dir.filePath(QStringLiteral("bad.conf"));
        put(conf, "[limits]\nx\x1b[2Jy\x07 = 1\n");

        QProcess p;
        p.start(RegistryProcess::binary(), {QStringLiteral("--headless"), QStringLiteral("--bus"), QStringLiteral("none"),
                                            QStringLiteral("--data-dir"), data, QStringLiteral("--config"), conf});
        QVERIFY(p.waitForFinished(10000));
        QCOMPARE(p.exitCode(), 1);
        const QByteArray err = p.readAllStandardError();
        QVERIFY2(!err.contains('\x1b') && !err.contains('\x07'), err.constData());
        QVERIFY2(err.contains("unknown key 'x\\x1b[2Jy\\x07' in [limits]"), err.constData());
        QCOMPARE(err.count('\n'), 1);
    }

    // An installed program (in a bin/ folder) keeps its data under
    // $XDG_DATA_HOME and writes nothing beside itself.
    void installedProgramKeepsItsDataInTheXdgFolder() {
        QTemporaryDir root;
        const QString bin = root.filePath(QStringLiteral("prefix/bin"));
        QVERIFY(QDir().mkpath(bin));
        const QString program = bin + QStringLiteral("/tavregistry");
        QVERIFY(QFile::copy(RegistryProcess::binary(), program));
        const QString xdg = root.filePath(QStringLiteral("xdg"));
        QProcess p;
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert(QStringLiteral("XDG_DATA_HOME"), xdg);
        p.setProcessEnvironment(env);
        p.start(program, {QStringLiteral("--headless"), QStringLiteral("--bus"), QStringLiteral("none"),
                          QStringLiteral("--port"), QStringLiteral("0")});
        QVERIFY(p.waitForStarted(5000));
        QDeadlineTimer deadline(10000);
        QByteArray out;
        while (!(out += p.readAllStandardOutput()).contains("has loaded") && !deadline.hasExpired())
            p.waitForReadyRead(100);
        QVERIFY2(out.contains("has loaded"), p.readAllStandardError().constData());
        ::kill(pid_t(p.processId()), SIGTERM);
        QVERIFY(p.waitForFinished(10000));
        QCOMPARE(p.exitCode(), 0);
        QVERIFY(QFileInfo(xdg + QStringLiteral("/tavregistry/qbrx.dat")).isFile());
        QCOMPARE(QDir(bin).entryList(QDir::AllEntries | QDir::Hidden | QDir::NoDotAndDotDot),
                 QStringList{QStringLiteral("tavregistry")});
    }
};

QTEST_GUILESS_MAIN(TestServiceProcess)
#include "tst_service_process.moc"
