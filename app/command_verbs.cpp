// The verbs of the command mode. Each calls the operation its window calls,
// behind the same guards; what a window shows in a box is said here on
// standard error, and the exit code carries the outcome.
#include <windows.h>
#include <gdiplus.h>
#include <shlobj.h>

#include <algorithm>
#include <ctime>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "accounts/account_lifecycle.h"
#include "accounts/account_list.h"
#include "accounts/account_rules.h"
#include "accounts/account_settings.h"
#include "accounts/detail_rules.h"
#include "accounts/groups.h"
#include "app/health_check.h"
#include "accounts/lookup.h"
#include "accounts/passwords.h"
#include "accounts/account_hive.h"
#include "accounts/personal_folders.h"
#include "accounts/pictures.h"
#include "accounts/profile_keys.h"
#include "app/command_mode.h"
#include "app/apply_plan.h"
#include "app/apply_steps.h"
#include "app/command_groups.h"
#include "app/command_policy.h"
#include "app/command_profiles.h"
#include "app/setting_changes.h"
#include "platform/file_rules.h"
#include "platform/files.h"
#include "platform/system.h"
#include "platform/text_win.h"
#include "platform/token.h"
#include "repair/carry_limits.h"
#include "repair/profile_mend.h"
#include "repair/repair_journal.h"
#include "repair/repair_log.h"
#include "repair/repair_rules.h"
#include "repair/repair_setup.h"
#include "repair/tool_folder.h"
#include "ui/secret_text.h"
#include "vantrell_version.h"

