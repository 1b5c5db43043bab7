#include "proc_stats.h"

#include <cstdio>
#include <dirent.h>
#include <cstring>
#include <fstream>
#include <sstream>
#include <string>
#include <unistd.h>

ProcSample sampleProcess(int pid) {
    ProcSample s;
    if (pid <= 0)
        return s;
    std::ifstream stat("/proc/" + std::to_string(pid) + "/stat");
    std::string line;
    if (!std::getline(stat, line))
        return s;
    // Fields after the command name, which may hold spaces, start after ')'.
    std::istringstream rest(line.substr(line.rfind(')') + 2));
    std::string field;
    uint64_t utime = 0, stime = 0;
    for (int i = 3; i <= 15 && rest >> field; ++i) {
        if (i == 14)
            utime = std::stoull(field);
        if (i == 15)
            stime = std::stoull(field);
    }
    const long ticks = sysconf(_SC_CLK_TCK);
    s.cpuUs = (utime + stime) * 1000000u / uint64_t(ticks);
    std::ifstream status("/proc/" + std::to_string(pid) + "/status");
    while (std::getline(status, line)) {
        if (line.rfind("VmRSS:", 0) == 0)
            s.rssKb = std::stoull(line.substr(6));
        else if (line.rfind("VmHWM:", 0) == 0)
            s.peakRssKb = std::stoull(line.substr(6));
    }
    // The clock ticks of stat are 10 ms: too coarse for an idle process.
    // schedstat counts nanoseconds, per thread.
    const std::string tasks = "/proc/" + std::to_string(pid) + "/task";
    if (DIR* dir = ::opendir(tasks.c_str())) {
        while (const dirent* e = ::readdir(dir)) {
            if (e->d_name[0] == '.')
                continue;
            std::ifstream sched(tasks + "/" + e->d_name + "/schedstat");
            uint64_t ns = 0;
            if (sched >> ns)
                s.runNs += ns;
        }
        ::closedir(dir);
    }
    s.ok = true;
    return s;
}
