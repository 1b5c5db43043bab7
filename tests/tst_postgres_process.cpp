// tavregistry processes on a shared PostgreSQL database: accounts made at one
// registry log in at the other, but not twice at once; a killed registry's
// accounts are free again once its lease lapses; a ban made at one refuses
// callers at the other within a second; the server stopped and started while
// both run; registrations acknowledged before a kill are all kept; an
// unreachable server stops start-up with a message naming it; the command
// line never carries a password.
#include "app/command_line.h"
#include "protocol/message_types.h"
#include "support/http_get.h"
#include "support/postgres_server.h"
#include "support/registry_process.h"
#include "support/test_engine.h"
#include "support/test_files.h"
#include "support/wire_peer.h"

#include <QDBusConnection>
#include <csignal>
#include <memory>
#include <QDBusConnectionInterface>
#include <QDir>
#include <QElapsedTimer>
#include <QRegularExpression>
#include <QSqlDatabase>
#include <QSqlQuery>
#include <QTemporaryDir>
#include <QtTest>

#include "admin/control_bus_object.h"

namespace {

// Lease of the registries in these tests: short, so that a killed one's
// accounts come free quickly; a real setting ([database] lease).
constexpr int kLeaseSeconds = 4;

QString databaseName(const QString& url) {
    return QRegularExpression(QStringLiteral("dbname=(\\S+)")).match(url).captured(1);
}

// A registry on `url` in a folder of its own, new accounts allowed.
quint16 startOn(RegistryProcess& registry, const QTemporaryDir& dir, const QString& url,
                const QStringList& more = {}) {
    put(QDir(dir.path()).filePath(QStringLiteral("server.ini")), "[TavRegistry]\nAutoAllow=True\n");
    registry.setExtraArguments(QStringList{"--database", url, "--database-lease", QString::number(kLeaseSeconds)} +
                               more);
    return registry.start(dir.path());
}

// The reply to a login, or nothing when the registry closed without one.
std::optional<QByteArray> loginAt(quint16 port, const QByteArray& user, const QByteArray& password) {
    WirePeer peer;
    if (!peer.connectTo(port))
        return std::nullopt;
    return peer.logIn(MessageType::FromConnected::Login, user, password);
}

bool accepted(const std::optional<QByteArray>& reply) {
    return reply && !reply->isEmpty() && quint8(reply->at(0)) == MessageType::ToServer::Accepted;
}

// A caller from here is dropped at once (banned) rather than kept waiting.
bool droppedAtOnce(quint16 port) {
    WirePeer peer;
    return peer.connectTo(port) && peer.waitClosed(150);
}

} // namespace

class PostgresProcessTest : public QObject {
    Q_OBJECT

private slots:
    void initTestCase() {
        if (RegistryProcess::binary().isEmpty())
            QSKIP("TAVREGISTRY_BIN is not set");
        if (const QString why = PostgresServer::missingReason(); !why.isEmpty())
            QSKIP(qPrintable(why));
    }

    void aPasswordOnTheCommandLineIsRefused() {
        CommandLine cl = CommandLine::parse({"tavregistryd", "--database", "postgresql://tav:hunter2@db/tav"});
        QCOMPARE(int(cl.outcome), int(CommandLine::Outcome::Error));
        QCOMPARE(cl.errorText, QStringLiteral("the database URL on the command line holds a password: put it in the "
                                              "file named by [database] password_file, or in ~/.pgpass or PGPASSFILE"));
        cl = CommandLine::parse({"tavregistryd", "--database-url=host=db password=hunter2"});
        QCOMPARE(int(cl.outcome), int(CommandLine::Outcome::Error));
        QVERIFY(!cl.errorText.contains(QLatin1String("hunter2")));
        cl = CommandLine::parse({"tavregistryd", "--database", "host=/run/postgresql dbname=tav"});
        QCOMPARE(int(cl.outcome), int(CommandLine::Outcome::Run));
        QCOMPARE(cl.overrides.size(), 1);
        QCOMPARE(cl.overrides.first().section + QLatin1Char('.') + cl.overrides.first().key,
                 QStringLiteral("database.url"));
        QCOMPARE(cl.overrides.first().value, QStringLiteral("host=/run/postgresql dbname=tav"));
    }

