#include "repair/journal_rules.h"

#include "accounts/lifecycle_rules.h"
#include "platform/text.h"
#include "repair/repair_rules.h"

namespace {

struct StepText {
    const wchar_t* name;
    const wchar_t* point;
};

// In RepairStep order.
const StepText kSteps[kRepairStepCount] = {
    {L"get the account's information", L"step 3 done"},
    {L"delete the old account", L"step 4 done"},
    {L"create the new account", L"step 5 done"},
    {L"point the new account's profile at the old folder", L"step 6 done"},
    {L"give the old folder's permissions to the new account", L"step 8 done"},
    {L"move the application data folders", L"step 9 done"},
    {L"put the new UsrClass.dat in place", L"step 10 done"},
    {L"put the new NTUSER.DAT in place", L"step 11 done"},
    {L"delete the fresh profile folder", L"step 11 fresh folder done"},
    {L"carry the account picture over", L"step 12 done"},
    {L"hand over to the clean-up run", L"step 14 done"},
};

constexpr uint32_t kMaxUserNameLength = 20;
constexpr uint32_t kMaxFlags = 7;   // every combination of the FixFlags bits

bool HasLineBreak(const std::wstring& text)
{
    return text.find_first_of(L"\r\n") != std::wstring::npos;
}

void AppendLine(std::wstring& text, const wchar_t* key, const std::wstring& value)
{
    text += key;
    text += L'=';
    text += value;
    text += L"\r\n";
}

// Plain decimal digits only, at most `maximum`.
bool ReadJournalNumber(const std::wstring& text, uint32_t maximum, uint32_t& value)
{
    if (text.empty() || text.size() > 10)
        return false;
    uint64_t number = 0;
    for (wchar_t c : text) {
        if (c < L'0' || c > L'9')
            return false;
        number = number * 10 + static_cast<uint32_t>(c - L'0');
    }
    if (number > maximum)
        return false;
    value = static_cast<uint32_t>(number);
    return true;
}

// A folder a step works in: normalised, strictly inside the profiles directory.
bool ReadFolder(const std::wstring& text, const wchar_t* profilesRoot, std::wstring& folder)
{
    WString normalised;
    if (CheckProfileFolderPath(text.c_str(), profilesRoot, normalised) != ProfileFolderVerdict::Inside)
        return false;
    folder = normalised.Text();
    return true;
}

bool SameNoCase(const std::wstring& a, const std::wstring& b)
{
    return EqualsNoCase(a.c_str(), b.c_str());
}

// "\??\C:\x" and "!\??\C:\x" as the plain path "C:\x".
std::wstring PlainRenamePath(const wchar_t* entry)
{
    std::wstring path(entry);
    if (!path.empty() && path[0] == L'!')
        path.erase(0, 1);
    if (path.compare(0, 4, L"\\??\\") == 0)
        path.erase(0, 4);
    return path;
}

}  // namespace

const wchar_t* RepairStepName(RepairStep step)
{
    uint32_t index = static_cast<uint32_t>(step);
    return index < kRepairStepCount ? kSteps[index].name : L"end the repair";
}

const wchar_t* RepairStepPoint(RepairStep step)
{
    uint32_t index = static_cast<uint32_t>(step);
    return index < kRepairStepCount ? kSteps[index].point : L"repair ended";
}

bool FormatJournal(const RepairJournal& journal, std::wstring& text)
{
    const std::wstring* texts[] = {&journal.account, &journal.oldSid, &journal.oldProfile, &journal.newSid,
                                   &journal.newProfile};
    for (const std::wstring* value : texts)
        if (HasLineBreak(*value))
            return false;
    text.clear();
    AppendLine(text, L"Account", journal.account);
    AppendLine(text, L"Flags", std::to_wstring(journal.flags));
    AppendLine(text, L"OldSid", journal.oldSid);
    AppendLine(text, L"OldProfile", journal.oldProfile);
    AppendLine(text, L"NewSid", journal.newSid);
    AppendLine(text, L"NewProfile", journal.newProfile);
    AppendLine(text, L"StepsDone", std::to_wstring(journal.stepsDone));
    AppendLine(text, L"Tries", std::to_wstring(journal.tries));
    AppendLine(text, L"HiveCount", std::to_wstring(journal.hiveCount));
    AppendLine(text, L"Marks", std::to_wstring(journal.marks));
    AppendLine(text, L"Outcome", std::to_wstring(static_cast<uint32_t>(journal.outcome)));
    return true;
}

