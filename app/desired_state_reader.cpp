#include "app/desired_state_reader.h"

#include <cstring>
#include <unordered_set>

#include "accounts/password_policy_rules.h"
#include "app/account_setting_rules.h"
#include "app/command_rules.h"
#include "platform/text.h"

namespace {

bool Wrong(std::wstring& error, const std::wstring& text)
{
    error = text;
    return false;
}

// An option's choices as a sentence lists them: "a, b, c".
std::wstring ChoicesText(const wchar_t* choices)
{
    std::wstring text;
    for (const wchar_t* c = choices; *c != L'\0'; ++c)
        *c == L'|' ? text += L", " : text += *c;
    return text;
}

// Names met so far, letter case aside as SameWord compares them: one
// look-up each, so that a list of any length is checked in one pass.
class SeenNames {
public:
    // False when the name was met before.
    bool Add(const std::wstring& name)
    {
        std::wstring folded(name);
        for (wchar_t& c : folded)
            c = FoldCase(c);
        return seen_.insert(std::move(folded)).second;
    }

private:
    std::unordered_set<std::wstring> seen_;
};

// A list of names, none empty, none twice (letter case aside) in `seen`.
bool ReadNames(const JsonValue& value, const wchar_t* what, std::vector<std::wstring>& names, SeenNames& seen,
               std::wstring& error)
{
    if (value.kind != JsonValue::Kind::Array)
        return Wrong(error, std::wstring(L"\"") + what + L"\" is a list of members");
    for (const JsonValue& item : value.items) {
        if (item.kind != JsonValue::Kind::String || item.text.empty())
            return Wrong(error, std::wstring(L"\"") + what + L"\" is a list of members");
        if (!seen.Add(item.text))
            return Wrong(error, L"member \"" + item.text + L"\" is named twice");
        names.push_back(item.text);
    }
    return true;
}

bool ReadDesiredGroup(const JsonValue& item, DesiredGroup& group, std::wstring& error)
{
    const JsonValue* name = item.kind == JsonValue::Kind::Object ? item.Member(L"group") : nullptr;
    if (name == nullptr || name->kind != JsonValue::Kind::String || name->text.empty())
        return Wrong(error, L"each of \"groups\" names its \"group\"");
    group.group = name->text;
    SeenNames seen;
    for (const auto& member : item.members) {
        if (member.first == L"group")
            continue;
        if (member.first == L"members" || member.first == L"absent" || member.first == L"exactMembers") {
            // The whole membership stands alone: nothing to add to it or take from it.
            if (group.exact || (member.first == L"exactMembers" && (!group.members.empty() || !group.absent.empty())))
                return Wrong(error, L"group \"" + group.group + L"\": exactMembers lists every member, without "
                                    L"members or absent");
            group.exact = member.first == L"exactMembers";
            if (!ReadNames(member.second, member.first.c_str(),
                           member.first == L"absent" ? group.absent : group.members, seen, error))
                return false;
        } else if (member.first == L"description") {
            if (member.second.kind != JsonValue::Kind::String)
                return Wrong(error, L"group \"" + group.group + L"\": description is a text");
            group.descriptionGiven = true;
            group.description = member.second.text;
        } else if (member.first == L"present") {
            if (member.second.kind != JsonValue::Kind::Bool)
                return Wrong(error, L"group \"" + group.group + L"\": present is true or false");
            group.present = member.second.boolean;
        } else {
            return Wrong(error, L"group \"" + group.group + L"\" has no member \"" + member.first + L"\"");
        }
    }
    if (!group.present && (group.exact || !group.members.empty() || group.descriptionGiven))
        return Wrong(error, L"group \"" + group.group + L"\" is to be absent: it takes no members or description");
    return true;
}

bool ReadDesiredPolicy(const JsonValue& value, DesiredPolicy& policy, std::wstring& error)
{
    if (value.kind != JsonValue::Kind::Object)
        return Wrong(error, L"\"policy\" is an object of the password and lock-out settings");
    policy.given = true;
    for (const auto& member : value.members) {
        size_t index = 0;
        while (index < std::size(kPolicySettings) &&
               member.first != std::wstring(kPolicySettings[index].member,
                                             kPolicySettings[index].member + strlen(kPolicySettings[index].member)))
            ++index;
        if (index == std::size(kPolicySettings))
            return Wrong(error, L"\"policy\" has no member \"" + member.first + L"\"");
        const PolicySetting& setting = kPolicySettings[index];
        const JsonValue& item = member.second;
        std::wstring text = item.kind == JsonValue::Kind::String ? item.text : L"";
        if (item.kind == JsonValue::Kind::Number && item.number >= 0 && item.number < 1e9 &&
            item.number == static_cast<double>(static_cast<uint32_t>(item.number)))
            text = std::to_wstring(static_cast<uint32_t>(item.number));
        uint32_t kept = 0;
        if (!ParsePolicyValue(setting, text.c_str(), kept))
            return Wrong(error, L"policy: " + member.first + L" takes " + PolicyRangeText(setting));
        policy.values.emplace_back(index, kept);
    }
    return true;
}

bool ReadDesiredProfiles(const JsonValue& value, DesiredProfiles& profiles, std::wstring& error)
{
    if (value.kind != JsonValue::Kind::Object)
        return Wrong(error, L"\"profiles\" is an object with cleanUnusedForDays");
    SeenNames seen;
    for (const auto& member : value.members) {
        const JsonValue& item = member.second;
        if (member.first == L"cleanUnusedForDays") {
            if (item.kind != JsonValue::Kind::Number || item.number < 1 || item.number > 36500 ||
                item.number != static_cast<double>(static_cast<uint32_t>(item.number)))
                return Wrong(error, L"profiles: cleanUnusedForDays is a whole number of days from 1 to 36500");
            profiles.unusedForDays = static_cast<uint32_t>(item.number);
        } else if (member.first == L"exclude") {
            if (!ReadNames(item, L"exclude", profiles.exclude, seen, error))
                return false;
        } else if (member.first == L"keepAccounts") {
            if (item.kind != JsonValue::Kind::Bool)
                return Wrong(error, L"profiles: keepAccounts is true or false");
            profiles.keepAccounts = item.boolean;
        } else {
            return Wrong(error, L"profiles: there is no member \"" + member.first + L"\"");
        }
    }
    if (profiles.unusedForDays == 0)
        return Wrong(error, L"profiles: cleanUnusedForDays is missing");
    profiles.given = true;
    return true;
}

bool ReadDesiredAccount(const JsonValue& item, DesiredAccount& account, std::wstring& error)
{
    if (item.kind != JsonValue::Kind::Object)
        return Wrong(error, L"each of \"accounts\" is an object");
    const JsonValue* name = item.Member(L"name");
    if (name == nullptr || name->kind != JsonValue::Kind::String || name->text.empty())
        return Wrong(error, L"each account needs a \"name\"");
    account.name = name->text;
    const std::wstring where = L"account \"" + account.name + L"\": ";
    for (const auto& member : item.members) {
        const JsonValue& value = member.second;
        if (member.first == L"name")
            continue;
        if (member.first == L"present" || member.first == L"keepFiles") {
            if (value.kind != JsonValue::Kind::Bool)
                return Wrong(error, where + member.first + L" is true or false");
            (member.first == L"present" ? account.present : account.keepFiles) = value.boolean;
            continue;
        }
        if (member.first == L"picture") {
            if (value.kind != JsonValue::Kind::String || value.text.empty())
                return Wrong(error, where + L"picture is a file's path");
            account.picture = value.text;
            continue;
        }
        const AccountSetting* setting = FindSettingMember(member.first);
        if (setting == nullptr)
            return Wrong(error, where + L"there is no member \"" + member.first + L"\"");
        if (setting->isBool) {
            if (value.kind != JsonValue::Kind::Bool)
                return Wrong(error, where + member.first + L" is true or false");
            account.settings.push_back({setting, value.boolean ? L"yes" : L"no"});
            continue;
        }
        if (value.kind != JsonValue::Kind::String)
            return Wrong(error, where + member.first + L" is a text");
        if (setting->option.choices != nullptr && !InChoices(setting->option.choices, value.text))
            return Wrong(error, where + member.first + L" is one of " + ChoicesText(setting->option.choices));
        // A text with a control character is refused later, as `set` refuses it.
        AccountSettingValues scratch;
        if (setting == &SettingRow(SettingId::Expires) && !setting->write(scratch, value.text.c_str()))
            return Wrong(error, where + member.first + L" is a date (YYYY-MM-DD, or YYYY-MM-DDTHH:MM:SSZ) or never");
        account.settings.push_back({setting, value.text});
    }
    if (!account.present && (!account.settings.empty() || !account.picture.empty()))
        return Wrong(error, where + L"an absent account has no settings");
    return true;
}

}  // namespace

