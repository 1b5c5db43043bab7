#pragma once

#include <QDateTime>
#include <QString>

class ProcessStarter;

// CheckForUpdate: an update is waiting when "regupdate.exe" lies in the data
// folder; then "updater.exe" from the same folder is started (these names are
// what the update tooling relies on, whatever the platform). The registry
// shuts down once the updater runs; the caller does that.
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
        bool operator==(const Snapshot&) const = default;
    };
    Snapshot snapshot() const;

    QString m_dataFolder;
    bool m_failed = false;
    Snapshot m_failedSnapshot;
};
