// The automation interface as callers see it on D-Bus (a private session bus
// is provided by the test runner).
#include "support/session_helpers.h"

#include "admin/control_bus_object.h"

#include <QDBusConnection>
#include <QDBusConnectionInterface>
#include <QDBusMessage>
#include <QDBusPendingCallWatcher>
#include <QDBusVariant>
#include <QFile>
#include <QProcess>
#include <QRegularExpression>
#include <QtTest>

#include <csignal>

namespace {
int g_connections = 0;

QDBusConnection newConnection() {
    return QDBusConnection::connectToBus(QDBusConnection::SessionBus,
                                         QStringLiteral("tst-%1").arg(++g_connections));
}

// Calls without blocking the event loop the registry lives on.
QDBusMessage call(QDBusConnection& c, const QString& member, const QVariantList& args,
                  const QString& interface = ControlBusObject::kInterface) {
    QDBusMessage m = QDBusMessage::createMethodCall(ControlBusObject::kServiceName, ControlBusObject::kObjectPath,
                                                    interface, member);
    m.setArguments(args);
    QDBusPendingCall pending = c.asyncCall(m, 5000);
    QDeadlineTimer deadline(6000);
    while (!pending.isFinished() && !deadline.hasExpired())
        QCoreApplication::processEvents(QEventLoop::AllEvents, 20);
    return pending.reply();
}

QVariant n(int v) { return QVariant::fromValue<short>(short(v)); }

struct BusRegistry {
    RegistryFixture f;
    QDBusConnection service = newConnection();
    ControlBusObject object{f.reg()};
    bool ok = false;
    BusRegistry() {
        QString error;
        ok = object.publish(service, &error);
        if (!ok)
            qWarning("%s", qPrintable(error));
    }
};
} // namespace

class AutomationBusTest : public QObject {
    Q_OBJECT
private slots:
    void initTestCase() {
        if (!QDBusConnection::sessionBus().isConnected())
            QFAIL("no session bus: run the tests through scripts/run-tests (dbus-run-session)");
    }

    void errDataRoundTripAndFailures() {
        BusRegistry r;
        QVERIFY(r.ok);
        QDBusConnection client = newConnection();
        const int srv = placeServer(r.f, "alpha");

        QDBusMessage reply = call(client, "SendMessage", {"hello", n(1), "caller's text"});
        QCOMPARE(reply.type(), QDBusMessage::ReplyMessage);
        QCOMPARE(reply.arguments(), QVariantList{"caller's text"});
        QCOMPARE(r.f.received(srv), QByteArray("\x00\x06\x04hello", 8));

        reply = call(client, "SendMessage", {"hello", n(256), ""});
        QCOMPARE(reply.arguments().at(0).toString(),
                 QString("ErrNum=1\r\nErrDesc=Client index not found or not in server mode\r\nName=SendMessage"));

        for (int index : {0, 257}) {
            reply = call(client, "BootServer", {n(index), ""});
            QCOMPARE(reply.type(), QDBusMessage::ErrorMessage);
            QCOMPARE(reply.errorName(), QString("HostLedger.Error.SubscriptOutOfRange"));
        }
        reply = call(client, "GetServerInfo", {1, "x"});
        QCOMPARE(reply.arguments(), QVariantList({"alpha", "Name", "10.0.0.1", 0, 0, "x"}));
        reply = call(client, "GetServerInfo", {7, ""});
        QCOMPARE(reply.arguments().mid(0, 3), QVariantList({"", "", ""}));
        QVERIFY(reply.arguments().at(5).toString().startsWith("ErrNum=3\r\n"));

        reply = call(client, "FindServer", {"ALPHA"});
        QCOMPARE(reply.arguments().at(0).value<short>(), short(1));
        QCOMPARE(reply.signature(), QString("n"));

        reply = call(client, "CreateAccount", {"bob", "pw", "", "", "", QVariant::fromValue<uchar>(1), ""});
        QCOMPARE(reply.arguments(), QVariantList{""});
        reply = call(client, "CreateAccount", {"toolongname12345", "pw", "", "", "", QVariant::fromValue<uchar>(1), ""});
        QCOMPARE(reply.errorName(), QString("HostLedger.Error.Database"));
        reply = call(client, "GetAccountData", {"BOB", ""});
        QCOMPARE(reply.signature(), QString("ssssys"));
        QCOMPARE(reply.arguments().at(0).toString(), QString("pw"));
        QCOMPARE(reply.arguments().at(4).value<uchar>(), uchar(1));

        reply = call(client, "CreateBan", {"b1", "1.2.3.4", "not a date", "", ""});
        QCOMPARE(reply.errorName(), QString("HostLedger.Error.InvalidArgument"));
        reply = call(client, "CreateBan", {"b1", "1.2.3.4", "2027-03-04", "", ""});
        QCOMPARE(reply.arguments(), QVariantList{""});
        reply = call(client, "GetBanData", {"b1", ""});
        QCOMPARE(reply.arguments(), QVariantList({"1.2.3.4", "2027-03-04", "", ""}));
        reply = call(client, "ListBans", {});
        QCOMPARE(reply.arguments().at(0).toStringList(), QStringList{"b1"});
        reply = call(client, "ListAccounts", {});
        QCOMPARE(reply.arguments().at(0).toStringList(), QStringList{"bob"});

        reply = call(client, "OptionCount", {});
        QCOMPARE(reply.arguments().at(0).value<short>(), short(12));
        reply = call(client, "OptionText", {n(11)});
        QCOMPARE(reply.arguments().at(0).toString(),
                 QString("Boot Server - for booting servers connected to the registry"));

        reply = call(client, "SendMessage", {"wrong types"});
        QCOMPARE(reply.type(), QDBusMessage::ErrorMessage);
        QCOMPARE(r.f.reg().state(), Registry::State::Running);
    }

