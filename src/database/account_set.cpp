#include "database/account_set.h"

#include "database/store_engine.h"
#include "database/store_failure.h"
#include "database/write_gate.h"
#include "database/tables.h"

#include <QByteArray>

namespace {

QByteArray selectWhere(const char* condition) {
    return QByteArray("SELECT ") + ServersTable::kColumns + " FROM Servers WHERE " + condition;
}

QByteArray quotedSelectWhere(const char* condition) {
    return QByteArray("SELECT ") + ServersTable::kQuotedColumns + " FROM \"Servers\" WHERE " + condition;
}

AccountRecord readRecord(const StoreStatement& q) {
    AccountRecord r;
    r.bookmark = q.integer(0);
    r.User = q.text(1);
    r.Password = q.text(2);
    r.Name = q.text(3);
    r.Description = q.text(4);
    r.UpdateURL = q.text(5);
    r.Official = q.optionalInteger(6);
    return r;
}

std::optional<AccountRecord> fetchOne(StoreStatement& q) {
    std::optional<AccountRecord> result;
    if (q.next())
        result = readRecord(q);
    q.done();
    return result;
}

const QString& duplicateName() {
    static const QString text = QStringLiteral("An account by that name already exists.");
    return text;
}

} // namespace

AccountSet::AccountSet() = default;
AccountSet::~AccountSet() = default;

bool AccountSet::attach(const QString& connectionName) {
    detach();
    const std::optional<StoreEngine> engine = StoreEngine::of(connectionName);
    if (!engine)
        return false;
    // Names compare without regard to ASCII case on both engines: by the
    // column's collation in SQLite, by the folded form (its unique index) in
    // PostgreSQL.
    auto prepare = [&engine](std::unique_ptr<StoreStatement>& slot, const QByteArray& sqlite,
                             const QByteArray& postgres) { return engine->prepareInto(slot, sqlite, postgres); };
    m_attached =
        prepare(m_findByName, selectWhere("User = ?"), quotedSelectWhere("\"FoldCase\"(\"User\") = \"FoldCase\"(?)")) &&
        prepare(m_findByBookmark, selectWhere("Bookmark = ?"), quotedSelectWhere("\"Bookmark\" = ?")) &&
        prepare(m_names, "SELECT User FROM Servers ORDER BY User COLLATE NOCASE",
                "SELECT \"User\" FROM \"Servers\" ORDER BY \"FoldCase\"(\"User\") COLLATE \"C\"") &&
        prepare(m_count, "SELECT count(*) FROM Servers", "SELECT count(*) FROM \"Servers\"") &&
        prepare(m_add,
                "INSERT INTO Servers (User, Password, Name, Description, UpdateURL, Official) "
                "VALUES (?, ?, ?, ?, ?, ?)",
                "INSERT INTO \"Servers\" (\"User\", \"Password\", \"Name\", \"Description\", \"UpdateURL\", "
                "\"Official\") VALUES (?, ?, ?, ?, ?, ?) RETURNING \"Bookmark\"") &&
        prepare(m_update,
                "UPDATE Servers SET Password = ?, Name = ?, Description = ?, UpdateURL = ?, "
                "Official = ? WHERE Bookmark = ? AND User = ?",
                "UPDATE \"Servers\" SET \"Password\" = ?, \"Name\" = ?, \"Description\" = ?, \"UpdateURL\" = ?, "
                "\"Official\" = ? WHERE \"Bookmark\" = ? AND \"FoldCase\"(\"User\") = \"FoldCase\"(?)") &&
        prepare(m_updateNameAndDescription,
                "UPDATE Servers SET Name = ?, Description = ? WHERE Bookmark = ? AND User = ?",
                "UPDATE \"Servers\" SET \"Name\" = ?, \"Description\" = ? "
                "WHERE \"Bookmark\" = ? AND \"FoldCase\"(\"User\") = \"FoldCase\"(?)") &&
        prepare(m_updatePassword, "UPDATE Servers SET Password = ? WHERE Bookmark = ? AND User = ?",
                "UPDATE \"Servers\" SET \"Password\" = ? "
                "WHERE \"Bookmark\" = ? AND \"FoldCase\"(\"User\") = \"FoldCase\"(?)") &&
        prepare(m_remove, "DELETE FROM Servers WHERE User = ?",
                "DELETE FROM \"Servers\" WHERE \"FoldCase\"(\"User\") = \"FoldCase\"(?)") &&
        prepare(m_removeByBookmark, "DELETE FROM Servers WHERE Bookmark = ? AND User = ?",
                "DELETE FROM \"Servers\" WHERE \"Bookmark\" = ? AND \"FoldCase\"(\"User\") = \"FoldCase\"(?)") &&
        prepare(m_clearOfficial, "UPDATE Servers SET Official = 0", "UPDATE \"Servers\" SET \"Official\" = 0") &&
        prepare(m_removeAll, "DELETE FROM Servers", "DELETE FROM \"Servers\"");
    if (!m_attached)
        detach();
    return m_attached;
}

void AccountSet::detach() {
    for (std::unique_ptr<StoreStatement>* s :
         {&m_findByName, &m_findByBookmark, &m_names, &m_count, &m_add, &m_update, &m_updateNameAndDescription,
          &m_updatePassword, &m_remove, &m_removeByBookmark, &m_clearOfficial, &m_removeAll})
        s->reset();
    m_attached = false;
}

