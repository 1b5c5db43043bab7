#include "database/store_engine.h"

#include "database/postgres_statement.h"
#include "database/sqlite_statement.h"

#include <QSqlDatabase>

std::optional<StoreEngine> StoreEngine::of(const QString& connectionName) {
    const QSqlDatabase db = QSqlDatabase::database(connectionName, false);
    if (sqlite3* handle = SqliteStatement::handleOf(db))
        return StoreEngine(Kind::Sqlite, handle);
    if (pg_conn* handle = PostgresStatement::handleOf(db))
        return StoreEngine(Kind::Postgres, handle);
    return std::nullopt;
}

std::unique_ptr<StoreStatement> StoreEngine::prepare(const char* sqliteSql, const char* postgresSql) const {
    if (m_kind == Kind::Sqlite) {
        auto statement = std::make_unique<SqliteStatement>();
        if (statement->prepare(static_cast<sqlite3*>(m_handle), sqliteSql))
            return statement;
        return nullptr;
    }
    auto statement = std::make_unique<PostgresStatement>();
    if (statement->prepare(static_cast<pg_conn*>(m_handle), postgresSql))
        return statement;
    return nullptr;
}
