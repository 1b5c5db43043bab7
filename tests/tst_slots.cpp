// The slot table: accepting callers, the full notice, closing, supervision.
#include "support/session_helpers.h"

#include "database/ban_set.h"
#include "host/front_end.h"
#include "protocol/framing.h"

#include <QtTest>

namespace {
const QByteArray kFullNotice("\x00\x02\x00\x04", 4);
const QByteArray kProbe("\x00\x02\xff\xff", 4);

// Records what the core asks of the windows.
struct RecordingFrontEnd : FrontEnd {
    QStringList calls;
    void loadMainWindow() override { calls << "load"; }
    void showMainWindowAndTray() override { calls << "show"; }
    void setCaption(const QString& c) override { calls << "caption:" + c; }
    void setTrayTip(const QString& t) override { calls << "tip:" + t; }
    void removeTray() override { calls << "removeTray"; }
    void unloadWindows() override { calls << "unload"; }
};

void makeServer(RegistryFixture& f, int peer, const QByteArray& id) {
    ClientSlot& s = f.reg().slot(f.slotOf(peer));
    s.Mode = SessionMode::Server;
    s.ServerId = id;
    f.reg().onlineServers().add(id);
}
} // namespace

class SlotsTest : public QObject {
    Q_OBJECT
private slots:
    void startupOrderAndLine() {
        RegistryFixture f(false);
        RecordingFrontEnd fe;
        f.reg().setFrontEnd(&fe);
        QVERIFY(f.start());
        QCOMPARE(fe.calls, QStringList({"load", "caption:The Tarvane Classic Server Registry [0]", "show"}));
        QVERIFY(f.net.listening());
        QCOMPARE(f.reg().eventLog().lines(),
                 QStringList{"TavRegistry v1.0.0 has loaded and is listening on port 5679 for connections."});
        f.reg().setFrontEnd(nullptr);
    }

    void lowestFreeSlotIsTaken() {
        RegistryFixture f;
        const int a = f.connect("10.0.0.1");
        const int b = f.connect("10.0.0.2");
        QCOMPARE(f.slotOf(a), 1);
        QCOMPARE(f.slotOf(b), 2);
        QCOMPARE(f.reg().slot(1).IP, QByteArray("10.0.0.1"));
        QCOMPARE(f.reg().slot(1).LastTick, f.clock.now() - 50);
        QCOMPARE(f.reg().connectionCount(), 2);
        f.reg().closeClient(1);
        const int c = f.connect();
        QCOMPARE(f.slotOf(c), 1);
        QCOMPARE(f.reg().captionText(), QString("The Tarvane Classic Server Registry [2]"));
        QCOMPARE(f.reg().trayTipText(), QString("TavRegistry [2]"));
    }

    void acceptNeitherLogsNorSends() {
        RegistryFixture f;
        const int lines = f.reg().eventLog().lines().size();
        const int p = f.connect();
        QCOMPARE(f.reg().eventLog().lines().size(), lines);
        QCOMPARE(f.received(p), QByteArray());
    }

    void fullRegistryRefusesWithNotice() {
        RegistryFixture f;
        RecordingFrontEnd fe;
        f.reg().setFrontEnd(&fe);
        const QList<int> peers = f.net.connectPeers(255);
        QCOMPARE(f.reg().connectionCount(), 255);
        QCOMPARE(f.slotOf(peers.last()), 255);
        fe.calls.clear();
        const int lines = f.reg().eventLog().lines().size();

        // Two callers beyond the last slot at the same moment: both get the notice.
        const QList<int> extra = f.net.connectPeers(2);
        QCOMPARE(f.received(extra[0]), kFullNotice);
        QCOMPARE(f.received(extra[1]), kFullNotice);
        QVERIFY(f.reg().slot(SlotTable::kOverflowSlot).InUse);
        f.net.completeSends();
        QVERIFY(!f.reg().slot(SlotTable::kOverflowSlot).InUse);
        QVERIFY(!f.isOpen(extra[0]));
        QVERIFY(!f.isOpen(extra[1]));
        QCOMPARE(f.reg().connectionCount(), 255);
        QCOMPARE(f.reg().eventLog().lines().size(), lines);
        QCOMPARE(fe.calls, QStringList()); // caption untouched

        // The listener keeps accepting: a freed slot is taken by the next caller.
        f.reg().closeClient(17);
        const int next = f.connect();
        QCOMPARE(f.slotOf(next), 17);
        QCOMPARE(f.reg().connectionCount(), 255);
        f.reg().setFrontEnd(nullptr);
    }