namespace {

std::wstring Quoted(const wchar_t* text)
{
    return L"\"" + std::wstring(text) + L"\"";
}

// A value for a line of text output. Names, full names, paths and registry
// values come from places users can write: a control character in them is
// shown, never obeyed (JSON escapes its own).
std::wstring Shown(const wchar_t* text)
{
    return EscapeControls(text).Text();
}

std::wstring Shown(const std::wstring& text)
{
    return Shown(text.c_str());
}

// What the list and `show` tell of one account: what the settings panel
// shows, with the SID, profile and picture the operations look up.
struct AccountFacts {
    WString name;
    bool autoLogonKnown = true;   // the secret could be read
    bool hiddenKnown = true;      // the policy's rights could be listed
    AccountDetails details;
    WString sid;
    WString profile;
    WString picture;
    uint64_t sizeBytes = 0;
    bool sized = false;
};

bool ReadFacts(const wchar_t* name, const wchar_t* consoleUser, AccountFacts& facts)
{
    facts.name.Assign(name);
    if (!ReadAccountDetails(name, consoleUser, facts.details))
        return false;
    GetAccountSidAndProfile(name, facts.sid, &facts.profile);
    if (!FindAccountPicture(name, facts.picture, GetOsVersionNumber()))
        facts.picture.Clear();
    return true;
}

void WriteFactsJson(JsonWriter& json, AccountFacts& facts, bool sizes)
{
    const AccountDetails& d = facts.details;
    json.BeginObject()
        .Field("name", facts.name.Text())
        .Field("fullName", d.fullName.Text())
        .Field("type", TypeName(d.privilege))
        .Field("typeText", d.typeText.Text())
        .Field("sid", facts.sid.Text())
        .Field("disabled", (d.flags & kFlagAccountDisabled) != 0)
        .Field("lockedOut", (d.flags & kFlagLockedOut) != 0)
        .Field("passwordCannotChange", (d.flags & kFlagPasswordCannotChange) != 0)
        .Field("passwordNotRequired", (d.flags & kFlagPasswordNotRequired) != 0)
        .Field("passwordNeverExpires", (d.flags & kFlagPasswordNeverExpires) != 0)
        .Field("passwordExpired", (d.flags & kFlagPasswordExpired) != 0)
        .Key("hidden");
    facts.hiddenKnown ? json.Bool(d.hidden) : json.Null();
    json.Key("autoLogon");
    facts.autoLogonKnown ? json.Bool(d.autoLogon) : json.Null();
    json
        .Field("builtin", d.builtin)
        .Field("console", d.console);
    json.Key("picture");
    facts.picture.IsEmpty() ? json.Null() : json.String(facts.picture.Text());
    json.Key("profile");
    facts.profile.IsEmpty() ? json.Null() : json.String(facts.profile.Text());
    if (sizes) {
        json.Key("sizeBytes");
        facts.sized ? json.Unsigned(facts.sizeBytes) : json.Null();
    }
    json.EndObject();
}

std::vector<std::wstring> FactsFields(AccountFacts& facts, bool sizes)
{
    const AccountDetails& d = facts.details;
    auto yes = [](bool b) { return std::wstring(b ? L"yes" : L"no"); };
    std::vector<std::wstring> fields = {
        facts.name.Text(), d.fullName.Text(), TypeName(d.privilege), facts.sid.Text(),
        yes(d.flags & kFlagAccountDisabled), yes(d.flags & kFlagLockedOut),
        yes(d.flags & kFlagPasswordCannotChange), yes(d.flags & kFlagPasswordNotRequired),
        yes(d.flags & kFlagPasswordNeverExpires), yes(d.flags & kFlagPasswordExpired),
        facts.hiddenKnown ? yes(d.hidden) : L"",
        facts.autoLogonKnown ? yes(d.autoLogon) : L"", facts.picture.Text(), facts.profile.Text()};
    if (sizes)
        fields.push_back(facts.sized ? std::to_wstring(facts.sizeBytes) : L"");
    return fields;
}

const std::vector<std::wstring> kFieldNames = {
    L"name", L"fullName", L"type", L"sid", L"disabled", L"lockedOut", L"passwordCannotChange",
    L"passwordNotRequired", L"passwordNeverExpires", L"passwordExpired", L"hidden", L"autoLogon", L"picture",
    L"profile"};

// What only an administrator may read, as a read run without elevation
// names it: left out, never answered from the refusal.
struct AdminOnlyFact {
    const wchar_t* fact;
    const wchar_t* why;
};
const AdminOnlyFact kAdminOnlyFacts[] = {
    {L"autoLogon", L"whether an account signs in automatically (its stored password is an administrator's to read)"},
    {L"hidden", L"whether the welcome screen shows an account (the security policy's rights are an administrator's "
                L"to list)"},
    {L"sizeBytes", L"the sizes of other accounts' profile folders (those folders are their owners' to read)"},
    {L"rights", L"the rights the security policy keeps for deleted accounts"},
    {L"autoLogonSecret", L"whether the automatic sign-in's password is stored"},
    {L"otherProfiles", L"the repair tool's shortcuts in other accounts' profiles"},
    {L"otherUsersSettings", L"where other accounts' personal folders point"},
};

// Whether `fact` can be read: true when elevated, else it is left out.
bool AdminFactReadable(CommandRun& run, const std::wstring& fact)
{
    if (run.Elevated())
        return true;
    for (const AdminOnlyFact& known : kAdminOnlyFacts)
        if (fact == known.fact)
            run.LeaveOut(known.fact, known.why);
    return false;
}

bool AutoLogonReadable(CommandRun& run)
{
    return AdminFactReadable(run, L"autoLogon");
}

WString ConsoleUserName()
{
    WString name;
    FindConsoleUser(name, nullptr, nullptr);
    return name;
}

// A full name is shown in lists and on the welcome screen: a control
// character in it would forge or hide a line there. Says so when refused.
bool FullNameUsable(CommandRun& run)
{
    if (!HasControlCharacter(run.Parsed().Value(L"--full-name", L"")))
        return true;
    run.Say(L"the full name holds a control character (a tab, a line break, an escape or a direction mark); "
            L"nothing was changed");
    return false;
}

// The account must exist: the refusal otherwise.
bool RequireAccount(CommandRun& run, const wchar_t* name, AccountDetails& details, const wchar_t* consoleUser)
{
    if (ReadAccountDetails(name, consoleUser, details))
        return true;
    run.Say(L"there is no local account " + Quoted(name));
    return false;
}

// Sizes are measured on a worker, as the window's measurement is, so that
// a slow disk never holds the enumeration up between accounts.
struct SizeJob {
    std::vector<AccountFacts>* accounts;
    const wchar_t* onlySid;   // a standard user measures its own profile only; null: every one
};

DWORD WINAPI MeasureWorker(void* parameter)
{
    auto* job = static_cast<SizeJob*>(parameter);
    for (AccountFacts& facts : *job->accounts) {
        if (!facts.profile.IsEmpty() && (job->onlySid == nullptr || EqualsNoCase(job->onlySid, facts.sid.Text())))
            facts.sized = MeasureDirectory(facts.profile.Text(), facts.sizeBytes);
    }
    return 0;
}

int ListAccounts(CommandRun& run)
{
    const bool sizes = run.Parsed().Has(L"--sizes");
    const bool csv = run.Parsed().Has(L"--csv");
    if (!CsvOrJsonChosen(run))
        return kExitUsage;
    // Each kind of fact is read once for the whole list: a thousand
    // accounts cost little more than their enumeration.
    WString console = ConsoleUserName();
    std::vector<AccountSummary> summaries;
    ReadAccountSummaries(console.Text(), summaries);
    std::vector<const wchar_t*> accountNames;
    for (const AccountSummary& summary : summaries)
        accountNames.push_back(summary.name.Text());
    std::vector<WString> pictures;
    FindAccountPictures(accountNames, pictures, GetOsVersionNumber());
    std::vector<AccountFacts> accounts(summaries.size());
    const bool autoLogonKnown = AutoLogonReadable(run);
    const bool hiddenKnown = AdminFactReadable(run, L"hidden");
    for (size_t i = 0; i < summaries.size(); ++i) {
        accounts[i].autoLogonKnown = autoLogonKnown;
        accounts[i].hiddenKnown = hiddenKnown;
        accounts[i].name = std::move(summaries[i].name);
        accounts[i].details = std::move(summaries[i].details);
        accounts[i].sid = std::move(summaries[i].sid);
        accounts[i].profile = std::move(summaries[i].profile);
        accounts[i].picture = std::move(pictures[i]);
    }
    if (sizes) {
        WString self;
        const bool all = AdminFactReadable(run, L"sizeBytes");
        SizeJob job{&accounts, all ? nullptr : ProcessUserSidText(self) ? self.Text() : L""};
        UniqueHandle worker(CreateThread(nullptr, 0, MeasureWorker, &job, 0, nullptr));
        if (worker)
            WaitForSingleObject(worker.Get(), INFINITE);
        else
            MeasureWorker(&job);
    }
    if (run.Json()) {
        run.Document().Key("accounts").BeginArray();
        for (AccountFacts& facts : accounts)
            WriteFactsJson(run.Document(), facts, sizes);
        run.Document().EndArray();
        return kExitDone;
    }
    std::vector<std::wstring> names = kFieldNames;
    if (sizes)
        names.push_back(L"sizeBytes");
    if (csv) {
        std::vector<std::vector<std::wstring>> rows;
        for (AccountFacts& facts : accounts)
            rows.push_back(FactsFields(facts, sizes));
        WriteCsvTable(run, names, rows);
        return kExitDone;
    }
    for (AccountFacts& facts : accounts) {
        std::wstring line = Shown(facts.name.Text()) + L"\t" + TypeName(facts.details.privilege) + L"\t" +
                            Shown(facts.details.fullName.Text());
        if (sizes)
            line += L"\t" + (facts.sized ? std::wstring(ByteSizeText(facts.sizeBytes).Text()) : L"?");
        run.Line(line);
    }
    return kExitDone;
}

// The details people look up, beside what the list shows: "details" in the
// document, a line each otherwise. A time not kept is null or "never".
void ShowDetails(CommandRun& run, const AccountDetails& d)
{
    const DetailTexts t = DescribeDetails(d, static_cast<uint32_t>(time(nullptr)));
    const std::wstring fields[][2] = {
        {L"description", t.description},         {L"accountExpires", t.accountExpires},
        {L"passwordLastSet", t.passwordLastSet}, {L"passwordExpires", t.passwordExpires},
        {L"lastSignIn", t.lastSignIn},           {L"badPasswordCount", t.badPasswords},
    };
    if (!run.Json()) {
        for (const auto& field : fields)
            run.Line(field[0] + L": " + Shown(field[1]));
        return;
    }
    JsonWriter& json = run.Document();
    json.Key("details").BeginObject().Field("description", d.description.Text()).Key("accountExpires");
    d.accountExpires == kNeverTime ? json.Null() : json.String(DateTimeText(d.accountExpires));
    json.Field("passwordLastSet", t.passwordLastSet).Field("passwordExpires", t.passwordExpires).Key("lastSignIn");
    d.lastLogon == 0 ? json.Null() : json.String(DateTimeText(d.lastLogon));
    json.Field("badPasswordCount", static_cast<uint32_t>(d.badPasswordCount)).EndObject();
}

int ShowAccount(CommandRun& run)
{
    WString console = ConsoleUserName();
    AccountFacts facts;
    if (!ReadFacts(run.Argument(0), console.Text(), facts)) {
        run.Say(L"there is no local account " + Quoted(run.Argument(0)));
        return kExitNoSuchAccount;
    }
    facts.autoLogonKnown = AutoLogonReadable(run);
    facts.hiddenKnown = AdminFactReadable(run, L"hidden");
    // The local groups the account is a member of itself (not through
    // another group's membership), by name and SID.
    std::vector<LocalGroup> groups, memberOf;
    const bool groupsRead = ReadLocalGroups(groups);
    for (LocalGroup& group : groups)
        for (const GroupMember& member : group.members)
            if (EqualsNoCase(member.sid.Text(), facts.sid.Text())) {
                memberOf.push_back(std::move(group));
                break;
            }
    if (!groupsRead)
        run.Say(L"the local groups could not be read: the account's groups are not shown");
    if (run.Json()) {
        run.Document().Key("account");
        WriteFactsJson(run.Document(), facts, false);
        ShowDetails(run, facts.details);
        run.Document().Key("memberOf");
        if (!groupsRead) {
            run.Document().Null();
            return kExitDone;
        }
        run.Document().BeginArray();
        for (const LocalGroup& group : memberOf)
            run.Document().BeginObject().Field("name", group.name.Text()).Field("sid", group.sid.Text()).EndObject();
        run.Document().EndArray();
        return kExitDone;
    }
    std::vector<std::wstring> values = FactsFields(facts, false);
    for (size_t i = 0; i < values.size(); ++i)
        run.Line(kFieldNames[i] + L": " + Shown(values[i]));
    ShowDetails(run, facts.details);
    std::wstring names;
    for (const LocalGroup& group : memberOf)
        names += (names.empty() ? L"" : L", ") + Shown(group.name.Text());
    run.Line(L"groups: " + (groupsRead ? names : L"?"));
    return kExitDone;
}

int SetAccount(CommandRun& run)
{
    const wchar_t* name = run.Argument(0);
    WString console = ConsoleUserName();
    AccountDetails details;
    if (!RequireAccount(run, name, details, console.Text()))
        return kExitNoSuchAccount;
    std::vector<SettingValue> values;
    for (const auto& option : run.Parsed().options)
        if (const AccountSetting* setting = FindSettingOption(option.first.c_str()))
            values.push_back({setting, option.second});
    const SettingsPlan plan =
        PlanAccountSettings(name, SettingValuesOf(details), details.builtin, details.console, values, false);
    if (plan.refusal != kExitDone) {
        run.Say(plan.why);
        return plan.refusal;
    }
    if (plan.changes.empty()) {
        run.Say(L"nothing to change");
        return kExitDone;
    }
    return CarryOutSettings(run, plan);
}

// An empty first line is a slip, not a wish for no password: that has a
// verb of its own.
bool RefusedEmptyPassword(CommandRun& run, const SecretText& password)
{
    if (password.Length() != 0)
        return false;
    run.Say(L"an empty line is no password; an account is left without one by \"password remove\"; nothing was "
            L"changed");
    return true;
}

int PasswordSet(CommandRun& run)
{
    const wchar_t* name = run.Argument(0);
    AccountDetails details;
    if (!RequireAccount(run, name, details, nullptr))
        return kExitNoSuchAccount;
    SecretText password, current;
    if (!run.ReadSecret(password, L"New password: ", true) || RefusedEmptyPassword(run, password))
        return kExitUsage;
    // A second line on standard input, or a prompt, gives the current
    // password that the account database asks for a change.
    if (run.HasConsoleInput())
        run.ReadSecret(current, L"Current password (empty if none): ", false);
    else if (const SecretLine line = current.ReadLine(GetStdHandle(STD_INPUT_HANDLE), false);
             line == SecretLine::TooLong || line == SecretLine::NotText || current.Length() > kLongestPassword) {
        run.Say(L"the second line is no password an account can have (UTF-8, at most " +
                std::to_wstring(kLongestPassword) + L" characters); nothing was changed");
        return kExitUsage;
    }
    const std::wstring change = L"password of " + Quoted(name) + L" set";
    // A password cannot be compared without signing in with it, which
    // counts towards the account's lock-out: it is always set.
    if (run.DryRun()) {
        run.SecretChange(change, name, L"password");
        return kExitDone;
    }
    // The worker also renews the automatic sign-in's copy, as for the dialog.
    NET_API_STATUS status = ChangePassword(name, current.Text(), password.Text());
    if (status == NERR_Success) {
        run.SecretChange(change, name, L"password");
        return kExitDone;
    }
    run.Say(status == ERROR_INVALID_PASSWORD ? L"the current password is not correct; nothing was changed"
                                             : L"the password could not be changed");
    return status == ERROR_INVALID_PASSWORD ? kExitRefused : kExitFailed;
}

// The administrator's reset: no current password, and the account's
// protected secrets lost with it, which is said before anything is asked.
int PasswordReset(CommandRun& run)
{
    const wchar_t* name = run.Argument(0);
    AccountDetails details;
    if (!RequireAccount(run, name, details, nullptr))
        return kExitNoSuchAccount;
    if (!run.DryRun() && !run.Parsed().yes && !run.HasConsoleInput()) {
        run.Say(std::wstring(kPasswordResetWarning) + L" A reset needs --yes when no console can answer; nothing was "
                                                      L"changed");
        return kExitUsage;
    }
    SecretText password;
    if (!run.ReadSecret(password, L"New password: ", true) || RefusedEmptyPassword(run, password))
        return kExitUsage;
    run.Say(kPasswordResetWarning);
    if (!run.DryRun() && !run.Parsed().yes &&
        !run.Ask((L"Reset the password of " + Quoted(name) + L"?").c_str())) {
        run.Say(L"not reset");
        return kExitUsage;
    }
    const std::wstring change = L"password of " + Quoted(name) + L" reset";
    if (run.DryRun()) {
        run.SecretChange(change, name, L"password");
        return kExitDone;
    }
    const NET_API_STATUS status = ResetPassword(name, password.Text());
    password.Wipe();
    if (status == NERR_Success) {
        run.SecretChange(change, name, L"password");
        return kExitDone;
    }
    run.Say(status == NERR_PasswordTooShort ? L"the password does not meet the computer's password rules; nothing was "
                                              L"changed"
                                            : L"the password could not be reset");
    return status == NERR_PasswordTooShort ? kExitRefused : kExitFailed;
}

int PasswordRemove(CommandRun& run)
{
    const wchar_t* name = run.Argument(0);
    AccountDetails details;
    if (!RequireAccount(run, name, details, nullptr))
        return kExitNoSuchAccount;
    const std::wstring change = L"password of " + Quoted(name) + L" removed";
    if (run.DryRun() || ChangePassword(name, nullptr, nullptr) == NERR_Success) {
        run.SecretChange(change, name, L"password");
        return kExitDone;
    }
    run.Say(L"the password could not be removed");
    return kExitFailed;
}

int AutoLogonSet(CommandRun& run)
{
    const wchar_t* name = run.Argument(0);
    AccountDetails details;
    if (!RequireAccount(run, name, details, nullptr))
        return kExitNoSuchAccount;
    if ((details.flags & (kFlagAccountDisabled | kFlagLockedOut)) != 0 || details.hidden) {
        run.Say(L"a disabled, locked-out or hidden account cannot sign in automatically; nothing was changed");
        return kExitRefused;
    }
    // A dry run needs no password: without one it tells the change of
    // account, or that the password would be stored anew.
    SecretText password;
    bool given = true;
    if (run.DryRun() ? !run.ReadSecretIfGiven(password, given)
                     : !run.ReadSecret(password, L"Password of the account: ", true))
        return kExitUsage;
    const WString before = GetAutoLogonUserName();
    const bool configured = IsAutoLogonConfigured();
    if (configured && EqualsNoCase(before.Text(), name) && given && AutoLogonPasswordIs(password.Text())) {
        run.Say(L"the computer already signs in as " + Quoted(name) + L" with this password; nothing to change");
        return kExitDone;
    }
    const std::wstring text = L"automatic sign-in as " + Quoted(name);
    const std::wstring old = configured ? before.Text() : L"";
    if (run.DryRun() || SetAutoLogon(name, password.Text()) != AutoLogonResult::Failed) {
        if (configured && EqualsNoCase(before.Text(), name))
            run.SecretChange(text, L"autologon", L"password");
        else
            run.Change(text, L"autologon", L"account", old, name);
        return kExitDone;
    }
    run.Say(L"the automatic sign-in could not be set");
    return kExitFailed;
}

int AutoLogonClear(CommandRun& run)
{
    // The computer signs in automatically only as IsAutoLogonConfigured
    // says, which is what `apply` and the status read too: a name left in
    // "DefaultUserName" with the sign-in off is the welcome screen's
    // last user, nothing to clear.
    if (!IsAutoLogonConfigured()) {
        run.Say(L"no automatic sign-in is set; nothing to change");
        return kExitDone;
    }
    const WString before = GetAutoLogonUserName();
    if (run.DryRun() || SetAutoLogon(L"", nullptr) != AutoLogonResult::Failed) {
        run.Change(L"automatic sign-in cleared", L"autologon", L"account", before.Text(), L"");
        return kExitDone;
    }
    run.Say(L"the automatic sign-in could not be cleared");
    return kExitFailed;
}

int AutoLogonStatus(CommandRun& run)
{
    WString name = GetAutoLogonUserName();
    if (!AutoLogonReadable(run)) {
        // The account named is only the one it would be.
        if (run.Json()) {
            run.Document().Key("autoLogon").Null().Key("autoLogonAccount");
            name.IsEmpty() ? run.Document().Null() : run.Document().String(name.Text());
        } else {
            run.Line(L"automatic sign-in: unknown without elevation (account named: " + Shown(name.Text()) + L")");
        }
        return kExitDone;
    }
    const bool configured = IsAutoLogonConfigured();
    if (run.Json()) {
        run.Document().Field("autoLogon", configured).Key("autoLogonAccount");
        configured ? run.Document().String(name.Text()) : run.Document().Null();
    } else {
        run.Line(configured ? L"automatic sign-in as " + Shown(name.Text()) : L"no automatic sign-in");
    }
    return kExitDone;
}

// A group member as the output names it: by name, or by its SID alone
// when it resolves to nothing.
std::wstring MemberText(const GroupMember& member)
{
    return member.name.Text()[0] != L'\0' ? std::wstring(member.name.Text()) : std::wstring(member.sid.Text());
}

// The group named on the command line, or the refusal.
bool RequireGroup(CommandRun& run, const wchar_t* nameOrSid, LocalGroup& group)
{
    if (FindLocalGroup(nameOrSid, group))
        return true;
    run.Say(L"there is no local group " + Quoted(nameOrSid));
    return false;
}

int ListGroups(CommandRun& run)
{
    std::vector<LocalGroup> groups;
    if (!ReadLocalGroups(groups)) {
        run.Say(L"the local groups could not be read");
        return kExitFailed;
    }
    if (!CsvOrJsonChosen(run))
        return kExitUsage;
    if (run.Parsed().Has(L"--csv")) {
        std::vector<std::vector<std::wstring>> rows;
        for (const LocalGroup& group : groups)
            rows.push_back({group.name.Text(), group.sid.Text(), std::to_wstring(group.members.size())});
        WriteCsvTable(run, {L"name", L"sid", L"memberCount"}, rows);
        return kExitDone;
    }
    if (run.Json())
        run.Document().Key("groups").BeginArray();
    for (LocalGroup& group : groups) {
        const uint64_t count = group.members.size();
        if (run.Json())
            run.Document().BeginObject().Field("name", group.name.Text()).Field("sid", group.sid.Text())
                .Field("memberCount", count).Field("description", group.description.Text()).EndObject();
        else
            run.Line(Shown(group.name.Text()) + L"\t" + group.sid.Text() + L"\t" + std::to_wstring(count));
    }
    if (run.Json())
        run.Document().EndArray();
    return kExitDone;
}

int ShowGroup(CommandRun& run)
{
    LocalGroup group;
    if (!CsvOrJsonChosen(run))
        return kExitUsage;
    if (!RequireGroup(run, run.Argument(0), group))
        return kExitNoSuchAccount;
    if (run.Parsed().Has(L"--csv")) {
        // A member that names nothing has an empty name.
        std::vector<std::vector<std::wstring>> rows;
        for (const GroupMember& member : group.members)
            rows.push_back({group.name.Text(), member.name.Text(), member.sid.Text()});
        WriteCsvTable(run, {L"group", L"member", L"sid"}, rows);
        return kExitDone;
    }
    if (!run.Json()) {
        run.Line(Shown(group.name.Text()) + L"\t" + group.sid.Text());
        if (group.description.Text()[0] != L'\0')
            run.Line(L"description: " + Shown(group.description.Text()));
        for (const GroupMember& member : group.members)
            run.Line(L"  " + Shown(MemberText(member)) + L"\t" + member.sid.Text());
        return kExitDone;
    }
    JsonWriter& json = run.Document();
    json.Key("group").BeginObject().Field("name", group.name.Text()).Field("sid", group.sid.Text())
        .Field("description", group.description.Text());
    json.Key("members").BeginArray();
    for (const GroupMember& member : group.members) {
        json.BeginObject().Key("name");
        member.name.Text()[0] != L'\0' ? json.String(member.name.Text()) : json.Null();
        json.Field("sid", member.sid.Text()).EndObject();
    }
    json.EndArray().EndObject();
    return kExitDone;
}

// `group add` and `group remove`: every member is resolved and every guard
// passed before the first change, so that a refusal changes nothing.
int ChangeGroup(CommandRun& run, bool add)
{
    LocalGroup group;
    if (!RequireGroup(run, run.Argument(0), group))
        return kExitNoSuchAccount;
    struct Wanted {
        LocalSid sid;
        GroupMember member;
    };
    std::vector<Wanted> changes;
    std::vector<std::wstring> leaving;
    for (size_t i = 1; i < run.Parsed().arguments.size(); ++i) {
        // A member given as the group lists it (by its SID, or by the name
        // its SID resolved to) is one already, found without a lookup of
        // its own.
        const bool listedAsIs = std::any_of(group.members.begin(), group.members.end(), [&](const GroupMember& m) {
            return EqualsNoCase(m.sid.Text(), run.Argument(i)) ||
                   (m.name.Text()[0] != L'\0' && EqualsNoCase(m.name.Text(), run.Argument(i)));
        });
        if (add && listedAsIs)
            continue;
        Wanted wanted;
        if (!ResolveGroupMember(run.Argument(i), wanted.sid, wanted.member)) {
            run.Say(L"there is no account or group " + Quoted(run.Argument(i)) + L"; nothing was changed");
            return kExitNoSuchAccount;
        }
        const auto same = [&](const GroupMember& m) { return EqualsNoCase(m.sid.Text(), wanted.member.sid.Text()); };
        const bool isMember = std::any_of(group.members.begin(), group.members.end(), same);
        const bool listed = std::any_of(changes.begin(), changes.end(), [&](const Wanted& w) { return same(w.member); });
        if (isMember == add || listed)
            continue;
        if (!add && wanted.member.name.Text()[0] != L'\0')
            leaving.push_back(wanted.member.name.Text());
        changes.push_back(std::move(wanted));
    }
    if (!leaving.empty() && IsAdministratorsSid(group.sid.Text()) && RemovesLastAdministrators(leaving)) {
        run.Say(L"this would take the last administrator account of this computer that can sign in out of " +
                Quoted(group.name.Text()) + L"; nothing was changed");
        return kExitRefused;
    }
    if (changes.empty()) {
        run.Say(L"nothing to change");
        return kExitDone;
    }
    bool failed = false;
    for (Wanted& wanted : changes) {
        const std::wstring member = MemberText(wanted.member);
        const std::wstring text = Quoted(member.c_str()) + (add ? L" added to " : L" removed from ") +
                                  Quoted(group.name.Text());
        NET_API_STATUS status = run.DryRun() ? NERR_Success : ChangeGroupMembership(group.name.Text(), wanted.sid.Get(), add);
        if (status == NERR_Success) {
            run.Change(text, group.name.Text(), L"members", add ? L"" : member, add ? member : L"");
        } else if (status != ERROR_MEMBER_IN_ALIAS && status != ERROR_MEMBER_NOT_IN_ALIAS) {
            run.NotDone(text);
            if (status == ERROR_NO_SUCH_MEMBER || status == ERROR_INVALID_MEMBER)
                run.Say(Quoted(member.c_str()) + L" cannot be a member of a local group");
            failed = true;
        }
    }
    return failed ? kExitFailed : kExitDone;
}

int GroupAdd(CommandRun& run)
{
    return ChangeGroup(run, true);
}

int GroupRemove(CommandRun& run)
{
    return ChangeGroup(run, false);
}

int RenameVerb(CommandRun& run)
{
    const wchar_t* name = run.Argument(0);
    const wchar_t* newName = run.Argument(1);
    if (wcscmp(name, newName) == 0) {
        run.Say(L"the account is named " + Quoted(name) + L" already; nothing to change");
        return kExitDone;
    }
    NewAccountNameProblem problem = NewAccountNameProblem::None;
    switch (CheckAccountRename(name, newName, problem)) {
    case RenameRefusal::None: break;
    case RenameRefusal::NoSuchAccount:
        // Run again after it was done: the new name is there, the old gone.
        if (AccountExists(newName)) {
            run.Say(L"there is no account " + Quoted(name) + L" and an account " + Quoted(newName) +
                    L" exists: taken as renamed already; nothing to change");
            return kExitDone;
        }
        run.Say(L"there is no local account " + Quoted(name));
        return kExitNoSuchAccount;
    case RenameRefusal::BadName: {
        run.Say(L"the name " + Quoted(newName) + L" cannot be used: " +
                NameProblemText(problem, kMaxAccountNameLength) + L"; nothing was changed");
        return kExitRefused;
    }
    case RenameRefusal::Taken:
        run.Say(L"an account or group named " + Quoted(newName) + L" already exists; nothing was changed");
        return kExitRefused;
    }
    WString sid, profile;
    GetAccountSidAndProfile(name, sid, &profile);
    const bool signsIn = EqualsNoCase(GetAutoLogonUserName().Text(), name);
    const RenameResult result = run.DryRun() ? RenameResult::Done : RenameAccount(name, newName);
    if (result == RenameResult::Failed) {
        run.Say(L"the account could not be renamed; nothing was changed");
        return kExitFailed;
    }
    run.Change(L"account " + Quoted(name) + L" renamed to " + Quoted(newName), newName, L"name", name, newName);
    const std::wstring signIn = L"automatic sign-in follows to " + Quoted(newName);
    if (result == RenameResult::SignInNotFollowed) {
        run.NotDone(signIn);
        run.Say(L"the automatic sign-in still names " + Quoted(name) + L": set it again with \"autologon set\"");
        return kExitFailed;
    }
    if (signsIn)
        run.Change(signIn, L"autologon", L"account", name, newName);
    if (!profile.IsEmpty()) {
        const std::wstring kept = L"the profile folder keeps its name: " + Shown(Quoted(profile.Text()));
        run.Json() ? run.Say(kept) : run.Line(kept);
    }
    return kExitDone;
}

int AutoLogonSetVerb(CommandRun& run)
{
    const wchar_t* countText = run.Parsed().Value(L"--count");
    if (countText == nullptr)
        return AutoLogonSet(run);
    // Digits only, and no more sign-ins than a DWORD counts.
    wchar_t* end = nullptr;
    const unsigned long long count = wcstoull(countText, &end, 10);
    if (*countText < L'0' || *countText > L'9' || *end != L'\0' || count > 0xFFFFFFFFull) {
        run.Say(L"--count takes a number of sign-ins (0 to 4294967295)");
        return kExitUsage;
    }
    // The sign-in itself first, as `autologon set` alone sets it.
    const int set = AutoLogonSet(run);
    if (set != kExitDone)
        return set;
    DWORD before = 0;
    const bool present = ReadAutoLogonCount(before);
    if (present && before == count)
        return kExitDone;
    const std::wstring text = L"automatic sign-ins left: " + std::to_wstring(count);
    if (!run.DryRun() && !SetAutoLogonCount(static_cast<DWORD>(count))) {
        run.NotDone(text);
        run.Say(L"the number of automatic sign-ins could not be written");
        return kExitFailed;
    }
    run.Change(text, L"autologon", L"count", present ? std::to_wstring(before) : L"", std::to_wstring(count));
    return kExitDone;
}

PictureFit FitOf(const wchar_t* name)
{
    if (name != nullptr && EqualsNoCase(name, L"center"))
        return PictureFit::Center;
    if (name != nullptr && EqualsNoCase(name, L"stretch"))
        return PictureFit::Stretch;
    return PictureFit::Crop;
}

void RecordPictureChange(CommandRun& run, const wchar_t* name, const wchar_t* file)
{
    run.Change(L"picture of " + Quoted(name) + L" from " + Quoted(file), name, L"picture", L"", file);
}

// Whether `path`, named as a command line names files (relative to the
// current folder), lies on a drive of this computer; if not, the run is
// told why the file is not read.
bool IsLocalFile(CommandRun& run, const wchar_t* path)
{
    const WString full = FullPathName(path);
    if (full.Valid() && IsLocalDrivePath(full.Text()))
        return true;
    run.Say(L"the file " + Quoted(path) + L" is not on a drive of this computer (a network or device path is never "
                                          L"read); nothing was changed");
    return false;
}

int SetPicture(CommandRun& run, const wchar_t* name, const wchar_t* file, PictureFit fit)
{
    if (!IsLocalFile(run, file))
        return kExitRefused;
    GdiplusSession gdiplus;
    UniqueImage image = LoadPictureFile(file);
    if (!image) {
        run.Say(L"the picture file " + Quoted(file) + L" is not valid; nothing was changed");
        return kExitRefused;
    }
    if (AccountPictureMatches(name, file, image.Get(), fit, GetOsVersionNumber())) {
        run.Say(L"the picture of " + Quoted(name) + L" already is that one; nothing to change");
        return kExitDone;
    }
    if (run.DryRun() || SetAccountPicture(name, image.Get(), fit, GetOsVersionNumber())) {
        RecordPictureChange(run, name, file);
        return kExitDone;
    }
    run.Say(L"the picture could not be changed");
    return kExitFailed;
}

int PictureSet(CommandRun& run)
{
    AccountDetails details;
    if (!RequireAccount(run, run.Argument(0), details, nullptr))
        return kExitNoSuchAccount;
    return SetPicture(run, run.Argument(0), run.Argument(1), FitOf(run.Parsed().Value(L"--fit")));
}

int PictureDefault(CommandRun& run)
{
    AccountDetails details;
    if (!RequireAccount(run, run.Argument(0), details, nullptr))
        return kExitNoSuchAccount;
    WString file;
    if (!FindDefaultPictureFile(file)) {
        run.Say(L"the default picture " + Quoted(file.Text()) + L" is missing; nothing was changed");
        return kExitFailed;
    }
    return SetPicture(run, run.Argument(0), file.Text(), PictureFit::Crop);
}

int CreateExisting(CommandRun& run, const wchar_t* name, const AccountDetails& existing)
{
    const ParsedCommand& p = run.Parsed();
    const uint32_t type = TypeOf(p.Value(L"--type", L"standard"));
    std::wstring differences;
    if (type != existing.privilege)
        differences += std::wstring(L"its type is ") + TypeName(existing.privilege) + L", not " + TypeName(type);
    const wchar_t* fullName = p.Value(L"--full-name");
    if (fullName != nullptr && FullNameChanged(fullName, existing.fullName.Text(), name))
        differences += std::wstring(differences.empty() ? L"" : L"; ") + L"its full name is " +
                       Quoted(existing.fullName.Text()) + L", not " + Quoted(fullName);
    if (!differences.empty()) {
        run.Say(L"the account " + Quoted(name) + L" already exists with other settings: " + differences +
                L"; nothing was changed (\"set\" changes them)");
        return kExitRefused;
    }
    run.Say(L"the account " + Quoted(name) + L" already exists with these settings; nothing to change" +
            (p.Has(L"--password-stdin") || p.Has(L"--picture") ? L" (its password and picture are left as they are)"
                                                                : L""));
    return kExitDone;
}

int CreateNew(CommandRun& run)
{
    const wchar_t* name = run.Argument(0);
    const ParsedCommand& p = run.Parsed();
    NewAccountNameProblem problem = CheckNewAccountName(name);
    if (problem != NewAccountNameProblem::None) {
        run.Say(L"the name " + Quoted(name) + L" cannot be used: " + NameProblemText(problem, kMaxAccountNameLength));
        return kExitRefused;
    }
    // Every verb reads "#1001" as a RID and "S-1-..." as a SID: an account
    // so named could never be named again.
    if (name[0] == L'#' || wcsncmp(name, L"S-1-", 4) == 0) {
        run.Say(L"the name " + Quoted(name) + L" cannot be used: it reads as a RID or a SID, which name accounts "
                L"that exist");
        return kExitRefused;
    }
    if (!FullNameUsable(run))
        return kExitRefused;
    // Asked again for an account that is already there: done when it has
    // the settings asked for, refused with each difference when not.
    if (AccountDetails existing; ReadAccountDetails(name, nullptr, existing))
        return CreateExisting(run, name, existing);
    if (IsAccountNameTaken(name)) {
        run.Say(L"a group named " + Quoted(name) + L" already exists; nothing was changed");
        return kExitRefused;
    }
    SecretText password;
    if (p.Has(L"--password-stdin") &&
        (!run.ReadSecret(password, L"Password: ", true) || RefusedEmptyPassword(run, password)))
        return kExitUsage;
    const uint32_t type = TypeOf(p.Value(L"--type", L"standard"));
    const wchar_t* fullName = p.Value(L"--full-name");
    GdiplusSession gdiplus;
    WString pictureFile(p.Value(L"--picture", L""));
    if (pictureFile.IsEmpty() && !FindDefaultPictureFile(pictureFile))
        pictureFile.Clear();
    UniqueImage picture;
    if (p.Has(L"--picture") && !IsLocalFile(run, pictureFile.Text()))
        return kExitRefused;
    if (!pictureFile.IsEmpty()) {
        picture = LoadPictureFile(pictureFile.Text());
        if (!picture && p.Has(L"--picture")) {
            run.Say(L"the picture file " + Quoted(pictureFile.Text()) + L" is not valid; nothing was changed");
            return kExitRefused;
        }
    }
    const std::wstring created = std::wstring(TypeName(type)) + L" account " + Quoted(name) + L" created";
    const std::wstring withProfile = L"profile of " + Quoted(name) + L" made";
    const std::wstring pictured = L"picture of " + Quoted(name) + L" from " + Quoted(pictureFile.Text());
    if (run.DryRun()) {
        run.Change(created, name, L"account", L"absent", TypeName(type));
        run.Change(withProfile);
        if (picture)
            run.Change(pictured);
        return kExitDone;
    }
    CreateReport report;
    CreateAccount(name, fullName, type, *password.Text() != L'\0' ? password.Text() : nullptr, &report);
    password.Wipe();
    if (report.outcome == CreateOutcome::NotAdded) {
        run.Say(L"the account could not be created; nothing was changed");
        return kExitFailed;
    }
    run.Change(created, name, L"account", L"absent", TypeName(type));
    if (report.outcome == CreateOutcome::AddedWithProfile)
        run.Change(withProfile);
    else
        run.NotDone(withProfile + L" (it will be made at the account's first sign-in)");
    bool pictureSet = !picture || SetAccountPicture(name, picture.Get(), PictureFit::Crop, GetOsVersionNumber());
    if (picture)
        pictureSet ? run.Change(pictured) : run.NotDone(pictured);
    return report.outcome == CreateOutcome::AddedWithProfile && pictureSet ? kExitDone : kExitFailed;
}

int DeleteExisting(CommandRun& run)
{
    const wchar_t* name = run.Argument(0);
    WString console = ConsoleUserName();
    AccountDetails details;
    if (!ReadAccountDetails(name, console.Text(), details)) {
        run.Say(L"there is no local account " + Quoted(name) + L"; nothing to delete");
        return kExitDone;
    }
    if (details.builtin || details.console) {
        run.Say(details.builtin ? L"a built-in account cannot be deleted"
                                : L"the account signed in at the console cannot be deleted");
        return kExitRefused;
    }
    if (details.privilege == kPrivilegeAdministrator && IsLastAdministrator(name)) {
        run.Say(L"this is the last administrator account of this computer that can sign in; it stays");
        return kExitRefused;
    }
    const bool keepFiles = run.Parsed().Has(L"--keep-files");
    WString sid, profile;
    GetAccountSidAndProfile(name, sid, &profile);
    // Asked first: a refused command never says "done".
    if (!run.DryRun() && !run.Parsed().yes) {
        if (!run.HasConsoleInput()) {
            run.Say(L"deleting needs --yes when no console can answer; nothing was changed");
            return kExitUsage;
        }
        if (!run.Ask((L"Delete the account " + Quoted(name) + L"?").c_str())) {
            run.Say(L"not deleted");
            return kExitUsage;
        }
    }
    const std::wstring accountGone = L"account " + Quoted(name) + L" deleted";
    const bool folderToGo = !keepFiles && !profile.IsEmpty();
    const std::wstring folderGone = L"profile folder " + Quoted(profile.Text()) + L" deleted";
    if (run.DryRun()) {
        run.Change(accountGone, name, L"account", TypeName(details.privilege), L"absent");
        if (folderToGo)
            run.Change(folderGone, name, L"profile", profile.Text(), L"");
        return kExitDone;
    }
    AccountDeletion deletion;
    deletion.accountName = name;
    deletion.folderFlags = keepFiles ? kKeepProfileFolder : kDeleteTakeOver | kDeleteScheduleAtRestart;
    deletion.clearAutoLogon = true;
    deletion.alwaysRemoveProfileEntry = false;
    AccountDeletionReport report;
    RemoveAccount(deletion, report);
    if (!report.accountDeleted) {
        run.Say(L"the account could not be deleted; nothing was changed");
        return kExitFailed;
    }
    run.Change(accountGone, name, L"account", TypeName(details.privilege), L"absent");
    if (!folderToGo)
        return kExitDone;
    if (report.result == kDeleteScheduled) {
        run.Change(folderGone + L" at the next restart: " + std::to_wstring(report.folderTally.scheduled) +
                       L" of its entries in use wait for it, files first, then their folders",
                   name, L"profile", profile.Text(), L"");
        return kExitRestartNeeded;
    }
    if (report.folderVerdict == ProfileFolderVerdict::Missing) {
        run.Say(L"the profile folder " + Quoted(profile.Text()) + L" was already gone");
        return kExitDone;
    }
    if (report.folderVerdict != ProfileFolderVerdict::Inside && report.folderVerdict != ProfileFolderVerdict::Empty) {
        run.NotDone(folderGone + L": it was kept because it does not lie inside the profiles folder, is shared or is "
                                 L"a link");
        return kExitFailed;
    }
    if (report.folderResult == kDeleteFailed) {
        const DeleteTally& tally = report.folderTally;
        run.NotDone(folderGone + L": " + std::to_wstring(tally.failed) +
                    L" of its entries could be neither deleted nor left for the next restart" +
                    (tally.scheduled > 0 ? L" (" + std::to_wstring(tally.scheduled) + L" others wait for it)" : L""));
        return kExitFailed;
    }
    run.Change(folderGone, name, L"profile", profile.Text(), L"");
    return kExitDone;
}

// Whose personal folders a verb works on: the console user's through its
// token, as in the window; another account's in its own hive, loaded for
// the verb alone and unloaded after it, whatever came of it.
struct FolderOwner {
    WString name;
    WString profile;
    WString sid;
    UniqueToken token;
    BorrowedHive hive;

