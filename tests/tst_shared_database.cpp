// Two registries in one process on one PostgreSQL database: a duplicate
// session refused across them, leases that lapse, bans that follow at once,
// an expired ban deleted once, operator commands on the shared tables, and
// the server lost and back while both run.
#include "support/postgres_server.h"
#include "support/session_helpers.h"
#include "support/test_engine.h"

#include "database/account_set.h"
#include "database/ban_set.h"
#include "database/postgres_call.h"
#include "database/registry_database.h"
#include "host/admission_control.h"
#include "protocol/message_types.h"

#include <QRegularExpression>
#include <QSqlDatabase>
#include <QSqlQuery>
#include <QThread>
#include <QtTest>

namespace {

AccountRecord account(const QString& user, const QString& password) {
    AccountRecord r;
    r.User = user;
    r.Password = password;
    r.Name = QStringLiteral("Name of ") + user;
    r.Description = QString();
    r.UpdateURL = QString();
    r.Official = 1;
    return r;
}

// Logs a server in and returns its peer id (open or closed: the caller looks).
int logIn(RegistryFixture& f, const QByteArray& user, const QByteArray& password,
          const QByteArray& address = "10.0.0.1") {
    const int p = f.connect(address);
    f.send(p, frame(MessageType::FromConnected::Login, fields(user, password)));
    return p;
}

quint64 duplicates(RegistryFixture& f) {
    return f.reg().counters().logins[size_t(LoginKind::Server)][size_t(LoginResult::Duplicate)];
}

QString databaseName(const QString& url) {
    return QRegularExpression(QStringLiteral("dbname=(\\S+)")).match(url).captured(1);
}

// The general timer's work once the registry's clock has moved on `ms`.
void tickAfter(RegistryFixture& f, quint32 ms) {
    f.clock.advance(ms);
    f.reg().generalTimerTick();
}

} // namespace

class SharedDatabaseTest : public QObject {
    Q_OBJECT
    PostgresServer* m_server = nullptr;
    QString m_url;

private slots:
    void initTestCase() {
        if (const QString why = PostgresServer::missingReason(); !why.isEmpty())
            QSKIP(qPrintable(why));
        QString error;
        m_server = sharedPostgresServer(&error);
        QVERIFY2(m_server, qPrintable(error));
    }

    void init() {
        QString error;
        m_url = TestEngine::newDatabase(&error);
        QVERIFY2(!m_url.isEmpty(), qPrintable(error));
    }

    void aDuplicateAcrossRegistriesIsClosedWithoutReply() {
        RegistryFixture a(m_url, 30), b(m_url, 30);
        QVERIFY(a.reg().accounts().add(account("alpha", "PASS")));
        const int first = logIn(a, "alpha", "pass");
        QCOMPARE(a.received(first), QByteArray("\x00\x0f\x00Name of alpha\x00", 17));

        const int second = logIn(b, "ALPHA", "pass");
        QVERIFY(!b.isOpen(second));
        QCOMPARE(b.received(second), QByteArray());
        QCOMPARE(duplicates(b), quint64(1));
        QVERIFY(b.reg().onlineServers().texts().isEmpty());
        QVERIFY(b.reg().eventLog().lines().size() == 1); // the start-up line only: refusals are not logged
        QVERIFY(a.isOpen(first));

        // A wrong password is still told as such, before any presence test.
        const int wrong = logIn(b, "alpha", "nope");
        QCOMPARE(b.received(wrong), QByteArray("\x00\x01\x02", 3));

        // Once the first session ends the account is free everywhere.
        a.net.raiseError(first);
        const int third = logIn(b, "Alpha", "PASS");
        QVERIFY(b.isOpen(third));
        QCOMPARE(b.received(third), QByteArray("\x00\x0f\x00Name of alpha\x00", 17));
        // ... and now held by b: a is refused.
        const int fourth = logIn(a, "alpha", "pass");
        QVERIFY(!a.isOpen(fourth));
        QCOMPARE(duplicates(a), quint64(1));
    }

    void aNewAccountIsHeldAtOnce() {
        RegistryFixture a(m_url, 30), b(m_url, 30);
        a.reg().setNewAccountsAllowed(true);
        const int p = a.connect();
        a.send(p, frame(MessageType::FromConnected::Register, fields("fresh", "pw")));
        QVERIFY(a.isOpen(p));
        QCOMPARE(a.received(p).mid(3, 10), QByteArray("<untitled>"));
        const int q = logIn(b, "FRESH", "pw");
        QVERIFY(!b.isOpen(q));
        QCOMPARE(duplicates(b), quint64(1));
    }