    void anUnreachableServerStopsStartUpNamingIt() {
        QTemporaryDir dir;
        RegistryProcess registry;
        registry.setExtraArguments({"--database", "host=/nonexistent/socket dbname=tav user=tav"});
        QVERIFY(registry.launch(dir.path()));
        QVERIFY(registry.process().waitForFinished(30000));
        QCOMPARE(registry.process().exitCode(), 1);
        const QByteArray errors = registry.errors();
        QVERIFY2(errors.contains("cannot open the PostgreSQL database tav on the socket in /nonexistent/socket as tav"),
                 errors.constData());
        // Nothing of SQLite's: no qbrx.dat made in the data folder.
        QVERIFY(!QFile::exists(QDir(dir.path()).filePath(QStringLiteral("qbrx.dat"))));
    }

    void anUnreadablePasswordFileStopsStartUp() {
        QTemporaryDir dir;
        const QString missing = QDir(dir.path()).filePath(QStringLiteral("no-such-password"));
        put(QDir(dir.path()).filePath(QStringLiteral("tavregistry.conf")),
            "[database]\nurl = host=/nonexistent dbname=tav\npassword_file = " + missing.toUtf8() + "\n");
        RegistryProcess registry;
        QVERIFY(registry.launch(dir.path()));
        QVERIFY(registry.process().waitForFinished(30000));
        QCOMPARE(registry.process().exitCode(), 1);
        const QByteArray errors = registry.errors();
        QVERIFY2(errors.contains("cannot read the database password file " + missing.toUtf8() + ": "),
                 errors.constData());
    }

    void anAccountRegisteredAtOneRegistryLogsInAtTheOther() {
        QString error;
        const QString url = TestEngine::newDatabase(&error);
        QVERIFY2(!url.isEmpty(), qPrintable(error));
        QTemporaryDir dirA, dirB;
        put(QDir(dirA.path()).filePath(QStringLiteral("server.ini")), "[TavRegistry]\nAutoAllow=True\n");
        // The URL from the configuration file, as a service would have it.
        put(QDir(dirB.path()).filePath(QStringLiteral("tavregistry.conf")),
            "[database]\nurl = " + url.toUtf8() + "\n");
        RegistryProcess a, b;
        a.setExtraArguments({"--database", url});
        const quint16 portA = a.start(dirA.path());
        QVERIFY2(portA, a.errors().constData());
        const quint16 portB = b.start(dirB.path());
        QVERIFY2(portB, b.errors().constData());

        WirePeer atA;
        QVERIFY(atA.connectTo(portA));
        const auto registered = atA.logIn(MessageType::FromConnected::Register, "Shared1", "pw1");
        QVERIFY(registered);
        QCOMPARE(quint8(registered->at(0)), MessageType::ToServer::Accepted);
        atA.close();

        // Free at B once A has seen the connection end (a moment).
        WirePeer atB;
        std::optional<QByteArray> logged;
        for (int attempt = 0; attempt < 20 && !logged; ++attempt) {
            QVERIFY(atB.connectTo(portB));
            logged = atB.logIn(MessageType::FromConnected::Login, "SHARED1", "pw1");
            if (!logged)
                QTest::qWait(100);
        }
        QVERIFY(logged);
        QCOMPARE(quint8(logged->at(0)), MessageType::ToServer::Accepted);
        // A wrong password is refused there with the usual reply.
        WirePeer wrong;
        QVERIFY(wrong.connectTo(portB));
        const auto refused = wrong.logIn(MessageType::FromConnected::Login, "shared1", "nope");
        QVERIFY(refused);
        QVERIFY(quint8(refused->at(0)) != MessageType::ToServer::Accepted);
        // No file of SQLite's in either folder.
        QVERIFY(!QFile::exists(QDir(dirA.path()).filePath(QStringLiteral("qbrx.dat"))));
        QVERIFY(!QFile::exists(QDir(dirB.path()).filePath(QStringLiteral("qbrx.dat"))));
        QVERIFY(a.terminate());
        QVERIFY(b.terminate());
    }

