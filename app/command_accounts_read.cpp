// The verbs that read accounts: `list` and `show`.
#include <windows.h>

#include <ctime>
#include <string>
#include <vector>

#include "accounts/account_list.h"
#include "accounts/account_rules.h"
#include "accounts/detail_rules.h"
#include "accounts/groups.h"
#include "accounts/lookup.h"
#include "accounts/personal_folder_rules.h"
#include "accounts/pictures.h"
#include "app/account_setting_rules.h"
#include "app/command_families.h"
#include "app/command_mode.h"
#include "platform/files.h"
#include "platform/handles.h"
#include "platform/system.h"
#include "platform/text_win.h"
#include "platform/token.h"

namespace {

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

}  // namespace

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
