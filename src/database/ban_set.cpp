#include "database/ban_set.h"

#include "database/store_engine.h"
#include "database/store_failure.h"
#include "database/write_gate.h"
#include "database/tables.h"

#include <QByteArray>
#include <vector>

namespace {

QByteArray selectFirstWhere(const char* condition) {
    return QByteArray("SELECT ") + BansTable::kColumns + " FROM Bans WHERE " + condition +
           " ORDER BY Number LIMIT 1";
}

QByteArray quotedSelectFirstWhere(const char* condition) {
    return QByteArray("SELECT ") + BansTable::kQuotedColumns + " FROM \"Bans\" WHERE " + condition +
           " ORDER BY \"Number\" LIMIT 1";
}

BanRecord readRecord(const StoreStatement& q) {
    BanRecord r;
    r.Number = int(q.integer(0));
    r.Name = q.text(1);
    r.IP = q.text(2);
    r.Reason = q.optionalText(3);
    r.UnbanDate = q.optionalDate(4);
    return r;
}

template <typename Key>
std::optional<BanRecord> fetchOne(const std::unique_ptr<StoreStatement>& q, const Key& key) {
    if (!q)
        return std::nullopt;
    if constexpr (std::is_same_v<Key, QString>)
        q->bindText(1, key);
    else
        q->bindInteger(1, key);
    std::optional<BanRecord> result;
    if (q->next())
        result = readRecord(*q);
    q->done();
    return result;
}

// The folding of the database's FoldCase: ASCII letters only.
QString foldCase(const QString& text) {
    QString folded = text;
    for (QChar& c : folded)
        if (c >= QLatin1Char('A') && c <= QLatin1Char('Z'))
            c = QChar(c.unicode() + ('a' - 'A'));
    return folded;
}

} // namespace

BanSet::BanSet() = default;
BanSet::~BanSet() = default;

bool BanSet::attach(const QString& connectionName) {
    detach();
    const std::optional<StoreEngine> engine = StoreEngine::of(connectionName);
    if (!engine)
        return false;
    auto prepare = [&engine](std::unique_ptr<StoreStatement>& slot, const QByteArray& sqlite,
                             const QByteArray& postgres) { return engine->prepareInto(slot, sqlite, postgres); };
    // Names and addresses compare without regard to ASCII case on both
    // engines (SQLite: the columns' collation; PostgreSQL: the folded form).
    m_attached =
        prepare(m_byIP, selectFirstWhere("IP = ?"), quotedSelectFirstWhere("\"FoldCase\"(\"IP\") = \"FoldCase\"(?)")) &&
        prepare(m_byName, selectFirstWhere("Name = ?"),
                quotedSelectFirstWhere("\"FoldCase\"(\"Name\") = \"FoldCase\"(?)")) &&
        prepare(m_byNumber, selectFirstWhere("Number = ?"), quotedSelectFirstWhere("\"Number\" = ?")) &&
        prepare(m_exists, "SELECT 1 FROM Bans LIMIT 1", "SELECT 1 FROM \"Bans\" LIMIT 1") &&
        prepare(m_list, QByteArray("SELECT ") + BansTable::kColumns + " FROM Bans ORDER BY Number",
                QByteArray("SELECT ") + BansTable::kQuotedColumns + " FROM \"Bans\" ORDER BY \"Number\"") &&
        prepare(m_count, "SELECT count(*) FROM Bans", "SELECT count(*) FROM \"Bans\"") &&
        prepare(m_numbers, "SELECT Number FROM Bans", "SELECT \"Number\" FROM \"Bans\"") &&
        prepare(m_add, "INSERT INTO Bans (Number, Name, IP, Reason, UnbanDate) VALUES (?, ?, ?, ?, ?)",
                "INSERT INTO \"Bans\" (\"Number\", \"Name\", \"IP\", \"Reason\", \"UnbanDate\") "
                "VALUES (?, ?, ?, ?, ?)") &&
        prepare(m_update, "UPDATE Bans SET IP = ?, Reason = ?, UnbanDate = ? WHERE Number = ? AND Name = ?",
                "UPDATE \"Bans\" SET \"IP\" = ?, \"Reason\" = ?, \"UnbanDate\" = ? "
                "WHERE \"Number\" = ? AND \"FoldCase\"(\"Name\") = \"FoldCase\"(?)") &&
        prepare(m_remove, "DELETE FROM Bans WHERE Number = ?", "DELETE FROM \"Bans\" WHERE \"Number\" = ?") &&
        prepare(m_removeIfUnchanged, "DELETE FROM Bans WHERE Number = ? AND IP = ? AND UnbanDate = ?",
                "DELETE FROM \"Bans\" WHERE \"Number\" = ? AND \"FoldCase\"(\"IP\") = \"FoldCase\"(?) "
                "AND \"UnbanDate\" = ?") &&
        prepare(m_removeAll, "DELETE FROM Bans", "DELETE FROM \"Bans\"");
    if (!m_attached)
        detach();
    // The registry's SQLite file is locked for it alone (locking_mode
    // EXCLUSIVE); a shared server's bans change behind its back.
    m_emptyCacheable = m_attached && engine->kind() == StoreEngine::Kind::Sqlite;
    return m_attached;
}

