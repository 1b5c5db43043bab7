#include "database/registry_database.h"

#include "database/database_file.h"
#include "database/database_url.h"
#include "database/postgres_call.h"
#include "database/postgres_schema.h"
#include "database/postgres_statement.h"
#include "database/sqlite_schema.h"
#include "database/store_failure.h"

#include <QFile>
#include <QSqlDatabase>
#include <QSqlError>
#include <QSqlQuery>
#include <QUuid>
#include <libpq-fe.h>
#include <sqlite3.h>

namespace {
// No statement may hold the registry's one thread for long; the server gives
// up on one before we give up on the server.
const QByteArray kStatementTimeout =
    "SET statement_timeout = " + QByteArray::number(PostgresCall::kStatementTimeoutMs);
} // namespace

RegistryDatabase::RegistryDatabase()
    : m_connectionName(QStringLiteral("tav-registry-") + QUuid::createUuid().toString(QUuid::WithoutBraces)),
      m_announcements([this] { m_bans.invalidate(); }),
      m_registryId(QUuid::createUuid().toString(QUuid::WithoutBraces)) {
    m_gate.fileIsOurs = [this] { return checkFile(); };
    m_gate.writeFailed = [this](StoreRefusal why) {
        if (m_failureSink)
            m_failureSink(StoreFailure::fromRefusal(why, QStringLiteral("The record already exists.")));
    };
}

RegistryDatabase::~RegistryDatabase() { close(); }

bool RegistryDatabase::open(const QString& dataDir, QString* error, QString* notice) {
    close();
    QString failure;
    if (!DatabaseFile::prepare(dataDir, SqliteSchema::steps().latest(), &failure, notice)) {
        if (error)
            *error = failure;
        return false;
    }
    m_path = DatabaseFile::databasePath(dataDir);
    // It holds passwords.
    QFile::setPermissions(m_path, QFileDevice::ReadOwner | QFileDevice::WriteOwner);

    m_description = m_path;
    m_server = false;

    bool ok = false;
    {
        QSqlDatabase db = QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"), m_connectionName);
        db.setDatabaseName(m_path);
        if (!db.open()) {
            failure = db.lastError().databaseText();
        } else {
            // Every statement is its own transaction, flushed before it
            // returns; a rollback journal (not WAL) keeps the file a single
            // file that can be compacted and renamed safely. The registry
            // keeps the file locked while it runs: a second registry on the
            // same folder cannot compact it away underneath, and no look-up
            // pays for taking and dropping a file lock.
            QSqlQuery q(db);
            ok = q.exec(QStringLiteral("PRAGMA locking_mode = EXCLUSIVE")) &&
                 q.exec(QStringLiteral("PRAGMA journal_mode = DELETE")) &&
                 q.exec(QStringLiteral("PRAGMA synchronous = FULL")) &&
                 q.exec(QStringLiteral("PRAGMA cache_size = -16384"));
            if (!ok)
                failure = q.lastError().databaseText();
        }
    }
    if (ok) {
        // The file as it is now, watched from here on; its expected length
        // comes from the engine's own page count.
        sqlite3* handle = SqliteStatement::handleOf(QSqlDatabase::database(m_connectionName, false));
        SqliteStatement pageSize;
        ok = m_watch.watch(m_path) && pageSize.prepare(handle, "PRAGMA page_size") && pageSize.next() &&
             m_pageCount.prepare(handle, "PRAGMA page_count");
        if (ok) {
            m_pageSize = pageSize.integer(0);
            m_sqliteHandle = handle;
            m_lengthKnown = false;
        }
        pageSize.done();
        if (!ok)
            failure = QStringLiteral("cannot watch the file");
    }
    if (ok)
        ok = finishOpening(SqliteSchema::steps(), &failure);
    if (!ok) {
        if (error)
            *error = QStringLiteral("cannot open %1: %2").arg(m_path, failure);
        dropConnection();
        return false;
    }
    markOpen();
    return true;
}

