// The HTTP endpoint of the tavregistry process: the line that names it, the
// list as JSON against the list a game client reads over TCP with the client
// library, the metrics through Prometheus's own parser, and the status page
// in a real browser (headless Chromium).
#include "client/server_list.h"
#include "support/http_get.h"
#include "support/registry_process.h"
#include "support/wire_peer.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QRegularExpression>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QtTest>

#include <memory>

namespace {

QByteArray twoFields(const QByteArray& a, const QByteArray& b) { return a + QByteArray(1, '\0') + b; }

// Runs a program to its end; its standard output, or nothing on failure.
std::optional<QByteArray> run(const QString& program, const QStringList& args, const QByteArray& input = {},
                              int timeoutMs = 60000) {
    QProcess p;
    p.start(program, args);
    if (!p.waitForStarted(10000))
        return std::nullopt;
    p.write(input);
    p.closeWriteChannel();
    if (!p.waitForFinished(timeoutMs) || p.exitStatus() != QProcess::NormalExit || p.exitCode() != 0) {
        qWarning("%s failed: %s", qPrintable(program), p.readAllStandardError().constData());
        return std::nullopt;
    }
    return p.readAllStandardOutput();
}

} // namespace

class TestHttpProcess : public QObject {
    Q_OBJECT
private slots:
    void initTestCase() {
        QVERIFY2(!RegistryProcess::binary().isEmpty(), "TAVREGISTRY_BIN is not set");
        m_registry.setExtraArguments({QStringLiteral("--http"), QStringLiteral("127.0.0.1:0")});
        m_tcpPort = m_registry.start(m_data.path());
        QVERIFY2(m_tcpPort != 0, m_registry.errors().constData());
        static const QRegularExpression line(
            QStringLiteral("(?:^|\\n)HTTP endpoint listening on http://127\\.0\\.0\\.1:([0-9]+)/\\n"));
        QRegularExpressionMatch m;
        QTRY_VERIFY((m = line.match(QString::fromUtf8(m_registry.errors()))).hasMatch());
        m_base = QStringLiteral("http://127.0.0.1:%1").arg(m.captured(1));
        QVERIFY(m.captured(1).toUInt() != 0);

        // Sample servers over the wire: an operator opens registration and
        // marks some official; each server registers and reports.
        m_operator = std::make_unique<WirePeer>();
        QVERIFY(m_operator->connectTo(m_tcpPort));
        QVERIFY(m_operator->loginOperator());
        QVERIFY(m_operator->sendFrame(13));
        for (int i = 0; i < 24; ++i) {
            auto peer = std::make_unique<WirePeer>();
            QVERIFY(peer->connectTo(m_tcpPort));
            const QByteArray user = "server" + QByteArray::number(i);
            QVERIFY(peer->logIn(0, user, "secret"));
            QByteArray name = "Realm " + QByteArray::number(i);
            if (i == 3)
                name = "<b>Bold</b> & \"quoted\"";
            QVERIFY(peer->sendFrame(5, twoFields(name, "Description " + QByteArray(50, char('a' + i)) + " \xe9t\xe9")));
            QVERIFY(peer->sendFrame(7, QByteArray(1, char(i * 3))));
            if (i % 5 == 1)
                QVERIFY(m_operator->sendFrame(10, twoFields(user, "x")));
            m_servers.push_back(std::move(peer));
        }
        // A wrong password, for the counters.
        WirePeer wrong;
        QVERIFY(wrong.connectTo(m_tcpPort));
        QVERIFY(wrong.logIn(1, "server0", "not-it"));
        QVERIFY(wrong.waitClosed());
        // The reports have arrived once a list shows the last of them.
        QTRY_VERIFY(httpRequest(m_base + QStringLiteral("/servers.json")).body.contains("\"players\":69"));
    }

