#include "database/registry_database.h"

#include "database/database_file.h"
#include "database/database_url.h"
#include "database/postgres_schema.h"
#include "database/sqlite_schema.h"
#include "database/store_failure.h"

#include <QFile>
#include <QSqlDatabase>
#include <QSqlError>
#include <QSqlQuery>
#include <QUuid>

RegistryDatabase::RegistryDatabase()
    : m_connectionName(QStringLiteral("tav-registry-") + QUuid::createUuid().toString(QUuid::WithoutBraces)) {
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
        if (ok)
            m_pageSize = pageSize.integer(0);
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
    const qint64 pages = m_pageCount.next() ? m_pageCount.integer(0) : 0;
    m_pageCount.done();
    return pages * m_pageSize;
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
                // No statement may hold the registry's one thread for long.
                QSqlQuery q(db);
                ok = q.exec(QStringLiteral("SET statement_timeout = 10000"));
                if (!ok)
                    failure = q.lastError().databaseText().trimmed();
            }
        }
    }
    if (ok)
        ok = finishOpening(PostgresSchema::steps(), &failure);
    if (!ok) {
        if (error)
            *error = QStringLiteral("cannot open the %1: %2").arg(m_description, failure);
        dropConnection();
        return false;
    }
    markOpen();
    return true;
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
    m_open = true;
}

void RegistryDatabase::dropConnection() {
    m_pageCount.finalize();
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
    m_accounts.detach();
    m_bans.detach();
    dropConnection();
    m_open = false;
}
