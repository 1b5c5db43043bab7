#pragma once

#include "database/store_statement.h"

#include <QByteArray>
#include <vector>

struct pg_conn;
struct pg_result;
class QSqlDatabase;

// A statement prepared once, by libpq, on the connection under a QPSQL
// connection, and run with its values apart from its text. The SQL is
// written with ? for each value, as for the other engine; they become $1, $2,
// ... here.
class PostgresStatement final : public StoreStatement {
public:
    PostgresStatement() = default;
    ~PostgresStatement() override { finalize(); }

    // The libpq connection of an open QPSQL connection, or null.
    static pg_conn* handleOf(const QSqlDatabase& db);
    // What a SQLSTATE means for the registry (empty: no answer from the server).
    static StoreRefusal refusalOf(const char* sqlState);
    // `sql` with each ? outside quotes numbered as $1, $2, ...; `count` gets how many.
    static QByteArray numberedPlaceholders(const char* sql, int* count);

    bool prepare(pg_conn* connection, const char* sql);
    bool isPrepared() const override { return m_connection != nullptr; }
    void finalize() override;

    void bindText(int index, const QString& value) override;
    void bindInteger(int index, qint64 value) override;
    void bindNull(int index) override;

    bool next() override;
    bool failed() const override { return m_failed; }
    void done() override;
    Outcome execute() override;

    QString text(int column) const override;
    bool isNull(int column) const override;
    qint64 integer(int column) const override;

private:
    // Runs the statement with the bound values; the refusal when it did not run.
    StoreRefusal run();
    void setValue(int index, const QByteArray* value);

    pg_conn* m_connection = nullptr;
    QByteArray m_name;
    std::vector<QByteArray> m_values;
    std::vector<bool> m_isNull;
    bool m_unbindable = false;   // a value the server cannot take (a NUL character)
    pg_result* m_result = nullptr;
    bool m_ran = false;
    bool m_failed = false;
    int m_row = -1;
};