bool ParseJournal(const wchar_t* text, const wchar_t* profilesRoot, RepairJournal& journal, std::wstring& problem)
{
    journal = RepairJournal{};
    if (text == nullptr) {
        problem = L"the journal is empty";
        return false;
    }
    std::wstring values[11];
    bool seen[11] = {};
    static const wchar_t* const kKeys[11] = {L"Account",   L"Flags", L"OldSid",    L"OldProfile",
                                             L"NewSid",    L"NewProfile", L"StepsDone", L"Tries",
                                             L"HiveCount", L"Marks", L"Outcome"};
    std::wstring all(text);
    size_t at = 0;
    while (at < all.size()) {
        size_t end = all.find_first_of(L"\r\n", at);
        std::wstring line = all.substr(at, end == std::wstring::npos ? std::wstring::npos : end - at);
        at = end == std::wstring::npos ? all.size() : end + 1;
        if (line.empty())
            continue;
        size_t equals = line.find(L'=');
        if (equals == std::wstring::npos) {
            problem = L"a line without a value";
            return false;
        }
        std::wstring key = line.substr(0, equals);
        bool known = false;
        for (int i = 0; i < 11; ++i) {
            if (key == kKeys[i]) {
                if (seen[i]) {
                    problem = L"the value " + key + L" appears twice";
                    return false;
                }
                seen[i] = true;
                values[i] = line.substr(equals + 1);
                known = true;
            }
        }
        if (!known) {
            problem = L"an unknown value " + key;
            return false;
        }
    }
    for (int i = 0; i < 11; ++i) {
        if (!seen[i]) {
            problem = std::wstring(L"the value ") + kKeys[i] + L" is missing";
            return false;
        }
    }

    journal.account = values[0];
    if (!IsPlausibleLogonName(journal.account.c_str(), kMaxUserNameLength)) {
        problem = L"the account name is not valid";
        return false;
    }
    uint32_t outcome = 0;
    if (!ReadJournalNumber(values[1], kMaxFlags, journal.flags) || !ReadJournalNumber(values[6], kRepairStepCount, journal.stepsDone) ||
        !ReadJournalNumber(values[7], kMaxStepTries, journal.tries) || !ReadJournalNumber(values[8], 2, journal.hiveCount) ||
        !ReadJournalNumber(values[9], JournalMark::All, journal.marks) ||
        !ReadJournalNumber(values[10], static_cast<uint32_t>(RepairOutcome::Failed), outcome)) {
        problem = L"a number is out of range";
        return false;
    }
    journal.outcome = static_cast<RepairOutcome>(outcome);

    // The old account's values are known from the first completed step on,
    // the new one's from the creation on; before that they must be empty.
    bool needOld = journal.Done(RepairStep::AccountInfo);
    bool needNew = journal.Done(RepairStep::CreateNew);
    struct Pair {
        const std::wstring& sidText;
        const std::wstring& folderText;
        std::wstring& sid;
        std::wstring& folder;
        bool needed;
        const wchar_t* which;
    } pairs[] = {{values[2], values[3], journal.oldSid, journal.oldProfile, needOld, L"old"},
                 {values[4], values[5], journal.newSid, journal.newProfile, needNew, L"new"}};
    for (Pair& pair : pairs) {
        if (!pair.needed) {
            if (!pair.sidText.empty() || !pair.folderText.empty()) {
                problem = std::wstring(L"the ") + pair.which + L" account's values come before their step";
                return false;
            }
            continue;
        }
        if (!IsPlainSidString(pair.sidText.c_str())) {
            problem = std::wstring(L"the ") + pair.which + L" SID is not a SID";
            return false;
        }
        pair.sid = pair.sidText;
        if (!ReadFolder(pair.folderText, profilesRoot, pair.folder)) {
            problem = std::wstring(L"the ") + pair.which + L" profile folder is not inside the profiles directory";
            return false;
        }
    }
    if (needNew && SameNoCase(journal.oldSid, journal.newSid)) {
        problem = L"the new SID is the old one";
        return false;
    }
    if (journal.outcome == RepairOutcome::Repaired && journal.hiveCount != 2) {
        problem = L"a repaired account without both hives";
        return false;
    }
    return true;
}

