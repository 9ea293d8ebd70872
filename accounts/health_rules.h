// The judgements of the computer's health check that need no system call:
// what each finding is, which SIDs, folders and sign-in settings may be
// reported at all, and what the facts gathered from the machine amount to.
// Wrong findings make an administrator delete what mattered, so every rule
// here leans towards saying nothing when the facts do not settle it.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "accounts/account_rules.h"

enum class Severity { Problem = 0, Risk = 1, Note = 2 };

// Each kind of finding, with its stable id, how bad it is, what mending it
// does, and whether that may happen without asking the operator.
enum class FindingKind {
    ProfileKeyCorrupt,
    OrphanProfile,
    OrphanProfileFolder,
    OrphanRight,
    OrphanGroupMember,
    AutoLogonBroken,
    AutoLogonNoPassword,
    AutoLogonPlainPassword,
    AutoLogonLeftover,
    PasswordlessSignInSetting,
    RepairTempAdmin,
    RepairStaleState,
    RepairStaleJournal,
    RepairStaleShortcut,
    AdminPasswordNotRequired,
    GuestEnabled,
    SingleAdministrator,
    PersonalFolderMissing,
    PersonalFolderInOtherProfile,
    ProfileUnused,
    // A record the check needs could not be read whole, and the checks
    // resting on it were left out rather than judged on a part.
    CheckIncomplete,
};

struct FindingRule {
    FindingKind kind;
    const wchar_t* id;
    Severity severity;
    bool mendable;
    bool safeToMend;        // may be mended by "mend all safe findings" without asking
    const wchar_t* mendText;
};

// The rule of a kind; every kind has one.
const FindingRule& RuleOf(FindingKind kind);
// The kind of a stable id (exact, as RuleOf gives it); false when unknown.
bool KindOfId(const wchar_t* id, FindingKind& kind);
const wchar_t* SeverityText(Severity severity);

// A SID string of one of this computer's own accounts: the machine's domain
// SID ("S-1-5-21-a-b-c") followed by exactly one relative id. Domain SIDs of
// another authority, well-known and built-in SIDs, service SIDs
// (S-1-5-80-...) and anything malformed are not. The domain SID itself must
// be of the S-1-5-21 form with three parts, or nothing is local.
bool IsLocalAccountSid(const std::wstring& sid, const std::wstring& machineDomainSid);

// The machine's domain SID read off one of its accounts' SIDs: everything
// before the last relative id. Empty when the SID is not an S-1-5-21 account SID.
std::wstring DomainOfAccountSid(const std::wstring& accountSid);

// Folders of the profiles directory that the system keeps for itself or
// leaves behind on its own (the default and public profiles, their old
// names, the set-up's own account, temporary profiles). Compared without
// regard to case.
bool IsSystemProfileFolderName(const std::wstring& name);

// True when `path` lies in `folder` or is it (both plain drive paths,
// compared without regard to case, a trailing backslash ignored).
bool PathIsInside(const std::wstring& path, const std::wstring& folder);

// What the automatic sign-in settings and the named account amount to.
struct AutoLogonFacts {
    bool switchedOn = false;         // "AutoAdminLogon" is "1"
    std::wstring userName;           // "DefaultUserName"
    bool localDomain = true;         // "DefaultDomainName" is empty, "." or this computer
    bool accountFound = false;
    uint32_t accountFlags = 0;       // the account's UF_ flags
    bool passwordExpired = false;
    bool secretStored = false;       // the security authority's secret
    bool plainTextStored = false;    // a "DefaultPassword" registry value
    bool autoLogonCountPresent = false;
    bool forceAutoLogonPresent = false;
};

// Account flags as the account database gives them; the others are the
// settings panel's (account_rules.h).
inline constexpr uint32_t kFlagDisabled = kFlagAccountDisabled;   // UF_ACCOUNTDISABLE

// Why the automatic sign-in cannot work, as the evidence says it; empty when
// it can (or nobody can tell: a domain account, sign-in switched off).
std::wstring AutoLogonFailure(const AutoLogonFacts& facts);

// The findings the facts give, in a fixed order.
std::vector<FindingKind> JudgeAutoLogon(const AutoLogonFacts& facts);

// What the repair tool left on the machine.
struct RepairFacts {
    bool tempAdminExists = false;
    bool stateFilePresent = false;
    bool journalPresent = false;
    uint32_t shortcuts = 0;          // the tool's start-up shortcuts found in any account
};

// A repair is under way while its state file and a start-up shortcut that
// carries it on both exist: then nothing of it is a leftover.
bool RepairUnderWay(const RepairFacts& facts);
std::vector<FindingKind> JudgeRepairLeftovers(const RepairFacts& facts);

// One account as the administrator checks need it.
struct AccountFacts {
    std::wstring name;
    uint32_t rid = 0;
    uint32_t privilege = 0;          // 2: administrator
    uint32_t flags = 0;
};

struct AccountFinding {
    FindingKind kind;
    std::wstring account;            // empty for the machine-wide note
};

// Enabled administrators that need no password, the built-in guest enabled,
// and a single enabled administrator (a note).
std::vector<AccountFinding> JudgeAccounts(const std::vector<AccountFacts>& accounts);

// Where one personal folder of an account points.
enum class FolderPlace { Fine, Missing, InOtherProfile, NotJudged };

// `path` expanded; `exists` whether it is there as a folder. Network and
// device paths are never judged (an offline server is not a missing folder),
// nor empty ones.
FolderPlace JudgeFolderPlace(const std::wstring& path, bool exists, const std::wstring& ownProfile,
                             const std::vector<std::wstring>& otherProfiles);
