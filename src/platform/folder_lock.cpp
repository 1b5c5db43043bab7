#include "platform/folder_lock.h"

#include <QDir>
#include <QFile>

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

namespace {

QString holderOf(int fd) {
    char buffer[32] = {};
    const ssize_t n = ::pread(fd, buffer, sizeof buffer - 1, 0);
    const QByteArray text = QByteArray(buffer, n > 0 ? int(n) : 0).trimmed();
    bool ok = false;
    const qint64 pid = text.toLongLong(&ok);
    return ok && pid > 0 ? QStringLiteral("process %1").arg(pid) : QStringLiteral("a process that is starting");
}

} // namespace

FolderLock::~FolderLock() {
    if (m_fd >= 0)
        ::close(m_fd); // releases the lock
}

bool FolderLock::acquire(const QString& folder, QString* errorText) {
    const QString path = QDir(folder).filePath(QString::fromLatin1(kFileName));
    const QByteArray encoded = QFile::encodeName(path);
    // O_NOFOLLOW: a link planted in the folder must not make us create or
    // truncate a file elsewhere.
    const int fd = ::open(encoded.constData(), O_RDWR | O_CREAT | O_CLOEXEC | O_NOFOLLOW, 0644);
    if (fd < 0) {
        if (errorText)
            *errorText = QStringLiteral("cannot open the lock file %1: %2")
                             .arg(path, QString::fromLocal8Bit(std::strerror(errno)));
        return false;
    }
    int rc;
    do
        rc = ::flock(fd, LOCK_EX | LOCK_NB);
    while (rc != 0 && errno == EINTR);
    if (rc != 0) {
        const int error = errno;
        if (errorText) {
            if (error == EWOULDBLOCK)
                *errorText = QStringLiteral("the data folder %1 is in use by another registry (%2)")
                                 .arg(QDir::toNativeSeparators(folder), holderOf(fd));
            else
                *errorText = QStringLiteral("cannot lock %1: %2").arg(path, QString::fromLocal8Bit(std::strerror(error)));
        }
        ::close(fd);
        return false;
    }
    const QByteArray pid = QByteArray::number(qint64(::getpid())) + '\n';
    if (::ftruncate(fd, 0) != 0 || ::pwrite(fd, pid.constData(), size_t(pid.size()), 0) != pid.size()) {
        // The lock holds without the PID; a refused start then cannot name us.
    }
    m_fd = fd;
    return true;
}
