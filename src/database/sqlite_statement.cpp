#include "database/sqlite_statement.h"

#include <QSqlDatabase>
#include <QSqlDriver>
#include <QVariant>
#include <sqlite3.h>

StoreRefusal SqliteStatement::refusalOf(int extendedCode) {
    switch (extendedCode) {
    case SQLITE_DONE:
        return StoreRefusal::None;
    case SQLITE_CONSTRAINT_PRIMARYKEY:
    case SQLITE_CONSTRAINT_UNIQUE:
        return StoreRefusal::Duplicate;
    case SQLITE_CONSTRAINT_NOTNULL:
        return StoreRefusal::MissingValue;
    case SQLITE_READONLY_DBMOVED:
        return StoreRefusal::FileLost;
    default:
        break;
    }
    switch (extendedCode & 0xFF) {
    case SQLITE_CONSTRAINT:
        return StoreRefusal::DoesNotFit;
    case SQLITE_FULL:
        return StoreRefusal::DiskFull;
    case SQLITE_READONLY:
    case SQLITE_PERM:
    case SQLITE_AUTH:
        return StoreRefusal::FileNotWritable;
    case SQLITE_BUSY:
    case SQLITE_LOCKED:
        return StoreRefusal::Busy;
    case SQLITE_IOERR:
    case SQLITE_CORRUPT:
    case SQLITE_NOTADB:
    case SQLITE_CANTOPEN:
        return StoreRefusal::Unreadable;
    default:
        return StoreRefusal::Other;
    }
}

sqlite3* SqliteStatement::handleOf(const QSqlDatabase& db) {
    if (!db.isOpen() || !db.driver())
        return nullptr;
    const QVariant v = db.driver()->handle();
    if (!v.isValid() || qstrcmp(v.typeName(), "sqlite3*") != 0)
        return nullptr;
    return *static_cast<sqlite3* const*>(v.data());
}

bool SqliteStatement::prepare(sqlite3* db, const char* sql) {
    finalize();
    if (!db)
        return false;
    if (sqlite3_prepare_v3(db, sql, -1, SQLITE_PREPARE_PERSISTENT, &m_stmt, nullptr) != SQLITE_OK) {
        sqlite3_finalize(m_stmt);
        m_stmt = nullptr;
        return false;
    }
    return true;
}

void SqliteStatement::finalize() {
    if (m_stmt)
        sqlite3_finalize(m_stmt);
    m_stmt = nullptr;
}

void SqliteStatement::bindText(int index, const QString& value) {
    // UTF-16 in host order, as QString holds it; the engine stores UTF-8.
    static const char16_t empty = 0;
    const void* data = value.isNull() ? static_cast<const void*>(&empty) : value.utf16();
    sqlite3_bind_text16(m_stmt, index, data, int(value.size() * 2), SQLITE_TRANSIENT);
}

void SqliteStatement::bindInteger(int index, qint64 value) { sqlite3_bind_int64(m_stmt, index, value); }

void SqliteStatement::bindNull(int index) { sqlite3_bind_null(m_stmt, index); }

bool SqliteStatement::next() { return m_stmt && sqlite3_step(m_stmt) == SQLITE_ROW; }

void SqliteStatement::done() {
    if (!m_stmt)
        return;
    sqlite3_reset(m_stmt);
    sqlite3_clear_bindings(m_stmt);
}

SqliteStatement::Outcome SqliteStatement::execute() {
    Outcome outcome;
    if (!m_stmt)
        return outcome;
    int rc = sqlite3_step(m_stmt);
    while (rc == SQLITE_ROW)
        rc = sqlite3_step(m_stmt);
    sqlite3* db = sqlite3_db_handle(m_stmt);
    // The extended code tells a CHECK from a UNIQUE refusal.
    outcome.refusal = refusalOf(rc == SQLITE_DONE ? rc : sqlite3_extended_errcode(db));
    if (rc == SQLITE_DONE) {
        outcome.changes = sqlite3_changes(db);
        outcome.insertedKey = sqlite3_last_insert_rowid(db);
    }
    done();
    return outcome;
}

QString SqliteStatement::text(int column) const {
    if (sqlite3_column_type(m_stmt, column) == SQLITE_NULL)
        return QString();
    // Ask for the text form (numbers written by other tools come back as their digits).
    const auto* t = reinterpret_cast<const char*>(sqlite3_column_text(m_stmt, column));
    const int n = sqlite3_column_bytes(m_stmt, column);
    return t ? QString::fromUtf8(t, n) : QString(QLatin1String(""));
}

bool SqliteStatement::isNull(int column) const { return sqlite3_column_type(m_stmt, column) == SQLITE_NULL; }

qint64 SqliteStatement::integer(int column) const { return sqlite3_column_int64(m_stmt, column); }
