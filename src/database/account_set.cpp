#include "database/account_set.h"

#include "database/sql_values.h"

#include <QSqlDatabase>
#include <QSqlError>
#include <QSqlQuery>

namespace {

constexpr const char* kColumns = "rowid, User, Password, Name, Description, UpdateURL, Official";

AccountRecord readRecord(const QSqlQuery& q) {
    AccountRecord r;
    r.bookmark = q.value(0).toLongLong();
    r.User = q.value(1).toString();
    r.Password = q.value(2).toString();
    r.Name = q.value(3).toString();
    r.Description = q.value(4).toString();
    r.UpdateURL = q.value(5).toString();
    r.Official = SqlValues::readOptionalInt(q.value(6));
    return r;
}

std::optional<AccountRecord> fetchOne(QSqlQuery* q, const QVariant& key) {
    if (!q)
        return std::nullopt;
    q->bindValue(0, key);
    std::optional<AccountRecord> result;
    if (q->exec() && q->next())
        result = readRecord(*q);
    q->finish();
    return result;
}

} // namespace

AccountSet::AccountSet() = default;
AccountSet::~AccountSet() = default;

void AccountSet::attach(const QString& connectionName) {
    detach();
    m_connection = connectionName;
}

void AccountSet::detach() {
    m_findByName.reset();
    m_findByBookmark.reset();
    m_connection.clear();
}

// The two look-ups run on every login; they are prepared once and reused.
QSqlQuery* AccountSet::prepared(std::unique_ptr<QSqlQuery>& slot, const char* sql) const {
    if (slot)
        return slot.get();
    if (m_connection.isEmpty())
        return nullptr;
    auto q = std::make_unique<QSqlQuery>(QSqlDatabase::database(m_connection, false));
    q->setForwardOnly(true);
    if (!q->prepare(QString::fromLatin1(sql)))
        return nullptr;
    slot = std::move(q);
    return slot.get();
}

std::optional<AccountRecord> AccountSet::find(const QString& user) const {
    static const QByteArray sql = QByteArray("SELECT ") + kColumns + " FROM Servers WHERE User = ?";
    return fetchOne(prepared(m_findByName, sql.constData()), SqlValues::text(user));
}

std::optional<AccountRecord> AccountSet::findByBookmark(qint64 bookmark) const {
    static const QByteArray sql = QByteArray("SELECT ") + kColumns + " FROM Servers WHERE rowid = ?";
    return fetchOne(prepared(m_findByBookmark, sql.constData()), bookmark);
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