    void aCleanShutdownFreesItsAccounts() {
        RegistryFixture a(m_url, 30), b(m_url, 30);
        QVERIFY(a.reg().accounts().add(account("beta", "PW")));
        QVERIFY(a.isOpen(logIn(a, "beta", "pw")));
        QVERIFY(!b.isOpen(logIn(b, "beta", "pw")));
        a.reg().shutdown();
        QVERIFY(b.isOpen(logIn(b, "beta", "pw")));
    }

    // A registry that stops renewing (killed, or its machine lost) keeps its
    // accounts only until its lease lapses; one that renews keeps them.
    void aLeaseHoldsWhileRenewedAndLapsesWhenNot() {
        RegistryFixture a(m_url, 3), b(m_url, 3);
        QVERIFY(a.reg().accounts().add(account("gamma", "PW")));
        QVERIFY(a.isOpen(logIn(a, "gamma", "pw")));
        // Renewed from a's own clock every second for four seconds.
        for (int i = 0; i < 4; ++i) {
            QThread::msleep(1000);
            tickAfter(a, 1000);
        }
        QVERIFY(!b.isOpen(logIn(b, "gamma", "pw")));
        // No renewal from here on: a is as good as dead.
        QThread::msleep(3300);
        const int taken = logIn(b, "gamma", "pw");
        QVERIFY(b.isOpen(taken));
        QCOMPARE(b.reg().slot(b.slotOf(taken)).Mode, SessionMode::Server);
        QCOMPARE(duplicates(b), quint64(1));
    }

    // A ban made by any program reaches the other registry's copy in memory
    // through the announcement, within the second.
    void aBanAddedElsewhereRefusesCallersWithinASecond() {
        RegistryFixture a(m_url, 30), b(m_url, 30);
        QVERIFY(b.isOpen(b.connect("10.9.9.9"))); // b has read the (empty) bans
        const quint64 reads = b.reg().database().bans().memoryReads();
        QVERIFY(m_server->psql(databaseName(m_url), QStringLiteral("INSERT INTO \"Bans\" (\"Number\", \"Name\", "
                                                                   "\"IP\") VALUES (1, 'net', '10.9.0.0')")));
        QElapsedTimer t;
        t.start();
        QTRY_VERIFY_WITH_TIMEOUT(!b.isOpen(b.connect("10.9.9.9")), 1000);
        QVERIFY(t.elapsed() < 1000);
        QCOMPARE(b.reg().database().bans().memoryReads(), reads + 1);
        // Through the registry's own set at a: the same.
        BanRecord exact{2, "one", "10.8.8.8", {}, {}};
        QVERIFY(a.reg().database().bans().add(exact));
        QTRY_VERIFY_WITH_TIMEOUT(!b.isOpen(b.connect("10.8.8.8")), 1000);
        QVERIFY(b.isOpen(b.connect("10.7.7.7")));
    }

    // The listening connection gone: the bans are read again every 5 s of
    // the registry's clock, and the listening is taken up again.
    void withoutAnnouncementsBansAreReadEveryFiveSeconds() {
        RegistryFixture b(m_url, 30);
        QTest::qWait(100); // the listener is in
        QVERIFY(b.isOpen(b.connect("10.6.6.6")));
        tickAfter(b, 100);
        QVERIFY(m_server->psql(databaseName(m_url),
                               QStringLiteral("SELECT pg_terminate_backend(pid) FROM pg_stat_activity "
                                              "WHERE query LIKE 'LISTEN%' AND datname = current_database()")));
        QTest::qWait(200); // the listener sees its end of the socket
        QVERIFY(m_server->psql(databaseName(m_url), QStringLiteral("INSERT INTO \"Bans\" (\"Number\", \"Name\", "
                                                                   "\"IP\") VALUES (1, 'x', '10.6.6.6')")));
        QTest::qWait(300);
        QVERIFY(b.isOpen(b.connect("10.6.6.6"))); // nothing heard, nothing read yet
        tickAfter(b, 4800);
        QVERIFY(b.isOpen(b.connect("10.6.6.6")));
        tickAfter(b, 200);
        QVERIFY(!b.isOpen(b.connect("10.6.6.6")));
        // Listening again: the next ban arrives without waiting.
        QVERIFY(m_server->psql(databaseName(m_url), QStringLiteral("INSERT INTO \"Bans\" (\"Number\", \"Name\", "
                                                                   "\"IP\") VALUES (2, 'y', '10.5.5.5')")));
        QTRY_VERIFY_WITH_TIMEOUT(!b.isOpen(b.connect("10.5.5.5")), 1000);
    }

