#include "database/ban_set.h"

#include "database/store_failure.h"
#include "database/write_gate.h"
#include "database/tables.h"

#include <QByteArray>
#include <QSqlDatabase>
#include <vector>

namespace {

QByteArray selectFirstWhere(const char* condition) {
    return QByteArray("SELECT ") + BansTable::kColumns + " FROM Bans WHERE " + condition +
           " ORDER BY Number LIMIT 1";
}

BanRecord readRecord(const SqliteStatement& q) {
    BanRecord r;
    r.Number = int(q.integer(0));
    r.Name = q.text(1);
    r.IP = q.text(2);
    r.Reason = q.optionalText(3);
    r.UnbanDate = q.optionalDate(4);
    return r;
}

template <typename Key> std::optional<BanRecord> fetchOne(SqliteStatement& q, const Key& key) {
    if (!q.isPrepared())
        return std::nullopt;
    if constexpr (std::is_same_v<Key, QString>)
        q.bindText(1, key);
    else
        q.bindInteger(1, key);
    std::optional<BanRecord> result;
    if (q.next())
        result = readRecord(q);
    q.done();
    return result;
}

} // namespace

BanSet::BanSet() = default;
BanSet::~BanSet() = default;

bool BanSet::attach(const QString& connectionName) {
    detach();
    sqlite3* handle = SqliteStatement::handleOf(QSqlDatabase::database(connectionName, false));
    m_attached = m_byIP.prepare(handle, selectFirstWhere("IP = ?").constData()) &&
                 m_byName.prepare(handle, selectFirstWhere("Name = ?").constData()) &&
                 m_byNumber.prepare(handle, selectFirstWhere("Number = ?").constData()) &&
                 m_exists.prepare(handle, "SELECT 1 FROM Bans LIMIT 1") &&
                 m_list.prepare(handle, (QByteArray("SELECT ") + BansTable::kColumns + " FROM Bans ORDER BY Number")
                                            .constData()) &&
                 m_count.prepare(handle, "SELECT count(*) FROM Bans") &&
                 m_numbers.prepare(handle, "SELECT Number FROM Bans") &&
                 m_add.prepare(handle, "INSERT INTO Bans (Number, Name, IP, Reason, UnbanDate) VALUES (?, ?, ?, ?, ?)") &&
                 m_update.prepare(handle, "UPDATE Bans SET IP = ?, Reason = ?, UnbanDate = ? "
                                          "WHERE Number = ? AND Name = ?") &&
                 m_remove.prepare(handle, "DELETE FROM Bans WHERE Number = ?") &&
                 m_removeAll.prepare(handle, "DELETE FROM Bans");
    if (!m_attached)
        detach();
    return m_attached;
}

void BanSet::detach() {
    for (SqliteStatement* s : {&m_byIP, &m_byName, &m_byNumber, &m_exists, &m_list, &m_count, &m_numbers, &m_add,
                               &m_update, &m_remove, &m_removeAll})
        s->finalize();
    m_attached = false;
}

QString BanSet::refusal(const BanRecord& record) {
    QString why;
    if (record.Number < 0 || record.Number > kHighestNumber)
        why = StoreFailure::outOfRange("ban number", 0, kHighestNumber);
    StoreFailure::checkLength(why, record.Name, BansTable::kNameSize, "ban name");
    StoreFailure::checkLength(why, record.IP, BansTable::kIpSize, "IP");
    StoreFailure::checkLength(why, record.Reason.value_or(QString()), BansTable::kReasonSize, "reason");
    return why;
}

std::optional<BanRecord> BanSet::findByIP(const QString& ip) const {
    ++m_addressSearches;
    return fetchOne(m_byIP, ip);
}

std::optional<BanRecord> BanSet::findByName(const QString& name) const { return fetchOne(m_byName, name); }

std::optional<BanRecord> BanSet::findByNumber(int number) const { return fetchOne(m_byNumber, qint64(number)); }

bool BanSet::add(const BanRecord& record, QString* error) {
    if (!m_attached)
        return StoreFailure::refuse(error, StoreFailure::notOpen());
    if (const QString why = refusal(record); !why.isEmpty())
        return StoreFailure::refuse(error, why);
    m_add.bindInteger(1, record.Number);
    m_add.bindText(2, record.Name);
    m_add.bindText(3, record.IP);
    m_add.bindOptionalText(4, record.Reason);
    m_add.bindOptionalDate(5, record.UnbanDate);
    const SqliteStatement::Outcome outcome = runChange(m_gate, m_add);
    if (!outcome.ran())
        return StoreFailure::refuse(error, StoreFailure::fromEngine(outcome.code,
                                                      QStringLiteral("A ban with that number already exists.")));
    return true;
}

bool BanSet::update(const BanRecord& record, QString* error) {
    if (!m_attached)
        return StoreFailure::refuse(error, StoreFailure::notOpen());
    if (const QString why = refusal(record); !why.isEmpty())
        return StoreFailure::refuse(error, why);
    m_update.bindText(1, record.IP);
    m_update.bindOptionalText(2, record.Reason);
    m_update.bindOptionalDate(3, record.UnbanDate);
    m_update.bindInteger(4, record.Number);
    m_update.bindText(5, record.Name);
    const SqliteStatement::Outcome outcome = runChange(m_gate, m_update);
    if (!outcome.ran())
        return StoreFailure::refuse(error, StoreFailure::fromEngine(outcome.code,
                                                      QStringLiteral("A ban with that number already exists.")));
    if (outcome.changes < 1)
        return StoreFailure::refuse(error, QStringLiteral("The ban no longer exists."));
    return true;
}

bool BanSet::remove(int number) {
    if (!m_attached)
        return false;
    m_remove.bindInteger(1, number);
    const SqliteStatement::Outcome outcome = runChange(m_gate, m_remove);
    return outcome.ran() && outcome.changes > 0;
}

bool BanSet::removeAll() { return m_attached && runChange(m_gate, m_removeAll).ran(); }

QList<BanRecord> BanSet::list() const {
    QList<BanRecord> result;
    if (!m_attached)
        return result;
    while (m_list.next())
        result.append(readRecord(m_list));
    m_list.done();
    return result;
}

int BanSet::count() const {
    if (!m_attached)
        return 0;
    const int n = m_count.next() ? int(m_count.integer(0)) : 0;
    m_count.done();
    return n;
}

bool BanSet::isEmpty() const {
    if (!m_attached)
        return true;
    const bool any = m_exists.next();
    m_exists.done();
    return !any;
}

std::optional<int> BanSet::nextFreeNumber() const {
    std::vector<bool> taken(kHighestNumber + 1, false);
    int n = 0;
    if (m_attached) {
        while (m_numbers.next()) {
            const qint64 number = m_numbers.integer(0);
            if (number >= 0 && number <= kHighestNumber)
                taken[size_t(number)] = true;
            ++n;
        }
        m_numbers.done();
    }
    if (n + 1 <= kHighestNumber && !taken[size_t(n + 1)])
        return n + 1;
    for (int number = 1; number <= kHighestNumber; ++number)
        if (!taken[size_t(number)])
            return number;
    return std::nullopt;
}
