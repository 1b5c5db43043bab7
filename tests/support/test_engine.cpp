#include "support/test_engine.h"

#include "database/registry_database.h"
#include "support/postgres_server.h"

#include <QSqlDatabase>

namespace TestEngine {

bool isPostgres() { return qEnvironmentVariable("TAV_TEST_ENGINE") == QLatin1String("postgres"); }

QString unavailableReason() {
    if (!isPostgres())
        return QString();
    if (const QString why = PostgresServer::missingReason(); !why.isEmpty())
        return why;
    if (!QSqlDatabase::isDriverAvailable(QStringLiteral("QPSQL")))
        return QStringLiteral("the QtSql PostgreSQL driver (libqt6sql6-psql) is not installed");
    return QString();
}

QString newDatabase(QString* error) {
    PostgresServer* server = sharedPostgresServer(error);
    if (!server)
        return QString();
    const QString name = server->createDatabase();
    if (name.isEmpty()) {
        *error = server->error();
        return QString();
    }
    return server->connectionString(name);
}

bool open(RegistryDatabase& db, const QString& dataDir, QString* error) {
    if (!isPostgres())
        return db.open(dataDir, error);
    const QString url = newDatabase(error);
    return !url.isEmpty() && db.openServer(url, QString(), error);
}

} // namespace TestEngine
