// The epoll socket layer on real loopback connections.
#include "platform/epoll_socket_layer.h"

#include <QSignalSpy>
#include <QTcpServer>
#include <QTcpSocket>
#include <QtTest>

#include <sys/resource.h>

namespace {
struct Layer {
    EpollSocketLayer layer;
    QSignalSpy requests{&layer, &SocketLayer::connectionRequest};
    QSignalSpy arrivals{&layer, &SocketLayer::dataArrival};
    QSignalSpy completions{&layer, &SocketLayer::sendComplete};
    QSignalSpy errors{&layer, &SocketLayer::error};
    bool listening = false;
    Layer() {
        QString error;
        listening = layer.listen(QHostAddress::LocalHost, 0, &error);
    }
};

// Connects a client and takes it into `index`.
std::unique_ptr<QTcpSocket> connectInto(Layer& l, int index) {
    auto client = std::make_unique<QTcpSocket>();
    client->connectToHost(QHostAddress::LocalHost, l.layer.localPort());
    if (!client->waitForConnected(3000))
        return nullptr;
    QElapsedTimer t;
    t.start();
    while (!l.layer.hasPendingConnection() && t.elapsed() < 3000)
        QCoreApplication::processEvents(QEventLoop::AllEvents, 10);
    if (!l.layer.acceptInto(index))
        return nullptr;
    return client;
}
// The width of this process's descriptor table ("FDSize" of /proc/self/status).
int descriptorTableWidth() {
    QFile status(QStringLiteral("/proc/self/status"));
    if (!status.open(QIODevice::ReadOnly))
        return -1;
    for (const QByteArray& line : status.readAll().split('\n'))
        if (line.startsWith("FDSize:"))
            return line.mid(7).trimmed().toInt();
    return -1;
}
} // namespace

class EpollSocketLayerTest : public QObject {
    Q_OBJECT
private slots:
    // Widening the table later waits for the kernel (an RCU grace period in
    // a process with threads) while callers queue: done before the first.
    void theDescriptorTableIsWideBeforeTheFirstCaller() {
        rlimit limit{};
        QCOMPARE(getrlimit(RLIMIT_NOFILE, &limit), 0);
        const int expected = int(qMin<rlim_t>(EpollSocketLayer::kDescriptorRoom, limit.rlim_cur));
        QVERIFY(descriptorTableWidth() < expected);
        Layer l;
        QVERIFY(l.listening);
        QVERIFY(descriptorTableWidth() >= expected);
        auto client = connectInto(l, 1);
        QVERIFY(client);
    }

    void pausedReadingLeavesBytesInTheKernel() {
        Layer l;
        auto client = connectInto(l, 4);
        QVERIFY(client);
        l.layer.setReadPaused(4, true);
        client->write("abc");
        client->flush();
        QTest::qWait(100);
        QCOMPARE(l.arrivals.count(), 0);
        l.layer.setReadPaused(4, false);
        QCOMPARE(l.arrivals.count(), 0); // announced from the loop, not from inside the call
        QTRY_COMPARE(l.arrivals.count(), 1);
        QCOMPARE(l.layer.takeData(4), QByteArray("abc"));
        // A hang-up while paused is still reported.
        l.layer.setReadPaused(4, true);
        client->abort();
        QTRY_COMPARE(l.errors.count(), 1);
        QCOMPARE(l.errors.at(0).at(0).toInt(), 4);
        QVERIFY(!l.layer.isConnected(4));
    }

    void theKernelsQueueOfAPeerThatDoesNotRead() {
        Layer l;
        auto client = connectInto(l, 5);
        QVERIFY(client);
        QCOMPARE(l.layer.kernelUnsentBytes(5), 0);
        client->setReadBufferSize(1); // the client stops reading
        const QByteArray chunk(64 * 1024, 'x');
        for (int i = 0; i < 200 && l.layer.unsentBytes(5) == 0; ++i)
            l.layer.send(5, chunk);
        QTest::qWait(50);
        // The kernel holds what the peer's window does not take.
        QVERIFY(l.layer.kernelUnsentBytes(5) > 0);
        QCOMPARE(l.layer.kernelUnsentBytes(99), 0);
    }

