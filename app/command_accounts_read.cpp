// The verbs that read accounts: `list` and `show`.
#include <windows.h>

#include <cstring>
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
#include "app/setting_changes.h"
#include "platform/files.h"
#include "platform/handles.h"
#include "platform/system.h"
#include "platform/text_win.h"
#include "platform/token.h"

namespace {

// What the list and `show` tell of one account: what the settings panel
// shows, with the SID, profile and picture the operations look up.
struct ListedAccount {
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

bool ReadFacts(const wchar_t* name, const wchar_t* consoleUser, ListedAccount& facts)
{
    facts.name.Assign(name);
    if (!ReadAccountDetails(name, consoleUser, facts.details))
        return false;
    GetAccountSidAndProfile(name, facts.sid, &facts.profile);
    if (!FindAccountPicture(name, facts.picture, GetOsVersionNumber()))
        facts.picture.Clear();
    return true;
}

// One column's value for one account: its text as the CSV table and the
// lines of `show` give it (empty when not known), and its kind in a document.
struct Cell {
    enum class Kind { Text, YesNo, Number } kind;
    bool known;
    std::wstring text;
    uint64_t number = 0;
};

Cell CellOf(ListedAccount& facts, const AccountSettingValues& values, const AccountColumn& column)
{
    const AccountDetails& d = facts.details;
    const auto text = [](const wchar_t* value, bool known) {
        return Cell{Cell::Kind::Text, known, known ? value : L""};
    };
    const auto yesNo = [](bool yes, bool known) {
        return Cell{Cell::Kind::YesNo, known, !known ? L"" : yes ? L"yes" : L"no"};
    };
    switch (column.fact) {
    case AccountFact::Setting: {
        const bool known = column.setting != &SettingRow(SettingId::Hidden) || facts.hiddenKnown;
        return Cell{column.setting->isBool ? Cell::Kind::YesNo : Cell::Kind::Text, known,
                    known ? column.setting->read(values) : L""};
    }
    case AccountFact::Name: return text(facts.name.Text(), true);
    case AccountFact::TypeText: return text(d.typeText.Text(), true);
    case AccountFact::Sid: return text(facts.sid.Text(), true);
    case AccountFact::AutoLogon: return yesNo(d.autoLogon, facts.autoLogonKnown);
    case AccountFact::Builtin: return yesNo(d.builtin, true);
    case AccountFact::Console: return yesNo(d.console, true);
    case AccountFact::Picture: return text(facts.picture.Text(), !facts.picture.IsEmpty());
    case AccountFact::Profile: return text(facts.profile.Text(), !facts.profile.IsEmpty());
    case AccountFact::SizeBytes:
        return Cell{Cell::Kind::Number, facts.sized, facts.sized ? std::to_wstring(facts.sizeBytes) : L"",
                    facts.sizeBytes};
    }
    return text(L"", false);
}

// The columns written: the sizes only when asked for, and in a table or
// lines only those that are not the document's alone.
bool Written(const AccountColumn& column, bool sizes, bool document)
{
    return (sizes || column.fact != AccountFact::SizeBytes) && (document || !column.documentOnly);
}

void WriteFactsJson(JsonWriter& json, ListedAccount& facts, bool sizes)
{
    const AccountSettingValues values = SettingValuesOf(facts.details);
    json.BeginObject();
    for (const AccountColumn& column : kAccountColumns) {
        if (!Written(column, sizes, true))
            continue;
        const Cell cell = CellOf(facts, values, column);
        json.Key(column.name);
        if (!cell.known)
            json.Null();
        else if (cell.kind == Cell::Kind::YesNo)
            json.Bool(cell.text == L"yes");
        else if (cell.kind == Cell::Kind::Number)
            json.Unsigned(cell.number);
        else
            json.String(cell.text);
    }
    json.EndObject();
}

std::vector<std::wstring> FactsFields(ListedAccount& facts, bool sizes)
{
    const AccountSettingValues values = SettingValuesOf(facts.details);
    std::vector<std::wstring> fields;
    for (const AccountColumn& column : kAccountColumns)
        if (Written(column, sizes, false))
            fields.push_back(CellOf(facts, values, column).text);
    return fields;
}

std::vector<std::wstring> FieldNames(bool sizes)
{
    std::vector<std::wstring> names;
    for (const AccountColumn& column : kAccountColumns)
        if (Written(column, sizes, false))
            names.emplace_back(column.name, column.name + strlen(column.name));
    return names;
}

// Sizes are measured on a worker, as the window's measurement is, so that
// a slow disk never holds the enumeration up between accounts.
struct SizeJob {
    std::vector<ListedAccount>* accounts;
    const wchar_t* onlySid;   // a standard user measures its own profile only; null: every one
};

DWORD WINAPI MeasureWorker(void* parameter)
{
    auto* job = static_cast<SizeJob*>(parameter);
    for (ListedAccount& facts : *job->accounts) {
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
    if (!ReadAccountSummaries(console.Text(), summaries)) {
        run.Say(L"the accounts could not be read");
        return kExitFailed;
    }
    std::vector<const wchar_t*> accountNames;
    for (const AccountSummary& summary : summaries)
        accountNames.push_back(summary.name.Text());
    std::vector<WString> pictures;
    FindAccountPictures(accountNames, pictures, GetOsVersionNumber());
    std::vector<ListedAccount> accounts(summaries.size());
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
        for (ListedAccount& facts : accounts)
            WriteFactsJson(run.Document(), facts, sizes);
        run.Document().EndArray();
        return kExitDone;
    }
    if (csv) {
        std::vector<std::vector<std::wstring>> rows;
        for (ListedAccount& facts : accounts)
            rows.push_back(FactsFields(facts, sizes));
        WriteCsvTable(run, FieldNames(sizes), rows);
        return kExitDone;
    }
    for (ListedAccount& facts : accounts) {
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
    ListedAccount facts;
    if (!ReadFacts(run.Argument(0), console.Text(), facts)) {
        run.Say(L"there is no local account " + Quoted(run.Argument(0)));
        return kExitNoSuchAccount;
    }
    facts.autoLogonKnown = AutoLogonReadable(run);
    facts.hiddenKnown = AdminFactReadable(run, L"hidden");
    // The local groups the account is a member of itself (not through
    // another group's membership), by name and SID.
    std::vector<LocalGroup> memberOf;
    const bool groupsRead = ReadAccountGroups(facts.sid.Text(), memberOf);
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
    const std::vector<std::wstring> fields = FieldNames(false), values = FactsFields(facts, false);
    for (size_t i = 0; i < values.size(); ++i)
        run.Line(fields[i] + L": " + Shown(values[i]));
    ShowDetails(run, facts.details);
    std::wstring names;
    for (const LocalGroup& group : memberOf)
        names += (names.empty() ? L"" : L", ") + Shown(group.name.Text());
    run.Line(L"groups: " + (groupsRead ? names : L"?"));
    return kExitDone;
}
