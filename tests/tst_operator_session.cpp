// Operator tools: the access codes and every command.
#include "support/session_helpers.h"

#include "database/account_set.h"
#include "database/registry_database.h"
#include "protocol/operator_session.h"

#include "client/messages.h"

#include <QtTest>

namespace {
AccountSet& accounts(RegistryFixture& f) { return f.reg().database().accounts(); }
const QByteArray kFirst = "QWZRTPLKMX";
const QByteArray kSecond = "ZKRTQWPMNBVCXLKJHGFD";
} // namespace

class OperatorSessionTest : public QObject {
    Q_OBJECT
private slots:
    void loginWithCodesInAnyCase() {
        RegistryFixture f;
        const int p = f.connect("192.168.5.5");
        f.send(p, frame(2, fields(kFirst.toLower(), kSecond.toLower())));
        QCOMPARE(f.received(p), QByteArray("\x00\x01\x05", 3));
        QCOMPARE(f.reg().slot(f.slotOf(p)).Mode, SessionMode::Operator);
        QCOMPARE(f.reg().eventLog().last(), QString("Operator connection established from 192.168.5.5"));
        f.reg().closeClient(f.slotOf(p));
        QCOMPARE(f.reg().eventLog().last(), QString("Operator has disconnected from 192.168.5.5"));
    }

    void badCodesCloseWithoutReply() {
        RegistryFixture f;
        const QList<QByteArray> payloads = {kFirst, kFirst + kSecond, fields(kFirst, ""), fields("", kSecond),
                                            fields(kSecond, kFirst), fields(kFirst, kSecond + "X"), QByteArray()};
        for (const QByteArray& payload : payloads) {
            const int p = f.connect();
            f.send(p, frame(2, payload));
            QVERIFY(!f.isOpen(p));
            QCOMPARE(f.received(p), QByteArray());
        }
        QCOMPARE(f.reg().eventLog().lines().size(), 1);
    }

    void disconnectNotifiesEveryOperatorIncludingSender() {
        RegistryFixture f;
        const int srv = placeServer(f, "SRV", 0, 0, "N", "D", "10.0.0.9");
        const int op1 = connectOperator(f);
        const int op2 = connectOperator(f);
        f.send(op1, frame(5, "nobody"));
        QVERIFY(f.isOpen(srv));
        QCOMPARE(f.received(op1), QByteArray());
        f.send(op1, frame(5, "srv"));
        QVERIFY(!f.isOpen(srv));
        QCOMPARE(f.received(op1), QByteArray("\x00\x04\x06SRV", 6));
        QCOMPARE(f.received(op2), QByteArray("\x00\x04\x06SRV", 6));
        QCOMPARE(f.reg().eventLog().last(), QString("SRV has disconnected from 10.0.0.9"));
    }

    void messageToOneServerIsUppercased() {
        RegistryFixture f;
        const int srv = placeServer(f, "SRV");
        const int other = placeServer(f, "other");
        const int op = connectOperator(f);
        f.send(op, frame(6, fields("srv", "hello")));
        QCOMPARE(f.received(srv), QByteArray("\x00\x06\x04HELLO", 8));
        QCOMPARE(f.received(other), QByteArray());
        // Too short or without a separator: ignored, the session stays.
        f.send(op, frame(6, "ab"));
        f.send(op, frame(6, fields("srv", "")));
        f.send(op, frame(6, "srvhello"));
        QVERIFY(f.isOpen(op));
        QCOMPARE(f.received(srv), QByteArray());
    }

