// The HTTP endpoint over a registry on the in-memory socket layer: the
// counters as sessions drive them, the list as JSON against the list
// replies, escaping, ETags, health, the methods and paths, and the guard
// around the listener.
#include "admin/http_endpoint.h"
#include "admin/metrics_text.h"
#include "admin/server_list_json.h"
#include "admin/status_page.h"
#include "app/command_line.h"
#include "app/configuration.h"
#include "host/registry_config.h"
#include "database/ban_set.h"
#include "platform/listen_address.h"
#include "platform/process_stats.h"
#include "protocol/list_query.h"
#include "support/http_get.h"
#include "support/session_helpers.h"

#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QTcpSocket>
#include <QtTest>

namespace {

double metric(HttpEndpoint& e, const char* name) {
    const auto samples = metricSamples(e.metrics());
    const QString key = QString::fromLatin1(name);
    if (!samples.contains(key))
        qWarning("no sample %s", name);
    return samples.value(key, -1);
}

struct Endpoint {
    RegistryFixture f;
    qint64 now = 1'000'000;
    HttpEndpoint http{f.reg(), 999'000, [this] { return now; }};
};

// A raw exchange on the loopback listener, for what QNetworkAccessManager
// will not send.
QByteArray rawExchange(quint16 port, const QByteArray& bytes, int waitMs = 2000) {
    QTcpSocket s;
    s.connectToHost(QHostAddress::LocalHost, port);
    if (!s.waitForConnected(2000))
        return "no connection";
    s.write(bytes);
    QByteArray in;
    QElapsedTimer t;
    t.start();
    while (t.elapsed() < waitMs && s.state() == QAbstractSocket::ConnectedState) {
        QCoreApplication::processEvents(QEventLoop::AllEvents, 20);
        in += s.readAll();
    }
    in += s.readAll();
    return in;
}

} // namespace

class TestHttpEndpoint : public QObject {
    Q_OBJECT
private slots:
    void countersFollowTheSessions() {
        Endpoint e;
        QCOMPARE(metric(e.http, "tavregistry_accepted_total"), 0.0);

        // A banned caller: refused, never accepted, no close counted.
        BanRecord ban;
        ban.Number = 1;
        ban.Name = QStringLiteral("b");
        ban.IP = QStringLiteral("10.9.9.0");
        QVERIFY(e.f.reg().database().bans().add(ban));
        const int banned = e.f.connect("10.9.9.7");
        QVERIFY(!e.f.isOpen(banned));
        QCOMPARE(metric(e.http, "tavregistry_refused_total{reason=\"banned\"}"), 1.0);
        QCOMPARE(metric(e.http, "tavregistry_accepted_total"), 0.0);
        QCOMPARE(metric(e.http, "tavregistry_bans"), 1.0);

        // A wrong password: one login counted, the close is the protocol's.
        registerServer(e.f, "alpha", "secret");
        QCOMPARE(metric(e.http, "tavregistry_registrations_total{result=\"ok\"}"), 1.0);
        QCOMPARE(metric(e.http, "tavregistry_accounts"), 1.0);
        const int wrong = e.f.connect();
        e.f.send(wrong, frame(1, fields("alpha", "nope")));
        QVERIFY(!e.f.isOpen(wrong));
        QCOMPARE(metric(e.http, "tavregistry_logins_total{kind=\"server\",result=\"wrong_password\"}"), 1.0);
        QCOMPARE(metric(e.http, "tavregistry_closed_total{reason=\"protocol\"}"), 1.0);
        const int unknown = e.f.connect();
        e.f.send(unknown, frame(1, fields("nobody", "x")));
        e.f.net.completeSends(); // the refusal delivered, the connection goes
        QVERIFY(!e.f.isOpen(unknown));
        QCOMPARE(metric(e.http, "tavregistry_closed_total{reason=\"protocol\"}"), 2.0);
        QCOMPARE(metric(e.http, "tavregistry_logins_total{kind=\"server\",result=\"unknown\"}"), 1.0);
        const int twice = e.f.connect();
        e.f.send(twice, frame(1, fields("alpha", "secret")));
        QCOMPARE(metric(e.http, "tavregistry_logins_total{kind=\"server\",result=\"duplicate\"}"), 1.0);
        const int taken = e.f.connect();
        e.f.reg().setNewAccountsAllowed(true);
        e.f.send(taken, frame(0, fields("ALPHA", "pw")));
        QCOMPARE(metric(e.http, "tavregistry_registrations_total{result=\"exists\"}"), 1.0);
        e.f.reg().setNewAccountsAllowed(false);
        const int refusedNew = e.f.connect();
        e.f.send(refusedNew, frame(0, fields("beta", "pw")));
        QCOMPARE(metric(e.http, "tavregistry_registrations_total{result=\"not_allowed\"}"), 1.0);

        // Operators: a bad code, then a good one.
        const int badOp = e.f.connect();
        e.f.send(badOp, frame(2, fields("QWZRTPLKMX", "WRONG")));
        QCOMPARE(metric(e.http, "tavregistry_logins_total{kind=\"operator\",result=\"wrong_password\"}"), 1.0);
        const int op = connectOperator(e.f);
        QCOMPARE(metric(e.http, "tavregistry_logins_total{kind=\"operator\",result=\"ok\"}"), 1.0);
        QCOMPARE(metric(e.http, "tavregistry_connections{mode=\"operator\"}"), 1.0);
        QCOMPARE(metric(e.http, "tavregistry_connections{mode=\"server\"}"), 1.0);
        QCOMPARE(metric(e.http, "tavregistry_servers_online"), 1.0);

        // A list reply, and the bytes it took.
        const double sentBefore = metric(e.http, "tavregistry_bytes_sent_total");
        const double receivedBefore = metric(e.http, "tavregistry_bytes_received_total");
        const int client = e.f.connect();
        e.f.send(client, frame(3, QByteArray(1, '\1')));
        const QByteArray reply = e.f.received(client);
        QVERIFY(!reply.isEmpty());
        QCOMPARE(metric(e.http, "tavregistry_list_replies_total"), 1.0);
        QCOMPARE(metric(e.http, "tavregistry_bytes_sent_total") - sentBefore, double(reply.size()));
        QCOMPARE(metric(e.http, "tavregistry_bytes_received_total") - receivedBefore, 4.0);

        // The operator disconnects the server; the client goes idle; the peer hangs up.
        e.f.send(op, frame(5, "alpha"));
        QCOMPARE(metric(e.http, "tavregistry_closed_total{reason=\"operator\"}"), 1.0);
        e.f.net.peerCloses(op);
        e.f.runFor(20);
        QCOMPARE(metric(e.http, "tavregistry_closed_total{reason=\"peer\"}"), 1.0);
        e.f.runFor(30000);
        QVERIFY(!e.f.isOpen(client));
        QCOMPARE(metric(e.http, "tavregistry_closed_total{reason=\"idle\"}"), 1.0);

        // Everything admitted has been closed by some cause, once.
        const auto s = metricSamples(e.http.metrics());
        double closed = 0;
        for (auto it = s.begin(); it != s.end(); ++it)
            if (it.key().startsWith(QLatin1String("tavregistry_closed_total")))
                closed += it.value();
        QCOMPARE(closed + e.f.reg().connectionCount(), s.value(QStringLiteral("tavregistry_accepted_total")));
    }

