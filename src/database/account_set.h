#pragma once

#include "database/sqlite_statement.h"

#include <QString>
#include <QStringList>
#include <optional>

// One record of the table Servers.
struct AccountRecord {
    qint64 bookmark = 0;                 // the record's rowid
    QString User, Password, Name, Description, UpdateURL;
    std::optional<int> Official;         // NULL possible (written by other tools)
};

// The server accounts. Every operation is one statement with bound values,
// committed before it returns. A record that has vanished is reported as not
// found; no operation ever touches another record instead.
class AccountSet {
public:
    AccountSet();
    ~AccountSet();
    AccountSet(const AccountSet&) = delete;
    AccountSet& operator=(const AccountSet&) = delete;

    std::optional<AccountRecord> find(const QString& user) const;          // name compared without regard to case
    std::optional<AccountRecord> findByBookmark(qint64 bookmark) const;
    qint64 add(const AccountRecord& record, QString* error = nullptr);      // new bookmark, or 0 + engine message
    bool update(const AccountRecord& record, QString* error = nullptr);     // all fields but User, by bookmark;
                                                                            // false when vanished or refused
    bool updateNameAndDescription(qint64 bookmark, const QString& name, const QString& description,
                                  QString* error = nullptr);               // false when vanished/refused
    bool updatePassword(qint64 bookmark, const QString& password, QString* error = nullptr);
    bool remove(const QString& user);                                       // false when not found
    bool removeByBookmark(qint64 bookmark);                                 // false when not found
    bool clearOfficialOfAll();                                              // Official = 0 in every record
    bool removeAll();
    QStringList names() const;                                              // ascending, without regard to case
    int count() const;

    // Used by RegistryDatabase: the connection the set works on (empty: none).
    void attach(const QString& connectionName);
    void detach();

private:
    bool change(const char* sql, const QList<QVariant>& values, QString* error);

    QString m_connection;
    // The login look-ups, prepared once on the engine handle.
    mutable SqliteStatement m_findByName;
    mutable SqliteStatement m_findByBookmark;
};
