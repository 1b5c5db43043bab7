#pragma once

#include <cstdint>
#include <string>

struct LoadOptions {
    uint16_t port = 5679;
    int serverPid = 0; // the measured process, for CPU time and memory
    double seconds = 4;
    std::string workload;
    int churnCycles = 0; // churn: stop after this many connections instead of after `seconds`
    int connections = 255; // idle: operator sessions held open
};

struct LoadResult {
    uint64_t ops = 0;
    double seconds = 0;
    double p50Ms = 0;
    double p99Ms = 0;
    double cpuUsPerOp = 0;
    uint64_t rssKb = 0;
    uint64_t peakRssKb = 0;
    uint64_t errors = 0;  // a reply that differs from the expected bytes, or a lost connection
    uint64_t dropped = 0; // connection attempts refused or answered with the full notice
    uint64_t extra = 0;   // player-count reports sent (persistent)
    double cpuPercent = 0; // the server's CPU time over the run's wall time, in % of one core
    std::string firstError;
};

// Runs one workload ("churn", "persistent", "storm", "burst", "idle") against a fresh
// server (registry or baseline) on `port`; false when the set-up failed.
bool runWorkload(const LoadOptions& options, LoadResult* result);
