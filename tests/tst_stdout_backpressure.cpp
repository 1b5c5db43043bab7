// Standard output that nobody reads: the event lines wait in a bounded queue,
// the registry goes on serving, and the lines that did not fit are reported
// once the reader is back.
#include "client/blocking_client.h"
#include "client/messages.h"
#include "client/replies.h"
#include "host/event_echo.h"
#include "support/registry_process.h"
#include "support/test_files.h"

#include <QDeadlineTimer>
#include <QDir>
#include <QProcess>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <QTest>

#include <csignal>
#include <fcntl.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

using namespace TavClient;

namespace {

struct Pipe {
    int read = -1, write = -1;
    Pipe() {
        int fds[2];
        if (::pipe2(fds, O_CLOEXEC) == 0) {
            read = fds[0];
            write = fds[1];
        }
    }
    ~Pipe() {
        closeWrite();
        if (read >= 0)
            ::close(read);
    }
    void closeWrite() {
        if (write >= 0)
            ::close(write);
        write = -1;
    }
    // Everything readable within `ms` of quiet.
    QByteArray drain(int ms = 200) const {
        QByteArray out;
        char buf[65536];
        for (;;) {
            pollfd p{read, POLLIN, 0};
            if (::poll(&p, 1, ms) <= 0)
                return out;
            const ssize_t n = ::read(read, buf, sizeof buf);
            if (n <= 0)
                return out;
            out.append(buf, n);
        }
    }
};

QByteArray line(int i) { return "event " + QByteArray::number(i) + "\n"; }

bool isNonBlocking(int fd) { return ::fcntl(fd, F_GETFL) & O_NONBLOCK; }

} // namespace

class StdoutBackpressureTest : public QObject {
    Q_OBJECT
private slots:
    void linesThatDoNotFitAreCountedAndReportedInPlace() {
        Pipe pipe;
        QVERIFY(pipe.read >= 0);
        QVERIFY(::fcntl(pipe.write, F_SETPIPE_SZ, 4096) >= 4096);
        const int pipeSize = ::fcntl(pipe.write, F_GETPIPE_SZ);
        EventEcho echo(pipe.write, 100);

        // "event N\n" is 8 bytes for N < 10 and 9 for N < 100.
        QByteArray expected;
        int i = 0;
        qsizetype written = 0;
        while (written + line(i).size() <= pipeSize) { // what the pipe itself takes
            echo.append(QString::fromLatin1(line(i).chopped(1)));
            echo.flush();
            expected += line(i);
            written += line(i).size();
            ++i;
        }
        QCOMPARE(echo.queuedBytes(), 0);
        // Then the queue: lines while they fit whole into 100 bytes.
        qsizetype queued = 0;
        while (queued + line(i).size() <= 100) {
            echo.append(QString::fromLatin1(line(i).chopped(1)));
            echo.flush();
            queued += line(i).size();
            expected += line(i);
            ++i;
        }
        QCOMPARE(echo.queuedBytes(), queued);
        QCOMPARE(echo.droppedLines(), quint64(0));
        // A short line that would still fit does not slip in behind a dropped one.
        echo.append(QStringLiteral("a line too many for the queue, so it is dropped"));
        echo.append(QStringLiteral("x"));
        echo.append(QStringLiteral("y"));
        echo.flush();
        QCOMPARE(echo.droppedLines(), quint64(3));
        QCOMPARE(echo.queuedBytes(), queued);

        // The reader is back: the queue goes out, then the report, then new lines.
        QByteArray got = pipe.drain(50);
        echo.flush();
        got += pipe.drain(50);
        echo.flush();
        got += pipe.drain(50);
        expected += "3 event lines were dropped: standard output was not being read\n";
        QCOMPARE(got, expected);
        QCOMPARE(echo.droppedLines(), quint64(0));
        echo.append(QStringLiteral("after"));
        echo.flush();
        QCOMPARE(pipe.drain(50), QByteArray("after\n"));
    }

