// The layout of qbrx.dat and what it refuses, whoever writes to it.
#include "database/registry_database.h"
#include "support/test_engine.h"

#include <QFile>
#include <QSqlDatabase>
#include <QSqlQuery>
#include <QTemporaryDir>
#include <QtTest>

namespace {

struct Column {
    QString name, type;
    bool notNull;
    int pk;
};

QList<Column> columns(const QString& connection, const QString& table) {
    QSqlQuery q(QSqlDatabase::database(connection, false));
    q.exec(QStringLiteral("PRAGMA table_info(%1)").arg(table));
    QList<Column> result;
    while (q.next())
        result.append({q.value(1).toString(), q.value(2).toString(), q.value(3).toBool(), q.value(5).toInt()});
    return result;
}

// Runs one statement on the open file, bypassing the record sets, as another tool would.
bool raw(RegistryDatabase& db, const QString& sql, const QVariantList& values = {}) {
    QSqlQuery q(QSqlDatabase::database(db.connectionName(), false));
    q.prepare(sql);
    for (const QVariant& v : values)
        q.addBindValue(v);
    return q.exec();
}

QVariant rawValue(RegistryDatabase& db, const QString& sql) {
    QSqlQuery q(QSqlDatabase::database(db.connectionName(), false));
    if (q.exec(sql) && q.next())
        return q.value(0);
    return QVariant(QStringLiteral("<no row>"));
}

AccountRecord account(const QString& user, const QString& password = QStringLiteral("secret")) {
    AccountRecord r;
    r.User = user;
    r.Password = password;
    r.Name = QStringLiteral("A Server");
    r.Description = QStringLiteral("");
    r.UpdateURL = QStringLiteral("");
    r.Official = 0;
    return r;
}

} // namespace

// The file's own layout and locking; the shared database's are checked
// where its tables are made.
#define sqliteOnly()                                                                                               \
    do {                                                                                                           \
        if (TestEngine::isPostgres())                                                                              \
            QSKIP("the layout and locking of qbrx.dat");                                                           \
    } while (false)

class DatabaseSchemaTest : public QObject {
    Q_OBJECT
    QTemporaryDir m_dir;
    std::unique_ptr<RegistryDatabase> m_db;

private slots:
    void initTestCase() {
        if (const QString why = TestEngine::unavailableReason(); !why.isEmpty())
            QSKIP(qPrintable(why));
    }
    void init() {
        m_db = std::make_unique<RegistryDatabase>();
        QString error;
        QVERIFY2(TestEngine::open(*m_db, m_dir.path(), &error), qPrintable(error));
    }
    void cleanup() {
        m_db.reset();
        QFile::remove(m_dir.filePath(QStringLiteral("qbrx.dat")));
    }

    void newFileHasExactlyTheFieldsAndKeys() {
        sqliteOnly();
        const auto servers = columns(m_db->connectionName(), QStringLiteral("Servers"));
        QStringList names;
        for (const Column& c : servers)
            names << c.name + QLatin1Char(':') + c.type + QLatin1Char(':') + QString::number(c.pk);
        QCOMPARE(names, QStringList({"User:TEXT:0", "Password:TEXT:0", "Name:TEXT:0", "Description:TEXT:0",
                                     "UpdateURL:TEXT:0", "Official:INTEGER:0", "Date:INTEGER:0",
                                     "Time:INTEGER:0", "Bookmark:INTEGER:1"}));
        const auto bans = columns(m_db->connectionName(), QStringLiteral("Bans"));
        names.clear();
        for (const Column& c : bans)
            names << c.name + QLatin1Char(':') + c.type + QLatin1Char(':') + QString::number(c.pk);
        QCOMPARE(names, QStringList({"Number:INTEGER:1", "Name:TEXT:0", "IP:TEXT:0", "Reason:TEXT:0",
                                     "UnbanDate:TEXT:0"}));
        QCOMPARE(rawValue(*m_db, QStringLiteral("PRAGMA user_version")).toInt(), 2);
        QCOMPARE(rawValue(*m_db, QStringLiteral("SELECT group_concat(name) FROM (SELECT name FROM sqlite_master "
                                                "WHERE type = 'index' AND tbl_name = 'Bans' AND sql IS NOT NULL "
                                                "ORDER BY name)"))
                     .toString(),
                 QStringLiteral("BansIP,BansName"));
        QCOMPARE(m_db->accounts().count(), 0);
        QCOMPARE(m_db->bans().count(), 0);
        QCOMPARE(QFile::permissions(m_db->filePath()) & 0x7777,
                 QFileDevice::ReadOwner | QFileDevice::WriteOwner | QFileDevice::ReadUser | QFileDevice::WriteUser);
    }