    void fullRegistryAndShutdownAreCounted() {
        Endpoint e;
        e.f.net.connectPeers(255);
        const int late = e.f.connect();
        QVERIFY(e.f.net.peer(late).index == SlotTable::kOverflowSlot || e.f.net.peer(late).refused);
        QCOMPARE(metric(e.http, "tavregistry_refused_total{reason=\"full\"}"), 1.0);
        QCOMPARE(metric(e.http, "tavregistry_accepted_total"), 255.0);
        QCOMPARE(metric(e.http, "tavregistry_connections{mode=\"unauthenticated\"}"), 255.0);
        e.f.reg().shutdown();
        QCOMPARE(metric(e.http, "tavregistry_closed_total{reason=\"shutdown\"}"), 255.0);
        QCOMPARE(e.http.health(), QStringLiteral("shutting down"));
    }

    void outputLimitIsACause() {
        Endpoint e;
        placeServer(e.f, "big", 0, 1, "N", QByteArray(200, 'd'));
        const int client = e.f.connect();
        // A peer that has left more than the cap unread in the kernel's queue.
        e.f.net.setKernelQueue(client, Registry::kMaxUnsentOutput + 1);
        e.f.reg().sendRaw(e.f.slotOf(client), QByteArray(4, 'x'));
        QVERIFY(!e.f.isOpen(client));
        QCOMPARE(metric(e.http, "tavregistry_closed_total{reason=\"output_limit\"}"), 1.0);
    }

