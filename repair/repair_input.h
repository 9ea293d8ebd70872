// What a repair is given and how it reports while it runs: plain data in,
// reports out through an interface, so that the repair knows no window.
#pragma once

#include <cstdint>
#include <string>

#include "repair/journal_rules.h"
#include "repair/repair_site.h"

// Everything one repair works from; copied by the worker, so the caller's
// copy may go as soon as the repair has started.
// The site's program is the tool's copy in its folder.
struct RepairInput : RepairSite {
    std::wstring account;         // the account to repair (user name)
    int32_t fixFlags = 0;         // FixFlags
};

// What the repair reports while it runs, always from the repair's own
// thread. An implementation that shows it in a window posts it there and
// never touches the window from this thread.
class RepairProgress {
public:
    // Row `row` of the report (0 for the first) shows `operation` and
    // `result`: a new row the first time, a new result afterwards.
    virtual void ShowRow(int row, const wchar_t* operation, const wchar_t* result) = 0;
    // `step` of the journal is complete and recorded.
    virtual void StepCompleted(RepairStep step) = 0;
    // Something happened that the operator should see (the account was made
    // anew, the data is moving): the window may come forward.
    virtual void WantsAttention() = 0;

protected:
    RepairProgress() = default;
    ~RepairProgress() = default;
};

// The report's texts, for a window that shows them before the repair does.
inline constexpr wchar_t kRowWorking[] = L"Working on it";
inline constexpr wchar_t kRowSuccess[] = L"Success";
inline constexpr wchar_t kRowFailure[] = L"Failure";
