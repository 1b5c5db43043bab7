#include "database/database_copy.h"

#include "database/database_file.h"
#include "database/postgres_statement.h"
#include "database/registry_database.h"
#include "database/store_engine.h"

#include <QFile>
#include <QSqlDatabase>
#include <libpq-fe.h>

namespace {

struct Table {
    const char* sqliteSelect;
    const char* postgresInsert;
    const char* postgresCount;
    int columns;
};

// In the order the tables were created; accounts by their bookmark, so that
// the new bookmarks keep the old order.
const Table kTables[] = {
    {"SELECT User, Password, Name, Description, UpdateURL, Official, Date, Time FROM Servers ORDER BY Bookmark",
     "INSERT INTO \"Servers\" (\"User\", \"Password\", \"Name\", \"Description\", \"UpdateURL\", \"Official\", "
     "\"Date\", \"Time\") VALUES (?, ?, ?, ?, ?, ?, ?, ?)",
     "SELECT count(*) FROM \"Servers\"", 8},
    {"SELECT Number, Name, IP, Reason, UnbanDate FROM Bans ORDER BY Number",
     "INSERT INTO \"Bans\" (\"Number\", \"Name\", \"IP\", \"Reason\", \"UnbanDate\") VALUES (?, ?, ?, ?, ?)",
     "SELECT count(*) FROM \"Bans\"", 5},
};

bool exec(pg_conn* connection, const char* sql) {
    PGresult* r = PQexec(connection, sql);
    const bool ok = r && (PQresultStatus(r) == PGRES_COMMAND_OK || PQresultStatus(r) == PGRES_TUPLES_OK);
    PQclear(r);
    return ok;
}

QString serverError(pg_conn* connection) { return QString::fromUtf8(PQerrorMessage(connection)).trimmed(); }

} // namespace

namespace DatabaseCopy {

Result copy(const QString& dataDir, const QString& url, const QString& password, QString* summary, QString* error) {
    const QString path = DatabaseFile::databasePath(dataDir);
    // Opening a folder without one would make an empty file.
    if (!QFile::exists(path)) {
        *error = QStringLiteral("there is no %1 to copy").arg(path);
        return Result::Failed;
    }
    RegistryDatabase source;
    if (!source.open(dataDir, error))
        return Result::Failed;
    RegistryDatabase target;
    if (!target.openServer(url, password, error))
        return Result::Failed;
    const std::optional<StoreEngine> from = StoreEngine::of(source.connectionName());
    pg_conn* to = PostgresStatement::handleOf(QSqlDatabase::database(target.connectionName(), false));
    if (!from || !to) {
        *error = QStringLiteral("the databases are not open");
        return Result::Failed;
    }
    // Nobody adds a row between the test for empty tables and the commit.
    if (!exec(to, "BEGIN") ||
        !exec(to, "LOCK TABLE \"Servers\", \"Bans\" IN SHARE ROW EXCLUSIVE MODE")) {
        *error = QStringLiteral("cannot lock the tables of the %1: %2").arg(target.description(), serverError(to));
        return Result::Failed;
    }
    qint64 present[2] = {0, 0};
    for (int t = 0; t < 2; ++t) {
        PostgresStatement count;
        if (!count.prepare(to, kTables[t].postgresCount) || !count.next()) {
            *error = QStringLiteral("cannot read the %1: %2").arg(target.description(), serverError(to));
            exec(to, "ROLLBACK");
            return Result::Failed;
        }
        present[t] = count.integer(0);
        count.done();
    }
    if (present[0] > 0 || present[1] > 0) {
        *error = QStringLiteral("the %1 already holds %2 accounts and %3 bans: copying needs empty tables, so "
                                "nothing has been copied")
                     .arg(target.description())
                     .arg(present[0])
                     .arg(present[1]);
        exec(to, "ROLLBACK");
        return Result::NotEmpty;
    }
    int counts[2] = {0, 0};
    for (int t = 0; t < 2; ++t) {
        const Table& table = kTables[t];
        const std::unique_ptr<StoreStatement> read = from->prepare(table.sqliteSelect, "");
        PostgresStatement insert;
        if (!read || !insert.prepare(to, table.postgresInsert)) {
            *error = QStringLiteral("cannot prepare the copy: %1").arg(serverError(to));
            exec(to, "ROLLBACK");
            return Result::Failed;
        }
        while (read->next()) {
            // Every value as text, which the server reads as its column's
            // type; NULL stays NULL.
            for (int c = 0; c < table.columns; ++c) {
                if (read->isNull(c))
                    insert.bindNull(c + 1);
                else
                    insert.bindText(c + 1, read->text(c));
            }
            if (!insert.execute().ran()) {
                *error = QStringLiteral("cannot copy row %1 of %2 into the %3: %4")
                             .arg(counts[t] + 1)
                             .arg(QLatin1String(t == 0 ? "Servers" : "Bans"), target.description(),
                                  serverError(to));
                read->done();
                exec(to, "ROLLBACK");
                return Result::Failed;
            }
            ++counts[t];
        }
        read->done();
    }
    if (!exec(to, "COMMIT")) {
        *error = QStringLiteral("cannot commit the copy into the %1: %2").arg(target.description(), serverError(to));
        return Result::Failed;
    }
    *summary = QStringLiteral("copied %1 accounts and %2 bans from %3 to the %4")
                   .arg(counts[0])
                   .arg(counts[1])
                   .arg(path, target.description());
    return Result::Copied;
}

} // namespace DatabaseCopy
