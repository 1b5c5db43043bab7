// tavctl as a user runs it: arguments, texts, exit codes, and the exact
// frames it puts on the wire, against a scripted registry.
#include "support/byte_literals.h"
#include "client/frame_codec.h"
#include "client/list_paging.h"
#include "client/messages.h"
#include "client/replies.h"
#include "support/fake_registry.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QTemporaryDir>
#include <QTest>

using namespace TavClient;

namespace {

const QByteArray kFirst = "QWZRTPLKMX";
const QByteArray kSecond = "ZKRTQWPMNBVCXLKJHGFD";


struct Run {
    int exitCode = -1;
    QString out;
    QString err;
};

Run tavctl(const QStringList& args, const QString& codes = QString(), const QByteArray& input = QByteArray()) {
    QProcess p;
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.remove(QStringLiteral("TAVCTL_CODES"));
    if (!codes.isNull())
        env.insert(QStringLiteral("TAVCTL_CODES"), codes);
    p.setProcessEnvironment(env);
    p.start(qEnvironmentVariable("TAVCTL_BIN"), args);
    if (!p.waitForStarted(5000))
        return {};
    p.write(input);
    p.closeWriteChannel();
    if (!p.waitForFinished(20000)) {
        p.kill();
        p.waitForFinished();
        return {};
    }
    Run r;
    r.exitCode = p.exitStatus() == QProcess::NormalExit ? p.exitCode() : -2;
    r.out = QString::fromUtf8(p.readAllStandardOutput());
    r.err = QString::fromUtf8(p.readAllStandardError());
    return r;
}

// The subcommand, then the fake's port, then the rest.
QStringList at(const FakeRegistry& fake, QStringList args) {
    args.insert(1, QStringLiteral("--port"));
    args.insert(2, QString::number(fake.port()));
    return args;
}

// An operator-accepting registry that answers nothing else.
FakeRegistry::Answer acceptOperator(int, const Frame& f) {
    if (f.type == 2)
        return {bytes({0, 1, 5}), false};
    return {};
}

QString codes() { return QString::fromLatin1(kFirst + ':' + kSecond); }

quint16 closedPort() {
    FakeRegistry fake(acceptOperator);
    return fake.port();
}

} // namespace

class TestClientTavctl : public QObject {
    Q_OBJECT
private slots:
    void initTestCase() { QVERIFY(!qEnvironmentVariable("TAVCTL_BIN").isEmpty()); }

    void usageErrors() {
        Run r = tavctl({});
        QCOMPARE(r.exitCode, 2);
        QVERIFY(r.err.startsWith(QLatin1String("tavctl: ")));

        r = tavctl({QStringLiteral("--help")});
        QCOMPARE(r.exitCode, 0);
        QVERIFY(r.out.contains(QLatin1String("TAVCTL_CODES")));
        QVERIFY(r.out.contains(QLatin1String("delete-all-accounts")));

        const QList<QStringList> bad = {
            {"frobnicate"},
            {"list", "--port"},
            {"list", "--port", "70000"},
            {"list", "--port", "0"},
            {"list", "--timeout", "-5"},
            {"list", "extra"},
            {"list", "--yes"},
            {"operator"},
            {"operator", "explode"},
            {"operator", "disconnect"},
            {"operator", "disconnect", "a", "b"},
            {"operator", "add-god", "srv"},
            {"operator", "allow-new", "now"},
            // Codes never come from the command line.
            {"operator", "--codes", "A:B", "allow-new"},
            {"operator", "--json", "allow-new"},
        };
        for (const QStringList& args : bad) {
            r = tavctl(args, codes());
            QVERIFY2(r.exitCode == 2, qPrintable(args.join(' ') + " -> " + QString::number(r.exitCode)));
            QVERIFY2(!r.err.isEmpty(), qPrintable(args.join(' ')));
        }
    }

