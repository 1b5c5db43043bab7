#pragma once

#include "platform/process_stats.h"
#include "protocol/registry_counters.h"

#include <QByteArray>
#include <QString>

#include <array>
#include <optional>

// What one scrape of /metrics reports, read from the registry at the moment
// of the request.
struct MetricsReadings {
    QString version;
    double startTimeSeconds = 0;
    // Occupied regular slots by session mode: not logged in, operator, game server.
    std::array<int, 3> connections{};
    RegistryCounters counters;
    quint32 accessesPerHour = 0;
    std::optional<int> accounts; // nothing while the database is not open
    std::optional<int> bans;
    std::optional<ProcessStats> process;
};

// The Prometheus text exposition format 0.0.4: every family with its HELP
// and TYPE lines, counters named *_total, every labelled reason present
// (zeros included) so that rates exist from the first scrape.
QByteArray metricsText(const MetricsReadings& readings);

inline constexpr const char* kMetricsContentType = "text/plain; version=0.0.4; charset=utf-8";
