#pragma once

#include <QByteArrayView>

// Writes to an inherited descriptor (standard output) without ever blocking
// the caller, and without changing how the descriptor behaves for the other
// processes that share it (a terminal, the shell's pipe):
//  - a regular file or block device is written as it is: it is always
//    writable, and its offset is shared with whoever opened it for appending;
//  - a socket (journald's stream) is written with MSG_DONTWAIT;
//  - a pipe or a terminal is opened a second time through /proc/self/fd, which
//    gives a description of our own to make non-blocking; only when that is
//    impossible is the shared one switched, and switched back on destruction.
class NonBlockingOutput {
public:
    // Gone: nobody will ever read it (closed pipe, bad descriptor); Failed: this
    // write failed (a full disk) but a later one may succeed.
    enum class Result { Written, WouldBlock, Failed, Gone };

    explicit NonBlockingOutput(int fd);
    ~NonBlockingOutput();
    NonBlockingOutput(const NonBlockingOutput&) = delete;
    NonBlockingOutput& operator=(const NonBlockingOutput&) = delete;

    // Writes what it can of `bytes` at once; *written says how much (possibly
    // less than all with Written, none otherwise).
    Result write(QByteArrayView bytes, qsizetype* written);
    // What to watch for writability.
    int descriptor() const { return m_fd; }
    // Waits up to `ms` for the descriptor to take bytes; true when it can.
    bool waitWritable(int ms) const;

private:
    enum class Kind { Plain, Socket, Stream };
    int m_fd = -1;
    Kind m_kind = Kind::Plain;
    bool m_ownDuplicate = false; // m_fd is ours to close
    int m_restoreFlags = -1;     // the shared description's flags to put back
};