    void jsonEqualsTheListOverTcp() {
        const TavClient::ServerListResult list = TavClient::fetchServerList(QStringLiteral("127.0.0.1"), m_tcpPort);
        QVERIFY2(list.ok, qPrintable(list.errorText));
        QVERIFY(list.pages >= 2);
        const HttpReply reply = httpRequest(m_base + QStringLiteral("/servers.json"));
        QCOMPARE(reply.status, 200);
        const QJsonObject doc = QJsonDocument::fromJson(reply.body).object();
        const QJsonArray servers = doc.value(QStringLiteral("servers")).toArray();
        QCOMPARE(servers.size(), list.entries.size());
        QCOMPARE(doc.value(QStringLiteral("count")).toInt(), 24);
        const auto latin = [](const QJsonValue& v) { return v.toString().toLatin1(); };
        for (int i = 0; i < servers.size(); ++i) {
            const auto& e = list.entries[i];
            const QJsonObject o = servers[i].toObject();
            QCOMPARE(latin(o.value(QStringLiteral("user"))), e.user);
            QCOMPARE(latin(o.value(QStringLiteral("address"))), e.address);
            QCOMPARE(latin(o.value(QStringLiteral("name"))), e.serverName());
            QCOMPARE(o.value(QStringLiteral("players")).toInt(), e.playerCount());
            QCOMPARE(o.value(QStringLiteral("official")).toBool(), e.official());
            QCOMPARE(latin(o.value(QStringLiteral("description"))), e.plainDescription());
            QCOMPARE(latin(o.value(QStringLiteral("update_url"))), e.updateUrl);
        }
        // Officials lead the first page.
        QVERIFY(servers[0].toObject().value(QStringLiteral("official")).toBool());
        QVERIFY(reply.body.contains("\\u003cb\\u003eBold\\u003c/b\\u003e \\u0026 \\\"quoted\\\""));
        const HttpReply same = httpRequest(m_base + QStringLiteral("/servers.json"), "GET",
                                           {{"If-None-Match", reply.header("ETag")}});
        QCOMPARE(same.status, 304);
    }

    // Prometheus's own parser reads every family; the counters show what the
    // wire did.
    void metricsParseWithPrometheusClient() {
        const HttpReply reply = httpRequest(m_base + QStringLiteral("/metrics"));
        QCOMPARE(reply.status, 200);
        const QString script = QStringLiteral(
            "import sys\n"
            "from prometheus_client.parser import text_string_to_metric_families\n"
            "for f in text_string_to_metric_families(sys.stdin.read()):\n"
            "    for s in f.samples:\n"
            "        labels = ','.join(k + '=' + v for k, v in sorted(s.labels.items()))\n"
            "        print(f.type, s.name + '{' + labels + '}', repr(float(s.value)))\n");
        // Debian's interpreter, which python3-prometheus-client installs into
        // (a python3 earlier on PATH may be another one).
        const QString python = QFile::exists(QStringLiteral("/usr/bin/python3")) ? QStringLiteral("/usr/bin/python3")
                                                                                 : QStringLiteral("python3");
        const auto out = run(python, {QStringLiteral("-c"), script}, reply.body);
        QVERIFY2(out, "python3 with prometheus_client (python3-prometheus-client) failed");
        QMap<QString, QString> parsed;
        for (const QByteArray& line : out->split('\n')) {
            const QList<QByteArray> parts = line.split(' ');
            if (parts.size() == 3)
                parsed.insert(QString::fromUtf8(parts[1]), QString::fromUtf8(parts[0] + ' ' + parts[2]));
        }
        QCOMPARE(parsed.value(QStringLiteral("tavregistry_build_info{version=1.0.0}")), QStringLiteral("gauge 1.0"));
        QCOMPARE(parsed.value(QStringLiteral("tavregistry_servers_online{}")), QStringLiteral("gauge 24.0"));
        QCOMPARE(parsed.value(QStringLiteral("tavregistry_connections{mode=server}")), QStringLiteral("gauge 24.0"));
        QCOMPARE(parsed.value(QStringLiteral("tavregistry_connections{mode=operator}")), QStringLiteral("gauge 1.0"));
        QCOMPARE(parsed.value(QStringLiteral("tavregistry_registrations_total{result=ok}")),
                 QStringLiteral("counter 24.0"));
        QCOMPARE(parsed.value(QStringLiteral("tavregistry_logins_total{kind=server,result=wrong_password}")),
                 QStringLiteral("counter 1.0"));
        QCOMPARE(parsed.value(QStringLiteral("tavregistry_logins_total{kind=operator,result=ok}")),
                 QStringLiteral("counter 1.0"));
        QCOMPARE(parsed.value(QStringLiteral("tavregistry_accounts{}")), QStringLiteral("gauge 24.0"));
        QVERIFY(parsed.value(QStringLiteral("tavregistry_list_replies_total{}")).startsWith(QLatin1String("counter ")));
        for (const char* name : {"tavregistry_start_time_seconds{}", "tavregistry_accepted_total{}",
                                 "tavregistry_refused_total{reason=full}", "tavregistry_closed_total{reason=peer}",
                                 "tavregistry_bytes_received_total{}", "tavregistry_bytes_sent_total{}",
                                 "tavregistry_accesses_per_hour{}", "tavregistry_bans{}",
                                 "process_cpu_seconds_total{}", "process_resident_memory_bytes{}",
                                 "process_open_fds{}", "process_max_fds{}", "process_start_time_seconds{}"})
            QVERIFY2(parsed.contains(QLatin1String(name)), name);
        QVERIFY(parsed.value(QStringLiteral("process_resident_memory_bytes{}")).section(' ', 1).toDouble() > 1e6);
    }

