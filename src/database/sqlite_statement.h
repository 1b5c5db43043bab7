#pragma once

#include "database/store_statement.h"

struct sqlite3;
struct sqlite3_stmt;
class QSqlDatabase;

// A statement prepared once on the engine handle under a QSQLITE connection:
// QtSql rebuilds its column description on every execution, which costs more
// than the look-up itself.
class SqliteStatement final : public StoreStatement {
public:
    SqliteStatement() = default;
    ~SqliteStatement() override { finalize(); }

    // The engine handle of an open QSQLITE connection, or null.
    static sqlite3* handleOf(const QSqlDatabase& db);
    // What an extended result code means for the registry.
    static StoreRefusal refusalOf(int extendedCode);

    bool prepare(sqlite3* db, const char* sql);
    bool isPrepared() const override { return m_stmt != nullptr; }
    void finalize() override;

    void bindText(int index, const QString& value) override;
    void bindInteger(int index, qint64 value) override;
    void bindNull(int index) override;

    bool next() override;
    void done() override;
    Outcome execute() override;

    QString text(int column) const override;
    bool isNull(int column) const override;
    qint64 integer(int column) const override;

private:
    sqlite3_stmt* m_stmt = nullptr;
};