    void vanishedCallersAreNotCountedAsFull() {
        RegistryFixture f;
        const QList<int> peers = f.net.connectPeers(255);
        // Two callers reset before the registry handled their hang-ups.
        f.net.peerCloses(peers[16]);
        f.net.peerCloses(peers[200]);
        const QList<int> extra = f.net.connectPeers(3);
        QCOMPARE(f.slotOf(extra[0]), 17);
        QCOMPARE(f.slotOf(extra[1]), 201);
        QCOMPARE(f.received(extra[0]), QByteArray());
        QCOMPARE(f.received(extra[1]), QByteArray());
        QCOMPARE(f.received(extra[2]), kFullNotice);
        QCOMPARE(f.reg().connectionCount(), 255);
    }

    void bannedCallerLeavesTheLastSlotFree() {
        RegistryFixture f;
        QVERIFY(f.reg().database().bans().add(BanRecord{1, "b1", "10.9.8.7", std::nullopt, std::nullopt}));
        f.net.connectPeers(254);
        // The banned caller holds slot 255 for a moment and is dropped: the
        // count of occupied slots must come back down, or the next caller
        // would hear "full" with a slot free.
        const int banned = f.net.connectPeers(1, "10.9.8.7").first();
        QVERIFY(!f.isOpen(banned));
        QCOMPARE(f.received(banned), QByteArray());
        QCOMPARE(f.reg().connectionCount(), 254);
        const QList<int> next = f.net.connectPeers(2);
        QCOMPARE(f.slotOf(next[0]), 255);
        QCOMPARE(f.received(next[0]), QByteArray());
        QCOMPARE(f.received(next[1]), kFullNotice);
        QCOMPARE(f.reg().connectionCount(), 255);
        // One hang-up handled by a close: free again for exactly one caller.
        f.reg().closeClient(3);
        QCOMPARE(f.reg().connectionCount(), 254);
        f.net.completeSends();
        const QList<int> last = f.net.connectPeers(2);
        QCOMPARE(f.slotOf(last[0]), 3);
        QCOMPARE(f.received(last[1]), kFullNotice);
    }

    void hangUpAfterFullPassIsSeenByNextCaller() {
        RegistryFixture f;
        const QList<int> peers = f.net.connectPeers(255);
        // Several callers in one pass while every slot is live: all hear "full".
        const QList<int> extra = f.net.connectPeers(3);
        for (int p : extra)
            QCOMPARE(f.received(p), kFullNotice);
        QCOMPARE(f.reg().counters().refused[std::size_t(Refusal::Full)], std::uint64_t(3));
        f.net.completeSends();
        // A hang-up after that pass: the next pass looks at the table again
        // and the first caller takes the slot the hang-up left.
        f.net.peerCloses(peers[41]);
        const QList<int> later = f.net.connectPeers(2);
        QCOMPARE(f.slotOf(later[0]), 42);
        QCOMPARE(f.received(later[0]), QByteArray());
        QCOMPARE(f.received(later[1]), kFullNotice);
        QCOMPARE(f.reg().connectionCount(), 255);
    }

    void overflowSlotRunsNoSession() {
        RegistryFixture f;
        f.net.connectPeers(255);
        const int extra = f.connect();
        f.received(extra);
        f.send(extra, frame(3, QByteArray(1, 1)));
        QCOMPARE(f.received(extra), QByteArray());
    }

    void closeClientEffectsByMode() {
        RegistryFixture f;
        const int op1 = f.connect("1.1.1.1");
        const int srv = f.connect("2.2.2.2");
        const int op2 = f.connect("3.3.3.3");
        const int plain = f.connect("4.4.4.4");
        f.reg().slot(f.slotOf(op1)).Mode = SessionMode::Operator;
        f.reg().slot(f.slotOf(op2)).Mode = SessionMode::Operator;
        makeServer(f, srv, "Alpha");
        f.reg().onlineServers().add("Beta");

        f.reg().closeClient(f.slotOf(srv));
        QCOMPARE(f.reg().eventLog().last(), QString("Alpha has disconnected from 2.2.2.2"));
        QCOMPARE(f.received(op1), QByteArray("\x00\x06\x06" "Alpha", 8));
        QCOMPARE(f.received(op2), QByteArray("\x00\x06\x06" "Alpha", 8));
        QCOMPARE(f.reg().onlineServers().texts(), QStringList{"Beta"});

        f.reg().closeClient(f.slotOf(op1));
        QCOMPARE(f.reg().eventLog().last(), QString("Operator has disconnected from 1.1.1.1"));

        const int lines = f.reg().eventLog().lines().size();
        const int slot = f.slotOf(plain);
        f.reg().closeClient(slot);
        QCOMPARE(f.reg().eventLog().lines().size(), lines);
        const ClientSlot& s = f.reg().slot(slot);
        QVERIFY(!s.InUse);
        QVERIFY(s.IP.isEmpty() && s.ServerId.isEmpty() && s.Buffer.isEmpty());
        QCOMPARE(s.Mode, SessionMode::Connected);
        QCOMPARE(f.reg().connectionCount(), 1);

        // A second close of the same slot changes nothing.
        f.reg().closeClient(slot);
        f.reg().closeClient(0);
        f.reg().closeClient(257);
        QCOMPARE(f.reg().connectionCount(), 1);
        QCOMPARE(f.reg().eventLog().lines().size(), lines);
    }