    void anExpiredBanIsDeletedByOneRegistryOnly() {
        RegistryFixture a(m_url, 30), b(m_url, 30);
        const QDate today(2026, 12, 8);
        QVERIFY(a.reg().database().bans().add(BanRecord{1, "old", "10.4.4.4", {}, today.addDays(-1)}));
        // Both hold it in memory (no event processed in between: b has not
        // heard of any change).
        QVERIFY(!a.reg().database().bans().isEmpty());
        QVERIFY(!b.reg().database().bans().isEmpty());
        QCOMPARE(decideAdmission(a.reg().database().bans(), "10.4.4.4", today), Admission::AdmittedBanLifted);
        QCOMPARE(decideAdmission(b.reg().database().bans(), "10.4.4.4", today), Admission::Admitted);
        QCOMPARE(b.reg().database().bans().count(), 0);
        // A ban given a new date meanwhile is not deleted by a stale copy.
        QVERIFY(a.reg().database().bans().add(BanRecord{2, "again", "10.4.4.4", {}, today.addDays(-1)}));
        QTRY_VERIFY_WITH_TIMEOUT(b.reg().database().bans().findByIP("10.4.4.4").has_value(), 1000);
        QVERIFY(a.reg().database().bans().update(BanRecord{2, "again", "10.4.4.4", {}, today.addDays(7)}));
        QCOMPARE(decideAdmission(b.reg().database().bans(), "10.4.4.4", today), Admission::Banned);
        QCOMPARE(b.reg().database().bans().count(), 1);
    }

    // Operator types 15 and 14 at one registry change the shared tables;
    // the sessions online at the other go on.
    void operatorCommandsActOnTheSharedTables() {
        RegistryFixture a(m_url, 30), b(m_url, 30);
        QVERIFY(a.reg().accounts().add(account("delta", "PW")));
        QVERIFY(a.reg().accounts().add(account("eps", "PW")));
        const int online = logIn(a, "delta", "pw");
        a.received(online);
        const int op = connectOperator(b);
        b.send(op, frame(MessageType::FromOperator::ClearOfficial));
        QCOMPARE(a.reg().accounts().find("eps")->Official, std::optional<int>(0));
        QCOMPARE(a.reg().slot(a.slotOf(online)).Official, quint8(1)); // the live session keeps its mark
        b.send(op, frame(MessageType::FromOperator::DeleteAllAccounts));
        QCOMPARE(a.reg().accounts().count(), 0);
        QVERIFY(a.isOpen(online));
        QCOMPARE(a.reg().onlineServers().texts(), QStringList{"delta"});
        const int gone = logIn(b, "eps", "pw");
        QCOMPARE(b.received(gone), QByteArray("\x00\x01\x03", 3));
    }

    // A look-up given up after its time-out (the table locked by another
    // program) is no unknown name: closed without a reply, not type 3.
    void aLookUpThatTimesOutIsNotAnUnknownName() {
        RegistryFixture a(m_url, 30);
        QVERIFY(a.reg().accounts().add(account("theta", "PW")));
        QSqlDatabase db = QSqlDatabase::database(a.reg().database().connectionName(), false);
        QVERIFY(QSqlQuery(db).exec(QStringLiteral("SET statement_timeout = 200")));
        {
            QSqlDatabase locker = QSqlDatabase::cloneDatabase(db, QStringLiteral("locker"));
            QVERIFY(locker.open());
            QSqlQuery lock(locker);
            QVERIFY(lock.exec(QStringLiteral("BEGIN")));
            QVERIFY(lock.exec(QStringLiteral("LOCK TABLE \"Servers\" IN ACCESS EXCLUSIVE MODE")));
            const int p = logIn(a, "theta", "pw");
            QVERIFY(!a.isOpen(p));
            QCOMPARE(a.received(p), QByteArray());
            QCOMPARE(a.reg().counters().logins[size_t(LoginKind::Server)][size_t(LoginResult::StoreUnavailable)],
                     quint64(1));
            QVERIFY(lock.exec(QStringLiteral("ROLLBACK")));
            locker.close();
        }
        QSqlDatabase::removeDatabase(QStringLiteral("locker"));
        QVERIFY(a.isOpen(logIn(a, "theta", "pw")));
    }

