// Cutting messages out of arriving bytes, and the send operations.
#include "support/registry_fixture.h"

#include "protocol/framing.h"
#include "protocol/message_types.h"

#include <QRandomGenerator>
#include <QtTest>

namespace {
struct Dispatched {
    int slot;
    quint8 type;
    QByteArray payload;
};
QList<Dispatched> g_dispatched;

void record(SessionContext&, int slot, quint8 type, QByteArrayView payload) {
    g_dispatched.append({slot, type, payload.toByteArray()});
}
void recordAndClose(SessionContext& r, int slot, quint8 type, QByteArrayView payload) {
    record(r, slot, type, payload);
    r.closeClient(slot);
}
} // namespace

class FramingTest : public QObject {
    Q_OBJECT

    // A registry whose mode-0 types 7, 8 and 9 are recorded (9 also closes).
    std::unique_ptr<RegistryFixture> makeFixture() {
        auto f = std::make_unique<RegistryFixture>();
        f->reg().dispatcher().install(0, 7, &record);
        f->reg().dispatcher().install(0, 8, &record);
        f->reg().dispatcher().install(0, 9, &recordAndClose);
        g_dispatched.clear();
        return f;
    }

private slots:
    void lengthEncoding() {
        QCOMPARE(Framing::encodeLength(1), QByteArray("\x00\x01", 2));
        QCOMPARE(Framing::encodeLength(258), QByteArray("\x01\x02", 2));
        QCOMPARE(Framing::encodeLength(511), QByteArray("\x01\xff", 2));
        QCOMPARE(Framing::encodeLength(65535), QByteArray("\xff\xff", 2));
        QCOMPARE(Framing::decodeLength(QByteArray("\x01\xff", 2)), 511);
        QCOMPARE(Framing::decodeLength(QByteArray("\xff\xff", 2)), 65535);
        QCOMPARE(Framing::decodeLength(QByteArray("\x00\x00", 2)), 0);
    }

    void frameOfMessage() {
        QCOMPARE(Framing::frame(Framing::message(5)), QByteArray("\x00\x01\x05", 3));
        QCOMPARE(Framing::frame(Framing::message(4, "hi")), QByteArray("\x00\x03\x04hi", 5));
        // Longer than two length bytes can say: cut, never a wrong prefix.
        const QByteArray huge(70000, 'x');
        const QByteArray f = Framing::frame(huge);
        QCOMPARE(f.size(), 2 + 65535);
        QCOMPARE(Framing::decodeLength(f), 65535);
    }

    void fixedFramesAndTheFrameWriter() {
        QCOMPARE(FixedFrame::fullNotice(), QByteArray("\x00\x02\x00\x04", 4));
        QCOMPARE(FixedFrame::probe(), QByteArray("\x00\x02\xff\xff", 4));
        QCOMPARE(FixedFrame::listEnd(), QByteArray("\x00\x02\xff\x04", 4));
        QCOMPARE(FixedFrame::listContinue(21), QByteArray("\x00\x03\xff\x03\x15", 5));

        // Frames written after earlier bytes get their own prefix.
        QByteArray out("ab");
        Framing::FrameWriter(out, 4).append("x").separator().append('y').finish();
        QCOMPARE(out, QByteArray("ab\x00\x04\x04x\x00y", 8));
        Framing::FrameWriter(out, 7).finish();
        QCOMPARE(out.mid(8), QByteArray("\x00\x01\x07", 3));
        // Longer than two length bytes can say: cut, the prefix stays true.
        QByteArray big;
        Framing::FrameWriter(big, 4).append(QByteArray(70000, 'z')).finish();
        QCOMPARE(big.size(), 2 + 65535);
        QCOMPARE(Framing::decodeLength(big), 65535);
        QCOMPARE(big[2], char(4));
        QCOMPARE(Framing::frame(Framing::message(0, "Alpha", "")), QByteArray("\x00\x07\x00"
                                                                                "Alpha\x00",
                                                                                9));
    }

