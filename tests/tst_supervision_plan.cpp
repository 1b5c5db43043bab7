// The supervision runs only on the 10 ms ticks at which something can be due:
// at the deadline of the quietest connection, every tick while output is
// held, and not at all without connections.
#include "support/session_helpers.h"

#include "protocol/list_query.h"

#include <QtTest>

namespace {
constexpr quint32 T = 100000; // where the fixture's clock starts
const QByteArray kProbe("\x00\x02\xff\xff", 4);
QByteArray query(int start) { return frame(3, QByteArray(1, char(start))); }

// Moves the clock to `tick` and runs the supervision there, as its timer would.
void runAt(RegistryFixture& f, quint32 tick) {
    f.clock.set(tick);
    f.reg().superviseSlots();
}
} // namespace

class SupervisionPlanTest : public QObject {
    Q_OBJECT
private slots:
    void nothingPlannedWithoutConnections() {
        RegistryFixture f(false);
        QVERIFY(!f.reg().supervisionPlanned());
        QVERIFY(f.start());
        QVERIFY(!f.reg().supervisionPlanned());
        const int p = f.connect();
        QVERIFY(f.reg().supervisionPlanned());
        f.net.raiseError(p);
        runAt(f, f.clock.now() + 10);
        QVERIFY(!f.reg().supervisionPlanned());
        // Shutdown leaves nothing planned either.
        f.connect();
        QVERIFY(f.reg().supervisionPlanned());
        f.reg().shutdown();
        QVERIFY(!f.reg().supervisionPlanned());
    }

    void silentCallerPlannedForItsDeadline() {
        RegistryFixture f; // the clock stands at T
        const int p = f.connect();
        // Its idle time starts at 50 ms: due 29,950 ms after the accept.
        QCOMPARE(f.reg().nextSupervisionTick(), T + 29950);
        runAt(f, T + 29940); // a run before the deadline finds nothing and keeps it
        QVERIFY(f.isOpen(p));
        QCOMPARE(f.reg().nextSupervisionTick(), T + 29950);
        runAt(f, T + 29950);
        QVERIFY(!f.isOpen(p));
        QVERIFY(!f.reg().supervisionPlanned());
    }

    void arrivalsMoveTheDeadlineLater() {
        RegistryFixture f;
        const int p = f.connect();
        const int q = f.connect();
        f.clock.set(T + 5000);
        f.send(p, frame(255)); // activity: p is next due at 36,000
        QCOMPARE(f.reg().nextSupervisionTick(), T + 29950); // nothing planned anew for an arrival
        runAt(f, T + 29950);
        QVERIFY(f.isOpen(p));
        QVERIFY(!f.isOpen(q));
        QCOMPARE(f.reg().nextSupervisionTick(), T + 35000);
        runAt(f, T + 34990);
        QVERIFY(f.isOpen(p));
        runAt(f, T + 35000);
        QVERIFY(!f.isOpen(p));
    }

    void deadlinesStayOnTheTenMillisecondGrid() {
        RegistryFixture f;
        const int first = f.connect();
        f.clock.set(T + 3);
        const int second = f.connect(); // due at 30,953: the tick at 30,960 serves it
        QCOMPARE(f.reg().nextSupervisionTick(), T + 29950);
        runAt(f, T + 29950);
        QVERIFY(!f.isOpen(first));
        QVERIFY(f.isOpen(second));
        QCOMPARE(f.reg().nextSupervisionTick(), T + 29960);
        runAt(f, T + 29960);
        QVERIFY(!f.isOpen(second));
    }

    void quietServerProbedThenDropped() {
        RegistryFixture f;
        const int op = connectOperator(f); // logged in at T; its last activity then
        QCOMPARE(f.reg().nextSupervisionTick(), T + 29950); // planned at its accept
        runAt(f, T + 29950);
        QCOMPARE(f.received(op), QByteArray());
        QCOMPARE(f.reg().nextSupervisionTick(), T + 30000);
        runAt(f, T + 30000);
        QCOMPARE(f.received(op), kProbe);
        // The probe moved its activity 35 s back: the drop is due 25 s later.
        QCOMPARE(f.reg().nextSupervisionTick(), T + 55000);
        runAt(f, T + 54990);
        QVERIFY(f.isOpen(op));
        runAt(f, T + 55000);
        QVERIFY(!f.isOpen(op));
        QVERIFY(!f.reg().supervisionPlanned());
    }

    void heldOutputIsLookedAtEveryTick() {
        RegistryFixture f;
        placeServer(f, "alpha");
        const int c = f.connect();
        runAt(f, T + 1000);
        QCOMPARE(f.reg().nextSupervisionTick(), T + 29950);
        f.net.setKernelQueue(c, Registry::kReadPauseOutput + 1);
        f.send(c, query(1));
        QVERIFY(f.net.peer(c).readPaused);
        QCOMPARE(f.reg().nextSupervisionTick(), T + 1010);
        runAt(f, T + 1010);
        QCOMPARE(f.reg().nextSupervisionTick(), T + 1020);
        f.net.setKernelQueue(c, 0);
        runAt(f, T + 1020);
        QVERIFY(!f.reg().slot(f.slotOf(c)).HeldForOutput);
        // Drained: back to the next deadline, the server's (idle since T - 50).
        QCOMPARE(f.reg().nextSupervisionTick(), T + 29950);
    }

    void plannedRunComesFromTheTimer() {
        RegistryFixture f;
        placeServer(f, "alpha");
        const int c = f.connect();
        f.net.setKernelQueue(c, Registry::kReadPauseOutput + 1);
        f.send(c, query(1));
        QVERIFY(f.net.peer(c).readPaused);
        f.net.setKernelQueue(c, 0);
        f.clock.advance(10);
        // Nobody calls the supervision here: its timer, due in 10 ms, does.
        QTRY_VERIFY_WITH_TIMEOUT(!f.net.peer(c).readPaused, 2000);
        QCOMPARE(f.received(c), ListQuery::buildReply(f.reg().clients(), 1));
    }
};

QTEST_GUILESS_MAIN(SupervisionPlanTest)
#include "tst_supervision_plan.moc"
