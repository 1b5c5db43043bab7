#pragma once

#include "database/account_set.h"
#include "database/ban_set.h"

#include <QString>

// qbrx.dat of one registry: its own uniquely named connection, so that
// several registries can live in one process.
class RegistryDatabase {
public:
    RegistryDatabase();
    ~RegistryDatabase();
    RegistryDatabase(const RegistryDatabase&) = delete;
    RegistryDatabase& operator=(const RegistryDatabase&) = delete;

    // Start-up: check, compact, recover or create qbrx.dat in dataDir, then open it. On failure false + a message
    // naming the file and the failure. `notice` receives a line for standard error (e.g. a recovery), if any.
    bool open(const QString& dataDir, QString* error, QString* notice = nullptr);
    void close();
    bool isOpen() const { return m_open; }
    AccountSet& accounts() { return m_accounts; }
    BanSet& bans() { return m_bans; }
    const BanSet& bans() const { return m_bans; }
    QString connectionName() const { return m_connectionName; }
    QString filePath() const { return m_path; }

private:
    QString m_connectionName;
    QString m_path;
    bool m_open = false;
    AccountSet m_accounts;
    BanSet m_bans;
};
