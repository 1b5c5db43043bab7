// The peer side of the byte layout: every message a peer sends, every reply it
// reads, and the paging a list reply follows.
#include "support/byte_literals.h"
#include "client/frame_codec.h"
#include "client/list_paging.h"
#include "client/messages.h"
#include "client/replies.h"
#include "client/wire_text.h"

#include <QTest>

using namespace TavClient;

namespace {


Frame frameOf(const QByteArray& wire) {
    FrameReader reader(kMaxReplyLength);
    reader.feed(wire);
    Frame f;
    if (reader.next(&f) != FrameReader::Status::Ready || reader.buffered() != 0)
        return Frame{0xEE, "not exactly one frame"};
    return f;
}

ListedServer server(int slot, bool official, QByteArray description = "desc-of-10") {
    ListedServer s;
    s.slot = slot;
    s.user = QByteArray("s") + QByteArray::number(slot).rightJustified(2, '0');
    s.address = "10.0.0.1";
    s.players = 0;
    s.name = "n";
    s.official = official;
    s.description = description;
    return s;
}

QList<QByteArray> usersIn(const QByteArray& reply, QByteArray* marker) {
    FrameReader reader(kMaxReplyLength);
    reader.feed(reply);
    QList<QByteArray> users;
    Frame f;
    while (reader.next(&f) == FrameReader::Status::Ready) {
        if (f.type == 4)
            users.append(Replies::parseListEntry(f.payload)->user);
        else
            *marker = buildFrame(f.type, f.payload);
    }
    return users;
}

} // namespace

class TestClientFraming : public QObject {
    Q_OBJECT
private slots:
    void lengthPrefix() {
        QCOMPARE(encodeLength(1), bytes({0, 1}));
        QCOMPARE(encodeLength(258), bytes({1, 2}));
        QCOMPARE(encodeLength(511), bytes({1, 255}));
        QCOMPARE(encodeLength(65535), bytes({255, 255}));
        QCOMPARE(decodeLength(bytes({1, 255})), 511);
        QCOMPARE(decodeLength(bytes({255, 255})), 65535);
        QCOMPARE(buildFrame(3, bytes({1})), bytes({0, 2, 3, 1}));
    }

    void sessionMessages() {
        QCOMPARE(Messages::login("alpha", "pass"), bytes({0, 11, 1}) + "alpha" + bytes({0}) + "pass");
        QCOMPARE(Messages::registerServer("alpha", "pw"), bytes({0, 9, 0}) + "alpha" + bytes({0}) + "pw");
        QCOMPARE(Messages::operatorLogin("QWZRTPLKMX", "ZKRTQWPMNBVCXLKJHGFD"),
                 bytes({0, 32, 2}) + "QWZRTPLKMX" + bytes({0}) + "ZKRTQWPMNBVCXLKJHGFD");
        QCOMPARE(Messages::listQuery(1), bytes({0, 2, 3, 1}));
        QCOMPARE(Messages::listQuery(255), bytes({0, 2, 3, 255}));
        QCOMPARE(Messages::keepAlive(), bytes({0, 1, 255}));
        QCOMPARE(Messages::nameDescription("Alpha", "Fun"), bytes({0, 10, 5}) + "Alpha" + bytes({0}) + "Fun");
        QCOMPARE(Messages::nameDescription("", ""), bytes({0, 2, 5, 0}));
        QCOMPARE(Messages::passwordChange("abc"), bytes({0, 4, 6}) + "abc");
        QCOMPARE(Messages::playerCount(0), bytes({0, 2, 7, 0}));
        QCOMPARE(Messages::playerCount(200), bytes({0, 2, 7, 200}));
    }

    void operatorCommands() {
        QCOMPARE(Messages::disconnectServer("srv"), bytes({0, 4, 5}) + "srv");
        QCOMPARE(Messages::messageServer("srv", "hello"), bytes({0, 10, 6}) + "srv" + bytes({0}) + "hello");
        QCOMPARE(Messages::broadcast("hello"), bytes({0, 6, 7}) + "hello");
        QCOMPARE(Messages::addGod("srv", "bob"), bytes({0, 8, 9}) + "srv" + bytes({0}) + "bob");
        // The registry ignores a mark without a text after the separator.
        QCOMPARE(Messages::markOfficial("srv"), bytes({0, 6, 10}) + "srv" + bytes({0}) + "1");
        QCOMPARE(Messages::markUnofficial("srv"), bytes({0, 6, 11}) + "srv" + bytes({0}) + "1");
        QCOMPARE(Messages::denyNewAccounts(), bytes({0, 1, 12}));
        QCOMPARE(Messages::allowNewAccounts(), bytes({0, 1, 13}));
        QCOMPARE(Messages::clearOfficial(), bytes({0, 1, 14}));
        QCOMPARE(Messages::deleteAllAccounts(), bytes({0, 1, 15}));
        QCOMPARE(Messages::sessionFlag(), bytes({0, 1, 16}));
        QCOMPARE(Messages::operatorVersion(1201), bytes({0, 5, 28}) + "1201");
    }

