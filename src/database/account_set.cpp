#include "database/account_set.h"

#include "database/sql_values.h"

#include <QSqlDatabase>
#include <QSqlError>
#include <QSqlQuery>

namespace {

constexpr const char* kFindByName = "SELECT rowid, User, Password, Name, Description, UpdateURL, Official "
                                    "FROM Servers WHERE User = ?";
constexpr const char* kFindByBookmark = "SELECT rowid, User, Password, Name, Description, UpdateURL, Official "
                                        "FROM Servers WHERE rowid = ?";

AccountRecord readRecord(const SqliteStatement& q) {
    AccountRecord r;
    r.bookmark = q.integer(0);
    r.User = q.text(1);
    r.Password = q.text(2);
    r.Name = q.text(3);
    r.Description = q.text(4);
    r.UpdateURL = q.text(5);
    if (!q.isNull(6))
        r.Official = int(q.integer(6));
    return r;
}

} // namespace

AccountSet::AccountSet() = default;
AccountSet::~AccountSet() = default;

void AccountSet::attach(const QString& connectionName) {
    detach();
    m_connection = connectionName;
    sqlite3* handle = SqliteStatement::handleOf(QSqlDatabase::database(m_connection, false));
    m_findByName.prepare(handle, kFindByName);
    m_findByBookmark.prepare(handle, kFindByBookmark);
}

void AccountSet::detach() {
    m_findByName.reset();
    m_findByBookmark.reset();
    m_connection.clear();
}

std::optional<AccountRecord> AccountSet::find(const QString& user) const {
    if (!m_findByName.isPrepared())
        return std::nullopt;
    std::optional<AccountRecord> result;
    if (m_findByName.runWith(user))
        result = readRecord(m_findByName);
    m_findByName.done();
    return result;
}

std::optional<AccountRecord> AccountSet::findByBookmark(qint64 bookmark) const {
    if (!m_findByBookmark.isPrepared())
        return std::nullopt;
    std::optional<AccountRecord> result;
    if (m_findByBookmark.runWith(bookmark))
        result = readRecord(m_findByBookmark);
    m_findByBookmark.done();
    return result;
}

bool AccountSet::change(const char* sql, const QList<QVariant>& values, QString* error) {
    if (m_connection.isEmpty()) {
        if (error)
            *error = QStringLiteral("the database is not open");
        return false;
    }
    QSqlQuery q(QSqlDatabase::database(m_connection, false));
    if (!q.prepare(QString::fromLatin1(sql))) {
        if (error)
            *error = q.lastError().text();
        return false;
    }
    for (const QVariant& v : values)
        q.addBindValue(v);
    if (!q.exec()) {
        if (error)
            *error = q.lastError().text();
        return false;
    }
    if (q.numRowsAffected() < 1) {
        if (error)
            *error = QStringLiteral("the record no longer exists");
        return false;
    }
    return true;
}

qint64 AccountSet::add(const AccountRecord& record, QString* error) {
    if (m_connection.isEmpty()) {
        if (error)
            *error = QStringLiteral("the database is not open");
        return 0;
    }
    QSqlQuery q(QSqlDatabase::database(m_connection, false));
    q.prepare(QStringLiteral("INSERT INTO Servers (User, Password, Name, Description, UpdateURL, Official) "
                             "VALUES (?, ?, ?, ?, ?, ?)"));
    q.addBindValue(SqlValues::text(record.User));
    q.addBindValue(SqlValues::text(record.Password));
    q.addBindValue(SqlValues::text(record.Name));
    q.addBindValue(SqlValues::text(record.Description));
    q.addBindValue(SqlValues::text(record.UpdateURL));
    q.addBindValue(SqlValues::optionalInt(record.Official));
    if (!q.exec()) {
        if (error)
            *error = q.lastError().text();
        return 0;
    }
    return q.lastInsertId().toLongLong();
}

bool AccountSet::update(const AccountRecord& record, QString* error) {
    return change("UPDATE Servers SET Password = ?, Name = ?, Description = ?, UpdateURL = ?, Official = ? "
                  "WHERE rowid = ?",
                  {SqlValues::text(record.Password), SqlValues::text(record.Name),
                   SqlValues::text(record.Description), SqlValues::text(record.UpdateURL),
                   SqlValues::optionalInt(record.Official), record.bookmark},
                  error);
}

bool AccountSet::updateNameAndDescription(qint64 bookmark, const QString& name, const QString& description,
                                          QString* error) {
    return change("UPDATE Servers SET Name = ?, Description = ? WHERE rowid = ?",
                  {SqlValues::text(name), SqlValues::text(description), bookmark}, error);
}

bool AccountSet::updatePassword(qint64 bookmark, const QString& password, QString* error) {
    return change("UPDATE Servers SET Password = ? WHERE rowid = ?", {SqlValues::text(password), bookmark}, error);
}

bool AccountSet::remove(const QString& user) {
    return change("DELETE FROM Servers WHERE User = ?", {SqlValues::text(user)}, nullptr);
}

bool AccountSet::removeByBookmark(qint64 bookmark) {
    return change("DELETE FROM Servers WHERE rowid = ?", {bookmark}, nullptr);
}

bool AccountSet::clearOfficialOfAll() {
    QString error;
    // No record at all is not a failure.
    return change("UPDATE Servers SET Official = 0", {}, &error) || count() == 0;
}

bool AccountSet::removeAll() {
    QString error;
    return change("DELETE FROM Servers", {}, &error) || count() == 0;
}

QStringList AccountSet::names() const {
    QStringList result;
    if (m_connection.isEmpty())
        return result;
    QSqlQuery q(QSqlDatabase::database(m_connection, false));
    q.setForwardOnly(true);
    if (q.exec(QStringLiteral("SELECT User FROM Servers ORDER BY User COLLATE NOCASE")))
        while (q.next())
            result.append(q.value(0).toString());
    return result;
}

int AccountSet::count() const {
    if (m_connection.isEmpty())
        return 0;
    QSqlQuery q(QSqlDatabase::database(m_connection, false));
    if (q.exec(QStringLiteral("SELECT count(*) FROM Servers")) && q.next())
        return q.value(0).toInt();
    return 0;
}
