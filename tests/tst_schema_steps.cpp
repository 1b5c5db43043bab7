// The numbered layout steps of qbrx.dat: older files are brought up to date
// with every row kept, newer ones and unusable data folders are refused with
// a message that says what is wrong.
#include "database/database_file.h"
#include "database/registry_database.h"
#include "support/registry_process.h"
#include "support/test_files.h"

#include <QDir>
#include <QSqlDatabase>
#include <QSqlError>
#include <QSqlQuery>
#include <QSqlRecord>
#include <QTemporaryDir>
#include <QtTest>

#include <unistd.h>

namespace {

// The layout the first released program wrote (accounts keyed by name, their
// rowids free to be handed out again), as that program left it on disk.
const char* const kFirstLayout[] = {
    "CREATE TABLE Servers (User TEXT NOT NULL COLLATE NOCASE PRIMARY KEY CHECK (typeof(User) = 'text' AND "
    "length(User) <= 15), Password TEXT CHECK (Password IS NULL OR (typeof(Password) = 'text' AND "
    "length(Password) <= 15)), Name TEXT CHECK (Name IS NULL OR (typeof(Name) = 'text' AND length(Name) <= 50)), "
    "Description TEXT CHECK (Description IS NULL OR (typeof(Description) = 'text' AND length(Description) <= 255)), "
    "UpdateURL TEXT CHECK (UpdateURL IS NULL OR (typeof(UpdateURL) = 'text' AND length(UpdateURL) <= 255)), "
    "Official INTEGER CHECK (Official IS NULL OR (typeof(Official) = 'integer' AND Official BETWEEN 0 AND 255)), "
    "Date INTEGER CHECK (Date IS NULL OR (typeof(Date) = 'integer' AND Date BETWEEN 0 AND 255)), "
    "Time INTEGER CHECK (Time IS NULL OR (typeof(Time) = 'integer' AND Time BETWEEN 0 AND 255)))",
    "CREATE TABLE Bans (Number INTEGER NOT NULL PRIMARY KEY CHECK (typeof(Number) = 'integer' AND Number BETWEEN "
    "0 AND 255), Name TEXT COLLATE NOCASE CHECK (Name IS NULL OR (typeof(Name) = 'text' AND length(Name) <= 15)), "
    "IP TEXT COLLATE NOCASE CHECK (IP IS NULL OR (typeof(IP) = 'text' AND length(IP) <= 15)), Reason TEXT CHECK "
    "(Reason IS NULL OR (typeof(Reason) = 'text' AND length(Reason) <= 255)), UnbanDate TEXT CHECK (UnbanDate IS "
    "NULL OR (typeof(UnbanDate) = 'text' AND UnbanDate GLOB '[0-9][0-9][0-9][0-9]-[0-9][0-9]-[0-9][0-9]' AND "
    "date(UnbanDate, '+0 days') = UnbanDate)))",
    "CREATE INDEX BansIP ON Bans (IP)",
    "CREATE INDEX BansName ON Bans (Name)",
    // Rows with gaps in their rowids, an empty text, a NULL Official and a
    // Date written by another tool.
    "INSERT INTO Servers (rowid, User, Password, Name, Description, UpdateURL, Official) VALUES "
    "(1, 'alpha', 'pw1', 'Alpha', 'first', 'http://a', 1), "
    "(4, 'Beta', 'pw2', '', '', '', NULL), "
    "(9, 'gamma', 'pw3', 'G', 'third', NULL, 0)",
    "UPDATE Servers SET Date = 7 WHERE User = 'gamma'",
    "INSERT INTO Bans VALUES (3, 'net', '10.0.0.0', NULL, '2030-01-02')",
};

// Runs statements on a file through a connection of its own, as another program would.
QString runOn(const QString& path, const QStringList& statements) {
    QString failure;
    {
        QSqlDatabase db = QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"), QStringLiteral("raw"));
        db.setDatabaseName(path);
        if (!db.open())
            return db.lastError().text();
        QSqlQuery q(db);
        for (const QString& sql : statements)
            if (!q.exec(sql)) {
                failure = sql + QStringLiteral(": ") + q.lastError().text();
                break;
            }
    }
    QSqlDatabase::removeDatabase(QStringLiteral("raw"));
    return failure;
}

QStringList rowsOf(const QString& path, const QString& sql) {
    QStringList rows;
    {
        QSqlDatabase db = QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"), QStringLiteral("read"));
        db.setDatabaseName(path);
        db.open();
        QSqlQuery q(db);
        q.exec(sql);
        while (q.next()) {
            QStringList fields;
            for (int i = 0; i < q.record().count(); ++i)
                fields << (q.value(i).isNull() ? QStringLiteral("NULL") : q.value(i).toString());
            rows << fields.join(QLatin1Char('|'));
        }
    }
    QSqlDatabase::removeDatabase(QStringLiteral("read"));
    return rows;
}

QString firstLayoutFile(const QTemporaryDir& dir, int stampedVersion, const QStringList& extra = {}) {
    QStringList statements;
    for (const char* sql : kFirstLayout)
        statements << QString::fromLatin1(sql);
    if (stampedVersion > 0)
        statements << QStringLiteral("PRAGMA user_version = %1").arg(stampedVersion);
    const QString path = DatabaseFile::databasePath(dir.path());
    const QString failure = runOn(path, statements + extra);
    if (!failure.isEmpty())
        qWarning("%s", qPrintable(failure));
    return path;
}

const QString kAllAccounts = QStringLiteral(
    "SELECT rowid, User, Password, Name, Description, UpdateURL, Official, Date, Time, typeof(Name), "
    "typeof(UpdateURL) FROM Servers ORDER BY rowid");

} // namespace

