// Times the health check of the computer (without the profiles' sizes) on a
// scenario of the simulated machine against the floor of what it must read:
// one bare walk of the account database and one of the profile list. Both
// are timed in the same run, in turns, so that a busy machine weighs on both
// alike; the check's own steps are timed too, to show where its time goes.
// Run by scripts/bench-health.sh as
//
//   vantrell_health_bench [scenario] [runs]
#include <windows.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <functional>
#include <string>
#include <vector>

#include "bench_timing.h"
#include "app/health_check.h"
#include "sandbox/sandbox.h"
#include "tests/bench/account_walk.h"
#include "tests/narrow.h"

namespace {

int Drive(const std::wstring& scenario, int runs)
{
    std::wstring error;
    if (!sandbox::ResetMachine(sandbox::ScenarioPath(scenario), &error)) {
        std::fprintf(stderr, "cannot load scenario %s: %s\n", Narrow(scenario).c_str(), Narrow(error).c_str());
        return 1;
    }
    // One untimed round of each: the first reads after a reset are slower
    // for all while the Wine server settles the new registry.
    DWORD accounts = WalkEveryAccount(), profiles = WalkProfileList();
    size_t findings = RunHealthCheck(HealthCheckOptions{}).size();

    // Each step's time, by the progress calls that start the next one.
    std::vector<std::wstring> stepNames;
    std::vector<std::vector<double>> stepTimes;
    auto last = std::chrono::steady_clock::now();
    const HealthProgress progress = [&](uint32_t done, uint32_t, const wchar_t* step) {
        const auto now = std::chrono::steady_clock::now();
        if (done > 0)
            stepTimes[done - 1].push_back(std::chrono::duration<double, std::milli>(now - last).count());
        last = now;
        if (done >= stepNames.size() && *step != L'\0') {
            stepNames.push_back(step);
            stepTimes.emplace_back();
        }
    };

    std::vector<double> check, walk;
    for (int run = 0; run < runs; ++run) {
        // Rotating which goes first spreads any drift over both.
        for (int turn = 0; turn < 2; ++turn) {
            if ((turn + run) % 2 == 0) {
                check.push_back(Milliseconds([&] {
                    last = std::chrono::steady_clock::now();
                    findings = RunHealthCheck(HealthCheckOptions{}, progress).size();
                }));
            } else {
                walk.push_back(Milliseconds([&] {
                    accounts = WalkEveryAccount();
                    profiles = WalkProfileList();
                }));
            }
        }
    }
    const double c = Median(check), w = Median(walk);
    const double cMin = *std::min_element(check.begin(), check.end());
    const double wMin = *std::min_element(walk.begin(), walk.end());
    std::printf("%-18s %5lu accounts, %lu profiles, %zu findings  check %8.1f ms  floor %8.1f ms  check/floor %.2f  "
                "(medians of %d; minimums %.1f / %.1f, ratio %.2f)\n",
                Narrow(scenario).c_str(), accounts, profiles, findings, c, w, w > 0 ? c / w : 0.0, runs, cMin, wMin,
                wMin > 0 ? cMin / wMin : 0.0);
    for (size_t i = 0; i < stepNames.size(); ++i)
        std::printf("    %-34s %8.1f ms\n", Narrow(stepNames[i]).c_str(), Median(stepTimes[i]));
    std::fflush(stdout);
    return 0;
}

}  // namespace

int wmain(int argc, wchar_t** argv)
{
    const std::wstring scenario = argc > 1 ? argv[1] : L"thousand-accounts";
    const int runs = argc > 2 ? _wtoi(argv[2]) : 5;
    return Drive(scenario, runs > 0 ? runs : 5);
}