void BanSet::detach() {
    for (std::unique_ptr<StoreStatement>* s : {&m_byIP, &m_byName, &m_byNumber, &m_exists, &m_list, &m_count,
                                               &m_numbers, &m_add, &m_update, &m_remove, &m_removeIfUnchanged, &m_removeAll})
        s->reset();
    m_attached = false;
    m_memoryStale = true;
    m_emptyCacheable = false;
    m_emptyKnown.reset();
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

void BanSet::keepInMemory(bool on) {
    m_inMemory = on;
    m_memory.clear();
    m_memoryStale = true;
}

void BanSet::refreshMemory() const {
    if (!m_memoryStale || !m_attached)
        return;
    QList<BanRecord> fresh;
    while (m_list->next())
        fresh.append(readRecord(*m_list));
    const bool failed = m_list->failed();
    m_list->done();
    // Stale or not, the copy is not read again until told: while the server
    // is away each accept must not wait for it.
    m_memoryStale = false;
    if (failed)
        return;
    m_memory = std::move(fresh);
    ++m_memoryReads;
}

StoreStatement::Outcome BanSet::change(StoreStatement& statement) {
    const StoreStatement::Outcome outcome = runChange(m_gate, statement);
    m_memoryStale = true;
    m_emptyKnown.reset();
    return outcome;
}

std::optional<BanRecord> BanSet::findByIP(const QString& ip) const {
    ++m_addressSearches;
    if (!m_inMemory)
        return fetchOne(m_byIP, ip);
    refreshMemory();
    const QString folded = foldCase(ip);
    for (const BanRecord& ban : m_memory)
        if (foldCase(ban.IP) == folded)
            return ban;
    return std::nullopt;
}

std::optional<BanRecord> BanSet::findByName(const QString& name) const { return fetchOne(m_byName, name); }

std::optional<BanRecord> BanSet::findByNumber(int number) const { return fetchOne(m_byNumber, qint64(number)); }

bool BanSet::add(const BanRecord& record, QString* error) {
    if (!m_attached)
        return StoreFailure::refuse(error, StoreFailure::notOpen());
    if (const QString why = refusal(record); !why.isEmpty())
        return StoreFailure::refuse(error, why);
    m_add->bindInteger(1, record.Number);
    m_add->bindText(2, record.Name);
    m_add->bindText(3, record.IP);
    m_add->bindOptionalText(4, record.Reason);
    m_add->bindOptionalDate(5, record.UnbanDate);
    const StoreStatement::Outcome outcome = change(*m_add);
    if (!outcome.ran())
        return StoreFailure::refuse(error, StoreFailure::fromRefusal(outcome.refusal,
                                                      QStringLiteral("A ban with that number already exists.")));
    return true;
}

bool BanSet::update(const BanRecord& record, QString* error) {
    if (!m_attached)
        return StoreFailure::refuse(error, StoreFailure::notOpen());
    if (const QString why = refusal(record); !why.isEmpty())
        return StoreFailure::refuse(error, why);
    m_update->bindText(1, record.IP);
    m_update->bindOptionalText(2, record.Reason);
    m_update->bindOptionalDate(3, record.UnbanDate);
    m_update->bindInteger(4, record.Number);
    m_update->bindText(5, record.Name);
    const StoreStatement::Outcome outcome = change(*m_update);
    if (!outcome.ran())
        return StoreFailure::refuse(error, StoreFailure::fromRefusal(outcome.refusal,
                                                      QStringLiteral("A ban with that number already exists.")));
    if (outcome.changes < 1)
        return StoreFailure::refuse(error, QStringLiteral("The ban no longer exists."));
    return true;
}

bool BanSet::remove(int number) {
    if (!m_attached)
        return false;
    m_remove->bindInteger(1, number);
    const StoreStatement::Outcome outcome = change(*m_remove);
    return outcome.ran() && outcome.changes > 0;
}

bool BanSet::removeIfUnchanged(const BanRecord& ban) {
    if (!m_attached)
        return false;
    m_removeIfUnchanged->bindInteger(1, ban.Number);
    m_removeIfUnchanged->bindText(2, ban.IP);
    m_removeIfUnchanged->bindOptionalDate(3, ban.UnbanDate);
    const StoreStatement::Outcome outcome = change(*m_removeIfUnchanged);
    return outcome.ran() && outcome.changes > 0;
}

bool BanSet::removeAll() { return m_attached && change(*m_removeAll).ran(); }

QList<BanRecord> BanSet::list() const {
    QList<BanRecord> result;
    if (!m_attached)
        return result;
    while (m_list->next())
        result.append(readRecord(*m_list));
    m_list->done();
    return result;
}

int BanSet::count() const {
    if (!m_attached)
        return 0;
    const int n = m_count->next() ? int(m_count->integer(0)) : 0;
    m_count->done();
    return n;
}

bool BanSet::isEmpty() const {
    if (!m_attached)
        return true;
    if (m_inMemory) {
        refreshMemory();
        return m_memory.isEmpty();
    }
    if (m_emptyKnown)
        return *m_emptyKnown;
    const bool any = m_exists->next();
    m_exists->done();
    if (m_emptyCacheable) {
        // A row is a sure answer; no row may also be a failed read, which
        // is not kept: the count says empty only when it could count.
        if (any)
            m_emptyKnown = false;
        else if (m_count->next() && m_count->integer(0) == 0)
            m_emptyKnown = true;
        m_count->done();
    }
    return !any;
}

std::optional<int> BanSet::nextFreeNumber() const {
    std::vector<bool> taken(kHighestNumber + 1, false);
    int n = 0;
    if (m_attached) {
        while (m_numbers->next()) {
            const qint64 number = m_numbers->integer(0);
            if (number >= 0 && number <= kHighestNumber)
                taken[size_t(number)] = true;
            ++n;
        }
        m_numbers->done();
    }
    if (n + 1 <= kHighestNumber && !taken[size_t(n + 1)])
        return n + 1;
    for (int number = 1; number <= kHighestNumber; ++number)
        if (!taken[size_t(number)])
            return number;
    return std::nullopt;
}