    void theSharedDescriptionKeepsItsFlags() {
        Pipe pipe;
        QVERIFY(!isNonBlocking(pipe.write));
        {
            EventEcho echo(pipe.write);
            echo.append(QStringLiteral("one"));
            echo.flush();
            // A terminal or the shell's pipe would now be non-blocking for
            // every other process sharing it.
            QVERIFY(!isNonBlocking(pipe.write));
        }
        QVERIFY(!isNonBlocking(pipe.write));
        QCOMPARE(pipe.drain(50), QByteArray("one\n"));
    }

    void aRegularFileGetsEveryLineAtTheSharedOffset() {
        QTemporaryDir dir;
        const QByteArray path = QFile::encodeName(dir.filePath(QStringLiteral("out.log")));
        const int fd = ::open(path.constData(), O_WRONLY | O_CREAT | O_APPEND | O_CLOEXEC, 0600);
        QVERIFY(fd >= 0);
        QCOMPARE(::write(fd, "before\n", 7), ssize_t(7));
        {
            // Far more than the queue holds: a file is always writable.
            EventEcho echo(fd, 64);
            for (int i = 0; i < 1000; ++i)
                echo.append(QStringLiteral("line %1").arg(i));
            echo.flush();
            QCOMPARE(echo.droppedLines(), quint64(0));
        }
        QCOMPARE(::write(fd, "after\n", 6), ssize_t(6));
        ::close(fd);
        QFile f(QString::fromLocal8Bit(path));
        QVERIFY(f.open(QIODevice::ReadOnly));
        const QList<QByteArray> lines = f.readAll().split('\n');
        QCOMPARE(lines.size(), 1003); // before, 1000 lines, after, and the empty rest
        QCOMPARE(lines.first(), QByteArray("before"));
        QCOMPARE(lines[1], QByteArray("line 0"));
        QCOMPARE(lines[1000], QByteArray("line 999"));
        QCOMPARE(lines[1001], QByteArray("after"));
    }