    bool Read(int index, WString& current, WString& defaultPath) const
    {
        return hive.Root() != nullptr ? ReadHiveFolderLocations(index, hive.Root(), profile.Text(), current, defaultPath)
                                      : ReadFolderLocations(index, token.Get(), current, defaultPath);
    }
};

bool RequireFolderOwner(CommandRun& run, const wchar_t* name, FolderOwner& owner)
{
    owner.token = FindConsoleUser(owner.name, &owner.profile, &owner.sid);
    if (owner.token && EqualsNoCase(owner.name.Text(), name))
        return true;
    owner.token.Reset();
    owner.name.Assign(name);
    owner.profile.Assign(L"");
    const HiveRefusal refusal = GetAccountSidAndProfile(name, owner.sid, &owner.profile)
                                    ? owner.hive.Load(owner.sid.Text(), owner.profile.Text())
                                    : HiveRefusal::NoAccount;
    if (refusal == HiveRefusal::None)
        return true;
    run.Say(std::wstring(HiveRefusalText(refusal, name).Text()) + L" Nothing was changed.");
    return false;
}

// The verb on the account's folders, the account's hive unloaded after it.
int WithFolderOwner(CommandRun& run, int (*verb)(CommandRun& run, FolderOwner& owner))
{
    FolderOwner owner;
    if (!RequireFolderOwner(run, run.Argument(0), owner))
        return kExitRefused;
    int code = verb(run, owner);
    if (!owner.hive.Unload()) {
        run.NotDone(L"the registry hive of " + Quoted(owner.name.Text()) +
                    L" stays loaded until the next restart; restart before it signs in");
        code = std::max(code, static_cast<int>(kExitFailed));
    }
    return code;
}

int ListOwnerFolders(CommandRun& run, FolderOwner& owner)
{
    if (run.Json())
        run.Document().Key("folders").BeginArray();
    for (int index : VisibleFolderRows(GetOsVersionNumber())) {
        WString current, defaultPath;
        owner.Read(index, current, defaultPath);
        if (run.Json())
            run.Document().BeginObject().Field("folder", kPersonalFolders[index].name).Field("location", current.Text())
                .Field("default", defaultPath.Text()).EndObject();
        else
            run.Line(std::wstring(kPersonalFolders[index].name) + L"\t" + Shown(current.Text()));
    }
    if (run.Json())
        run.Document().EndArray();
    return kExitDone;
}

int ListFolders(CommandRun& run)
{
    return WithFolderOwner(run, ListOwnerFolders);
}

// The move and the restore: the dialog's operation behind the same checks,
// its progress on standard error.
int RelocateFolderVerb(CommandRun& run, FolderOwner& owner, bool restore)
{
    const double osVersion = GetOsVersionNumber();
    const int index = FindPersonalFolder(run.Argument(1));
    const std::vector<int> rows = VisibleFolderRows(osVersion);
    if (index < 0 || std::find(rows.begin(), rows.end(), index) == rows.end()) {
        std::wstring names;
        for (int row : rows)
            names += (names.empty() ? L"" : L", ") + std::wstring(kPersonalFolders[row].name);
        run.Say(L"there is no personal folder " + Quoted(run.Argument(1)) + L" (there are " + names + L")");
        return kExitUsage;
    }
    const wchar_t* folderName = kPersonalFolders[index].name;
    WString current, defaultPath;
    owner.Read(index, current, defaultPath);
    WString target(restore ? defaultPath.Text() : run.Argument(2));
    if (EqualsNoCase(target.Text(), current.Text())) {
        run.Say(std::wstring(folderName) + L" is already at " + Quoted(current.Text()) + L"; nothing was changed");
        return kExitDone;
    }

    FolderRelocation request;
    request.index = index;
    request.sid = owner.sid.Text();
    request.profile = owner.profile.Text();
    request.token = owner.token.Get();
    request.hive = owner.hive.Root();
    request.current = current.Text();
    request.target = target.Text();
    request.restore = restore;
    request.moveContents = !run.Parsed().Has(L"--place-only");
    request.overwrite = run.Parsed().Has(L"--overwrite");
    request.osVersion = osVersion;
    // Every check first, so that a refusal changes nothing and asks nothing.
    request.dryRun = true;
    RelocationResult result = RelocateFolder(request);
    if (result.outcome == RelocationOutcome::Refused) {
        run.Say(std::wstring(RelocationResultText(result, restore, PlaceOnlyHint::CommandLine).Text()) +
                L" Nothing was changed.");
        return kExitRefused;
    }
    if (!run.DryRun() && !run.Parsed().yes) {
        if (!run.HasConsoleInput()) {
            run.Say(L"moving a personal folder needs --yes when no console can answer; nothing was changed");
            return kExitUsage;
        }
        if (!run.Ask((std::wstring(restore ? L"Restore " : L"Move ") + folderName + L" to " +
                      Quoted(target.Text()) + L"?").c_str())) {
            run.Say(L"not moved");
            return kExitUsage;
        }
    }
    const std::wstring place = std::wstring(folderName) + L" " + (restore ? L"restored" : L"moved") + L" from " +
                               Quoted(current.Text()) + L" to " + Quoted(target.Text());
    const std::wstring whole = place + (request.moveContents ? L" with its contents" : L"; its contents stay");
    const auto moved = [&](const std::wstring& text) {
        run.Change(text, run.Argument(0), folderName, current.Text(), target.Text());
    };
    if (run.DryRun()) {
        moved(whole);
        return kExitDone;
    }
    request.dryRun = false;
    ULONGLONG said = 0;
    request.progress = [&](const MoveProgress& progress) {
        const ULONGLONG now = GetTickCount64();
        if (!progress.measured.load() || now - said < 1000)
            return;
        said = now;
        run.Progress(MoveProgressText(progress.filesDone.load(), progress.filesTotal.load(),
                                      progress.bytesDone.load(), progress.bytesTotal.load()).Text());
    };
    result = RelocateFolder(request);
    // Only what happened is reported as done: a place set with contents
    // left behind is one change and one thing not done.
    if (result.outcome == RelocationOutcome::Done) {
        moved(whole);
    } else if (!result.placeChanged) {
        run.NotDone(whole);
    } else {
        moved(place);
        if (request.moveContents)
            run.NotDone(std::wstring(L"contents of ") + folderName + L" moved: " +
                        (result.contentsMoved ? std::to_wstring(result.notMoved) + L" entries stayed at " +
                                                    Quoted(current.Text())
                                              : std::wstring(L"none were moved")));
    }
    if (run.Json()) {
        JsonWriter& json = run.Document();
        json.Key("relocation").BeginObject().Field("folder", folderName).Field("from", current.Text())
            .Field("to", target.Text()).Field("placeChanged", result.placeChanged)
            .Field("contentsMoved", result.contentsMoved).Field("notMoved", result.notMoved).Key("left").BeginArray();
        for (const LeftEntry& entry : result.left)
            json.BeginObject().Field("path", entry.path.Text()).Field("reason", LeftReasonText(entry.reason))
                .EndObject();
        json.EndArray().EndObject();
    } else {
        for (const LeftEntry& entry : result.left)
            run.Line(L"not moved: " + Shown(entry.path.Text()) + L"\t" + LeftReasonText(entry.reason));
    }
    if (result.outcome == RelocationOutcome::Done)
        return kExitDone;
    run.Say(RelocationResultText(result, restore, PlaceOnlyHint::CommandLine).Text());
    return result.outcome == RelocationOutcome::Refused ? kExitRefused : kExitFailed;
}

int MoveFolder(CommandRun& run)
{
    return WithFolderOwner(run, [](CommandRun& run, FolderOwner& owner) { return RelocateFolderVerb(run, owner, false); });
}

int RestoreFolder(CommandRun& run)
{
    return WithFolderOwner(run, [](CommandRun& run, FolderOwner& owner) { return RelocateFolderVerb(run, owner, true); });
}

int ProfileKeys(CommandRun& run)
{
    std::vector<WString> names;
    FindCorruptedProfileKeys(names);
    const bool repair = run.Parsed().Has(L"--repair");
    if (run.Json())
        run.Document().Key("keys").BeginArray();
    for (WString& key : names) {
        if (run.Json())
            run.Document().String(key.Text());
        else if (!repair)
            run.Line(Shown(key.Text()));
    }
    if (run.Json())
        run.Document().EndArray();
    if (!repair)
        return kExitDone;
    uint32_t failed = 0;
    for (WString& key : names) {
        const std::wstring change = L"profile key " + Quoted(key.Text()) + L" repaired";
        if (run.DryRun() || RepairProfileKey(key.Text())) {
            run.Change(change);
        } else {
            run.NotDone(change);
            ++failed;
        }
    }
    if (failed == 0)
        return kExitDone;
    run.Say(std::to_wstring(failed) + L" of " + std::to_wstring(names.size()) + L" keys were not put in place");
    return kExitFailed;
}

// The account named on the command line may be repaired: it exists, is not
// the console user's (nor the temporary account) and its profile folder is
// a folder of its own inside the profiles folder: kExitDone. Says why not
// otherwise, and gives the exit code.
int RequireRepairable(CommandRun& run, const wchar_t* name, WString& sid, WString& folder)
{
    WString console = ConsoleUserName();
    AccountDetails details;
    if (!RequireAccount(run, name, details, console.Text()))
        return kExitNoSuchAccount;
    if (details.console || EqualsNoCase(name, kTempAccountName)) {
        run.Say(L"the account signed in at the console cannot be repaired from its own session");
        return kExitRefused;
    }
    WString stored;
    GetAccountSidAndProfile(name, sid, &stored);
    if (CheckProfileFolder(stored.Text(), sid.Text(), folder) != ProfileFolderVerdict::Inside) {
        run.Say(L"the profile folder " + Quoted(stored.Text()) +
                L" does not lie inside the profiles folder as a folder of this account's own: the repair would "
                L"not carry it; nothing was changed");
        return kExitRefused;
    }
    return kExitDone;
}

// The examination's findings and the mends it weighs, least invasive first.
void SayDiagnosis(CommandRun& run, const AccountExamination& exam)
{
    const ProfileDiagnosis& d = exam.diagnosis;
    const MendKind kinds[] = {MendKind::InPlace, MendKind::RebuildKeepingSettings, MendKind::RebuildFresh};
    if (run.Json()) {
        JsonWriter& json = run.Document();
        json.Key("diagnosis").BeginObject().Key("causes").BeginArray();
        for (ProfileCause cause : d.causes)
            json.BeginObject().Field("cause", ProfileCauseName(cause)).Field("text", ProfileCauseText(cause))
                .EndObject();
        json.EndArray().Field("recommended", MendKindName(d.recommended)).Field("settingsSound", d.settingsSound)
            .Field("folder", d.folder).Key("mendInPlace").BeginArray();
        for (MendAction action : d.actions)
            json.String(MendActionText(action));
        json.EndArray().Key("mends").BeginArray();
        for (MendKind kind : kinds) {
            const MendEffects effects = EffectsOf(kind);
            json.BeginObject().Field("mend", MendKindName(kind)).Field("keeps", effects.keeps)
                .Field("loses", effects.loses).Field("offered", true).EndObject();
        }
        json.EndArray().EndObject();
        return;
    }
    run.Line(L"Examination of " + Quoted(exam.account.c_str()) + L" (" + exam.sid + L")" +
             (d.folder.empty() ? std::wstring() : L", profile " + d.folder));
    if (d.causes.empty())
        run.Line(L"cause: none found");
    for (ProfileCause cause : d.causes)
        run.Line(std::wstring(L"cause: ") + ProfileCauseText(cause));
    run.Line(std::wstring(L"proposed: ") + MendKindText(d.recommended));
    for (MendKind kind : kinds) {
        const MendEffects effects = EffectsOf(kind);
        run.Line(std::wstring(L"  ") + MendKindText(kind) + L": keeps " + effects.keeps + L"; loses " + effects.loses);
    }
    for (size_t i = 0; i < d.actions.size(); ++i)
        run.Line(L"mend " + std::to_wstring(i + 1) + L". " + MendActionText(d.actions[i]));
}

int RepairPlan(CommandRun& run)
{
    const wchar_t* name = run.Argument(0);
    {
        WString console = ConsoleUserName();
        AccountDetails details;
        if (!RequireAccount(run, name, details, console.Text()))
            return kExitNoSuchAccount;
    }
    AccountExamination exam;
    std::wstring problem;
    if (!ExamineAccount(name, exam, problem)) {
        run.Say(problem);
        return kExitNoSuchAccount;
    }
    JsonWriter& json = run.Document();
    if (run.Json())
        json.Key("plan").BeginObject().Field("account", name).Field("sid", exam.sid);
    SayDiagnosis(run, exam);
    // A mend in place needs no rebuild: its steps are the plan.
    if (exam.diagnosis.recommended == MendKind::InPlace) {
        if (run.Json())
            json.EndObject();
        return kExitDone;
    }
    WString sid, folder;
    if (const int refused = RequireRepairable(run, name, sid, folder); refused != kExitDone) {
        if (run.Json())
            json.EndObject();
        return refused;
    }
    const bool keepApps = run.Parsed().Has(L"--keep-store-apps");
    const bool keepAppData = run.Parsed().Has(L"--keep-system-appdata");
    const bool keepSettings = run.Parsed().Has(L"--keep-settings");
    const bool settingsSound = exam.diagnosis.settingsSound;
    CarryCounts counts;
    CountCarryLimits(folder.Text(), sid.Text(), counts);
    std::vector<std::wstring> warnings = CarryWarnings(counts);
    // What keeping the settings will do on this profile, and why not when it cannot.
    std::wstring settings;
    if (keepSettings && settingsSound)
        settings = L"kept: the old hive " + std::wstring(HiveFindingText(exam.facts.hive)) +
                   L"; its keys are given to the new SID and it takes the fresh one's place";
    else if (keepSettings)
        settings = L"made fresh: the old hive " + std::wstring(HiveFindingText(exam.facts.hive)) +
                   L", so the rebuild uses the fresh one";
    else
        settings = L"made fresh";
    const MendEffects kept = EffectsOf(MendKind::RebuildKeepingSettings);

    if (run.Json()) {
        json.Field("profile", folder.Text()).Field("keepStoreApps", keepApps)
            .Field("keepSystemAppData", keepAppData).Field("keepSettings", keepSettings)
            .Field("keepSettingsRecommended", settingsSound).Field("settings", settings)
            .Field("oldHive", HiveFindingText(exam.facts.hive)).Key("steps").BeginArray();
    } else {
        run.Line(L"Repair of " + Quoted(name) + L" (" + sid.Text() + L"), profile " + folder.Text());
        run.Line(L"settings: " + settings);
        const MendEffects planned = EffectsOf(keepSettings && settingsSound ? MendKind::RebuildKeepingSettings
                                                                            : MendKind::RebuildFresh);
        run.Line(std::wstring(L"keeps: ") + planned.keeps);
        run.Line(std::wstring(L"loses: ") + planned.loses);
        if (settingsSound && !keepSettings)
            run.Line(L"recommended: --keep-settings, as the old hive " + std::wstring(HiveFindingText(exam.facts.hive)) +
                     L": it keeps " + kept.keeps + L"; it loses " + kept.loses);
    }
    for (uint32_t i = 0; i < kRepairStepCount; ++i) {
        std::wstring step = RepairStepName(static_cast<RepairStep>(i));
        if (static_cast<RepairStep>(i) == RepairStep::DataFolders)
            step += std::wstring(keepApps ? L" (store apps' data kept" : L" (store apps' data made fresh") +
                    (keepAppData ? L", system app data kept" : L", system app data made fresh") +
                    (keepSettings && settingsSound ? L", old hives given to the new SID)" : L")");
        if (run.Json())
            json.String(step);
        else
            run.Line(std::to_wstring(i + 1) + L". " + step);
    }
    if (run.Json()) {
        json.EndArray().Key("cannotCarry").BeginObject().Field("encryptedFiles", counts.encryptedFiles)
            .Field("dataProtectionKeys", counts.masterKeys).Field("fileTypeChoicesReset", true)
            .Field("complete", counts.complete).EndObject().Key("warnings").BeginArray();
        for (const std::wstring& warning : warnings)
            json.String(warning);
        json.EndArray().EndObject();
    } else {
        for (const std::wstring& warning : warnings)
            run.Line(L"warning: " + warning);
    }
    return kExitDone;
}

// The mend in place: the same account's profile-list entry and permissions
// put right, no new SID, no restart.
int RepairMend(CommandRun& run)
{
    const wchar_t* name = run.Argument(0);
    WString console = ConsoleUserName();
    AccountDetails details;
    if (!RequireAccount(run, name, details, console.Text()))
        return kExitNoSuchAccount;
    if (details.console || EqualsNoCase(name, kTempAccountName)) {
        run.Say(L"the account signed in at the console cannot be mended from its own session");
        return kExitRefused;
    }
    const RepairSite site = LocateRepairSite();
    std::wstring underWay = RepairUnderWayMessage(site.toolFolder.c_str());
    if (!underWay.empty()) {
        run.Say(underWay);
        return kExitRefused;
    }
    MendReport report;
    const bool mended = MendInPlace(site, name, run.DryRun(), report);
    for (const std::wstring& change : report.done)
        run.Change(change + L" of " + Quoted(name));
    for (const std::wstring& missed : report.notDone)
        run.NotDone(missed + L" of " + Quoted(name));
    if (!report.refusal.empty()) {
        run.Say(report.refusal + L"; nothing was changed");
        return kExitRefused;
    }
    if (mended)
        return kExitDone;
    run.Say(L"the mend did not put the profile right; what it had changed was put back");
    return kExitFailed;
}

// What the wizard's "Yes" does: the temporary account, the tool folder, the
// start-up of the fix run and the reboot into it.
int RepairSchedule(CommandRun& run)
{
    // The program as it started, held from here on: the copy the fix run
    // starts from is made from this handle, never from the name read again.
    const UniqueFileHandle program = OpenRunningImage();
    const wchar_t* name = run.Argument(0);
    WString sid, folder;
    if (const int refused = RequireRepairable(run, name, sid, folder); refused != kExitDone)
        return refused;
    const RepairSite site = LocateRepairSite();
    std::wstring underWay = RepairUnderWayMessage(site.toolFolder.c_str());
    if (!underWay.empty()) {
        run.Say(underWay);
        return kExitRefused;
    }
    // The wizard restarts the computer right after its set-up; a command
    // could set up a second repair before that restart and replace the
    // first one's settings and start-up under it.
    const WString statePath = StateFilePath(site.toolFolder.c_str());
    const bool restart = !run.Parsed().Has(L"--no-restart");
    if (AccountExists(kTempAccountName) && GetFileAttributesW(statePath.Text()) != INVALID_FILE_ATTRIBUTES) {
        run.Say(L"a repair is already set up and waits for the restart into " + std::wstring(kTempAccountName) +
                L"; nothing was changed (the health check mends a set-up that was left behind)");
        return kExitRefused;
    }
    if (!run.DryRun() && !run.Parsed().yes) {
        if (!run.HasConsoleInput()) {
            run.Say(L"scheduling a repair restarts the computer and needs --yes when no console can answer; nothing "
                    L"was changed");
            return kExitUsage;
        }
        if (!run.Ask((restart ? L"Restart the computer now to repair " + Quoted(name) + L"?"
                              : L"Set up the repair of " + Quoted(name) + L" for the next restart?").c_str())) {
            run.Say(L"not scheduled");
            return kExitUsage;
        }
    }
    const std::wstring change =
        L"repair of " + Quoted(name) + L" scheduled: the computer restarts into the temporary account " +
        kTempAccountName + (restart ? L"" : L" at its next restart");
    if (run.DryRun()) {
        // A check mode ends 0: its 3010 would set an engine's restart off.
        run.Change(change, name, L"repair", L"none", L"scheduled");
        if (!restart) {
            run.Say(L"the run would end with 3010: the computer must then restart for the repair");
            if (run.Json())
                run.Document().Field("restartWouldFollow", true);
        }
        return kExitDone;
    }

    RepairSetupInput input;
    static_cast<RepairSite&>(input) = site;
    input.restart = restart;
    input.account = name;
    input.fixFlags = (run.Parsed().Has(L"--keep-store-apps") ? FixFlags::KeepAppPackages : 0) |
                     (run.Parsed().Has(L"--keep-system-appdata") ? FixFlags::KeepSystemAppData : 0) |
                     (run.Parsed().Has(L"--keep-settings") ? FixFlags::KeepSettings : 0);
    input.inTempAccount = EqualsNoCase(ConsoleUserName().Text(), kTempAccountName);
    input.programFile = program.Get();
    RepairSetupResult result = ScheduleRepair(input);
    if (!result.scheduled) {
        run.Say(result.message + (result.undone ? L" What the set-up had made was taken back." : L""));
        return kExitFailed;
    }
    run.Change(change, name, L"repair", L"none", L"scheduled");
    return restart ? kExitDone : kExitRestartNeeded;
}

int RepairStatus(CommandRun& run)
{
    const RepairSite site = LocateRepairSite();
    WString journalPath = JournalPath(site.toolFolder.c_str());
    RepairJournal journal;
    std::wstring problem;
    JournalRead read = ReadJournal(journalPath.Text(), journal, problem);
    std::wstring logText;
    const bool logged = ReadRepairLog(site.logPath.c_str(), logText);
    const wchar_t* state = read == JournalRead::Missing ? L"none" : read == JournalRead::Invalid ? L"invalid"
                           : journal.outcome == RepairOutcome::Running ? L"running" : L"ended";
    if (run.Json()) {
        JsonWriter& json = run.Document();
        json.Key("repair").BeginObject().Field("journal", state);
        if (read == JournalRead::Valid) {
            json.Field("account", journal.account).Field("stepsDone", journal.stepsDone)
                .Field("steps", kRepairStepCount).Field("outcome", static_cast<uint32_t>(journal.outcome));
        }
        if (read == JournalRead::Invalid)
            json.Field("problem", problem);
        json.Key("log");
        !logged ? json.Null() : json.String(logText);
        json.EndObject();
        return kExitDone;
    }
    run.Line(L"journal: " + std::wstring(state));
    if (read == JournalRead::Valid)
        run.Line(L"account: " + Shown(journal.account) + L", steps done: " + std::to_wstring(journal.stepsDone) + L" of " +
                 std::to_wstring(kRepairStepCount));
    if (read == JournalRead::Invalid)
        run.Line(L"problem: " + Shown(problem));
    if (!logged)
        run.Line(L"no log");
    // Line by line: the log's own line breaks stay, any other control goes.
    for (size_t start = 0; start < logText.size();) {
        size_t end = logText.find(L'\n', start);
        end = end == std::wstring::npos ? logText.size() : end;
        std::wstring line = logText.substr(start, end - start);
        if (!line.empty() && line.back() == L'\r')
            line.pop_back();
        run.Line(Shown(line));
        start = end + 1;
    }
    return kExitDone;
}

// A finding is named by its id, which all findings of its kind share, or
// by "id:target" for one of them.
bool NamesFinding(const std::wstring& name, const Finding& finding)
{
    return name == finding.id || name == finding.id + L":" + finding.target;
}

void WriteFinding(CommandRun& run, const Finding& finding)
{
    if (run.Json()) {
        JsonWriter& json = run.Document();
        json.BeginObject().Field("id", finding.id).Field("severity", SeverityText(finding.severity))
            .Field("summary", finding.summary).Field("target", finding.target).Key("evidence").BeginArray();
        for (const Evidence& evidence : finding.evidence)
            json.BeginObject().Field("name", evidence.name).Field("value", evidence.value).EndObject();
        json.EndArray().Field("mend", finding.mendText).Field("mendable", finding.mendable)
            .Field("safe", finding.safeToMend).EndObject();
        return;
    }
    run.Line(std::wstring(SeverityText(finding.severity)) + L"\t" + finding.id + L"\t" + Shown(finding.summary));
    for (const Evidence& evidence : finding.evidence)
        run.Line(L"    " + evidence.name + L": " + Shown(evidence.value));
    if (finding.mendable)
        run.Line(L"    mend" + std::wstring(finding.safeToMend ? L" (safe)" : L"") + L": " + finding.mendText);
}

int Doctor(CommandRun& run)
{
    const ParsedCommand& p = run.Parsed();
    const bool fixNamed = p.Has(L"--fix");
    const bool fixSafe = p.Has(L"--fix-safe");
    const bool only = p.Has(L"--only");
    if ((fixNamed || only) == p.arguments.empty()) {
        run.Say(fixNamed || only ? L"--fix and --only need the ids of the findings"
                                 : L"finding ids are taken only after --fix or --only");
        return kExitUsage;
    }
    for (const std::wstring& name : p.arguments) {
        FindingKind kind;
        if (!KindOfId(name.substr(0, name.find(L':')).c_str(), kind)) {
            run.Say(L"there is no kind of finding " + Quoted(name.c_str()));
            return kExitUsage;
        }
    }
    // Detection reads what the user may read; a mend is a change.
    if ((fixNamed || fixSafe) && !run.Elevated()) {
        run.Say(L"mending needs an elevated administrator: run it from an elevated prompt; nothing was changed");
        return kExitNeedsElevation;
    }
    HealthCheckOptions options;
    options.elevated = run.Elevated();
    std::vector<std::wstring> leftOut;
    std::vector<Finding> findings = RunHealthCheck(options, nullptr, &leftOut);
    for (const std::wstring& fact : leftOut)
        AdminFactReadable(run, fact);
    const auto named = [&](const Finding& finding) {
        for (const std::wstring& name : p.arguments)
            if (NamesFinding(name, finding))
                return true;
        return false;
    };
    // A detection limited to some findings knows nothing of the others.
    if (only)
        findings.erase(std::remove_if(findings.begin(), findings.end(), [&](const Finding& f) { return !named(f); }),
                       findings.end());
    if (run.Json())
        run.Document().Key("findings").BeginArray();
    for (const Finding& finding : findings)
        WriteFinding(run, finding);
    if (run.Json())
        run.Document().EndArray();

    // The findings a mend was asked for: the exit code speaks of them alone.
    const auto asked = [&](const Finding& finding) {
        return (fixNamed && named(finding)) || (fixSafe && finding.mendable && finding.safeToMend);
    };
    std::vector<const Finding*> chosen;
    for (const Finding& finding : findings)
        if (finding.mendable && asked(finding))
            chosen.push_back(&finding);
    for (const std::wstring& name : p.arguments) {
        bool found = false;
        for (const Finding& finding : findings)
            found = found || NamesFinding(name, finding);
        if (!found)
            run.Say(L"nothing found as " + Quoted(name.c_str()) + L"; nothing to mend");
    }
    if (!chosen.empty() && !run.DryRun() && !p.yes) {
        if (!run.HasConsoleInput()) {
            run.Say(L"mending needs --yes when no console can answer; nothing was changed");
            return kExitUsage;
        }
        if (!run.Ask((L"Mend " + std::to_wstring(chosen.size()) + L" findings?").c_str())) {
            run.Say(L"nothing was mended");
            return kExitUsage;
        }
    }
    if (run.DryRun())
        for (const Finding* finding : chosen)
            run.Change(finding->id + L" " + finding->target + L": " + finding->mendText);

    std::vector<bool> mended(findings.size(), false);
    uint32_t failed = 0;
    if (!chosen.empty() && !run.DryRun()) {
        if (run.Json())
            run.Document().Key("mended").BeginArray();
        for (const Finding* finding : chosen) {
            MendOutcome outcome = MendFinding(*finding);
            mended[finding - findings.data()] = outcome.mended;
            failed += outcome.mended ? 0 : 1;
            const std::wstring change = finding->id + L" " + finding->target + L": " + finding->mendText;
            if (outcome.mended)
                run.Change(change);
            else
                run.NotDone(change + L" (" + outcome.text + L")");
            if (run.Json())
                run.Document().BeginObject().Field("id", finding->id).Field("target", finding->target)
                    .Field("mended", outcome.mended).Field("text", outcome.text).EndObject();
        }
        if (run.Json())
            run.Document().EndArray();
    }
    if (failed > 0)
        return kExitFailed;
    for (size_t i = 0; i < findings.size(); ++i)
        if (!mended[i] && findings[i].severity != Severity::Note && (!(fixNamed || fixSafe) || asked(findings[i])))
            return kExitFound;
    return kExitDone;
}

int Help(CommandRun& run)
{
    if (run.Json())
        run.Document().Field("help", CommandHelpText());
    else
        run.Line(CommandHelpText());
    return kExitDone;
}

// What a deployment's detection rule compares: the number of the version
// resource and of the installer package.
int Version(CommandRun& run)
{
    if (run.Json())
        run.Document().Field("version", VANTRELL_VERSION_WIDE);
    else
        run.Line(VANTRELL_VERSION_WIDE);
    return kExitDone;
}

const CommandOption kListOptions[] = {{L"--sizes", false, nullptr}, {L"--csv", false, nullptr}};
// `set` takes every setting of the table as its option; filled before
// anything reads the verb table.
struct SetOptions {
    CommandOption list[kAccountSettingCount];
    SetOptions()
    {
        for (size_t i = 0; i < kAccountSettingCount; ++i)
            list[i] = kAccountSettings[i].option;
    }
} const kSetOptions;
const CommandOption kAutoLogonOptions[] = {{L"--count", true, nullptr}};
const CommandOption kPictureOptions[] = {{L"--fit", true, L"center|crop|stretch"}};
const CommandOption kCreateOptions[] = {
    {L"--full-name", true, nullptr},
    {L"--type", true, L"guest|standard|administrator"},
    {L"--password-stdin", false, nullptr},
    {L"--picture", true, nullptr},
};
const CommandOption kDeleteOptions[] = {{L"--keep-files", false, nullptr}};
const CommandOption kKeysOptions[] = {{L"--repair", false, nullptr}};
const CommandOption kRelocateOptions[] = {{L"--place-only", false, nullptr}, {L"--overwrite", false, nullptr}};
const CommandOption kDoctorOptions[] = {
    {L"--fix", false, nullptr}, {L"--fix-safe", false, nullptr}, {L"--only", false, nullptr}};
const CommandOption kPlanOptions[] = {{L"--keep-store-apps", false, nullptr},
                                      {L"--keep-system-appdata", false, nullptr},
                                      {L"--keep-settings", false, nullptr}};
const CommandOption kScheduleOptions[] = {{L"--keep-store-apps", false, nullptr},
                                          {L"--keep-system-appdata", false, nullptr},
                                          {L"--keep-settings", false, nullptr},
                                          {L"--no-restart", false, nullptr}};

const CommandOption kGroupCreateOptions[] = {{L"--description", true, nullptr}};
const CommandOption kPolicySetOptions[] = {
    {L"--min-length", true, nullptr},        {L"--max-age", true, nullptr},
    {L"--min-age", true, nullptr},           {L"--history", true, nullptr},
    {L"--lockout-threshold", true, nullptr}, {L"--lockout-duration", true, nullptr},
    {L"--lockout-window", true, nullptr}};

const CommandOption kProfilesOptions[] = {{L"--sizes", false, nullptr}, {L"--csv", false, nullptr}};
const CommandOption kCsvOptions[] = {{L"--csv", false, nullptr}};
const CommandOption kProfilesCleanOptions[] = {
    {L"--unused-for", true, nullptr}, {L"--exclude", false, nullptr}, {L"--keep-accounts", false, nullptr}};

template <size_t N>
constexpr size_t Count(const CommandOption (&)[N])
{
    return N;
}

#define OPTIONS(list) list, Count(list)

}  // namespace