    // One account, two registries: the second login is closed without a
    // reply. SIGKILL of the first frees it at the second once the lease has
    // lapsed (4 s here; 30 s by default), never before the kill.
    void aDuplicateIsRefusedAcrossRegistriesUntilTheHolderIsKilled() {
        QString error;
        const QString url = TestEngine::newDatabase(&error);
        QVERIFY2(!url.isEmpty(), qPrintable(error));
        QTemporaryDir dirA, dirB;
        RegistryProcess a, b;
        const quint16 portA = startOn(a, dirA, url);
        QVERIFY2(portA, a.errors().constData());
        const quint16 portB = startOn(b, dirB, url);
        QVERIFY2(portB, b.errors().constData());

        WirePeer holder;
        QVERIFY(holder.connectTo(portA));
        QVERIFY(accepted(holder.logIn(MessageType::FromConnected::Register, "Held1", "pw")));
        QCOMPARE(loginAt(portB, "HELD1", "pw"), std::nullopt);
        QVERIFY(holder.isConnected());
        // Renewed meanwhile: still held after more than a lease.
        QTest::qWait(kLeaseSeconds * 1000 + 500);
        QCOMPARE(loginAt(portB, "held1", "pw"), std::nullopt);

        a.kill();
        QElapsedTimer sinceKill;
        sinceKill.start();
        bool taken = false;
        while (!taken && sinceKill.elapsed() < 30000) {
            taken = accepted(loginAt(portB, "held1", "pw"));
            if (!taken)
                QTest::qWait(250);
        }
        QVERIFY(taken);
        qInfo("account free at the other registry %lld ms after the SIGKILL (lease %d s)", sinceKill.elapsed(),
              kLeaseSeconds);
        QVERIFY2(sinceKill.elapsed() <= (kLeaseSeconds + 1) * 1000, qPrintable(QString::number(sinceKill.elapsed())));
        QVERIFY(b.terminate());
    }

    // A ban added through one registry's automation interface refuses a
    // caller at the other within a second.
    void aBanAddedAtOneRefusesCallersAtTheOtherWithinASecond() {
        if (!QDBusConnection::sessionBus().isConnected())
            QSKIP("no session bus (run through scripts/run-tests)");
        QString error;
        const QString url = TestEngine::newDatabase(&error);
        QVERIFY2(!url.isEmpty(), qPrintable(error));
        QTemporaryDir dirA, dirB;
        RegistryProcess a, b;
        a.setBus(QStringLiteral("session"));
        const quint16 portA = startOn(a, dirA, url);
        QVERIFY2(portA, a.errors().constData());
        QTRY_VERIFY_WITH_TIMEOUT(
            QDBusConnection::sessionBus().interface()->isServiceRegistered(ControlBusObject::kServiceName), 10000);
        const quint16 portB = startOn(b, dirB, url);
        QVERIFY2(portB, b.errors().constData());
        QVERIFY(!droppedAtOnce(portB));

        QProcess tavctl;
        tavctl.start(qEnvironmentVariable("TAVCTL_BIN"), {"admin", "add-ban", "here", "127.0.0.1"});
        QVERIFY(tavctl.waitForFinished(10000));
        QCOMPARE(tavctl.exitCode(), 0);
        QElapsedTimer sinceBan;
        sinceBan.start();
        bool refused = false;
        while (!refused && sinceBan.elapsed() < 3000)
            refused = droppedAtOnce(portB);
        QVERIFY(refused);
        qInfo("caller refused at the other registry %lld ms after tavctl add-ban returned", sinceBan.elapsed());
        QVERIFY2(sinceBan.elapsed() < 1000, qPrintable(QString::number(sinceBan.elapsed())));
        QVERIFY(a.terminate());
        QVERIFY(b.terminate());
    }

    // Every registration acknowledged before its registry is killed is in
    // the database afterwards.
    void registrationsAcknowledgedBeforeASigkillAreKept() {
        QString error;
        const QString url = TestEngine::newDatabase(&error);
        QVERIFY2(!url.isEmpty(), qPrintable(error));
        PostgresServer* server = sharedPostgresServer(&error);
        QVERIFY2(server, qPrintable(error));
        QStringList acknowledged;
        for (int round = 0; round < 3; ++round) {
            QTemporaryDir dir;
            RegistryProcess a;
            const quint16 port = startOn(a, dir, url);
            QVERIFY2(port, a.errors().constData());
            // One after another, then several in flight when the kill comes.
            QList<std::shared_ptr<WirePeer>> peers;
            QList<QByteArray> names;
            for (int i = 0; i < 40; ++i) {
                auto peer = std::make_shared<WirePeer>();
                QVERIFY(peer->connectTo(port));
                const QByteArray name = "Kill" + QByteArray::number(round) + "x" + QByteArray::number(i);
                peer->sendFrame(MessageType::FromConnected::Register, name + '\0' + "pw");
                if (i < 20) {
                    QVERIFY(accepted(peer->readMessage(3000)));
                    acknowledged << QString::fromLatin1(name);
                    continue;
                }
                peers << peer;
                names << name;
                if (i == 30) {
                    ::kill(pid_t(a.pid()), SIGKILL);
                    break;
                }
            }
            for (int i = 0; i < peers.size(); ++i)
                if (accepted(peers[i]->readMessage(300)))
                    acknowledged << QString::fromLatin1(names[i]);
            a.kill();
        }
        QVERIFY(!acknowledged.isEmpty());
        qInfo("%lld registrations acknowledged over three SIGKILLed registries", qint64(acknowledged.size()));
        QString stored;
        QVERIFY(server->psql(databaseName(url), QStringLiteral("SELECT \"User\" FROM \"Servers\""), &stored));
        const QStringList kept = stored.split(QLatin1Char('\n'), Qt::SkipEmptyParts);
        for (const QString& name : acknowledged)
            QVERIFY2(kept.contains(name), qPrintable(name));
    }