    void splitAtEveryByteDispatchesOnce() {
        const QByteArray bytes = frame(7, QByteArray("abc\0def", 7));
        for (int cut = 1; cut < bytes.size(); ++cut) {
            auto f = makeFixture();
            const int p = f->connect();
            f->send(p, bytes.left(cut));
            QCOMPARE(g_dispatched.size(), 0);
            f->send(p, bytes.mid(cut));
            QCOMPARE(g_dispatched.size(), 1);
            QCOMPARE(g_dispatched[0].type, quint8(7));
            QCOMPARE(g_dispatched[0].payload, QByteArray("abc\0def", 7));
            QCOMPARE(g_dispatched[0].slot, f->slotOf(p));
            QVERIFY(f->reg().slot(f->slotOf(p)).Buffer.isEmpty());
        }
    }

    void byteByByte() {
        auto f = makeFixture();
        const int p = f->connect();
        const QByteArray bytes = frame(7, "one") + frame(8) + frame(7, "three");
        for (char c : bytes)
            f->send(p, QByteArray(1, c));
        QCOMPARE(g_dispatched.size(), 3);
        QCOMPARE(g_dispatched[1].type, quint8(8));
        QCOMPARE(g_dispatched[1].payload, QByteArray());
        QCOMPARE(g_dispatched[2].payload, QByteArray("three"));
    }

    void severalMessagesInOrderThenTail() {
        auto f = makeFixture();
        const int p = f->connect();
        const QByteArray tail = frame(7, "tail");
        f->send(p, frame(7, "a") + frame(8, "b") + frame(7, "c") + tail.left(4));
        QCOMPARE(g_dispatched.size(), 3);
        QCOMPARE(g_dispatched[0].payload, QByteArray("a"));
        QCOMPARE(g_dispatched[1].type, quint8(8));
        QCOMPARE(g_dispatched[2].payload, QByteArray("c"));
        QCOMPARE(f->reg().slot(f->slotOf(p)).Buffer, tail.left(4));
        f->send(p, tail.mid(4));
        QCOMPARE(g_dispatched.size(), 4);
        QCOMPARE(g_dispatched[3].payload, QByteArray("tail"));
    }

    void emptyFrameNeedsThirdByte() {
        auto f = makeFixture();
        const int p = f->connect();
        f->send(p, QByteArray("\x00\x00", 2));
        QCOMPARE(f->reg().slot(f->slotOf(p)).Buffer, QByteArray("\x00\x00", 2));
        f->send(p, QByteArray("\x00", 1));
        // The empty frame is consumed, the third byte waits as a new prefix.
        QCOMPARE(f->reg().slot(f->slotOf(p)).Buffer, QByteArray("\x00", 1));
        QCOMPARE(g_dispatched.size(), 0);
        f->send(p, QByteArray("\x01\x07", 2));
        QCOMPARE(g_dispatched.size(), 1);
        QVERIFY(f->isOpen(p));
    }

    void lengthLimit() {
        auto f = makeFixture();
        const int ok = f->connect();
        QByteArray big;
        big.append(char(0x01)).append(char(0xFF)).append(char(7));
        f->send(ok, big);
        QVERIFY(f->isOpen(ok)); // 511 is allowed and waits
        f->send(ok, QByteArray(509, 'x'));
        QVERIFY(f->isOpen(ok));
        QCOMPARE(g_dispatched.size(), 0);
        f->send(ok, QByteArray(1, 'y'));
        QCOMPARE(g_dispatched.size(), 1);
        QCOMPARE(g_dispatched[0].payload.size(), 510);

        const int bad = f->connect();
        f->send(bad, QByteArray("\x02\x00", 2));
        QVERIFY(f->isOpen(bad)); // only two bytes buffered: the prefix is not read yet
        f->send(bad, QByteArray("\x07", 1));
        QVERIFY(!f->isOpen(bad));
        QCOMPARE(f->received(bad), QByteArray()); // closed silently
    }

    void closedByHandlerStopsTheArrival() {
        auto f = makeFixture();
        const int p = f->connect();
        f->send(p, frame(9, "bye") + frame(7, "after"));
        QCOMPARE(g_dispatched.size(), 1);
        QVERIFY(!f->isOpen(p));
    }

