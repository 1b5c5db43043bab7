// The per-address limits on the in-memory network with a manual clock: the
// connection cap, the login lockout, the hourly registration allowance, the
// list-query rate, operator_from, exempt addresses and CIDR blocks, changes
// while running, and the bound on what is remembered.
#include "admin/control_operations.h"
#include "host/address_limits.h"
#include "host/address_set.h"
#include "host/address_verdict.h"
#include "host/limit_settings.h"
#include "host/registry_config.h"
#include "support/byte_literals.h"
#include "support/session_helpers.h"

#include <QFile>
#include <QSignalSpy>
#include <QtTest>

namespace {

const QByteArray kFullNotice = bytes({0x00, 0x02, 0x00, 0x04});
const QByteArray kWrongPassword = bytes({0x00, 0x01, 0x02});
const QByteArray kRefused = bytes({0x00, 0x01, 0x03});
const QByteArray kOperatorAccepted = bytes({0x00, 0x01, 0x05});
const QByteArray kOperatorCodes = fields("QWZRTPLKMX", "ZKRTQWPMNBVCXLKJHGFD");

AddressSet set(const char* text) {
    QString why;
    const std::optional<AddressSet> s = AddressSet::parse(QString::fromLatin1(text), &why);
    if (!s)
        qFatal("bad set in test: %s", qPrintable(why));
    return *s;
}

// Limits with nothing exempt, so that every test address is judged.
LimitSettings judged() {
    LimitSettings s;
    s.exempt = AddressSet{};
    return s;
}

AddressKey key(const char* text) { return *AddressKey::parse(text); }

struct Notices {
    QStringList lines;
    void attach(Registry& r) {
        QObject::connect(&r, &Registry::notice, [this](NoticeSeverity, const QString& t) { lines << t; });
    }
};

quint64 loginCount(const Registry& r, LoginKind kind, LoginResult result) {
    return r.counters().logins[std::size_t(kind)][std::size_t(result)];
}

} // namespace

class LimitsTest : public QObject {
    Q_OBJECT

    // One login attempt from `address`; returns what the registry sent back.
    static QByteArray attempt(RegistryFixture& f, const QByteArray& address, const QByteArray& user,
                              const QByteArray& password, int* peer = nullptr) {
        const int p = f.connect(address);
        f.send(p, frame(1, fields(user, password)));
        f.net.completeSends();
        if (peer)
            *peer = p;
        return f.received(p);
    }

private slots:
    // --- addresses and blocks ---
    void matching_data() {
        QTest::addColumn<QString>("set");
        QTest::addColumn<QString>("address");
        QTest::addColumn<bool>("inside");
        QTest::newRow("v4 /8 inside") << "10.0.0.0/8" << "10.255.1.2" << true;
        QTest::newRow("v4 /8 outside") << "10.0.0.0/8" << "11.0.0.1" << false;
        QTest::newRow("v4 /24 last inside") << "192.0.2.0/24" << "192.0.2.255" << true;
        QTest::newRow("v4 /24 next outside") << "192.0.2.0/24" << "192.0.3.0" << false;
        QTest::newRow("v4 /31 pair") << "198.51.100.6/31" << "198.51.100.7" << true;
        QTest::newRow("v4 /31 neighbour") << "198.51.100.6/31" << "198.51.100.8" << false;
        QTest::newRow("host bits ignored") << "10.20.30.40/24" << "10.20.30.1" << true;
        QTest::newRow("v4 exact") << "203.0.113.5" << "203.0.113.5" << true;
        QTest::newRow("v4 exact neighbour") << "203.0.113.5" << "203.0.113.6" << false;
        QTest::newRow("v4 /0 all v4") << "0.0.0.0/0" << "1.2.3.4" << true;
        QTest::newRow("v4 /0 no v6") << "0.0.0.0/0" << "2001:db8::1" << false;
        QTest::newRow("v6 /32 inside") << "2001:db8::/32" << "2001:db8:ffff::1" << true;
        QTest::newRow("v6 /32 outside") << "2001:db8::/32" << "2001:db9::1" << false;
        QTest::newRow("v6 /127 boundary") << "2001:db8::/127" << "2001:db8::1" << true;
        QTest::newRow("v6 /127 outside") << "2001:db8::/127" << "2001:db8::2" << false;
        QTest::newRow("v6 exact") << "::1" << "::1" << true;
        QTest::newRow("v6 loopback is not v4 loopback") << "::1" << "127.0.0.1" << false;
        QTest::newRow("v4 loopback is not v6 loopback") << "127.0.0.0/8" << "::1" << false;
        QTest::newRow("mapped v4 is v4") << "10.0.0.0/8" << "::ffff:10.1.2.3" << true;
        QTest::newRow("second word") << "192.0.2.1 10.0.0.0/8" << "10.9.9.9" << true;
        QTest::newRow("empty set") << "" << "10.9.9.9" << false;
    }
    void matching() {
        QFETCH(QString, set);
        QFETCH(QString, address);
        QFETCH(bool, inside);
        const std::optional<AddressSet> s = AddressSet::parse(set, nullptr);
        QVERIFY(s);
        const std::optional<AddressKey> k = AddressKey::parse(address.toLatin1());
        QVERIFY(k);
        QCOMPARE(s->contains(*k), inside);
    }

