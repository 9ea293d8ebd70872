// Times the health check of the computer (without the profiles' sizes) on a
// scenario of the simulated machine against the floor any reader of the
// accounts pays: one bare walk of the account database. Both are timed in
// the same run, in turns, so that a busy machine weighs on both alike. Run
// by scripts/bench-health.sh as
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
    DWORD accounts = WalkEveryAccount();
    size_t findings = RunHealthCheck(HealthCheckOptions{}).size();

    std::vector<double> check, walk;
    for (int run = 0; run < runs; ++run) {
        // Rotating which goes first spreads any drift over both.
        for (int turn = 0; turn < 2; ++turn) {
            if ((turn + run) % 2 == 0)
                check.push_back(Milliseconds([&] { findings = RunHealthCheck(HealthCheckOptions{}).size(); }));
            else
                walk.push_back(Milliseconds([&] { accounts = WalkEveryAccount(); }));
        }
    }
    const double c = Median(check), w = Median(walk);
    const double cMin = *std::min_element(check.begin(), check.end());
    const double wMin = *std::min_element(walk.begin(), walk.end());
    std::printf("%-18s %5lu accounts, %zu findings  check %8.1f ms  walk floor %8.1f ms  check/walk %.2f  "
                "(medians of %d; minimums %.1f / %.1f, ratio %.2f)\n",
                Narrow(scenario).c_str(), accounts, findings, c, w, w > 0 ? c / w : 0.0, runs, cMin, wMin,
                wMin > 0 ? cMin / wMin : 0.0);
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
