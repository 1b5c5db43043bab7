#pragma once

#include <QString>
#include <optional>

// The figures of the standard process metrics, read from /proc for this
// process: CPU time, resident memory, descriptors and the start time.
struct ProcessStats {
    double cpuSeconds = 0;          // user + system
    qint64 residentBytes = 0;
    int openFds = 0;
    qint64 maxFds = 0;              // the soft limit
    double startTimeSeconds = 0;    // since the Unix epoch

    // Nothing when /proc cannot be read (then the metrics leave them out).
    static std::optional<ProcessStats> read(const QString& procRoot = QStringLiteral("/proc"));
    // The parsing, apart so that tests give it texts: /proc/self/stat,
    // /proc/self/statm and the "btime" line's value of /proc/stat.
    static std::optional<ProcessStats> fromTexts(const QByteArray& stat, const QByteArray& statm, qint64 bootTime,
                                                 long ticksPerSecond, long pageSize);
};
