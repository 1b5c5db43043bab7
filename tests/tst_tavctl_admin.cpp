// tavctl admin against a real registry process on the test's session bus.
#include "admin/control_bus_object.h"

#include <QDBusConnection>
#include <QDBusConnectionInterface>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <QtTest>

namespace {
struct Run {
    int code;
    QString out;
    QString err;
};

Run tavctl(const QStringList& args) {
    QProcess p;
    p.start(qEnvironmentVariable("TAVCTL_BIN"), QStringList{"admin"} + args);
    p.waitForFinished(15000);
    return {p.exitCode(), QString::fromUtf8(p.readAllStandardOutput()), QString::fromUtf8(p.readAllStandardError())};
}
} // namespace

class TavctlAdminTest : public QObject {
    Q_OBJECT
    QTemporaryDir m_dir;
    QProcess m_registry;

private slots:
    void initTestCase() {
        QVERIFY2(QDBusConnection::sessionBus().isConnected(), "run through scripts/run-tests (a private bus)");
        // Nobody reads its event lines here; a full pipe would stall it.
        m_registry.setStandardOutputFile(QProcess::nullDevice());
        m_registry.start(qEnvironmentVariable("TAVREGISTRY_BIN"),
                         {"--headless", "--port", "0", "--bus", "session", "--data-dir", m_dir.path()});
        QVERIFY(m_registry.waitForStarted());
        QTRY_VERIFY_WITH_TIMEOUT(
            QDBusConnection::sessionBus().interface()->isServiceRegistered(ControlBusObject::kServiceName), 10000);
    }

    // The interface keeps silent about a name on an empty table; the tool
    // does not. Runs first, while both tables are empty.
    void missingNamesOnEmptyTables() {
        QCOMPARE(tavctl({"accounts"}).out, QString());
        QCOMPARE(tavctl({"bans"}).out, QString());
        for (const QStringList& args : QList<QStringList>{{"ban", "ghost"}, {"delete-ban", "ghost"}}) {
            const Run r = tavctl(args);
            QCOMPARE(r.code, 1);
            QCOMPARE(r.out, QString());
            QCOMPARE(r.err, QString("tavctl: no such ban\n"));
        }
        const Run r = tavctl({"delete-account", "ghost"});
        QCOMPARE(r.code, 1);
        QCOMPARE(r.err, QString("tavctl: no such account\n"));
        QCOMPARE(tavctl({"--json", "ban", "ghost"}).err, QString("{\"error\":\"no such ban\"}\n"));
    }

    // Names, descriptions and reasons are the database's: shown as text.
    void databaseTextIsShownAsText() {
        const QString name = QStringLiteral("Evil\x1b]0;owned\x07");
        const QString description = QStringLiteral("one\r\nUser: forged\u202E");
        QCOMPARE(tavctl({"add-account", "ctl\nuser", "pw", "--name", name, "--description", description}).code, 0);
        Run r = tavctl({"account", "ctl\nuser"});
        QCOMPARE(r.code, 0);
        QCOMPARE(r.out, QString("User: ctl?user\nPassword: pw\nName: Evil?]0;owned?\nDescription: one??User: forged?\n"
                                "Update URL: \nOfficial: 0\n"));
        QCOMPARE(tavctl({"accounts"}).out, QString("ctl?user\n"));
        r = tavctl({"--json", "account", "ctl\nuser"});
        QVERIFY(!r.out.contains(QChar(0x1b)) && !r.out.contains(QChar(0x202E)));
        const QJsonObject o = QJsonDocument::fromJson(r.out.toUtf8()).object();
        QCOMPARE(o.value("name").toString(), name);
        QCOMPARE(o.value("description").toString(), description);

        QCOMPARE(tavctl({"add-ban", "b\x1b", "10.9.8.7", "--reason", QStringLiteral("spam\u009b2J")}).code, 0);
        QCOMPARE(tavctl({"ban", "b\x1b"}).out, QString("Name: b?\nAddress: 10.9.8.7\nUnban date: \nReason: spam?2J\n"));
        QCOMPARE(tavctl({"bans"}).out, QString("b?\n"));
        // A name the table does not hold, while it holds others.
        QCOMPARE(tavctl({"delete-ban", "b"}).err, QString("tavctl: no such ban\n"));
        QCOMPARE(tavctl({"delete-ban", "B\x1b"}).code, 0);
        QCOMPARE(tavctl({"delete-account", "CTL\nUSER"}).code, 0);
    }

    void operationsListsTwelve() {
        const Run r = tavctl({"operations"});
        QCOMPARE(r.code, 0);
        const QStringList lines = r.out.split('\n', Qt::SkipEmptyParts);
        QCOMPARE(lines.size(), 12);
        QCOMPARE(lines.first(), QString("1. Send Message - for sending messages to servers connected to the registry"));
        QCOMPARE(lines.last(), QString("12. Shutdown Registry - for exiting from the registry"));
    }

