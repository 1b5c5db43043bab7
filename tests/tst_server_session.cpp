// Game servers: registration, login and their reports.
#include "support/session_helpers.h"
#include "support/test_engine.h"

#include "client/messages.h"

#include "database/account_set.h"
#include "database/registry_database.h"

#include <QtTest>

namespace {
AccountSet& accounts(RegistryFixture& f) { return f.reg().database().accounts(); }

AccountRecord account(const QString& user, const QString& password, const QString& name = "Alpha",
                      const QString& description = "", int official = 0) {
    AccountRecord r;
    r.User = user;
    r.Password = password;
    r.Name = name;
    r.Description = description;
    r.UpdateURL = "";
    r.Official = official;
    return r;
}

const QByteArray kUntitledReply = QByteArray("\x00\x0c\x00", 3) + QByteArray("<untitled>\0", 11);
} // namespace

class ServerSessionTest : public QObject {
    Q_OBJECT
private slots:
    void registrationTrimsAndUppercases() {
        RegistryFixture f;
        f.reg().setNewAccountsAllowed(true);
        const int p = f.connect("10.1.2.3");
        f.send(p, frame(0, fields("  abc  ", "  pw x  ")));
        QCOMPARE(f.received(p), kUntitledReply);
        const auto rec = accounts(f).find("abc");
        QVERIFY(rec);
        QCOMPARE(rec->User, QString("abc"));
        QCOMPARE(rec->Password, QString("PW X"));
        QCOMPARE(rec->Name, QString("<untitled>"));
        QCOMPARE(rec->Description, QString(""));
        QCOMPARE(rec->UpdateURL, QString(""));
        QCOMPARE(rec->Official, std::optional<int>(0));
        const ClientSlot& s = f.reg().slot(f.slotOf(p));
        QCOMPARE(s.Mode, SessionMode::Server);
        QCOMPARE(s.ServerId, QByteArray("abc"));
        QCOMPARE(s.AccountBookmark, rec->bookmark);
        QCOMPARE(f.reg().onlineServers().texts(), QStringList{"abc"});
        QCOMPARE(f.reg().eventLog().last(), QString("New account abc created from 10.1.2.3"));
    }

    void registrationPasswordRules() {
        RegistryFixture f;
        f.reg().setNewAccountsAllowed(true);
        const int blank = f.connect();
        f.send(blank, frame(0, fields("blank", "    ")));
        QCOMPARE(f.received(blank), kUntitledReply);
        QCOMPARE(accounts(f).find("blank")->Password, QString(""));

        const int longer = f.connect();
        f.send(longer, frame(0, fields("longpw", "abcdefghijklmnopqrst")));
        QCOMPARE(accounts(f).find("longpw")->Password, QString("ABCDEFGHIJKLMNO"));
    }

    void refusedNamesCloseWithoutReply() {
        RegistryFixture f;
        f.reg().setNewAccountsAllowed(true);
        const QList<QByteArray> payloads = {
            fields("abcdefghijklmnop", "pw"), // 16 characters
            fields("ab", "pw"),               // 2 characters
            fields("a bc", "pw"),             // inner space
            fields("ab-c", "pw"),             // hyphen
            fields("ab\xe9z", "pw"),          // accented letter
            fields("abc", ""),                // no password
            QByteArray("abc"),                // no separator
            fields("", "pw"),                 // no name
            fields("   ", "pw"),              // only spaces
            QByteArray(),                     // empty
            fields("x'; DROP TABLE Servers;--", "pw"),
        };
        for (const QByteArray& payload : payloads) {
            const int p = f.connect();
            f.send(p, frame(0, payload));
            QVERIFY2(!f.isOpen(p), payload.constData());
            QCOMPARE(f.received(p), QByteArray());
        }
        QCOMPARE(accounts(f).count(), 0);
        QCOMPARE(f.reg().connectionCount(), 0);
    }

