// The tavregistry executable: its command line, start-up line, real sockets
// and clean shutdown on SIGTERM.
#include <QProcess>
#include <QRegularExpression>
#include <QTcpServer>
#include <QTcpSocket>
#include <QTemporaryDir>
#include <QtTest>

#include <csignal>
#include <memory>
#include <vector>

namespace {
QString binary() { return qEnvironmentVariable("TAVREGISTRY_BIN"); }

// Starts the registry on a free port and returns the port it announced.
quint16 startRegistry(QProcess& proc, const QString& dataDir, QStringList extra = {}) {
    proc.setProgram(binary());
    proc.setArguments(QStringList{"--headless", "--bus", "none", "--port", "0", "--data-dir", dataDir} + extra);
    proc.start();
    if (!proc.waitForStarted(5000))
        return 0;
    QByteArray out;
    while (!out.contains('\n') && proc.waitForReadyRead(10000))
        out += proc.readAllStandardOutput();
    const auto m = QRegularExpression(
                       "^TavRegistry v1\\.0\\.0 has loaded and is listening on port (\\d+) for connections\\.\n")
                       .match(QString::fromUtf8(out));
    if (!m.hasMatch()) {
        qWarning("unexpected start-up output: %s", out.constData());
        return 0;
    }
    return quint16(m.captured(1).toUInt());
}
} // namespace

class ProcessTest : public QObject {
    Q_OBJECT
private slots:
    void initTestCase() { QVERIFY2(QFileInfo(binary()).isExecutable(), "TAVREGISTRY_BIN must name the binary"); }

    void helpVersionAndBadArguments() {
        QProcess p;
        p.start(binary(), {"--help"});
        QVERIFY(p.waitForFinished(5000));
        QCOMPARE(p.exitCode(), 0);
        QVERIFY(p.readAllStandardOutput().contains("--data-dir DIR"));

        p.start(binary(), {"--version"});
        QVERIFY(p.waitForFinished(5000));
        QCOMPARE(p.readAllStandardOutput(), QByteArray("tavregistry 1.0.0\n"));

        p.start(binary(), {"--port", "70000"});
        QVERIFY(p.waitForFinished(5000));
        QCOMPARE(p.exitCode(), 2);
        QVERIFY(p.readAllStandardError().contains("--port"));
        QCOMPARE(p.readAllStandardOutput(), QByteArray());

        p.start(binary(), {"--bogus"});
        QVERIFY(p.waitForFinished(5000));
        QCOMPARE(p.exitCode(), 2);
    }

    void unusableDataDirFails() {
        QTemporaryDir tmp;
        const QString file = tmp.filePath("not-a-folder");
        QFile f(file);
        QVERIFY(f.open(QIODevice::WriteOnly));
        f.close();
        QProcess p;
        p.start(binary(), {"--headless", "--bus", "none", "--port", "0", "--data-dir", file});
        QVERIFY(p.waitForFinished(10000));
        QCOMPARE(p.exitCode(), 1);
        QVERIFY(p.readAllStandardError().contains(file.toLocal8Bit()));
        QCOMPARE(p.readAllStandardOutput(), QByteArray());
    }

    void missingDataDirIsCreated() {
        QTemporaryDir tmp;
        const QString dir = tmp.filePath("a/b/c");
        QProcess p;
        QVERIFY(startRegistry(p, dir) != 0);
        QVERIFY(QFileInfo(dir).isDir());
        ::kill(pid_t(p.processId()), SIGTERM);
        QVERIFY(p.waitForFinished(10000));
        QCOMPARE(p.exitCode(), 0);
    }

    void portInUseFails() {
        QTcpServer blocker;
        QVERIFY(blocker.listen(QHostAddress::AnyIPv4, 0));
        QTemporaryDir tmp;
        QProcess p;
        p.start(binary(),
                {"--headless", "--bus", "none", "--port", QString::number(blocker.serverPort()), "--data-dir", tmp.path()});
        QVERIFY(p.waitForFinished(10000));
        QCOMPARE(p.exitCode(), 1);
        QVERIFY(p.readAllStandardError().contains(QByteArray::number(blocker.serverPort())));
    }

