// The automation interface as callers see it on D-Bus (a private session bus
// is provided by the test runner).
#include "support/registry_process.h"
#include "support/session_helpers.h"

#include "admin/control_bus_object.h"
#include "client/blocking_client.h"
#include "client/messages.h"

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

// What a client that caches properties hears: every PropertiesChanged signal
// of the object.
class PropertyCache : public QObject {
    Q_OBJECT
public:
    QStringList interfaces;
    QList<QVariantMap> changes;
    QList<QStringList> invalidated;
    QStringList serverList;

public slots:
    void changed(const QString& interface, const QVariantMap& values, const QStringList& gone) {
        interfaces << interface;
        changes << values;
        invalidated << gone;
        if (values.contains("ServerList"))
            serverList = values.value("ServerList").toStringList();
    }
};

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

    void messageTextsMustFitOneFrame() {
        BusRegistry r;
        QVERIFY(r.ok);
        QDBusConnection client = newConnection();
        const int srv = placeServer(r.f, "alpha");
        const int events = int(r.f.reg().eventLog().lines().size());

        // 65534 bytes after the type byte fill the two length bytes exactly.
        QDBusMessage reply = call(client, "SendMessage", {QString(65534, 'a'), n(1), "e"});
        QCOMPARE(reply.type(), QDBusMessage::ReplyMessage);
        QCOMPARE(reply.arguments(), QVariantList{"e"});
        QCOMPARE(r.f.received(srv), QByteArray("\xff\xff\x04") + QByteArray(65534, 'a'));
        // Counted in the wire's one byte per character, not in UTF-8.
        reply = call(client, "SendMessage", {QString(65534, QChar(0xE9)), n(1), "e"});
        QCOMPARE(reply.type(), QDBusMessage::ReplyMessage);
        QCOMPARE(r.f.received(srv), QByteArray("\xff\xff\x04") + QByteArray(65534, '\xe9'));

        const QString tooLong(65535, 'a');
        const QString refusal("The message is 65535 characters long; a message to a server holds at most 65534");
        reply = call(client, "SendMessage", {tooLong, n(1), "e"});
        QCOMPARE(reply.type(), QDBusMessage::ErrorMessage);
        QCOMPARE(reply.errorName(), QString("HostLedger.Error.InvalidArgument"));
        QCOMPARE(reply.errorMessage(), refusal);
        // Refused before the slot is looked at: no ErrData report, only the error.
        reply = call(client, "SendMessage", {tooLong, n(7), ""});
        QCOMPARE(reply.errorName(), QString("HostLedger.Error.InvalidArgument"));
        reply = call(client, "SendMessage", {tooLong, n(0), ""});
        QCOMPARE(reply.errorName(), QString("HostLedger.Error.SubscriptOutOfRange"));

        reply = call(client, "SendMessageToAll", {tooLong, "e"});
        QCOMPARE(reply.errorName(), QString("HostLedger.Error.InvalidArgument"));
        QCOMPARE(reply.errorMessage(), refusal);
        QCOMPARE(r.f.received(srv), QByteArray());
        QCOMPARE(int(r.f.reg().eventLog().lines().size()), events); // a refused text is not logged

        reply = call(client, "SendMessageToAll", {QString(65534, 'b'), "e"});
        QCOMPARE(reply.arguments(), QVariantList{"e"});
        QCOMPARE(r.f.received(srv), QByteArray("\xff\xff\x04") + QByteArray(65534, 'b'));
        QCOMPARE(r.f.reg().eventLog().last(), QString("Server Message: ") + QString(65534, 'b'));
        QCOMPARE(r.f.reg().state(), Registry::State::Running);
    }

    // A server that logs in over the wire and leaves again reaches a client
    // that only listens to PropertiesChanged.
    void serverListChangesAreAnnounced() {
        QTemporaryDir dir;
        RegistryProcess registry;
        registry.setBus("session");
        const quint16 port = registry.start(dir.path());
        QVERIFY2(port != 0, registry.errors().constData());
        QDBusConnection client = newConnection();
        QTRY_VERIFY_WITH_TIMEOUT(client.interface()->isServiceRegistered(ControlBusObject::kServiceName), 5000);
        QDBusMessage reply = call(client, "CreateAccount", {"alpha", "pw", "Alpha", "", "", QVariant::fromValue<uchar>(0), ""});
        QCOMPARE(reply.arguments(), QVariantList{""});

        PropertyCache cache;
        QVERIFY(client.connect(ControlBusObject::kServiceName, ControlBusObject::kObjectPath,
                               "org.freedesktop.DBus.Properties", "PropertiesChanged", &cache,
                               SLOT(changed(QString, QVariantMap, QStringList))));
        // Setting Username announces nothing.
        call(client, "Set", {ControlBusObject::kInterface, "Username", QVariant::fromValue(QDBusVariant("me"))},
             "org.freedesktop.DBus.Properties");

        TavClient::BlockingClient server;
        QVERIFY(server.connectTo("127.0.0.1", port));
        QVERIFY(server.send(TavClient::Messages::login("alpha", "pw")));
        const std::optional<TavClient::Frame> welcome = server.readFrame();
        QVERIFY(welcome);
        QCOMPARE(welcome->type, quint8(0));
        QTRY_COMPARE_WITH_TIMEOUT(cache.changes.size(), 1, 5000);
        QCOMPARE(cache.interfaces, QStringList{ControlBusObject::kInterface});
        QCOMPARE(cache.changes.first().keys(), QStringList{"ServerList"});
        QCOMPARE(cache.invalidated.first(), QStringList());
        QCOMPARE(cache.serverList, QStringList{"alpha"});

        server.close();
        QTRY_COMPARE_WITH_TIMEOUT(cache.changes.size(), 2, 5000);
        QCOMPARE(cache.serverList, QStringList());
        reply = call(client, "Get", {ControlBusObject::kInterface, "ServerList"}, "org.freedesktop.DBus.Properties");
        QCOMPARE(qvariant_cast<QDBusVariant>(reply.arguments().at(0)).variant().toStringList(), cache.serverList);
        QVERIFY(registry.terminate());
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
        QCOMPARE(count, 19); // the 18 of old and CheckAddress
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