OldAccountAction DecideOldAccount(bool exists, const wchar_t* existingSid, const wchar_t* journaledOldSid)
{
    if (!exists)
        return OldAccountAction::AlreadyGone;
    if (existingSid != nullptr && journaledOldSid != nullptr && *journaledOldSid != L'\0' &&
        EqualsNoCase(existingSid, journaledOldSid))
        return OldAccountAction::Delete;
    return OldAccountAction::Refuse;
}

NewAccountAction DecideNewAccount(bool exists, const wchar_t* existingSid, const wchar_t* oldSid, bool administrator,
                                  bool creationStarted)
{
    if (!exists)
        return NewAccountAction::Create;
    if (existingSid == nullptr || *existingSid == L'\0' || oldSid == nullptr || *oldSid == L'\0' ||
        EqualsNoCase(existingSid, oldSid) || !(administrator || creationStarted))
        return NewAccountAction::Refuse;
    return NewAccountAction::Reuse;
}

HiveAction DecideHiveAction(bool freshExists, bool oldRemoved, bool movedWithFolder)
{
    if (freshExists)
        return oldRemoved ? HiveAction::Move : HiveAction::RemoveOldThenMove;
    // Without a fresh copy, a file at the old place after the old ones were
    // removed (or after the whole folder came over) is the fresh one.
    return oldRemoved || movedWithFolder ? HiveAction::Placed : HiveAction::RemoveOldOnly;
}

bool AreSeparateFolders(const wchar_t* first, const wchar_t* second)
{
    if (first == nullptr || second == nullptr || *first == L'\0' || *second == L'\0')
        return false;
    return !EqualsNoCase(first, second) && !IsStrictlyBelow(first, second) && !IsStrictlyBelow(second, first);
}

bool RenameIsPending(const wchar_t* list, uint32_t units, const wchar_t* source, const wchar_t* destination)
{
    if (list == nullptr || source == nullptr || destination == nullptr || *destination == L'\0')
        return false;
    std::wstring wantedSource(source), wantedDestination(destination);
    uint32_t at = 0;
    auto next = [&](std::wstring& entry) {
        if (at >= units)
            return false;
        uint32_t start = at;
        while (at < units && list[at] != L'\0')
            ++at;
        entry.assign(list + start, list + at);
        ++at;   // the terminator
        return true;
    };
    std::wstring from, to;
    while (next(from) && next(to)) {
        if (from.empty())
            continue;
        if (SameNoCase(PlainRenamePath(from.c_str()), wantedSource) &&
            SameNoCase(PlainRenamePath(to.c_str()), wantedDestination))
            return true;
    }
    return false;
}

std::wstring RepairUnderWayText(const RepairJournal& journal)
{
    std::wstring account = L"\"" + journal.account + L"\"";
    std::wstring first, then;
    switch (journal.outcome) {
    case RepairOutcome::Running:
        first = L"Brenwick has not finished repairing the " + account + L" account.";
        then = L"Restart the computer: the repair goes on in the temporary account.";
        break;
    case RepairOutcome::Repaired:
    case RepairOutcome::NotRepaired:
        first = L"The repair of the " + account + L" account has not been completed yet.";
        then = L"Sign in to the " + account + L" account to let Brenwick complete it.";
        break;
    case RepairOutcome::Failed:
        first = L"The repair of the " + account + L" account stopped, and Brenwick has not cleaned up after it yet.";
        then = L"Restart the computer and let the temporary account sign in to clean up.";
        break;
    }
    return first + L"\r\n\r\n" + then + L" A new repair can be started once that one is complete.";
}
