#include "admin/http_endpoint.h"

#include "admin/metrics_text.h"
#include "admin/server_list_json.h"
#include "admin/status_page.h"
#include "database/account_set.h"
#include "database/ban_set.h"
#include "host/registry.h"
#include "platform/build_version.h"
#include "platform/process_stats.h"

#include <QCryptographicHash>
#include <QDateTime>
#include <QHttpServer>
#include <QHttpServerRequest>
#include <QHttpServerResponder>
#include <QHttpServerResponse>
#include <QTcpSocket>

namespace {

using Headers = QList<QPair<QByteArray, QByteArray>>;

const QByteArray kNoStore = QByteArrayLiteral("no-store");

enum class Path { Status, Metrics, Health, ServerList };

const char* pathText(Path p) {
    switch (p) {
    case Path::Status: return "/";
    case Path::Metrics: return "/metrics";
    case Path::Health: return "/healthz";
    case Path::ServerList: return "/servers.json";
    }
    return "/";
}

HttpEndpoint::Answer plain(int status, const QByteArray& text) {
    return {status, {{"Content-Type", "text/plain; charset=utf-8"}, {"Cache-Control", kNoStore}}, text};
}

QByteArray methodName(QHttpServerRequest::Method m) {
    switch (m) {
    case QHttpServerRequest::Method::Get: return "GET";
    case QHttpServerRequest::Method::Head: return "HEAD";
    case QHttpServerRequest::Method::Post: return "POST";
    case QHttpServerRequest::Method::Put: return "PUT";
    case QHttpServerRequest::Method::Delete: return "DELETE";
    case QHttpServerRequest::Method::Patch: return "PATCH";
    case QHttpServerRequest::Method::Options: return "OPTIONS";
    case QHttpServerRequest::Method::Trace: return "TRACE";
    case QHttpServerRequest::Method::Connect: return "CONNECT";
    default: return "OTHER";
    }
}

// Writes one answer: its Content-Type given to the response as its type, the
// other headers after it.
void send(QHttpServerResponder&& responder, const HttpEndpoint::Answer& a) {
    QByteArray type = "text/plain; charset=utf-8";
    for (const auto& h : a.headers)
        if (h.first == "Content-Type")
            type = h.second;
    QHttpServerResponse response(type, a.body, QHttpServerResponder::StatusCode(a.status));
    for (const auto& h : a.headers)
        if (h.first != "Content-Type")
            response.addHeader(h.first, h.second);
    response.addHeader(QByteArrayLiteral("X-Content-Type-Options"), QByteArrayLiteral("nosniff"));
    response.write(std::move(responder));
}

} // namespace

bool etagMatches(QByteArrayView ifNoneMatch, QByteArrayView etag) {
    for (QByteArrayView item : ifNoneMatch.toByteArray().split(',')) {
        item = item.trimmed();
        if (item == "*")
            return true;
        if (item.startsWith("W/"))
            item = item.sliced(2);
        if (!item.isEmpty() && item == etag)
            return true;
    }
    return false;
}

HttpEndpoint::HttpEndpoint(Registry& registry, qint64 startedAt, Clock now, HttpConnectionGuard::Limits limits,
                           QObject* parent)
    : QObject(parent), m_registry(registry), m_startedAt(startedAt),
      m_now(now ? std::move(now) : Clock([] { return QDateTime::currentSecsSinceEpoch(); })),
      m_listed(registry.clients()), m_guard(new HttpConnectionGuard(limits, this)),
      m_server(std::make_unique<QHttpServer>()) {
    for (Path p : {Path::Status, Path::Metrics, Path::Health, Path::ServerList}) {
        m_server->route(QString::fromLatin1(pathText(p)),
                        [this, p](const QHttpServerRequest& request, QHttpServerResponder&& responder) {
                            if (m_guard->overOutputLimit(responder.socket())) {
                                // Answers piling up unread: a client pipelining
                                // requests it never reads does not get more.
                                m_guard->dropLater(responder.socket());
                                return;
                            }
                            send(std::move(responder),
                                 answer(methodName(request.method()), pathText(p),
                                        request.value(QByteArrayLiteral("If-None-Match"))));
                        });
    }
    m_server->setMissingHandler([this](const QHttpServerRequest&, QHttpServerResponder&& responder) {
        if (m_guard->overOutputLimit(responder.socket())) {
            m_guard->dropLater(responder.socket());
            return;
        }
        send(std::move(responder), plain(404, "not found\n"));
    });
}

