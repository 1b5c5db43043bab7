// Start-up of qbrx.dat: create, check, compact, recover; no crash point loses data.
#include "database/database_file.h"
#include "database/registry_database.h"
#include "support/registry_fixture.h"

#include <QDir>
#include <QFile>
#include <QSqlDatabase>
#include <QSqlQuery>
#include <QTemporaryDir>
#include <QtTest>

namespace {

AccountRecord account(const QString& user) {
    AccountRecord r;
    r.User = user;
    r.Password = QStringLiteral("pw");
    r.Official = 0;
    return r;
}

// A data folder with a database holding `n` accounts and one ban.
void fill(const QString& dir, int n) {
    RegistryDatabase db;
    QString error;
    QVERIFY2(db.open(dir, &error), qPrintable(error));
    for (int i = 0; i < n; ++i)
        QVERIFY(db.accounts().add(account(QStringLiteral("user%1").arg(i))) > 0);
    QVERIFY(db.bans().add(BanRecord{1, "b", "10.0.0.0", QString("r"), QDate(2030, 1, 2)}));
}

QStringList namesAfterOpen(const QString& dir, QString* notice = nullptr) {
    RegistryDatabase db;
    QString error;
    if (!db.open(dir, &error, notice)) {
        qWarning("%s", qPrintable(error));
        return {QStringLiteral("<failed>")};
    }
    return db.accounts().names();
}

QByteArray readAll(const QString& path) {
    QFile f(path);
    f.open(QIODevice::ReadOnly);
    return f.readAll();
}

void writeAll(const QString& path, const QByteArray& bytes) {
    QFile f(path);
    QVERIFY(f.open(QIODevice::WriteOnly | QIODevice::Truncate));
    f.write(bytes);
}

} // namespace

class DatabaseStartupTest : public QObject {
    Q_OBJECT

private slots:
    void firstStartCreatesAPrivateFileAndNoWorkFile() {
        QTemporaryDir dir;
        QString notice;
        QCOMPARE(namesAfterOpen(dir.path(), &notice), QStringList());
        QVERIFY(notice.isEmpty());
        const QString dat = DatabaseFile::databasePath(dir.path());
        QVERIFY(QFile::exists(dat));
        QVERIFY(!QFile::exists(DatabaseFile::workFilePath(dir.path())));
        QCOMPARE(int(QFile::permissions(dat) & (QFileDevice::ReadGroup | QFileDevice::ReadOther)), 0);
    }

    void everyStartCompactsAndKeepsTheData() {
        QTemporaryDir dir;
        fill(dir.path(), 300);
        {
            RegistryDatabase db;
            QString error;
            QVERIFY(db.open(dir.path(), &error));
            for (int i = 0; i < 290; ++i)
                QVERIFY(db.accounts().remove(QStringLiteral("user%1").arg(i)));
        }
        const qint64 before = QFileInfo(DatabaseFile::databasePath(dir.path())).size();
        QStringList expected;
        for (int i = 290; i < 300; ++i)
            expected << QStringLiteral("user%1").arg(i);
        QCOMPARE(namesAfterOpen(dir.path()), expected);
        const qint64 after = QFileInfo(DatabaseFile::databasePath(dir.path())).size();
        QVERIFY2(after < before, qPrintable(QStringLiteral("%1 -> %2").arg(before).arg(after)));
        QVERIFY(!QFile::exists(DatabaseFile::workFilePath(dir.path())));
        // A file from an earlier version with looser permissions is tightened.
        QFile::setPermissions(DatabaseFile::databasePath(dir.path()), QFileDevice::ReadOwner |
                                                                         QFileDevice::WriteOwner |
                                                                         QFileDevice::ReadOther);
        RegistryDatabase db;
        QString error;
        QVERIFY(db.open(dir.path(), &error));
        QCOMPARE(int(QFile::permissions(db.filePath()) & QFileDevice::ReadOther), 0);
        QCOMPARE(db.bans().findByIP(QStringLiteral("10.0.0.0"))->UnbanDate, std::optional<QDate>(QDate(2030, 1, 2)));
    }

