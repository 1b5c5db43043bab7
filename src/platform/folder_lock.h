#pragma once

#include <QString>

// One registry per data folder: an exclusive flock on a small file in the
// folder, held for the whole run. The lock goes with the process (it is
// released by the kernel however the process ends) and is not inherited by
// programs the registry starts. The file holds the PID of the holder so that
// a refused start can name it.
class FolderLock {
public:
    static constexpr const char* kFileName = ".tavregistry.lock";

    FolderLock() = default;
    ~FolderLock();
    FolderLock(const FolderLock&) = delete;
    FolderLock& operator=(const FolderLock&) = delete;

    // Takes the lock without waiting. False with a reason when another
    // process holds it (the reason names the folder and that process) or the
    // lock file cannot be opened; then nothing in the folder was changed.
    bool acquire(const QString& folder, QString* errorText);
    bool held() const { return m_fd >= 0; }

private:
    int m_fd = -1;
};
