// The timing every benchmark shares: one piece of work timed, the median of
// several runs, and one line comparing ours with a peer.
#pragma once

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <functional>
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

// "what  ours  x s   peer  y s   ratio", medians of both.
inline void Report(const char* what, const std::vector<double>& ours, const char* peerName,
                   const std::vector<double>& peer)
{
    const double a = Median(ours), b = Median(peer);
    std::printf("%-34s ours %8.3f s   %-34s %8.3f s   ratio %.2f\n", what, a, peerName, b, b > 0 ? a / b : 0.0);
    std::fflush(stdout);
}