    // qbrx.dat moved over: every column as it was, NULL and the empty text
    // kept apart; a database that holds anything is refused untouched.
    void copyToDatabaseMovesEveryAccountAndBan() {
        PostgresServer* server = sharedPostgresServer(nullptr);
        QVERIFY(server);
        QTemporaryDir dir;
        // A registry on SQLite writes the file, as in production.
        {
            RegistryProcess local;
            put(QDir(dir.path()).filePath(QStringLiteral("server.ini")), "[TavRegistry]\nAutoAllow=True\n");
            const quint16 port = local.start(dir.path());
            QVERIFY2(port, local.errors().constData());
            WirePeer first, second;
            QVERIFY(first.connectTo(port) && accepted(first.logIn(MessageType::FromConnected::Register, "Movedz", "pw1")));
            QVERIFY(first.sendFrame(MessageType::FromServer::NameDescription, QByteArray("Zed's\0", 6)));
            QVERIFY(second.connectTo(port) && accepted(second.logIn(MessageType::FromConnected::Register, "Moveda", "pw2")));
            QTest::qWait(200);
            QVERIFY(local.terminate());
        }
        // Bans and odd values written as another tool would.
        {
            QSqlDatabase db = QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"), QStringLiteral("copy-source"));
            db.setDatabaseName(QDir(dir.path()).filePath(QStringLiteral("qbrx.dat")));
            QVERIFY(db.open());
            QSqlQuery q(db);
            QVERIFY(q.exec("INSERT INTO Bans (Number, Name, IP, Reason, UnbanDate) VALUES "
                           "(7, 'spam', '10.20.0.0', NULL, '2027-01-31'), (255, 'x''y', '1.2.3.4', '', NULL)"));
            QVERIFY(q.exec("UPDATE Servers SET UpdateURL = NULL, Date = 3 WHERE User = 'Moveda'"));
            db.close();
        }
        QSqlDatabase::removeDatabase(QStringLiteral("copy-source"));

        QString error;
        const QString url = TestEngine::newDatabase(&error);
        QVERIFY2(!url.isEmpty(), qPrintable(error));
        QProcess copy;
        copy.start(RegistryProcess::binary(), {"--headless", "--data-dir", dir.path(), "--copy-to-database", url});
        QVERIFY(copy.waitForFinished(30000));
        const QByteArray errors = copy.readAllStandardError();
        QCOMPARE(copy.exitCode(), 0);
        QCOMPARE(QString::fromUtf8(copy.readAllStandardOutput()),
                 QStringLiteral("copied 2 accounts and 2 bans from %1 to the PostgreSQL database %2 on the socket in %3 "
                                "port 5432 as tav\n")
                     .arg(QDir(dir.path()).filePath(QStringLiteral("qbrx.dat")), databaseName(url),
                          server->socketDir()));
        QString rows;
        QVERIFY(server->psql(databaseName(url),
                             QStringLiteral("SELECT concat_ws('|', \"User\", \"Password\", \"Name\", "
                                            "coalesce(\"Description\", '<null>'), coalesce(\"UpdateURL\", '<null>'), "
                                            "\"Official\", coalesce(\"Date\"::text, '<null>'), "
                                            "coalesce(\"Time\"::text, '<null>')) FROM \"Servers\" ORDER BY \"Bookmark\""),
                             &rows));
        QCOMPARE(rows, QStringLiteral("Movedz|PW1|Zed's|||0|<null>|<null>\n"
                                      "Moveda|PW2|<untitled>||<null>|0|3|<null>\n"));
        QVERIFY(server->psql(databaseName(url),
                             QStringLiteral("SELECT concat_ws('|', \"Number\", \"Name\", \"IP\", "
                                            "coalesce(\"Reason\", '<null>'), coalesce(\"UnbanDate\"::text, '<null>')) "
                                            "FROM \"Bans\" ORDER BY \"Number\""),
                             &rows));
        QCOMPARE(rows, QStringLiteral("7|spam|10.20.0.0|<null>|2027-01-31\n255|x'y|1.2.3.4||<null>\n"));

        // Again into the same database: refused, nothing added.
        copy.start(RegistryProcess::binary(), {"--headless", "--data-dir", dir.path(), "--copy-to-database", url});
        QVERIFY(copy.waitForFinished(30000));
        QCOMPARE(copy.exitCode(), 3);
        QVERIFY2(copy.readAllStandardError().contains("already holds 2 accounts and 2 bans: copying needs empty "
                                                      "tables, so nothing has been copied"),
                 errors.constData());
        QVERIFY(server->psql(databaseName(url), QStringLiteral("SELECT count(*) FROM \"Servers\""), &rows));
        QCOMPARE(rows, QStringLiteral("2\n"));
    }

