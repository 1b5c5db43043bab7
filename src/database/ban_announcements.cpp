#include "database/ban_announcements.h"

#include "database/postgres_schema.h"

#include <QSocketNotifier>
#include <libpq-fe.h>
#include <vector>

BanAnnouncements::BanAnnouncements(std::function<void()> heard) : m_heard(std::move(heard)) {
    m_handshake.setFinished([this] { onConnected(); });
}

BanAnnouncements::~BanAnnouncements() { stop(); }

bool BanAnnouncements::listen(PGconn* like) {
    stop();
    PQconninfoOption* options = like ? PQconninfo(like) : nullptr;
    if (!options)
        return false;
    std::vector<const char*> keys, values;
    for (PQconninfoOption* o = options; o->keyword; ++o) {
        if (o->val) {
            keys.push_back(o->keyword);
            values.push_back(o->val);
        }
    }
    keys.push_back(nullptr);
    values.push_back(nullptr);
    m_connection = PQconnectStartParams(keys.data(), values.data(), 0);
    PQconninfoFree(options);
    m_handshake.startNew(m_connection);
    return m_connection != nullptr && m_handshake.state() != PostgresHandshake::State::Failed;
}

void BanAnnouncements::onConnected() {
    if (m_handshake.state() != PostgresHandshake::State::Done ||
        !PQsendQuery(m_connection, (QByteArray("LISTEN ") + PostgresSchema::kBansChannel).constData())) {
        // Given up here; isListening() says so and the caller starts again.
        return;
    }
    m_listening = true;
    m_confirmed = false;
    m_notifier = std::make_unique<QSocketNotifier>(PQsocket(m_connection), QSocketNotifier::Read);
    QObject::connect(m_notifier.get(), &QSocketNotifier::activated, m_notifier.get(), [this] { onReadable(); });
}

void BanAnnouncements::stop() {
    m_handshake.clear();
    // The notifier goes first: the socket is closed with the connection.
    // It may be the one whose signal is being handled, so it goes later.
    if (m_notifier) {
        m_notifier->setEnabled(false);
        m_notifier.release()->deleteLater();
    }
    if (m_connection)
        PQfinish(m_connection);
    m_connection = nullptr;
    m_listening = false;
    m_confirmed = false;
}

bool BanAnnouncements::isListening() {
    if (m_listening && PQstatus(m_connection) == CONNECTION_OK)
        return true;
    if (m_connection)
        stop();
    return false;
}

void BanAnnouncements::onReadable() {
    if (!m_listening)
        return;
    const bool read = PQconsumeInput(m_connection) == 1;
    bool any = false;
    // The answer to LISTEN; results never block once libpq is not busy.
    while (!PQisBusy(m_connection)) {
        PGresult* r = PQgetResult(m_connection);
        if (!r)
            break;
        if (PQresultStatus(r) == PGRES_COMMAND_OK && !m_confirmed) {
            m_confirmed = true;
            any = true;
        }
        PQclear(r);
    }
    while (PGnotify* n = PQnotifies(m_connection)) {
        any = true;
        PQfreemem(n);
    }
    // At the end of the socket (the server went away) the connection is
    // given up at once: a closed socket must not be watched.
    if (!read || PQstatus(m_connection) != CONNECTION_OK)
        stop();
    if (any && m_heard)
        m_heard();
}
