// The blocking client and the paged list fetch against a scripted registry.
#include "support/byte_literals.h"
#include "client/blocking_client.h"
#include "client/list_paging.h"
#include "client/messages.h"
#include "client/replies.h"
#include "client/server_list.h"
#include "support/fake_registry.h"

#include <QElapsedTimer>
#include <QTest>

using namespace TavClient;

namespace {


QList<ListedServer> servers(int count) {
    QList<ListedServer> out;
    for (int slot = 1; slot <= count; ++slot) {
        ListedServer s;
        s.slot = slot;
        s.user = "s" + QByteArray::number(slot).rightJustified(2, '0');
        s.address = "10.0.0.1";
        s.name = "n";
        s.description = "desc-of-10";
        s.official = slot == 22;
        out.append(s);
    }
    return out;
}

// Answers list queries as the registry would over `list`.
FakeRegistry::Handler listing(QList<ListedServer> list) {
    return [list](int, const Frame& f) -> FakeRegistry::Answer {
        if (f.type != 3 || f.payload.size() != 1)
            return {{}, true};
        const QByteArray reply = buildListReply(list, quint8(f.payload[0]));
        return {reply, reply.isEmpty()};
    };
}

} // namespace

class TestClientBlocking : public QObject {
    Q_OBJECT
private slots:
    void pagesLikeAGameClient() {
        FakeRegistry fake(listing(servers(25)));
        const ServerListResult r = fetchServerList(QStringLiteral("127.0.0.1"), fake.port(), 2000);
        QVERIFY2(r.ok, qPrintable(r.errorText));
        QCOMPARE(r.pages, 2);
        QCOMPARE(fake.receivedBytes(), bytes({0, 2, 3, 1, 0, 2, 3, 21}));
        QCOMPARE(fake.connections(), 1);
        QCOMPARE(r.entries.size(), 25);
        QCOMPARE(r.entries.at(0).user, QByteArray("s01"));
        QCOMPARE(r.entries.at(19).user, QByteArray("s20"));
        QCOMPARE(r.entries.at(20).user, QByteArray("s22")); // the official one leads its page
        QCOMPARE(r.entries.at(21).user, QByteArray("s21"));
        QVERIFY(r.entries.at(20).official());
    }

    void emptyRegistryClosesWithoutReply() {
        FakeRegistry fake(listing({}));
        const ServerListResult r = fetchServerList(QStringLiteral("127.0.0.1"), fake.port(), 2000);
        QVERIFY2(r.ok, qPrintable(r.errorText));
        QCOMPARE(r.entries.size(), 0);
        QCOMPARE(r.pages, 0);
    }

    void closedInTheMiddleOfAPage() {
        const QByteArray entry = buildFrame(4, Replies::listEntryPayload("a", "1.2.3.4", 1, "A", false, "", ""));
        FakeRegistry fake([entry](int, const Frame&) { return FakeRegistry::Answer{entry + bytes({0, 9, 4}), true}; });
        const ServerListResult r = fetchServerList(QStringLiteral("127.0.0.1"), fake.port(), 2000);
        QVERIFY(!r.ok);
        QCOMPARE(r.error, BlockingClient::Error::Truncated); // a protocol failure, not a clean close
        QVERIFY2(r.errorText.contains(QLatin1String("middle of a message")), qPrintable(r.errorText));
    }

    void probeIsAnsweredDuringTheList() {
        const QByteArray entry = buildFrame(4, Replies::listEntryPayload("a", "1.2.3.4", 1, "A", false, "", ""));
        FakeRegistry fake([entry](int, const Frame& f) -> FakeRegistry::Answer {
            if (f.type == 3)
                return {Replies::probeFrame() + entry + Replies::endMarkerFrame(), false};
            return {};
        });
        BlockingClient client(2000);
        QVERIFY(client.connectTo(QStringLiteral("127.0.0.1"), fake.port()));
        const ServerListResult r = fetchServerList(client);
        QVERIFY2(r.ok, qPrintable(r.errorText));
        QCOMPARE(r.entries.size(), 1);
        QTRY_COMPARE(fake.receivedBytes(), bytes({0, 2, 3, 1, 0, 1, 255}));
    }

    void unexpectedOrStuckReplies() {
        {
            FakeRegistry fake([](int, const Frame&) { return FakeRegistry::Answer{bytes({0, 1, 5}), false}; });
            const ServerListResult r = fetchServerList(QStringLiteral("127.0.0.1"), fake.port(), 2000);
            QVERIFY(!r.ok);
            QVERIFY2(r.errorText.contains(QLatin1String("type 5")), qPrintable(r.errorText));
        }
        {
            // A continue marker that does not move forward would loop for ever.
            const QByteArray entry = buildFrame(4, Replies::listEntryPayload("a", "1.2.3.4", 1, "A", false, "", ""));
            FakeRegistry fake([entry](int, const Frame&) {
                return FakeRegistry::Answer{entry + Replies::continueMarkerFrame(1), false};
            });
            const ServerListResult r = fetchServerList(QStringLiteral("127.0.0.1"), fake.port(), 2000);
            QVERIFY(!r.ok);
            QCOMPARE(fake.received().size(), 1);
        }
    }

    void timeOuts() {
        FakeRegistry fake([](int, const Frame&) { return FakeRegistry::Answer{}; });
        BlockingClient client(300);
        QVERIFY(client.connectTo(QStringLiteral("127.0.0.1"), fake.port()));
        QVERIFY(client.send(Messages::listQuery(1)));
        QElapsedTimer timer;
        timer.start();
        QVERIFY(!client.readFrame());
        QCOMPARE(client.error(), BlockingClient::Error::Timeout);
        QVERIFY(timer.elapsed() >= 250);
        QVERIFY(!client.readFrame(100));
        QCOMPARE(client.error(), BlockingClient::Error::Timeout);
    }

    void connectFailure() {
        quint16 port;
        {
            FakeRegistry fake([](int, const Frame&) { return FakeRegistry::Answer{}; });
            port = fake.port();
        }
        BlockingClient client(2000);
        QVERIFY(!client.connectTo(QStringLiteral("127.0.0.1"), port));
        QCOMPARE(client.error(), BlockingClient::Error::ConnectFailed);
        const ServerListResult r = fetchServerList(QStringLiteral("127.0.0.1"), port, 2000);
        QVERIFY(!r.ok);
        QCOMPARE(r.error, BlockingClient::Error::ConnectFailed);
    }

    void framesSplitAcrossArrivals() {
        // The greeting arrives before any question; the client must keep reading
        // until a whole frame is in, and give the frames one by one.
        const QByteArray login = bytes({0, 7, 0}) + "Alpha" + bytes({0});
        FakeRegistry fake([login](int, const Frame&) { return FakeRegistry::Answer{login.mid(3), false}; },
                          login.left(3));
        BlockingClient client(2000);
        QVERIFY(client.connectTo(QStringLiteral("127.0.0.1"), fake.port()));
        QVERIFY(!client.readFrame(200));
        QCOMPARE(client.error(), BlockingClient::Error::Timeout);
        QVERIFY(client.send(Messages::login("alpha", "pass")));
        const std::optional<Frame> f = client.readFrame();
        QVERIFY(f);
        const Replies::LoginReply reply = Replies::parseLoginReply(*f);
        QCOMPARE(reply.result, Replies::LoginResult::Accepted);
        QCOMPARE(reply.serverName, QByteArray("Alpha"));
    }
};

QTEST_GUILESS_MAIN(TestClientBlocking)
#include "tst_client_blocking.moc"