    // The crash points of compaction and of the old way of compacting.
    void staleOrTruncatedWorkFileBesideASoundDatabaseIsDeleted_data() {
        QTest::addColumn<int>("workBytes"); // -1: a full copy
        QTest::newRow("complete copy left before the rename") << -1;
        QTest::newRow("work file cut short mid-copy") << 3000;
        QTest::newRow("empty work file") << 0;
    }
    void staleOrTruncatedWorkFileBesideASoundDatabaseIsDeleted() {
        QFETCH(int, workBytes);
        QTemporaryDir dir;
        fill(dir.path(), 50);
        QByteArray copy = readAll(DatabaseFile::databasePath(dir.path()));
        if (workBytes >= 0)
            copy.truncate(workBytes);
        writeAll(DatabaseFile::workFilePath(dir.path()), copy);
        QString notice;
        QCOMPARE(namesAfterOpen(dir.path(), &notice).size(), 50);
        QVERIFY(notice.isEmpty());
        QVERIFY(!QFile::exists(DatabaseFile::workFilePath(dir.path())));
    }

    void onlyTheWorkFileLeftIsRecoveredWithANotice() {
        QTemporaryDir dir;
        fill(dir.path(), 5);
        QVERIFY(QFile::rename(DatabaseFile::databasePath(dir.path()), DatabaseFile::workFilePath(dir.path())));
        QString notice;
        QCOMPARE(namesAfterOpen(dir.path(), &notice).size(), 5);
        QVERIFY(notice.contains(QStringLiteral("recovered")));
        QVERIFY(notice.contains(QStringLiteral("qbrx.tmp")));
        QVERIFY(!QFile::exists(DatabaseFile::workFilePath(dir.path())));
        // The start after that still has the data (the old way would have deleted it).
        QCOMPARE(namesAfterOpen(dir.path()).size(), 5);
    }

    void onlyAnUnreadableWorkFileLeftStopsStartUp() {
        QTemporaryDir dir;
        fill(dir.path(), 5);
        QByteArray bytes = readAll(DatabaseFile::databasePath(dir.path()));
        QFile::remove(DatabaseFile::databasePath(dir.path()));
        writeAll(DatabaseFile::workFilePath(dir.path()), bytes.left(100));
        RegistryDatabase db;
        QString error;
        QVERIFY(!db.open(dir.path(), &error));
        QVERIFY(error.contains(QStringLiteral("qbrx.tmp")));
        // Nothing was created or deleted: the administrator decides.
        QVERIFY(!QFile::exists(DatabaseFile::databasePath(dir.path())));
        QCOMPARE(readAll(DatabaseFile::workFilePath(dir.path())), bytes.left(100));
    }

    void corruptDatabaseIsLeftUntouchedAndStartUpStops() {
        QTemporaryDir dir;
        fill(dir.path(), 200);
        const QString dat = DatabaseFile::databasePath(dir.path());
        QByteArray bytes = readAll(dat);
        // Overwrite the middle pages with garbage, keeping the header.
        for (int i = 4096; i < bytes.size() - 4096; ++i)
            bytes[i] = char(0xA5 ^ (i & 0xFF));
        writeAll(dat, bytes);
        // A work file beside it may hold the only good copy: it must stay too.
        writeAll(DatabaseFile::workFilePath(dir.path()), "old");

        RegistryFixture f(false);
        RegistryOptions options;
        options.dataDir = dir.path();
        options.port = 0;
        Registry registry(f.net, f.clock, options);
        QString error;
        QVERIFY(!registry.start(&error));
        QVERIFY2(error.contains(dat) && error.contains(QStringLiteral("integrity")), qPrintable(error));
        QVERIFY(!f.net.listening());
        QCOMPARE(readAll(dat), bytes);
        QCOMPARE(readAll(DatabaseFile::workFilePath(dir.path())), QByteArray("old"));
    }