const CommandVerb kCommandVerbs[] = {
    // words, arguments, min, max, options, changes, destructive; summary; elevation; function
    {{L"help", L"", 0, 0, nullptr, 0, false, false}, L"this text", false, Help},
    {{L"version", L"", 0, 0, nullptr, 0, false, false}, L"the program's version number", false, Version},
    {{L"apply", L"FILE", 1, 1, nullptr, 0, true, false},
     L"makes the accounts, groups, profile clean-up, automatic sign-in and findings what the desired-state "
     L"document FILE asks (a new automatic sign-in's password from standard input)", true, Apply},
    {{L"export", L"", 0, 0, nullptr, 0, false, false},
     L"the accounts and the automatic sign-in as a desired-state document for apply", true, Export},
    {{L"list", L"", 0, 0, OPTIONS(kListOptions), false, false},
     L"every local account with its type, SID, flags, picture and profile (--sizes: profile sizes)", false,
     ListAccounts},
    {{L"show", L"NAME", 1, 1, nullptr, 0, false, false}, L"one account as the list shows it, with its details and the local groups it is a member of", false,
     ShowAccount},
    {{L"set", L"NAME", 1, 1, OPTIONS(kSetOptions.list), true, false},
     L"full name, type, status, lock-out, password flags, welcome-screen visibility, description, expiry "
     L"(--expires YYYY-MM-DD|never) and whether the password must change at the next sign-in", true, SetAccount},
    {{L"password set", L"NAME", 1, 1, nullptr, 0, true, false},
     L"sets the password (standard input: the new password, then the current one if any); always reported "
     L"as a change: comparing would be a sign-in, which counts toward the lock-out", true, PasswordSet},
    {{L"password reset", L"NAME", 1, 1, nullptr, 0, true, true},
     L"sets a new password without the current one (standard input or typed); the account loses its encrypted "
     L"files, saved credentials and data-protection secrets", true, PasswordReset},
    {{L"password remove", L"NAME", 1, 1, nullptr, 0, true, false},
     L"removes the password; always reported as a change, as for password set", true, PasswordRemove},
    {{L"autologon set", L"NAME", 1, 1, OPTIONS(kAutoLogonOptions), true, false},
     L"the computer signs in as NAME (password from standard input or typed); with --count only that many "
     L"times", true, AutoLogonSetVerb},
    {{L"autologon clear", L"", 0, 0, nullptr, 0, true, false}, L"no automatic sign-in", true, AutoLogonClear},
    {{L"autologon status", L"", 0, 0, nullptr, 0, false, false}, L"the account of the automatic sign-in", false,
     AutoLogonStatus},
    {{L"rename", L"NAME NEWNAME", 2, 2, nullptr, 0, true, false},
     L"renames the account (its profile folder keeps its name)", true, RenameVerb},
    {{L"groups", L"", 0, 0, OPTIONS(kCsvOptions), false, false},
     L"every local group, its SID and its member count (--csv: for a spreadsheet)", false, ListGroups},
    {{L"group show", L"GROUP", 1, 1, OPTIONS(kCsvOptions), false, false},
     L"the group's members by name and SID (by SID alone where it names nothing)", false, ShowGroup},
    {{L"group add", L"GROUP MEMBER...", 2, 32, nullptr, 0, true, false},
     L"makes each account or group a member (group and members by name or SID)", true, GroupAdd},
    {{L"group remove", L"GROUP MEMBER...", 2, 32, nullptr, 0, true, false},
     L"takes each member out of the group (a deleted account's by its SID)", true, GroupRemove},
    {{L"group create", L"NEWGROUP", 1, 1, OPTIONS(kGroupCreateOptions), true, false},
     L"a new local group (--description TEXT); unchanged when it exists", true, GroupCreate},
    {{L"group delete", L"GROUP", 1, 1, nullptr, 0, true, true},
     L"deletes a local group made on this computer (by name or SID; never one of the system's own): its members "
     L"lose the membership, and its SID is never made again", true, GroupDelete},
    {{L"group rename", L"GROUP NEWNAME", 2, 2, nullptr, 0, true, false},
     L"renames a local group made on this computer (never one of the system's own)", true, GroupRename},
    {{L"group set", L"GROUP", 1, 1, OPTIONS(kGroupCreateOptions), true, false},
     L"the group's description (--description TEXT, "" for none)", true, GroupSet},
    {{L"policy", L"", 0, 0, OPTIONS(kCsvOptions), false, false},
     L"the password and lock-out policy (--csv: for a spreadsheet)", false, ShowPolicy},
    {{L"policy set", L"", 0, 0, OPTIONS(kPolicySetOptions), true, false},
     L"changes the password and lock-out policy: --min-length N, --max-age DAYS|unlimited, --min-age DAYS, "
     L"--history N, --lockout-threshold N (0: never), --lockout-duration MINUTES|forever, --lockout-window MINUTES",
     true, SetPolicy},
    {{L"picture set", L"NAME FILE", 2, 2, OPTIONS(kPictureOptions), true, false},
     L"the account's picture from a file (unchanged when the stored picture already is the same, pixel for "
     L"pixel)", true, PictureSet},
    {{L"picture default", L"NAME", 1, 1, nullptr, 0, true, false}, L"the picture a new account gets", true,
     PictureDefault},
    {{L"create", L"NEWNAME", 1, 1, OPTIONS(kCreateOptions), true, false},
     L"a new account with its profile (password from standard input with --password-stdin)", true, CreateNew},
    {{L"delete", L"NAME", 1, 1, OPTIONS(kDeleteOptions), true, true},
     L"deletes the account and its profile folder (--keep-files keeps the folder)", true, DeleteExisting},
    {{L"folders", L"NAME", 1, 1, nullptr, 0, false, false},
     L"an account's personal folders (one not signed in is read from its hive, loaded meanwhile)", true,
     ListFolders},
    {{L"folders move", L"NAME FOLDER DESTINATION", 3, 3, OPTIONS(kRelocateOptions), true, true},
     L"moves a personal folder and its contents (--place-only: only where it points)", true, MoveFolder},
    {{L"folders restore", L"NAME FOLDER", 2, 2, OPTIONS(kRelocateOptions), true, true},
     L"moves a personal folder back to its default place", true, RestoreFolder},
    {{L"profile-keys", L"", 0, 0, OPTIONS(kKeysOptions), true, false},
     L"corrupted profile-list entries (--repair puts them right)", true, ProfileKeys},
    {{L"profiles", L"", 0, 0, OPTIONS(kProfilesOptions), false, false},
     L"every profile: SID, account, folder, last use and where it was read, loaded, special, temporary, backup, "
     L"corrupt (--sizes: folder sizes; --csv: for a spreadsheet)", false, ListProfiles},
    {{L"profiles clean", L"[NAME...]", 0, 64, OPTIONS(kProfilesCleanOptions), true, true},
     L"deletes the profiles unused for more than --unused-for DAYS that are not loaded, special or the console "
     L"user's (--exclude NAME...: keep those, by account, SID or folder name); a disabled account goes with its profile unless --keep-accounts, an "
     L"enabled one keeps its account and gets a fresh profile at its next sign-in", true, CleanProfiles},
    {{L"profiles delete", L"NAME|SID|FOLDER", 1, 1, nullptr, 0, true, true},
     L"deletes one profile, named by its account, SID (or #RID) or folder, through the clean-up's checks; its "
     L"account stays", true, DeleteOneProfile},
    {{L"repair plan", L"NAME", 1, 1, OPTIONS(kPlanOptions), false, false},
     L"why the account's profile does not load, the least invasive mend, and what a rebuild would do and could "
     L"not carry; changes nothing", true, RepairPlan},
    {{L"repair mend", L"NAME", 1, 1, nullptr, 0, true, false},
     L"puts the account's profile-list entry and permissions right when the plan proposes a mend in place: the "
     L"same account, no restart", true, RepairMend},
    {{L"repair schedule", L"NAME", 1, 1, OPTIONS(kScheduleOptions), true, true},
     L"sets the repair up as the wizard does and restarts the computer into the temporary account "
     L"(--no-restart: exit 3010, the restart is yours)", true,
     RepairSchedule},
    {{L"repair status", L"", 0, 0, nullptr, 0, false, false}, L"the journal and log of the last repair", false,
     RepairStatus},
    {{L"doctor", L"[ID...]", 0, 32, OPTIONS(kDoctorOptions), true, true},
     L"the health check's findings; exit 1 with a problem or risk (--only ID...: only those; --fix ID...: mend "
     L"those; --fix-safe: the safe ones; a mend exits by the findings it was asked to mend)", false, Doctor},
};
const size_t kCommandVerbCount = sizeof(kCommandVerbs) / sizeof(kCommandVerbs[0]);
