#pragma once

#include <QString>
#include <QVariant>

struct sqlite3;
struct sqlite3_stmt;
class QSqlDatabase;

// One prepared statement straight on the engine handle under a QtSql
// connection. Used for the look-ups that run on every login and accept:
// QtSql rebuilds its column description on every execution, which costs more
// than the look-up itself.
class SqliteStatement {
public:
    SqliteStatement() = default;
    ~SqliteStatement() { reset(); }
    SqliteStatement(const SqliteStatement&) = delete;
    SqliteStatement& operator=(const SqliteStatement&) = delete;

    // The engine handle of an open QSQLITE connection, or null.
    static sqlite3* handleOf(const QSqlDatabase& db);

    bool prepare(sqlite3* db, const char* sql);
    bool isPrepared() const { return m_stmt != nullptr; }
    void reset(); // finalizes

    // Binds parameter 1 and steps once; true when a row came back. Call done()
    // when finished reading the row.
    bool runWith(const QString& text);
    bool runWith(qint64 value);
    bool runWithout();
    void done();

    QString text(int column) const;   // NULL gives a null QString
    bool isNull(int column) const;
    qint64 integer(int column) const;

private:
    sqlite3_stmt* m_stmt = nullptr;
};