    void badWords_data() {
        QTest::addColumn<QString>("text");
        QTest::addColumn<QString>("why");
        QTest::newRow("v4 prefix too long") << "10.0.0.0/33"
                                            << "'10.0.0.0/33' is not an IP address or a CIDR block (the prefix runs from 0 to 32)";
        QTest::newRow("v6 prefix too long") << "::1/129"
                                            << "'::1/129' is not an IP address or a CIDR block (the prefix runs from 0 to 128)";
        QTest::newRow("empty prefix") << "10.0.0.0/"
                                      << "'10.0.0.0/' is not an IP address or a CIDR block (the prefix runs from 0 to 32)";
        QTest::newRow("signed prefix") << "10.0.0.0/+8"
                                       << "'10.0.0.0/+8' is not an IP address or a CIDR block (the prefix runs from 0 to 32)";
        QTest::newRow("three parts") << "127.0.0.1 10.0.0/8" << "'10.0.0/8' is not an IP address or a CIDR block";
        QTest::newRow("a name") << "localhost" << "'localhost' is not an IP address or a CIDR block";
        QTest::newRow("comma list") << "10.0.0.1,10.0.0.2" << "'10.0.0.1,10.0.0.2' is not an IP address or a CIDR block";
    }
    void badWords() {
        QFETCH(QString, text);
        QFETCH(QString, why);
        QString reason;
        QVERIFY(!AddressSet::parse(text, &reason));
        QCOMPARE(reason, why);
    }

    void keyText() {
        QCOMPARE(key("::ffff:192.0.2.1").text(), QByteArray("192.0.2.1"));
        QCOMPARE(key("2001:DB8:0:0::1").text(), QByteArray("2001:db8::1"));
        QVERIFY(!AddressKey::parse("192.0.2.1:80"));
        QVERIFY(!AddressKey::parse(""));
        QVERIFY(!AddressKey::parse(QByteArray(60, '1')));
    }

    // --- the [limits] keys ---
    void emptyConfigurationGivesTheDefaults() {
        QString error;
        const auto values = ConfigFile::parse(registryConfigSchema(), QByteArray("[limits]\n"), "/e/t.conf", &error);
        QVERIFY2(values, qPrintable(error));
        const LimitSettings s = LimitSettings::fromConfig(*values);
        QVERIFY(s == LimitSettings{});
        QCOMPARE(s.connectionsPerAddress, 0);
        QCOMPARE(s.loginFailures, 10);
        QCOMPARE(s.loginWindowS, 60);
        QCOMPARE(s.lockoutS, 300);
        QCOMPARE(s.registrationsPerHour, 0);
        QCOMPARE(s.listQueriesPerSecond, 0);
        QVERIFY(s.exempt.contains(key("127.255.0.1")));
        QVERIFY(s.exempt.contains(key("::1")));
        QVERIFY(!s.exempt.contains(key("128.0.0.1")));
        QVERIFY(s.operatorFrom.isEmpty());
    }

    void everyKeyIsRead() {
        QString error;
        const QByteArray text = "[limits]\n"
                                "connections_per_address = 4\n"
                                "login_failures = 0\n"
                                "login_window = 30\n"
                                "lockout = 900\n"
                                "registrations_per_hour = 3\n"
                                "list_queries_per_second = 20\n"
                                "exempt =\n"
                                "operator_from = 10.0.0.0/8   2001:db8::/32\n";
        const auto values = ConfigFile::parse(registryConfigSchema(), text, "/e/t.conf", &error);
        QVERIFY2(values, qPrintable(error));
        const LimitSettings s = LimitSettings::fromConfig(*values);
        QCOMPARE(s.connectionsPerAddress, 4);
        QCOMPARE(s.loginFailures, 0);
        QCOMPARE(s.loginWindowS, 30);
        QCOMPARE(s.lockoutS, 900);
        QCOMPARE(s.registrationsPerHour, 3);
        QCOMPARE(s.listQueriesPerSecond, 20);
        QVERIFY(s.exempt.isEmpty());
        QVERIFY(s.operatorFrom.contains(key("10.9.8.7")));
        QVERIFY(s.operatorFrom.contains(key("2001:db8:1::1")));
        QVERIFY(!s.operatorFrom.contains(key("11.0.0.1")));
    }

    // The shipped file names every key, and as shipped changes nothing.
    void shippedFileNamesEveryKeyAndKeepsTheDefaults() {
        const QString path = qEnvironmentVariable("TAV_SOURCE_DIR") + QStringLiteral("/packaging/tavregistry.conf");
        QFile file(path);
        QVERIFY2(file.open(QIODevice::ReadOnly), qPrintable(path));
        const QByteArray text = file.readAll();
        QString error;
        const auto values = ConfigFile::parse(registryConfigSchema(), text, path, &error);
        QVERIFY2(values, qPrintable(error));
        QVERIFY(*values == ConfigValues::defaults(registryConfigSchema()));
        for (const ConfigSection& section : registryConfigSchema()) {
            QVERIFY(text.contains("\n[" + section.name.toLatin1() + "]\n"));
            for (const ConfigKey& k : section.keys) {
                const QByteArray value = values->value(section.name, k.name).toString().toLatin1();
                const QByteArray line = "\n;" + k.name.toLatin1() + " =" + (value.isEmpty() ? "" : " " + value) + "\n";
                QVERIFY2(text.contains(line), line.constData());
            }
        }
        // Uncommented, each line is a valid setting of its default.
        QByteArray uncommented;
        for (const QByteArray& l : text.split('\n'))
            uncommented += (l.size() > 1 && l[0] == ';' && l[1] >= 'a' && l[1] <= 'z' ? l.mid(1) : l) + '\n';
        const auto same = ConfigFile::parse(registryConfigSchema(), uncommented, path, &error);
        QVERIFY2(same, qPrintable(error));
        QVERIFY(*same == ConfigValues::defaults(registryConfigSchema()));
    }