    // The JSON lists exactly what a client reading every page from slot 1
    // receives, entry by entry, in the same order.
    void jsonEqualsThePagedList() {
        Endpoint e;
        for (int i = 0; i < 40; ++i)
            placeServer(e.f, "srv" + QByteArray::number(i), quint8(i % 3 == 0), quint8(i), "Name " + QByteArray::number(i),
                        QByteArray(60, char('a' + i % 26)), "10.0.0." + QByteArray::number(i + 1),
                        i % 2 ? "http://u/" + QByteArray::number(i) : QByteArray());
        QList<QByteArray> wire;
        int start = 1, pages = 0;
        while (start != 0) {
            const QByteArray reply = ListQuery::buildReply(e.f.reg().clients(), start);
            QVERIFY(!reply.isEmpty());
            ++pages;
            qsizetype pos = 0;
            start = 0;
            while (pos < reply.size()) {
                const int len = (quint8(reply[pos]) << 8) | quint8(reply[pos + 1]);
                const QByteArray msg = reply.mid(pos + 2, len);
                pos += 2 + len;
                if (quint8(msg[0]) == 4)
                    wire.append(msg.mid(1));
                else if (msg.size() == 3 && msg[1] == 3)
                    start = quint8(msg[2]);
            }
        }
        QVERIFY(pages >= 3);
        const QJsonObject doc = QJsonDocument::fromJson(e.http.serverListJson()).object();
        const QJsonArray servers = doc.value(QStringLiteral("servers")).toArray();
        QCOMPARE(doc.value(QStringLiteral("count")).toInt(), 40);
        QCOMPARE(servers.size(), wire.size());
        for (int i = 0; i < wire.size(); ++i) {
            const QList<QByteArray> f = wire[i].split('\0');
            const QJsonObject o = servers[i].toObject();
            const bool official = o.value(QStringLiteral("official")).toBool();
            QCOMPARE(o.value(QStringLiteral("user")).toString().toLatin1(), f[0]);
            QCOMPARE(o.value(QStringLiteral("address")).toString().toLatin1(), f[1]);
            QCOMPARE(("[" + QByteArray::number(o.value(QStringLiteral("players")).toInt()) + "] " +
                      o.value(QStringLiteral("name")).toString().toLatin1()),
                     f[2]);
            QCOMPARE((official ? "Official Server: " : "Unofficial Server: ") +
                         o.value(QStringLiteral("description")).toString().toLatin1(),
                     f[3]);
            QCOMPARE(o.value(QStringLiteral("update_url")).toString().toLatin1(), f[4]);
        }
    }

    void jsonTextsAreDecodedAndInert() {
        Endpoint e;
        placeServer(e.f, "caf\xe9", 1, 3, "<script>x</script> \x80", "a \"q\" & b\x01", "10.1.1.1");
        const QByteArray json = e.http.serverListJson();
        QVERIFY(!json.contains('<'));
        QVERIFY(!json.contains('&'));
        QVERIFY(json.contains("\\u003cscript\\u003e"));
        QVERIFY(json.contains("\\u0001"));
        const QJsonObject o =
            QJsonDocument::fromJson(json).object().value(QStringLiteral("servers")).toArray()[0].toObject();
        QCOMPARE(o.value(QStringLiteral("user")).toString(), QStringLiteral("caf\u00e9"));
        QCOMPARE(o.value(QStringLiteral("name")).toString(), QStringLiteral("<script>x</script> \u20ac"));
        QCOMPARE(o.value(QStringLiteral("description")).toString(), QStringLiteral("a \"q\" & b\u0001"));
        QCOMPARE(o.value(QStringLiteral("official")).toBool(), true);
        QCOMPARE(o.value(QStringLiteral("players")).toInt(), 3);
    }

    void emptyListIsExact() {
        QCOMPARE(serverListJson({}), QByteArray("{\"servers\":[],\"count\":0}"));
    }

