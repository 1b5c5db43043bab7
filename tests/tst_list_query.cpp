// Game clients' list of online servers: entries, order, paging.
#include "support/session_helpers.h"

#include "protocol/list_query.h"

#include <QtTest>

namespace {
QByteArray query(int start) { return frame(3, QByteArray(1, char(start))); }
const QByteArray kEnd("\x00\x02\xff\x04", 4);

// The user names of the entries of a reply, in order, and its closing frame.
QList<QByteArray> entryNames(const QByteArray& reply, QByteArray* closing) {
    QList<QByteArray> names;
    int pos = 0;
    while (pos + 2 <= reply.size()) {
        const int len = (uchar(reply[pos]) << 8) | uchar(reply[pos + 1]);
        const QByteArray msg = reply.mid(pos + 2, len);
        pos += 2 + len;
        if (uchar(msg[0]) == 255) {
            *closing = reply.mid(pos - 2 - len, 2 + len);
            break;
        }
        names.append(msg.mid(1).split('\0').first());
    }
    return names;
}
} // namespace

class ListQueryTest : public QObject {
    Q_OBJECT
private slots:
    void entryBytes() {
        RegistryFixture f;
        placeServer(f, "alpha", 1, 12, "Alpha", "Fun", "10.0.0.5", "");
        const int c = f.connect("10.9.9.9");
        f.send(c, query(1));
        QByteArray expected("\x00\x30\x04", 3);
        expected += fields(fields(fields(fields("alpha", "10.0.0.5"), "[12] Alpha"), "Official Server: Fun"), "");
        expected += kEnd;
        QCOMPARE(f.received(c), expected);
        QCOMPARE(expected.at(1), char(48));
        QCOMPARE(f.reg().eventLog().last(), QString("Server information sent to 10.9.9.9"));
        QVERIFY(f.isOpen(c)); // stays in mode 0 for the next query
        QCOMPARE(f.reg().slot(f.slotOf(c)).Mode, SessionMode::Connected);
    }

    void unofficialEntryAndUpdateUrl() {
        RegistryFixture f;
        placeServer(f, "beta", 0, 0, "", "", "1.2.3.4", "http://x/");
        const int c = f.connect();
        f.send(c, query(1));
        const QByteArray reply = f.received(c);
        QVERIFY(reply.contains(fields(fields("[0] ", "Unofficial Server: "), "http://x/")));
    }

    void officialFirstHighestSlotFirst() {
        RegistryFixture f;
        f.connect(); // slot 1: a plain connection, not listed
        placeServer(f, "s2", 0);
        placeServer(f, "s3", 1);
        f.connect(); // slot 4
        placeServer(f, "s5", 0);
        f.connect(); // slot 6
        placeServer(f, "s7", 2); // any non-zero value is official
        const int c = f.connect();
        f.send(c, query(1));
        QByteArray closing;
        QCOMPARE(entryNames(f.received(c), &closing), QList<QByteArray>({"s7", "s3", "s2", "s5"}));
        QCOMPARE(closing, kEnd);

        f.send(c, query(4));
        QCOMPARE(entryNames(f.received(c), &closing), QList<QByteArray>({"s7", "s5"}));
    }

    void pagingAtTheLimit() {
        RegistryFixture f;
        // Entries of exactly 52 bytes: 20 of them make 1040 >= 1024.
        for (int i = 1; i <= 25; ++i) {
            const QByteArray user = QByteArray("srv") + QByteArray::number(i).rightJustified(2, '0');
            placeServer(f, user, 0, 0, "N", QByteArray(8, 'd'), "10.0.0.1", "");
        }
        QByteArray one;
        ListQuery::appendEntry(one, f.reg().slot(1));
        QCOMPARE(one.size(), 52);

        const int c = f.connect();
        f.send(c, query(1));
        QByteArray closing;
        QList<QByteArray> names = entryNames(f.received(c), &closing);
        QCOMPARE(names.size(), 20);
        QCOMPARE(closing, QByteArray("\x00\x03\xff\x03\x15", 5)); // continue from 21
        f.send(c, query(21));
        names = entryNames(f.received(c), &closing);
        QCOMPARE(names, QList<QByteArray>({"srv21", "srv22", "srv23", "srv24", "srv25"}));
        QCOMPARE(closing, kEnd);
    }

    void lastPageEndsEvenWhenLarge() {
        RegistryFixture f;
        // Twenty entries of 52 bytes: the last one crosses the limit, and the
        // page still ends the list because no server follows.
        for (int i = 1; i <= 20; ++i)
            placeServer(f, "srv" + QByteArray::number(i).rightJustified(2, '0'), 0, 0, "N", QByteArray(8, 'd'));
        const int c = f.connect();
        f.send(c, query(1));
        QByteArray closing;
        QCOMPARE(entryNames(f.received(c), &closing).size(), 20);
        QCOMPARE(closing, kEnd);
    }

    void refusalsAndIgnoredQueries() {
        RegistryFixture f;
        const int empty = f.connect();
        f.send(empty, query(1));
        QVERIFY(!f.isOpen(empty)); // nothing online: closed without reply
        QCOMPARE(f.received(empty), QByteArray());

        placeServer(f, "s2");
        const int zero = f.connect();
        f.send(zero, query(0));
        QVERIFY(f.isOpen(zero));
        QCOMPARE(f.received(zero), QByteArray());

        const int two = f.connect();
        f.send(two, frame(3, QByteArray("\x01\x01", 2)));
        QVERIFY(!f.isOpen(two));
        const int none = f.connect();
        f.send(none, frame(3));
        QVERIFY(!f.isOpen(none));

        const int beyond = f.connect();
        f.send(beyond, query(200));
        QVERIFY(!f.isOpen(beyond));
        QCOMPARE(f.received(beyond), QByteArray());
    }

    void operatorCannotQuery() {
        RegistryFixture f;
        placeServer(f, "s1");
        const int op = connectOperator(f);
        f.send(op, query(1));
        QVERIFY(!f.isOpen(op));
        QCOMPARE(f.received(op), QByteArray());
    }
};

QTEST_GUILESS_MAIN(ListQueryTest)
#include "tst_list_query.moc"
