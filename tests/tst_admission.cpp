// Admission control at accept: bans on addresses and networks, expiry, and
// the accesses-per-hour figure.
#include "host/admission_control.h"
#include "platform/qt_socket_layer.h"
#include "support/registry_fixture.h"

#include <QSignalSpy>
#include <QTcpSocket>
#include <QtTest>

namespace {

const QDate kToday(2026, 6, 15);

BanRecord ban(int number, const QString& ip, std::optional<QDate> until = std::nullopt) {
    return BanRecord{number, QStringLiteral("ban%1").arg(number), ip, std::nullopt, until};
}

} // namespace

class AdmissionTest : public QObject {
    Q_OBJECT
    std::unique_ptr<RegistryFixture> f;
    BanSet& bans() { return f->reg().database().bans(); }

private slots:
    void init() {
        f = std::make_unique<RegistryFixture>(false);
        f->reg().setTodayProvider([] { return kToday; });
        QVERIFY(f->start());
    }
    void cleanup() { f.reset(); }

    void maskAddress_data() {
        QTest::addColumn<QString>("address");
        QTest::addColumn<int>("level");
        QTest::addColumn<QString>("masked");
        QTest::newRow("level 1") << "10.20.30.40" << 1 << "10.20.30.0";
        QTest::newRow("level 2") << "10.20.30.40" << 2 << "10.20.0.0";
        QTest::newRow("level 3 is no level") << "10.20.30.40" << 3 << "10.20.30.40";
        QTest::newRow("level 0") << "10.20.30.40" << 0 << "10.20.30.40";
        QTest::newRow("no dot, level 1") << "localhost" << 1 << "localhost";
        QTest::newRow("one dot, level 1") << "a.b" << 1 << "a.0";
        QTest::newRow("one dot, level 2") << "a.b" << 2 << "a.b";
        QTest::newRow("two dots, level 2") << "a.b.c" << 2 << "a.0.0";
        QTest::newRow("leading dot, level 2") << ".b" << 2 << ".b";
        QTest::newRow("empty") << "" << 1 << "";
    }
    void maskAddress() {
        QFETCH(QString, address);
        QFETCH(int, level);
        QFETCH(QString, masked);
        QCOMPARE(MaskAddress(address, level), masked);
    }

    // Without a provider the registry's date is the local date, kept
    // between accepts and the same as the calendar's.
    void todayWithoutProviderIsTheLocalDate() {
        f->reg().setTodayProvider(nullptr);
        const QDate before = QDate::currentDate();
        const QDate first = f->reg().today();
        const QDate second = f->reg().today();
        const QDate after = QDate::currentDate();
        QVERIFY(first == before || first == after); // a midnight may pass between the calls
        QVERIFY(second == first || second == after);
        QVERIFY(first.isValid());
    }

    void networkForms_data() {
        QTest::addColumn<QString>("banned");
        QTest::addColumn<QString>("caller");
        QTest::addColumn<bool>("refused");
        QTest::newRow("/24 covers a host") << "10.20.30.0" << "10.20.30.7" << true;
        QTest::newRow("/24 covers its own .0") << "10.20.30.0" << "10.20.30.0" << true;
        QTest::newRow("/24 spares the next network") << "10.20.30.0" << "10.20.31.7" << false;
        QTest::newRow("/16 covers a host") << "10.20.0.0" << "10.20.99.1" << true;
        QTest::newRow("/16 spares another /16") << "10.20.0.0" << "10.21.99.1" << false;
        QTest::newRow("10.0.0.0 covers 10.0.x.y") << "10.0.0.0" << "10.0.7.9" << true;
        QTest::newRow("10.0.0.0 is no /8") << "10.0.0.0" << "10.1.2.3" << false;
        QTest::newRow("exact") << "192.168.1.5" << "192.168.1.5" << true;
        QTest::newRow("exact spares a neighbour") << "192.168.1.5" << "192.168.1.6" << false;
        QTest::newRow("no prefix matching") << "10.20.30.4" << "10.20.30.40" << false;
    }
    void networkForms() {
        QFETCH(QString, banned);
        QFETCH(QString, caller);
        QFETCH(bool, refused);
        QVERIFY(bans().add(ban(1, banned)));
        QCOMPARE(IsBanned(bans(), caller), refused);
        QCOMPARE(decideAdmission(bans(), caller, kToday) == Admission::Banned, refused);
    }