    void badValuesNameFileAndLine_data() {
        QTest::addColumn<QByteArray>("text");
        QTest::addColumn<QString>("error");
        QTest::newRow("cap above 255") << QByteArray("[limits]\nconnections_per_address = 256\n")
                                       << "/e/t.conf:2: bad value '256' for connections_per_address in [limits]: a whole number from 0 to 255 is wanted";
        QTest::newRow("negative failures") << QByteArray("[limits]\n\nlogin_failures = -1\n")
                                           << "/e/t.conf:3: bad value '-1' for login_failures in [limits]: a whole number from 0 to 100 is wanted";
        QTest::newRow("zero window") << QByteArray("[limits]\nlogin_window = 0\n")
                                     << "/e/t.conf:2: bad value '0' for login_window in [limits]: a whole number from 1 to 86400 is wanted";
        QTest::newRow("zero lockout") << QByteArray("[limits]\nlockout = 0\n")
                                      << "/e/t.conf:2: bad value '0' for lockout in [limits]: a whole number from 1 to 86400 is wanted";
        QTest::newRow("registrations in words") << QByteArray("[limits]\nregistrations_per_hour = ten\n")
                                                << "/e/t.conf:2: bad value 'ten' for registrations_per_hour in [limits]: a whole number from 0 to 1000 is wanted";
        QTest::newRow("list rate too high") << QByteArray("[limits]\nlist_queries_per_second = 10001\n")
                                            << "/e/t.conf:2: bad value '10001' for list_queries_per_second in [limits]: a whole number from 0 to 10000 is wanted";
        QTest::newRow("exempt block") << QByteArray("[limits]\n; loopback and a block\nexempt = ::1 10.0.0.0/33\n")
                                      << "/e/t.conf:3: bad value '::1 10.0.0.0/33' for exempt in [limits]: '10.0.0.0/33' is not an IP address or a CIDR block (the prefix runs from 0 to 32)";
        QTest::newRow("operator name") << QByteArray("[limits]\noperator_from = admin.example\n")
                                       << "/e/t.conf:2: bad value 'admin.example' for operator_from in [limits]: 'admin.example' is not an IP address or a CIDR block";
    }
    void badValuesNameFileAndLine() {
        QFETCH(QByteArray, text);
        QFETCH(QString, error);
        QString got;
        QVERIFY(!ConfigFile::parse(registryConfigSchema(), text, "/e/t.conf", &got));
        QCOMPARE(got, error);
    }

    // --- connections per address ---
    void capAdmitsTheNthAndRefusesTheNextLikeFull() {
        RegistryFixture f;
        LimitSettings s = judged();
        s.connectionsPerAddress = 3;
        f.reg().setLimits(s);
        const QList<int> held = f.net.connectPeers(3, "10.0.0.5");
        QCOMPARE(f.reg().connectionCount(), 3);
        for (int p : held)
            QVERIFY(f.slotOf(p) > 0);

        QSignalSpy counts(&f.reg(), &Registry::connectionCountChanged);
        const QString caption = f.reg().captionText();
        const qsizetype lines = f.reg().eventLog().lines().size();
        const int fourth = f.connect("10.0.0.5");
        QCOMPARE(f.received(fourth), kFullNotice);
        QVERIFY(f.net.peer(fourth).open); // closed once the notice has left
        f.net.completeSends();
        QVERIFY(!f.isOpen(fourth));
        QCOMPARE(f.reg().connectionCount(), 3);
        QCOMPARE(f.reg().captionText(), caption);
        QCOMPARE(counts.count(), 0);
        QCOMPARE(f.reg().eventLog().lines().size(), lines);
        QCOMPARE(f.reg().counters().refused[std::size_t(Refusal::PerAddress)], quint64(1));
        QVERIFY(!f.reg().slot(SlotTable::kOverflowSlot).InUse);

        // Another address is not touched by this one's cap.
        const int other = f.connect("10.0.0.6");
        QCOMPARE(f.slotOf(other), 4);
        QCOMPARE(f.received(other), QByteArray());

        // A slot given back makes room for exactly one more.
        f.reg().closeClient(f.slotOf(held[1]));
        const int again = f.connect("10.0.0.5");
        QCOMPARE(f.slotOf(again), 2);
        const int refusedAgain = f.connect("10.0.0.5");
        QCOMPARE(f.received(refusedAgain), kFullNotice);
        QCOMPARE(f.reg().counters().refused[std::size_t(Refusal::PerAddress)], quint64(2));
    }

    void capCountsBothRefusedAtOnce() {
        RegistryFixture f;
        LimitSettings s = judged();
        s.connectionsPerAddress = 1;
        f.reg().setLimits(s);
        const QList<int> peers = f.net.connectPeers(3, "10.0.0.5");
        QVERIFY(f.slotOf(peers[0]) > 0);
        QCOMPARE(f.received(peers[1]), kFullNotice);
        QCOMPARE(f.received(peers[2]), kFullNotice);
        f.net.completeSends();
        QVERIFY(!f.isOpen(peers[1]));
        QVERIFY(!f.isOpen(peers[2]));
        QVERIFY(f.isOpen(peers[0]));
        QCOMPARE(f.reg().connectionCount(), 1);
    }

