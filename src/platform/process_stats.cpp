#include "platform/process_stats.h"

#include <QByteArrayList>
#include <QDir>
#include <QFile>

#include <sys/resource.h>
#include <unistd.h>

namespace {

QByteArray readSmall(const QString& path) {
    QFile f(path);
    if (!f.open(QIODevice::ReadOnly))
        return {};
    return f.read(64 * 1024); // /proc files report no size; theirs are small
}

qint64 bootTimeFrom(const QByteArray& procStat) {
    for (const QByteArray& line : procStat.split('\n'))
        if (line.startsWith("btime "))
            return line.mid(6).trimmed().toLongLong();
    return -1;
}

} // namespace

std::optional<ProcessStats> ProcessStats::fromTexts(const QByteArray& stat, const QByteArray& statm, qint64 bootTime,
                                                    long ticksPerSecond, long pageSize) {
    // The command name in parentheses may hold spaces and parentheses; the
    // fields counted from 3 (state) start after the last ')'.
    const qsizetype close = stat.lastIndexOf(')');
    if (close < 0 || ticksPerSecond <= 0 || pageSize <= 0 || bootTime < 0)
        return std::nullopt;
    const QByteArrayList fields = stat.mid(close + 2).trimmed().split(' ');
    // fields[0] is field 3; utime is 14, stime 15, starttime 22.
    if (fields.size() < 20)
        return std::nullopt;
    bool okU = false, okS = false, okT = false;
    const qint64 utime = fields[14 - 3].toLongLong(&okU);
    const qint64 stime = fields[15 - 3].toLongLong(&okS);
    const qint64 start = fields[22 - 3].toLongLong(&okT);
    const QByteArrayList pages = statm.trimmed().split(' ');
    bool okR = false;
    const qint64 resident = pages.size() >= 2 ? pages[1].toLongLong(&okR) : 0;
    if (!okU || !okS || !okT || !okR)
        return std::nullopt;
    ProcessStats out;
    out.cpuSeconds = double(utime + stime) / double(ticksPerSecond);
    out.residentBytes = resident * pageSize;
    out.startTimeSeconds = double(bootTime) + double(start) / double(ticksPerSecond);
    return out;
}

std::optional<ProcessStats> ProcessStats::read(const QString& procRoot) {
    std::optional<ProcessStats> out =
        fromTexts(readSmall(procRoot + QStringLiteral("/self/stat")), readSmall(procRoot + QStringLiteral("/self/statm")),
                  bootTimeFrom(readSmall(procRoot + QStringLiteral("/stat"))), sysconf(_SC_CLK_TCK),
                  sysconf(_SC_PAGESIZE));
    if (!out)
        return std::nullopt;
    // The listing holds its own descriptor while it is read.
    out->openFds = int(QDir(procRoot + QStringLiteral("/self/fd")).entryList(QDir::AllEntries | QDir::NoDotAndDotDot |
                                                                             QDir::System).size());
    rlimit limit{};
    if (getrlimit(RLIMIT_NOFILE, &limit) == 0)
        out->maxFds = limit.rlim_cur == RLIM_INFINITY ? -1 : qint64(limit.rlim_cur);
    return out;
}
