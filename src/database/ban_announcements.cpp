#include "database/ban_announcements.h"

#include "database/postgres_schema.h"
#include "database/postgres_statement.h"

#include <QSocketNotifier>
#include <QSqlDatabase>
#include <QUuid>
#include <libpq-fe.h>

BanAnnouncements::BanAnnouncements(std::function<void()> heard)
    : m_heard(std::move(heard)),
      m_name(QStringLiteral("tav-bans-") + QUuid::createUuid().toString(QUuid::WithoutBraces)) {}

BanAnnouncements::~BanAnnouncements() { stop(); }

bool BanAnnouncements::listen(const QString& connectionName) {
    stop();
    bool ok = false;
    {
        QSqlDatabase db = QSqlDatabase::cloneDatabase(connectionName, m_name);
        if (db.open()) {
            m_connection = PostgresStatement::handleOf(db);
            PGresult* r = m_connection ? PQexec(m_connection, (QByteArray("LISTEN ") +
                                                               PostgresSchema::kBansChannel).constData())
                                       : nullptr;
            ok = r && PQresultStatus(r) == PGRES_COMMAND_OK;
            PQclear(r);
        }
    }
    if (!ok) {
        stop();
        return false;
    }
    m_notifier = std::make_unique<QSocketNotifier>(PQsocket(m_connection), QSocketNotifier::Read);
    QObject::connect(m_notifier.get(), &QSocketNotifier::activated, m_notifier.get(), [this] { onReadable(); });
    return true;
}

void BanAnnouncements::stop() {
    // The notifier goes first: the socket may be closed with the connection.
    // It may be the one whose signal is being handled, so it goes later.
    if (m_notifier) {
        m_notifier->setEnabled(false);
        m_notifier.release()->deleteLater();
    }
    m_connection = nullptr;
    {
        QSqlDatabase db = QSqlDatabase::database(m_name, false);
        db.close();
    }
    QSqlDatabase::removeDatabase(m_name);
}

bool BanAnnouncements::isListening() {
    if (m_connection && PQstatus(m_connection) == CONNECTION_OK)
        return true;
    if (m_connection)
        stop();
    return false;
}

void BanAnnouncements::onReadable() {
    if (!m_connection)
        return;
    const bool read = PQconsumeInput(m_connection) == 1;
    bool any = false;
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