    void capSparesExemptAndIsOffAtZero() {
        RegistryFixture f;
        LimitSettings s = judged();
        s.connectionsPerAddress = 2;
        s.exempt = set("10.0.0.0/30 2001:db8::/64");
        f.reg().setLimits(s);
        for (int p : f.net.connectPeers(4, "10.0.0.3"))
            QVERIFY(f.slotOf(p) > 0);
        for (int p : f.net.connectPeers(4, "2001:db8::7"))
            QVERIFY(f.slotOf(p) > 0);
        f.net.connectPeers(2, "10.0.0.4");
        QCOMPARE(f.received(f.connect("10.0.0.4")), kFullNotice);

        s.connectionsPerAddress = 0;
        f.reg().setLimits(s);
        for (int p : f.net.connectPeers(20, "10.0.0.4"))
            QVERIFY(f.slotOf(p) > 0);
        QCOMPARE(f.reg().connectionCount(), 30);
    }

    void defaultsSpareLoopback() {
        RegistryFixture f;
        LimitSettings s; // loopback exempt, as shipped
        s.connectionsPerAddress = 1;
        f.reg().setLimits(s);
        for (int p : f.net.connectPeers(5, "127.0.0.1"))
            QVERIFY(f.slotOf(p) > 0);
        for (int p : f.net.connectPeers(2, "::1"))
            QVERIFY(f.slotOf(p) > 0);
        f.connect("192.0.2.1");
        QCOMPARE(f.received(f.connect("192.0.2.1")), kFullNotice);
    }

    void lowerCapKeepsHeldSlots() {
        RegistryFixture f;
        LimitSettings s = judged();
        s.connectionsPerAddress = 3;
        f.reg().setLimits(s);
        const QList<int> held = f.net.connectPeers(3, "10.0.0.5");
        s.connectionsPerAddress = 1;
        f.reg().setLimits(s);
        f.runFor(100);
        for (int p : held)
            QVERIFY(f.isOpen(p));
        QCOMPARE(f.reg().connectionCount(), 3);
        QCOMPARE(f.received(f.connect("10.0.0.5")), kFullNotice);
        f.reg().closeClient(f.slotOf(held[0]));
        f.reg().closeClient(f.slotOf(held[1]));
        QCOMPARE(f.received(f.connect("10.0.0.5")), kFullNotice); // still holds one
        f.reg().closeClient(f.slotOf(held[2]));
        QVERIFY(f.slotOf(f.connect("10.0.0.5")) > 0);
    }

    void fullBeatsNothingElse() {
        // With the cap off, the full path is the one it always was.
        RegistryFixture f;
        f.net.connectPeers(255, "10.0.0.5");
        QCOMPARE(f.received(f.connect("10.0.0.9")), kFullNotice);
        QCOMPARE(f.reg().counters().refused[std::size_t(Refusal::PerAddress)], quint64(0));
    }

    // --- login lockout ---
    void tenthFailureLocksOutAndExpiryFreesIt() {
        RegistryFixture f;
        Notices notices;
        notices.attach(f.reg());
        f.reg().setLimits(judged());
        f.reg().closeClient(f.slotOf(registerServer(f, "alpha", "right", "192.0.2.50")));

        for (int i = 1; i <= 9; ++i)
            QCOMPARE(attempt(f, "203.0.113.5", "alpha", "wrong"), kWrongPassword);
        QCOMPARE(notices.lines, QStringList());
        QCOMPARE(attempt(f, "203.0.113.5", "alpha", "wrong"), kWrongPassword); // the 10th is answered
        QCOMPARE(notices.lines, QStringList{"203.0.113.5 locked out for 300 s after 10 failed logins"});

        // Now even the right password is closed unheard, and nothing is logged.
        const qsizetype lines = f.reg().eventLog().lines().size();
        int peer = 0;
        QCOMPARE(attempt(f, "203.0.113.5", "alpha", "right", &peer), QByteArray());
        QVERIFY(!f.isOpen(peer));
        QCOMPARE(f.reg().eventLog().lines().size(), lines);
        QCOMPARE(loginCount(f.reg(), LoginKind::Server, LoginResult::LockedOut), quint64(1));
        // Other addresses log in.
        QCOMPARE(attempt(f, "203.0.113.6", "alpha", "right").mid(2, 1), bytes({0}));
        f.reg().closeClient(f.reg().findServerByName("ALPHA"));

        f.clock.advance(299999);
        QCOMPARE(attempt(f, "203.0.113.5", "alpha", "right"), QByteArray());
        f.clock.advance(1);
        const QByteArray reply = attempt(f, "203.0.113.5", "alpha", "right", &peer);
        QCOMPARE(reply.mid(2, 1), bytes({0}));
        QCOMPARE(f.reg().slot(f.slotOf(peer)).Mode, SessionMode::Server);
        QCOMPARE(notices.lines.size(), 2);
        QCOMPARE(notices.lines[1], QStringLiteral("203.0.113.5 is no longer locked out"));
    }