HttpEndpoint::~HttpEndpoint() = default;

bool HttpEndpoint::listen(const QHostAddress& address, quint16 port, QString* error) {
    if (!m_guard->listen(address, port)) {
        *error = QStringLiteral("cannot listen for HTTP on %1:%2: %3")
                     .arg(address.toString())
                     .arg(port)
                     .arg(m_guard->errorString());
        return false;
    }
    m_server->bind(m_guard);
    return true;
}

QHostAddress HttpEndpoint::address() const { return m_guard->serverAddress(); }
quint16 HttpEndpoint::port() const { return m_guard->serverPort(); }

QString HttpEndpoint::health() const {
    switch (m_registry.state()) {
    case Registry::State::Created: return QStringLiteral("starting");
    case Registry::State::ShuttingDown:
    case Registry::State::Ended: return QStringLiteral("shutting down");
    case Registry::State::Running: break;
    }
    if (!m_registry.databaseHealthy())
        return m_registry.databaseLost() || !m_registry.database().isOpen() ? QStringLiteral("database lost")
                                                                            : QStringLiteral("database unreachable");
    return QStringLiteral("ok");
}

QByteArray HttpEndpoint::metrics() {
    MetricsReadings r;
    r.version = QLatin1String(BuildVersion::kText);
    r.startTimeSeconds = double(m_startedAt);
    const SlotTable& table = m_registry.clients();
    for (int i = SlotTable::kFirstSlot; i <= SlotTable::kLastRegularSlot; ++i)
        if (table[i].InUse && table[i].Mode <= SessionMode::Server)
            ++r.connections[table[i].Mode];
    r.counters = m_registry.counters();
    r.accessesPerHour = m_registry.accessRate().perHour();
    if (m_registry.database().isOpen()) {
        r.accounts = m_registry.database().accounts().count();
        r.bans = m_registry.database().bans().count();
    }
    r.process = ProcessStats::read();
    return metricsText(r);
}

void HttpEndpoint::refreshJson() {
    const QList<ListedServer>& entries = m_listed.entries();
    if (m_jsonBuilt && m_listed.generation() == m_jsonGeneration)
        return;
    m_json = ::serverListJson(entries);
    m_etag = '"' + QCryptographicHash::hash(m_json, QCryptographicHash::Sha256).toHex().left(32) + '"';
    m_jsonGeneration = m_listed.generation();
    m_jsonBuilt = true;
}

const QByteArray& HttpEndpoint::serverListJson() {
    refreshJson();
    return m_json;
}

const QByteArray& HttpEndpoint::serverListEtag() {
    refreshJson();
    return m_etag;
}

HttpEndpoint::Answer HttpEndpoint::answer(QByteArrayView method, QByteArrayView path, QByteArrayView ifNoneMatch) {
    const bool known = path == "/" || path == "/metrics" || path == "/healthz" || path == "/servers.json";
    if (!known)
        return plain(404, "not found\n");
    if (method != "GET") {
        Answer a = plain(405, "method not allowed\n");
        a.headers.append(qMakePair(QByteArray("Allow"), QByteArray("GET")));
        return a;
    }
    if (path == "/metrics")
        return {200, {{"Content-Type", kMetricsContentType}, {"Cache-Control", kNoStore}}, metrics()};
    if (path == "/healthz") {
        const QString h = health();
        return plain(h == QLatin1String("ok") ? 200 : 503, h.toUtf8() + '\n');
    }
    if (path == "/servers.json") {
        const QByteArray& etag = serverListEtag();
        Headers headers{{"ETag", etag}, {"Cache-Control", "max-age=1"}};
        if (!ifNoneMatch.isEmpty() && etagMatches(ifNoneMatch, etag))
            return {304, headers, {}};
        headers.prepend({"Content-Type", "application/json"});
        return {200, headers, m_json};
    }
    StatusFacts facts;
    facts.version = QLatin1String(BuildVersion::kText);
    facts.connections = m_registry.connectionCount();
    facts.accessRate = m_registry.accessRateText();
    facts.uptimeSeconds = m_now() - m_startedAt;
    facts.health = health();
    return {200,
            {{"Content-Type", "text/html; charset=utf-8"},
             {"Cache-Control", kNoStore},
             {"Content-Security-Policy", "default-src 'none'; style-src 'unsafe-inline'; img-src 'none'"}},
            statusPage(facts, m_listed.entries())};
}
