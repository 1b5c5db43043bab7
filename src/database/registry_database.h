#pragma once

#include "database/account_set.h"
#include "database/ban_announcements.h"
#include "database/ban_set.h"
#include "database/file_watch.h"
#include "database/postgres_handshake.h"
#include "database/presence_table.h"
#include "database/schema.h"
#include "database/sqlite_statement.h"
#include "database/write_gate.h"
#include "platform/notice.h"

#include <QString>
#include <functional>

// The database of one registry: qbrx.dat in its data folder, or a
// PostgreSQL database that several registries share. Its own uniquely named
// connection, so that several registries can live in one process.
class RegistryDatabase {
public:
    RegistryDatabase();
    ~RegistryDatabase();
    RegistryDatabase(const RegistryDatabase&) = delete;
    RegistryDatabase& operator=(const RegistryDatabase&) = delete;

    // Start-up: check, compact, recover or create qbrx.dat in dataDir, then open it. On failure false + a message
    // naming the file and the failure. `notice` receives a line for standard error (e.g. a recovery), if any.
    bool open(const QString& dataDir, QString* error, QString* notice = nullptr);
    // Start-up with a shared database: connects (libpq's own means find a
    // password unless `password` is given), brings the tables up to date and
    // opens the record sets. On failure false + a message naming the server
    // (never the password) and the failure.
    bool openServer(const QString& connectionString, const QString& password, QString* error);
    void close();
    bool isServer() const { return m_server; }

    // With a shared database: how long this registry's hold on the accounts
    // it has online lasts without renewal (renewed every third of it). Set
    // before openServer.
    void setLeaseSeconds(int seconds) { m_leaseSeconds = seconds; }
    int leaseSeconds() const { return m_leaseSeconds; }
    // This process's name among the registries sharing the database.
    QString registryId() const { return m_registryId; }
    PresenceTable& presence() { return m_presence; }
    // The server answers (always true for qbrx.dat). While it does not, the
    // registry reconnects from tick(), backing off from 1 s to 10 s.
    bool isReachable() const;
    // The periodic work of a shared database, from the registry's general
    // timer: notices a lost connection, reconnects, renews the lease, and
    // reads the bans again every 5 s while no announcement can be heard.
    // Returns true once after a reconnection: the registry then claims its
    // online accounts again.
    bool tick(quint32 nowMs);
    static constexpr quint32 kBanRereadMs = 5000;
    static constexpr quint32 kFirstRetryMs = 1000;
    static constexpr quint32 kLastRetryMs = 10000;
    // A reconnection still not through after this is given up and retried.
    static constexpr quint32 kConnectDeadlineMs = 5000;
    // Told when the server is lost and when it is back.
    void setConnectionSink(NoticeSink sink) { m_connectionSink = std::move(sink); }
    // What messages call it: the file's path, or the server and database.
    QString description() const { return m_description; }
    bool isOpen() const { return m_open; }
    AccountSet& accounts() { return m_accounts; }
    BanSet& bans() { return m_bans; }
    const BanSet& bans() const { return m_bans; }
    QString connectionName() const { return m_connectionName; }
    QString filePath() const { return m_path; }

    // Is the open file still the file at its path, and as long as the engine
    // expects? Once it is not, the database is lost for the rest of the run:
    // every change is refused and nothing is written to the file again.
    // Checked before and after every change and by the registry's timer.
    bool checkFile();
    bool isLost() const { return m_lost; }
    // Told once, with what happened, when the database is found lost.
    void setLostSink(std::function<void(const QString& why)> sink) { m_lostSink = std::move(sink); }
    // Told of every change refused for a reason other than the record (a full
    // disk, an I/O error, the lost file), in the registry's words.
    void setWriteFailureSink(std::function<void(const QString& why)> sink) { m_failureSink = std::move(sink); }

private:
    qint64 expectedSize();
    // Brings the open connection's tables up to date and attaches the sets.
    bool finishOpening(const Schema::EngineSteps& steps, QString* failure);
    // Both engines: the sets write through the gate from here on.
    void markOpen();
    void dropConnection();
    // Statements and the lease on the (re)opened server connection.
    bool prepareShared(QString* failure);
    // The statements, settings and lease again once the connection is back.
    bool finishReconnecting();

    QString m_connectionName;
    QString m_description;
    bool m_server = false;
    QString m_path;
    bool m_open = false;
    bool m_lost = false;
    FileWatch m_watch;
    WriteGate m_gate;
    SqliteStatement m_pageCount;
    qint64 m_pageSize = 0;
    sqlite3* m_sqliteHandle = nullptr;
    // The length last worked out, and the engine's change count it holds for.
    qint64 m_expectedLength = 0;
    unsigned int m_lengthVersion = 0;
    bool m_lengthKnown = false;
    std::function<void(const QString&)> m_lostSink;
    std::function<void(const QString&)> m_failureSink;
    AccountSet m_accounts;
    BanSet m_bans;
    PresenceTable m_presence;
    BanAnnouncements m_announcements;
    QString m_registryId;
    int m_leaseSeconds = 30;
    bool m_connected = true;
    bool m_ticked = false;
    quint32 m_lastRenewal = 0;
    quint32 m_lastBanReread = 0;
    quint32 m_lastAttempt = 0;
    quint32 m_retryMs = kFirstRetryMs;
    NoticeSink m_connectionSink;
    struct pg_conn* m_serverHandle = nullptr;
    PostgresHandshake m_reset;
};
