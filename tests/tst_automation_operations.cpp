// The automation class's operations and their failure reports.
#include "support/session_helpers.h"

#include "admin/control_operations.h"
#include "database/account_set.h"
#include "database/ban_set.h"
#include "database/registry_database.h"

#include <QtTest>

namespace {
using CallError = ControlOperations::CallError;

QString expectedFailure(int n, const QString& desc, const QString& method) {
    return "ErrNum=" + QString::number(n) + "\r\nErrDesc=" + desc + "\r\nName=" + method;
}

template <typename F> CallError::Kind callErrorOf(F&& f) {
    try {
        f();
    } catch (const CallError& e) {
        return e.kind;
    }
    throw std::runtime_error("no call error");
}

template <typename F> CallError callError(F&& f) {
    try {
        f();
    } catch (const CallError& e) {
        return e;
    }
    return CallError{CallError::Kind::InvalidArgument, QStringLiteral("<no call error>")};
}
} // namespace

class AutomationOperationsTest : public QObject {
    Q_OBJECT
private slots:
    void failureTextsExactly() {
        const QString client = "Client index not found or not in server mode";
        QCOMPARE(ControlOperations::failureText(1, "SendMessage"), expectedFailure(1, client, "SendMessage"));
        QCOMPARE(ControlOperations::failureText(10, "EditBan"),
                 expectedFailure(10, "The ban name specified doesn't exists", "EditBan"));
        QCOMPARE(ControlOperations::optionText(0), QString());
        QCOMPARE(ControlOperations::optionText(13), QString());
        QCOMPARE(ControlOperations::optionText(1),
                 QString("Send Message - for sending messages to servers connected to the registry"));
        QCOMPARE(ControlOperations::optionText(12), QString("Shutdown Registry - for exiting from the registry"));
        QCOMPARE(ControlOperations::kOptionCount, 12);
    }

    void slotOperations() {
        RegistryFixture f;
        ControlOperations op(f.reg());
        const int srv = placeServer(f, "alpha", 2, 9, "Alpha", "D", "10.0.0.5");
        const int opPeer = connectOperator(f);
        const int plain = f.connect();
        const QString client = "Client index not found or not in server mode";

        QString err = "untouched";
        op.SendMessage("hi", 1, err);
        QCOMPARE(err, QString("untouched"));
        QCOMPARE(f.received(srv), QByteArray("\x00\x03\x04hi", 5));

        for (int index : {f.slotOf(opPeer), f.slotOf(plain), 200, 256}) {
            QString e1, e2, e3;
            op.SendMessage("x", index, e1);
            QCOMPARE(e1, expectedFailure(1, client, "SendMessage"));
            QString id, name, ip;
            int players = -1, official = -1;
            op.GetServerInfo(index, id, name, ip, players, official, e3);
            QCOMPARE(e3, expectedFailure(3, client, "GetServerInfo"));
            op.BootServer(index, e2);
            QCOMPARE(e2, expectedFailure(2, client, "BootServer"));
        }
        for (int index : {0, 257, -1}) {
            QString e;
            QCOMPARE(callErrorOf([&] { op.SendMessage("x", index, e); }), CallError::Kind::SubscriptOutOfRange);
            QCOMPARE(callErrorOf([&] { op.BootServer(index, e); }), CallError::Kind::SubscriptOutOfRange);
            QCOMPARE(e, QString());
        }

        QString id, name, ip, e;
        int players = 0, official = 0;
        op.GetServerInfo(1, id, name, ip, players, official, e);
        QCOMPARE(QStringList({id, name, ip}), QStringList({"alpha", "Alpha", "10.0.0.5"}));
        QCOMPARE(players, 9);
        QCOMPARE(official, 2);

        QCOMPARE(op.FindServer("ALPHA"), 1);
        QCOMPARE(op.FindServer("beta"), 0);
        QCOMPARE(op.serverList(), QStringList{"alpha"});

        op.BootServer(1, e);
        QVERIFY(!f.isOpen(srv));
        QCOMPARE(f.received(opPeer), QByteArray("\x00\x06\x06" "alpha", 8));
        QCOMPARE(e, QString());
    }

    void sendToAllLogsEvenWithNobodyOnline() {
        RegistryFixture f;
        ControlOperations op(f.reg());
        op.SendMessageToAll("maintenance at noon");
        QCOMPARE(f.reg().eventLog().last(), QString("Server Message: maintenance at noon"));
        const int a = placeServer(f, "a");
        const int b = placeServer(f, "b");
        op.SendMessageToAll("x");
        QCOMPARE(f.received(a), QByteArray("\x00\x02\x04x", 4));
        QCOMPARE(f.received(b), QByteArray("\x00\x02\x04x", 4));
    }

