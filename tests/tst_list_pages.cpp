// List replies are built once and sent again until something they show
// changes: every kind of change rebuilds them, nothing else does.
#include "support/session_helpers.h"

#include "admin/control_operations.h"
#include "database/account_set.h"
#include "database/registry_database.h"
#include "protocol/list_pages.h"
#include "protocol/list_query.h"

#include <QtTest>

namespace {
QByteArray query(int start) { return frame(3, QByteArray(1, char(start))); }

AccountRecord account(const QString& user, const QString& password, int official = 0) {
    AccountRecord r;
    r.User = user;
    r.Password = password;
    r.Name = QStringLiteral("Stored");
    r.Description = QStringLiteral("From the store");
    r.UpdateURL = QStringLiteral("");
    r.Official = official;
    return r;
}

// One client that asks for the list from slot 1 and reads the whole reply.
struct Lister {
    RegistryFixture& f;
    int peer;
    explicit Lister(RegistryFixture& fixture) : f(fixture), peer(fixture.connect("10.9.9.9")) {}
    QByteArray ask(int start = 1) {
        f.send(peer, query(start));
        return f.received(peer);
    }
};

quint64 builds(RegistryFixture& f) { return f.reg().listPages().builds(); }
} // namespace

class ListPagesTest : public QObject {
    Q_OBJECT
private slots:
    void unchangedListIsSentAgainWithoutBuilding() {
        RegistryFixture f;
        placeServer(f, "alpha", 1, 12, "Alpha", "Fun", "10.0.0.5");
        placeServer(f, "beta", 0, 3, "Beta", "More", "10.0.0.6", "http://u/");
        Lister a(f);
        const QByteArray first = a.ask();
        QCOMPARE(first, ListQuery::buildReply(f.reg().clients(), 1));
        QCOMPARE(builds(f), quint64(1));
        Lister b(f);
        QCOMPARE(b.ask(), first);
        QCOMPARE(a.ask(), first);
        QCOMPARE(builds(f), quint64(1));
        // Another first slot is another page, built once too.
        const QByteArray second = a.ask(2);
        QCOMPARE(second, ListQuery::buildReply(f.reg().clients(), 2));
        QCOMPARE(b.ask(2), second);
        QCOMPARE(builds(f), quint64(2));
        // A connection that comes and goes without logging in shows nowhere.
        const int passer = f.connect();
        f.net.raiseError(passer);
        QCOMPARE(a.ask(), first);
        QCOMPARE(builds(f), quint64(2));
        // Every reply is still logged.
        QCOMPARE(f.reg().eventLog().last(), QString("Server information sent to 10.9.9.9"));
    }

    // The line is kept per slot: a slot taken again by a caller from
    // another address names that address, from the first reply on.
    void everyReplyNamesTheCallersAddress() {
        RegistryFixture f;
        placeServer(f, "alpha");
        const int first = f.connect("10.1.2.3");
        const int slot = f.slotOf(first);
        f.send(first, query(1));
        QVERIFY(!f.received(first).isEmpty());
        QCOMPARE(f.reg().eventLog().last(), QString("Server information sent to 10.1.2.3"));
        const int other = f.connect("10.200.0.1");
        f.send(other, query(1));
        f.received(other);
        QCOMPARE(f.reg().eventLog().last(), QString("Server information sent to 10.200.0.1"));
        f.send(first, query(1));
        f.received(first);
        QCOMPARE(f.reg().eventLog().last(), QString("Server information sent to 10.1.2.3"));
        f.net.raiseError(first);
        const int next = f.connect("10.1.2.30");
        QCOMPARE(f.slotOf(next), slot);
        f.send(next, query(1));
        f.received(next);
        QCOMPARE(f.reg().eventLog().last(), QString("Server information sent to 10.1.2.30"));
        const QStringList lines = f.reg().eventLog().lines();
        QCOMPARE(lines.count(QString("Server information sent to 10.1.2.3")), 2);
        QCOMPARE(lines.count(QString("Server information sent to 10.1.2.30")), 1);
    }

    void emptyListIsNotKeptOpen() {
        RegistryFixture f;
        const int c = f.connect();
        f.send(c, query(1));
        QVERIFY(!f.isOpen(c));
        placeServer(f, "late");
        Lister a(f);
        QVERIFY(a.ask().contains("late"));
    }

    void loginAndCloseRebuild() {
        RegistryFixture f;
        f.reg().database().accounts().add(account("gamma", "PW"));
        placeServer(f, "alpha");
        Lister a(f);
        const QByteArray before = a.ask();
        QVERIFY(!before.contains("gamma"));

        const int server = f.connect("10.0.0.7");
        f.send(server, frame(1, fields("gamma", "pw")));
        f.received(server);
        QCOMPARE(f.reg().slot(f.slotOf(server)).Mode, SessionMode::Server);
        const quint64 built = builds(f);
        const QByteArray after = a.ask();
        QCOMPARE(builds(f), built + 1);
        QVERIFY(after.contains(fields(fields("gamma", "10.0.0.7"), "[0] Stored")));
        QCOMPARE(after, ListQuery::buildReply(f.reg().clients(), 1));

        f.net.raiseError(server); // the server goes away
        QCOMPARE(a.ask(), before);
        QCOMPARE(builds(f), built + 2);
    }

