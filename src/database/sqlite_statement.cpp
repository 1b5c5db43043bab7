#include "database/sqlite_statement.h"

#include <QSqlDatabase>
#include <QSqlDriver>
#include <sqlite3.h>

sqlite3* SqliteStatement::handleOf(const QSqlDatabase& db) {
    if (!db.isOpen() || !db.driver())
        return nullptr;
    const QVariant v = db.driver()->handle();
    if (!v.isValid() || qstrcmp(v.typeName(), "sqlite3*") != 0)
        return nullptr;
    return *static_cast<sqlite3* const*>(v.data());
}

bool SqliteStatement::prepare(sqlite3* db, const char* sql) {
    reset();
    if (!db)
        return false;
    if (sqlite3_prepare_v3(db, sql, -1, SQLITE_PREPARE_PERSISTENT, &m_stmt, nullptr) != SQLITE_OK) {
        sqlite3_finalize(m_stmt);
        m_stmt = nullptr;
        return false;
    }
    return true;
}

void SqliteStatement::reset() {
    if (m_stmt)
        sqlite3_finalize(m_stmt);
    m_stmt = nullptr;
}

bool SqliteStatement::runWith(const QString& text) {
    // UTF-16 in host order, as QString holds it; the engine stores UTF-8.
    sqlite3_bind_text16(m_stmt, 1, text.utf16(), int(text.size() * 2), SQLITE_TRANSIENT);
    return sqlite3_step(m_stmt) == SQLITE_ROW;
}

bool SqliteStatement::runWith(qint64 value) {
    sqlite3_bind_int64(m_stmt, 1, value);
    return sqlite3_step(m_stmt) == SQLITE_ROW;
}

bool SqliteStatement::runWithout() { return sqlite3_step(m_stmt) == SQLITE_ROW; }

void SqliteStatement::done() {
    sqlite3_reset(m_stmt);
    sqlite3_clear_bindings(m_stmt);
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