    void mostSpecificBanDecidesAndExpiredBansGo() {
        QVERIFY(bans().add(ban(1, "10.20.30.40", kToday.addDays(-1))));
        QVERIFY(bans().add(ban(2, "10.20.30.0", kToday.addDays(30))));
        QVERIFY(bans().add(ban(3, "10.20.0.0", kToday.addDays(-5))));
        QCOMPARE(BanUnbanDate(bans(), "10.20.30.40"), std::optional<QDate>(kToday.addDays(-1)));
        QCOMPARE(BanUnbanDate(bans(), "10.20.30.41"), std::optional<QDate>(kToday.addDays(30)));
        QCOMPARE(BanUnbanDate(bans(), "10.20.31.1"), std::optional<QDate>(kToday.addDays(-5)));
        QCOMPARE(BanUnbanDate(bans(), "11.0.0.1"), std::nullopt);

        QCOMPARE(decideAdmission(bans(), "10.20.30.40", kToday), Admission::AdmittedBanLifted);
        QVERIFY(!bans().findByNumber(1));
        QCOMPARE(decideAdmission(bans(), "10.20.30.40", kToday), Admission::Banned);
        QVERIFY(bans().findByNumber(2));
        QVERIFY(bans().findByNumber(3)); // untouched: it did not decide
    }

    void expiryBoundaries() {
        QVERIFY(BanExpired(kToday, kToday));
        QVERIFY(BanExpired(kToday.addDays(-400), kToday));
        QVERIFY(!BanExpired(kToday.addDays(1), kToday));
        QVERIFY(bans().add(ban(1, "1.1.1.1", kToday)));
        QVERIFY(bans().add(ban(2, "2.2.2.2", kToday.addDays(1))));
        QVERIFY(bans().add(ban(3, "3.3.3.3"))); // no unban date: never expires
        QCOMPARE(decideAdmission(bans(), "1.1.1.1", kToday), Admission::AdmittedBanLifted);
        QCOMPARE(decideAdmission(bans(), "2.2.2.2", kToday), Admission::Banned);
        QCOMPARE(decideAdmission(bans(), "3.3.3.3", kToday.addYears(50)), Admission::Banned);
        QCOMPARE(bans().count(), 2);
    }

    void emptyTableIsNotSearched() {
        const quint64 before = bans().addressSearches();
        QCOMPARE(decideAdmission(bans(), "10.0.0.1", kToday), Admission::Admitted);
        f->connect("10.0.0.1");
        QCOMPARE(bans().addressSearches(), before);
        QVERIFY(bans().add(ban(1, "9.9.9.9")));
        QCOMPARE(decideAdmission(bans(), "10.0.0.1", kToday), Admission::Admitted);
        QCOMPARE(bans().addressSearches(), before + 3);
    }

    // The emptiness of the table is kept between accepts; every change made
    // through the set (add, update, remove, remove all, the deletion of an
    // expired ban) is seen by the next caller.
    void everyChangeReachesTheNextCaller() {
        QVERIFY(bans().isEmpty());
        QVERIFY(f->isOpen(f->connect("10.1.1.1")));
        QVERIFY(bans().add(ban(1, "10.1.1.1")));
        QVERIFY(!bans().isEmpty());
        QVERIFY(!f->isOpen(f->connect("10.1.1.1")));
        QVERIFY(bans().remove(1));
        QVERIFY(bans().isEmpty());
        QVERIFY(f->isOpen(f->connect("10.1.1.1")));
        QVERIFY(bans().add(ban(2, "10.1.1.2")));
        QVERIFY(!f->isOpen(f->connect("10.1.1.2")));
        QVERIFY(bans().update(ban(2, "10.1.1.3")));
        QVERIFY(f->isOpen(f->connect("10.1.1.2")));
        QVERIFY(!f->isOpen(f->connect("10.1.1.3")));
        QVERIFY(bans().removeAll());
        QVERIFY(bans().isEmpty());
        QVERIFY(f->isOpen(f->connect("10.1.1.3")));
        // Expired at the accept: deleted there, and the table is empty again.
        QVERIFY(bans().add(ban(3, "10.1.1.4", kToday)));
        QVERIFY(f->isOpen(f->connect("10.1.1.4")));
        QCOMPARE(bans().count(), 0);
        QVERIFY(bans().isEmpty());
        QVERIFY(bans().add(ban(4, "10.1.1.5")));
        QVERIFY(!f->isOpen(f->connect("10.1.1.5")));
    }

    void bannedCallerGetsNothingAndLeavesNoTrace() {
        QVERIFY(bans().add(ban(1, "10.20.30.0", kToday.addDays(1))));
        const int ok = f->connect("10.20.31.7");
        QCOMPARE(f->reg().connectionCount(), 1);
        const QString rateBefore = f->reg().accessRateText();
        const QStringList logBefore = f->reg().eventLog().lines();
        QSignalSpy counts(&f->reg(), &Registry::connectionCountChanged);
        QSignalSpy rates(&f->reg(), &Registry::accessRateTextChanged);

        const int banned = f->connect("10.20.30.7");
        QVERIFY(!f->isOpen(banned));
        QCOMPARE(f->received(banned), QByteArray());
        QCOMPARE(f->reg().connectionCount(), 1);
        QCOMPARE(f->reg().captionText(), QStringLiteral("The Tarvane Classic Server Registry [1]"));
        QCOMPARE(f->reg().eventLog().lines(), logBefore);
        QCOMPARE(f->reg().accessRateText(), rateBefore);
        QCOMPARE(rates.count(), 0);
        QCOMPARE(counts.count(), 1); // once, by the close, with the count as before
        QCOMPARE(counts.at(0).at(0).toInt(), 1);
        QVERIFY(!f->reg().slot(2).InUse);
        QVERIFY(f->reg().slot(2).IP.isEmpty());
        QVERIFY(f->isOpen(ok));
        // The freed slot is taken by the next admitted caller.
        const int next = f->connect("10.20.31.8");
        QCOMPARE(f->slotOf(next), 2);
    }