    // unsentOver answers as the exact sum of both queues would, asking the
    // kernel only when what was written since it last asked could pass the limit.
    void unsentOverAgreesWithTheQueues() {
        Layer l;
        auto client = connectInto(l, 6);
        QVERIFY(client);
        QVERIFY(!l.layer.unsentOver(6, 0));
        QVERIFY(!l.layer.unsentOver(99, 0));
        client->setReadBufferSize(1); // the client stops reading
        const QByteArray chunk(64 * 1024, 'y');
        for (int i = 0; i < 200 && l.layer.unsentBytes(6) == 0; ++i)
            l.layer.send(6, chunk);
        QTest::qWait(50);
        const qint64 total = l.layer.unsentBytes(6) + l.layer.kernelUnsentBytes(6);
        QVERIFY(total > chunk.size());
        QVERIFY(l.layer.unsentOver(6, total - 1));
        QVERIFY(!l.layer.unsentOver(6, total));
        QVERIFY(l.layer.unsentOver(6, 0));
        // Once the peer has read everything, the kernel is asked and says so.
        client->setReadBufferSize(0);
        QElapsedTimer t;
        t.start();
        while (l.layer.unsentOver(6, 0) && t.elapsed() < 5000) {
            client->readAll();
            QCoreApplication::processEvents(QEventLoop::AllEvents, 10);
        }
        QVERIFY(!l.layer.unsentOver(6, 0));
        QCOMPARE(l.layer.unsentBytes(6) + l.layer.kernelUnsentBytes(6), qint64(0));
    }

    void acceptReadWriteClose() {
        Layer l;
        QVERIFY(l.listening);
        QVERIFY(l.layer.localPort() != 0);
        auto client = connectInto(l, 3);
        QVERIFY(client);
        QVERIFY(l.requests.count() >= 1);
        QCOMPARE(l.layer.remoteAddress(3), QByteArray("127.0.0.1"));
        QVERIFY(l.layer.isConnected(3));
        QCOMPARE(l.layer.openCount(), 1);

        client->write("\x00\x01\x05", 3);
        client->flush();
        QTRY_COMPARE(l.arrivals.count(), 1);
        QCOMPARE(l.arrivals.at(0).at(0).toInt(), 3);
        QCOMPARE(l.layer.takeData(3), QByteArray("\x00\x01\x05", 3));
        QCOMPARE(l.layer.takeData(3), QByteArray());

        l.layer.send(3, "hello");
        QCOMPARE(l.completions.count(), 0); // never from inside send()
        QTRY_COMPARE(l.completions.count(), 1);
        QTRY_COMPARE(client->bytesAvailable(), qint64(5));
        QCOMPARE(client->readAll(), QByteArray("hello"));

        l.layer.close(3);
        QCOMPARE(l.layer.openCount(), 0);
        QVERIFY(!l.layer.isConnected(3));
        QTRY_COMPARE(client->state(), QAbstractSocket::UnconnectedState);
    }

    // Callers from across the loopback range, on an IPv4 listener and on a
    // dual-stack one (where IPv4 callers arrive as mapped IPv6 addresses):
    // every octet width, zeros, and an IPv6 caller in its own form.
    void remoteAddressesAreWrittenAsTheyCame() {
        const QList<QByteArray> from = {"127.0.0.1", "127.10.200.3", "127.255.99.100", "127.1.0.255"};
        for (const QHostAddress& listenOn : {QHostAddress(QHostAddress::LocalHost), QHostAddress(QHostAddress::Any)}) {
            EpollSocketLayer layer;
            QString error;
            QVERIFY2(layer.listen(listenOn, 0, &error), qPrintable(error));
            for (int k = 0; k < from.size(); ++k) {
                QTcpSocket client;
                QVERIFY(client.bind(QHostAddress(QString::fromLatin1(from[k])), 0));
                client.connectToHost(QHostAddress::LocalHost, layer.localPort());
                QVERIFY(client.waitForConnected(3000));
                QTRY_VERIFY(layer.hasPendingConnection());
                QCOMPARE(layer.pendingAddress(), from[k]);
                QVERIFY(layer.acceptInto(k + 1));
                QCOMPARE(layer.remoteAddress(k + 1), from[k]);
            }
            if (listenOn == QHostAddress::Any) {
                QTcpSocket client;
                client.connectToHost(QHostAddress::LocalHostIPv6, layer.localPort());
                if (client.waitForConnected(3000)) { // a machine without IPv6 has no ::1
                    QTRY_VERIFY(layer.hasPendingConnection());
                    QCOMPARE(layer.pendingAddress(), QByteArray("::1"));
                }
            }
        }
    }

