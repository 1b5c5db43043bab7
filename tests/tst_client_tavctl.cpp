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
#include <QRegularExpression>
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

// A peer that answers the first frame it gets with `reply` and hangs up.
FakeRegistry::Handler answerAndClose(const QByteArray& reply) {
    return [reply](int, const Frame&) { return FakeRegistry::Answer{reply, true}; };
}

ListedServer listed(int slot, const QByteArray& user) {
    ListedServer s;
    s.slot = slot;
    s.user = user;
    s.address = "10.0.0.1";
    s.name = user;
    s.description = "d";
    return s;
}

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

    // Text a peer controls never reaches the terminal as control characters;
    // JSON keeps it exact, escaped.
    void peerTextIsShownAsText() {
        const QByteArray evil = "E\x1b]0;owned\x07" "x\r\nfake: line\x9d";
        const QString shown = QStringLiteral("E?]0;owned?x??fake: line?");
        {
            FakeRegistry fake([evil](int, const Frame&) {
                return FakeRegistry::Answer{bytes({0, 1, 5}) + buildFrame(6, evil) + buildFrame(4, evil), true};
            });
            const Run r = tavctl(at(fake, {"operator", "watch"}), codes());
            QCOMPARE(r.out, QStringLiteral("offline: %1\nmessage: %1\n").arg(shown));
        }
        {
            FakeRegistry fake([evil](int, const Frame& f) -> FakeRegistry::Answer {
                if (f.type == 2)
                    return {bytes({0, 1, 5}), false};
                return {buildFrame(6, evil), false};
            });
            const Run r = tavctl(at(fake, {"operator", "disconnect", QString::fromLatin1(evil)}), codes());
            QCOMPARE(r.exitCode, 0);
            QCOMPARE(r.out, QStringLiteral("disconnected: %1\n").arg(shown));
        }
        {
            FakeRegistry fake([evil](int, const Frame& f) -> FakeRegistry::Answer {
                if (f.type == 2)
                    return {bytes({0, 1, 5}), false};
                return {buildFrame(4, evil), true};
            });
            const Run r = tavctl(at(fake, {"operator", "allow-new"}), codes());
            QCOMPARE(r.exitCode, 1);
            QCOMPARE(r.err, QStringLiteral("tavctl: the registry refused: %1\n").arg(shown));
        }
        {
            ListedServer s = listed(1, "u\x1b[2J");
            s.description = evil;
            FakeRegistry fake([s](int, const Frame& f) -> FakeRegistry::Answer {
                const QByteArray reply = buildListReply({s}, quint8(f.payload.at(0)));
                return {reply, reply.isEmpty()};
            });
            Run r = tavctl(at(fake, {"list"}));
            QCOMPARE(r.exitCode, 0);
            QCOMPARE(r.out.split('\n').at(1), QStringLiteral("1  u?[2J  10.0.0.1  0        u?[2J  no        %1").arg(shown));
            r = tavctl(at(fake, {"list", "--json"}));
            QCOMPARE(r.exitCode, 0);
            for (const QChar c : r.out)
                QVERIFY2(c >= QLatin1Char(' ') || c == QLatin1Char('\n'), qPrintable(QString::number(c.unicode())));
            QVERIFY(!r.out.contains(QChar(0x9D)));
            QVERIFY2(r.out.contains(QLatin1String("line\\u009d")), qPrintable(r.out));
            const QJsonObject entry = QJsonDocument::fromJson(r.out.toUtf8()).array().at(0).toObject();
            QCOMPARE(entry.value(QLatin1String("description")).toString(),
                     QStringLiteral("E\x1b]0;owned\x07x\r\nfake: line\u009d"));
            QCOMPARE(entry.value(QLatin1String("user")).toString(), QStringLiteral("u\x1b[2J"));
        }
    }

    // "No servers online." only for a peer that hung up without a byte; any
    // other close before a complete reply is a protocol failure.
    void listFromAPeerThatIsNoRegistry_data() {
        QTest::addColumn<QByteArray>("reply");
        QTest::addColumn<QString>("said");
        const QByteArray entry = buildFrame(4, Replies::listEntryPayload("a", "1.2.3.4", 1, "A", false, "", ""));
        QTest::newRow("HTTP server") << QByteArray("HTTP/1.1 400 Bad Request\r\nContent-Length: 0\r\n\r\n")
                                     << "in the middle of a message";
        QTest::newRow("frames of length 0") << bytes({0, 0, 0, 0}) << "4 bytes that are no complete list reply";
        QTest::newRow("one odd byte") << bytes({7}) << "in the middle of a message";
        QTest::newRow("cut inside an entry") << entry + bytes({0, 9, 4}) << "in the middle of a message";
        QTest::newRow("entries without a marker") << entry + entry << "that are no complete list reply";
        QTest::newRow("cut inside the marker") << entry + bytes({0, 2, 255}) << "in the middle of a message";
    }
    void listFromAPeerThatIsNoRegistry() {
        QFETCH(QByteArray, reply);
        QFETCH(QString, said);
        FakeRegistry fake(answerAndClose(reply));
        Run r = tavctl(at(fake, {"list"}));
        QCOMPARE(r.exitCode, 5);
        QCOMPARE(r.out, QString());
        QVERIFY2(r.err.startsWith(QLatin1String("tavctl: ")) && r.err.contains(said), qPrintable(r.err));

        r = tavctl(at(fake, {"list", "--json"}));
        QCOMPARE(r.exitCode, 5);
        QCOMPARE(r.out, QString());
        QVERIFY(r.err.endsWith(QLatin1Char('\n')));
        const QJsonObject error = QJsonDocument::fromJson(r.err.toUtf8()).object();
        QVERIFY2(error.value(QLatin1String("error")).toString().contains(said), qPrintable(r.err));
    }

    void listEndsWhenALaterPageGetsNoByte() {
        // Page one asks to continue at slot 30; by then the servers there have
        // left, so the registry closes without reply: the list is page one.
        const QByteArray entry = buildFrame(4, Replies::listEntryPayload("a", "1.2.3.4", 1, "A", false, "", ""));
        FakeRegistry fake([entry](int, const Frame& f) -> FakeRegistry::Answer {
            if (f.payload == bytes({1}))
                return {entry + Replies::continueMarkerFrame(30), false};
            return {{}, true};
        });
        const Run r = tavctl(at(fake, {"list"}));
        QCOMPARE(r.err, QString());
        QCOMPARE(r.exitCode, 0);
        QCOMPARE(r.out.count(QLatin1Char('\n')), 2);
        QCOMPARE(fake.receivedBytes(), bytes({0, 2, 3, 1, 0, 2, 3, 30}));
    }

    void versionHelpAndTheEndOfOptions() {
        Run r = tavctl({"--version"});
        QCOMPARE(r.exitCode, 0);
        QVERIFY2(QRegularExpression(QStringLiteral("^tavctl \\d+\\.\\d+\\.\\d+\n$")).match(r.out).hasMatch(),
                 qPrintable(r.out));
        const QString help = tavctl({"--help"}).out;
        for (const QStringList& args : QList<QStringList>{{"list", "--help"},
                                                         {"list", "-h"},
                                                         {"operator", "message", "srv", "--help"},
                                                         {"operator", "--help"},
                                                         {"admin", "ban", "--help"},
                                                         {"admin", "--help"}}) {
            r = tavctl(args);
            QVERIFY2(r.exitCode == 0, qPrintable(args.join(' ')));
            QCOMPARE(r.out, help);
        }
        // What the registry cannot tell, the help does not promise.
        QVERIFY(help.contains(QLatin1String("A command naming a server that is not online does\n"
                                            "  nothing there, and tavctl cannot tell")));

        FakeRegistry fake(acceptOperator);
        r = tavctl(at(fake, {"operator", "broadcast", "--", "--now", "-h"}), codes());
        QCOMPARE(r.exitCode, 0);
        r = tavctl(at(fake, {"operator", "message", "--", "srv", "--help"}), codes());
        QCOMPARE(r.exitCode, 0);
        QCOMPARE(r.out, QStringLiteral("message sent\n"));
        QCOMPARE(fake.receivedBytes(), Messages::operatorLogin(kFirst, kSecond) + Messages::broadcast("--now -h") +
                                           Messages::operatorLogin(kFirst, kSecond) +
                                           Messages::messageServer("srv", "--help"));
    }

    void unknownOptionsAndBadSlotsAreNamed_data() {
        QTest::addColumn<QStringList>("args");
        QTest::addColumn<QString>("error");
        QTest::newRow("before the subcommand") << QStringList{"--frob"} << "unknown option --frob";
        QTest::newRow("list, with a value") << QStringList{"list", "--frob=1"} << "unknown option --frob";
        QTest::newRow("operator") << QStringList{"operator", "broadcast", "hi", "--loud"} << "unknown option --loud";
        QTest::newRow("admin, after the operation") << QStringList{"admin", "ban", "b1", "--frob"}
                                                    << "unknown option --frob";
        QTest::newRow("flag with a value") << QStringList{"list", "--json=yes"} << "option --json takes no value";
        QTest::newRow("admin slot too big") << QStringList{"admin", "boot", "99999"} << "SLOT must be between 1 and 256";
        QTest::newRow("admin slot 257") << QStringList{"admin", "send-message", "257", "hi"}
                                        << "SLOT must be between 1 and 256";
        QTest::newRow("admin slot 0") << QStringList{"admin", "server-info", "0"} << "SLOT must be between 1 and 256";
        QTest::newRow("admin slot word") << QStringList{"admin", "boot", "abc"} << "SLOT must be a number, not 'abc'";
    }
    void unknownOptionsAndBadSlotsAreNamed() {
        QFETCH(QStringList, args);
        QFETCH(QString, error);
        const Run r = tavctl(args, codes());
        QCOMPARE(r.exitCode, 2);
        QVERIFY2(r.err == QStringLiteral("tavctl: %1\n").arg(error) ||
                     r.err == QStringLiteral("tavctl: %1 (see tavctl --help)\n").arg(error),
                 qPrintable(r.err));
        QCOMPARE(r.out, QString());
    }

    void jsonErrorsAreJson() {
        for (const QStringList& args : QList<QStringList>{{"list", "--json", "--port", "0"},
                                                         {"list", "--frob", "--json"},
                                                         {"admin", "--json", "boot", "99999"},
                                                         {"admin", "--json"},
                                                         {"--json", "frobnicate"}}) {
            const Run r = tavctl(args);
            QVERIFY2(r.exitCode == 2, qPrintable(args.join(' ')));
            QCOMPARE(r.err.count(QLatin1Char('\n')), 1);
            QJsonParseError parse;
            const QJsonDocument doc = QJsonDocument::fromJson(r.err.toUtf8(), &parse);
            QVERIFY2(parse.error == QJsonParseError::NoError && doc.isObject(), qPrintable(r.err));
            QVERIFY(!doc.object().value(QLatin1String("error")).toString().isEmpty());
        }
        QCOMPARE(tavctl({"admin", "--json", "boot", "99999"}).err,
                 QStringLiteral("{\"error\":\"SLOT must be between 1 and 256\"}\n"));
        // After "--" it is a word, not a request for JSON.
        QCOMPARE(tavctl({"admin", "boot", "--", "--json"}).err, QStringLiteral("tavctl: SLOT must be a number, not '--json'\n"));
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