    // The server stops answering without closing its sockets (stopped, or
    // a stalled network): one statement waits out the time-out, then the
    // connection counts as lost and nothing waits for the server again.
    void aStalledServerHoldsTheLoopForOneTimeOutAtMost() {
        RegistryFixture a(m_url, 30);
        QStringList notices;
        connect(&a.reg(), &Registry::notice, this, [&notices](NoticeSeverity, const QString& text) { notices << text; });
        QVERIFY(a.reg().accounts().add(account("iota", "PW")));
        QVERIFY(a.reg().accounts().add(account("kappa", "PW")));
        QVERIFY(a.reg().accounts().add(account("lambda", "PW")));
        const int online = logIn(a, "iota", "pw");
        a.received(online);
        QVERIFY(a.isOpen(online));
        QTest::qWait(100); // the ban listener is in: the bans are read again once
        QVERIFY(a.isOpen(a.connect("10.3.3.3")));

        // Whatever happens below, the server runs again afterwards.
        struct Continue {
            PostgresServer* server;
            ~Continue() { server->resume(); }
        } continueServer{m_server};
        QVERIFY2(m_server->pause(), qPrintable(m_server->error()));

        // The list comes from memory: answered at once.
        QElapsedTimer t;
        t.start();
        const int client = a.connect("10.3.3.4");
        a.send(client, frame(MessageType::FromConnected::ListQuery, QByteArray(1, 1)));
        QVERIFY(a.received(client).contains("Name of iota"));
        QVERIFY2(t.elapsed() < 200, qPrintable(QString::number(t.elapsed())));

        // A login: its look-up waits out the time-out, then it is closed
        // without a reply.
        t.restart();
        const int first = logIn(a, "kappa", "pw");
        const qint64 held = t.elapsed();
        QVERIFY(!a.isOpen(first));
        QCOMPARE(a.received(first), QByteArray());
        QVERIFY2(held >= PostgresCall::kAnswerTimeoutMs - 50 && held < PostgresCall::kAnswerTimeoutMs + 1000,
                 qPrintable(QString::number(held)));
        QVERIFY(!a.reg().databaseHealthy());

        // From now on nothing waits: logins and registrations are closed at
        // once, the list still answers.
        t.restart();
        const int second = logIn(a, "lambda", "pw");
        QVERIFY(!a.isOpen(second));
        QCOMPARE(a.received(second), QByteArray());
        a.reg().setNewAccountsAllowed(true);
        const int reg = a.connect();
        a.send(reg, frame(MessageType::FromConnected::Register, fields("stalled", "pw")));
        QVERIFY(!a.isOpen(reg));
        QCOMPARE(a.received(reg), QByteArray());
        const int again = a.connect("10.3.3.5");
        a.send(again, frame(MessageType::FromConnected::ListQuery, QByteArray(1, 1)));
        QVERIFY(a.received(again).contains("Name of iota"));
        QVERIFY2(t.elapsed() < 200, qPrintable(QString::number(t.elapsed())));
        QVERIFY(a.isOpen(online));

        // Reconnecting to the stalled server, given up after its deadline
        // and tried again: the event loop keeps running all along.
        int ticks = 0;
        QTimer ticker;
        connect(&ticker, &QTimer::timeout, this, [&ticks] { ++ticks; });
        ticker.start(10);
        qint64 longestTick = 0;
        auto timedTick = [&](quint32 ms) {
            QElapsedTimer one;
            one.start();
            tickAfter(a, ms);
            longestTick = qMax(longestTick, one.elapsed());
            QTest::qWait(100);
        };
        timedTick(500);
        QVERIFY(notices.join('\n').contains(QLatin1String("lost the connection to the PostgreSQL database")));
        timedTick(1000); // the first attempt starts
        timedTick(RegistryDatabase::kConnectDeadlineMs); // and is given up
        timedTick(2000); // the second starts
        QVERIFY(!a.reg().databaseHealthy());
        QVERIFY2(longestTick < 100, qPrintable(QString::number(longestTick)));
        QVERIFY2(ticks >= 20, qPrintable(QString::number(ticks)));

        QVERIFY2(m_server->resume(), qPrintable(m_server->error()));
        t.restart();
        for (int i = 0; i < 20 && !a.reg().databaseHealthy(); ++i)
            timedTick(1000);
        QVERIFY2(a.reg().databaseHealthy(), qPrintable(notices.join('\n')));
        QVERIFY2(notices.last().startsWith(QLatin1String("connected again to the PostgreSQL database")),
                 qPrintable(notices.join('\n')));
        QVERIFY2(longestTick < 100, qPrintable(QString::number(longestTick)));
        qInfo("loop held %lld ms by the stalled statement; back %lld ms after the server ran again", held,
              t.elapsed());
        QVERIFY(a.isOpen(logIn(a, "lambda", "pw")));
        // The session online through it all still holds its account.
        QVERIFY(!a.isOpen(logIn(a, "iota", "pw")));
    }