    void lockoutEndIsSaidByTheTimerToo() {
        RegistryFixture f;
        Notices notices;
        notices.attach(f.reg());
        LimitSettings s = judged();
        s.loginFailures = 2;
        s.lockoutS = 5;
        f.reg().setLimits(s);
        attempt(f, "198.51.100.1", "nobody", "x");
        attempt(f, "198.51.100.1", "nobody", "x");
        QCOMPARE(notices.lines, QStringList{"198.51.100.1 locked out for 5 s after 2 failed logins"});
        f.clock.advance(4999);
        f.reg().generalTimerTick();
        QCOMPARE(notices.lines.size(), 1);
        f.clock.advance(1);
        f.reg().generalTimerTick();
        QCOMPARE(notices.lines.size(), 2);
        QCOMPARE(notices.lines[1], QStringLiteral("198.51.100.1 is no longer locked out"));
        QCOMPARE(f.reg().addressLimits().trackedCount(), std::size_t(0));
        f.reg().generalTimerTick();
        QCOMPARE(notices.lines.size(), 2); // said once
    }

    void failuresOutsideTheWindowDoNotCount() {
        RegistryFixture f;
        Notices notices;
        notices.attach(f.reg());
        f.reg().setLimits(judged());
        // Unknown names, malformed logins and wrong passwords all count.
        attempt(f, "203.0.113.5", "nobody", "x"); // at t0
        for (int i = 0; i < 8; ++i) {
            f.clock.advance(1000);
            QCOMPARE(attempt(f, "203.0.113.5", "nobody", "x"), kRefused);
        }
        // t0 + 60000: the first failure has left the 60 s window.
        f.clock.advance(60000 - 8000);
        {
            const int p = f.connect("203.0.113.5");
            f.send(p, frame(1, "no-separator"));
            f.net.completeSends();
            QCOMPARE(f.received(p), kRefused);
        }
        QCOMPARE(notices.lines, QStringList());
        // One more inside the window of the last nine: ten within 60 s.
        attempt(f, "203.0.113.5", "nobody", "x");
        QCOMPARE(notices.lines, QStringList{"203.0.113.5 locked out for 300 s after 10 failed logins"});
    }

    void successDoesNotResetTheCount() {
        RegistryFixture f;
        Notices notices;
        notices.attach(f.reg());
        f.reg().setLimits(judged());
        f.reg().closeClient(f.slotOf(registerServer(f, "alpha", "right", "192.0.2.50")));
        for (int i = 0; i < 5; ++i)
            attempt(f, "203.0.113.5", "alpha", "wrong");
        int p = 0;
        QCOMPARE(attempt(f, "203.0.113.5", "alpha", "right", &p).mid(2, 1), bytes({0}));
        f.reg().closeClient(f.slotOf(p));
        for (int i = 0; i < 4; ++i)
            attempt(f, "203.0.113.5", "alpha", "wrong");
        QCOMPARE(notices.lines, QStringList());
        attempt(f, "203.0.113.5", "alpha", "wrong");
        QCOMPARE(notices.lines.size(), 1);
    }

    void lockedOutAddressStillRegistersListsAndKeepsAlive() {
        RegistryFixture f;
        LimitSettings s = judged();
        s.loginFailures = 1;
        f.reg().setLimits(s);
        placeServer(f, "online", 0, 3, "Name", "Desc", "192.0.2.9");
        attempt(f, "203.0.113.5", "nobody", "x");
        QVERIFY(f.reg().addressLimits().lockout(key("203.0.113.5")));

        const int client = f.connect("203.0.113.5");
        f.send(client, frame(3, bytes({1})));
        QVERIFY(f.received(client).contains("online"));
        f.send(client, frame(255));
        QVERIFY(f.isOpen(client));

        f.reg().setNewAccountsAllowed(true);
        const int reg = f.connect("203.0.113.5");
        f.send(reg, frame(0, fields("newname", "pw")));
        QCOMPARE(f.received(reg).mid(2, 1), bytes({0}));
        QCOMPARE(f.reg().slot(f.slotOf(reg)).Mode, SessionMode::Server);
    }

    void operatorFailuresLockOutToo() {
        RegistryFixture f;
        Notices notices;
        notices.attach(f.reg());
        LimitSettings s = judged();
        s.loginFailures = 3;
        f.reg().setLimits(s);
        for (int i = 0; i < 3; ++i) {
            const int p = f.connect("203.0.113.7");
            f.send(p, frame(2, fields("QWZRTPLKMX", "WRONG")));
            QVERIFY(!f.isOpen(p));
            QCOMPARE(f.received(p), QByteArray());
        }
        QCOMPARE(notices.lines, QStringList{"203.0.113.7 locked out for 300 s after 3 failed logins"});
        const int p = f.connect("203.0.113.7");
        f.send(p, frame(2, kOperatorCodes));
        QVERIFY(!f.isOpen(p));
        QCOMPARE(f.received(p), QByteArray());
        QCOMPARE(loginCount(f.reg(), LoginKind::Operator, LoginResult::LockedOut), quint64(1));
        // A server login from there is refused too: one lockout for both kinds.
        QCOMPARE(attempt(f, "203.0.113.7", "nobody", "x"), QByteArray());
    }

