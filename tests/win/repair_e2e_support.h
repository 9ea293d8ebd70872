// A whole repair on the simulated machine, driven as an operator and the
// machine drive it: the wizard's real window in this process, the
// restarts, the fix run and the clean-up as real processes started by the
// sign-ins, and the state of the machine before and after, described so
// that two repairs can be compared.
#pragma once

#include <windows.h>

#include <cstdint>
#include <functional>
#include <map>
#include <set>
#include <string>
#include <vector>

#include "sandbox/sandbox.h"
#include "tests/win/repair_test_support.h"

namespace e2e {

constexpr wchar_t kAccount[] = L"pweber";
constexpr wchar_t kTempAccount[] = L"brenwick_temp_admin";
constexpr wchar_t kLogPath[] = L"C:\\Brenwick\\BrenwickLog.txt";

using repair_test::FileTree;

// The machine before a repair, taken after the scenario was loaded.
struct Before {
    std::wstring sid, profile;
    std::map<std::wstring, std::wstring> account;   // its full name and type, as FinalFacts tells them
    FileTree files;
    std::vector<std::wstring> taskband;             // value names and data
    DWORD pictureCentre = 0xFFFFFFFF;               // a COLORREF, or none
    std::map<std::wstring, std::wstring> settings;  // the settings a repair must leave as found
};

// The machine after a repair, as facts "name" → "value" that do not depend
// on the SIDs the run happened to get, so that two repairs of the same
// machine can be compared fact by fact. `before` gives the old SID and
// folder the facts are told against.
std::map<std::wstring, std::wstring> FinalFacts(const Before& before);

// The lines that differ between two fact sets, each "name: expected → got".
std::vector<std::string> Differences(const std::map<std::wstring, std::wstring>& expected,
                                     const std::map<std::wstring, std::wstring>& got);

// How the test closes the fix run's window once its countdown shows.
enum class CloseBy {
    Button,    // a click on the frame's close button, as the operator does
    Request,   // the window's close request, without the pointer
};

// One sign-in of the run and what it started.
struct Boot {
    std::wstring account;        // empty at the sign-in screen
    std::wstring signInScreen;
    bool afterPowerCut = false;
    bool byHand = false;         // typed at the sign-in screen, not after a restart
    std::vector<std::wstring> arguments;     // of each program started
    std::vector<unsigned long> exitCodes;    // of each, once ended
    size_t pointsPassed = 0;     // power-cut points passed on the machine when its programs had ended
    // The repaired account as seen from the sign-in until its programs had
    // ended: each type it had, whether the session's programs ran elevated,
    // and the prompt's settings at the sign-in.
    std::set<std::wstring> accountTypes;
    bool elevated = false;
    std::map<std::wstring, std::wstring> promptAtSignIn;
};

struct Run {
    std::vector<Boot> boots;
    size_t setUpPoints = 0;   // power-cut points the set-up (in this process) passed
    int countdowns = 0;       // fix windows seen counting down
    std::string failure;   // why the run could not be driven to its end; empty when it was
    unsigned long long setupMs = 0, restartsMs = 0;
};

struct Drive {
    const wchar_t* scenario = L"broken-profile";
    int flags = 0;                 // the wizard's options: 1 store apps, 2 system app data, 4 settings
    bool earlierSignIn = false;    // another account signs in automatically before the repair
    CloseBy closeBy = CloseBy::Request;
    // When the machine waits at the sign-in screen, this account (without a
    // password) signs in there once, as the operator would; none: nobody.
    const wchar_t* signInAtScreen = nullptr;
    // Asked while the session's programs run (about every 100 ms) with the
    // arguments of each running program; true cuts the power there.
    std::function<bool(const std::vector<std::wstring>&)> cutPowerWhen;
};

// Points of the uninterrupted run (machine state) to cut at.
struct KillPoint {
    std::wstring point;
    unsigned passage = 1;
};

// The whole repair of the broken-profile machine: the scenario loaded and
// taken as `before`, the repair scheduled through the wizard, the power cut
// armed at `cutAt` (when given) once that set-up is done, then the restarts
// until nothing asks for one. False when the set-up failed; `run->failure`
// says why the run could not be driven to its end.
bool DriveRepair(const Drive& drive, Before* before, Run* run, const KillPoint* cutAt = nullptr);
// Every distinct point once (its first passage), and for a point passed
// more than once also its last passage and, past two, its middle one, in
// the order passed.
std::vector<KillPoint> ChooseKillPoints(const std::vector<std::wstring>& passed);

// The lines, each indented on a line of its own.
std::string Listed(const std::vector<std::string>& lines);
std::string Describe(const Run& run);

}  // namespace e2e