    void aStalledSocketDoesNotBlockEither() {
        int sv[2];
        QVERIFY(::socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, sv) == 0);
        int small = 4096;
        ::setsockopt(sv[0], SOL_SOCKET, SO_SNDBUF, &small, sizeof small);
        {
            EventEcho echo(sv[0], 1024);
            // Without MSG_DONTWAIT this would hang once the socket is full.
            for (int i = 0; i < 20000; ++i) {
                echo.append(QStringLiteral("socket line %1").arg(i));
                if (i % 100 == 0)
                    echo.flush();
            }
            echo.flush();
            QVERIFY(echo.droppedLines() > 0);
            QVERIFY(echo.queuedBytes() <= 1024);
        }
        QVERIFY(!isNonBlocking(sv[0]));
        ::close(sv[0]);
        ::close(sv[1]);
    }

    void aClosedReaderEndsTheEchoQuietly() {
        signal(SIGPIPE, SIG_IGN); // as the program does
        Pipe pipe;
        ::close(pipe.read);
        pipe.read = -1;
        EventEcho echo(pipe.write, 64);
        for (int i = 0; i < 100; ++i)
            echo.append(QStringLiteral("into nowhere"));
        echo.flush();
        QCOMPARE(echo.queuedBytes(), 0);
        QCOMPARE(echo.droppedLines(), quint64(0));
    }

    // The real program with its standard output on a pipe that is not read:
    // clients are still answered, and the drop report has the right count.
    void theRegistryServesWhileStandardOutputIsStalled() {
        QTemporaryDir dir;
        put(QDir(dir.path()).filePath(QStringLiteral("server.ini")), "[TavRegistry]\nAutoAllow=True\n");
        Pipe pipe;
        QVERIFY(pipe.read >= 0);
        QProcess proc;
        proc.setProgram(RegistryProcess::binary());
        proc.setArguments({"--headless", "--bus", "none", "--port", "0", "--data-dir", dir.path()});
        const int target = pipe.write;
        proc.setChildProcessModifier([target] { ::dup2(target, STDOUT_FILENO); });
        proc.start();
        QVERIFY(proc.waitForStarted(5000));
        pipe.closeWrite();

        QByteArray out;
        QDeadlineTimer startDeadline(15000);
        static const QRegularExpression startLine("listening on port (\\d+) for connections\\.\n");
        QRegularExpressionMatch m;
        while (!(m = startLine.match(QString::fromUtf8(out))).hasMatch() && !startDeadline.hasExpired())
            out += pipe.drain(100);
        QVERIFY2(m.hasMatch(), out.constData());
        const quint16 port = quint16(m.captured(1).toUInt());

        BlockingClient server(5000);
        QVERIFY(server.connectTo(QStringLiteral("127.0.0.1"), port));
        QVERIFY(server.send(Messages::registerServer("stalled", "pw")));
        const std::optional<Frame> accepted = server.readFrame();
        QVERIFY(accepted);
        QCOMPARE(Replies::parseLoginReply(*accepted).result, Replies::LoginResult::Accepted);

        // Each answered query is one event line of 37 bytes: 12,000 of them
        // are far more than the queue and the pipe hold together.
        constexpr int kQueries = 12000;
        constexpr int kBatch = 50;
        BlockingClient client(5000);
        QVERIFY(client.connectTo(QStringLiteral("127.0.0.1"), port));
        QByteArray batch;
        for (int k = 0; k < kBatch; ++k)
            batch += Messages::listQuery(1);
        for (int done = 0; done < kQueries; done += kBatch) {
            QVERIFY(client.send(batch));
            for (int k = 0; k < kBatch; ++k) {
                const std::optional<Frame> entry = client.readFrame();
                QVERIFY2(entry, qPrintable(QStringLiteral("query %1 unanswered: %2").arg(done + k).arg(client.errorText())));
                QCOMPARE(entry->type, MessageType::ToClient::ListEntry);
                const std::optional<Frame> end = client.readFrame();
                QVERIFY(end);
            }
        }

        // The reader comes back.
        QByteArray rest;
        QDeadlineTimer drainDeadline(15000);
        static const QRegularExpression report("^(\\d+) event lines were dropped: standard output was not being read$",
                                               QRegularExpression::MultilineOption);
        while (!report.match(QString::fromUtf8(rest)).hasMatch() && !drainDeadline.hasExpired())
            rest += pipe.drain(100);
        const QRegularExpressionMatch r = report.match(QString::fromUtf8(rest));
        QVERIFY2(r.hasMatch(), "no report of dropped lines");
        const int dropped = r.captured(1).toInt();
        const QByteArray all = out + rest;
        const int shown = int(all.count("Server information sent to 127.0.0.1\n"));
        QVERIFY(dropped > 0);
        QCOMPARE(shown + dropped, kQueries);
        QVERIFY(all.contains("New account stalled created from 127.0.0.1\n"));
        // Nothing but whole event lines: the report follows the last line written.
        QVERIFY(rest.endsWith(r.captured(0).toUtf8() + '\n'));

        // Lines are written again once the report is out.
        QVERIFY(client.send(Messages::listQuery(1)));
        QVERIFY(client.readFrame());
        QVERIFY(client.readFrame());
        QByteArray later;
        QDeadlineTimer laterDeadline(5000);
        while (!later.contains('\n') && !laterDeadline.hasExpired())
            later += pipe.drain(100);
        QCOMPARE(later, QByteArray("Server information sent to 127.0.0.1\n"));

        ::kill(pid_t(proc.processId()), SIGTERM);
        QVERIFY(proc.waitForFinished(10000));
    }
};

QTEST_GUILESS_MAIN(StdoutBackpressureTest)
#include "tst_stdout_backpressure.moc"
