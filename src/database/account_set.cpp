#include "database/account_set.h"

#include "database/store_failure.h"
#include "database/write_gate.h"
#include "database/tables.h"

#include <QByteArray>
#include <QSqlDatabase>

namespace {

QByteArray selectWhere(const char* condition) {
    return QByteArray("SELECT ") + ServersTable::kColumns + " FROM Servers WHERE " + condition;
}

AccountRecord readRecord(const SqliteStatement& q) {
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

std::optional<AccountRecord> fetchOne(SqliteStatement& q) {
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
    sqlite3* handle = SqliteStatement::handleOf(QSqlDatabase::database(connectionName, false));
    m_attached =
        m_findByName.prepare(handle, selectWhere("User = ?").constData()) &&
        m_findByBookmark.prepare(handle, selectWhere("Bookmark = ?").constData()) &&
        m_names.prepare(handle, "SELECT User FROM Servers ORDER BY User COLLATE NOCASE") &&
        m_count.prepare(handle, "SELECT count(*) FROM Servers") &&
        m_add.prepare(handle, "INSERT INTO Servers (User, Password, Name, Description, UpdateURL, Official) "
                              "VALUES (?, ?, ?, ?, ?, ?)") &&
        m_update.prepare(handle, "UPDATE Servers SET Password = ?, Name = ?, Description = ?, UpdateURL = ?, "
                                 "Official = ? WHERE Bookmark = ? AND User = ?") &&
        m_updateNameAndDescription.prepare(
            handle, "UPDATE Servers SET Name = ?, Description = ? WHERE Bookmark = ? AND User = ?") &&
        m_updatePassword.prepare(handle, "UPDATE Servers SET Password = ? WHERE Bookmark = ? AND User = ?") &&
        m_remove.prepare(handle, "DELETE FROM Servers WHERE User = ?") &&
        m_removeByBookmark.prepare(handle, "DELETE FROM Servers WHERE Bookmark = ? AND User = ?") &&
        m_clearOfficial.prepare(handle, "UPDATE Servers SET Official = 0") &&
        m_removeAll.prepare(handle, "DELETE FROM Servers");
    if (!m_attached)
        detach();
    return m_attached;
}

void AccountSet::detach() {
    for (SqliteStatement* s : {&m_findByName, &m_findByBookmark, &m_names, &m_count, &m_add, &m_update,
                               &m_updateNameAndDescription, &m_updatePassword, &m_remove, &m_removeByBookmark,
                               &m_clearOfficial, &m_removeAll})
        s->finalize();
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
bool AccountSet::store(SqliteStatement& statement, QString* error) {
    const SqliteStatement::Outcome outcome = runChange(m_gate, statement);
    if (!outcome.ran())
        return StoreFailure::refuse(error, StoreFailure::fromEngine(outcome.code, duplicateName()));
    if (outcome.changes < 1)
        return StoreFailure::refuse(error, QStringLiteral("The account no longer exists."));
    return true;
}

std::optional<AccountRecord> AccountSet::find(const QString& user) const {
    if (!m_attached)
        return std::nullopt;
    m_findByName.bindText(1, user);
    return fetchOne(m_findByName);
}

std::optional<AccountRecord> AccountSet::findByBookmark(qint64 bookmark) const {
    if (!m_attached)
        return std::nullopt;
    m_findByBookmark.bindInteger(1, bookmark);
    return fetchOne(m_findByBookmark);
}

qint64 AccountSet::add(const AccountRecord& record, QString* error) {
    if (!m_attached)
        return StoreFailure::refuse<qint64>(error, StoreFailure::notOpen());
    if (const QString why = refusal(record); !why.isEmpty())
        return StoreFailure::refuse<qint64>(error, why);
    m_add.bindText(1, record.User);
    m_add.bindText(2, record.Password);
    m_add.bindText(3, record.Name);
    m_add.bindText(4, record.Description);
    m_add.bindText(5, record.UpdateURL);
    m_add.bindOptionalInteger(6, record.Official);
    const SqliteStatement::Outcome outcome = runChange(m_gate, m_add);
    if (!outcome.ran())
        return StoreFailure::refuse<qint64>(error, StoreFailure::fromEngine(outcome.code, duplicateName()));
    return outcome.insertedKey;
}

bool AccountSet::update(const AccountRecord& record, QString* error) {
    if (!m_attached)
        return StoreFailure::refuse(error, StoreFailure::notOpen());
    if (const QString why = refusal(record); !why.isEmpty())
        return StoreFailure::refuse(error, why);
    m_update.bindText(1, record.Password);
    m_update.bindText(2, record.Name);
    m_update.bindText(3, record.Description);
    m_update.bindText(4, record.UpdateURL);
    m_update.bindOptionalInteger(5, record.Official);
    m_update.bindInteger(6, record.bookmark);
    m_update.bindText(7, record.User);
    return store(m_update, error);
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
    m_updateNameAndDescription.bindText(1, name);
    m_updateNameAndDescription.bindText(2, description);
    m_updateNameAndDescription.bindInteger(3, bookmark);
    m_updateNameAndDescription.bindText(4, expectedUser);
    return store(m_updateNameAndDescription, error);
}

bool AccountSet::updatePassword(qint64 bookmark, const QString& expectedUser, const QString& password,
                                QString* error) {
    if (!m_attached)
        return StoreFailure::refuse(error, StoreFailure::notOpen());
    QString why;
    StoreFailure::checkLength(why, password, ServersTable::kPasswordSize, "password");
    if (!why.isEmpty())
        return StoreFailure::refuse(error, why);
    m_updatePassword.bindText(1, password);
    m_updatePassword.bindInteger(2, bookmark);
    m_updatePassword.bindText(3, expectedUser);
    return store(m_updatePassword, error);
}

bool AccountSet::remove(const QString& user) {
    if (!m_attached)
        return false;
    m_remove.bindText(1, user);
    return store(m_remove, nullptr);
}

bool AccountSet::removeByBookmark(qint64 bookmark, const QString& expectedUser) {
    if (!m_attached)
        return false;
    m_removeByBookmark.bindInteger(1, bookmark);
    m_removeByBookmark.bindText(2, expectedUser);
    return store(m_removeByBookmark, nullptr);
}

bool AccountSet::clearOfficialOfAll() {
    // No record at all is not a failure.
    return m_attached && runChange(m_gate, m_clearOfficial).ran();
}

bool AccountSet::removeAll() { return m_attached && runChange(m_gate, m_removeAll).ran(); }

QStringList AccountSet::names() const {
    QStringList result;
    if (!m_attached)
        return result;
    while (m_names.next())
        result.append(m_names.text(0));
    m_names.done();
    return result;
}

int AccountSet::count() const {
    if (!m_attached)
        return 0;
    const int n = m_count.next() ? int(m_count.integer(0)) : 0;
    m_count.done();
    return n;
}