    // Last: the shared server is stopped and started again.
    void theServerLostAndBackWhileBothRun() {
        RegistryFixture a(m_url, 30), b(m_url, 30);
        QStringList notices;
        connect(&a.reg(), &Registry::notice, this, [&notices](NoticeSeverity, const QString& text) { notices << text; });
        QVERIFY(a.reg().accounts().add(account("zeta", "PW")));
        QVERIFY(a.reg().accounts().add(account("eta", "PW")));
        const int online = logIn(a, "zeta", "pw");
        a.received(online);
        QVERIFY(a.isOpen(online));

        const int leaving = logIn(a, "eta", "pw");
        a.received(leaving);
        QVERIFY(a.isOpen(leaving));

        QVERIFY2(m_server->stop(), qPrintable(m_server->error()));
        // Its release cannot be written now; it must not hold eta afterwards.
        a.net.raiseError(leaving);
        // Logins and registrations: closed without reply.
        const int login = logIn(a, "eta", "pw");
        QVERIFY(!a.isOpen(login));
        QCOMPARE(a.received(login), QByteArray());
        a.reg().setNewAccountsAllowed(true);
        const int reg = a.connect();
        a.send(reg, frame(MessageType::FromConnected::Register, fields("newone", "pw")));
        QVERIFY(!a.isOpen(reg));
        QCOMPARE(a.received(reg), QByteArray());
        QVERIFY(!a.reg().databaseHealthy());
        // The session online goes on, reports and all; the list still answers.
        a.send(online, frame(MessageType::FromServer::PlayerCount, QByteArray(1, 7)));
        QVERIFY(a.isOpen(online));
        const int client = a.connect("10.3.3.3");
        a.send(client, frame(MessageType::FromConnected::ListQuery, QByteArray(1, 1)));
        QVERIFY(a.received(client).contains("Name of zeta"));
        tickAfter(a, 500);
        QVERIFY(notices.join('\n').contains(QLatin1String("lost the connection to the PostgreSQL database")));

        QVERIFY2(m_server->restart(), qPrintable(m_server->error()));
        // Back-off: the first attempt a second after the loss.
        // The reconnection runs as its socket is ready, between the ticks.
        for (int i = 0; i < 6 && !a.reg().databaseHealthy(); ++i) {
            tickAfter(a, 1000);
            QTest::qWait(100);
        }
        QVERIFY2(a.reg().databaseHealthy(), qPrintable(notices.join('\n')));
        QVERIFY(notices.last().startsWith(QLatin1String("connected again to the PostgreSQL database")));
        // zeta, online at a through it all, is still held by a; b finds the
        // server gone at this first statement and comes back the same way.
        QVERIFY(!b.isOpen(logIn(b, "zeta", "pw")));
        // The reconnection runs as its socket is ready, between the ticks.
        for (int i = 0; i < 6 && !b.reg().databaseHealthy(); ++i) {
            tickAfter(b, 1000);
            QTest::qWait(100);
        }
        QVERIFY(b.reg().databaseHealthy());
        QVERIFY(!b.isOpen(logIn(b, "zeta", "pw")));
        QCOMPARE(duplicates(b), quint64(1));
        // eta, whose session at a ended while the server was away, is free.
        const int eta = logIn(b, "eta", "pw");
        QVERIFY(b.isOpen(eta));
        QCOMPARE(b.reg().slot(b.slotOf(eta)).Mode, SessionMode::Server);
    }
};

QTEST_GUILESS_MAIN(SharedDatabaseTest)
#include "tst_shared_database.moc"