    // Built once per change: the same bytes object until the list moves on.
    void jsonIsBuiltOncePerChange() {
        Endpoint e;
        const int p = placeServer(e.f, "alpha", 0, 1);
        e.f.reg().clients().listChanged();
        const QByteArray first = e.http.serverListJson();
        const QByteArray etag = e.http.serverListEtag();
        QCOMPARE(e.http.serverListJson().constData(), first.constData());
        // A players report changes the list; so does a close.
        e.f.send(p, frame(7, QByteArray(1, '\x09')));
        QVERIFY(e.http.serverListJson().contains("\"players\":9"));
        QVERIFY(e.http.serverListEtag() != etag);
        const QByteArray afterReport = e.http.serverListEtag();
        e.f.reg().closeClient(e.f.slotOf(p), CloseReason::Administrator);
        QCOMPARE(e.http.serverListJson(), QByteArray("{\"servers\":[],\"count\":0}"));
        QVERIFY(e.http.serverListEtag() != afterReport);
    }

    void officialMarkByOperatorChangesTheList() {
        Endpoint e;
        registerServer(e.f, "alpha");
        QVERIFY(e.http.serverListJson().contains("\"official\":false"));
        const int op = connectOperator(e.f);
        e.f.send(op, frame(10, fields("ALPHA", "x")));
        QVERIFY(e.http.serverListJson().contains("\"official\":true"));
        e.f.send(registerServer(e.f, "beta"), frame(5, fields("Beta Name", "Beta text")));
        QVERIFY(e.http.serverListJson().contains("\"name\":\"Beta Name\""));
    }

    void etagAnswers304() {
        Endpoint e;
        placeServer(e.f, "alpha");
        e.f.reg().clients().listChanged();
        const HttpEndpoint::Answer full = e.http.answer("GET", "/servers.json", {});
        QCOMPARE(full.status, 200);
        QByteArray etag;
        for (const auto& h : full.headers)
            if (h.first == "ETag")
                etag = h.second;
        QVERIFY(etag.startsWith('"') && etag.endsWith('"') && etag.size() == 34);
        const HttpEndpoint::Answer same = e.http.answer("GET", "/servers.json", etag);
        QCOMPARE(same.status, 304);
        QVERIFY(same.body.isEmpty());
        QCOMPARE(e.http.answer("GET", "/servers.json", "\"other\", W/" + etag).status, 304);
        QCOMPARE(e.http.answer("GET", "/servers.json", "*").status, 304);
        QCOMPARE(e.http.answer("GET", "/servers.json", "\"other\"").status, 200);
        QCOMPARE(e.http.answer("GET", "/servers.json", etag.chopped(1)).status, 200);
    }

    void etagMatching() {
        QVERIFY(etagMatches("\"a\"", "\"a\""));
        QVERIFY(etagMatches(" \"b\" , \"a\"", "\"a\""));
        QVERIFY(etagMatches("W/\"a\"", "\"a\""));
        QVERIFY(!etagMatches("\"A\"", "\"a\""));
        QVERIFY(!etagMatches("", "\"a\""));
        QVERIFY(!etagMatches(",,", "\"a\""));
    }

    void pageEscapesPeerText() {
        Endpoint e;
        placeServer(e.f, "u<b>", 1, 7, "<img src=x onerror=alert(1)>", "\"quoted\" & 'single' </td>", "10.2.2.2");
        e.f.reg().clients().listChanged();
        const HttpEndpoint::Answer a = e.http.answer("GET", "/", {});
        QCOMPARE(a.status, 200);
        const QString page = QString::fromUtf8(a.body);
        QVERIFY(!page.contains(QLatin1String("<img")));
        QVERIFY(!page.contains(QLatin1String("u<b>")));
        QVERIFY(page.contains(QLatin1String("&lt;img src=x onerror=alert(1)&gt;")));
        QVERIFY(page.contains(QLatin1String("&quot;quoted&quot; &amp; &#39;single&#39; &lt;/td&gt;")));
        QVERIFY(page.contains(QLatin1String("u&lt;b&gt;")));
        QVERIFY(!page.contains(QLatin1String("<script")));
        QVERIFY(page.contains(QLatin1String("href=\"/servers.json\"")));
        QVERIFY(page.contains(QLatin1String("name=\"viewport\"")));
        QVERIFY(!page.contains(QLatin1String("http://")) && !page.contains(QLatin1String("https://")));
        QVERIFY(page.contains(QLatin1String("<dt>Uptime</dt><dd>00:16:40</dd>")));
        QVERIFY(page.contains(QLatin1String("<dt>Connections</dt><dd>1</dd>")));
    }