    void fullRegistryAndSigterm() {
        QTemporaryDir tmp;
        QProcess proc;
        const quint16 port = startRegistry(proc, tmp.path());
        QVERIFY(port != 0);

        std::vector<std::unique_ptr<QTcpSocket>> sockets;
        for (int i = 0; i < 255; ++i) {
            auto s = std::make_unique<QTcpSocket>();
            s->connectToHost(QHostAddress::LocalHost, port);
            QVERIFY(s->waitForConnected(5000));
            sockets.push_back(std::move(s));
        }
        // The accepted callers hear nothing; give the registry time to take all.
        QTest::qWait(300);
        for (auto& s : sockets)
            QCOMPARE(s->bytesAvailable(), qint64(0));

        QTcpSocket extra;
        extra.connectToHost(QHostAddress::LocalHost, port);
        QVERIFY(extra.waitForConnected(5000));
        QByteArray notice;
        QElapsedTimer t;
        t.start();
        while (t.elapsed() < 5000 && extra.state() == QAbstractSocket::ConnectedState) {
            extra.waitForReadyRead(100);
            notice += extra.readAll();
        }
        notice += extra.readAll();
        QCOMPARE(notice, QByteArray("\x00\x02\x00\x04", 4));
        QVERIFY(extra.state() != QAbstractSocket::ConnectedState);

        // One leaves; the next caller takes its slot and hears nothing.
        sockets.front()->disconnectFromHost();
        sockets.erase(sockets.begin());
        QTest::qWait(200);
        QTcpSocket again;
        again.connectToHost(QHostAddress::LocalHost, port);
        QVERIFY(again.waitForConnected(5000));
        QVERIFY(!again.waitForReadyRead(300));
        QCOMPARE(again.state(), QAbstractSocket::ConnectedState);

        ::kill(pid_t(proc.processId()), SIGTERM);
        QVERIFY(proc.waitForFinished(10000));
        QCOMPARE(proc.exitStatus(), QProcess::NormalExit);
        QCOMPARE(proc.exitCode(), 0);
        QCOMPARE(proc.readAllStandardOutput(), QByteArray()); // no server was logged in
    }

    // A login with an unknown name hears the refusal and is then closed by
    // the registry: the close waits for the reply to leave, whatever else the
    // registry sends meanwhile without waiting.
    void refusedLoginIsClosedAfterItsReply() {
        QTemporaryDir tmp;
        QProcess proc;
        const quint16 port = startRegistry(proc, tmp.path());
        QVERIFY(port != 0);
        for (int round = 0; round < 3; ++round) {
            QTcpSocket s;
            s.connectToHost(QHostAddress::LocalHost, port);
            QVERIFY(s.waitForConnected(5000));
            s.write(QByteArray("\x00\x0a\x01nobody\x00pw", 12));
            QByteArray reply;
            QElapsedTimer t;
            t.start();
            while (t.elapsed() < 5000 && s.state() == QAbstractSocket::ConnectedState) {
                s.waitForReadyRead(100);
                reply += s.readAll();
            }
            reply += s.readAll();
            QCOMPARE(reply, QByteArray("\x00\x01\x03", 3));
            QVERIFY(s.state() != QAbstractSocket::ConnectedState);
        }
        ::kill(pid_t(proc.processId()), SIGTERM);
        QVERIFY(proc.waitForFinished(10000));
        QCOMPARE(proc.exitCode(), 0);
    }

    void sigintAlsoShutsDown() {
        QTemporaryDir tmp;
        QProcess proc;
        QVERIFY(startRegistry(proc, tmp.path()) != 0);
        ::kill(pid_t(proc.processId()), SIGINT);
        QVERIFY(proc.waitForFinished(10000));
        QCOMPARE(proc.exitCode(), 0);
    }
};

QTEST_GUILESS_MAIN(ProcessTest)
#include "tst_process.moc"
