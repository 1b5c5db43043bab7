#pragma once

#include <QByteArray>
#include <QDateTime>
#include <QString>
#include <optional>

class ProcessStarter;

// CheckForUpdate: an update is waiting when "regupdate.exe" lies in the data
// folder; then "updater.exe" from the same folder is started (these names are
// what the update tooling relies on, whatever the platform). The registry
// shuts down once the updater runs; the caller does that.
//
// The updater runs with the registry's rights, so it is started only when
// nobody else could have put it there: it and its folder must belong to the
// registry's own user or to root, and neither may be writable by anyone else.
//
// An updater that cannot be started is reported once and not tried again
// until one of the two files changes, rather than every tick. A new mode is a
// change too: the usual mend for "not executable" is a chmod, which leaves
// size, time and inode as they were. A retry that fails for the reason already
// reported stays quiet, so the event view gets one line per cause.
class UpdateCheck {
public:
    static constexpr const char* kMarkerName = "regupdate.exe";
    static constexpr const char* kUpdaterName = "updater.exe";

    enum class Outcome {
        NoUpdate,     // a file is missing: nothing to do
        Started,      // the updater runs: shut down now
        Failed,       // the updater could not be started: report `reason`
        StillFailing, // the same files, or the same reason, failed before: stay quiet
    };

    explicit UpdateCheck(QString dataFolder);

    Outcome run(ProcessStarter& starter, QString* reason);

    QString markerPath() const;
    QString updaterPath() const;

private:
    // What identifies one file as it is now.
    struct FileState {
        qint64 size = -1;
        QDateTime time;
        quint64 inode = 0;
        quint32 mode = 0;
        quint32 owner = 0;
        bool operator==(const FileState&) const = default;
    };
    struct Snapshot {
        // The folder's owner and mode count too: mending either is a change
        // worth another try.
        FileState marker, updater, folder;
        bool operator==(const Snapshot&) const = default;
    };
    static FileState stateOf(const QString& path);
    Snapshot snapshot() const;
    // Empty when the updater may be started; otherwise why not.
    QString untrustedReason() const;

    QString m_dataFolder;
    // Looked at every half second: encoded once.
    QByteArray m_markerNative;
    QByteArray m_updaterNative;
    bool m_failed = false;
    Snapshot m_failedSnapshot;
    std::optional<QString> m_reportedReason;
};
