#include "database/ban_set.h"

#include "database/sql_values.h"

#include <QSqlDatabase>
#include <QSqlError>
#include <QSqlQuery>
#include <vector>

namespace {

BanRecord readRecord(const QSqlQuery& q) {
    BanRecord r;
    r.Number = q.value(0).toInt();
    r.Name = q.value(1).toString();
    r.IP = q.value(2).toString();
    r.Reason = SqlValues::readOptionalText(q.value(3));
    r.UnbanDate = SqlValues::readOptionalDate(q.value(4));
    return r;
}

BanRecord readRecord(const SqliteStatement& q) {
    BanRecord r;
    r.Number = int(q.integer(0));
    r.Name = q.text(1);
    r.IP = q.text(2);
    if (!q.isNull(3))
        r.Reason = q.text(3);
    if (!q.isNull(4)) {
        const QDate d = QDate::fromString(q.text(4), Qt::ISODate);
        if (d.isValid())
            r.UnbanDate = d;
    }
    return r;
}

#define BAN_SELECT "SELECT Number, Name, IP, Reason, UnbanDate FROM Bans WHERE "
#define BAN_FIRST " ORDER BY Number LIMIT 1"

template <typename Key> std::optional<BanRecord> fetchOne(SqliteStatement& q, const Key& key) {
    if (!q.isPrepared())
        return std::nullopt;
    std::optional<BanRecord> result;
    if (q.runWith(key))
        result = readRecord(q);
    q.done();
    return result;
}

void setError(QString* error, const QString& text) {
    if (error)
        *error = text;
}

} // namespace

BanSet::BanSet() = default;
BanSet::~BanSet() = default;

void BanSet::attach(const QString& connectionName) {
    detach();
    m_connection = connectionName;
    sqlite3* handle = SqliteStatement::handleOf(QSqlDatabase::database(m_connection, false));
    m_byIP.prepare(handle, BAN_SELECT "IP = ?" BAN_FIRST);
    m_byName.prepare(handle, BAN_SELECT "Name = ?" BAN_FIRST);
    m_byNumber.prepare(handle, BAN_SELECT "Number = ?" BAN_FIRST);
    m_exists.prepare(handle, "SELECT 1 FROM Bans LIMIT 1");
}

void BanSet::detach() {
    m_byIP.reset();
    m_byName.reset();
    m_byNumber.reset();
    m_exists.reset();
    m_connection.clear();
}

std::optional<BanRecord> BanSet::findByIP(const QString& ip) const {
    ++m_addressSearches;
    return fetchOne(m_byIP, ip);
}

std::optional<BanRecord> BanSet::findByName(const QString& name) const { return fetchOne(m_byName, name); }

std::optional<BanRecord> BanSet::findByNumber(int number) const { return fetchOne(m_byNumber, qint64(number)); }

bool BanSet::add(const BanRecord& record, QString* error) {
    if (m_connection.isEmpty()) {
        setError(error, QStringLiteral("the database is not open"));
        return false;
    }
    QSqlQuery q(QSqlDatabase::database(m_connection, false));
    q.prepare(QStringLiteral("INSERT INTO Bans (Number, Name, IP, Reason, UnbanDate) VALUES (?, ?, ?, ?, ?)"));
    q.addBindValue(record.Number);
    q.addBindValue(SqlValues::text(record.Name));
    q.addBindValue(SqlValues::text(record.IP));
    q.addBindValue(SqlValues::optionalText(record.Reason));
    q.addBindValue(SqlValues::optionalDate(record.UnbanDate));
    if (!q.exec()) {
        setError(error, q.lastError().text());
        return false;
    }
    return true;
}

bool BanSet::update(const BanRecord& record, QString* error) {
    if (m_connection.isEmpty()) {
        setError(error, QStringLiteral("the database is not open"));
        return false;
    }
    QSqlQuery q(QSqlDatabase::database(m_connection, false));
    q.prepare(QStringLiteral("UPDATE Bans SET IP = ?, Reason = ?, UnbanDate = ? WHERE Number = ?"));
    q.addBindValue(SqlValues::text(record.IP));
    q.addBindValue(SqlValues::optionalText(record.Reason));
    q.addBindValue(SqlValues::optionalDate(record.UnbanDate));
    q.addBindValue(record.Number);
    if (!q.exec()) {
        setError(error, q.lastError().text());
        return false;
    }
    if (q.numRowsAffected() < 1) {
        setError(error, QStringLiteral("the ban no longer exists"));
        return false;
    }
    return true;
}

bool BanSet::remove(int number) {
    if (m_connection.isEmpty())
        return false;
    QSqlQuery q(QSqlDatabase::database(m_connection, false));
    q.prepare(QStringLiteral("DELETE FROM Bans WHERE Number = ?"));
    q.addBindValue(number);
    return q.exec() && q.numRowsAffected() > 0;
}

bool BanSet::removeAll() {
    if (m_connection.isEmpty())
        return false;
    QSqlQuery q(QSqlDatabase::database(m_connection, false));
    return q.exec(QStringLiteral("DELETE FROM Bans"));
}

QList<BanRecord> BanSet::list() const {
    QList<BanRecord> result;
    if (m_connection.isEmpty())
        return result;
    QSqlQuery q(QSqlDatabase::database(m_connection, false));
    q.setForwardOnly(true);
    if (q.exec(QStringLiteral("SELECT Number, Name, IP, Reason, UnbanDate FROM Bans ORDER BY Number")))
        while (q.next())
            result.append(readRecord(q));
    return result;
}

int BanSet::count() const {
    if (m_connection.isEmpty())
        return 0;
    QSqlQuery q(QSqlDatabase::database(m_connection, false));
    if (q.exec(QStringLiteral("SELECT count(*) FROM Bans")) && q.next())
        return q.value(0).toInt();
    return 0;
}

bool BanSet::isEmpty() const {
    if (!m_exists.isPrepared())
        return true;
    const bool any = m_exists.runWithout();
    m_exists.done();
    return !any;
}

std::optional<int> BanSet::nextFreeNumber() const {
    std::vector<bool> taken(kHighestNumber + 1, false);
    int n = 0;
    if (!m_connection.isEmpty()) {
        QSqlQuery q(QSqlDatabase::database(m_connection, false));
        q.setForwardOnly(true);
        if (q.exec(QStringLiteral("SELECT Number FROM Bans")))
            while (q.next()) {
                const int number = q.value(0).toInt();
                if (number >= 0 && number <= kHighestNumber)
                    taken[size_t(number)] = true;
                ++n;
            }
    }
    if (n + 1 <= kHighestNumber && !taken[size_t(n + 1)])
        return n + 1;
    for (int number = 1; number <= kHighestNumber; ++number)
        if (!taken[size_t(number)])
            return number;
    return std::nullopt;
}