    void loginReplies() {
        const QByteArray accepted = bytes({0, 7, 0}) + "Alpha" + bytes({0});
        LoginReply r = parseLoginReplyOf(accepted);
        QCOMPARE(r.result, Replies::LoginResult::Accepted);
        QCOMPARE(r.serverName, QByteArray("Alpha"));
        QCOMPARE(r.description, QByteArray());

        r = parseLoginReplyOf(bytes({0, 12, 0}) + "<untitled>" + bytes({0}));
        QCOMPARE(r.result, Replies::LoginResult::Accepted);
        QCOMPARE(r.serverName, QByteArray("<untitled>"));

        r = parseLoginReplyOf(bytes({0, 8, 0}) + "A" + bytes({0}) + "Fun" + bytes({0}) + "x");
        QCOMPARE(r.description, QByteArray("Fun") + bytes({0}) + "x"); // the description runs to the end

        QCOMPARE(parseLoginReplyOf(bytes({0, 1, 1})).result, Replies::LoginResult::NameExists);
        QCOMPARE(parseLoginReplyOf(bytes({0, 1, 2})).result, Replies::LoginResult::WrongPassword);
        QCOMPARE(parseLoginReplyOf(bytes({0, 1, 3})).result, Replies::LoginResult::Refused);
        QCOMPARE(parseLoginReplyOf(bytes({0, 2, 0, 4})).result, Replies::LoginResult::RegistryFull);
        // Type 0 without a separator and not the full notice is nothing we know.
        QCOMPARE(parseLoginReplyOf(bytes({0, 2, 0, 5})).result, Replies::LoginResult::Unexpected);
        QCOMPARE(parseLoginReplyOf(bytes({0, 1, 4})).result, Replies::LoginResult::Unexpected);
    }

    void listEntry() {
        const QByteArray payload = Replies::listEntryPayload("alpha", "10.0.0.5", 12, "Alpha", true, "Fun", "");
        const QByteArray wire = buildFrame(4, payload);
        QCOMPARE(wire.left(3), bytes({0, 48, 4}));
        QCOMPARE(wire.size(), 50);
        QCOMPARE(payload, QByteArray("alpha") + bytes({0}) + "10.0.0.5" + bytes({0}) + "[12] Alpha" + bytes({0}) +
                              "Official Server: Fun" + bytes({0}));

        const std::optional<Replies::ListEntry> e = Replies::parseListEntry(frameOf(wire).payload);
        QVERIFY(e);
        QCOMPARE(e->user, QByteArray("alpha"));
        QCOMPARE(e->address, QByteArray("10.0.0.5"));
        QCOMPARE(e->playerCount(), 12);
        QCOMPARE(e->serverName(), QByteArray("Alpha"));
        QVERIFY(e->official());
        QCOMPARE(e->plainDescription(), QByteArray("Fun"));
        QCOMPARE(e->updateUrl, QByteArray());

        const QByteArray unofficial =
            Replies::listEntryPayload("b", "1.2.3.4", 0, "] [x", false, "Official Server: no", "http://u/\x01");
        const std::optional<Replies::ListEntry> u = Replies::parseListEntry(unofficial);
        QVERIFY(u);
        QCOMPARE(u->playerCount(), 0);
        QCOMPARE(u->serverName(), QByteArray("] [x"));
        QVERIFY(!u->official());
        QCOMPARE(u->plainDescription(), QByteArray("Official Server: no"));
        QCOMPARE(u->updateUrl, QByteArray("http://u/\x01"));

        // The update URL is the rest of the payload, separators included.
        const std::optional<Replies::ListEntry> tail =
            Replies::parseListEntry(QByteArray("a") + bytes({0}) + "b" + bytes({0}) + "c" + bytes({0}) + "d" +
                                    bytes({0}) + "e" + bytes({0}) + "f");
        QCOMPARE(tail->updateUrl, QByteArray("e") + bytes({0}) + "f");
        QCOMPARE(tail->playerCount(), -1);
        QCOMPARE(tail->serverName(), QByteArray("c"));

        QVERIFY(!Replies::parseListEntry(QByteArray("a") + bytes({0}) + "b" + bytes({0}) + "c" + bytes({0}) + "d"));
        QVERIFY(!Replies::parseListEntry(QByteArray()));
    }