    void keepAliveRules() {
        RegistryFixture f;
        const int quiet = f.connect();
        f.send(quiet, frame(255));
        QVERIFY(f.isOpen(quiet));
        const int chatty = f.connect();
        f.send(chatty, frame(255, "x"));
        QVERIFY(!f.isOpen(chatty));
        QCOMPARE(f.received(chatty), QByteArray());
    }

    void unknownTypeClosesInEveryMode() {
        for (quint8 mode : {quint8(0), quint8(1), quint8(2)}) {
            RegistryFixture f;
            const int p = f.connect();
            f.reg().slot(f.slotOf(p)).Mode = mode;
            f.send(p, frame(200, "x"));
            QVERIFY2(!f.isOpen(p), qPrintable(QString::number(mode)));
        }
    }

    void arrivalRefreshesActivity() {
        RegistryFixture f;
        const int p = f.connect();
        f.clock.advance(20000);
        f.send(p, QByteArray("\x00", 1)); // half a prefix still counts as activity
        QCOMPARE(f.reg().slot(f.slotOf(p)).LastTick, f.clock.now());
    }

    void randomBytesNeverGrowTheBuffer() {
        RegistryFixture f;
        auto* rng = QRandomGenerator::global();
        for (int round = 0; round < 200; ++round) {
            const int p = f.connect();
            for (int n = 0; n < 20 && f.isOpen(p); ++n) {
                QByteArray chunk(int(rng->bounded(1, 700)), Qt::Uninitialized);
                for (char& c : chunk)
                    c = char(rng->bounded(256));
                // Keep lengths small now and then so that frames do complete.
                if (rng->bounded(2))
                    chunk[0] = 0;
                f.send(p, chunk);
                if (f.isOpen(p))
                    QVERIFY(f.reg().slot(f.slotOf(p)).Buffer.size() <= 512);
            }
            f.reg().closeClient(f.slotOf(p));
        }
        QCOMPARE(f.reg().state(), Registry::State::Running);
    }

    void sendRequiresConnectedSocket() {
        RegistryFixture f;
        const int p = f.connect();
        const int slot = f.slotOf(p);
        f.reg().sendFramed(slot, Framing::message(4, "hello"));
        QCOMPARE(f.received(p), QByteArray("\x00\x06\x04hello", 8));
        f.net.peerCloses(p);
        f.reg().sendFramed(slot, Framing::message(4, "again"));
        QCOMPARE(f.received(p), QByteArray());
        QVERIFY(!f.reg().slot(slot).InUse);
        // Sending to a free slot does nothing at all.
        f.reg().sendRaw(slot, "x");
        f.reg().sendRaw(0, "x");
        f.reg().sendRaw(300, "x");
    }

    void sendToOperatorsOnlyReachesOperators() {
        RegistryFixture f;
        const int a = f.connect();
        const int b = f.connect();
        const int c = f.connect();
        f.reg().slot(f.slotOf(a)).Mode = SessionMode::Operator;
        f.reg().slot(f.slotOf(b)).Mode = SessionMode::Server;
        f.reg().slot(f.slotOf(c)).Mode = SessionMode::Operator;
        f.reg().sendToOperators(Framing::message(6, "SRV"));
        QCOMPARE(f.received(a), QByteArray("\x00\x04\x06SRV", 6));
        QCOMPARE(f.received(b), QByteArray());
        QCOMPARE(f.received(c), QByteArray("\x00\x04\x06SRV", 6));
    }

    void peerThatNeverReadsIsClosed() {
        RegistryFixture f;
        f.net.setHoldOutput(true);
        const int p = f.connect();
        const int slot = f.slotOf(p);
        const QByteArray chunk(60000, 'x');
        int sends = 0;
        while (f.reg().slot(slot).InUse && sends < 100) {
            f.reg().sendFramed(slot, chunk);
            ++sends;
        }
        QVERIFY(!f.reg().slot(slot).InUse);
        // Closed as soon as more than 1 MiB waited, not later.
        QCOMPARE(sends, int(Registry::kMaxUnsentOutput / (60000 + 2)) + 1);
    }
};

QTEST_GUILESS_MAIN(FramingTest)
#include "tst_framing.moc"
