#include "support/postgres_server.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QProcess>
#include <QTemporaryDir>
#include <QThread>

#include <cerrno>
#include <csignal>
#include <fcntl.h>
#include <pwd.h>
#include <sys/wait.h>
#include <unistd.h>
#include <vector>

namespace {

constexpr int kPort = 5432; // only in the socket's name: the server listens on no TCP port

// The shell's single-quoted form of a text.
QString shellQuoted(const QString& text) {
    QString quoted = text;
    quoted.replace(QLatin1String("'"), QLatin1String("'\\''"));
    return QLatin1Char('\'') + quoted + QLatin1Char('\'');
}

// The server refuses to run as root: it runs as the cluster's usual owner,
// or as nobody where PostgreSQL's own user does not exist.
QString unprivilegedUser() {
    if (geteuid() != 0)
        return QString();
    for (const char* name : {"postgres", "nobody"})
        if (getpwnam(name))
            return QString::fromLatin1(name);
    return QString();
}

} // namespace

PostgresServer::PostgresServer() = default;

PostgresServer::~PostgresServer() {
    // The watcher sees the pipe close, stops the server and removes the folder.
    if (m_watchPipe >= 0)
        ::close(m_watchPipe);
    if (m_watcher > 0) {
        int status = 0;
        while (waitpid(m_watcher, &status, 0) < 0 && errno == EINTR) {
        }
    }
}

QString PostgresServer::binDir() {
    const QString overridden = qEnvironmentVariable("TAV_PG_BIN");
    return overridden.isEmpty() ? QStringLiteral("/usr/lib/postgresql/15/bin") : overridden;
}

QString PostgresServer::missingReason() {
    for (const char* program : {"initdb", "pg_ctl", "postgres", "psql"}) {
        const QString path = QDir(binDir()).filePath(QLatin1String(program));
        if (!QFileInfo(path).isExecutable())
            return QStringLiteral("PostgreSQL 15 is not installed (%1 is missing; scripts/install-deps installs "
                                  "postgresql-15)")
                .arg(path);
    }
    return QString();
}

QString PostgresServer::socketDir() const { return m_dir ? m_dir->path() : QString(); }

QString PostgresServer::connectionString(const QString& database) const {
    return QStringLiteral("host=%1 port=%2 dbname=%3 user=%4").arg(socketDir()).arg(kPort).arg(database, user());
}

QString PostgresServer::logText() const {
    QFile f(QDir(socketDir()).filePath(QStringLiteral("server.log")));
    return f.open(QIODevice::ReadOnly) ? QString::fromLocal8Bit(f.readAll()) : QString();
}

QStringList PostgresServer::asOwner(const QStringList& argv) const {
    if (m_owner.isEmpty())
        return argv;
    return QStringList{QStringLiteral("runuser"), QStringLiteral("-u"), m_owner, QStringLiteral("--")} + argv;
}

bool PostgresServer::run(const QStringList& argv, QString* output, bool asServerUser) {
    const QStringList command = asServerUser ? asOwner(argv) : argv;
    QProcess p;
    p.setWorkingDirectory(socketDir());
    p.setProcessChannelMode(QProcess::MergedChannels);
    p.start(command.first(), command.mid(1));
    if (!p.waitForFinished(120000)) {
        p.kill();
        p.waitForFinished();
        m_error = QStringLiteral("%1 did not finish: %2").arg(command.join(QLatin1Char(' ')), p.errorString());
        return false;
    }
    const QString text = QString::fromLocal8Bit(p.readAll());
    if (output)
        *output = text;
    if (p.exitStatus() != QProcess::NormalExit || p.exitCode() != 0) {
        m_error = QStringLiteral("%1 failed: %2").arg(QFileInfo(argv.first()).fileName(), text.trimmed());
        return false;
    }
    return true;
}

