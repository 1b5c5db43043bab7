#include "database/database_file.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QSqlDatabase>
#include <QSqlError>
#include <QSqlQuery>
#include <QUuid>

#include <cerrno>
#include <optional>
#include <cstdio>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

QString systemError() { return QString::fromLocal8Bit(std::strerror(errno)); }

// A private connection that exists only for the lifetime of this object.
class ScopedConnection {
public:
    explicit ScopedConnection(const QString& path)
        : m_name(QStringLiteral("tav-file-") + QUuid::createUuid().toString(QUuid::WithoutBraces)) {
        QSqlDatabase db = QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"), m_name);
        db.setDatabaseName(path);
        m_open = db.open();
        if (!m_open)
            m_error = db.lastError().databaseText();
    }
    ~ScopedConnection() {
        {
            QSqlDatabase db = QSqlDatabase::database(m_name, false);
            db.close();
        }
        QSqlDatabase::removeDatabase(m_name);
    }
    bool isOpen() const { return m_open; }
    QString error() const { return m_error; }
    QSqlDatabase db() const { return QSqlDatabase::database(m_name, false); }

private:
    QString m_name;
    bool m_open = false;
    QString m_error;
};

qint64 countRows(QSqlDatabase db, const QString& table, bool* ok) {
    QSqlQuery q(db);
    *ok = q.exec(QStringLiteral("SELECT count(*) FROM ") + table) && q.next();
    return *ok ? q.value(0).toLongLong() : -1;
}

// Copies qbrx.dat into the work file, checks the copy and puts it in place.
// `before` is what the look into qbrx.dat found.
bool compact(const QString& dataPath, const QString& workPath, const DatabaseFile::Inspection& before,
             QString* why) {
    if (!DatabaseFile::createPrivateFile(workPath, why))
        return false;
    {
        ScopedConnection source(dataPath);
        if (!source.isOpen()) {
            *why = source.error();
            return false;
        }
        QSqlQuery q(source.db());
        q.prepare(QStringLiteral("VACUUM INTO ?"));
        q.addBindValue(workPath);
        if (!q.exec()) {
            *why = q.lastError().databaseText();
            return false;
        }
    }
    const DatabaseFile::Inspection copy = DatabaseFile::inspect(workPath, DatabaseFile::Depth::Full);
    if (!copy.sound || !copy.hasTables) {
        *why = QStringLiteral("the compacted copy failed its check: ") + copy.failure;
        return false;
    }
    if (copy.servers != before.servers || copy.bans != before.bans) {
        *why = QStringLiteral("the compacted copy does not hold the same records");
        return false;
    }
    if (!DatabaseFile::syncPath(workPath)) {
        *why = QStringLiteral("cannot flush %1: %2").arg(workPath, systemError());
        return false;
    }
    if (::rename(QFile::encodeName(workPath).constData(), QFile::encodeName(dataPath).constData()) != 0) {
        *why = QStringLiteral("cannot rename %1 to %2: %3").arg(workPath, dataPath, systemError());
        return false;
    }
    DatabaseFile::syncPath(QFileInfo(dataPath).absolutePath());
    return true;
}

// The data folder must be a folder that this process can list, enter and write in.
bool isUsableFolder(const QString& dir, QString* error) {
    const QByteArray path = QFile::encodeName(dir);
    struct stat st {};
    if (::stat(path.constData(), &st) != 0) {
        *error = errno == ENOENT ? QStringLiteral("the data folder %1 does not exist").arg(dir)
                                 : QStringLiteral("cannot read the data folder %1: %2").arg(dir, systemError());
        return false;
    }
    if (!S_ISDIR(st.st_mode)) {
        *error = QStringLiteral("the data folder %1 is not a folder").arg(dir);
        return false;
    }
    if (::access(path.constData(), R_OK | X_OK) != 0) {
        *error = QStringLiteral("cannot read the data folder %1: %2").arg(dir, systemError());
        return false;
    }
    if (::access(path.constData(), W_OK) != 0) {
        *error = QStringLiteral("cannot write in the data folder %1: %2").arg(dir, systemError());
        return false;
    }
    return true;
}

// qbrx.dat, when there is one, must be a file that this process can read and write.
bool isUsableFile(const QString& file, QString* error) {
    const QByteArray path = QFile::encodeName(file);
    struct stat st {};
    if (::stat(path.constData(), &st) != 0)
        return true; // missing: created later
    if (!S_ISREG(st.st_mode)) {
        *error = QStringLiteral("%1 is not a file").arg(file);
        return false;
    }
    if (::access(path.constData(), R_OK | W_OK) != 0) {
        *error = QStringLiteral("cannot read and write %1: %2").arg(file, systemError());
        return false;
    }
    return true;
}

} // namespace