    void usernamePerCaller() {
        BusRegistry r;
        QDBusConnection a = newConnection();
        QDBusConnection b = newConnection();
        const QString props = "org.freedesktop.DBus.Properties";
        QDBusMessage reply = call(a, "Get", {ControlBusObject::kInterface, "Username"}, props);
        QCOMPARE(qvariant_cast<QDBusVariant>(reply.arguments().at(0)).variant().toString(), QString());
        call(a, "Set", {ControlBusObject::kInterface, "Username", QVariant::fromValue(QDBusVariant("alice"))}, props);
        reply = call(a, "Get", {ControlBusObject::kInterface, "Username"}, props);
        QCOMPARE(qvariant_cast<QDBusVariant>(reply.arguments().at(0)).variant().toString(), QString("alice"));
        reply = call(b, "Get", {ControlBusObject::kInterface, "Username"}, props);
        QCOMPARE(qvariant_cast<QDBusVariant>(reply.arguments().at(0)).variant().toString(), QString());

        placeServer(r.f, "one");
        placeServer(r.f, "two");
        reply = call(b, "Get", {ControlBusObject::kInterface, "ServerList"}, props);
        QCOMPARE(qvariant_cast<QDBusVariant>(reply.arguments().at(0)).variant().toStringList(),
                 QStringList({"one", "two"}));
        reply = call(b, "Set", {ControlBusObject::kInterface, "ServerList", QVariant::fromValue(QDBusVariant(QStringList{"x"}))}, props);
        QCOMPARE(reply.type(), QDBusMessage::ErrorMessage);
    }

    void introspectionIsTheShippedXml() {
        BusRegistry r;
        QDBusConnection client = newConnection();
        const QDBusMessage reply = call(client, "Introspect", {}, "org.freedesktop.DBus.Introspectable");
        const QString published = reply.arguments().at(0).toString();
        QFile shipped(qEnvironmentVariable("TAV_SOURCE_DIR") + "/src/admin/HostLedger.clsControl.xml");
        QVERIFY(shipped.open(QIODevice::ReadOnly));
        const QString xml = QString::fromUtf8(shipped.readAll());
        const QString iface = QRegularExpression("<interface .*</interface>",
                                                 QRegularExpression::DotMatchesEverythingOption)
                                  .match(xml)
                                  .captured(0);
        QVERIFY(!iface.isEmpty());
        QVERIFY(published.contains(iface));
        // Every method the object answers is described, and only those.
        const auto methods = QRegularExpression("<method name=\"(\\w+)\"").globalMatch(iface);
        int count = 0;
        for (auto it = methods; it.hasNext();) {
            const QString name = it.next().captured(1);
            const QDBusMessage r2 = call(client, name, {});
            QVERIFY2(r2.errorName() != "org.freedesktop.DBus.Error.UnknownMethod", qPrintable(name));
            ++count;
        }
        QCOMPARE(count, 18);
    }

    void secondRegistryCannotTakeTheName() {
        BusRegistry first;
        QVERIFY(first.ok);
        RegistryFixture other;
        ControlBusObject second(other.reg());
        QDBusConnection conn = newConnection();
        QString error;
        QVERIFY(!second.publish(conn, &error));
        QVERIFY(error.contains("HostLedger.clsControl"));
    }

    void shutdownRepliesThenEndsTheProcess() {
        QTemporaryDir dir;
        QProcess proc;
        proc.start(qEnvironmentVariable("TAVREGISTRY_BIN"),
                   {"--headless", "--port", "0", "--bus", "session", "--data-dir", dir.path()});
        QVERIFY(proc.waitForStarted());
        QVERIFY(proc.waitForReadyRead(10000));
        QDBusConnection client = newConnection();
        QTRY_VERIFY_WITH_TIMEOUT(client.interface()->isServiceRegistered(ControlBusObject::kServiceName), 5000);
        const QDBusMessage reply = call(client, "ShutdownServer", {"maintenance", "e"});
        QCOMPARE(reply.type(), QDBusMessage::ReplyMessage);
        QCOMPARE(reply.arguments(), QVariantList{"e"});
        // The event loop run while waiting for the reply may already have seen it end.
        QVERIFY(proc.state() == QProcess::NotRunning || proc.waitForFinished(10000));
        QCOMPARE(proc.exitStatus(), QProcess::NormalExit);
        QCOMPARE(proc.exitCode(), 0);
    }
};

QTEST_GUILESS_MAIN(AutomationBusTest)
#include "tst_automation_bus.moc"
