// The test's own PostgreSQL server: made, reachable only through its socket,
// stopped and started with its data, and gone with its folder afterwards.
#include "support/postgres_server.h"

#include <QDir>
#include <QFile>
#include <QSqlDatabase>
#include <QSqlError>
#include <QSqlQuery>
#include <QtTest>

#include <sys/stat.h>

namespace {

QString queryOne(const QString& connectionString, const QString& sql, QString* error) {
    QString result;
    {
        QSqlDatabase db = QSqlDatabase::addDatabase(QStringLiteral("QPSQL"), QStringLiteral("probe"));
        db.setConnectOptions(connectionString);
        if (!db.open()) {
            *error = db.lastError().text();
        } else {
            QSqlQuery q(db);
            if (q.exec(sql) && q.next())
                result = q.value(0).toString();
            else
                *error = q.lastError().text();
        }
        db.close();
    }
    QSqlDatabase::removeDatabase(QStringLiteral("probe"));
    return result;
}

} // namespace

class PostgresServerTest : public QObject {
    Q_OBJECT

private slots:
    void initTestCase() {
        if (const QString why = PostgresServer::missingReason(); !why.isEmpty())
            QSKIP(qPrintable(why));
        QVERIFY2(QSqlDatabase::isDriverAvailable(QStringLiteral("QPSQL")),
                 "the QtSql PostgreSQL driver (libqt6sql6-psql) is missing");
    }

    void aServerOfItsOwnKeepsItsDataAndLeavesNothingBehind() {
        QString folder;
        qint64 serverPid = 0;
        {
            PostgresServer server;
            QVERIFY2(server.start(), qPrintable(server.error()));
            folder = server.socketDir();
            QVERIFY(QFile::exists(folder + QStringLiteral("/.s.PGSQL.5432")));
            QString error;
            QVERIFY2(queryOne(server.connectionString(), QStringLiteral("SHOW server_version_num"), &error)
                         .startsWith(QLatin1String("15")),
                     qPrintable(error));
            // No TCP listener: the socket is the only way in.
            QCOMPARE(queryOne(server.connectionString(), QStringLiteral("SHOW listen_addresses"), &error), QString());
            // Never as root.
            struct stat st {};
            QCOMPARE(stat(QFile::encodeName(folder + QStringLiteral("/data")).constData(), &st), 0);
            QVERIFY(st.st_uid != 0);

            const QString db = server.createDatabase();
            QVERIFY2(!db.isEmpty(), qPrintable(server.error()));
            QVERIFY2(server.psql(db, QStringLiteral("CREATE TABLE kept (v text); INSERT INTO kept VALUES ('x''y')")),
                     qPrintable(server.error()));
            QVERIFY2(server.stop(), qPrintable(server.error()));
            QVERIFY(!QFile::exists(folder + QStringLiteral("/.s.PGSQL.5432")));
            QVERIFY(queryOne(server.connectionString(db), QStringLiteral("SELECT 1"), &error).isEmpty());
            QVERIFY2(server.restart(), qPrintable(server.error()));
            QString out;
            QVERIFY2(server.psql(db, QStringLiteral("SELECT v FROM kept"), &out), qPrintable(server.error()));
            QCOMPARE(out.trimmed(), QStringLiteral("x'y"));

            // A killed server comes back with its data.
            QFile pidFile(folder + QStringLiteral("/data/postmaster.pid"));
            QVERIFY(pidFile.open(QIODevice::ReadOnly));
            serverPid = pidFile.readLine().trimmed().toLongLong();
            QVERIFY(serverPid > 0);
            QVERIFY2(server.kill(), qPrintable(server.error()));
            QVERIFY(PostgresServer::waitGone(pid_t(serverPid), 0));
            const bool back = server.restart();
            if (!back)
                qWarning("%s", qPrintable(server.logText().right(1500)));
            QVERIFY2(back, qPrintable(server.error()));
            QVERIFY2(server.psql(db, QStringLiteral("SELECT count(*) FROM kept"), &out), qPrintable(server.error()));
            QCOMPARE(out.trimmed(), QStringLiteral("1"));
            pidFile.close();
            QVERIFY(pidFile.open(QIODevice::ReadOnly));
            serverPid = pidFile.readLine().trimmed().toLongLong();
        }
        // The destructor waits for the watcher, which stops the server and removes the folder.
        QVERIFY(!QDir(folder).exists());
        QVERIFY(PostgresServer::waitGone(pid_t(serverPid)));
    }

    void aFailedStatementIsReported() {
        QString why;
        PostgresServer* server = sharedPostgresServer(&why);
        QVERIFY2(server, qPrintable(why));
        QVERIFY(!server->psql(QStringLiteral("postgres"), QStringLiteral("SELECT * FROM no_such_table")));
        QVERIFY2(server->error().contains(QLatin1String("no_such_table")), qPrintable(server->error()));
        // Databases made for tests are fresh and distinct.
        const QString a = server->createDatabase();
        const QString b = server->createDatabase();
        QVERIFY(!a.isEmpty() && !b.isEmpty() && a != b);
    }
};

QTEST_GUILESS_MAIN(PostgresServerTest)
#include "tst_postgres_server.moc"