    void registrationSwitchOffAndTakenName() {
        RegistryFixture f;
        const int off = f.connect();
        f.send(off, frame(0, fields("newbie", "pw")));
        QCOMPARE(f.received(off), QByteArray("\x00\x01\x03", 3));
        QVERIFY(!f.isOpen(off)); // closed at once, not after the send
        QCOMPARE(accounts(f).count(), 0);

        f.reg().setNewAccountsAllowed(true);
        accounts(f).add(account("bob", "X"));
        const int taken = f.connect();
        f.send(taken, frame(0, fields("BOB", "pw")));
        QCOMPARE(f.received(taken), QByteArray("\x00\x01\x01", 3));
        QVERIFY(!f.isOpen(taken));
        QCOMPARE(accounts(f).count(), 1);
    }

    void loginWorkedExample() {
        RegistryFixture f;
        accounts(f).add(account("alpha", "pass", "Alpha", ""));
        const int p = f.connect("10.0.0.7");
        const QByteArray login = frame(1, fields("alpha", "pass"));
        QCOMPARE(login, QByteArray("\x00\x0b\x01" "alpha\0pass", 13));
        f.send(p, login);
        QCOMPARE(f.received(p), QByteArray("\x00\x07\x00" "Alpha\0", 9));
        QCOMPARE(f.reg().eventLog().last(), QString("alpha has connected successfully from 10.0.0.7"));
        QCOMPARE(f.reg().onlineServers().texts(), QStringList{"alpha"});
        QCOMPARE(f.reg().slot(f.slotOf(p)).Mode, SessionMode::Server);
    }

    void loginCopiesAccountAndKeepsSpelling() {
        RegistryFixture f;
        auto rec = account("Gamma", "Secret", "Gamma World", "Nice place", 1);
        rec.UpdateURL = "http://g/";
        accounts(f).add(rec);
        const int p = f.connect();
        f.send(p, frame(1, fields("GAMMA", "sEcReT")));
        QCOMPARE(f.received(p), QByteArray("\x00\x17\x00", 3) + fields("Gamma World", "Nice place"));
        const ClientSlot& s = f.reg().slot(f.slotOf(p));
        QCOMPARE(s.ServerId, QByteArray("GAMMA"));
        QCOMPARE(s.ServerName, QByteArray("Gamma World"));
        QCOMPARE(s.Official, quint8(1));
        QCOMPARE(s.UpdateUrl, QByteArray("http://g/"));
        QCOMPARE(s.PlayerCount, quint8(0));
    }

    void loginRefusals() {
        RegistryFixture f;
        accounts(f).add(account("alpha", "pass"));

        const int wrong = f.connect();
        f.send(wrong, frame(1, fields("alpha", "nope")));
        QCOMPARE(f.received(wrong), QByteArray("\x00\x01\x02", 3));
        QVERIFY(!f.isOpen(wrong));

        // Unknown names and malformed logins close once the reply has left.
        for (const QByteArray& payload : {fields("ghost", "pass"), QByteArray("alpha"), fields("alpha", ""),
                                          fields("al'pha%", "pass"), fields(QByteArray(500, 'n'), "p")}) {
            const int p = f.connect();
            f.send(p, frame(1, payload));
            QCOMPARE(f.received(p), QByteArray("\x00\x01\x03", 3));
            QVERIFY(f.isOpen(p));
            f.net.completeSends(p);
            QVERIFY(!f.isOpen(p));
        }
        const int empty = f.connect();
        f.send(empty, frame(1));
        QVERIFY(!f.isOpen(empty));
        QCOMPARE(f.received(empty), QByteArray());
        QCOMPARE(f.reg().eventLog().lines().size(), 1); // refusals are not logged
    }

    void duplicateSessionIsClosed() {
        RegistryFixture f;
        accounts(f).add(account("alpha", "pass"));
        const int first = f.connect();
        f.send(first, frame(1, fields("alpha", "pass")));
        f.received(first);
        const int second = f.connect();
        f.send(second, frame(1, fields("ALPHA", "pass")));
        QVERIFY(!f.isOpen(second));
        QCOMPARE(f.received(second), QByteArray());
        QVERIFY(f.isOpen(first));
        QCOMPARE(f.reg().onlineServers().texts(), QStringList{"alpha"});
    }

