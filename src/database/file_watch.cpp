#include "database/file_watch.h"

#include <QFile>

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

FileWatch::~FileWatch() { release(); }

bool FileWatch::watch(const QString& path) {
    release();
    const int fd = ::open(QFile::encodeName(path).constData(), O_RDONLY | O_CLOEXEC);
    struct stat st {};
    if (fd < 0 || ::fstat(fd, &st) != 0) {
        if (fd >= 0)
            ::close(fd);
        return false;
    }
    m_path = path;
    m_nativePath = QFile::encodeName(path);
    m_fd = fd;
    m_device = st.st_dev;
    m_inode = st.st_ino;
    return true;
}

void FileWatch::release() {
    if (m_fd >= 0)
        ::close(m_fd);
    m_fd = -1;
}

QString FileWatch::check(qint64 expectedSize) const {
    if (m_fd < 0)
        return {};
    struct stat open {};
    if (::fstat(m_fd, &open) != 0)
        return QStringLiteral("%1 cannot be examined: %2").arg(m_path, QString::fromLocal8Bit(std::strerror(errno)));
    struct stat atPath {};
    if (::stat(m_nativePath.constData(), &atPath) != 0) {
        const int error = errno;
        return error == ENOENT
                   ? QStringLiteral("%1 has been removed (or its folder)").arg(m_path)
                   : QStringLiteral("%1 cannot be examined: %2").arg(m_path, QString::fromLocal8Bit(std::strerror(error)));
    }
    if (quint64(atPath.st_dev) != m_device || quint64(atPath.st_ino) != m_inode || open.st_nlink == 0)
        return QStringLiteral("%1 has been replaced by another file").arg(m_path);
    if (open.st_size < expectedSize)
        return QStringLiteral("%1 has been cut short (%2 bytes; %3 expected)").arg(m_path).arg(open.st_size).arg(expectedSize);
    return {};
}