bool ReadDesiredState(const JsonValue& document, DesiredState& state, std::wstring& error)
{
    state = DesiredState();
    if (document.kind != JsonValue::Kind::Object)
        return Wrong(error, L"the document is not a JSON object");
    const JsonValue* version = document.Member(L"schemaVersion");
    if (version == nullptr || version->kind != JsonValue::Kind::Number || version->number != kCommandSchemaVersion)
        return Wrong(error, L"the document's schemaVersion is not " + std::to_wstring(kCommandSchemaVersion));
    for (const auto& member : document.members) {
        const JsonValue& value = member.second;
        if (member.first == L"schemaVersion") {
            continue;
        } else if (member.first == L"accounts") {
            if (value.kind != JsonValue::Kind::Array)
                return Wrong(error, L"\"accounts\" is a list");
            SeenNames seen;
            for (const JsonValue& item : value.items) {
                DesiredAccount account;
                if (!ReadDesiredAccount(item, account, error))
                    return false;
                if (!seen.Add(account.name))
                    return Wrong(error, L"account \"" + account.name + L"\" is named twice");
                state.accounts.push_back(std::move(account));
            }
        } else if (member.first == L"groups") {
            if (value.kind != JsonValue::Kind::Array)
                return Wrong(error, L"\"groups\" is a list");
            SeenNames seen;
            for (const JsonValue& item : value.items) {
                DesiredGroup group;
                if (!ReadDesiredGroup(item, group, error))
                    return false;
                if (!seen.Add(group.group))
                    return Wrong(error, L"group \"" + group.group + L"\" is named twice");
                state.groups.push_back(std::move(group));
            }
        } else if (member.first == L"policy") {
            if (!ReadDesiredPolicy(value, state.policy, error))
                return false;
        } else if (member.first == L"profiles") {
            if (!ReadDesiredProfiles(value, state.profiles, error))
                return false;
        } else if (member.first == L"autoLogon") {
            if (value.kind != JsonValue::Kind::Null && value.kind != JsonValue::Kind::String)
                return Wrong(error, L"\"autoLogon\" is an account's name or null");
            state.autoLogonGiven = true;
            state.autoLogon = value.text;
        } else if (member.first == L"mend") {
            if (value.kind != JsonValue::Kind::Array)
                return Wrong(error, L"\"mend\" is a list of finding ids");
            for (const JsonValue& item : value.items) {
                if (item.kind != JsonValue::Kind::String || item.text.empty())
                    return Wrong(error, L"\"mend\" is a list of finding ids");
                state.mend.push_back(item.text);
            }
        } else {
            return Wrong(error, L"there is no member \"" + member.first + L"\"");
        }
    }
    return true;
}