    // Unwatched sends raise no completion; one send() that asks, before or
    // after them, is completed once everything before it has left, and the
    // peer gets every byte in order either way.
    void unwatchedSendsRaiseNoCompletion() {
        Layer l;
        auto client = connectInto(l, 5);
        QVERIFY(client);
        l.layer.sendUnwatched(5, "one ");
        l.layer.sendUnwatched(5, "two ");
        QTRY_COMPARE(client->bytesAvailable(), qint64(8));
        QTest::qWait(50);
        QCOMPARE(l.completions.count(), 0);
        l.layer.send(5, "three ");
        QTRY_COMPARE(l.completions.count(), 1);
        QCOMPARE(l.completions.at(0).at(0).toInt(), 5);
        // Asked for once, completions keep coming for that connection.
        l.layer.sendUnwatched(5, "four");
        QTRY_COMPARE(l.completions.count(), 2);
        QTRY_COMPARE(client->bytesAvailable(), qint64(18));
        QCOMPARE(client->readAll(), QByteArray("one two three four"));

        // A watched send queued behind an unwatched one the kernel would not
        // take completes when the queue drains.
        auto slow = connectInto(l, 6);
        QVERIFY(slow);
        slow->setReadBufferSize(1);
        const QByteArray chunk(1 << 20, 'y');
        for (int i = 0; i < 8; ++i)
            l.layer.sendUnwatched(6, chunk);
        QVERIFY(l.layer.unsentBytes(6) > 0);
        l.layer.send(6, "end");
        QCoreApplication::processEvents();
        QCOMPARE(l.completions.count(), 2);
        slow->setReadBufferSize(0);
        qint64 received = 0;
        QByteArray tail;
        QElapsedTimer t;
        t.start();
        while (received < 8 * chunk.size() + 3 && t.elapsed() < 10000) {
            slow->waitForReadyRead(20);
            const QByteArray got = slow->readAll();
            received += got.size();
            tail = (tail + got).right(3);
            QCoreApplication::processEvents();
        }
        QCOMPARE(received, qint64(8) * chunk.size() + 3);
        QCOMPARE(tail, QByteArray("end"));
        QTRY_COMPARE(l.completions.count(), 3);
        QCOMPARE(l.completions.at(2).at(0).toInt(), 6);

        // A new connection in the index starts unwatched again.
        l.layer.close(5);
        auto again = connectInto(l, 5);
        QVERIFY(again);
        l.layer.sendUnwatched(5, "x");
        QTRY_COMPARE(again->bytesAvailable(), qint64(1));
        QTest::qWait(50);
        QCOMPARE(l.completions.count(), 3);
    }

    void peerLeavingRaisesError() {
        Layer l;
        auto client = connectInto(l, 7);
        QVERIFY(client);
        client->write("abc");
        client->flush();
        client->disconnectFromHost();
        QTRY_COMPARE(l.errors.count(), 1);
        QCOMPARE(l.errors.at(0).at(0).toInt(), 7);
        // What arrived before the end is still delivered first.
        QCOMPARE(l.arrivals.count(), 1);
        QCOMPARE(l.layer.takeData(7), QByteArray("abc"));
        QVERIFY(!l.layer.isConnected(7));
        // Left open by its owner, the ended connection is reported once,
        // not at every pass.
        QTest::qWait(100);
        QCOMPARE(l.errors.count(), 1);
        l.layer.close(7);
    }