    void removesFirstExactListEntry() {
        RegistryFixture f;
        const int a = f.connect();
        f.reg().onlineServers().add("alpha");
        makeServer(f, a, "Alpha");
        f.reg().onlineServers().add("Alpha");
        f.reg().closeClient(f.slotOf(a));
        QCOMPARE(f.reg().onlineServers().texts(), QStringList({"alpha", "Alpha"}));
    }

    void findServerByNameIgnoresCaseAndTakesLowest() {
        RegistryFixture f;
        const int a = f.connect();
        const int b = f.connect();
        const int c = f.connect();
        makeServer(f, b, "srv");
        makeServer(f, c, "SRV");
        f.reg().slot(f.slotOf(a)).ServerId = "srv"; // not logged in: not a server
        QCOMPARE(f.reg().findServerByName("Srv"), f.slotOf(b));
        QCOMPARE(f.reg().findServerByName("other"), 0);
        QCOMPARE(f.reg().findServerByName(""), 0);
    }

    void socketErrorClosesSilently() {
        RegistryFixture f;
        const int p = f.connect();
        const int lines = f.reg().eventLog().lines().size();
        f.net.raiseError(p);
        QVERIFY(!f.isOpen(p));
        QCOMPARE(f.reg().connectionCount(), 0);
        QCOMPARE(f.reg().eventLog().lines().size(), lines);
    }

    void closeAfterSendWaitsForCompletion() {
        RegistryFixture f;
        const int p = f.connect();
        const int slot = f.slotOf(p);
        f.reg().slot(slot).CloseAfterSend = true;
        f.reg().sendFramed(slot, Framing::message(3));
        QVERIFY(f.isOpen(p));
        f.net.completeSends();
        QVERIFY(!f.isOpen(p));
        QCOMPARE(f.received(p), QByteArray("\x00\x01\x03", 3));
    }

    void silentConnectionClosesAfter29950ms() {
        RegistryFixture f;
        const int p = f.connect();
        f.runFor(29940);
        QVERIFY(f.isOpen(p));
        f.runFor(10);
        QVERIFY(!f.isOpen(p));
        QCOMPARE(f.received(p), QByteArray());
    }

    void dataWithoutLoginClosesThirtySecondsAfterLastData() {
        RegistryFixture f;
        const int p = f.connect();
        f.runFor(20000);
        f.send(p, frame(255));
        f.runFor(29990);
        QVERIFY(f.isOpen(p));
        f.runFor(10);
        QVERIFY(!f.isOpen(p));
    }

    void loggedInSessionIsProbedOnceThenClosed() {
        RegistryFixture f;
        const int p = f.connect();
        makeServer(f, p, "Alpha");
        f.send(p, frame(255)); // activity at t0
        f.runFor(29990);
        QCOMPARE(f.received(p), QByteArray());
        f.runFor(10);
        QCOMPARE(f.received(p), kProbe);
        f.runFor(24990);
        QVERIFY(f.isOpen(p));
        QCOMPARE(f.received(p), QByteArray()); // only once
        f.runFor(10);
        QVERIFY(!f.isOpen(p));
        QCOMPARE(f.reg().eventLog().last(), QString("Alpha has disconnected from 127.0.0.1"));
    }

    void answeredProbeKeepsSession() {
        RegistryFixture f;
        const int p = f.connect();
        f.reg().slot(f.slotOf(p)).Mode = SessionMode::Operator;
        f.send(p, frame(255));
        f.runFor(30000);
        QCOMPARE(f.received(p), kProbe);
        f.runFor(10000);
        f.send(p, frame(255));
        f.runFor(29990);
        QVERIFY(f.isOpen(p));
        QCOMPARE(f.received(p), QByteArray());
        f.runFor(10);
        QCOMPARE(f.received(p), kProbe);
    }