    void lockoutOffAndExempt() {
        RegistryFixture f;
        Notices notices;
        notices.attach(f.reg());
        f.reg().closeClient(f.slotOf(registerServer(f, "alpha", "right", "192.0.2.50")));
        // Shipped defaults: loopback is exempt.
        for (int i = 0; i < 15; ++i)
            QCOMPARE(attempt(f, "127.0.0.1", "alpha", "wrong"), kWrongPassword);
        QCOMPARE(notices.lines, QStringList());
        int p = 0;
        QCOMPARE(attempt(f, "127.0.0.1", "alpha", "right", &p).mid(2, 1), bytes({0}));
        f.reg().closeClient(f.slotOf(p));

        LimitSettings s = judged();
        s.loginFailures = 0;
        f.reg().setLimits(s);
        for (int i = 0; i < 15; ++i)
            QCOMPARE(attempt(f, "203.0.113.5", "alpha", "wrong"), kWrongPassword);
        QCOMPARE(notices.lines, QStringList());
        QCOMPARE(f.reg().addressLimits().trackedCount(), std::size_t(0));
    }

    void lockoutLengthChangeAppliesAtOnce() {
        RegistryFixture f;
        LimitSettings s = judged();
        s.loginFailures = 1;
        f.reg().setLimits(s);
        attempt(f, "203.0.113.5", "nobody", "x");
        f.clock.advance(10000);
        QCOMPARE(attempt(f, "203.0.113.5", "nobody", "x"), QByteArray());
        s.lockoutS = 10;
        f.reg().setLimits(s);
        QCOMPARE(attempt(f, "203.0.113.5", "nobody", "x"), kRefused);
        // Made exempt: an address in force is let go at once.
        attempt(f, "203.0.113.5", "nobody", "x");
        QVERIFY(f.reg().addressLimits().lockout(key("203.0.113.5")));
        s.exempt = set("203.0.113.0/24");
        f.reg().setLimits(s);
        QCOMPARE(attempt(f, "203.0.113.5", "nobody", "x"), kRefused);
    }

    // --- operator_from ---
    void operatorFromAdmitsOnlyItsAddresses() {
        RegistryFixture f;
        LimitSettings s; // loopback exempt: operator_from still applies to it
        s.operatorFrom = set("10.1.0.0/16 2001:db8::5");
        f.reg().setLimits(s);
        const int inside = f.connect("10.1.200.3");
        f.send(inside, frame(2, kOperatorCodes));
        QCOMPARE(f.received(inside), kOperatorAccepted);
        const int v6 = f.connect("2001:db8::5");
        f.send(v6, frame(2, kOperatorCodes));
        QCOMPARE(f.received(v6), kOperatorAccepted);

        const qsizetype lines = f.reg().eventLog().lines().size();
        for (const char* outside : {"10.2.0.1", "127.0.0.1", "2001:db8::6"}) {
            const int p = f.connect(outside);
            f.send(p, frame(2, kOperatorCodes));
            QVERIFY2(!f.isOpen(p), outside);
            QCOMPARE(f.received(p), QByteArray());
        }
        QCOMPARE(f.reg().eventLog().lines().size(), lines);
        QCOMPARE(loginCount(f.reg(), LoginKind::Operator, LoginResult::NotAllowedFrom), quint64(3));
        // A game server logs in from anywhere.
        f.reg().setNewAccountsAllowed(true);
        const int server = f.connect("10.2.0.1");
        f.send(server, frame(0, fields("gamer", "pw")));
        QCOMPARE(f.received(server).mid(2, 1), bytes({0}));
    }

    void operatorFromRefusalsAreFailures() {
        RegistryFixture f;
        LimitSettings s = judged();
        s.loginFailures = 2;
        s.operatorFrom = set("10.1.0.0/16");
        f.reg().setLimits(s);
        for (int i = 0; i < 2; ++i)
            f.send(f.connect("10.2.0.1"), frame(2, kOperatorCodes));
        QVERIFY(f.reg().addressLimits().lockout(key("10.2.0.1")));
    }

    // --- registrations per hour ---
    void hourlyRegistrationWindow() {
        RegistryFixture f;
        LimitSettings s = judged();
        s.registrationsPerHour = 2;
        f.reg().setLimits(s);
        f.reg().setNewAccountsAllowed(true);
        auto registerFrom = [&](const QByteArray& address, const QByteArray& user, int* peer) {
            const int p = f.connect(address);
            f.send(p, frame(0, fields(user, "pw")));
            *peer = p;
            return f.received(p);
        };
        int p = 0;
        QCOMPARE(registerFrom("198.51.100.7", "first", &p).mid(2, 1), bytes({0})); // at t0
        f.clock.advance(1000);
        QCOMPARE(registerFrom("198.51.100.7", "second", &p).mid(2, 1), bytes({0})); // t0 + 1 s
        const qsizetype lines = f.reg().eventLog().lines().size();
        QCOMPARE(registerFrom("198.51.100.7", "third", &p), kRefused);
        QVERIFY(!f.isOpen(p));
        QVERIFY(!f.reg().accounts().find("third"));
        QCOMPARE(f.reg().eventLog().lines().size(), lines);
        QCOMPARE(f.reg().counters().registrations[std::size_t(RegistrationResult::RateLimited)], quint64(1));
        // Another address has its own allowance.
        QCOMPARE(registerFrom("198.51.100.8", "fourth", &p).mid(2, 1), bytes({0}));

        // t0 + 3599999: both still inside the hour.
        f.clock.advance(3600000 - 1000 - 1);
        QCOMPARE(registerFrom("198.51.100.7", "third", &p), kRefused);
        QCOMPARE(*f.reg().addressLimits().registrationsBlockedFor(key("198.51.100.7")), quint32(1));
        f.clock.advance(1); // the first leaves the window
        QVERIFY(!f.reg().addressLimits().registrationsBlockedFor(key("198.51.100.7")));
        QCOMPARE(registerFrom("198.51.100.7", "third", &p).mid(2, 1), bytes({0}));
        QCOMPARE(registerFrom("198.51.100.7", "fifth", &p), kRefused);
        QCOMPARE(*f.reg().addressLimits().registrationsBlockedFor(key("198.51.100.7")), quint32(1000));
        QVERIFY(!f.reg().accounts().find("fifth"));
    }