    void markers() {
        QCOMPARE(Replies::endMarkerFrame(), bytes({0, 2, 255, 4}));
        QCOMPARE(Replies::continueMarkerFrame(21), bytes({0, 3, 255, 3, 21}));
        QCOMPARE(Replies::probeFrame(), bytes({0, 2, 255, 255}));

        QCOMPARE(Replies::parseMarker(frameOf(bytes({0, 2, 255, 4}))).kind, Replies::Marker::Kind::End);
        const Replies::Marker next = Replies::parseMarker(frameOf(bytes({0, 3, 255, 3, 21})));
        QCOMPARE(next.kind, Replies::Marker::Kind::Continue);
        QCOMPARE(int(next.next), 21);
        QCOMPARE(Replies::parseMarker(frameOf(bytes({0, 2, 255, 255}))).kind, Replies::Marker::Kind::Probe);
        for (const QByteArray& odd : {bytes({0, 1, 255}), bytes({0, 2, 255, 3}), bytes({0, 3, 255, 4, 4}),
                                      bytes({0, 4, 255, 3, 21, 0}), bytes({0, 2, 254, 4})})
            QCOMPARE(Replies::parseMarker(frameOf(odd)).kind, Replies::Marker::Kind::NotAMarker);
    }

    void operatorNotices() {
        QVERIFY(Replies::isOperatorAccepted(frameOf(bytes({0, 1, 5}))));
        QVERIFY(!Replies::isOperatorAccepted(frameOf(bytes({0, 2, 5, 0}))));
        QCOMPARE(Replies::offlineNotice(frameOf(bytes({0, 4, 6}) + "SRV")), std::optional<QByteArray>("SRV"));
        QVERIFY(!Replies::offlineNotice(frameOf(bytes({0, 4, 4}) + "SRV")));
    }

    void listOrderOfficialsFirst() {
        // Officials in 3 and 7, unofficial servers in 2 and 5.
        const QList<ListedServer> servers = {server(5, false), server(3, true), server(7, true), server(2, false)};
        QByteArray marker;
        const QByteArray reply = buildListReply(servers, 1);
        QCOMPARE(usersIn(reply, &marker), (QList<QByteArray>{"s07", "s03", "s02", "s05"}));
        QCOMPARE(marker, bytes({0, 2, 255, 4}));
        QVERIFY(reply.endsWith(bytes({0, 2, 255, 4})));

        QCOMPARE(usersIn(buildListReply(servers, 4), &marker), (QList<QByteArray>{"s07", "s05"}));
        QVERIFY(buildListReply(servers, 8).isEmpty());
        QVERIFY(buildListReply({}, 1).isEmpty());
    }

    void listPaging() {
        // Each frame is 52 bytes: 19 stay below 1024, 20 reach it.
        QList<ListedServer> servers;
        for (int slot = 1; slot <= 25; ++slot)
            servers.append(server(slot, false));
        QCOMPARE(buildFrame(4, Replies::listEntryPayload("s01", "10.0.0.1", 0, "n", false, "desc-of-10", "")).size(),
                 52);

        QByteArray marker;
        const QByteArray first = buildListReply(servers, 1);
        QCOMPARE(usersIn(first, &marker).size(), 20);
        QCOMPARE(first.size(), 20 * 52 + 5);
        QVERIFY(first.endsWith(bytes({0, 3, 255, 3, 21})));

        const QByteArray second = buildListReply(servers, 21);
        QCOMPARE(usersIn(second, &marker), (QList<QByteArray>{"s21", "s22", "s23", "s24", "s25"}));
        QVERIFY(second.endsWith(bytes({0, 2, 255, 4})));

        // The page may pass the limit by its last entry; the gap after it moves the marker on.
        servers.removeIf([](const ListedServer& s) { return s.slot >= 21 && s.slot <= 23; });
        QVERIFY(buildListReply(servers, 1).endsWith(bytes({0, 3, 255, 3, 24})));
        // Nothing after the page that reaches the limit: the list ends there.
        servers.removeIf([](const ListedServer& s) { return s.slot > 20; });
        QVERIFY(buildListReply(servers, 1).endsWith(bytes({0, 2, 255, 4})));
    }

    void wireText() {
        QCOMPARE(WireText::fromUnicode(QStringLiteral("A\u20ACz\u00E9\u4E2D")), bytes({'A', 0x80, 'z', 0xE9, '?'}));
        QCOMPARE(WireText::toUnicode(bytes({0x80, 0x9F, 0xE9, 0x81})), QStringLiteral("\u20AC\u0178\u00E9\u0081"));
        QByteArray all;
        for (int b = 0; b < 256; ++b)
            all.append(char(b));
        QCOMPARE(WireText::fromUnicode(WireText::toUnicode(all)), all);
    }

private:
    static Replies::LoginReply parseLoginReplyOf(const QByteArray& wire) {
        return Replies::parseLoginReply(frameOf(wire));
    }
    using LoginReply = Replies::LoginReply;
};

QTEST_GUILESS_MAIN(TestClientFraming)
#include "tst_client_framing.moc"
