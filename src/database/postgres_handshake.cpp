#include "database/postgres_handshake.h"

#include <QSocketNotifier>
#include <libpq-fe.h>

PostgresHandshake::PostgresHandshake() = default;

PostgresHandshake::~PostgresHandshake() {
    m_finished = nullptr;
    abandon();
}

void PostgresHandshake::startReset(PGconn* connection) {
    start(connection, true, connection && PQresetStart(connection));
}

void PostgresHandshake::startNew(PGconn* connection) {
    start(connection, false, connection && PQstatus(connection) != CONNECTION_BAD);
}

void PostgresHandshake::start(PGconn* connection, bool reset, bool started) {
    clear();
    m_connection = connection;
    m_reset = reset;
    if (!started) {
        finish(State::Failed);
        return;
    }
    m_state = State::Running;
    // libpq asks to be polled first once the socket can be written.
    watch(PQsocket(connection), true);
}

void PostgresHandshake::abandon() {
    // The notifier may be the one whose signal is being handled: it goes later.
    if (m_notifier) {
        m_notifier->setEnabled(false);
        m_notifier.release()->deleteLater();
    }
    if (m_state == State::Running)
        m_state = State::Failed;
}

void PostgresHandshake::clear() {
    abandon();
    m_state = State::Idle;
    m_connection = nullptr;
}

void PostgresHandshake::finish(State state) {
    abandon();
    m_state = state;
    if (m_finished)
        m_finished();
}

void PostgresHandshake::watch(int socket, bool forWriting) {
    const QSocketNotifier::Type type = forWriting ? QSocketNotifier::Write : QSocketNotifier::Read;
    if (m_notifier && m_notifier->socket() == socket && m_notifier->type() == type)
        return;
    if (m_notifier) {
        m_notifier->setEnabled(false);
        m_notifier.release()->deleteLater();
    }
    if (socket < 0) {
        finish(State::Failed);
        return;
    }
    m_notifier = std::make_unique<QSocketNotifier>(qintptr(socket), type);
    QObject::connect(m_notifier.get(), &QSocketNotifier::activated, m_notifier.get(), [this] { step(); });
}

void PostgresHandshake::step() {
    if (m_state != State::Running)
        return;
    switch (m_reset ? PQresetPoll(m_connection) : PQconnectPoll(m_connection)) {
    case PGRES_POLLING_OK:
        finish(State::Done);
        return;
    case PGRES_POLLING_READING:
        watch(PQsocket(m_connection), false);
        return;
    case PGRES_POLLING_WRITING:
        watch(PQsocket(m_connection), true);
        return;
    default:
        finish(State::Failed);
        return;
    }
}
