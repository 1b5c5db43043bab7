// The database file taken away underneath (renamed over, cut short, its
// folder removed) and writes that fail (a full disk): nothing is acknowledged
// that was not stored, nothing is written over what now lies at the path, and
// the owner hears of it, at most once a second for failed writes.
#include "host/write_failure_report.h"
#include "support/session_helpers.h"
#include "support/registry_process.h"
#include "support/test_files.h"
#include "support/wire_peer.h"

#include <QDeadlineTimer>
#include <QDir>
#include <QTemporaryDir>
#include <QFile>
#include <QSignalSpy>
#include <QtTest>

#include <csignal>
#include <cstdio>
#include <sys/resource.h>

namespace {

QByteArray registration(const QByteArray& user) { return frame(0, fields(user, "pw")); }

// Registers over the wire; true when the registry answered "accepted".
bool registers(RegistryFixture& f, const QByteArray& user) {
    f.reg().setNewAccountsAllowed(true);
    const int p = f.connect();
    f.send(p, registration(user));
    const QByteArray reply = f.received(p);
    return f.isOpen(p) && reply.size() > 3 && reply.at(2) == char(MessageType::ToServer::Accepted);
}

// A registration that must be closed without any reply.
bool closedWithoutReply(RegistryFixture& f, const QByteArray& user) {
    f.reg().setNewAccountsAllowed(true);
    const int p = f.connect();
    f.send(p, registration(user));
    return !f.isOpen(p) && f.received(p).isEmpty();
}

QStringList errorsIn(const QSignalSpy& spy) {
    QStringList out;
    for (const QList<QVariant>& n : spy)
        if (n.at(0).value<NoticeSeverity>() == NoticeSeverity::Error)
            out << n.at(1).toString();
    return out;
}

// Every file of a folder with its size and content.
QStringList folderState(const QString& folder) {
    QStringList state;
    for (const QFileInfo& info : QDir(folder).entryInfoList(QDir::Files | QDir::Hidden, QDir::Name)) {
        QFile f(info.filePath());
        f.open(QIODevice::ReadOnly);
        state << QStringLiteral("%1 %2 %3").arg(info.fileName()).arg(info.size()).arg(QString::fromLatin1(f.readAll().toHex()));
    }
    return state;
}

QByteArray contentOf(const QString& path) {
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray("<missing>");
}

// Lowers the largest file this process may write; writes beyond it fail
// with EFBIG (SIGXFSZ ignored) as they would on a full disk.
class FileSizeLimit {
public:
    explicit FileSizeLimit(rlim_t bytes) {
        std::signal(SIGXFSZ, SIG_IGN);
        getrlimit(RLIMIT_FSIZE, &m_old);
        rlimit lower = m_old;
        lower.rlim_cur = bytes;
        m_ok = setrlimit(RLIMIT_FSIZE, &lower) == 0;
    }
    ~FileSizeLimit() { lift(); }
    void lift() {
        if (m_ok)
            setrlimit(RLIMIT_FSIZE, &m_old);
        m_ok = false;
    }
    bool ok() const { return m_ok; }

private:
    rlimit m_old{};
    bool m_ok = false;
};

} // namespace

class StoreFaultsTest : public QObject {
    Q_OBJECT
private slots:
    void anUntouchedFileStaysInUse() {
        RegistryFixture f;
        QSignalSpy notices(&f.reg(), &Registry::notice);
        for (int i = 0; i < 20; ++i) {
            QVERIFY(registers(f, "server" + QByteArray::number(i)));
            f.reg().generalTimerTick();
        }
        QVERIFY(!f.reg().databaseLost());
        QCOMPARE(errorsIn(notices), QStringList());
        QCOMPARE(f.reg().counters().storeWriteFailures, 0u);
    }