class SchemaStepsTest : public QObject {
    Q_OBJECT

private slots:
    // A file of version 1, and one of version 0 from before versions were
    // stamped, both come up at the latest version with every row, value and
    // rowid as it was, and their rowids are now bookmarks that are never
    // handed out again, not even after a restart.
    void olderFilesAreMigratedKeepingEveryRow_data() {
        QTest::addColumn<int>("stamped");
        QTest::newRow("version 1") << 1;
        QTest::newRow("version 0 with both tables") << 0;
    }
    void olderFilesAreMigratedKeepingEveryRow() {
        QFETCH(int, stamped);
        QTemporaryDir dir;
        const QString path = firstLayoutFile(dir, stamped);
        const QStringList before = rowsOf(path, kAllAccounts);
        QCOMPARE(before.size(), 3);
        QCOMPARE(before.at(1), QStringLiteral("4|Beta|pw2||||NULL|NULL|NULL|text|text"));

        {
            RegistryDatabase db;
            QString error;
            QVERIFY2(db.open(dir.path(), &error), qPrintable(error));
            QCOMPARE(db.accounts().findByBookmark(9)->User, QStringLiteral("gamma"));
            QCOMPARE(db.accounts().find(QStringLiteral("BETA"))->bookmark, qint64(4));
            QVERIFY(!db.accounts().find(QStringLiteral("beta"))->Official.has_value());
            QCOMPARE(db.bans().findByIP(QStringLiteral("10.0.0.0"))->UnbanDate, std::optional(QDate(2030, 1, 2)));
            QCOMPARE(db.accounts().names(), QStringList({"alpha", "Beta", "gamma"}));
            // The name stays unique without regard to case.
            AccountRecord twin;
            twin.User = QStringLiteral("ALPHA");
            QString why;
            QCOMPARE(db.accounts().add(twin, &why), 0);
            QCOMPARE(why, QStringLiteral("An account by that name already exists."));
            QVERIFY(db.accounts().remove(QStringLiteral("gamma")));
        }
        QCOMPARE(rowsOf(path, kAllAccounts), before.mid(0, 2));
        QCOMPARE(rowsOf(path, QStringLiteral("PRAGMA user_version")), QStringList{"2"});

        // After a restart (which compacts the file) the top bookmark stays used up.
        RegistryDatabase db;
        QString error;
        QVERIFY2(db.open(dir.path(), &error), qPrintable(error));
        AccountRecord next;
        next.User = QStringLiteral("delta");
        QCOMPARE(db.accounts().add(next), qint64(10));
        QVERIFY(!db.accounts().findByBookmark(9));
    }

    void aStepThatFailsLeavesTheFileAtTheVersionItHad() {
        QTemporaryDir dir;
        // A table in the way of the second step's work table.
        const QString path = firstLayoutFile(dir, 1, {QStringLiteral("CREATE TABLE ServersKeyed (x)")});
        const QStringList before = rowsOf(path, kAllAccounts);
        RegistryDatabase db;
        QString error;
        QVERIFY(!db.open(dir.path(), &error));
        QVERIFY2(error.startsWith(QStringLiteral("cannot open ") + path +
                                  QStringLiteral(": schema step 2 (give accounts bookmarks that are never "
                                                 "reused) failed: ")),
                 qPrintable(error));
        QVERIFY2(!error.contains(QStringLiteral("CREATE")), qPrintable(error));
        QCOMPARE(rowsOf(path, QStringLiteral("PRAGMA user_version")), QStringList{"1"});
        QCOMPARE(rowsOf(path, kAllAccounts), before);
    }

