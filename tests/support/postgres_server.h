#pragma once

#include <QString>
#include <QStringList>
#include <memory>
#include <sys/types.h>

class QTemporaryDir;

// A PostgreSQL 15 server of the test's own: a cluster made by initdb in a
// temporary folder, listening only on a Unix socket in that folder, run by an
// unprivileged user when the test runs as root (the server refuses root).
// A watcher process stops it and removes the folder when the test process
// ends, however it ends, so that a crashed test leaves no server behind.
class PostgresServer {
public:
    PostgresServer();
    ~PostgresServer();
    PostgresServer(const PostgresServer&) = delete;
    PostgresServer& operator=(const PostgresServer&) = delete;

    // Where Debian's postgresql-15 puts its programs (TAV_PG_BIN overrides).
    static QString binDir();
    // Empty when the programs are there; otherwise what a skipping test says.
    static QString missingReason();

    // initdb and pg_ctl start; false + `error()` when either fails.
    bool start();
    // pg_ctl stop / start of the same cluster (the folder and data stay).
    bool stop();
    bool restart();
    // SIGKILL of the server process, as a lost machine would leave it.
    bool kill();
    // SIGSTOP / SIGCONT of the server process and every process it started,
    // as a stalled machine or network leaves it: sockets open, no answer.
    // The watcher continues a stopped server before it stops it.
    bool pause();
    bool resume();
    bool isRunning() const { return m_running; }
    // Waits up to `timeoutMs` for a process that is not our child to end
    // (a zombie counts as ended); true when it has.
    static bool waitGone(pid_t pid, int timeoutMs = 10000);

    // libpq key=value string of a database of this server (trust login as
    // the superuser `tav`).
    QString connectionString(const QString& database = QStringLiteral("postgres")) const;
    QString socketDir() const;
    static QString user() { return QStringLiteral("tav"); }
    // A new, empty database with a name never used before in this run.
    QString createDatabase();
    // Runs one SQL statement through psql; false + `error()` when it fails.
    bool psql(const QString& database, const QString& sql, QString* output = nullptr);

    QString error() const { return m_error; }
    QString logText() const;

private:
    // Sends `signal` to the server process and its children (children last
    // for SIGSTOP, first for SIGCONT, so that none is started meanwhile).
    bool signalAll(int signal);
    bool run(const QStringList& argv, QString* output = nullptr, bool asServerUser = true);
    QStringList asOwner(const QStringList& argv) const;

    std::unique_ptr<QTemporaryDir> m_dir;
    QString m_owner;     // the unprivileged user when running as root, else empty
    pid_t m_watcher = -1;
    int m_watchPipe = -1;
    bool m_running = false;
    int m_databases = 0;
    QString m_error;
};

// One server for the whole test process, started on first use.
PostgresServer* sharedPostgresServer(QString* whyNot);
