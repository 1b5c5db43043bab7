// tav_bench_load --port P --workload churn|persistent|storm|burst [--seconds S]
//                [--server-pid PID] [--churn-cycles N]
// tav_bench_load --port P --workload idle [--connections N] [--seconds S] --server-pid PID
// Prints one line of key=value figures; exits 1 when a reply was wrong or the
// set-up failed.
#include "workloads.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

int main(int argc, char** argv) {
    LoadOptions o;
    for (int i = 1; i + 1 < argc; i += 2) {
        const std::string name = argv[i];
        const char* value = argv[i + 1];
        if (name == "--port")
            o.port = uint16_t(std::atoi(value));
        else if (name == "--workload")
            o.workload = value;
        else if (name == "--seconds")
            o.seconds = std::atof(value);
        else if (name == "--server-pid")
            o.serverPid = std::atoi(value);
        else if (name == "--churn-cycles")
            o.churnCycles = std::atoi(value);
        else if (name == "--connections")
            o.connections = std::atoi(value);
        else {
            std::fprintf(stderr, "tav_bench_load: unknown option %s\n", name.c_str());
            return 2;
        }
    }
    LoadResult r;
    if (!runWorkload(o, &r)) {
        std::fprintf(stderr, "tav_bench_load: %s: set-up failed: %s\n", o.workload.c_str(), r.firstError.c_str());
        return 1;
    }
    const double perSecond = r.seconds > 0 ? double(r.ops) / r.seconds : 0;
    std::printf("workload=%s ops=%llu seconds=%.3f ops_per_s=%.1f p50_ms=%.3f p99_ms=%.3f cpu_us_per_op=%.2f "
                "rss_kb=%llu peak_rss_kb=%llu errors=%llu dropped=%llu reports=%llu cpu_percent=%.4f\n",
                o.workload.c_str(), (unsigned long long)r.ops, r.seconds, perSecond, r.p50Ms, r.p99Ms, r.cpuUsPerOp,
                (unsigned long long)r.rssKb, (unsigned long long)r.peakRssKb, (unsigned long long)r.errors,
                (unsigned long long)r.dropped, (unsigned long long)r.extra, r.cpuPercent);
    if (r.errors)
        std::fprintf(stderr, "tav_bench_load: %s: first error: %s\n", o.workload.c_str(), r.firstError.c_str());
    return r.errors ? 1 : 0;
}