    void aFileWithOneTableMissingIsRefused() {
        QTemporaryDir dir;
        const QString path = firstLayoutFile(dir, 0, {QStringLiteral("DROP TABLE Bans")});
        RegistryDatabase db;
        QString error;
        QVERIFY(!db.open(dir.path(), &error));
        QCOMPARE(error, QStringLiteral("cannot open %1: the tables Servers and Bans are not both present").arg(path));
    }

    // Refused before anything is done to it: not compacted, not migrated.
    void aFileFromANewerProgramIsLeftAsItIs() {
        QTemporaryDir dir;
        const QString path = firstLayoutFile(dir, 3);
        const QByteArray bytes = contents(path);
        RegistryDatabase db;
        QString error;
        QVERIFY(!db.open(dir.path(), &error));
        QCOMPARE(error, QStringLiteral("%1 was written by a newer program (schema version 3; this program knows "
                                       "versions up to 2); it is left as it is")
                            .arg(path));
        QCOMPARE(contents(path), bytes);
        QVERIFY(!QFile::exists(DatabaseFile::workFilePath(dir.path())));
    }

    void theProgramRefusesANewerFileWithExitCode1() {
        if (RegistryProcess::binary().isEmpty())
            QSKIP("TAVREGISTRY_BIN is not set");
        QTemporaryDir dir;
        const QString path = firstLayoutFile(dir, 99);
        RegistryProcess registry;
        QVERIFY(registry.launch(dir.path()));
        QVERIFY(registry.process().waitForFinished(30000));
        QCOMPARE(registry.process().exitCode(), 1);
        const QString errors = QString::fromLocal8Bit(registry.errors());
        QVERIFY2(errors.contains(path + QStringLiteral(" was written by a newer program (schema version 99;")),
                 qPrintable(errors));
    }

    void anUnusableDataFolderOrFileIsNamedForWhatItIs() {
        QTemporaryDir dir;
        const QString file = dir.filePath(QStringLiteral("plain"));
        put(file, "not a folder");
        RegistryDatabase db;
        QString error;
        QVERIFY(!db.open(file, &error));
        QCOMPARE(error, QStringLiteral("the data folder %1 is not a folder").arg(file));

        QVERIFY(!db.open(dir.filePath(QStringLiteral("absent")), &error));
        QCOMPARE(error, QStringLiteral("the data folder %1 does not exist").arg(dir.filePath(QStringLiteral("absent"))));

        QTemporaryDir folderAsFile;
        const QString dat = DatabaseFile::databasePath(folderAsFile.path());
        QVERIFY(QDir().mkdir(dat));
        QVERIFY(!db.open(folderAsFile.path(), &error));
        QCOMPARE(error, QStringLiteral("%1 is not a file").arg(dat));
        QVERIFY(QFileInfo(dat).isDir());
    }

    void anUnreadableDataFolderOrFileIsNamedForWhatItIs() {
        if (::geteuid() == 0)
            QSKIP("permissions do not bind root");
        QTemporaryDir dir;
        const QString sub = dir.filePath(QStringLiteral("locked"));
        QVERIFY(QDir().mkdir(sub));
        QFile::setPermissions(sub, QFileDevice::WriteOwner);
        RegistryDatabase db;
        QString error;
        QVERIFY(!db.open(sub, &error));
        QCOMPARE(error, QStringLiteral("cannot read the data folder %1: Permission denied").arg(sub));
        QFile::setPermissions(sub, QFileDevice::ReadOwner | QFileDevice::WriteOwner | QFileDevice::ExeOwner);

        const QString dat = DatabaseFile::databasePath(sub);
        put(dat, QByteArray());
        QFile::setPermissions(dat, QFileDevice::WriteOwner);
        QVERIFY(!db.open(sub, &error));
        QCOMPARE(error, QStringLiteral("cannot read and write %1: Permission denied").arg(dat));
    }
};

QTEST_GUILESS_MAIN(SchemaStepsTest)
#include "tst_schema_steps.moc"