    void htmlTextAndUptime() {
        QCOMPARE(htmlText(QStringLiteral("a<b>&\"'\x01\x7f\u0085z")),
                 QStringLiteral("a&lt;b&gt;&amp;&quot;&#39;\uFFFD\uFFFD\uFFFDz"));
        QCOMPARE(uptimeText(0), QStringLiteral("00:00:00"));
        QCOMPARE(uptimeText(86399), QStringLiteral("23:59:59"));
        QCOMPARE(uptimeText(86400 + 9), QStringLiteral("1 day, 00:00:09"));
        QCOMPARE(uptimeText(3 * 86400 + 4 * 3600 + 5 * 60 + 6), QStringLiteral("3 days, 04:05:06"));
        QCOMPARE(uptimeText(-5), QStringLiteral("00:00:00"));
    }

    void healthFollowsTheRegistry() {
        RegistryFixture f(false);
        HttpEndpoint http(f.reg(), 0);
        QCOMPARE(http.answer("GET", "/healthz", {}).status, 503);
        QCOMPARE(http.answer("GET", "/healthz", {}).body, QByteArray("starting\n"));
        QVERIFY(f.start());
        QCOMPARE(http.answer("GET", "/healthz", {}).status, 200);
        QCOMPARE(http.answer("GET", "/healthz", {}).body, QByteArray("ok\n"));
        // The database file replaced under the running registry.
        const QString file = f.dataDir.filePath(QStringLiteral("qbrx.dat"));
        QVERIFY(QFile::rename(file, file + QStringLiteral(".moved")));
        QVERIFY(QFile::copy(file + QStringLiteral(".moved"), file));
        f.reg().generalTimerTick();
        QCOMPARE(http.answer("GET", "/healthz", {}).status, 503);
        QCOMPARE(http.answer("GET", "/healthz", {}).body, QByteArray("database lost\n"));
        f.reg().shutdown();
        QCOMPARE(http.answer("GET", "/healthz", {}).body, QByteArray("shutting down\n"));
    }

    void pathsAndMethods() {
        Endpoint e;
        QCOMPARE(e.http.answer("GET", "/nothing", {}).status, 404);
        QCOMPARE(e.http.answer("POST", "/nothing", {}).status, 404);
        for (const char* path : {"/", "/metrics", "/healthz", "/servers.json"}) {
            for (const char* method : {"POST", "PUT", "DELETE", "HEAD"}) {
                const HttpEndpoint::Answer a = e.http.answer(method, path, {});
                QCOMPARE(a.status, 405);
                QVERIFY(a.headers.contains(qMakePair(QByteArray("Allow"), QByteArray("GET"))));
            }
        }
        QCOMPARE(e.http.answer("GET", "/metrics", {}).headers.first().second, QByteArray(kMetricsContentType));
    }

    void metricsTextIsExact() {
        MetricsReadings r;
        r.version = QStringLiteral("1.0.0");
        r.startTimeSeconds = 12.5;
        r.connections = {1, 2, 3};
        r.counters.accepted = 7;
        r.counters.count(Refusal::Banned);
        r.counters.count(LoginKind::Operator, LoginResult::Ok);
        r.counters.count(CloseReason::Idle);
        r.accessesPerHour = 42;
        const QByteArray text = metricsText(r);
        QVERIFY(text.startsWith("# HELP tavregistry_build_info "));
        QVERIFY(text.contains("\n# TYPE tavregistry_build_info gauge\ntavregistry_build_info{version=\"1.0.0\"} 1\n"));
        QVERIFY(text.contains("\ntavregistry_start_time_seconds 12.500\n"));
        QVERIFY(text.contains("\ntavregistry_connections{mode=\"unauthenticated\"} 1\n"
                              "tavregistry_connections{mode=\"operator\"} 2\n"
                              "tavregistry_connections{mode=\"server\"} 3\n"));
        QVERIFY(text.contains("\n# TYPE tavregistry_refused_total counter\ntavregistry_refused_total{reason=\"full\"} 0\n"
                              "tavregistry_refused_total{reason=\"banned\"} 1\n"));
        QVERIFY(text.contains("\ntavregistry_logins_total{kind=\"operator\",result=\"ok\"} 1\n"));
        QVERIFY(text.contains("\ntavregistry_closed_total{reason=\"idle\"} 1\n"));
        QVERIFY(text.contains("\ntavregistry_accesses_per_hour 42\n"));
        // No database, no process figures: those families are left out.
        QVERIFY(!text.contains("tavregistry_accounts"));
        QVERIFY(!text.contains("process_"));
        QVERIFY(text.endsWith('\n'));
        r.version = QStringLiteral("a\"b\\c\nd");
        QVERIFY(metricsText(r).contains("tavregistry_build_info{version=\"a\\\"b\\\\c\\nd\"} 1\n"));
    }