    void reportsRebuild() {
        RegistryFixture f;
        const int server = registerServer(f, "delta");
        Lister a(f);
        QVERIFY(a.ask().contains(fields("[0] <untitled>", "Unofficial Server: ")));
        quint64 built = builds(f);

        f.send(server, frame(5, fields("Delta Name", "Delta text")));
        QVERIFY(a.ask().contains(fields("[0] Delta Name", "Unofficial Server: Delta text")));
        QCOMPARE(builds(f), ++built);

        f.send(server, frame(7, QByteArray(1, char(42))));
        QVERIFY(a.ask().contains(fields("[42] Delta Name", "Unofficial Server: Delta text")));
        QCOMPARE(builds(f), ++built);

        // The same count again (servers report it on a timer) shows nothing
        // new; the next different one does, down to zero.
        const QByteArray at42 = a.ask();
        f.send(server, frame(7, QByteArray(1, char(42))));
        QCOMPARE(a.ask(), at42);
        QCOMPARE(builds(f), built);
        f.send(server, frame(7, QByteArray(1, char(0))));
        QVERIFY(a.ask().contains(fields("[0] Delta Name", "Unofficial Server: Delta text")));
        QCOMPARE(builds(f), ++built);
        f.send(server, frame(7, QByteArray(1, char(255))));
        QVERIFY(a.ask().contains(fields("[255] Delta Name", "Unofficial Server: Delta text")));
        QCOMPARE(builds(f), ++built);

        // A password change shows in no list.
        const QByteArray now = a.ask();
        QCOMPARE(builds(f), built);
        f.send(server, frame(6, "NEWPASS"));
        QCOMPARE(a.ask(), now);
        QCOMPARE(builds(f), built);
    }

    void officialMarkByOperatorRebuilds() {
        RegistryFixture f;
        placeServer(f, "first", 0, 1, "First", "One");
        placeServer(f, "srv", 0, 2, "Srv", "Two");
        const int op = connectOperator(f);
        Lister a(f);
        const QByteArray plain = a.ask();
        QVERIFY(plain.contains("Unofficial Server: Two"));
        quint64 built = builds(f);

        f.send(op, frame(10, fields("SRV", "x")));
        const QByteArray marked = a.ask();
        QCOMPARE(builds(f), ++built);
        QVERIFY(marked.contains("Official Server: Two"));
        QVERIFY(marked.indexOf("srv") < marked.indexOf("first")); // now listed first
        QCOMPARE(marked, ListQuery::buildReply(f.reg().clients(), 1));

        f.send(op, frame(11, fields("srv", "x")));
        QCOMPARE(a.ask(), plain);
        QCOMPARE(builds(f), ++built);

        // A command naming nobody changes nothing.
        f.send(op, frame(10, fields("nobody", "x")));
        QCOMPARE(a.ask(), plain);
        QCOMPARE(builds(f), built);
    }

    void automationClosesAndEdits() {
        RegistryFixture f;
        f.reg().database().accounts().add(account("eps", "PW"));
        const int server = f.connect("10.0.0.8");
        f.send(server, frame(1, fields("eps", "pw")));
        f.received(server);
        placeServer(f, "other");
        ControlOperations ops(f.reg());
        Lister a(f);
        const QByteArray shown = a.ask();
        quint64 built = builds(f);

        // Editing the account of an online server (its official mark too)
        // changes the stored record only: the session keeps what it logged
        // in with, so the page stays and is not built again.
        QString err;
        ops.EditAccount("eps", "PW", "Renamed", "Edited", "http://e/", 1, err);
        QCOMPARE(err, QString());
        QCOMPARE(a.ask(), shown);
        QCOMPARE(builds(f), built);

        ops.BootServer(f.slotOf(server), err);
        QCOMPARE(err, QString());
        const QByteArray after = a.ask();
        QCOMPARE(builds(f), ++built);
        QVERIFY(!after.contains("eps"));
        QVERIFY(after.contains("other"));
    }

    void everyPageOfALongListFollowsAChange() {
        RegistryFixture f;
        // 25 entries of 52 bytes: two pages, the second from slot 21.
        QList<int> servers;
        for (int i = 1; i <= 25; ++i)
            servers.append(placeServer(f, "srv" + QByteArray::number(i).rightJustified(2, '0'), 0, 0, "N",
                                       QByteArray(8, 'd'), "10.0.0.1"));
        Lister a(f);
        const QByteArray one = a.ask(1);
        const QByteArray two = a.ask(21);
        QVERIFY(one.endsWith(QByteArray("\x00\x03\xff\x03\x15", 5)));
        QCOMPARE(builds(f), quint64(2));
        f.send(servers.last(), frame(7, QByteArray(1, char(9))));
        QCOMPARE(a.ask(1), one); // the first page shows nothing of slot 25 ...
        const QByteArray changed = a.ask(21);
        QVERIFY(changed != two); // ... the second does
        QVERIFY(changed.contains("[9] N"));
        QCOMPARE(builds(f), quint64(4)); // both built again: the list changed
    }

    void onePagePerFirstSlot() {
        RegistryFixture f;
        f.net.connectPeers(200); // slots 1..200, never logged in
        placeServer(f, "high");  // slot 201
        Lister a(f);             // slot 202
        const QByteArray page = a.ask(1);
        for (int round = 0; round < 2; ++round)
            for (int start = 1; start <= 201; ++start)
                QCOMPARE(a.ask(start), page);
        // Every first slot up to the server's is its own page, built once;
        // asking all of them again builds nothing.
        QCOMPARE(builds(f), quint64(201));
        QCOMPARE(f.reg().listPages().page(0), QByteArray());
        QCOMPARE(f.reg().listPages().page(256), QByteArray());
        QCOMPARE(builds(f), quint64(201));
        f.send(a.peer, query(202));
        QVERIFY(!f.isOpen(a.peer));
    }
};

QTEST_GUILESS_MAIN(ListPagesTest)
#include "tst_list_pages.moc"