bool PostgresServer::start() {
    if (const QString why = missingReason(); !why.isEmpty()) {
        m_error = why;
        return false;
    }
    m_dir = std::make_unique<QTemporaryDir>(QDir::tempPath() + QStringLiteral("/tavpg-XXXXXX"));
    if (!m_dir->isValid()) {
        m_error = QStringLiteral("cannot make a temporary folder");
        return false;
    }
    m_dir->setAutoRemove(false); // the watcher removes it, after the server has stopped
    m_owner = unprivilegedUser();
    if (!m_owner.isEmpty()) {
        const passwd* pw = getpwnam(m_owner.toLocal8Bit().constData());
        if (!pw || chown(QFile::encodeName(socketDir()).constData(), pw->pw_uid, pw->pw_gid) != 0) {
            m_error = QStringLiteral("cannot give %1 to %2").arg(socketDir(), m_owner);
            return false;
        }
    }

    // The watcher: blocks on a pipe whose only writer is this process; when
    // the pipe closes (a normal end, a crash, SIGKILL) it stops the server
    // and removes the folder.
    const QString dataDir = QDir(socketDir()).filePath(QStringLiteral("data"));
    const QString cleanup =
        QStringLiteral("P=$(head -n 1 %2/postmaster.pid 2>/dev/null); "
                       "if [ -n \"$P\" ]; then pkill -CONT -P \"$P\"; kill -CONT \"$P\"; fi 2>/dev/null; "
                       "%1 -D %2 stop -m immediate -w >/dev/null 2>&1; rm -rf %3")
            .arg(asOwner({shellQuoted(QDir(binDir()).filePath(QStringLiteral("pg_ctl")))}).join(QLatin1Char(' ')),
                 shellQuoted(dataDir), shellQuoted(socketDir()));
    const QByteArray script = cleanup.toLocal8Bit();
    int fds[2];
    if (pipe2(fds, O_CLOEXEC) != 0) {
        m_error = QStringLiteral("cannot make the watcher's pipe");
        return false;
    }
    const pid_t child = fork();
    if (child < 0) {
        ::close(fds[0]);
        ::close(fds[1]);
        m_error = QStringLiteral("cannot start the watcher");
        return false;
    }
    if (child == 0) {
        // Only async-signal-safe calls between fork and exec.
        ::close(fds[1]);
        struct sigaction ignore {};
        ignore.sa_handler = SIG_IGN;
        sigaction(SIGINT, &ignore, nullptr);
        sigaction(SIGTERM, &ignore, nullptr);
        char byte;
        for (;;) {
            const ssize_t n = ::read(fds[0], &byte, 1);
            if (n == 0 || (n < 0 && errno != EINTR))
                break;
        }
        execl("/bin/sh", "sh", "-c", script.constData(), static_cast<char*>(nullptr));
        _exit(127);
    }
    ::close(fds[0]);
    m_watchPipe = fds[1];
    m_watcher = child;

    if (!run({QDir(binDir()).filePath(QStringLiteral("initdb")), QStringLiteral("-D"), dataDir, QStringLiteral("-U"),
              user(), QStringLiteral("-A"), QStringLiteral("trust"), QStringLiteral("-E"), QStringLiteral("UTF8"),
              QStringLiteral("--locale=C"), QStringLiteral("--no-sync")}))
        return false;
    return restart();
}

bool PostgresServer::restart() {
    if (m_running)
        return true;
    const QString dataDir = QDir(socketDir()).filePath(QStringLiteral("data"));
    // Durability against a killed server process holds without fsync (the
    // machine stays up); fsync only slows the tests.
    const QString options = QStringLiteral("-k %1 -p %2 -c listen_addresses='' -c fsync=off -c max_connections=200")
                                .arg(shellQuoted(socketDir()))
                                .arg(kPort);
    if (!run({QDir(binDir()).filePath(QStringLiteral("pg_ctl")), QStringLiteral("-D"), dataDir, QStringLiteral("-l"),
              QDir(socketDir()).filePath(QStringLiteral("server.log")), QStringLiteral("-w"), QStringLiteral("-t"),
              QStringLiteral("60"), QStringLiteral("-o"), options, QStringLiteral("start")}))
        return false;
    m_running = true;
    return true;
}

bool PostgresServer::stop() {
    if (!m_running)
        return true;
    const QString dataDir = QDir(socketDir()).filePath(QStringLiteral("data"));
    if (!run({QDir(binDir()).filePath(QStringLiteral("pg_ctl")), QStringLiteral("-D"), dataDir, QStringLiteral("-m"),
              QStringLiteral("fast"), QStringLiteral("-w"), QStringLiteral("stop")}))
        return false;
    m_running = false;
    return true;
}

