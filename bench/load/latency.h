#pragma once

#include <algorithm>
#include <cstdint>
#include <vector>

// Latencies of one run; percentiles in milliseconds.
class Latency {
public:
    void add(uint64_t ns) { m_ns.push_back(ns); }
    std::size_t count() const { return m_ns.size(); }
    double percentileMs(double p) {
        if (m_ns.empty())
            return 0;
        std::sort(m_ns.begin(), m_ns.end());
        const std::size_t i = std::min(m_ns.size() - 1, std::size_t(p / 100.0 * double(m_ns.size())));
        return double(m_ns[i]) / 1e6;
    }

private:
    std::vector<uint64_t> m_ns;
};
