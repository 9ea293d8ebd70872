// The examination of an account whose profile does not load, and the mend
// in place that puts its profile-list entry and permissions right for the
// same account: no new SID, no restart. Knows no window; the command line
// and the wizard's first page show what it finds.
#pragma once

#include <string>
#include <vector>

#include "repair/mend_rules.h"
#include "repair/repair_site.h"

struct AccountExamination {
    std::wstring account;
    std::wstring sid;
    ProfileFacts facts;
    ProfileDiagnosis diagnosis;
};

// Looks at the account's profile-list entry and its backup, the folder's
// and the hive files' permissions for its SID, whether its hive loads (under
// a temporary key, its shell folder list read back, unloaded again) and
// whether the folder holds what a profile needs. False, with the reason in
// `problem`, when the account is unknown. Changes nothing.
bool ExamineAccount(const wchar_t* account, AccountExamination& examination, std::wstring& problem);

// The undo record of a mend under way, beside the repair's journal.
inline constexpr wchar_t kMendRecordName[] = L"\\BrenwickMend.txt";

struct MendReport {
    std::vector<std::wstring> done;      // each change, once made (or, dry, that would be made)
    std::vector<std::wstring> notDone;
    std::wstring refusal;                // why nothing was tried; empty when it was
    bool mended = false;                 // every change made and the profile examined sound afterwards
};

// The mend in place of the account, when its examination recommends one.
// Every value and permission it changes is written to the undo record
// first; a mend that stops half-way is undone from that record by the next
// mend or examination (RestoreUnfinishedMend). Logged to the repair log.
// `dryRun` examines and lists the changes only.
bool MendInPlace(const RepairSite& site, const wchar_t* account, bool dryRun, MendReport& report);

// Puts back what a mend cut short had changed, from its undo record, and
// removes the record. True when there was none or all was put back;
// `said` tells what happened, for the log and the operator.
bool RestoreUnfinishedMend(const RepairSite& site, std::wstring& said);