    void expiredBanIsDeletedOnConnectAndTheCallerAdmitted() {
        QVERIFY(bans().add(ban(1, "10.20.30.40", kToday)));
        QVERIFY(bans().add(ban(2, "10.20.30.0", kToday.addDays(2))));
        const int first = f->connect("10.20.30.40");
        QVERIFY(f->isOpen(first));
        QCOMPARE(bans().count(), 1);
        const int second = f->connect("10.20.30.40");
        QVERIFY(!f->isOpen(second));
        // The next day the network ban is still in force; two days on it lifts.
        f->reg().setTodayProvider([] { return kToday.addDays(2); });
        const int third = f->connect("10.20.30.40");
        QVERIFY(f->isOpen(third));
        QCOMPARE(bans().count(), 0);
    }

    void accessRateFigure() {
        // The fixture started at tick 100000: every entry holds it.
        QCOMPARE(f->reg().accessRateText(), QStringLiteral("Accesses/Hour = 0"));
        QSignalSpy rates(&f->reg(), &Registry::accessRateTextChanged);
        f->clock.advance(7000);
        f->connect();
        QCOMPARE(f->reg().accessRateText(), QStringLiteral("Accesses/Hour = 514")); // 3600000 / 7000
        QCOMPARE(rates.count(), 1);
        QCOMPARE(rates.at(0).at(0).toString(), QStringLiteral("Accesses/Hour = 514"));
        f->clock.advance(3);
        f->connect();
        QCOMPARE(f->reg().accessRateText(), QStringLiteral("Accesses/Hour = 1028")); // 7200000 / 7003
    }

    void accessRingShiftsAndCaps() {
        AccessRate r;
        r.reset(500);
        QCOMPARE(r.perHour(), 0u);
        r.record(500); // same tick as start-up: the span counts as 1 ms
        QCOMPARE(r.perHour(), 3600000u);
        for (int i = 1; i <= 150; ++i)
            r.record(500 + quint32(i) * 1000);
        QCOMPARE(r.accessCount(), 100);
        QCOMPARE(r.entry(100), 150500u);
        QCOMPARE(r.entry(1), 51500u);
        // 100 admissions over 99 seconds
        QCOMPARE(r.perHour(), quint32(100ull * 3600000 / 99000));

        // Across the wrap of the 32-bit counter.
        AccessRate w;
        w.reset(0xFFFFF000u);
        w.record(0x00000800u); // 0x1800 = 6144 ms later
        QCOMPARE(w.perHour(), quint32(3600000 / 6144));
    }

    void bannedRealCallerReceivesNothing() {
        QtSocketLayer sockets;
        SystemTickClock clock;
        QTemporaryDir dir;
        RegistryOptions options;
        options.dataDir = dir.path();
        options.listenAddress = QHostAddress::LocalHost;
        options.port = 0;
        Registry registry(sockets, clock, options);
        QString error;
        QVERIFY2(registry.start(&error), qPrintable(error));
        QVERIFY(registry.database().bans().add(ban(1, "127.0.0.0")));

        QTcpSocket caller;
        caller.connectToHost(QHostAddress::LocalHost, registry.listeningPort());
        QVERIFY(caller.waitForConnected(3000));
        QTRY_COMPARE_WITH_TIMEOUT(caller.state(), QAbstractSocket::UnconnectedState, 5000);
        QCOMPARE(caller.readAll(), QByteArray());
        QCOMPARE(registry.connectionCount(), 0);
        QCOMPARE(registry.captionText(), QStringLiteral("The Tarvane Classic Server Registry [0]"));

        // Lifted: the same caller is admitted.
        QVERIFY(registry.database().bans().remove(1));
        QTcpSocket again;
        again.connectToHost(QHostAddress::LocalHost, registry.listeningPort());
        QVERIFY(again.waitForConnected(3000));
        QTRY_COMPARE_WITH_TIMEOUT(registry.connectionCount(), 1, 5000);
        QCOMPARE(again.state(), QAbstractSocket::ConnectedState);
        registry.shutdown();
    }
};

QTEST_GUILESS_MAIN(AdmissionTest)
#include "tst_admission.moc"
