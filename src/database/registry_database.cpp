#include "database/registry_database.h"

#include "database/database_file.h"
#include "database/database_url.h"
#include "database/postgres_schema.h"
#include "database/sqlite_schema.h"

#include <QFile>
#include <QSqlDatabase>
#include <QSqlError>
#include <QSqlQuery>
#include <QUuid>

RegistryDatabase::RegistryDatabase()
    : m_connectionName(QStringLiteral("tav-registry-") + QUuid::createUuid().toString(QUuid::WithoutBraces)) {}

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
    if (ok)
        ok = finishOpening(SqliteSchema::steps(), &failure);
    if (!ok) {
        if (error)
            *error = QStringLiteral("cannot open %1: %2").arg(m_path, failure);
        dropConnection();
        return false;
    }
    m_open = true;
    return true;
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
    m_open = true;
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

void RegistryDatabase::dropConnection() {
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
