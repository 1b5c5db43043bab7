// One peer cannot starve the others: a connection gets a bounded share of
// messages per pass of the event loop, is not read while its replies pile up
// unread (our queue and the kernel's), and the output cap counts both queues.
#include "support/session_helpers.h"

#include <QCoreApplication>
#include <QtTest>

namespace {
QByteArray query(int start) { return frame(3, QByteArray(1, char(start))); }
const QByteArray kEnd("\x00\x02\xff\x04", 4);

QByteArray queries(int n) {
    QByteArray out;
    for (int i = 0; i < n; ++i)
        out += query(1);
    return out;
}

// Lets the posted work of one loop pass run.
void onePass() { QCoreApplication::sendPostedEvents(); }

int repliesIn(const QByteArray& bytes) { return int(bytes.count(kEnd)); }
} // namespace

class FairShareTest : public QObject {
    Q_OBJECT
private slots:
    void aFloodIsHandledAShareAtATime() {
        RegistryFixture f;
        placeServer(f, "alpha");
        const int flooder = f.connect("10.0.0.7");
        const int other = f.connect("10.0.0.8");
        const int n = Registry::kMessagesPerPass;
        f.send(flooder, queries(3 * n + 5));
        QCOMPARE(repliesIn(f.received(flooder)), n);
        QVERIFY(f.net.peer(flooder).readPaused);
        // What is left waits in the slot, and nothing more is taken meanwhile.
        QCOMPARE(f.reg().slot(f.slotOf(flooder)).Buffer.size(), (2 * n + 5) * query(1).size());
        f.send(flooder, queries(10));
        QCOMPARE(f.net.waitingInput(flooder), 10 * query(1).size());
        QCOMPARE(f.reg().slot(f.slotOf(flooder)).Buffer.size(), (2 * n + 5) * query(1).size());

        // Another peer is answered at once, not after the flood.
        f.send(other, query(1));
        QCOMPARE(repliesIn(f.received(other)), 1);

        onePass();
        QCOMPARE(repliesIn(f.received(flooder)), n);
        onePass();
        QCOMPARE(repliesIn(f.received(flooder)), n);
        QVERIFY(f.net.peer(flooder).readPaused);
        onePass(); // the last 5; then reading resumes and the 10 waiting are announced
        QCOMPARE(repliesIn(f.received(flooder)), 5);
        QVERIFY(!f.net.peer(flooder).readPaused);
        onePass();
        QCOMPARE(repliesIn(f.received(flooder)), 10);
        QCOMPARE(f.reg().slot(f.slotOf(flooder)).Buffer.size(), 0);
        QCOMPARE(f.net.waitingInput(flooder), 0);
        QVERIFY(f.isOpen(flooder));
    }

    void anIncompleteTailDoesNotPauseReading() {
        RegistryFixture f;
        placeServer(f, "alpha");
        const int c = f.connect();
        const int n = Registry::kMessagesPerPass;
        f.send(c, queries(n) + query(1).left(3));
        QCOMPARE(repliesIn(f.received(c)), n);
        QVERIFY(!f.net.peer(c).readPaused);
        QCOMPARE(f.reg().slot(f.slotOf(c)).Buffer, query(1).left(3));
        f.send(c, query(1).mid(3));
        QCOMPARE(repliesIn(f.received(c)), 1);
    }

    void anOverlongLengthInTheBacklogStillCloses() {
        RegistryFixture f;
        placeServer(f, "alpha");
        const int c = f.connect();
        const int n = Registry::kMessagesPerPass;
        f.send(c, queries(n + 1) + QByteArray("\x02\x00\x03", 3));
        QCOMPARE(repliesIn(f.received(c)), n);
        QVERIFY(f.isOpen(c));
        onePass();
        QCOMPARE(repliesIn(f.received(c)), 1);
        QVERIFY(!f.isOpen(c));
    }

    void unreadRepliesInTheKernelHoldReading() {
        RegistryFixture f;
        placeServer(f, "alpha");
        const int c = f.connect();
        f.net.setKernelQueue(c, Registry::kReadPauseOutput + 1);
        f.send(c, query(1));
        QCOMPARE(f.received(c), QByteArray()); // not handled while its replies are not taken
        QVERIFY(f.net.peer(c).readPaused);
        f.send(c, query(1));
        f.runFor(10);
        QCOMPARE(f.received(c), QByteArray());
        // Above half the threshold it stays held...
        f.net.setKernelQueue(c, Registry::kReadPauseOutput / 2 + 1);
        f.runFor(10);
        onePass();
        QCOMPARE(f.received(c), QByteArray());
        // ...at half it is served again: the buffered query, then the one the kernel kept.
        f.net.setKernelQueue(c, Registry::kReadPauseOutput / 2);
        f.runFor(10);
        onePass();
        QCOMPARE(repliesIn(f.received(c)), 1);
        QVERIFY(!f.net.peer(c).readPaused);
        onePass();
        QCOMPARE(repliesIn(f.received(c)), 1);
    }

    void ourOwnQueueHoldsReadingToo() {
        RegistryFixture f;
        placeServer(f, "alpha");
        const int c = f.connect();
        f.net.setHoldOutput(true);
        int sent = 0;
        while (f.net.peer(c).unsent <= Registry::kReadPauseOutput) {
            f.send(c, queries(Registry::kMessagesPerPass));
            sent += Registry::kMessagesPerPass;
            QVERIFY(sent < 100000);
        }
        QVERIFY(!f.net.peer(c).readPaused);
        const qint64 held = f.net.peer(c).unsent;
        f.send(c, query(1));
        onePass();
        QCOMPARE(f.net.peer(c).unsent, held);
        QVERIFY(f.net.peer(c).readPaused);

        f.net.completeSends(c);
        f.received(c);
        f.runFor(10);
        onePass();
        QCOMPARE(repliesIn(f.received(c)), 1); // answered once the peer took the rest
        QVERIFY(!f.net.peer(c).readPaused);
    }

    void theOutputCapCountsTheKernelsQueue() {
        RegistryFixture f;
        placeServer(f, "alpha");
        const int c = f.connect();
        f.net.setKernelQueue(c, Registry::kMaxUnsentOutput + 1);
        f.reg().sendRaw(f.slotOf(c), QByteArray(4, 'x'));
        QVERIFY(!f.isOpen(c));

        const int d = f.connect();
        f.net.setKernelQueue(d, Registry::kMaxUnsentOutput);
        f.reg().sendRaw(f.slotOf(d), QByteArray(4, 'x'));
        QVERIFY(f.isOpen(d)); // exactly at the cap is still allowed
    }

    void aNewCallerInAReusedSlotIsReadAtOnce() {
        RegistryFixture f;
        placeServer(f, "alpha");
        const int c = f.connect();
        f.send(c, queries(Registry::kMessagesPerPass + 1));
        const int slot = f.slotOf(c);
        QVERIFY(f.reg().slot(slot).Backlogged);
        f.reg().closeClient(slot);
        const int d = f.connect();
        QCOMPARE(f.slotOf(d), slot);
        onePass(); // the stale backlog pass finds nothing of the old connection
        QCOMPARE(f.received(d), QByteArray());
        f.send(d, query(1));
        QCOMPARE(repliesIn(f.received(d)), 1);
        QVERIFY(!f.net.peer(d).readPaused);
    }
};

QTEST_GUILESS_MAIN(FairShareTest)
#include "tst_fair_share.moc"