    // An owner that closes the connection when told of its end (as the
    // registry does) and takes a new caller into the index at once: the new
    // connection, which may get the same descriptor number, stays watched.
    void closedAtTheErrorAndTakenAgain() {
        Layer l;
        auto first = connectInto(l, 8);
        QVERIFY(first);
        auto waiting = std::make_unique<QTcpSocket>();
        waiting->connectToHost(QHostAddress::LocalHost, l.layer.localPort());
        QVERIFY(waiting->waitForConnected(3000));
        QTRY_VERIFY(l.layer.hasPendingConnection());
        QObject::connect(&l.layer, &SocketLayer::error, &l.layer, [&l](int index) {
            l.layer.close(index);
            l.layer.acceptInto(index);
        });
        first->disconnectFromHost();
        QTRY_COMPARE(l.errors.count(), 1);
        QCOMPARE(l.layer.openCount(), 1);
        QVERIFY(l.layer.isConnected(8));
        waiting->write("new");
        waiting->flush();
        QTRY_COMPARE(l.arrivals.count(), 1);
        QCOMPARE(l.layer.takeData(8), QByteArray("new"));
        QTest::qWait(50);
        QCOMPARE(l.errors.count(), 1);
        // Its own end is still heard.
        waiting->disconnectFromHost();
        QTRY_COMPARE(l.errors.count(), 2);
    }

    void refusedCallerGetsNoticeAndEnd() {
        Layer l;
        QTcpSocket client;
        client.connectToHost(QHostAddress::LocalHost, l.layer.localPort());
        QVERIFY(client.waitForConnected(3000));
        QTRY_VERIFY(l.layer.hasPendingConnection());
        l.layer.refuse(QByteArray("\x00\x02\x00\x04", 4));
        QVERIFY(!l.layer.hasPendingConnection());
        QTRY_COMPARE(client.state(), QAbstractSocket::UnconnectedState);
        QCOMPARE(client.readAll(), QByteArray("\x00\x02\x00\x04", 4));
        QCOMPARE(l.layer.openCount(), 0);
    }

    void slowReaderHoldsOutputUntilDrained() {
        Layer l;
        auto client = connectInto(l, 1);
        QVERIFY(client);
        client->setReadBufferSize(1); // the client reads nothing for now
        const QByteArray chunk(1 << 20, 'x');
        for (int i = 0; i < 16; ++i)
            l.layer.send(1, chunk);
        QVERIFY(l.layer.unsentBytes(1) > 0);
        QCoreApplication::processEvents();
        QCOMPARE(l.completions.count(), 0);
        client->setReadBufferSize(0);
        qint64 received = 0;
        QElapsedTimer t;
        t.start();
        while (received < 16 * chunk.size() && t.elapsed() < 10000) {
            client->waitForReadyRead(20);
            received += client->readAll().size();
            QCoreApplication::processEvents();
        }
        QCOMPARE(received, qint64(16) * chunk.size());
        QTRY_COMPARE(l.layer.unsentBytes(1), qint64(0));
        QTRY_VERIFY(l.completions.count() >= 1);
    }

    void listenFailureIsReported() {
        QTcpServer blocker;
        QVERIFY(blocker.listen(QHostAddress::LocalHost, 0));
        EpollSocketLayer layer;
        QString error;
        QVERIFY(!layer.listen(QHostAddress::LocalHost, blocker.serverPort(), &error));
        QVERIFY(error.startsWith("bind"));
    }

    void reusedIndexIgnoresOldEvents() {
        Layer l;
        auto first = connectInto(l, 2);
        QVERIFY(first);
        l.layer.send(2, "x");
        l.layer.close(2); // closed before its completion was delivered
        auto second = connectInto(l, 2);
        QVERIFY(second);
        QCoreApplication::processEvents();
        QCoreApplication::processEvents();
        QCOMPARE(l.completions.count(), 0);
        QVERIFY(l.layer.isConnected(2));
    }
};

QTEST_GUILESS_MAIN(EpollSocketLayerTest)
#include "tst_epoll_socket_layer.moc"