    void missingOrBadCodes() {
        FakeRegistry fake(acceptOperator);
        Run r = tavctl(at(fake, {"operator", "allow-new"}));
        QCOMPARE(r.exitCode, 2);
        QVERIFY(r.err.contains(QLatin1String("TAVCTL_CODES")));
        for (const QString& odd : {QStringLiteral("ONLYONE"), QStringLiteral(":SECOND"), QStringLiteral("A:B:C")}) {
            r = tavctl(at(fake, {"operator", "allow-new"}), odd);
            QCOMPARE(r.exitCode, 2);
        }
        r = tavctl(at(fake, {"operator", "--codes-file", "/nonexistent/codes", "allow-new"}), codes());
        QCOMPARE(r.exitCode, 2);
        QCOMPARE(fake.connections(), 0); // nothing went out without codes
    }

    void codesFromFile() {
        QTemporaryDir dir;
        const QString path = dir.filePath(QStringLiteral("codes"));
        QFile file(path);
        QVERIFY(file.open(QIODevice::WriteOnly));
        file.write("qwzrtplkmx\nzkrtqwpmnbvcxlkjhgfd\n");
        file.close();
        FakeRegistry fake(acceptOperator);
        // The file wins over the environment.
        const Run r = tavctl(at(fake, {"operator", "--codes-file", path, "deny-new"}), QStringLiteral("X:Y"));
        QCOMPARE(r.exitCode, 0);
        QCOMPARE(r.out, QStringLiteral("new accounts are refused\n"));
        QCOMPARE(fake.receivedBytes(), Messages::operatorLogin("qwzrtplkmx", "zkrtqwpmnbvcxlkjhgfd") + bytes({0, 1, 12}));
    }

    void eachCommandsFrames_data() {
        QTest::addColumn<QStringList>("words");
        QTest::addColumn<QByteArray>("frame");
        QTest::addColumn<QString>("said");
        QTest::newRow("message") << QStringList{"message", "srv", "hello", "there"}
                                 << Messages::messageServer("srv", "hello there") << "message sent\n";
        QTest::newRow("broadcast") << QStringList{"broadcast", "hello"} << bytes({0, 6, 7}) + "hello"
                                   << "message sent to every server\n";
        QTest::newRow("add-god") << QStringList{"add-god", "srv", "bob"} << bytes({0, 8, 9}) + "srv" + bytes({0}) + "bob"
                                 << "Add God sent\n";
        QTest::newRow("official") << QStringList{"official", "srv"} << Messages::markOfficial("srv")
                                  << "marked official for this session\n";
        QTest::newRow("unofficial") << QStringList{"unofficial", "srv"} << Messages::markUnofficial("srv")
                                    << "marked unofficial for this session\n";
        QTest::newRow("allow-new") << QStringList{"allow-new"} << bytes({0, 1, 13}) << "new accounts are allowed\n";
        QTest::newRow("deny-new") << QStringList{"deny-new"} << bytes({0, 1, 12}) << "new accounts are refused\n";
        QTest::newRow("clear-official") << QStringList{"clear-official"} << bytes({0, 1, 14})
                                        << "official mark cleared on every account\n";
        QTest::newRow("delete-all --yes") << QStringList{"delete-all-accounts", "--yes"} << bytes({0, 1, 15})
                                          << "every account deleted\n";
        QTest::newRow("windows-1252") << QStringList{"broadcast", QStringLiteral("\u20AC5 caf\u00E9")}
                                      << Messages::broadcast("\x80" "5 caf\xE9") << "message sent to every server\n";
    }
    void eachCommandsFrames() {
        QFETCH(QStringList, words);
        QFETCH(QByteArray, frame);
        QFETCH(QString, said);
        FakeRegistry fake(acceptOperator);
        const Run r = tavctl(at(fake, QStringList{"operator"} + words), codes());
        QCOMPARE(r.err, QString());
        QCOMPARE(r.exitCode, 0);
        QCOMPARE(r.out, said);
        QCOMPARE(fake.receivedBytes(), Messages::operatorLogin(kFirst, kSecond) + frame);
    }

    void deleteAllAsksFirst() {
        FakeRegistry fake(acceptOperator);
        Run r = tavctl(at(fake, {"operator", "delete-all-accounts"}), codes(), "no\n");
        QCOMPARE(r.exitCode, 6);
        QVERIFY(r.out.contains(QLatin1String("Type yes to confirm")));
        r = tavctl(at(fake, {"operator", "delete-all-accounts"}), codes(), QByteArray());
        QCOMPARE(r.exitCode, 6);
        QCOMPARE(fake.connections(), 0);
        r = tavctl(at(fake, {"operator", "delete-all-accounts"}), codes(), "yes\n");
        QCOMPARE(r.exitCode, 0);
        QCOMPARE(fake.receivedBytes(), Messages::operatorLogin(kFirst, kSecond) + bytes({0, 1, 15}));
    }