    void broadcastReachesEveryServerUnchanged() {
        RegistryFixture f;
        const int a = placeServer(f, "a1");
        const int plain = f.connect();
        const int b = placeServer(f, "b2");
        const int op = connectOperator(f);
        f.send(op, frame(7, "hello"));
        QCOMPARE(f.received(a), QByteArray("\x00\x06\x04hello", 8));
        QCOMPARE(f.received(b), QByteArray("\x00\x06\x04hello", 8));
        QCOMPARE(f.received(plain), QByteArray());
        QCOMPARE(f.received(op), QByteArray());
        QCOMPARE(f.reg().eventLog().last(), QString("Operator: hello"));
        const int lines = f.reg().eventLog().lines().size();
        f.send(op, frame(7));
        QCOMPARE(f.reg().eventLog().lines().size(), lines);
        QVERIFY(f.isOpen(op));
    }

    void addGodUppercasesWithMarker() {
        RegistryFixture f;
        const int srv = placeServer(f, "SRV");
        const int op = connectOperator(f);
        f.send(op, frame(9, fields("srv", "bob")));
        QCOMPARE(f.received(srv), QByteArray("\x00\x05\x05\x0a" "BOB", 7));
        f.send(op, frame(9, fields("sr", ""))); // 3 bytes: too short
        f.send(op, frame(9, fields("nobody", "bob")));
        QCOMPARE(f.received(srv), QByteArray());
        QVERIFY(f.isOpen(op));
    }

    void officialMarksOnlyTheSlot() {
        RegistryFixture f;
        const int srv = registerServer(f, "srv");
        const int op = connectOperator(f);
        f.send(op, frame(10, fields("SRV", "x")));
        QCOMPARE(f.reg().slot(f.slotOf(srv)).Official, quint8(1));
        QCOMPARE(accounts(f).find("srv")->Official, std::optional<int>(0));
        f.send(op, frame(11, fields("srv", "x")));
        QCOMPARE(f.reg().slot(f.slotOf(srv)).Official, quint8(0));
        f.send(op, frame(10, fields("srv", ""))); // no text after the separator
        QCOMPARE(f.reg().slot(f.slotOf(srv)).Official, quint8(0));
    }

    void newAccountsSwitch() {
        RegistryFixture f;
        const int op = connectOperator(f);
        QSignalSpy changed(&f.reg(), &Registry::newAccountsAllowedChanged);
        f.send(op, frame(13));
        QVERIFY(f.reg().newAccountsAllowed());
        const int p = f.connect();
        f.send(p, frame(0, fields("fresh", "pw")));
        QCOMPARE(f.reg().slot(f.slotOf(p)).Mode, SessionMode::Server);
        f.send(op, frame(12, "anything"));
        QVERIFY(!f.reg().newAccountsAllowed());
        QCOMPARE(changed.count(), 2);
        const int q = f.connect();
        f.send(q, frame(0, fields("second", "pw")));
        QCOMPARE(f.received(q), QByteArray("\x00\x01\x03", 3));
    }

    void clearOfficialAndDeleteAll() {
        RegistryFixture f;
        AccountRecord r;
        r.User = "one";
        r.Password = "pw";
        r.Official = 1;
        accounts(f).add(r);
        r.User = "two";
        r.Official = 3;
        accounts(f).add(r);
        const int srv = f.connect();
        f.send(srv, frame(1, fields("one", "pw")));
        QCOMPARE(f.reg().slot(f.slotOf(srv)).Official, quint8(1));
        const int op = connectOperator(f);
        f.send(op, frame(14));
        QCOMPARE(accounts(f).find("one")->Official, std::optional<int>(0));
        QCOMPARE(accounts(f).find("two")->Official, std::optional<int>(0));
        QCOMPARE(f.reg().slot(f.slotOf(srv)).Official, quint8(1)); // the live session keeps its mark
        f.send(op, frame(15));
        QCOMPARE(accounts(f).count(), 0);
        QVERIFY(f.isOpen(srv));
        f.send(op, frame(15)); // an empty table is left alone
        QVERIFY(f.isOpen(op));
    }