    // Last, as it stops the shared server: both registries go on without it
    // and take logins again once it is back.
    void theServerStoppedAndStartedWhileBothRun() {
        QString error;
        const QString url = TestEngine::newDatabase(&error);
        QVERIFY2(!url.isEmpty(), qPrintable(error));
        PostgresServer* server = sharedPostgresServer(&error);
        QVERIFY2(server, qPrintable(error));
        QTemporaryDir dirA, dirB;
        RegistryProcess a, b;
        const quint16 portA = startOn(a, dirA, url, {"--http", "127.0.0.1:0"});
        QVERIFY2(portA, a.errors().constData());
        static const QRegularExpression httpLine(
            QStringLiteral("(?:^|\\n)HTTP endpoint listening on (http://127\\.0\\.0\\.1:[0-9]+)/\\n"));
        QRegularExpressionMatch m;
        QTRY_VERIFY((m = httpLine.match(QString::fromUtf8(a.errors()))).hasMatch());
        const QString health = m.captured(1) + QStringLiteral("/healthz");
        QCOMPARE(httpRequest(health).body, QByteArray("ok\n"));
        const quint16 portB = startOn(b, dirB, url);
        QVERIFY2(portB, b.errors().constData());
        WirePeer online;
        QVERIFY(online.connectTo(portA));
        QVERIFY(accepted(online.logIn(MessageType::FromConnected::Register, "Stays", "pw")));
        WirePeer other;
        QVERIFY(other.connectTo(portA));
        QVERIFY(accepted(other.logIn(MessageType::FromConnected::Register, "Other", "pw")));
        other.close();

        QVERIFY2(server->stop(), qPrintable(server->error()));
        // Closed without a reply while it is away, at both.
        QCOMPARE(loginAt(portB, "other", "pw"), std::nullopt);
        QCOMPARE(loginAt(portA, "other", "pw"), std::nullopt);
        QVERIFY(online.sendFrame(MessageType::FromServer::PlayerCount, QByteArray(1, 3)));
        QVERIFY(!online.waitClosed(300));
        const HttpReply away = httpRequest(health);
        QCOMPARE(away.status, 503);
        QCOMPARE(away.body, QByteArray("database unreachable\n"));
        QVERIFY2(server->restart(), qPrintable(server->error()));
        QElapsedTimer back;
        back.start();
        bool again = false;
        while (!again && back.elapsed() < 25000) {
            again = accepted(loginAt(portB, "other", "pw"));
            if (!again)
                QTest::qWait(250);
        }
        QVERIFY2(again, (a.errors() + "\n---\n" + b.errors()).constData());
        qInfo("logins answered again %lld ms after the server was started again", back.elapsed());
        QVERIFY(online.isConnected());
        QCOMPARE(loginAt(portB, "stays", "pw"), std::nullopt); // still held by a
        QTRY_COMPARE_WITH_TIMEOUT(httpRequest(health).status, 200, 15000);
        QVERIFY(a.errors().contains("lost the connection to the PostgreSQL database"));
        QVERIFY(a.terminate());
        QVERIFY(b.terminate());
    }
};

QTEST_GUILESS_MAIN(PostgresProcessTest)
#include "tst_postgres_process.moc"
