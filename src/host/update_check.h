#pragma once

#include <QDateTime>
#include <QString>

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
// until one of the two files changes, rather than every tick.
class UpdateCheck {
public:
    static constexpr const char* kMarkerName = "regupdate.exe";
    static constexpr const char* kUpdaterName = "updater.exe";

    enum class Outcome {
        NoUpdate,     // a file is missing: nothing to do
        Started,      // the updater runs: shut down now
        Failed,       // the updater could not be started: report `reason`
        StillFailing, // the same files failed before: stay quiet
    };

    explicit UpdateCheck(QString dataFolder);

    Outcome run(ProcessStarter& starter, QString* reason);

    QString markerPath() const;
    QString updaterPath() const;

private:
    // What identifies the two files as they are now.
    struct Snapshot {
        qint64 markerSize = -1, updaterSize = -1;
        QDateTime markerTime, updaterTime;
        quint64 markerInode = 0, updaterInode = 0;
        // Owner and mode of the updater and of its folder: mending either is a
        // change worth another try.
        quint32 updaterOwner = 0, updaterMode = 0, folderOwner = 0, folderMode = 0;
        bool operator==(const Snapshot&) const = default;
    };
    Snapshot snapshot() const;
    // Empty when the updater may be started; otherwise why not.
    QString untrustedReason() const;

    QString m_dataFolder;
    bool m_failed = false;
    Snapshot m_failedSnapshot;
};
