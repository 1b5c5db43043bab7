#include "platform/nonblocking_output.h"

#include <cerrno>
#include <cstdio>
#include <fcntl.h>
#include <poll.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <unistd.h>

NonBlockingOutput::NonBlockingOutput(int fd) : m_fd(fd) {
    struct stat st {};
    if (fd < 0 || ::fstat(fd, &st) != 0)
        return; // writes fail and are dropped; nothing to arrange
    if (S_ISREG(st.st_mode) || S_ISBLK(st.st_mode))
        return;
    if (S_ISSOCK(st.st_mode)) {
        m_kind = Kind::Socket;
        return;
    }
    m_kind = Kind::Stream;
    char path[64];
    std::snprintf(path, sizeof path, "/proc/self/fd/%d", fd);
    const int own = ::open(path, O_WRONLY | O_NONBLOCK | O_CLOEXEC | O_NOCTTY);
    if (own >= 0) {
        m_fd = own;
        m_ownDuplicate = true;
        return;
    }
    const int flags = ::fcntl(fd, F_GETFL);
    if (flags >= 0 && !(flags & O_NONBLOCK) && ::fcntl(fd, F_SETFL, flags | O_NONBLOCK) == 0)
        m_restoreFlags = flags;
}

NonBlockingOutput::~NonBlockingOutput() {
    if (m_ownDuplicate)
        ::close(m_fd);
    else if (m_restoreFlags >= 0)
        ::fcntl(m_fd, F_SETFL, m_restoreFlags);
}

NonBlockingOutput::Result NonBlockingOutput::write(QByteArrayView bytes, qsizetype* written) {
    *written = 0;
    if (bytes.isEmpty())
        return Result::Written;
    for (;;) {
        const ssize_t n = m_kind == Kind::Socket
                              ? ::send(m_fd, bytes.data(), size_t(bytes.size()), MSG_DONTWAIT | MSG_NOSIGNAL)
                              : ::write(m_fd, bytes.data(), size_t(bytes.size()));
        if (n >= 0) {
            *written = n;
            return n > 0 ? Result::Written : Result::WouldBlock;
        }
        if (errno == EINTR)
            continue;
        if (errno == EAGAIN || errno == EWOULDBLOCK)
            return Result::WouldBlock;
        return errno == EPIPE || errno == EBADF || errno == EINVAL || errno == ECONNRESET ? Result::Gone
                                                                                         : Result::Failed;
    }
}

bool NonBlockingOutput::waitWritable(int ms) const {
    pollfd p{m_fd, POLLOUT, 0};
    return ::poll(&p, 1, ms) > 0 && (p.revents & POLLOUT);
}