    void accounts() {
        RegistryFixture f;
        ControlOperations op(f.reg());
        QString err;
        op.DeleteAccount("nobody", err); // empty table: no failure
        QCOMPARE(err, QString());
        op.EditAccount("nobody", "p", "n", "d", "u", 0, err);
        QCOMPARE(err, expectedFailure(7, "The username selected doesn't exist", "EditAccount"));

        err.clear();
        op.CreateAccount("bob", "pw", "Bob's", "desc", "http://u/", 2, err);
        QCOMPARE(err, QString());
        op.CreateAccount("BOB", "pw", "", "", "", 0, err);
        QCOMPARE(err, expectedFailure(6, "The username selected already exists", "CreateAccount"));

        QString password, name, description, url;
        quint8 official = 0;
        err = "keep";
        op.GetAccountData("Bob", password, name, description, url, official, err);
        QCOMPARE(err, QString("keep"));
        QCOMPARE(QStringList({password, name, description, url}), QStringList({"pw", "Bob's", "desc", "http://u/"}));
        QCOMPARE(official, quint8(2));
        err.clear();
        op.GetAccountData("", password, name, description, url, official, err);
        QCOMPARE(err, expectedFailure(4, "Account not found in database", "GetAccountData"));

        err.clear();
        op.EditAccount("bob", "new", "N", "D", "U", 1, err);
        QCOMPARE(err, QString());
        QCOMPARE(f.reg().database().accounts().find("bob")->Password, QString("new"));

        // The database's refusals are call errors, and nothing is stored.
        QCOMPARE(callErrorOf([&] { op.CreateAccount("waytoolongname16", "p", "", "", "", 0, err); }),
                 CallError::Kind::Database);
        QCOMPARE(callErrorOf([&] { op.EditAccount("bob", "passwordtoolong16", "", "", "", 0, err); }),
                 CallError::Kind::Database);
        QCOMPARE(f.reg().database().accounts().find("bob")->Password, QString("new"));
        QCOMPARE(op.ListAccounts(), QStringList{"bob"});

        // Deleting leaves an online server connected.
        const int p = f.connect();
        f.send(p, frame(1, fields("bob", "new")));
        QCOMPARE(f.reg().slot(f.slotOf(p)).Mode, SessionMode::Server);
        op.DeleteAccount("bob", err);
        QVERIFY(f.isOpen(p));
        QVERIFY(!f.reg().database().accounts().find("bob"));
        op.CreateAccount("carl", "pw", "", "", "", 0, err);
        op.DeleteAccount("bob", err);
        QCOMPARE(err, expectedFailure(12, "The account specified does not exist", "DeleteAccount"));
    }

    // What the database refuses is said in the registry's words, with the
    // field and its limit; nothing of the engine's SQL reaches the caller.
    void refusalsNameTheFieldAndItsLimit_data() {
        QTest::addColumn<QString>("method");
        QTest::addColumn<QStringList>("args");
        QTest::addColumn<QString>("message");
        const QString s15(15, 'u'), s16(16, 'u');
        QTest::newRow("user") << "CreateAccount" << QStringList{s16, "p", "", "", ""}
                              << "The user name is longer than 15 characters.";
        QTest::newRow("password") << "CreateAccount" << QStringList{s15, s16, "", "", ""}
                                  << "The password is longer than 15 characters.";
        QTest::newRow("name") << "CreateAccount" << QStringList{"new", "p", QString(51, 'n'), "", ""}
                              << "The server name is longer than 50 characters.";
        QTest::newRow("description") << "EditAccount" << QStringList{"bob", "p", "", QString(256, 'd'), ""}
                                     << "The description is longer than 255 characters.";
        QTest::newRow("update URL") << "EditAccount" << QStringList{"bob", "p", "", "", QString(256, 'h')}
                                    << "The update URL is longer than 255 characters.";
        QTest::newRow("ban name") << "CreateBan" << QStringList{s16, "1.2.3.4", "", ""}
                                  << "The ban name is longer than 15 characters.";
        QTest::newRow("ip") << "CreateBan" << QStringList{"b2", "1111.222.333.444", "", ""}
                            << "The IP is longer than 15 characters.";
        QTest::newRow("reason") << "EditBan" << QStringList{"b1", "1.2.3.4", "", QString(256, 'r')}
                                << "The reason is longer than 255 characters.";
    }
    void refusalsNameTheFieldAndItsLimit() {
        QFETCH(QString, method);
        QFETCH(QStringList, args);
        QFETCH(QString, message);
        RegistryFixture f;
        ControlOperations op(f.reg());
        QString err;
        op.CreateAccount("bob", "pw", "Bob", "desc", "", 1, err);
        op.CreateBan("b1", "10.0.0.1", "", "why", err);
        QCOMPARE(err, QString());
        const CallError e = callError([&] {
            if (method == "CreateAccount")
                op.CreateAccount(args[0], args[1], args[2], args[3], args[4], 0, err);
            else if (method == "EditAccount")
                op.EditAccount(args[0], args[1], args[2], args[3], args[4], 0, err);
            else if (method == "CreateBan")
                op.CreateBan(args[0], args[1], args[2], args[3], err);
            else
                op.EditBan(args[0], args[1], args[2], args[3], err);
        });
        QCOMPARE(e.message, message);
        QCOMPARE(e.kind, CallError::Kind::Database);
        QCOMPARE(err, QString());
        QCOMPARE(op.ListAccounts(), QStringList{"bob"});
        QCOMPARE(op.ListBans(), QStringList{"b1"});
        const auto bob = f.reg().database().accounts().find("bob");
        QCOMPARE(bob->Password, QString("pw"));
        QCOMPARE(bob->Description, QString("desc"));
        QCOMPARE(f.reg().database().bans().findByName("b1")->IP, QString("10.0.0.1"));
        QCOMPARE(f.reg().database().bans().findByName("b1")->Reason, std::optional<QString>("why"));
    }

