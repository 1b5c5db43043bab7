#pragma once

#include <QDate>
#include <QString>
#include <optional>

struct sqlite3;
struct sqlite3_stmt;
class QSqlDatabase;

// One statement prepared once on the engine handle under a QtSql connection,
// then bound, run and read as often as needed. The record sets run every
// look-up and change through it: QtSql rebuilds its column description on
// every execution, which costs more than the look-up itself.
//
// Use: bind parameters (1-based), then either next() for each row and done(),
// or execute() for a change (which resets by itself).
class SqliteStatement {
public:
    // What a change did: the engine's extended result code (SQLITE_DONE when
    // it ran), how many rows it touched and the key of a row it inserted.
    struct Outcome {
        int code = 0;
        int changes = 0;
        qint64 insertedKey = 0;
        bool ran() const;
    };

    SqliteStatement() = default;
    ~SqliteStatement() { finalize(); }
    SqliteStatement(const SqliteStatement&) = delete;
    SqliteStatement& operator=(const SqliteStatement&) = delete;

    // The engine handle of an open QSQLITE connection, or null.
    static sqlite3* handleOf(const QSqlDatabase& db);

    bool prepare(sqlite3* db, const char* sql);
    bool isPrepared() const { return m_stmt != nullptr; }
    void finalize();

    // A null QString is bound as the empty text: the empty text must stay a text.
    void bindText(int index, const QString& value);
    void bindInteger(int index, qint64 value);
    void bindNull(int index);
    void bindOptionalText(int index, const std::optional<QString>& value);
    void bindOptionalInteger(int index, const std::optional<int>& value);
    void bindOptionalDate(int index, const std::optional<QDate>& value); // ISO day

    bool next();        // steps once; true when a row came back
    void done();        // resets and clears the bindings
    Outcome execute();  // runs to the end, then done()

    QString text(int column) const;   // NULL gives a null QString
    bool isNull(int column) const;
    qint64 integer(int column) const;
    std::optional<QString> optionalText(int column) const;
    std::optional<int> optionalInteger(int column) const;
    std::optional<QDate> optionalDate(int column) const; // NULL or not an ISO day gives nothing

private:
    sqlite3_stmt* m_stmt = nullptr;
};