    void versionCheckAndFlags() {
        RegistryFixture f;
        const int op = connectOperator(f);
        f.send(op, frame(8, "x"));
        f.send(op, frame(17));
        f.send(op, frame(27, "y"));
        QVERIFY(f.isOpen(op));
        QVERIFY(!f.reg().slot(f.slotOf(op)).SessionFlag);
        f.send(op, frame(28, "1201"));
        QVERIFY(f.reg().slot(f.slotOf(op)).SessionFlag);
        QVERIFY(f.isOpen(op));

        for (const QByteArray& version : {QByteArray("1200"), QByteArray("abc"), QByteArray(""), QByteArray("1201x")}) {
            const int old = connectOperator(f);
            f.send(old, frame(28, version));
            QCOMPARE(f.received(old), QByteArray("\x00\x26\x04You must upgrade to v12.01 or higher.", 40));
            QVERIFY(!f.isOpen(old));
        }
        QVERIFY(OperatorSession::versionMatches("1201.0"));
        QVERIFY(!OperatorSession::versionMatches("-1201"));

        const int flag = connectOperator(f);
        f.send(flag, frame(16));
        QVERIFY(f.reg().slot(f.slotOf(flag)).SessionFlag);
    }

    // Every command as the client library builds it reaches its own entry of
    // the message table: none closes the session, each has its effect.
    void clientLibraryCommandsReachTheirHandlers() {
        namespace M = TavClient::Messages;
        RegistryFixture f;
        const int srv = registerServer(f, "srv");
        const int op = connectOperator(f);
        f.received(srv);
        f.received(op);
        const int slot = f.slotOf(srv);

        f.send(op, M::markOfficial("SRV"));
        QCOMPARE(f.reg().slot(slot).Official, quint8(1));
        f.send(op, M::markUnofficial("srv"));
        QCOMPARE(f.reg().slot(slot).Official, quint8(0));
        f.send(op, M::allowNewAccounts());
        QVERIFY(f.reg().newAccountsAllowed());
        f.send(op, M::denyNewAccounts());
        QVERIFY(!f.reg().newAccountsAllowed());
        f.send(op, M::sessionFlag());
        QVERIFY(f.reg().slot(f.slotOf(op)).SessionFlag);
        f.send(op, M::operatorVersion(OperatorSession::RequiredOperatorVersion));
        f.send(op, M::keepAlive());
        QCOMPARE(f.received(srv), QByteArray());

        f.send(op, M::messageServer("srv", "hi"));
        f.send(op, M::broadcast("all"));
        f.send(op, M::addGod("srv", "bob"));
        QCOMPARE(f.received(srv), QByteArray("\x00\x03\x04HI"
                                             "\x00\x04\x04"
                                             "all"
                                             "\x00\x05\x05\x0a"
                                             "BOB",
                                             5 + 6 + 7));
        QVERIFY(f.isOpen(op));
        QCOMPARE(f.received(op), QByteArray());

        f.send(op, M::clearOfficial());
        f.send(op, M::deleteAllAccounts());
        QCOMPARE(f.reg().database().accounts().count(), 0);
        f.send(op, M::disconnectServer("srv"));
        QVERIFY(!f.isOpen(srv));
        QCOMPARE(f.received(op), QByteArray("\x00\x04\x06srv", 6));
        QVERIFY(f.isOpen(op));
    }

    void unacceptedTypesClose() {
        for (quint8 type : {0, 1, 2, 3, 4, 18, 26, 29, 254}) {
            RegistryFixture f;
            const int op = connectOperator(f);
            f.send(op, frame(type, "x"));
            QVERIFY2(!f.isOpen(op), qPrintable(QString::number(type)));
        }
        RegistryFixture f;
        const int op = connectOperator(f);
        f.send(op, frame(255));
        QVERIFY(f.isOpen(op));
        f.send(op, frame(255, "x"));
        QVERIFY(!f.isOpen(op));
    }
};

QTEST_GUILESS_MAIN(OperatorSessionTest)
#include "tst_operator_session.moc"