bool PostgresServer::kill() {
    QFile pidFile(QDir(socketDir()).filePath(QStringLiteral("data/postmaster.pid")));
    if (!pidFile.open(QIODevice::ReadOnly)) {
        m_error = QStringLiteral("no postmaster.pid");
        return false;
    }
    const pid_t pid = pid_t(pidFile.readLine().trimmed().toLongLong());
    if (pid <= 0 || ::kill(pid, SIGKILL) != 0) {
        m_error = QStringLiteral("cannot kill the server process");
        return false;
    }
    m_running = false;
    if (!waitGone(pid)) {
        m_error = QStringLiteral("the killed server process did not end");
        return false;
    }
    // Where nobody reaps orphans, the dead server stays a zombie that the
    // next start would take for a running server: its lock files go.
    pidFile.close();
    pidFile.remove();
    QFile::remove(QDir(socketDir()).filePath(QStringLiteral(".s.PGSQL.%1.lock").arg(kPort)));
    QFile::remove(QDir(socketDir()).filePath(QStringLiteral(".s.PGSQL.%1").arg(kPort)));
    return true;
}

bool PostgresServer::signalAll(int signal) {
    QFile pidFile(QDir(socketDir()).filePath(QStringLiteral("data/postmaster.pid")));
    if (!pidFile.open(QIODevice::ReadOnly)) {
        m_error = QStringLiteral("no postmaster.pid");
        return false;
    }
    const pid_t server = pid_t(pidFile.readLine().trimmed().toLongLong());
    if (server <= 0) {
        m_error = QStringLiteral("no server process");
        return false;
    }
    std::vector<pid_t> children;
    const QStringList entries = QDir(QStringLiteral("/proc")).entryList(QDir::Dirs | QDir::NoDotAndDotDot);
    for (const QString& entry : entries) {
        bool number = false;
        const pid_t pid = pid_t(entry.toLongLong(&number));
        QFile stat(QStringLiteral("/proc/%1/stat").arg(entry));
        if (!number || !stat.open(QIODevice::ReadOnly))
            continue;
        // pid (comm) state ppid ...: the name may hold spaces and parentheses.
        const QByteArray line = stat.readAll();
        const QList<QByteArray> rest = line.mid(line.lastIndexOf(')') + 2).split(' ');
        if (rest.size() > 1 && pid_t(rest[1].toLongLong()) == server)
            children.push_back(pid);
    }
    bool ok = true;
    if (signal != SIGSTOP)
        for (pid_t child : children)
            ok = ::kill(child, signal) == 0 && ok;
    ok = ::kill(server, signal) == 0 && ok;
    if (signal == SIGSTOP)
        for (pid_t child : children)
            ok = ::kill(child, signal) == 0 && ok;
    if (!ok)
        m_error = QStringLiteral("cannot signal every server process");
    return ok;
}

bool PostgresServer::pause() { return signalAll(SIGSTOP); }

bool PostgresServer::resume() { return signalAll(SIGCONT); }

bool PostgresServer::waitGone(pid_t pid, int timeoutMs) {
    for (int waited = 0;; waited += 10) {
        if (::kill(pid, 0) != 0)
            return true;
        QFile stat(QStringLiteral("/proc/%1/stat").arg(pid));
        if (stat.open(QIODevice::ReadOnly)) {
            const QByteArray line = stat.readAll();
            const qsizetype close = line.lastIndexOf(')');
            if (close > 0 && line.mid(close + 2, 1) == "Z")
                return true;
        }
        if (waited >= timeoutMs)
            return false;
        QThread::msleep(10);
    }
}

bool PostgresServer::psql(const QString& database, const QString& sql, QString* output) {
    return run({QDir(binDir()).filePath(QStringLiteral("psql")), QStringLiteral("-X"), QStringLiteral("-q"),
                QStringLiteral("-A"), QStringLiteral("-t"), QStringLiteral("-v"), QStringLiteral("ON_ERROR_STOP=1"),
                QStringLiteral("-h"), socketDir(), QStringLiteral("-p"), QString::number(kPort), QStringLiteral("-U"),
                user(), QStringLiteral("-d"), database, QStringLiteral("-c"), sql},
               output, false);
}

QString PostgresServer::createDatabase() {
    const QString name = QStringLiteral("registry%1").arg(++m_databases);
    if (!psql(QStringLiteral("postgres"), QStringLiteral("CREATE DATABASE %1").arg(name)))
        return QString();
    return name;
}

PostgresServer* sharedPostgresServer(QString* whyNot) {
    static PostgresServer server;
    static bool tried = false;
    static bool started = false;
    if (!tried) {
        tried = true;
        started = server.start();
    }
    if (!started && whyNot)
        *whyNot = server.error();
    return started ? &server : nullptr;
}