    void accountsRoundTrip() {
        QCOMPARE(tavctl({"add-account", "bob", "pw", "--name", "Bob's", "--official", "1"}).code, 0);
        const Run dup = tavctl({"add-account", "BOB", "pw"});
        QCOMPARE(dup.code, 1);
        QCOMPARE(dup.err, QString("tavctl: The username selected already exists\n"));
        const Run show = tavctl({"--json", "account", "bob"});
        QCOMPARE(show.code, 0);
        QVERIFY(show.out.contains("\"name\": \"Bob's\""));
        QCOMPARE(tavctl({"accounts"}).out, QString("bob\n"));
        const Run tooLong = tavctl({"add-account", "sixteencharsname", "pw"});
        QCOMPARE(tooLong.code, 1);
        QCOMPARE(tavctl({"delete-account", "bob"}).code, 0);
        const Run gone = tavctl({"delete-account", "bob"});
        QCOMPARE(gone.code, 1);
        QCOMPARE(gone.err, QString("tavctl: no such account\n"));
    }

    void bansAndBadInput() {
        QCOMPARE(tavctl({"add-ban", "b1", "10.0.0.0", "--unban-date", "2027-01-31", "--reason", "spam"}).code, 0);
        QCOMPARE(tavctl({"ban", "b1"}).out,
                 QString("Name: b1\nAddress: 10.0.0.0\nUnban date: 2027-01-31\nReason: spam\n"));
        const Run badDate = tavctl({"add-ban", "b2", "1.2.3.4", "--unban-date", "01/31/2027"});
        QCOMPARE(badDate.code, 1);
        QVERIFY(badDate.err.contains("01/31/2027"));
        QCOMPARE(tavctl({"edit-ban", "nobody", "1.1.1.1"}).err,
                 QString("tavctl: The ban name specified doesn't exists\n"));
        QCOMPARE(tavctl({"boot", "0"}).code, 2); // slots are 1..256: the tool says so itself
        QCOMPARE(tavctl({"boot", "abc"}).code, 2);
        QCOMPARE(tavctl({"server-info", "3"}).err, QString("tavctl: Client index not found or not in server mode\n"));
        QCOMPARE(tavctl({"find-server", "ghost"}).out, QString("0\n"));
        QCOMPARE(tavctl({"frobnicate"}).code, 2);
        QCOMPARE(tavctl({}).code, 2);
    }

    void checkAddressSaysWhy() {
        QVERIFY(tavctl({"add-ban", "wide", "10.70.0.0"}).code == 0);
        Run r = tavctl({"check-address", "10.70.7.9"});
        QCOMPARE(r.code, 0);
        QVERIFY2(QRegularExpression("^banned by ban \\d+ \\(\"wide\"\\) for ever, matching its /16 form 10\\.70\\.0\\.0\n$")
                     .match(r.out)
                     .hasMatch(),
                 qPrintable(r.out));
        QCOMPARE(tavctl({"check-address", "192.0.2.1"}).out, QString("admitted\n"));
        const QJsonObject json = QJsonDocument::fromJson(tavctl({"--json", "check-address", "::1"}).out.toUtf8()).object();
        QCOMPARE(json, (QJsonObject{{"address", "::1"}, {"verdict", "admitted"}}));
        r = tavctl({"check-address", "10.70.7"});
        QCOMPARE(r.code, 1);
        // The first line is ours; Qt's D-Bus layer may add warnings of its own
        // when a signal from another registry on the shared test bus arrives.
        QCOMPARE(r.err.section(QLatin1Char('\n'), 0, 0), QString("tavctl: '10.70.7' is not an IPv4 or IPv6 address"));
        QCOMPARE(tavctl({"check-address"}).code, 2);
        QCOMPARE(tavctl({"delete-ban", "wide"}).code, 0);
    }

    void messageTextsMustFitOneFrame() {
        // Refused by tavctl itself, before the registry is asked.
        const QString refusal("tavctl: the message is too long: a message to a server holds at most 65534 characters\n");
        for (const QStringList& args : {QStringList{"send-message", "1", QString(65535, 'm')},
                                        QStringList{"send-message-all", QString(65535, 'm')}}) {
            const Run r = tavctl(args);
            QCOMPARE(r.code, 1);
            QCOMPARE(r.err, refusal);
            QCOMPARE(r.out, QString());
        }
        // 65534 characters reach the registry.
        const Run all = tavctl({"send-message-all", QString(65534, 'm')});
        QCOMPARE(all.code, 0);
        QCOMPARE(all.err, QString());
        const Run one = tavctl({"send-message", "1", QString(65534, 'm')});
        QCOMPARE(one.code, 1);
        QCOMPARE(one.err, QString("tavctl: Client index not found or not in server mode\n"));
    }

    void shutdownEndsTheRegistry() {
        QCOMPARE(tavctl({"shutdown"}).code, 0);
        QVERIFY(m_registry.state() == QProcess::NotRunning || m_registry.waitForFinished(10000));
        QCOMPARE(m_registry.exitCode(), 0);
        const Run after = tavctl({"operations"});
        QCOMPARE(after.code, 3);
    }
};

QTEST_GUILESS_MAIN(TavctlAdminTest)
#include "tst_tavctl_admin.moc"
