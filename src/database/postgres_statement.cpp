#include "database/postgres_statement.h"

#include "database/postgres_call.h"

#include <QSqlDatabase>
#include <QSqlDriver>
#include <QVariant>
#include <cstring>
#include <libpq-fe.h>

pg_conn* PostgresStatement::handleOf(const QSqlDatabase& db) {
    if (!db.isOpen() || !db.driver())
        return nullptr;
    const QVariant v = db.driver()->handle();
    // The driver declares it by libpq's struct name.
    if (!v.isValid() || (qstrcmp(v.typeName(), "pg_conn*") != 0 && qstrcmp(v.typeName(), "PGconn*") != 0))
        return nullptr;
    return *static_cast<PGconn* const*>(v.data());
}

StoreRefusal PostgresStatement::refusalOf(const char* sqlState) {
    if (!sqlState || std::strlen(sqlState) != 5)
        return StoreRefusal::Unreachable;
    const QByteArray code(sqlState);
    if (code == "23505")
        return StoreRefusal::Duplicate;
    if (code == "23502")
        return StoreRefusal::MissingValue;
    // A CHECK, and values the column's type cannot hold: too long, out of
    // range, not a date, not text in the encoding.
    if (code == "23514" || code.startsWith("22"))
        return StoreRefusal::DoesNotFit;
    if (code == "53100")
        return StoreRefusal::DiskFull;
    if (code == "42501" || code == "25006")
        return StoreRefusal::NotPermitted;
    // Deadlock, a lock not available, a statement given up after its time-out.
    if (code == "40P01" || code == "55P03" || code == "57014")
        return StoreRefusal::Busy;
    if (code.startsWith("08") || code == "57P01" || code == "57P02" || code == "57P03")
        return StoreRefusal::Unreachable;
    return StoreRefusal::Other;
}

QByteArray PostgresStatement::numberedPlaceholders(const char* sql, int* count) {
    QByteArray out;
    int n = 0;
    char quote = 0;
    for (const char* p = sql; *p; ++p) {
        if (quote) {
            if (*p == quote)
                quote = 0;
            out.append(*p);
        } else if (*p == '\'' || *p == '"') {
            quote = *p;
            out.append(*p);
        } else if (*p == '?') {
            out.append('$').append(QByteArray::number(++n));
        } else {
            out.append(*p);
        }
    }
    if (count)
        *count = n;
    return out;
}

bool PostgresStatement::prepare(pg_conn* connection, const char* sql) {
    finalize();
    if (!connection || PQstatus(connection) != CONNECTION_OK)
        return false;
    int count = 0;
    const QByteArray text = numberedPlaceholders(sql, &count);
    // Unique on the connection for as long as this object lives.
    m_name = "tav_" + QByteArray::number(quintptr(this), 16);
    PGresult* r = PQsendPrepare(connection, m_name.constData(), text.constData(), count, nullptr)
                      ? PostgresCall::awaitResult(connection)
                      : nullptr;
    const bool ok = r && PQresultStatus(r) == PGRES_COMMAND_OK;
    PQclear(r);
    if (!ok)
        return false;
    m_connection = connection;
    m_values.assign(size_t(count), QByteArray());
    m_isNull.assign(size_t(count), true);
    return true;
}

void PostgresStatement::finalize() {
    done();
    if (m_connection)
        PQclear(PostgresCall::exec(m_connection, ("DEALLOCATE " + m_name).constData()));
    m_connection = nullptr;
    m_values.clear();
    m_isNull.clear();
}

void PostgresStatement::setValue(int index, const QByteArray* value) {
    if (index < 1 || size_t(index) > m_values.size())
        return;
    m_isNull[size_t(index - 1)] = value == nullptr;
    m_values[size_t(index - 1)] = value ? *value : QByteArray();
}

void PostgresStatement::bindText(int index, const QString& value) {
    const QByteArray utf8 = value.toUtf8();
    // Values travel as C strings; the server's text cannot hold a NUL either.
    if (utf8.contains('\0'))
        m_unbindable = true;
    setValue(index, &utf8);
}

void PostgresStatement::bindInteger(int index, qint64 value) {
    const QByteArray digits = QByteArray::number(value);
    setValue(index, &digits);
}

void PostgresStatement::bindNull(int index) { setValue(index, nullptr); }

StoreRefusal PostgresStatement::run() {
    m_failed = !m_connection;
    if (!m_connection)
        return StoreRefusal::Other;
    if (m_unbindable)
        return StoreRefusal::DoesNotFit;
    std::vector<const char*> values(m_values.size());
    for (size_t i = 0; i < m_values.size(); ++i)
        values[i] = m_isNull[i] ? nullptr : m_values[i].constData();
    // Once the connection is lost nothing is sent: the registry reconnects.
    m_ran = true;
    if (PQstatus(m_connection) != CONNECTION_OK) {
        m_failed = true;
        return StoreRefusal::Unreachable;
    }
    if (PQsendQueryPrepared(m_connection, m_name.constData(), int(values.size()), values.data(), nullptr, nullptr,
                            0))
        m_result = PostgresCall::awaitResult(m_connection);
    const ExecStatusType status = m_result ? PQresultStatus(m_result) : PGRES_FATAL_ERROR;
    m_failed = !(status == PGRES_COMMAND_OK || status == PGRES_TUPLES_OK);
    if (!m_failed)
        return StoreRefusal::None;
    if (PQstatus(m_connection) != CONNECTION_OK)
        return StoreRefusal::Unreachable;
    return refusalOf(m_result ? PQresultErrorField(m_result, PG_DIAG_SQLSTATE) : nullptr);
}

bool PostgresStatement::next() {
    if (!m_ran && run() != StoreRefusal::None)
        return false;
    if (!m_result || PQresultStatus(m_result) != PGRES_TUPLES_OK)
        return false;
    ++m_row;
    return m_row < PQntuples(m_result);
}

void PostgresStatement::done() {
    PQclear(m_result);
    m_result = nullptr;
    m_ran = false;
    m_row = -1;
    m_unbindable = false;
    m_isNull.assign(m_isNull.size(), true);
    m_values.assign(m_values.size(), QByteArray());
}

StoreStatement::Outcome PostgresStatement::execute() {
    Outcome outcome;
    outcome.refusal = run();
    if (outcome.ran()) {
        outcome.changes = QByteArray(PQcmdTuples(m_result)).toInt();
        // An insert that wants its key says RETURNING.
        if (PQresultStatus(m_result) == PGRES_TUPLES_OK && PQntuples(m_result) > 0 && PQnfields(m_result) > 0)
            outcome.insertedKey = QByteArray(PQgetvalue(m_result, 0, 0)).toLongLong();
    }
    done();
    return outcome;
}

QString PostgresStatement::text(int column) const {
    if (isNull(column))
        return QString();
    // The empty text comes as a pointer to "" and stays a (non-null) text.
    return QString::fromUtf8(PQgetvalue(m_result, m_row, column), PQgetlength(m_result, m_row, column));
}

bool PostgresStatement::isNull(int column) const {
    return !m_result || m_row < 0 || m_row >= PQntuples(m_result) || column >= PQnfields(m_result) ||
           PQgetisnull(m_result, m_row, column);
}

qint64 PostgresStatement::integer(int column) const {
    return isNull(column) ? 0 : QByteArray(PQgetvalue(m_result, m_row, column)).toLongLong();
}