namespace DatabaseFile {

QString databasePath(const QString& dataDir) { return QDir(dataDir).filePath(QStringLiteral("qbrx.dat")); }
QString workFilePath(const QString& dataDir) { return QDir(dataDir).filePath(QStringLiteral("qbrx.tmp")); }

Inspection inspect(const QString& path, Depth depth) {
    Inspection result;
    if (!QFileInfo(path).isFile()) {
        result.failure = QStringLiteral("not a file");
        return result;
    }
    ScopedConnection connection(path);
    if (!connection.isOpen()) {
        result.failure = connection.error();
        return result;
    }
    QSqlDatabase db = connection.db();
    {
        QSqlQuery q(db);
        if (depth == Depth::Structure && !q.exec(QStringLiteral("PRAGMA ignore_check_constraints = 1"))) {
            result.failure = q.lastError().databaseText();
            result.busy = q.lastError().nativeErrorCode() == QLatin1String("5"); // SQLITE_BUSY
            return result;
        }
        if (!q.exec(QStringLiteral("PRAGMA integrity_check"))) {
            result.failure = q.lastError().databaseText();
            result.busy = q.lastError().nativeErrorCode() == QLatin1String("5"); // SQLITE_BUSY
            return result;
        }
        QStringList problems;
        while (q.next())
            problems.append(q.value(0).toString());
        if (problems != QStringList{QStringLiteral("ok")}) {
            result.failure = problems.isEmpty() ? QStringLiteral("no result") : problems.join(QStringLiteral("; "));
            return result;
        }
    }
    result.sound = true;
    {
        QSqlQuery q(db);
        if (q.exec(QStringLiteral("PRAGMA user_version")) && q.next())
            result.version = q.value(0).toInt();
    }
    bool serversOk = false;
    bool bansOk = false;
    result.servers = countRows(db, QStringLiteral("Servers"), &serversOk);
    result.bans = countRows(db, QStringLiteral("Bans"), &bansOk);
    result.hasTables = serversOk && bansOk;
    if (!result.hasTables)
        result.failure = QStringLiteral("the tables Servers and Bans are not both present");
    return result;
}

bool prepare(const QString& dataDir, int knownVersion, QString* error, QString* notice) {
    const QString dataPath = databasePath(dataDir);
    const QString workPath = workFilePath(dataDir);
    if (!isUsableFolder(dataDir, error) || !isUsableFile(dataPath, error))
        return false;

    if (QFileInfo::exists(dataPath)) {
        // A work file beside qbrx.dat may hold the only good copy when
        // qbrx.dat is bad: it is deleted only after the whole check.
        const bool workFileLeft = QFileInfo::exists(workPath);
        std::optional<Inspection> whole;
        if (workFileLeft)
            whole = inspect(dataPath, Depth::Full);
        // Whatever refuses the file is said as the whole check says it.
        const auto wholeCheck = [&]() -> const Inspection& {
            if (!whole)
                whole = inspect(dataPath, Depth::Full);
            return *whole;
        };
        const Inspection first = whole ? *whole : inspect(dataPath, Depth::Structure);
        const Inspection check = first.sound && first.version <= knownVersion ? first : wholeCheck();
        if (check.busy) {
            *error = QStringLiteral("%1 is in use by another program (is another registry running on this "
                                    "data folder?)").arg(dataPath);
            return false;
        }
        if (!check.sound) {
            // Left exactly as it is, so that the administrator can act on it.
            *error = QStringLiteral("%1 failed the integrity check: %2").arg(dataPath, check.failure);
            return false;
        }
        if (check.version > knownVersion) {
            *error = QStringLiteral("%1 was written by a newer program (schema version %2; this program knows "
                                    "versions up to %3); it is left as it is")
                         .arg(dataPath)
                         .arg(check.version)
                         .arg(knownVersion);
            return false;
        }
        // qbrx.dat is sound, so a work file can only be a leftover copy.
        if (QFileInfo::exists(workPath) && !QFile::remove(workPath)) {
            *error = QStringLiteral("cannot delete the stale work file %1").arg(workPath);
            return false;
        }
        if (!check.hasTables)
            return true; // an empty file from an interrupted creation: nothing to compact
        QString why;
        if (!compact(dataPath, workPath, check, &why)) {
            QFile::remove(workPath);
            if (const Inspection& full = wholeCheck(); !full.sound) {
                *error = QStringLiteral("%1 failed the integrity check: %2").arg(dataPath, full.failure);
                return false;
            }
            if (notice)
                *notice = QStringLiteral("%1 was not compacted (%2); it is used as it is").arg(dataPath, why);
        }
        return true;
    }

    if (QFileInfo::exists(workPath)) {
        const Inspection work = inspect(workPath);
        if (!work.sound || !work.hasTables) {
            *error = QStringLiteral("%1 is missing and the work file %2 cannot be recovered (%3); "
                                    "move it away to start with an empty database")
                         .arg(dataPath, workPath, work.failure);
            return false;
        }
        QFile::setPermissions(workPath, QFileDevice::ReadOwner | QFileDevice::WriteOwner);
        if (!syncPath(workPath) ||
            ::rename(QFile::encodeName(workPath).constData(), QFile::encodeName(dataPath).constData()) != 0) {
            *error = QStringLiteral("cannot recover %1 from %2: %3").arg(dataPath, workPath, systemError());
            return false;
        }
        syncPath(dataDir);
        if (notice)
            *notice = QStringLiteral("%1 was missing; recovered it from the work file %2").arg(dataPath, workPath);
        return true;
    }

    if (!createPrivateFile(dataPath, error))
        return false;
    syncPath(dataDir);
    return true;
}

bool createPrivateFile(const QString& path, QString* error) {
    const int fd = ::open(QFile::encodeName(path).constData(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0600);
    if (fd < 0) {
        if (error)
            *error = QStringLiteral("cannot create %1: %2").arg(path, systemError());
        return false;
    }
    ::close(fd);
    return true;
}

bool syncPath(const QString& path) {
    const int fd = ::open(QFile::encodeName(path).constData(), O_RDONLY | O_CLOEXEC);
    if (fd < 0)
        return false;
    const bool ok = ::fsync(fd) == 0;
    ::close(fd);
    return ok;
}

} // namespace DatabaseFile