    // Rows that break a CHECK constraint in a file whose structure is sound:
    // refused as a corrupt file is, whether or not a work file lies beside it.
    void rowBreakingACheckStopsStartUp_data() {
        QTest::addColumn<bool>("workFileLeft");
        QTest::newRow("alone") << false;
        QTest::newRow("beside a work file") << true;
    }
    void rowBreakingACheckStopsStartUp() {
        QFETCH(bool, workFileLeft);
        QTemporaryDir dir;
        fill(dir.path(), 50);
        const QString dat = DatabaseFile::databasePath(dir.path());
        const QString tmp = DatabaseFile::workFilePath(dir.path());
        {
            QSqlDatabase db = QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"), QStringLiteral("bad-row"));
            db.setDatabaseName(dat);
            QVERIFY(db.open());
            QSqlQuery q(db);
            QVERIFY(q.exec(QStringLiteral("PRAGMA ignore_check_constraints = 1")));
            QVERIFY(q.exec(QStringLiteral("UPDATE Servers SET Official = 999 WHERE User = 'user7'")));
        }
        QSqlDatabase::removeDatabase(QStringLiteral("bad-row"));
        QVERIFY(DatabaseFile::inspect(dat, DatabaseFile::Depth::Structure).sound);
        QVERIFY(!DatabaseFile::inspect(dat, DatabaseFile::Depth::Full).sound);
        if (workFileLeft)
            writeAll(tmp, "old");
        const QByteArray bytes = readAll(dat);

        RegistryDatabase db;
        QString error;
        QVERIFY(!db.open(dir.path(), &error));
        QVERIFY2(error.startsWith(dat + QStringLiteral(" failed the integrity check: ")), qPrintable(error));
        QVERIFY2(error.contains(QStringLiteral("CHECK constraint failed in Servers")), qPrintable(error));
        QCOMPARE(readAll(dat), bytes);
        // A work file that was there stays; none is left behind otherwise.
        QCOMPARE(QFile::exists(tmp), workFileLeft);
        if (workFileLeft)
            QCOMPARE(readAll(tmp), QByteArray("old"));
    }

    void notADatabaseAtAllStopsStartUp() {
        QTemporaryDir dir;
        writeAll(DatabaseFile::databasePath(dir.path()), QByteArray(8192, 'x'));
        RegistryDatabase db;
        QString error;
        QVERIFY(!db.open(dir.path(), &error));
        QVERIFY(error.contains(QStringLiteral("qbrx.dat")));
        QCOMPARE(readAll(DatabaseFile::databasePath(dir.path())), QByteArray(8192, 'x'));
    }

    void emptyFileFromAnInterruptedCreationGetsItsTables() {
        QTemporaryDir dir;
        writeAll(DatabaseFile::databasePath(dir.path()), QByteArray());
        QCOMPARE(namesAfterOpen(dir.path()), QStringList());
        RegistryDatabase db;
        QString error;
        QVERIFY(db.open(dir.path(), &error));
        QVERIFY(db.accounts().add(account("works")) > 0);
    }

    void fileFromANewerProgramIsRefused() {
        QTemporaryDir dir;
        fill(dir.path(), 1);
        {
            QSqlDatabase db = QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"), QStringLiteral("bump"));
            db.setDatabaseName(DatabaseFile::databasePath(dir.path()));
            QVERIFY(db.open());
            QSqlQuery(db).exec(QStringLiteral("PRAGMA user_version = 99"));
        }
        QSqlDatabase::removeDatabase(QStringLiteral("bump"));
        RegistryDatabase db;
        QString error;
        QVERIFY(!db.open(dir.path(), &error));
        QVERIFY(error.contains(QStringLiteral("newer")));
    }

    void registriesSideBySideUseTheirOwnFiles() {
        RegistryFixture a;
        RegistryFixture b;
        QVERIFY(a.reg().database().isOpen() && b.reg().database().isOpen());
        QVERIFY(a.reg().database().accounts().add(account("onlyA")) > 0);
        QCOMPARE(b.reg().database().accounts().count(), 0);
        a.reg().shutdown();
        QVERIFY(!a.reg().database().isOpen());
        QVERIFY(b.reg().database().accounts().add(account("onlyB")) > 0);
    }
};

QTEST_GUILESS_MAIN(DatabaseStartupTest)
#include "tst_database_startup.moc"
