#pragma once

#include <QByteArray>
#include <QString>

// Keeps an eye on one open file: is the file at its path still the one that
// was opened (same device and inode, not removed), and not shorter than its
// user expects? A descriptor of our own on the file makes the answer
// independent of what happens at the path.
class FileWatch {
public:
    FileWatch() = default;
    ~FileWatch();
    FileWatch(const FileWatch&) = delete;
    FileWatch& operator=(const FileWatch&) = delete;

    // Starts watching the file now at `path`; false when it cannot be opened.
    bool watch(const QString& path);
    void release();
    bool isWatching() const { return m_fd >= 0; }

    // The empty text while all is well; otherwise what happened, in words
    // for the owner ("... has been replaced by another file").
    QString check(qint64 expectedSize) const;

private:
    QString m_path;
    QByteArray m_nativePath;
    int m_fd = -1;
    quint64 m_device = 0;
    quint64 m_inode = 0;
};