    void supervisionAcrossTickWrap() {
        RegistryFixture f;
        f.clock.set(0xFFFFFFFFu - 10000u);
        const int server = f.connect();
        makeServer(f, server, "Wrap");
        f.send(server, frame(255));
        const int silent = f.connect();
        f.runFor(29940);
        QVERIFY(f.isOpen(silent));
        f.runFor(10);
        QVERIFY(!f.isOpen(silent));
        QVERIFY(f.clock.now() < 100000u); // the counter has wrapped
        f.runFor(50);
        QCOMPARE(f.received(server), kProbe);
        f.runFor(24990);
        QVERIFY(f.isOpen(server));
        f.runFor(10);
        QVERIFY(!f.isOpen(server));
    }

    void vanishedPeerFoundBySupervision() {
        RegistryFixture f;
        const int p = f.connect();
        f.net.peerCloses(p);
        f.reg().superviseSlots();
        QVERIFY(!f.isOpen(p));
        QCOMPARE(f.reg().connectionCount(), 0);
    }

    void eventLogKeepsNewestFifty() {
        RegistryFixture f;
        for (int i = 1; i <= 51; ++i)
            f.reg().logEvent(QString("line %1").arg(i));
        const QStringList lines = f.reg().eventLog().lines();
        QCOMPARE(lines.size(), 50);
        QCOMPARE(lines.first(), QString("line 2"));
        QCOMPARE(lines.last(), QString("line 51"));
    }

    void shutdownClosesEverySlotInOrder() {
        RegistryFixture f(false);
        RecordingFrontEnd fe;
        f.reg().setFrontEnd(&fe);
        f.start();
        QSignalSpy finished(&f.reg(), &Registry::shutdownFinished);
        const int s1 = f.connect("9.9.9.1");
        const int op = f.connect();
        const int s3 = f.connect("9.9.9.3");
        makeServer(f, s1, "One");
        f.reg().slot(f.slotOf(op)).Mode = SessionMode::Operator;
        makeServer(f, s3, "Three");
        fe.calls.clear();
        f.reg().shutdown();
        const QStringList lines = f.reg().eventLog().lines();
        QCOMPARE(lines.mid(lines.size() - 3),
                 QStringList({"One has disconnected from 9.9.9.1", "Operator has disconnected from 127.0.0.1",
                              "Three has disconnected from 9.9.9.3"}));
        // The operator in slot 2 heard of slot 1 only: it was closed before slot 3.
        QCOMPARE(f.received(op), QByteArray("\x00\x04\x06One", 6));
        QCOMPARE(fe.calls.mid(fe.calls.size() - 2), QStringList({"removeTray", "unload"}));
        QCOMPARE(finished.count(), 1);
        QVERIFY(!f.net.listening());
        f.reg().shutdown();
        QCOMPARE(finished.count(), 1);
        f.reg().setFrontEnd(nullptr);
    }

    // The slots of an account, as the account list's Delete button closes them.
    void slotsOfAnAccountIgnoreCaseInSlotOrder() {
        RegistryFixture f;
        const int alpha = registerServer(f, "alpha");
        const int op = connectOperator(f);
        const int beta = registerServer(f, "beta");
        const int shouting = placeServer(f, "ALPHA");
        const SlotTable& t = f.reg().clients();
        QCOMPARE(t.slotsOfAccount("Alpha"), QList<int>({f.slotOf(alpha), f.slotOf(shouting)}));
        QCOMPARE(t.slotsOfAccount("beta"), QList<int>({f.slotOf(beta)}));
        QCOMPARE(t.slotsOfAccount("alph"), QList<int>());
        QCOMPARE(t.slotsOfAccount("alphaa"), QList<int>());
        // An empty name matches every occupied slot that holds no account (here the operator).
        QCOMPARE(t.slotsOfAccount(""), QList<int>({f.slotOf(op)}));
        QCOMPARE(f.reg().findServerByName("ALPHA"), f.slotOf(alpha));
        f.reg().closeClient(f.slotOf(alpha));
        QCOMPARE(t.slotsOfAccount("alpha"), QList<int>({f.slotOf(shouting)}));
        QCOMPARE(f.reg().findServerByName("alpha"), f.slotOf(shouting));
        QVERIFY(f.isOpen(op));
    }
};

QTEST_GUILESS_MAIN(SlotsTest)
#include "tst_slots.moc"
