// The simulated power cut. A long operation of the program marks the points
// at which the machine could lose its power (machine::PowerCutPoint); the
// simulated machine writes each point passed into its state, so that the
// points of one run can be listed across processes and reboots, and, when a
// test or the sandbox tool armed it, ends the process at the named point as
// a power cut ends it: at once, without any clean-up in the process.
#include "sandbox/sandbox.h"

#include <windows.h>

#include <cstdio>
#include <string>
#include <vector>

#include "platform/machine.h"
#include "sandbox/state.h"

namespace sandbox {

namespace {

constexpr wchar_t kPowerCut[] = L"PowerCut";
constexpr wchar_t kPassed[] = L"PowerCut\\Passed";
constexpr wchar_t kArmedPoint[] = L"ArmedPoint";
constexpr wchar_t kArmedPassage[] = L"ArmedPassage";
constexpr wchar_t kArmedSeen[] = L"ArmedSeen";
constexpr wchar_t kCutPoint[] = L"CutPoint";
constexpr wchar_t kCutPassage[] = L"CutPassage";
constexpr wchar_t kCutProcess[] = L"CutProcess";
constexpr wchar_t kCutPending[] = L"CutPending";   // 1 until the next restart

// Writes the point into the list of points passed; true when it is the armed
// point's awaited passage, which then becomes the cut (and disarms).
bool PassAndDecide(const wchar_t* point, unsigned long* passage)
{
    StateLock lock;
    Key passed = OpenState(kPassed, true);
    DWORD next = ReadDword(passed.Get(), L"Next", 1);
    wchar_t name[16];
    swprintf(name, ARRAYSIZE(name), L"%06lu", static_cast<unsigned long>(next));
    WriteString(passed.Get(), name, point);
    WriteDword(passed.Get(), L"Next", next + 1);

    Key state = OpenState(kPowerCut, true);
    bool armed = false;
    std::wstring armedPoint = ReadString(state.Get(), kArmedPoint, L"", &armed);
    if (!armed || _wcsicmp(armedPoint.c_str(), point) != 0)
        return false;
    DWORD seen = ReadDword(state.Get(), kArmedSeen, 0) + 1;
    DWORD wanted = ReadDword(state.Get(), kArmedPassage, 1);
    if (seen < wanted) {
        WriteDword(state.Get(), kArmedSeen, seen);
        return false;
    }
    // One cut per arming: the machine that comes back up runs on.
    RegDeleteValueW(state.Get(), kArmedPoint);
    RegDeleteValueW(state.Get(), kArmedPassage);
    RegDeleteValueW(state.Get(), kArmedSeen);
    WriteString(state.Get(), kCutPoint, point);
    WriteDword(state.Get(), kCutPassage, seen);
    WriteDword(state.Get(), kCutProcess, GetCurrentProcessId());
    WriteDword(state.Get(), kCutPending, 1);
    *passage = seen;
    return true;
}

}  // namespace

void MarkPowerCut(const wchar_t* when)
{
    {
        StateLock lock;
        Key state = OpenState(kPowerCut, true);
        WriteString(state.Get(), kCutPoint, when);
        WriteDword(state.Get(), kCutPassage, 0);
        WriteDword(state.Get(), kCutProcess, 0);
        WriteDword(state.Get(), kCutPending, 1);
    }
    Record(L"PowerCut", {{L"point", when}, {L"passage", L"0"}, {L"process", L"0"}});
}

void ArmPowerCut(const wchar_t* point, unsigned passage)
{
    StateLock lock;
    Key state = OpenState(kPowerCut, true);
    if (point == nullptr || *point == L'\0' || passage == 0) {
        RegDeleteValueW(state.Get(), kArmedPoint);
        RegDeleteValueW(state.Get(), kArmedPassage);
        RegDeleteValueW(state.Get(), kArmedSeen);
        return;
    }
    WriteString(state.Get(), kArmedPoint, point);
    WriteDword(state.Get(), kArmedPassage, passage);
    WriteDword(state.Get(), kArmedSeen, 0);
}

void DisarmPowerCut()
{
    ArmPowerCut(nullptr, 0);
}

bool ArmedPowerCut(std::wstring* point, unsigned* passage)
{
    StateLock lock;
    Key state = OpenState(kPowerCut, false);
    bool armed = false;
    std::wstring name = ReadString(state.Get(), kArmedPoint, L"", &armed);
    if (!armed)
        return false;
    if (point != nullptr)
        *point = name;
    if (passage != nullptr)
        *passage = ReadDword(state.Get(), kArmedPassage, 1);
    return true;
}

std::vector<std::wstring> PowerCutPointsPassed()
{
    StateLock lock;
    std::vector<std::wstring> points;
    Key passed = OpenState(kPassed, false);
    if (!passed)
        return points;
    DWORD next = ReadDword(passed.Get(), L"Next", 1);
    for (DWORD n = 1; n < next; ++n) {
        wchar_t name[16];
        swprintf(name, ARRAYSIZE(name), L"%06lu", static_cast<unsigned long>(n));
        bool present = false;
        std::wstring point = ReadString(passed.Get(), name, L"", &present);
        if (present)
            points.push_back(point);
    }
    return points;
}

void ClearPowerCutPoints()
{
    StateLock lock;
    DeleteTree(HKEY_LOCAL_MACHINE, std::wstring(kStateKey) + L"\\" + kPassed);
}

bool LastPowerCut(PowerCut* cut)
{
    StateLock lock;
    Key state = OpenState(kPowerCut, false);
    bool present = false;
    std::wstring point = ReadString(state.Get(), kCutPoint, L"", &present);
    if (!present)
        return false;
    if (cut != nullptr) {
        cut->point = point;
        cut->passage = ReadDword(state.Get(), kCutPassage, 0);
        cut->processId = ReadDword(state.Get(), kCutProcess, 0);
        cut->pending = ReadDword(state.Get(), kCutPending, 0) != 0;
    }
    return true;
}

void ForgetPowerCut()
{
    StateLock lock;
    Key state = OpenState(kPowerCut, false);
    if (!state)
        return;
    for (const wchar_t* name : {kCutPoint, kCutPassage, kCutProcess, kCutPending})
        RegDeleteValueW(state.Get(), name);
}

bool TakePendingPowerCut()
{
    StateLock lock;
    Key state = OpenState(kPowerCut, false);
    if (!state || ReadDword(state.Get(), kCutPending, 0) == 0)
        return false;
    WriteDword(state.Get(), kCutPending, 0);
    return true;
}

void PassMachineCall(const wchar_t* call)
{
    machine::PowerCutPoint((std::wstring(kMachineCallPoint) + call).c_str());
}

}  // namespace sandbox

namespace machine {

void PowerCutPoint(const wchar_t* point)
{
    if (point == nullptr || *point == L'\0')
        return;
    unsigned long passage = 0;
    if (!sandbox::PassAndDecide(point, &passage))
        return;
    sandbox::Record(L"PowerCut", {{L"point", point},
                                  {L"passage", std::to_wstring(passage)},
                                  {L"process", std::to_wstring(GetCurrentProcessId())}});
    // Nothing of the process runs after this: no destructor, no handler, no
    // flush, as when the power fails.
    TerminateProcess(GetCurrentProcess(), sandbox::kPowerCutExitCode);
    ExitProcess(sandbox::kPowerCutExitCode);   // not reached
}

}  // namespace machine
