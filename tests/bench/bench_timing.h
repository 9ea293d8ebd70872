// The timing every benchmark shares: one piece of work timed, the median of
// several runs, and one line comparing ours with a peer.
#pragma once

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <functional>
#include <string>
#include <vector>

inline double Seconds(const std::function<void()>& work)
{
    auto start = std::chrono::steady_clock::now();
    work();
    return std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
}

inline double Milliseconds(const std::function<void()>& work)
{
    return Seconds(work) * 1000.0;
}

// The middle value; the mean of the two middle ones for an even count.
inline double Median(std::vector<double> values)
{
    std::sort(values.begin(), values.end());
    const size_t n = values.size();
    return n == 0 ? 0.0 : n % 2 == 1 ? values[n / 2] : (values[n / 2 - 1] + values[n / 2]) / 2.0;
}

inline double Minimum(const std::vector<double>& values)
{
    return values.empty() ? 0.0 : *std::min_element(values.begin(), values.end());
}

// "what  ours  x s   peer  y s   ratio", medians of both.
inline void Report(const char* what, const std::vector<double>& ours, const char* peerName,
                   const std::vector<double>& peer)
{
    const double a = Median(ours), b = Median(peer);
    std::printf("%-34s ours %8.3f s   %-34s %8.3f s   ratio %.2f\n", what, a, peerName, b, b > 0 ? a / b : 0.0);
    std::fflush(stdout);
}

// One row of a table whose head TableHead prints: minimum and median of
// ours and of the peer, and the ratios of both. The minimum is the run least
// disturbed by the rest of the machine; the median, the usual one.
inline void TableHead()
{
    std::printf("| %-30s | %-30s | runs | ours min | ours median | peer min | peer median | ratio min | ratio median |\n"
                "|%s|%s|------|----------|-------------|----------|-------------|-----------|--------------|\n",
                "ours", "peer", std::string(32, '-').c_str(), std::string(32, '-').c_str());
    std::fflush(stdout);
}

inline void TableRow(const char* what, const std::vector<double>& ours, const char* peerName,
                     const std::vector<double>& peer)
{
    const double oursMin = Minimum(ours), peerMin = Minimum(peer), oursMid = Median(ours), peerMid = Median(peer);
    std::printf("| %-30s | %-30s | %4zu | %6.2f s | %9.2f s | %6.2f s | %9.2f s | %9.2f | %12.2f |\n", what, peerName,
                ours.size(), oursMin, oursMid, peerMin, peerMid, peerMin > 0 ? oursMin / peerMin : 0.0,
                peerMid > 0 ? oursMid / peerMid : 0.0);
    std::fflush(stdout);
}