    void aFileRenamedOverIsNeverWritten() {
        RegistryFixture f;
        QVERIFY(registers(f, "alpha"));
        QSignalSpy notices(&f.reg(), &Registry::notice);
        const QString path = f.reg().database().filePath();
        const QString other = QDir(f.dataDir.path()).filePath(QStringLiteral("other.dat"));
        put(other, "not the registry's file");
        const QStringList before = folderState(f.dataDir.path());
        QVERIFY(std::rename(QFile::encodeName(other).constData(), QFile::encodeName(path).constData()) == 0);

        // Found before the write, without waiting for the timer.
        QVERIFY(closedWithoutReply(f, "beta"));
        QVERIFY(f.reg().databaseLost());
        const QStringList errors = errorsIn(notices);
        QVERIFY(!errors.isEmpty());
        QCOMPARE(errors.first(), path + QStringLiteral(" has been replaced by another file; the database is lost: "
                                                       "registrations and changes are refused and nothing is "
                                                       "written to it until the registry is restarted"));
        QVERIFY(closedWithoutReply(f, "gamma"));
        f.reg().generalTimerTick();
        QCOMPARE(errorsIn(notices).filter(QStringLiteral("the database is lost")).size(), 1);
        QCOMPARE(contentOf(path), QByteArray("not the registry's file"));
        // Nothing else in the folder was written either (a journal beside the
        // new file would be taken as its own at the next start).
        QStringList after = folderState(f.dataDir.path());
        QStringList expected = before;
        expected.removeIf([](const QString& e) { return e.startsWith(QStringLiteral("other.dat ")) || e.startsWith(QStringLiteral("qbrx.dat ")); });
        after.removeIf([](const QString& e) { return e.startsWith(QStringLiteral("qbrx.dat ")); });
        QCOMPARE(after, expected);
        QCOMPARE(f.reg().counters().storeWriteFailures, 2u);

        // The account changes of a logged-in server are refused too.
        QVERIFY(!f.reg().accounts().updatePassword(1, QStringLiteral("alpha"), QStringLiteral("NEW")));
        QCOMPARE(contentOf(path), QByteArray("not the registry's file"));
    }

    void aFileCutShortIsFoundByTheTimer() {
        RegistryFixture f;
        QVERIFY(registers(f, "alpha"));
        QSignalSpy notices(&f.reg(), &Registry::notice);
        const QString path = f.reg().database().filePath();
        QVERIFY(QFile::resize(path, 0));
        f.reg().generalTimerTick();
        QVERIFY(f.reg().databaseLost());
        const QStringList errors = errorsIn(notices);
        QCOMPARE(errors.size(), 1);
        QVERIFY2(errors.first().startsWith(path + QStringLiteral(" has been cut short (0 bytes; ")), qPrintable(errors.first()));
        QVERIFY(closedWithoutReply(f, "beta"));
        QCOMPARE(QFileInfo(path).size(), 0);
    }

    // The length the timer expects follows the registry's own writes: a file
    // cut back to what it was before they grew it is found too.
    void aFileCutBackAfterItGrewIsFound() {
        RegistryFixture f;
        const QString path = f.reg().database().filePath();
        f.reg().generalTimerTick();
        const qint64 before = QFileInfo(path).size();
        for (int i = 0; QFileInfo(path).size() == before; ++i) {
            QVERIFY(i < 1000);
            QVERIFY(registers(f, "grow" + QByteArray::number(i)));
        }
        const qint64 grown = QFileInfo(path).size();
        f.reg().generalTimerTick();
        f.reg().generalTimerTick();
        QVERIFY(!f.reg().databaseLost());
        QSignalSpy notices(&f.reg(), &Registry::notice);
        QVERIFY(QFile::resize(path, before));
        f.reg().generalTimerTick();
        QVERIFY(f.reg().databaseLost());
        QCOMPARE(errorsIn(notices).value(0).section(QLatin1Char(';'), 0, 0),
                 QStringLiteral("%1 has been cut short (%2 bytes").arg(path).arg(before));
        QVERIFY2(errorsIn(notices).value(0).contains(QStringLiteral("; %1 expected)").arg(grown)),
                 qPrintable(errorsIn(notices).value(0)));
    }

    void aRemovedFolderIsNotMadeAgain() {
        RegistryFixture f;
        QVERIFY(registers(f, "alpha"));
        QSignalSpy notices(&f.reg(), &Registry::notice);
        const QString folder = f.dataDir.path();
        QVERIFY(QDir(folder).removeRecursively());
        f.reg().generalTimerTick();
        QVERIFY(f.reg().databaseLost());
        QCOMPARE(errorsIn(notices).size(), 1);
        QVERIFY(errorsIn(notices).first().contains(QStringLiteral("has been removed")));
        QVERIFY(closedWithoutReply(f, "beta"));
        QVERIFY(!QFileInfo::exists(folder));
    }