qint64 RegistryDatabase::expectedSize() {
    // The length moves only when the file's content does, and the engine
    // counts those changes (ours included) without a statement: an idle
    // registry asks for the page count once, not at every check.
    unsigned int version = 0;
    const bool counted =
        m_sqliteHandle && sqlite3_file_control(m_sqliteHandle, "main", SQLITE_FCNTL_DATA_VERSION, &version) == SQLITE_OK;
    if (counted && m_lengthKnown && version == m_lengthVersion)
        return m_expectedLength;
    const qint64 pages = m_pageCount.next() ? m_pageCount.integer(0) : 0;
    m_pageCount.done();
    m_expectedLength = pages * m_pageSize;
    m_lengthVersion = version;
    m_lengthKnown = counted;
    return m_expectedLength;
}

bool RegistryDatabase::checkFile() {
    if (m_lost)
        return false;
    // A database server keeps its own files; only qbrx.dat is watched.
    if (!m_open || m_server)
        return true;
    const QString why = m_watch.check(expectedSize());
    if (why.isEmpty())
        return true;
    m_lost = true;
    if (m_lostSink)
        m_lostSink(why);
    return false;
}

bool RegistryDatabase::openServer(const QString& connectionString, const QString& password, QString* error) {
    close();
    QString failure;
    const std::optional<DatabaseUrl> url = DatabaseUrl::parse(connectionString, &failure);
    if (!url) {
        if (error)
            *error = failure;
        return false;
    }
    m_path.clear();
    m_description = url->describe();
    m_server = true;

    bool ok = false;
    {
        QSqlDatabase db = QSqlDatabase::addDatabase(QStringLiteral("QPSQL"), m_connectionName);
        if (!db.isValid()) {
            failure = QStringLiteral("the QtSql PostgreSQL driver is not installed (libqt6sql6-psql)");
        } else {
            // The password goes apart from the options, where the driver
            // quotes it whatever it holds.
            db.setConnectOptions(url->connectOptions().join(QLatin1Char(';')));
            const QString given = password.isEmpty() ? url->password() : password;
            if (!given.isEmpty())
                db.setPassword(given);
            if (!db.open()) {
                failure = db.lastError().databaseText().trimmed();
            } else {
                QSqlQuery q(db);
                ok = q.exec(QString::fromLatin1(kStatementTimeout));
                if (!ok)
                    failure = q.lastError().databaseText().trimmed();
            }
        }
    }
    if (ok)
        ok = finishOpening(PostgresSchema::steps(), &failure) && prepareShared(&failure);
    if (!ok) {
        if (error)
            *error = QStringLiteral("cannot open the %1: %2").arg(m_description, failure);
        dropConnection();
        return false;
    }
    markOpen();
    m_connected = true;
    m_ticked = false;
    m_retryMs = kFirstRetryMs;
    return true;
}

bool RegistryDatabase::prepareShared(QString* failure) {
    // Kept: the driver no longer hands it out once the connection is lost.
    m_serverHandle = PostgresStatement::handleOf(QSqlDatabase::database(m_connectionName, false));
    if (!m_presence.attach(m_connectionName, m_registryId, m_leaseSeconds) || !m_presence.renew()) {
        *failure = QStringLiteral("the table Presence does not have the columns this program uses");
        return false;
    }
    m_presence.sweep();
    m_bans.keepInMemory(true);
    // Without announcements the bans are read every few seconds instead.
    m_announcements.listen(m_serverHandle);
    return true;
}

bool RegistryDatabase::isReachable() const {
    if (!m_open || !m_server)
        return true;
    // Back only once the statements and the lease are, not when the
    // handshake alone is through.
    return m_connected && m_serverHandle && PQstatus(m_serverHandle) == CONNECTION_OK;
}

bool RegistryDatabase::finishReconnecting() {
    pg_conn* handle = m_serverHandle;
    if (!handle || PQstatus(handle) != CONNECTION_OK)
        return false;
    // What the server held for the connection (prepared statements,
    // settings) is gone with the old one.
    PGresult* r = PostgresCall::exec(handle, kStatementTimeout.constData());
    const bool set = r && PQresultStatus(r) == PGRES_COMMAND_OK;
    PQclear(r);
    QString failure;
    if (!set || !m_accounts.attach(m_connectionName) || !m_bans.attach(m_connectionName) ||
        !prepareShared(&failure))
        return false;
    return true;
}