    void refusedLoginDoesNotLockTheAccountOut() {
        RegistryFixture f;
        // A login for a name that does not exist yet waits for its refusal to leave...
        const int early = f.connect();
        f.send(early, frame(1, fields("latecomer", "pw")));
        QCOMPARE(f.received(early), QByteArray("\x00\x01\x03", 3));
        QVERIFY(f.isOpen(early));
        // ...while the account is created and its server logs in.
        accounts(f).add(account("latecomer", "pw"));
        const int real = f.connect();
        f.send(real, frame(1, fields("latecomer", "pw")));
        QCOMPARE(f.reg().slot(f.slotOf(real)).Mode, SessionMode::Server);
        QVERIFY(f.isOpen(real));
    }

    void nameAndDescriptionReport() {
        RegistryFixture f;
        const int p = registerServer(f, "srv");
        f.send(p, frame(5, fields("  My Server ", " Great fun ")));
        const ClientSlot& s = f.reg().slot(f.slotOf(p));
        QCOMPARE(s.ServerName, QByteArray("My Server"));
        QCOMPARE(s.Description, QByteArray("Great fun"));
        QCOMPARE(accounts(f).find("srv")->Name, QString("My Server"));
        QCOMPARE(accounts(f).find("srv")->Description, QString("Great fun"));
        QCOMPARE(f.received(p), QByteArray());
        QCOMPARE(f.reg().onlineServers().texts(), QStringList{"srv"});

        f.send(p, frame(5, fields("", QByteArray(255, 'd'))));
        QVERIFY(f.isOpen(p));
        QCOMPARE(accounts(f).find("srv")->Name, QString(""));
        f.send(p, frame(5, fields(QByteArray(50, 'n'), "")));
        QVERIFY(f.isOpen(p));
        QCOMPARE(accounts(f).find("srv")->Name.size(), 50);
    }

    void oversizedOrMalformedReportCloses() {
        RegistryFixture f;
        for (const QByteArray& payload :
             {fields(QByteArray(51, 'n'), "d"), fields("n", QByteArray(256, 'd')), QByteArray("no separator"),
              QByteArray("n\0d\0http://evil/", 17), QByteArray("n\0\0", 3)}) {
            const int p = registerServer(f, "srv");
            f.send(p, frame(5, payload));
            QVERIFY(!f.isOpen(p));
            QCOMPARE(accounts(f).find("srv")->Name, QString("<untitled>"));
            accounts(f).remove("srv");
        }
    }

    void storedTextsAreSentCutAtAByte0() {
        if (TestEngine::isPostgres())
            QSKIP("PostgreSQL's text cannot hold a NUL character: such a record is refused there");
        RegistryFixture f;
        auto rec = account("delta", "pw", QString::fromLatin1("Delta\0x", 7), QString::fromLatin1("Fine\0http://evil/", 17));
        rec.UpdateURL = QString::fromLatin1("http://d/\0extra", 15);
        accounts(f).add(rec);
        const int p = f.connect();
        f.send(p, frame(1, fields("delta", "pw")));
        QCOMPARE(f.received(p), QByteArray("\x00\x0b\x00", 3) + fields("Delta", "Fine"));
        const ClientSlot& s = f.reg().slot(f.slotOf(p));
        QCOMPARE(s.ServerName, QByteArray("Delta"));
        QCOMPARE(s.Description, QByteArray("Fine"));
        QCOMPARE(s.UpdateUrl, QByteArray("http://d/"));
    }

    void passwordChange() {
        RegistryFixture f;
        const int p = registerServer(f, "srv", "old");
        f.send(p, frame(6, "ab"));
        f.send(p, frame(6, QByteArray(16, 'x')));
        QVERIFY(f.isOpen(p));
        QCOMPARE(accounts(f).find("srv")->Password, QString("OLD"));
        f.send(p, frame(6, "new pw"));
        QCOMPARE(accounts(f).find("srv")->Password, QString("NEW PW"));
        QCOMPARE(f.received(p), QByteArray());
    }

    void playerCount() {
        RegistryFixture f;
        const int p = registerServer(f, "srv");
        f.send(p, frame(7, QByteArray(1, char(200))));
        QCOMPARE(f.reg().slot(f.slotOf(p)).PlayerCount, quint8(200));
        f.send(p, frame(7, QByteArray(1, '\0')));
        QCOMPARE(f.reg().slot(f.slotOf(p)).PlayerCount, quint8(0));
        f.send(p, frame(7, QByteArray(2, '\1')));
        QVERIFY(!f.isOpen(p));
        QCOMPARE(f.reg().eventLog().last(), QString("srv has disconnected from 127.0.0.1"));
    }

