// The incremental reader must give the same frames however the stream is cut.
#include "support/byte_literals.h"
#include "client/frame_codec.h"

#include <QTest>

using namespace TavClient;

namespace {


// Frames: a login, an empty-payload keep-alive, a length-0 frame (skipped),
// and a 511-byte message at the limit.
QByteArray stream() {
    QByteArray s = buildFrame(1, QByteArray("alpha") + bytes({0}) + "pass");
    s += buildFrame(255);
    s += bytes({0, 0});
    s += buildFrame(7, QByteArray(510, 'x'));
    return s;
}

const QList<Frame> kExpected = {
    {1, QByteArray("alpha") + QByteArray(1, '\0') + "pass"},
    {255, {}},
    {7, QByteArray(510, 'x')},
};

QList<Frame> drain(FrameReader& reader) {
    QList<Frame> out;
    Frame f;
    while (reader.next(&f) == FrameReader::Status::Ready)
        out.append(f);
    return out;
}

} // namespace

class TestClientFrameReader : public QObject {
    Q_OBJECT
private slots:
    void everySplitPoint() {
        const QByteArray s = stream();
        for (int cut = 0; cut <= s.size(); ++cut) {
            FrameReader reader;
            reader.feed(s.left(cut));
            QList<Frame> got = drain(reader);
            reader.feed(s.mid(cut));
            got += drain(reader);
            QCOMPARE(got, kExpected);
            QCOMPARE(reader.buffered(), 0);
        }
    }

    void byteByByte() {
        const QByteArray s = stream();
        FrameReader reader;
        QList<Frame> got;
        QList<int> readyAt;
        for (int i = 0; i < s.size(); ++i) {
            reader.feed(s.mid(i, 1));
            const QList<Frame> now = drain(reader);
            for (int k = 0; k < now.size(); ++k)
                readyAt.append(i);
            got += now;
        }
        QCOMPARE(got, kExpected);
        // Each frame is given when its last byte arrives, not before.
        QCOMPARE(readyAt, (QList<int>{12, 15, int(s.size()) - 1}));
    }

    void incompleteTailIsKept() {
        FrameReader reader;
        reader.feed(buildFrame(3, bytes({1})) + bytes({0, 5, 4, 'a'}));
        QCOMPARE(drain(reader), (QList<Frame>{{3, bytes({1})}}));
        QCOMPARE(reader.buffered(), 4);
        reader.feed("bcd");
        QCOMPARE(drain(reader), (QList<Frame>{{4, "abcd"}}));
        QCOMPARE(reader.buffered(), 0);
    }

    void limit() {
        // 511 is accepted and waits for its bytes.
        FrameReader atLimit;
        atLimit.feed(bytes({1, 255, 9}));
        Frame f;
        QCOMPARE(atLimit.next(&f), FrameReader::Status::NeedMore);
        QVERIFY(!atLimit.failed());

        // 512 fails as soon as the prefix is there, and stays failed.
        FrameReader over;
        over.feed(bytes({2}));
        QCOMPARE(over.next(&f), FrameReader::Status::NeedMore);
        over.feed(bytes({0}));
        QCOMPARE(over.next(&f), FrameReader::Status::TooLong);
        over.feed(buildFrame(255));
        QCOMPARE(over.next(&f), FrameReader::Status::TooLong);
        QVERIFY(over.failed());
        over.reset();
        over.feed(buildFrame(255));
        QCOMPARE(over.next(&f), FrameReader::Status::Ready);

        // A reader of registry replies takes long list frames.
        FrameReader replies(kMaxReplyLength);
        replies.feed(buildFrame(4, QByteArray(2000, 'y')));
        QCOMPARE(replies.next(&f), FrameReader::Status::Ready);
        QCOMPARE(f.payload.size(), 2000);
    }

    void manySmallFramesInOneArrival() {
        QByteArray s;
        for (int i = 0; i < 3000; ++i)
            s += buildFrame(7, QByteArray(1, char(i & 0xFF)));
        s += bytes({0});
        FrameReader reader;
        reader.feed(s);
        const QList<Frame> got = drain(reader);
        QCOMPARE(got.size(), 3000);
        QCOMPARE(got.at(2999).payload, QByteArray(1, char(2999 & 0xFF)));
        QCOMPARE(reader.buffered(), 1);
    }
};

QTEST_GUILESS_MAIN(TestClientFrameReader)
#include "tst_client_frame_reader.moc"