    void processStatsParse() {
        const QByteArray stat = "1234 (tav (x) y) S 1 2 3 4 5 6 7 8 9 10 250 150 0 0 20 0 1 0 5000 1000 300 0";
        const auto p = ProcessStats::fromTexts(stat, "1000 300 20 1 0 50 0\n", 1'700'000'000, 100, 4096);
        QVERIFY(p);
        QCOMPARE(p->cpuSeconds, 4.0);
        QCOMPARE(p->residentBytes, qint64(300 * 4096));
        QCOMPARE(p->startTimeSeconds, 1'700'000'050.0);
        QVERIFY(!ProcessStats::fromTexts("garbage", "1 2", 0, 100, 4096));
        QVERIFY(!ProcessStats::fromTexts(stat, "", 0, 100, 4096));
        QVERIFY(!ProcessStats::fromTexts(stat, "1 2", -1, 100, 4096));
        const auto self = ProcessStats::read();
        QVERIFY(self);
        QVERIFY(self->openFds > 2);
        QVERIFY(self->residentBytes > 0);
    }

    void listenAddresses_data() {
        QTest::addColumn<QString>("text");
        QTest::addColumn<bool>("ok");
        QTest::addColumn<QString>("url");
        QTest::newRow("v4") << "127.0.0.1:9100" << true << "http://127.0.0.1:9100/";
        QTest::newRow("any") << "0.0.0.0:0" << true << "http://0.0.0.0:0/";
        QTest::newRow("v6") << "[::1]:80" << true << "http://[::1]:80/";
        QTest::newRow("v6 bare") << "::1:80" << false << "";
        QTest::newRow("name") << "localhost:80" << false << "";
        QTest::newRow("no port") << "127.0.0.1" << false << "";
        QTest::newRow("empty port") << "127.0.0.1:" << false << "";
        QTest::newRow("big port") << "127.0.0.1:65536" << false << "";
        QTest::newRow("signed port") << "127.0.0.1:+80" << false << "";
        QTest::newRow("top port") << "127.0.0.1:65535" << true << "http://127.0.0.1:65535/";
        QTest::newRow("v4 in brackets") << "[127.0.0.1]:80" << false << "";
    }

    void listenAddresses() {
        QFETCH(QString, text);
        QFETCH(bool, ok);
        QFETCH(QString, url);
        QString why;
        const auto a = ListenAddress::parse(text, &why);
        QCOMPARE(bool(a), ok);
        if (a)
            QCOMPARE(ListenAddress::url(a->address, a->port), url);
        else
            QVERIFY(!why.isEmpty());
    }

    void commandLineAndConfiguration() {
        const CommandLine ok = CommandLine::parse({QStringLiteral("tavregistry"), QStringLiteral("--http"),
                                                   QStringLiteral("127.0.0.1:0")});
        QCOMPARE(ok.outcome, CommandLine::Outcome::Run);
        QCOMPARE(ok.overrides.size(), 1);
        QCOMPARE(ok.overrides[0].section, QStringLiteral("http"));
        QCOMPARE(ok.overrides[0].key, QStringLiteral("listen"));
        QCOMPARE(ok.overrides[0].value, QStringLiteral("127.0.0.1:0"));
        const CommandLine bad = CommandLine::parse({QStringLiteral("tavregistry"), QStringLiteral("--http=nowhere")});
        QCOMPARE(bad.outcome, CommandLine::Outcome::Error);
        QVERIFY(bad.errorText.startsWith(QLatin1String("--http: ")));
        QCOMPARE(CommandLine::parse({QStringLiteral("tavregistry"), QStringLiteral("--http-listen"),
                                     QStringLiteral("localhost:1")})
                     .outcome,
                 CommandLine::Outcome::Error);

        QString error;
        const auto values = ConfigFile::parse(registryConfigSchema(), "[http]\nlisten = 10.0.0.1:9179\n",
                                              QStringLiteral("f.conf"), &error);
        QVERIFY2(values, qPrintable(error));
        QCOMPARE(values->value(QStringLiteral("http"), QStringLiteral("listen")).toString(),
                 QStringLiteral("10.0.0.1:9179"));
        QCOMPARE(ConfigValues::defaults(registryConfigSchema()).value(QStringLiteral("http"), QStringLiteral("listen")),
                 QVariant(QString()));
        QVERIFY(!ConfigFile::parse(registryConfigSchema(), "[http]\n\nlisten = 10.0.0.1\n", QStringLiteral("f.conf"),
                                   &error));
        QVERIFY2(error.startsWith(QLatin1String("f.conf:3:")), qPrintable(error));

        // A new address by reload waits for the next start, and says so.
        QTemporaryDir dir;
        const QString path = dir.filePath(QStringLiteral("tavregistry.conf"));
        QFile file(path);
        QVERIFY(file.open(QIODevice::WriteOnly));
        file.write("[http]\nlisten = 127.0.0.1:9000\n");
        file.close();
        Configuration configuration(registryConfigSchema(), path, {}, {});
        QVERIFY(configuration.load(&error));
        QVERIFY(file.open(QIODevice::WriteOnly | QIODevice::Truncate));
        file.write("[http]\nlisten = 127.0.0.1:9001\n");
        file.close();
        QStringList notices;
        QVERIFY(configuration.reload(&notices, &error));
        QCOMPARE(notices, QStringList{QStringLiteral("listen in [http] changes only at the next start")});
        QCOMPARE(configuration.values().value(QStringLiteral("http"), QStringLiteral("listen")).toString(),
                 QStringLiteral("127.0.0.1:9000"));
    }

    void listenFailureIsReported() {
        Endpoint a;
        QString error;
        QVERIFY(a.http.listen(QHostAddress::LocalHost, 0, &error));
        Endpoint b;
        QVERIFY(!b.http.listen(QHostAddress::LocalHost, a.http.port(), &error));
        QVERIFY2(error.startsWith(QLatin1String("cannot listen for HTTP on 127.0.0.1:")), qPrintable(error));
    }

    // The real listener: Qt HttpServer behind the guard, over loopback.
    void overTheWire() {
        Endpoint e;
        QString error;
        QVERIFY2(e.http.listen(QHostAddress::LocalHost, 0, &error), qPrintable(error));
        const QString base = QStringLiteral("http://127.0.0.1:%1").arg(e.http.port());
        placeServer(e.f, "alpha", 1, 4, "Alpha", "Fun");
        e.f.reg().clients().listChanged();

        const HttpReply json = httpRequest(base + QStringLiteral("/servers.json"));
        QCOMPARE(json.status, 200);
        QCOMPARE(json.header("Content-Type"), QByteArray("application/json"));
        QCOMPARE(json.header("Cache-Control"), QByteArray("max-age=1"));
        QCOMPARE(json.header("X-Content-Type-Options"), QByteArray("nosniff"));
        QCOMPARE(json.body, e.http.serverListJson());
        const HttpReply again = httpRequest(base + QStringLiteral("/servers.json"), "GET",
                                            {{"If-None-Match", json.header("ETag")}});
        QCOMPARE(again.status, 304);
        QVERIFY(again.body.isEmpty());

        const HttpReply metrics = httpRequest(base + QStringLiteral("/metrics"));
        QCOMPARE(metrics.status, 200);
        QCOMPARE(metrics.header("Content-Type"), QByteArray(kMetricsContentType));
        QVERIFY(metrics.body.contains("\ntavregistry_servers_online 1\n"));
        QVERIFY(metrics.body.contains("\nprocess_open_fds "));

        QCOMPARE(httpRequest(base + QStringLiteral("/healthz")).body, QByteArray("ok\n"));
        QCOMPARE(httpRequest(base + QStringLiteral("/")).header("Content-Type"), QByteArray("text/html; charset=utf-8"));
        QCOMPARE(httpRequest(base + QStringLiteral("/nope")).status, 404);
        QCOMPARE(httpRequest(base + QStringLiteral("/metricsx")).status, 404);
        QCOMPARE(httpRequest(base + QStringLiteral("/metrics/")).status, 404);
        QCOMPARE(httpRequest(base + QStringLiteral("/servers.json?x=1")).status, 200);
        const HttpReply post = httpRequest(base + QStringLiteral("/metrics"), "POST");
        QCOMPARE(post.status, 405);
        QCOMPARE(post.header("Allow"), QByteArray("GET"));
        QCOMPARE(httpRequest(base + QStringLiteral("/"), "DELETE").status, 405);
        // Nothing the endpoint answered changed the registry.
        QCOMPARE(e.f.reg().connectionCount(), 1);
    }

    void guardDropsSlowAndOversizedClients() {
        RegistryFixture f;
        HttpConnectionGuard::Limits limits;
        limits.answerDeadlineMs = 300;
        limits.maxRequestBytes = 4096;
        limits.maxConnections = 3;
        HttpEndpoint http(f.reg(), 0, {}, limits);
        QString error;
        QVERIFY(http.listen(QHostAddress::LocalHost, 0, &error));

        // A request that never ends is cut at the deadline, with no answer.
        QTcpSocket slow;
        slow.connectToHost(QHostAddress::LocalHost, http.port());
        QVERIFY(slow.waitForConnected(2000));
        slow.write("GET /metrics HTTP/1.1\r\nHost: x\r\n");
        QTRY_COMPARE_WITH_TIMEOUT(slow.state(), QAbstractSocket::UnconnectedState, 5000);
        QVERIFY(slow.readAll().isEmpty());

        // More than the request budget: dropped without an answer.
        const QByteArray big = "GET / HTTP/1.1\r\nHost: x\r\nX-Big: " + QByteArray(8000, 'a') + "\r\n\r\n";
        QCOMPARE(rawExchange(http.port(), big), QByteArray());
        // Within it: answered.
        const QByteArray fits = "GET /healthz HTTP/1.1\r\nHost: x\r\nX-Big: " + QByteArray(3000, 'a') +
                                "\r\nConnection: close\r\n\r\n";
        QVERIFY(rawExchange(http.port(), fits).startsWith("HTTP/1.1 200 OK\r\n"));
        QTRY_COMPARE(http.guard().activeConnections(), 0);

        // Over the connection cap: the fixed 503, then closed.
        QList<QTcpSocket*> held;
        for (int i = 0; i < 3; ++i) {
            held.append(new QTcpSocket(this));
            held.last()->connectToHost(QHostAddress::LocalHost, http.port());
            QVERIFY(held.last()->waitForConnected(2000));
        }
        QTRY_COMPARE(http.guard().activeConnections(), 3);
        QCOMPARE(rawExchange(http.port(), "GET /healthz HTTP/1.1\r\nHost: x\r\n\r\n"),
                 QByteArray("HTTP/1.1 503 Service Unavailable\r\nContent-Type: text/plain; charset=utf-8\r\n"
                            "Content-Length: 5\r\nConnection: close\r\nRetry-After: 1\r\n\r\nbusy\n"));
        QCOMPARE(http.guard().turnedAway(), quint64(1));
        qDeleteAll(held);
        QTRY_COMPARE(http.guard().activeConnections(), 0);
        QVERIFY(rawExchange(http.port(), "GET /healthz HTTP/1.1\r\nHost: x\r\nConnection: close\r\n\r\n")
                    .startsWith("HTTP/1.1 200 OK\r\n"));
    }

    void guardStopsAnswersNobodyReads() {
        RegistryFixture f;
        for (int i = 0; i < 100; ++i)
            placeServer(f, "s" + QByteArray::number(i), 0, 0, "N", QByteArray(200, 'x'));
        HttpConnectionGuard::Limits limits;
        limits.maxUnsentBytes = 64 * 1024;
        limits.maxRequestBytes = 1 << 20;
        HttpEndpoint http(f.reg(), 0, {}, limits);
        QString error;
        QVERIFY(http.listen(QHostAddress::LocalHost, 0, &error));
        QTcpSocket s;
        s.setReadBufferSize(1); // reads next to nothing
        s.connectToHost(QHostAddress::LocalHost, http.port());
        QVERIFY(s.waitForConnected(2000));
        QByteArray many;
        for (int i = 0; i < 400; ++i)
            many += "GET /servers.json HTTP/1.1\r\nHost: x\r\n\r\n";
        s.write(many);
        QTRY_VERIFY_WITH_TIMEOUT(http.guard().dropped() >= 1, 10000);
        QTRY_COMPARE(http.guard().activeConnections(), 0);
    }
};

QTEST_GUILESS_MAIN(TestHttpEndpoint)
#include "tst_http_endpoint.moc"