    void healthAndErrors() {
        QCOMPARE(httpRequest(m_base + QStringLiteral("/healthz")).body, QByteArray("ok\n"));
        QCOMPARE(httpRequest(m_base + QStringLiteral("/admin")).status, 404);
        QCOMPARE(httpRequest(m_base + QStringLiteral("/servers.json"), "PUT").status, 405);
    }

    // A real browser renders the page: its DOM holds the servers, peer markup
    // as text, and a screenshot is kept (TAV_BROWSER_SHOTS names the folder).
    void statusPageInChromium() {
        const QString chromium = QStandardPaths::findExecutable(QStringLiteral("chromium"));
        if (chromium.isEmpty())
            QSKIP("chromium is not installed (Debian package chromium; scripts/install-deps adds it)");
        QTemporaryDir profile;
        const QStringList common{QStringLiteral("--headless"), QStringLiteral("--no-sandbox"),
                                 QStringLiteral("--disable-gpu"), QStringLiteral("--no-first-run"),
                                 QStringLiteral("--user-data-dir=") + profile.path()};
        const auto dom = run(chromium, common + QStringList{QStringLiteral("--dump-dom"), m_base + '/'}, {}, 120000);
        QVERIFY(dom);
        const QString html = QString::fromUtf8(*dom);
        QVERIFY(html.contains(QLatin1String("<h1>The Tarvane Classic Server Registry</h1>")));
        QVERIFY(html.contains(QLatin1String("Realm 0")));
        QVERIFY(html.contains(QLatin1String("Realm 23")));
        // The name with markup is text in the DOM: no <b> element came of it.
        QVERIFY(html.contains(QLatin1String("&lt;b&gt;Bold&lt;/b&gt; &amp; \"quoted\"")));
        QVERIFY(!html.contains(QLatin1String("<b>Bold")));
        QVERIFY(html.contains(QStringLiteral("\u00e9t\u00e9")));
        QVERIFY(html.contains(QLatin1String("<a href=\"/servers.json\">")));
        QVERIFY(html.contains(QLatin1String("<dt>Servers online</dt><dd>24</dd>")));
        QCOMPARE(html.count(QLatin1String("<tr>")), 25); // the heading and 24 servers

        const QString folder = qEnvironmentVariableIsEmpty("TAV_BROWSER_SHOTS") ? profile.path()
                                                                                : qEnvironmentVariable("TAV_BROWSER_SHOTS");
        const QString shot = QDir(folder).filePath(QStringLiteral("status-page.png"));
        QFile::remove(shot);
        QVERIFY(run(chromium, common + QStringList{QStringLiteral("--screenshot=") + shot,
                                                   QStringLiteral("--window-size=412,1100"),
                                                   QStringLiteral("--hide-scrollbars"), m_base + '/'},
                    {}, 120000));
        QFile png(shot);
        QVERIFY(png.open(QIODevice::ReadOnly));
        QVERIFY(png.read(8) == QByteArray("\x89PNG\r\n\x1a\n"));
        QVERIFY(png.size() > 10000);
    }

    void readmeShowsTheKeptPicture() {
        const QString source = qEnvironmentVariable("TAV_SOURCE_DIR");
        QVERIFY(!source.isEmpty());
        QFile readme(source + QStringLiteral("/README.md"));
        QVERIFY(readme.open(QIODevice::ReadOnly));
        QVERIFY(readme.readAll().contains("](docs/screenshots/browser/status-page.png)"));
        QFile png(source + QStringLiteral("/docs/screenshots/browser/status-page.png"));
        QVERIFY(png.open(QIODevice::ReadOnly));
        QCOMPARE(png.read(8), QByteArray("\x89PNG\r\n\x1a\n"));
    }

    void cleanupTestCase() {
        m_servers.clear();
        m_operator.reset();
        QVERIFY(m_registry.terminate());
    }

private:
    QTemporaryDir m_data;
    RegistryProcess m_registry;
    quint16 m_tcpPort = 0;
    QString m_base;
    std::unique_ptr<WirePeer> m_operator;
    std::vector<std::unique_ptr<WirePeer>> m_servers;
};

QTEST_GUILESS_MAIN(TestHttpProcess)
#include "tst_http_process.moc"
