#include "app/apply_plan.h"

#include <map>
#include <string>
#include <vector>

#include "accounts/account_list.h"
#include "accounts/groups.h"
#include "accounts/lookup.h"
#include "accounts/password_policy.h"
#include "accounts/passwords.h"
#include "accounts/pictures.h"
#include "app/command_mode.h"
#include "app/command_policy.h"
#include "app/setting_changes.h"
#include "platform/system.h"

namespace {

// The machine's accounts, groups and automatic sign-in as a desired-state
// document that `apply` takes.
void WriteState(JsonWriter& json, std::vector<AccountSummary>& accounts, const std::vector<LocalGroup>& groups)
{
    std::vector<const wchar_t*> names;
    for (const AccountSummary& account : accounts)
        names.push_back(account.name.Text());
    std::vector<WString> pictures;
    FindAccountPictures(names, pictures, GetOsVersionNumber());
    // Portable: a built-in account by its RID, which every computer gives
    // it whatever its language calls it; the others by name. Group members
    // the same, the system's own by their well-known SIDs, and a member
    // whose SID names nothing (a deleted account's) is left out: it means
    // nothing on another computer, and nothing here.
    std::map<std::wstring, std::wstring> portable;   // SID -> what the document calls it
    for (const AccountSummary& account : accounts) {
        const std::wstring sid = account.sid.Text();
        portable[sid] = account.details.builtin && sid.rfind(L'-') != std::wstring::npos
                            ? L"#" + sid.substr(sid.rfind(L'-') + 1)
                            : std::wstring(account.name.Text());
    }
    json.BeginObject().Field("schemaVersion", kCommandSchemaVersion).Key("accounts").BeginArray();
    for (const AccountSummary& account : accounts) {
        json.BeginObject().Field("name", portable[account.sid.Text()]).Field("present", true);
        // The stored picture itself: applied back, it is the same file.
        WString& picture = pictures[&account - accounts.data()];
        if (!picture.IsEmpty())
            json.Field("picture", picture.Text());
        const AccountSettingValues values = SettingValuesOf(account.details);
        for (const AccountSetting& setting : kAccountSettings) {
            if (setting.member == nullptr)
                continue;
            const std::wstring value = setting.read(values);
            if (setting.isBool)
                json.Field(setting.member, value == L"yes");
            else
                json.Field(setting.member, value);
        }
        json.EndObject();
    }
    json.EndArray().Key("groups").BeginArray();
    // A built-in group by its well-known SID, the same in any language; one
    // made on this computer by its name, as its SID is this computer's
    // alone, with its description (a built-in group's is in the system's
    // language, and would be changed into this one's elsewhere).
    for (const LocalGroup& group : groups) {
        const bool wellKnown = IsBuiltinGroupSid(group.sid.Text());
        json.BeginObject().Field("group", wellKnown ? group.sid.Text() : group.name.Text());
        if (!wellKnown)
            json.Field("description", group.description.Text());
        json.Key("members").BeginArray();
        for (const GroupMember& member : group.members) {
            const auto own = portable.find(member.sid.Text());
            if (own != portable.end())
                json.String(own->second);
            else if (member.name.Text()[0] != L'\0')
                json.String(member.sid.Text());
        }
        json.EndArray().EndObject();
    }
    json.EndArray().Key("autoLogon");
    WString autoLogon = GetAutoLogonUserName();
    std::wstring signsIn = autoLogon.Text();
    for (const AccountSummary& account : accounts)
        if (EqualsNoCase(account.name.Text(), autoLogon.Text()))
            signsIn = portable[account.sid.Text()];
    IsAutoLogonConfigured() && !signsIn.empty() ? json.String(signsIn) : json.Null();
    PasswordPolicy policy;
    if (ReadPasswordPolicy(policy))
        WritePolicyJson(json.Key("policy"), policy);
    json.EndObject();
}

}  // namespace

int Export(CommandRun& run)
{
    WString console;
    FindConsoleUser(console, nullptr, nullptr);
    std::vector<AccountSummary> accounts;
    if (!ReadAccountSummaries(console.Text(), accounts)) {
        run.Say(L"the accounts could not be read");
        return kExitFailed;
    }
    std::vector<LocalGroup> groups;
    if (!ReadLocalGroups(groups)) {
        run.Say(L"the local groups could not be read");
        return kExitFailed;
    }
    if (run.Json()) {
        run.Document().Key("state");
        WriteState(run.Document(), accounts, groups);
        return kExitDone;
    }
    JsonWriter json;
    WriteState(json, accounts, groups);
    run.Line(std::wstring(json.Text().begin(), json.Text().end()));   // plain ASCII
    return kExitDone;
}