    void refusedOrTakenNamesDoNotUseTheAllowance() {
        RegistryFixture f;
        LimitSettings s = judged();
        s.registrationsPerHour = 1;
        f.reg().setLimits(s);
        int p = f.connect("198.51.100.7");
        f.send(p, frame(0, fields("first", "pw"))); // new accounts not allowed
        QCOMPARE(f.received(p), kRefused);
        f.reg().setNewAccountsAllowed(true);
        f.reg().closeClient(f.slotOf(registerServer(f, "taken", "pw", "192.0.2.1")));
        p = f.connect("198.51.100.7");
        f.send(p, frame(0, fields("taken", "pw")));
        QCOMPARE(f.received(p), bytes({0x00, 0x01, 0x01}));
        p = f.connect("198.51.100.7");
        f.send(p, frame(0, fields("first", "pw")));
        QCOMPARE(f.received(p).mid(2, 1), bytes({0}));
    }

    // --- list queries per second ---
    void listQueriesOverTheRateAreIgnored() {
        RegistryFixture f;
        LimitSettings s = judged();
        s.listQueriesPerSecond = 2;
        f.reg().setLimits(s);
        placeServer(f, "online", 0, 3, "Name", "Desc", "192.0.2.9");
        const int c = f.connect("203.0.113.20");
        const qsizetype lines = f.reg().eventLog().lines().size();
        f.send(c, frame(3, bytes({1})) + frame(3, bytes({1})) + frame(3, bytes({1})));
        const QByteArray got = f.received(c);
        QCOMPARE(got.count("online"), 2);
        QVERIFY(f.isOpen(c));
        QCOMPARE(f.reg().eventLog().lines().size(), lines + 2);
        QCOMPARE(f.reg().counters().listQueriesIgnored, quint64(1));

        f.clock.advance(999);
        f.send(c, frame(3, bytes({1})));
        QCOMPARE(f.received(c), QByteArray());
        f.clock.advance(1);
        f.send(c, frame(3, bytes({1})));
        QCOMPARE(f.received(c).count("online"), 1);
        QCOMPARE(f.reg().counters().listQueriesIgnored, quint64(2));

        // The rate is the address's, over all its connections; exempt ones are free.
        const int second = f.connect("203.0.113.20");
        f.send(second, frame(3, bytes({1})) + frame(3, bytes({1})));
        QCOMPARE(f.received(second).count("online"), 1);
        const int local = f.connect("127.0.0.1");
        s.exempt = LimitSettings::defaultExempt();
        f.reg().setLimits(s);
        for (int i = 0; i < 10; ++i)
            f.send(local, frame(3, bytes({1})));
        QCOMPARE(f.received(local).count("online"), 10);
    }

    void listRateOffByDefault() {
        RegistryFixture f;
        f.reg().setLimits(judged());
        placeServer(f, "online", 0, 3, "Name", "Desc", "192.0.2.9");
        const int c = f.connect("203.0.113.20");
        for (int i = 0; i < 50; ++i)
            f.send(c, frame(3, bytes({1})));
        QCOMPARE(f.received(c).count("online"), 50);
        QCOMPARE(f.reg().addressLimits().trackedCount(), std::size_t(0));
    }

    // --- why is this caller refused? ---
    void verdictTexts() {
        RegistryFixture f;
        const QDate today(2026, 12, 8);
        const QDateTime now(today, QTime(17, 0, 0), Qt::UTC);
        auto verdict = [&](const char* ip) { return addressVerdict(f.reg(), QString::fromLatin1(ip), today, now); };
        BanSet& bans = f.reg().database().bans();
        QVERIFY(bans.add(BanRecord{4, "one host", "10.20.30.40", std::nullopt, QDate(2026, 12, 31)}));
        QVERIFY(bans.add(BanRecord{5, "a /24", "10.20.31.0", std::nullopt, std::nullopt}));
        QVERIFY(bans.add(BanRecord{6, "a /16", "10.21.0.0", std::nullopt, QDate(2027, 1, 2)}));
        QVERIFY(bans.add(BanRecord{7, "gone", "10.22.0.1", std::nullopt, today}));
        QVERIFY(bans.add(BanRecord{8, "v6", "2001:db8::1", std::nullopt, std::nullopt}));

        QCOMPARE(verdict("192.0.2.1"), QString("admitted"));
        QCOMPARE(verdict("10.20.30.40"),
                 QString("banned by ban 4 (\"one host\") until 2026-12-31, matching the address exactly"));
        QCOMPARE(verdict("10.20.31.9"), QString("banned by ban 5 (\"a /24\") for ever, matching its /24 form 10.20.31.0"));
        QCOMPARE(verdict("10.21.200.1"),
                 QString("banned by ban 6 (\"a /16\") until 2027-01-02, matching its /16 form 10.21.0.0"));
        QCOMPARE(verdict("2001:DB8:0::1"), QString("banned by ban 8 (\"v6\") for ever, matching the address exactly"));
        QCOMPARE(verdict("::ffff:10.20.30.40"),
                 QString("banned by ban 4 (\"one host\") until 2026-12-31, matching the address exactly"));
        // An expired ban would be lifted at the next connection: admitted, and
        // the question deletes nothing.
        QCOMPARE(verdict("10.22.0.1"), QString("admitted"));
        QVERIFY(bans.findByNumber(7));

        QVERIFY(!verdict("10.0.0.256"));
        QVERIFY(!verdict("example.org"));
        QVERIFY(!verdict(""));
        QVERIFY(!addressVerdict(f.reg(), QStringLiteral("１.2.3.4"), today, now));
    }