    void textLimitsAreEnforcedByTheFile_data() {
        QTest::addColumn<QString>("sql");
        QTest::addColumn<QVariantList>("values");
        QTest::addColumn<bool>("stored");
        const QString s15(15, QLatin1Char('x'));
        const QString s16(16, QLatin1Char('x'));
        const QString insertAccount = QStringLiteral("INSERT INTO Servers (User, Password, Name) VALUES (?, ?, ?)");
        QTest::newRow("user 15") << insertAccount << QVariantList{s15, "p", "n"} << true;
        QTest::newRow("user 16") << insertAccount << QVariantList{s16, "p", "n"} << false;
        QTest::newRow("password 16") << insertAccount << QVariantList{"u", s16, "n"} << false;
        QTest::newRow("name 50") << insertAccount << QVariantList{"u", "p", QString(50, 'n')} << true;
        QTest::newRow("name 51") << insertAccount << QVariantList{"u", "p", QString(51, 'n')} << false;
        QTest::newRow("user null") << insertAccount << QVariantList{QVariant(QMetaType(QMetaType::QString)), "p", "n"}
                                   << false;
        // Characters, not bytes: fifteen accented letters fit.
        QTest::newRow("user 15 accented") << insertAccount << QVariantList{QString(15, QChar(0xE9)), "p", "n"}
                                          << true;
        const QString insertOfficial = QStringLiteral("INSERT INTO Servers (User, Official) VALUES ('o', ?)");
        QTest::newRow("official 255") << insertOfficial << QVariantList{255} << true;
        QTest::newRow("official 256") << insertOfficial << QVariantList{256} << false;
        QTest::newRow("official -1") << insertOfficial << QVariantList{-1} << false;
        const QString insertBan = QStringLiteral("INSERT INTO Bans (Number, Name, IP, Reason) VALUES (?, ?, ?, ?)");
        QTest::newRow("ban 255") << insertBan << QVariantList{255, "n", "1.2.3.4", "r"} << true;
        QTest::newRow("ban 256") << insertBan << QVariantList{256, "n", "1.2.3.4", "r"} << false;
        QTest::newRow("ban name 16") << insertBan << QVariantList{1, s16, "1.2.3.4", "r"} << false;
        QTest::newRow("ban ip 16") << insertBan << QVariantList{1, "n", "1111.222.333.444", "r"} << false;
        QTest::newRow("ban ip 15") << insertBan << QVariantList{1, "n", "111.222.333.444", "r"} << true;
        QTest::newRow("reason 256") << insertBan << QVariantList{1, "n", "1.2.3.4", QString(256, 'r')} << false;
        const QString insertDate = QStringLiteral("INSERT INTO Bans (Number, Name, IP, UnbanDate) VALUES (1, 'n', 'i', ?)");
        QTest::newRow("date iso") << insertDate << QVariantList{"2026-12-31"} << true;
        QTest::newRow("date impossible") << insertDate << QVariantList{"2026-02-30"} << false;
        QTest::newRow("date us") << insertDate << QVariantList{"12/31/26"} << false;
    }
    void textLimitsAreEnforcedByTheFile() {
        sqliteOnly();
        QFETCH(QString, sql);
        QFETCH(QVariantList, values);
        QFETCH(bool, stored);
        QCOMPARE(raw(*m_db, sql, values), stored);
    }

    void accountNamesIgnoreCase() {
        AccountSet& a = m_db->accounts();
        QVERIFY(a.add(account("abc")) > 0);
        const auto found = a.find(QStringLiteral("ABC"));
        QVERIFY(found);
        QCOMPARE(found->User, QStringLiteral("abc"));

        QString error;
        QCOMPARE(a.add(account("aBc"), &error), 0);
        QVERIFY(!error.isEmpty());
        QCOMPARE(a.count(), 1);

        QVERIFY(a.add(account("bob")) > 0);
        QVERIFY(a.add(account("Alice")) > 0);
        QVERIFY(a.add(account("carl")) > 0);
        QCOMPARE(a.names(), QStringList({"abc", "Alice", "bob", "carl"}));
    }

