#include "repair/fix_rules.h"

namespace {

// Rows: phase; columns: any other event, the close event.
constexpr FixStep kFixSteps[3][2] = {
    {FixStep::CheckWorker, FixStep::RefuseThenCheck},   // repairing: the worker is never stopped
    {FixStep::Countdown, FixStep::RebootNow},           // failed
    {FixStep::Countdown, FixStep::RebootNow},           // succeeded
};

}  // namespace

FixStep NextFixStep(FixPhase phase, bool closeRequested)
{
    auto row = static_cast<int32_t>(phase);
    if (row < 0 || row > 2)
        row = 0;   // an unknown phase is treated as a running repair: nothing is cut short
    return kFixSteps[row][closeRequested ? 1 : 0];
}

FixPhase PhaseAfterWorker(uint32_t exitCode)
{
    return exitCode != 0 ? FixPhase::Succeeded : FixPhase::Failed;
}

int64_t CounterMilliseconds(int64_t counts, int64_t frequency)
{
    if (frequency <= 0)
        return 0;
    return counts / frequency * 1000 + counts % frequency * 1000 / frequency;
}

int32_t CountdownRemaining(int64_t elapsedMs, int32_t seconds)
{
    if (elapsedMs < 0)
        return seconds;
    int64_t passed = elapsedMs / 1000;
    if (passed >= seconds)
        return 0;
    return seconds - static_cast<int32_t>(passed);
}

WString CountdownText(int32_t remaining)
{
    WString text(L"Reboot in ");
    WString number;
    number.FromInt32(remaining);
    text.Append(number.Text(), remaining == 1 ? L" second" : L" seconds");
    return text;
}

const wchar_t* FixOutcomeText(FixPhase phase)
{
    return phase == FixPhase::Succeeded ? L"The repair operation succeeded. Close this app to reboot."
                                        : L"The repair operation failed. Close this app to reboot.";
}

WString RebootLogText(FixPhase phase, const wchar_t* account)
{
    if (phase != FixPhase::Succeeded || account == nullptr)
        return WString(L"Rebooting the computer...");
    WString text(L"Rebooting to the \"");
    text.Append(account, L"\" user account...");
    return text;
}

WString RebootRefusedText(uint32_t error)
{
    WString number;
    number.FromUInt32(error);
    WString text(L"The computer could not be rebooted (error ");
    text.Append(number.Text(), L"). Please reboot it to finish the repair.");
    return text;
}

WString FixingStatusText(const wchar_t* account)
{
    WString text(L"Fixing account profile data for:  ");
    text.Append(account != nullptr ? account : L"", L"  ...");
    return text;
}