    void verdictOfTheLimits() {
        RegistryFixture f;
        const QDate today(2026, 12, 8);
        const QDateTime now(today, QTime(17, 0, 0), Qt::UTC);
        auto verdict = [&](const char* ip) { return addressVerdict(f.reg(), QString::fromLatin1(ip), today, now); };
        LimitSettings s = judged();
        s.connectionsPerAddress = 2;
        s.loginFailures = 2;
        s.registrationsPerHour = 1;
        s.operatorFrom = set("10.1.0.0/16");
        f.reg().setLimits(s);

        QCOMPARE(verdict("10.1.0.9"), QString("admitted"));
        QCOMPARE(verdict("10.2.0.9"), QString("operator logins not allowed from it"));
        f.net.connectPeers(1, "10.1.0.9");
        QCOMPARE(verdict("10.1.0.9"), QString("admitted"));
        f.net.connectPeers(1, "10.1.0.9");
        QCOMPARE(verdict("10.1.0.9"), QString("at its limit of 2 connections"));

        attempt(f, "10.1.0.7", "nobody", "x");
        attempt(f, "10.1.0.7", "nobody", "x");
        f.clock.advance(60500);
        QCOMPARE(verdict("10.1.0.7"), QString("locked out for 240 more seconds after 2 failed logins"));
        f.clock.advance(239499);
        QCOMPARE(verdict("10.1.0.7"), QString("locked out for 1 more seconds after 2 failed logins"));
        f.clock.advance(1);
        QCOMPARE(verdict("10.1.0.7"), QString("admitted"));

        f.reg().setNewAccountsAllowed(true);
        const int p = f.connect("10.3.0.1");
        f.send(p, frame(0, fields("spammer", "pw")));
        f.clock.advance(1000);
        QCOMPARE(verdict("10.3.0.1"), QString("registrations refused until 2026-12-08T17:59:59Z (for 3599 more seconds); "
                                              "operator logins not allowed from it"));
        f.reg().closeClient(f.slotOf(p));

        // Through the automation operations, with the error for a bad address.
        ControlOperations ops(f.reg());
        QCOMPARE(ops.CheckAddress("10.1.0.9"), QString("at its limit of 2 connections"));
        try {
            ops.CheckAddress("10.1.0.9/16");
            QFAIL("no error");
        } catch (const ControlOperations::CallError& e) {
            QCOMPARE(int(e.kind), int(ControlOperations::CallError::Kind::InvalidArgument));
            QCOMPARE(e.message, QString("'10.1.0.9/16' is not an IPv4 or IPv6 address"));
        }
    }

    // --- bookkeeping ---
    void trackedAddressesAreBounded() {
        ManualTickClock clock;
        AddressLimits limits(clock, {});
        LimitSettings s = judged();
        limits.apply(s);
        const std::size_t extra = 100;
        for (std::size_t i = 0; i < AddressLimits::kMaxTracked + extra; ++i) {
            const QByteArray ip = QByteArray("10.") + QByteArray::number(quint32(i >> 16) & 0xff) + '.' +
                                  QByteArray::number(quint32(i >> 8) & 0xff) + '.' + QByteArray::number(quint32(i) & 0xff);
            limits.loginFailed(ip);
        }
        QCOMPARE(limits.trackedCount(), AddressLimits::kMaxTracked);
        // The oldest went: its one failure is forgotten, so nine more do not lock it.
        for (int i = 0; i < 9; ++i)
            limits.loginFailed("10.0.0.0");
        QVERIFY(!limits.loginLockedOut("10.0.0.0"));
        limits.loginFailed("10.0.0.0");
        QVERIFY(limits.loginLockedOut("10.0.0.0"));
        // The newest stayed: nine more lock it.
        const QByteArray newest = "10.0.64.99"; // number kMaxTracked + extra - 1
        for (int i = 0; i < 9; ++i)
            limits.loginFailed(newest);
        QVERIFY(limits.loginLockedOut(newest));
        QCOMPARE(limits.trackedCount(), AddressLimits::kMaxTracked);

        clock.advance(60000);
        limits.sweep();
        QCOMPARE(limits.trackedCount(), std::size_t(2)); // only the two lockouts are left
    }

    void garbageAddressesAreNeverTracked() {
        ManualTickClock clock;
        AddressLimits limits(clock, {});
        LimitSettings s = judged();
        s.loginFailures = 1;
        s.registrationsPerHour = 1;
        s.listQueriesPerSecond = 1;
        limits.apply(s);
        limits.loginFailed("");
        limits.accountCreated("not an address");
        QVERIFY(limits.takeListQuery("x"));
        QVERIFY(limits.takeListQuery("x"));
        QCOMPARE(limits.trackedCount(), std::size_t(0));
    }
};

QTEST_GUILESS_MAIN(LimitsTest)
#include "tst_limits.moc"
