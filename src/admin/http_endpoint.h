#pragma once

#include "admin/http_connection_guard.h"
#include "protocol/listed_servers.h"

#include <QByteArray>
#include <QHostAddress>
#include <QList>
#include <QObject>
#include <QPair>

#include <functional>
#include <memory>

class QHttpServer;
class Registry;

// The optional HTTP listener: /metrics for Prometheus, /healthz, the online
// servers as /servers.json and a status page at /. It only reads the registry.
// Everything runs on the registry's thread, in its event loop.
class HttpEndpoint : public QObject {
    Q_OBJECT
public:
    using Clock = std::function<qint64()>; // seconds since the Unix epoch

    // `startedAt` is when the registry started; `now` is replaceable for tests.
    HttpEndpoint(Registry& registry, qint64 startedAt, Clock now = {},
                 HttpConnectionGuard::Limits limits = {}, QObject* parent = nullptr);
    ~HttpEndpoint() override;

    // Binds ADDRESS:PORT (0: a free port). False with the reason.
    bool listen(const QHostAddress& address, quint16 port, QString* error);
    QHostAddress address() const;
    quint16 port() const;
    const HttpConnectionGuard& guard() const { return *m_guard; }

    struct Answer {
        int status = 200;
        QList<QPair<QByteArray, QByteArray>> headers;
        QByteArray body;
    };
    // The answer to one request, apart from the transport so that tests can
    // ask without a socket. `ifNoneMatch` is that header's value.
    Answer answer(QByteArrayView method, QByteArrayView path, QByteArrayView ifNoneMatch);

    // "ok", or why the registry is not healthy.
    QString health() const;
    QByteArray metrics();
    // The JSON list and its ETag, rebuilt only when the list changed.
    const QByteArray& serverListJson();
    const QByteArray& serverListEtag();

private:
    void refreshJson();

    Registry& m_registry;
    qint64 m_startedAt;
    Clock m_now;
    ListedServers m_listed;
    HttpConnectionGuard* m_guard;
    std::unique_ptr<QHttpServer> m_server;
    QByteArray m_json;
    QByteArray m_etag;
    quint64 m_jsonGeneration = 0;
    bool m_jsonBuilt = false;
};

// Whether an If-None-Match value names `etag` (a list, weak forms and "*" included).
bool etagMatches(QByteArrayView ifNoneMatch, QByteArrayView etag);