    void unexpectedTypesCloseServerSession() {
        RegistryFixture f;
        const int p = registerServer(f, "srv");
        f.send(p, frame(1, fields("srv", "secret")));
        QVERIFY(!f.isOpen(p));
    }

    void reportsAfterAccountsDeletedTouchNoRecord() {
        RegistryFixture f;
        const int p = registerServer(f, "srv");
        accounts(f).removeAll();
        // A new account may be stored where the old one was.
        accounts(f).add(account("other", "pw", "Other", "Theirs"));
        f.send(p, frame(5, fields("Mine", "Mine too")));
        f.send(p, frame(6, "changed"));
        QVERIFY(f.isOpen(p));
        QCOMPARE(f.reg().slot(f.slotOf(p)).ServerName, QByteArray("Mine"));
        const auto other = accounts(f).find("other");
        QCOMPARE(other->Name, QString("Other"));
        QCOMPARE(other->Description, QString("Theirs"));
        QCOMPARE(other->Password, QString("pw"));
        QVERIFY(!accounts(f).find("srv"));
    }

    // The same over the wire: an operator deletes every account, a new server
    // registers; the old session's reports never reach the new account, and
    // the new account never gets the old one's bookmark.
    void reportsOfASessionWhoseAccountWasReplacedTouchNoRecord() {
        namespace M = TavClient::Messages;
        RegistryFixture f;
        const int op = f.connect("10.0.0.50");
        f.send(op, M::operatorLogin("QWZRTPLKMX", "ZKRTQWPMNBVCXLKJHGFD"));
        f.send(op, M::allowNewAccounts());
        const int alpha = f.connect("10.0.0.1");
        f.send(alpha, M::registerServer("alpha", "mine"));
        QCOMPARE(f.received(alpha), kUntitledReply);
        const qint64 alphaBookmark = f.reg().slot(f.slotOf(alpha)).AccountBookmark;
        f.send(op, M::deleteAllAccounts());
        const int intruder = f.connect("10.0.0.2");
        f.send(intruder, M::registerServer("intruder", "theirs"));
        QCOMPARE(f.received(intruder), kUntitledReply);
        QVERIFY(f.reg().slot(f.slotOf(intruder)).AccountBookmark != alphaBookmark);

        f.send(alpha, M::nameDescription("Alpha", "Alpha's"));
        f.send(alpha, M::passwordChange("stolen"));
        QVERIFY(f.isOpen(alpha));
        QCOMPARE(f.reg().slot(f.slotOf(alpha)).ServerName, QByteArray("Alpha"));
        const auto other = accounts(f).find("intruder");
        QCOMPARE(other->Name, QString("<untitled>"));
        QCOMPARE(other->Description, QString(""));
        QCOMPARE(other->Password, QString("THEIRS"));
        QCOMPARE(accounts(f).names(), QStringList{"intruder"});

        // The new server's own reports are stored.
        f.send(intruder, M::nameDescription("Mine", "Really"));
        QCOMPARE(accounts(f).find("intruder")->Name, QString("Mine"));
    }

    void highBytesTravelAsWindows1252() {
        RegistryFixture f;
        const int p = registerServer(f, "srv");
        f.send(p, frame(5, fields("Caf\xe9", "\x80 cost")));
        QCOMPARE(accounts(f).find("srv")->Name, QString::fromUtf8("Café"));
        QCOMPARE(accounts(f).find("srv")->Description, QString::fromUtf8("€ cost"));
        f.reg().closeClient(f.slotOf(p));
        const int again = f.connect();
        f.send(again, frame(1, fields("srv", "secret")));
        QCOMPARE(f.received(again), QByteArray("\x00\x0c\x00", 3) + fields("Caf\xe9", "\x80 cost"));
    }
};

QTEST_GUILESS_MAIN(ServerSessionTest)
#include "tst_server_session.moc"
