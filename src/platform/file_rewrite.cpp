#include "platform/file_rewrite.h"

#include <QFile>
#include <QFileInfo>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

QString errnoText() { return QString::fromLocal8Bit(std::strerror(errno)); }

bool writeAll(int fd, const QByteArray& content) {
    qsizetype done = 0;
    while (done < content.size()) {
        const ssize_t n = ::write(fd, content.constData() + done, size_t(content.size() - done));
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            return false;
        done += n;
    }
    return true;
}

enum class Replace { Done, Failed, CannotHere };

// The new content in a temporary file beside the old one, given the old one's
// owner and mode, then renamed over it.
Replace replaceByRename(const QByteArray& path, const struct stat& old, const QByteArray& content, QString* why) {
    QByteArray pattern = path + ".XXXXXX";
    const int fd = ::mkostemp(pattern.data(), O_CLOEXEC);
    if (fd < 0)
        return Replace::CannotHere; // typically a folder we may not write in
    auto abandon = [&](Replace result) {
        ::close(fd);
        ::unlink(pattern.constData());
        return result;
    };
    if ((old.st_uid != ::geteuid() || old.st_gid != ::getegid()) && ::fchown(fd, old.st_uid, old.st_gid) != 0)
        return abandon(Replace::CannotHere);
    if (::fchmod(fd, old.st_mode & 07777) != 0 || !writeAll(fd, content) || ::fsync(fd) != 0) {
        *why = errnoText();
        return abandon(Replace::Failed);
    }
    if (::close(fd) != 0 || ::rename(pattern.constData(), path.constData()) != 0) {
        *why = errnoText();
        ::unlink(pattern.constData());
        return Replace::Failed;
    }
    return Replace::Done;
}

bool rewriteInPlace(const QByteArray& path, const QByteArray& content, QString* why) {
    const int fd = ::open(path.constData(), O_WRONLY | O_CLOEXEC | O_NOFOLLOW);
    if (fd < 0) {
        *why = errnoText();
        return false;
    }
    const bool ok = writeAll(fd, content) && ::ftruncate(fd, off_t(content.size())) == 0 && ::fsync(fd) == 0;
    if (!ok)
        *why = errnoText();
    ::close(fd);
    return ok;
}

bool createNew(const QByteArray& path, const QByteArray& content, QString* why) {
    const int fd = ::open(path.constData(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC | O_NOFOLLOW, 0666);
    if (fd < 0) {
        *why = errnoText();
        return false;
    }
    const bool ok = writeAll(fd, content) && ::fsync(fd) == 0;
    if (!ok)
        *why = errnoText();
    ::close(fd);
    if (!ok)
        ::unlink(path.constData());
    return ok;
}

} // namespace

bool rewriteFile(const QString& given, const QByteArray& content, QString* errorText) {
    // A link is followed: its target is what gets the new content.
    const QFileInfo info(given);
    const QString path = info.isSymLink() && info.exists() ? info.canonicalFilePath() : given;
    const QByteArray encoded = QFile::encodeName(path);
    QString why;
    bool ok = false;
    struct stat old {};
    if (::lstat(encoded.constData(), &old) != 0) {
        ok = errno == ENOENT && createNew(encoded, content, &why);
        if (!ok && why.isEmpty())
            why = errnoText();
    } else if (!S_ISREG(old.st_mode)) {
        why = QStringLiteral("not a regular file");
    } else {
        switch (replaceByRename(encoded, old, content, &why)) {
        case Replace::Done:
            ok = true;
            break;
        case Replace::Failed:
            break;
        case Replace::CannotHere:
            ok = rewriteInPlace(encoded, content, &why);
            break;
        }
    }
    if (!ok && errorText)
        *errorText = QStringLiteral("cannot write %1: %2").arg(path, why);
    return ok;
}