bool RegistryDatabase::tick(quint32 nowMs) {
    if (!m_open || !m_server)
        return false;
    if (!m_ticked) {
        m_ticked = true;
        m_lastRenewal = m_lastBanReread = m_lastAttempt = nowMs;
    }
    if (m_connected && !isReachable()) {
        m_connected = false;
        m_lastAttempt = nowMs;
        m_retryMs = kFirstRetryMs;
        m_announcements.stop();
        if (m_connectionSink)
            m_connectionSink(NoticeSeverity::Error,
                             QStringLiteral("lost the connection to the %1: logins and registrations are closed "
                                            "until it is back; reconnecting").arg(m_description));
    }
    if (!m_connected) {
        if (m_reset.state() == PostgresHandshake::State::Running && nowMs - m_lastAttempt >= kConnectDeadlineMs)
            m_reset.abandon();
        switch (m_reset.state()) {
        case PostgresHandshake::State::Running:
            return false;
        case PostgresHandshake::State::Idle:
            if (nowMs - m_lastAttempt < m_retryMs)
                return false;
            // The same libpq connection, opened anew with its parameters,
            // step by step as its socket is ready.
            m_lastAttempt = nowMs;
            m_reset.startReset(m_serverHandle);
            if (m_reset.state() == PostgresHandshake::State::Running)
                return false;
            break;
        case PostgresHandshake::State::Done:
        case PostgresHandshake::State::Failed:
            break;
        }
        const bool back = m_reset.state() == PostgresHandshake::State::Done && finishReconnecting();
        m_reset.clear();
        if (!back) {
            // The next attempt counts from the end of this one.
            m_lastAttempt = nowMs;
            m_retryMs = qMin(m_retryMs * 2, kLastRetryMs);
            return false;
        }
        m_connected = true;
        m_retryMs = kFirstRetryMs;
        m_lastRenewal = m_lastBanReread = nowMs;
        m_bans.invalidate();
        if (m_connectionSink)
            m_connectionSink(NoticeSeverity::Info, QStringLiteral("connected again to the %1").arg(m_description));
        return true;
    }
    if (nowMs - m_lastRenewal >= quint32(m_leaseSeconds) * 1000 / 3) {
        m_lastRenewal = nowMs;
        m_presence.renew();
        m_presence.sweep();
    }
    // A connection still making its way in has until the next re-read.
    if (nowMs - m_lastBanReread >= kBanRereadMs && !m_announcements.isListening()) {
        m_lastBanReread = nowMs;
        m_bans.invalidate();
        m_announcements.listen(m_serverHandle);
    }
    return false;
}

bool RegistryDatabase::finishOpening(const Schema::EngineSteps& steps, QString* failure) {
    {
        QSqlDatabase db = QSqlDatabase::database(m_connectionName, false);
        if (!Schema::bringUpToDate(db, steps, failure))
            return false;
    }
    if (!(m_accounts.attach(m_connectionName) && m_bans.attach(m_connectionName))) {
        *failure = QStringLiteral("the tables Servers and Bans do not have the columns this program uses");
        m_accounts.detach();
        m_bans.detach();
        return false;
    }
    return true;
}

void RegistryDatabase::markOpen() {
    m_lost = false;
    m_accounts.setWriteGate(&m_gate);
    m_bans.setWriteGate(&m_gate);
    m_presence.setWriteGate(&m_gate);
    m_open = true;
}

void RegistryDatabase::dropConnection() {
    m_reset.clear();
    m_serverHandle = nullptr;
    m_pageCount.finalize();
    m_sqliteHandle = nullptr;
    m_lengthKnown = false;
    m_watch.release();
    {
        QSqlDatabase db = QSqlDatabase::database(m_connectionName, false);
        db.close();
    }
    QSqlDatabase::removeDatabase(m_connectionName);
}

void RegistryDatabase::close() {
    if (!m_open)
        return;
    // A clean end gives the accounts online here back at once.
    if (isReachable())
        m_presence.leave();
    m_announcements.stop();
    m_presence.detach();
    m_bans.keepInMemory(false);
    m_accounts.detach();
    m_bans.detach();
    dropConnection();
    m_open = false;
}
