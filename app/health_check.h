// The health check of the computer's accounts: everything quietly wrong
// with accounts, profiles, rights, groups, automatic sign-in and what a
// repair left behind, found in one pass from the machine's own records,
// and each finding mended through the operation that owns that kind of
// change, with that operation's guards.
#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "accounts/health_rules.h"

// One piece of evidence, as found on the machine ("SID", "S-1-5-21-...").
struct Evidence {
    std::wstring name;
    std::wstring value;
};

struct Finding {
    FindingKind kind = FindingKind::ProfileKeyCorrupt;
    std::wstring id;            // RuleOf(kind).id
    Severity severity = Severity::Note;
    std::wstring summary;       // one line for a list
    std::vector<Evidence> evidence;
    std::wstring mendText;      // what mending does
    bool mendable = false;
    bool safeToMend = false;
    // What the mend acts on, as found: a SID, a key name, a path, a group.
    std::wstring target;
    std::wstring detail;
};

// Whether `name` names the finding: by its id, which all findings of its
// kind share, or by "id:target" for one of them.
inline bool NamesFinding(const std::wstring& name, const Finding& finding)
{
    return name == finding.id || name == finding.id + L":" + finding.target;
}

struct HealthCheckOptions {
    // Orphaned profiles' folder sizes and last use, through the walker; slow
    // on big profiles, so only on request.
    bool measureProfiles = false;
    // Run by a standard user: what only an administrator may read (the
    // security policy's rights, the automatic sign-in's secret, other
    // accounts' settings and profile folders) is not read but named, so
    // that a finding is never missed in silence nor made up from a refusal.
    bool elevated = true;
};

// Called between the check's steps: `done` of `total`, and what runs next.
using HealthProgress = std::function<void(uint32_t done, uint32_t total, const wchar_t* step)>;

// Reads the machine and returns the findings, problems first, then risks,
// then notes, each group in the order the steps found them. Nothing on the
// machine is changed; no password is ever tried. Without elevation, the
// facts left out are added to `leftOut` ("rights", "autoLogonSecret",
// "otherProfiles", "otherUsersSettings").
std::vector<Finding> RunHealthCheck(const HealthCheckOptions& options, const HealthProgress& progress = nullptr,
                                    std::vector<std::wstring>* leftOut = nullptr);

// Adds the folder's size and last use to an orphaned profile's evidence.
void MeasureOrphanProfile(Finding& finding);

struct MendOutcome {
    bool mended = false;
    std::wstring text;          // for the operator, whatever happened
};

// Mends one finding from RunHealthCheck. What the finding names is checked
// against the machine again first: a finding that no longer holds is not
// mended ("nothing to mend"), and one that is not mendable never is.
MendOutcome MendFinding(const Finding& finding);
