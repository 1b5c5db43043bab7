#pragma once

#include <cstdint>

// What the measured server process has used, read from /proc.
struct ProcSample {
    bool ok = false;
    uint64_t cpuUs = 0; // user + system time
    uint64_t runNs = 0; // time on a CPU, every thread, in nanoseconds (schedstat)
    uint64_t rssKb = 0;
    uint64_t peakRssKb = 0;
};

ProcSample sampleProcess(int pid);