    void refusedLoginAndTimeOuts() {
        {
            FakeRegistry fake([](int, const Frame&) { return FakeRegistry::Answer{{}, true}; });
            const Run r = tavctl(at(fake, {"operator", "allow-new"}), QStringLiteral("wrong:codes"));
            QCOMPARE(r.exitCode, 1);
            QVERIFY2(r.err.contains(QLatin1String("operator login refused")), qPrintable(r.err));
            QCOMPARE(fake.receivedBytes(), Messages::operatorLogin("wrong", "codes"));
        }
        {
            FakeRegistry fake([](int, const Frame&) { return FakeRegistry::Answer{bytes({0, 2, 0, 4}), true}; });
            const Run r = tavctl(at(fake, {"operator", "allow-new"}), codes());
            QCOMPARE(r.exitCode, 1);
            QVERIFY(r.err.contains(QLatin1String("full")));
        }
        {
            FakeRegistry fake([](int, const Frame&) { return FakeRegistry::Answer{}; });
            const Run r = tavctl(at(fake, {"operator", "--timeout", "300", "allow-new"}), codes());
            QCOMPARE(r.exitCode, 4);
            QVERIFY2(r.err.contains(QLatin1String("300 ms")), qPrintable(r.err));
        }
        {
            const Run r = tavctl({"list", "--port", QString::number(closedPort())});
            QCOMPARE(r.exitCode, 3);
            QVERIFY(r.err.contains(QLatin1String("cannot connect")));
        }
    }

    void commandDroppedOrRefused() {
        {
            // A registry that drops the session for the command.
            FakeRegistry fake([](int, const Frame& f) -> FakeRegistry::Answer {
                if (f.type == 2)
                    return {bytes({0, 1, 5}), false};
                return {{}, true};
            });
            const Run r = tavctl(at(fake, {"operator", "allow-new"}), codes());
            QCOMPARE(r.exitCode, 3);
            QVERIFY(r.err.contains(QLatin1String("closed the connection after the command")));
        }
        {
            FakeRegistry fake([](int, const Frame& f) -> FakeRegistry::Answer {
                if (f.type == 2)
                    return {bytes({0, 1, 5}), false};
                return {buildFrame(4, "You must upgrade to v12.01 or higher."), true};
            });
            const Run r = tavctl(at(fake, {"operator", "clear-official"}), codes());
            QCOMPARE(r.exitCode, 1);
            QVERIFY(r.err.contains(QLatin1String("You must upgrade to v12.01 or higher.")));
        }
        {
            FakeRegistry fake(acceptOperator);
            const Run r = tavctl(at(fake, {"operator", "broadcast", QString(520, QLatin1Char('x'))}), codes());
            QCOMPARE(r.exitCode, 2);
            QCOMPARE(fake.connections(), 0);
            // 510 bytes of text make a message of exactly 511: allowed.
            const Run ok = tavctl(at(fake, {"operator", "broadcast", QString(510, QLatin1Char('x'))}), codes());
            QCOMPARE(ok.exitCode, 0);
        }
    }

    void disconnectWaitsForTheNotice() {
        FakeRegistry fake([](int, const Frame& f) -> FakeRegistry::Answer {
            if (f.type == 2)
                return {bytes({0, 1, 5}), false};
            if (f.type == 5 && f.payload.toUpper() == "SRV")
                return {buildFrame(6, "OTHER") + buildFrame(6, "SRV"), false};
            return {};
        });
        Run r = tavctl(at(fake, {"operator", "disconnect", "srv"}), codes());
        QCOMPARE(r.exitCode, 0);
        QCOMPARE(r.out, QStringLiteral("disconnected: SRV\n"));
        QCOMPARE(fake.receivedBytes(), Messages::operatorLogin(kFirst, kSecond) + bytes({0, 4, 5}) + "srv");

        r = tavctl(at(fake, {"operator", "--timeout", "300", "disconnect", "ghost"}), codes());
        QCOMPARE(r.exitCode, 1);
        QVERIFY(r.err.contains(QLatin1String("ghost")));
    }

