#pragma once

#include "database/store_statement.h"

class WriteGate;

#include <QString>
#include <QStringList>
#include <memory>
#include <optional>

// One record of the table Servers.
struct AccountRecord {
    qint64 bookmark = 0;                 // the record's key; never given to another record
    QString User, Password, Name, Description, UpdateURL;
    std::optional<int> Official;         // NULL possible (written by other tools)
};

// The server accounts. Every operation is one statement, prepared once, with
// bound values, committed before it returns. A write through a bookmark names
// the account it expects there and touches nothing when the bookmark holds
// another account or none: a record that has vanished is reported as not
// found, and no operation ever writes another record instead. Refusals come
// back in the registry's own words.
class AccountSet {
public:
    AccountSet();
    ~AccountSet();
    AccountSet(const AccountSet&) = delete;
    AccountSet& operator=(const AccountSet&) = delete;

    std::optional<AccountRecord> find(const QString& user) const;          // name compared without regard to case
    // Whether the last find() could not be made at all (the server did not
    // answer in time), as against one that found no such account.
    bool lastFindFailed() const { return m_findByName && m_findByName->failed(); }
    std::optional<AccountRecord> findByBookmark(qint64 bookmark) const;
    qint64 add(const AccountRecord& record, QString* error = nullptr);      // new bookmark, or 0 + why
    // All fields but User of the record at record.bookmark, while it is still
    // the account record.User. False when vanished or refused.
    bool update(const AccountRecord& record, QString* error = nullptr);
    bool updateNameAndDescription(qint64 bookmark, const QString& expectedUser, const QString& name,
                                  const QString& description, QString* error = nullptr);
    bool updatePassword(qint64 bookmark, const QString& expectedUser, const QString& password,
                        QString* error = nullptr);
    bool remove(const QString& user);                                       // false when not found
    bool removeByBookmark(qint64 bookmark, const QString& expectedUser);    // false when not found
    bool clearOfficialOfAll();                                              // Official = 0 in every record
    bool removeAll();
    QStringList names() const;                                              // ascending, without regard to case
    int count() const;

    // Used by RegistryDatabase: prepares every statement on the connection,
    // SQLite or PostgreSQL; false when the tables do not fit them.
    bool attach(const QString& connectionName);
    void detach();
    // Every change goes through `gate` from now on (none: plainly).
    void setWriteGate(const WriteGate* gate) { m_gate = gate; }

private:
    // The checks made before anything is written; the empty text when fine.
    static QString refusal(const AccountRecord& record);
    bool store(StoreStatement& statement, QString* error);

    bool m_attached = false;
    const WriteGate* m_gate = nullptr;
    std::unique_ptr<StoreStatement> m_findByName, m_findByBookmark, m_names, m_count;
    std::unique_ptr<StoreStatement> m_add, m_update, m_updateNameAndDescription, m_updatePassword, m_remove,
        m_removeByBookmark, m_clearOfficial, m_removeAll;
};