    void nullOfficialIsACallError() {
        RegistryFixture f;
        ControlOperations op(f.reg());
        AccountRecord r;
        r.User = "nullo";
        f.reg().database().accounts().add(r);
        QString password, name, description, url, err;
        quint8 official = 0;
        QCOMPARE(callErrorOf([&] { op.GetAccountData("nullo", password, name, description, url, official, err); }),
                 CallError::Kind::Database);
        QCOMPARE(err, QString());
    }

    void bans() {
        RegistryFixture f;
        ControlOperations op(f.reg());
        QString ip = "x", date = "x", reason = "x", err;
        op.GetBanData("any", ip, date, reason, err); // empty table: nothing at all
        QCOMPARE(err, QString());
        QCOMPARE(ip, QString("x"));
        op.DeleteBan("any", err);
        QCOMPARE(err, QString());
        op.EditBan("any", "1.2.3.4", "", "", err);
        QCOMPARE(err, expectedFailure(10, "The ban name specified doesn't exists", "EditBan"));
        err.clear();
        op.EditBan("any", "", "", "", err);
        QCOMPARE(err, expectedFailure(11, "An IP must be entered", "EditBan"));

        err.clear();
        op.CreateBan("", "1.2.3.4", "", "", err);
        QCOMPARE(err, expectedFailure(9, "A ban name and IP must be entered", "CreateBan"));
        err.clear();
        op.CreateBan("first", "10.0.0.0", "2027-01-31", "", err);
        QCOMPARE(err, QString());
        op.CreateBan("FIRST", "10.0.0.1", "", "", err);
        QCOMPARE(err, expectedFailure(8, "The ban name specified already exists", "CreateBan"));
        err.clear();
        op.CreateBan("second", "10.0.0.0", "", "spam", err); // the same address is not refused here
        QCOMPARE(err, QString());

        op.GetBanData("first", ip, date, reason, err);
        QCOMPARE(QStringList({ip, date, reason}), QStringList({"10.0.0.0", "2027-01-31", ""}));
        QVERIFY(!f.reg().database().bans().findByName("first")->Reason.has_value()); // stored as NULL
        op.GetBanData("", ip, date, reason, err);
        QCOMPARE(err, expectedFailure(5, "Ban name not found in database", "GetBanData"));

        err.clear();
        QCOMPARE(callErrorOf([&] { op.CreateBan("third", "1.1.1.1", "31/01/2027", "", err); }),
                 CallError::Kind::InvalidArgument);
        QCOMPARE(callErrorOf([&] { op.EditBan("first", "1.1.1.1", "2027-02-30", "", err); }),
                 CallError::Kind::InvalidArgument);
        QVERIFY(!f.reg().database().bans().findByName("third"));
        QCOMPARE(f.reg().database().bans().findByName("first")->IP, QString("10.0.0.0"));

        op.EditBan("first", "10.1.0.0", "", "now a reason", err);
        const auto first = f.reg().database().bans().findByName("first");
        QCOMPARE(first->IP, QString("10.1.0.0"));
        QVERIFY(!first->UnbanDate.has_value());
        QCOMPARE(first->Reason, std::optional<QString>("now a reason"));

        // A deleted low number is reused instead of losing the new ban.
        op.DeleteBan("first", err);
        QCOMPARE(err, QString());
        op.CreateBan("third", "3.3.3.3", "", "", err);
        QCOMPARE(err, QString());
        QCOMPARE(f.reg().database().bans().findByName("third")->Number, 1);
        QCOMPARE(op.ListBans(), QStringList({"third", "second"}));
        op.DeleteBan("nobody", err);
        QCOMPARE(err, expectedFailure(13, "The ban specified does not exist", "DeleteBan"));
    }
};

QTEST_GUILESS_MAIN(AutomationOperationsTest)
#include "tst_automation_operations.moc"
