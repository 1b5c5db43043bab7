#pragma once

#include "database/store_statement.h"

#include <QByteArray>
#include <QString>
#include <memory>

// The engine under a QtSql connection, and its statements: the record sets
// ask it for each statement with the SQL of both engines and get the one
// that fits.
class StoreEngine {
public:
    enum class Kind { Sqlite, Postgres };

    // Nothing when the connection is not open or its driver is neither.
    static std::optional<StoreEngine> of(const QString& connectionName);

    Kind kind() const { return m_kind; }
    // Prepared, or null when the engine refuses it (the tables do not fit).
    std::unique_ptr<StoreStatement> prepare(const char* sqliteSql, const char* postgresSql) const;
    // The same into `slot`; false when the statement does not prepare.
    bool prepareInto(std::unique_ptr<StoreStatement>& slot, const QByteArray& sqliteSql,
                     const QByteArray& postgresSql) const {
        slot = prepare(sqliteSql.constData(), postgresSql.constData());
        return slot != nullptr;
    }

private:
    StoreEngine(Kind kind, void* handle) : m_kind(kind), m_handle(handle) {}
    Kind m_kind;
    void* m_handle;
};