QString AccountSet::refusal(const AccountRecord& record) {
    QString why;
    StoreFailure::checkLength(why, record.User, ServersTable::kUserSize, "user name");
    StoreFailure::checkLength(why, record.Password, ServersTable::kPasswordSize, "password");
    StoreFailure::checkLength(why, record.Name, ServersTable::kNameSize, "server name");
    StoreFailure::checkLength(why, record.Description, ServersTable::kDescriptionSize, "description");
    StoreFailure::checkLength(why, record.UpdateURL, ServersTable::kUpdateUrlSize, "update URL");
    if (why.isEmpty() && record.Official && (*record.Official < 0 || *record.Official > kHighestByte))
        why = StoreFailure::outOfRange("official mark", 0, kHighestByte);
    return why;
}

// Runs a bound change; a change that touched no row means the record is gone.
bool AccountSet::store(StoreStatement& statement, QString* error) {
    const StoreStatement::Outcome outcome = runChange(m_gate, statement);
    if (!outcome.ran())
        return StoreFailure::refuse(error, StoreFailure::fromRefusal(outcome.refusal, duplicateName()));
    if (outcome.changes < 1)
        return StoreFailure::refuse(error, QStringLiteral("The account no longer exists."));
    return true;
}

std::optional<AccountRecord> AccountSet::find(const QString& user) const {
    if (!m_attached)
        return std::nullopt;
    m_findByName->bindText(1, user);
    return fetchOne(*m_findByName);
}

std::optional<AccountRecord> AccountSet::findByBookmark(qint64 bookmark) const {
    if (!m_attached)
        return std::nullopt;
    m_findByBookmark->bindInteger(1, bookmark);
    return fetchOne(*m_findByBookmark);
}

qint64 AccountSet::add(const AccountRecord& record, QString* error) {
    if (!m_attached)
        return StoreFailure::refuse<qint64>(error, StoreFailure::notOpen());
    if (const QString why = refusal(record); !why.isEmpty())
        return StoreFailure::refuse<qint64>(error, why);
    m_add->bindText(1, record.User);
    m_add->bindText(2, record.Password);
    m_add->bindText(3, record.Name);
    m_add->bindText(4, record.Description);
    m_add->bindText(5, record.UpdateURL);
    m_add->bindOptionalInteger(6, record.Official);
    const StoreStatement::Outcome outcome = runChange(m_gate, *m_add);
    if (!outcome.ran())
        return StoreFailure::refuse<qint64>(error, StoreFailure::fromRefusal(outcome.refusal, duplicateName()));
    return outcome.insertedKey;
}

bool AccountSet::update(const AccountRecord& record, QString* error) {
    if (!m_attached)
        return StoreFailure::refuse(error, StoreFailure::notOpen());
    if (const QString why = refusal(record); !why.isEmpty())
        return StoreFailure::refuse(error, why);
    m_update->bindText(1, record.Password);
    m_update->bindText(2, record.Name);
    m_update->bindText(3, record.Description);
    m_update->bindText(4, record.UpdateURL);
    m_update->bindOptionalInteger(5, record.Official);
    m_update->bindInteger(6, record.bookmark);
    m_update->bindText(7, record.User);
    return store(*m_update, error);
}

bool AccountSet::updateNameAndDescription(qint64 bookmark, const QString& expectedUser, const QString& name,
                                          const QString& description, QString* error) {
    if (!m_attached)
        return StoreFailure::refuse(error, StoreFailure::notOpen());
    QString why;
    StoreFailure::checkLength(why, name, ServersTable::kNameSize, "server name");
    StoreFailure::checkLength(why, description, ServersTable::kDescriptionSize, "description");
    if (!why.isEmpty())
        return StoreFailure::refuse(error, why);
    m_updateNameAndDescription->bindText(1, name);
    m_updateNameAndDescription->bindText(2, description);
    m_updateNameAndDescription->bindInteger(3, bookmark);
    m_updateNameAndDescription->bindText(4, expectedUser);
    return store(*m_updateNameAndDescription, error);
}

bool AccountSet::updatePassword(qint64 bookmark, const QString& expectedUser, const QString& password,
                                QString* error) {
    if (!m_attached)
        return StoreFailure::refuse(error, StoreFailure::notOpen());
    QString why;
    StoreFailure::checkLength(why, password, ServersTable::kPasswordSize, "password");
    if (!why.isEmpty())
        return StoreFailure::refuse(error, why);
    m_updatePassword->bindText(1, password);
    m_updatePassword->bindInteger(2, bookmark);
    m_updatePassword->bindText(3, expectedUser);
    return store(*m_updatePassword, error);
}

bool AccountSet::remove(const QString& user) {
    if (!m_attached)
        return false;
    m_remove->bindText(1, user);
    return store(*m_remove, nullptr);
}

bool AccountSet::removeByBookmark(qint64 bookmark, const QString& expectedUser) {
    if (!m_attached)
        return false;
    m_removeByBookmark->bindInteger(1, bookmark);
    m_removeByBookmark->bindText(2, expectedUser);
    return store(*m_removeByBookmark, nullptr);
}

bool AccountSet::clearOfficialOfAll() {
    // No record at all is not a failure.
    return m_attached && runChange(m_gate, *m_clearOfficial).ran();
}

bool AccountSet::removeAll() { return m_attached && runChange(m_gate, *m_removeAll).ran(); }

QStringList AccountSet::names() const {
    QStringList result;
    if (!m_attached)
        return result;
    while (m_names->next())
        result.append(m_names->text(0));
    m_names->done();
    return result;
}

int AccountSet::count() const {
    if (!m_attached)
        return 0;
    const int n = m_count->next() ? int(m_count->integer(0)) : 0;
    m_count->done();
    return n;
}