    void emptyTextStaysTextAndUnsetFieldsStayNull() {
        sqliteOnly();
        AccountSet& a = m_db->accounts();
        const qint64 id = a.add(account("empty"));
        QVERIFY(id > 0);
        QCOMPARE(rawValue(*m_db, QStringLiteral("SELECT typeof(Description) || typeof(UpdateURL) || typeof(Date) || "
                                                "typeof(Time) FROM Servers"))
                     .toString(),
                 QStringLiteral("texttextnullnull"));
        const auto r = a.findByBookmark(id);
        QVERIFY(r && !r->Description.isNull() && r->Description.isEmpty());

        // A record written without an Official by another tool reads back as "no value".
        QVERIFY(raw(*m_db, QStringLiteral("INSERT INTO Servers (User) VALUES ('bare')")));
        QVERIFY(!a.find(QStringLiteral("bare"))->Official.has_value());
        // Our own update keeps Date and Time untouched.
        AccountRecord changed = *r;
        changed.Password = QStringLiteral("other");
        QVERIFY(a.update(changed));
        QCOMPARE(rawValue(*m_db, QStringLiteral("SELECT count(*) FROM Servers WHERE Date IS NULL AND Time IS NULL"))
                     .toInt(),
                 2);
    }

    void quotesAreJustCharacters() {
        AccountSet& a = m_db->accounts();
        QVERIFY(a.add(account("x")) > 0);
        QVERIFY(!a.find(QStringLiteral("x' OR '1'='1")));
        QVERIFY(!a.remove(QStringLiteral("' OR 1=1 --")));
        QCOMPARE(a.count(), 1);
        BanRecord b{1, QStringLiteral("o'brien"), QStringLiteral("1.2.3.'"), std::nullopt, std::nullopt};
        QVERIFY(m_db->bans().add(b));
        QCOMPARE(m_db->bans().findByName(QStringLiteral("O'BRIEN"))->IP, QStringLiteral("1.2.3.'"));
        QVERIFY(m_db->bans().findByIP(QStringLiteral("1.2.3.'")));
    }

    void vanishedAccountsChangeNothing() {
        AccountSet& a = m_db->accounts();
        const qint64 first = a.add(account("first"));
        const qint64 second = a.add(account("second", "pw2"));
        QVERIFY(a.remove(QStringLiteral("FIRST")));
        QVERIFY(!a.remove(QStringLiteral("first")));
        AccountRecord stale = account("first", "changed");
        stale.bookmark = first;
        QString error;
        QVERIFY(!a.update(stale, &error));
        QVERIFY(!a.updatePassword(first, QStringLiteral("first"), QStringLiteral("changed")));
        QVERIFY(!a.updateNameAndDescription(first, QStringLiteral("first"), QStringLiteral("n"), QStringLiteral("d")));
        QVERIFY(!a.removeByBookmark(first, QStringLiteral("first")));
        QVERIFY(!a.findByBookmark(first));
        const auto kept = a.findByBookmark(second);
        QVERIFY(kept);
        QCOMPARE(kept->Password, QStringLiteral("pw2"));
        QCOMPARE(kept->Name, QStringLiteral("A Server"));
        // Bookmarks are not reused by the next record.
        const qint64 third = a.add(account("third"));
        QVERIFY(third != first);
    }

    void partialUpdatesTouchOnlyTheirFields() {
        AccountSet& a = m_db->accounts();
        AccountRecord r = account("srv", "pw");
        r.UpdateURL = QStringLiteral("http://u");
        r.Official = 1;
        const qint64 id = a.add(r);
        QVERIFY(a.updateNameAndDescription(id, QStringLiteral("SRV"), QStringLiteral("New"), QStringLiteral("Desc")));
        QVERIFY(a.updatePassword(id, QStringLiteral("srv"), QStringLiteral("pw2")));
        auto got = a.findByBookmark(id);
        QCOMPARE(got->Name, QStringLiteral("New"));
        QCOMPARE(got->Description, QStringLiteral("Desc"));
        QCOMPARE(got->Password, QStringLiteral("pw2"));
        QCOMPARE(got->UpdateURL, QStringLiteral("http://u"));
        QCOMPARE(got->Official, std::optional<int>(1));
        QString error;
        QVERIFY(!a.updatePassword(id, QStringLiteral("srv"), QString(16, 'p'), &error));
        QVERIFY(!error.isEmpty());
        QCOMPARE(a.findByBookmark(id)->Password, QStringLiteral("pw2"));
    }

    void bulkOperations() {
        AccountSet& a = m_db->accounts();
        QVERIFY(a.clearOfficialOfAll()); // nothing to change is no failure
        AccountRecord r = account("one");
        r.Official = 1;
        a.add(r);
        r.User = QStringLiteral("two");
        r.Official = 200;
        a.add(r);
        QVERIFY(a.clearOfficialOfAll());
        QCOMPARE(a.find(QStringLiteral("one"))->Official, std::optional<int>(0));
        QCOMPARE(a.find(QStringLiteral("two"))->Official, std::optional<int>(0));
        QVERIFY(a.removeAll());
        QCOMPARE(a.count(), 0);
        QVERIFY(a.removeAll());
    }