    void failedWritesAreSaidOnceASecondAndCounted() {
        RegistryFixture f;
        QVERIFY(registers(f, "alpha"));
        QSignalSpy notices(&f.reg(), &Registry::notice);
        FileSizeLimit limit(1);
        QVERIFY(limit.ok());
        QVERIFY(closedWithoutReply(f, "beta"));
        QCOMPARE(f.reg().counters().storeWriteFailures, 1u);
        QStringList errors = errorsIn(notices);
        QCOMPARE(errors.size(), 1);
        QVERIFY2(errors.first().startsWith(QStringLiteral("a write to the database failed: The ")), qPrintable(errors.first()));
        const QString why = errors.first().mid(QStringLiteral("a write to the database failed: ").size());

        QVERIFY(closedWithoutReply(f, "gamma"));
        QVERIFY(closedWithoutReply(f, "delta"));
        QCOMPARE(f.reg().counters().storeWriteFailures, 3u);
        f.clock.advance(999);
        f.reg().generalTimerTick();
        QCOMPARE(errorsIn(notices).size(), 1); // not within the second
        f.clock.advance(1);
        f.reg().generalTimerTick();
        errors = errorsIn(notices);
        QCOMPARE(errors.size(), 2);
        QCOMPARE(errors.at(1), QStringLiteral("2 writes to the database failed since the last report; the last one: ") + why);
        f.reg().generalTimerTick();
        QCOMPARE(errorsIn(notices).size(), 2); // nothing more to say

        // Space again: it goes on by itself, and the file was not given up.
        limit.lift();
        QVERIFY(registers(f, "beta"));
        QVERIFY(!f.reg().databaseLost());
        QVERIFY(f.reg().accounts().find(QStringLiteral("beta")));
        QVERIFY(!f.reg().accounts().find(QStringLiteral("gamma")));
        QCOMPARE(errorsIn(notices).size(), 2);
    }

    // The program itself: the error reaches standard error as one line.
    void theProgramSaysItOnStandardError() {
        QTemporaryDir dir;
        put(QDir(dir.path()).filePath(QStringLiteral("server.ini")), "[TavRegistry]\nAutoAllow=True\n");
        RegistryProcess registry;
        const quint16 port = registry.start(dir.path());
        QVERIFY2(port != 0, registry.errors().constData());
        {
            WirePeer first;
            QVERIFY(first.connectTo(port));
            const std::optional<QByteArray> reply = first.logIn(0, "alpha", "pw");
            QVERIFY(reply && reply->startsWith('\0'));
        }
        const QString path = QDir(dir.path()).filePath(QStringLiteral("qbrx.dat"));
        const QString other = QDir(dir.path()).filePath(QStringLiteral("other.dat"));
        put(other, "not the registry's file");
        QVERIFY(std::rename(QFile::encodeName(other).constData(), QFile::encodeName(path).constData()) == 0);

        WirePeer second;
        QVERIFY(second.connectTo(port));
        QVERIFY(second.sendFrame(0, QByteArray("beta\0pw", 7)));
        QVERIFY(!second.readMessage(3000)); // no reply: closed
        QByteArray errors;
        QDeadlineTimer deadline(5000);
        while (!errors.contains("the database is lost") && !deadline.hasExpired()) {
            registry.process().waitForReadyRead(100);
            errors = registry.errors();
        }
        QList<QByteArray> lines;
        for (const QByteArray& l : errors.split('\n'))
            if (l.contains("the database is lost"))
                lines << l;
        QCOMPARE(lines.size(), qsizetype(1));
        QVERIFY2(lines.first().contains(QFile::encodeName(path) + " has been replaced by another file"), lines.first().constData());
        QVERIFY(registry.terminate());
        QCOMPARE(contentOf(path), QByteArray("not the registry's file"));
    }

    void theReportWaitsASecondBetweenLines() {
        WriteFailureReport report;
        QCOMPARE(report.due(5000), QString());
        QCOMPARE(report.failed(5000, QStringLiteral("The disk is full.")),
                 QStringLiteral("a write to the database failed: The disk is full."));
        QCOMPARE(report.failed(5999, QStringLiteral("The disk is full.")), QString());
        QCOMPARE(report.waiting(), 1u);
        QCOMPARE(report.failed(6000, QStringLiteral("The database file cannot be read or written.")),
                 QStringLiteral("2 writes to the database failed since the last report; the last one: The database "
                                "file cannot be read or written."));
        QCOMPARE(report.waiting(), 0u);
        // Across the tick counter's wrap.
        WriteFailureReport wrapped;
        QVERIFY(!wrapped.failed(0xFFFFFF00u, QStringLiteral("x")).isEmpty());
        QCOMPARE(wrapped.failed(0x00000010u, QStringLiteral("x")), QString());
        QCOMPARE(wrapped.due(0x000002E8u), QStringLiteral("a write to the database failed: x"));
    }
};

QTEST_GUILESS_MAIN(StoreFaultsTest)
#include "tst_store_faults.moc"