    void watchPrintsNoticesAndAnswersProbes() {
        FakeRegistry fake([](int, const Frame& f) -> FakeRegistry::Answer {
            if (f.type == 2)
                return {bytes({0, 1, 5}) + Replies::probeFrame(), false};
            if (f.type == 255)
                return {buildFrame(6, "alpha") + buildFrame(4, "hi") + buildFrame(6, "beta"), true};
            return {{}, true};
        });
        const Run r = tavctl(at(fake, {"operator", "watch"}), codes());
        QCOMPARE(r.out, QStringLiteral("offline: alpha\nmessage: hi\noffline: beta\n"));
        QCOMPARE(r.exitCode, 3);
        QVERIFY(r.err.contains(QLatin1String("closed the connection")));
        QCOMPARE(fake.receivedBytes(), Messages::operatorLogin(kFirst, kSecond) + bytes({0, 1, 255}));
    }

    void listTableAndJson() {
        QList<ListedServer> servers;
        ListedServer a;
        a.slot = 2;
        a.user = "alpha";
        a.address = "10.0.0.5";
        a.players = 12;
        a.name = "Alpha";
        a.description = "Fun";
        servers.append(a);
        ListedServer b;
        b.slot = 7;
        b.user = "bee";
        b.address = "10.0.0.66";
        b.players = 3;
        b.name = "B\xE9" "e\x01";
        b.official = true;
        b.description = "Best";
        b.updateUrl = "http://u";
        servers.append(b);
        FakeRegistry fake([servers](int, const Frame& f) -> FakeRegistry::Answer {
            const QByteArray reply = buildListReply(servers, quint8(f.payload.at(0)));
            return {reply, reply.isEmpty()};
        });
        Run r = tavctl(at(fake, {"list"}));
        QCOMPARE(r.exitCode, 0);
        QCOMPARE(r.out, QStringLiteral("#  USER   ADDRESS    PLAYERS  NAME   OFFICIAL  DESCRIPTION  UPDATE URL\n"
                                       "1  bee    10.0.0.66  3        B\u00E9e?   yes       Best         http://u\n"
                                       "2  alpha  10.0.0.5   12       Alpha  no        Fun\n"));

        r = tavctl(at(fake, {"list", "--json"}));
        QCOMPARE(r.exitCode, 0);
        const QJsonArray array = QJsonDocument::fromJson(r.out.toUtf8()).array();
        QCOMPARE(array.size(), 2);
        const QJsonObject first = array.at(0).toObject();
        QCOMPARE(first.value(QLatin1String("order")).toInt(), 1);
        QCOMPARE(first.value(QLatin1String("user")).toString(), QStringLiteral("bee"));
        QCOMPARE(first.value(QLatin1String("name")).toString(), QStringLiteral("B\u00E9e\u0001"));
        QCOMPARE(first.value(QLatin1String("official")).toBool(), true);
        QCOMPARE(first.value(QLatin1String("updateUrl")).toString(), QStringLiteral("http://u"));
        const QJsonObject second = array.at(1).toObject();
        QCOMPARE(second.value(QLatin1String("players")).toInt(), 12);
        QCOMPARE(second.value(QLatin1String("address")).toString(), QStringLiteral("10.0.0.5"));
        QCOMPARE(second.value(QLatin1String("description")).toString(), QStringLiteral("Fun"));
        QCOMPARE(second.value(QLatin1String("official")).toBool(), false);

        FakeRegistry empty([](int, const Frame&) { return FakeRegistry::Answer{{}, true}; });
        r = tavctl(at(empty, {"list"}));
        QCOMPARE(r.exitCode, 0);
        QCOMPARE(r.out, QStringLiteral("No servers online.\n"));
        r = tavctl(at(empty, {"list", "--json"}));
        QCOMPARE(r.out.trimmed(), QStringLiteral("[\n]"));
    }
};

QTEST_GUILESS_MAIN(TestClientTavctl)
#include "tst_client_tavctl.moc"