    void everyChangeIsInTheFileWhenTheCallReturns() {
        sqliteOnly();
        QVERIFY(m_db->accounts().add(account("durable")) > 0);
        QVERIFY(m_db->bans().add(BanRecord{7, "b", "1.2.3.4", {}, {}}));
        // A copy of the file taken now, as a kill -9 would leave it, holds both.
        QTemporaryDir copyDir;
        QVERIFY(QFile::copy(m_db->filePath(), copyDir.filePath(QStringLiteral("qbrx.dat"))));
        RegistryDatabase copy;
        QString error;
        QVERIFY2(copy.open(copyDir.path(), &error), qPrintable(error));
        QVERIFY(copy.accounts().find(QStringLiteral("DURABLE")));
        QCOMPARE(copy.bans().findByNumber(7)->IP, QStringLiteral("1.2.3.4"));
    }

    void aSecondRegistryOnTheSameFolderIsRefused() {
        sqliteOnly();
        RegistryDatabase second;
        QString error;
        QVERIFY(!second.open(m_dir.path(), &error));
        QVERIFY2(error.contains(QStringLiteral("in use")), qPrintable(error));
        // The first keeps working and its file was neither compacted nor replaced.
        QVERIFY(m_db->accounts().add(account("still")) > 0);
        QVERIFY(!QFile::exists(m_dir.filePath(QStringLiteral("qbrx.tmp"))));
    }

    // The sets say what is refused in the registry's words: never the
    // engine's SQL, its constraint text or the driver's.
    void refusalsAreInTheRegistrysWords() {
        AccountSet& a = m_db->accounts();
        const qint64 id = a.add(account("taken"));
        QString error;
        QCOMPARE(a.add(account("TAKEN"), &error), 0);
        QCOMPARE(error, QStringLiteral("An account by that name already exists."));
        AccountRecord wide = account("wide");
        wide.Official = 256;
        QCOMPARE(a.add(wide, &error), 0);
        QCOMPARE(error, QStringLiteral("The official mark must be a number from 0 to 255."));
        // Fifteen characters beyond the 16-bit range are fifteen, not thirty.
        QString astral;
        for (int i = 0; i < 15; ++i)
            astral += QString::fromUcs4(U"\U0001F600", 1);
        QVERIFY(a.add(account(astral)) > 0);
        QCOMPARE(a.add(account(astral + QLatin1Char('x')), &error), 0);
        QCOMPARE(error, QStringLiteral("The user name is longer than 15 characters."));

        AccountRecord stale = *a.findByBookmark(id);
        stale.User = QStringLiteral("someone");
        QVERIFY(!a.update(stale, &error));
        QCOMPARE(error, QStringLiteral("The account no longer exists."));
        QVERIFY(!a.updatePassword(id, QStringLiteral("someone"), QStringLiteral("pw"), &error));
        QCOMPARE(error, QStringLiteral("The account no longer exists."));
        QVERIFY(!a.removeByBookmark(id, QStringLiteral("someone")));
        QCOMPARE(a.find(QStringLiteral("taken"))->Password, QStringLiteral("secret"));

        BanSet& b = m_db->bans();
        QVERIFY(b.add(BanRecord{5, "five", "1.2.3.5", {}, {}}));
        QVERIFY(!b.add(BanRecord{5, "again", "1.2.3.6", {}, {}}, &error));
        QCOMPARE(error, QStringLiteral("A ban with that number already exists."));
        QVERIFY(!b.add(BanRecord{256, "high", "1.2.3.7", {}, {}}, &error));
        QCOMPARE(error, QStringLiteral("The ban number must be a number from 0 to 255."));
        // An edit names the ban it expects under the number.
        QVERIFY(!b.update(BanRecord{5, "other", "9.9.9.9", {}, {}}, &error));
        QCOMPARE(error, QStringLiteral("The ban no longer exists."));
        QCOMPARE(b.findByNumber(5)->IP, QStringLiteral("1.2.3.5"));
        QVERIFY(b.update(BanRecord{5, "FIVE", "9.9.9.9", {}, {}}));
        QCOMPARE(b.findByNumber(5)->IP, QStringLiteral("9.9.9.9"));
    }

    void closedDatabaseRefusesQuietly() {
        m_db->close();
        QVERIFY(!m_db->isOpen());
        QVERIFY(!m_db->accounts().find(QStringLiteral("x")));
        QString error;
        QCOMPARE(m_db->accounts().add(account("x"), &error), 0);
        QVERIFY(!error.isEmpty());
        QVERIFY(!m_db->bans().add(BanRecord{1, "n", "i", {}, {}}));
        QCOMPARE(m_db->bans().count(), 0);
    }
};

QTEST_GUILESS_MAIN(DatabaseSchemaTest)
#include "tst_database_schema.moc"
