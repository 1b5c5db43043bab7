#pragma once

#include "admin/http_endpoint.h"
#include "doubles/manual_tick_clock.h"
#include "doubles/memory_socket_layer.h"
#include "host/registry.h"
#include "protocol/listed_servers.h"

#include <QByteArray>
#include <QList>
#include <QString>

#include <memory>

// A registry with its HTTP endpoint listening on loopback, for the HTTP
// fuzz target: one of each per process. For every input, up to three game
// servers come online with texts of the input's choosing, then one caller
// connects to the endpoint, sends the rest of the input as raw bytes and
// reads until the endpoint has nothing more to say. What came back is then
// checked (http_request_target.cpp).
class HttpRequestRig {
public:
    static constexpr int kMaxServers = 3;
    // A caller that has said all it will say must have its answers by then.
    static constexpr int kExchangeDeadlineMs = 5000;

    explicit HttpRequestRig(const QString& dataDir);
    ~HttpRequestRig();
    HttpRequestRig(const HttpRequestRig&) = delete;
    HttpRequestRig& operator=(const HttpRequestRig&) = delete;

    struct Exchange {
        QByteArray request;        // the bytes sent
        QByteArray response;       // everything received until the end
        bool reset = false;        // the endpoint dropped the connection (RST)
        QList<ListedServer> listed; // the servers online meanwhile, in list order
        int connections = 0;       // ConnectionCount meanwhile
        QByteArray etag;           // the list's ETag meanwhile
    };

    // The input: one byte (bits 0-1: how many servers, at most three; bit 7:
    // the request goes in two parts, the endpoint running between them),
    // then for each server a length byte and that many bytes of each of its
    // user name (up to 15), server name (up to 63), description (up to 255)
    // and update address (up to 63), then its player count and official
    // mark (bit 0). The rest is the request.
    Exchange run(QByteArrayView input);

    const HttpEndpoint& endpoint() const { return *m_endpoint; }

private:
    // Reads the servers from the input; returns where the request begins.
    qsizetype bringServersOnline(QByteArrayView input);
    void takeServersOffline();
    bool endpointIdle() const;
    QByteArray converse(const QByteArray& request, bool split, bool* reset);

    MemorySocketLayer m_net;
    ManualTickClock m_clock;
    std::unique_ptr<Registry> m_registry;
    std::unique_ptr<HttpEndpoint> m_endpoint;
};
