#include "app/command_policy.h"

#include <string>
#include <vector>

#include "accounts/password_policy.h"
#include "app/command_mode.h"

void WritePolicyJson(JsonWriter& json, const PasswordPolicy& policy)
{
    json.BeginObject();
    for (const PolicySetting& setting : kPolicySettings) {
        const uint32_t value = policy.*setting.value;
        json.Key(setting.member);
        if (value == kPolicyForever && setting.forever != nullptr)
            json.String(setting.forever);
        else
            json.Unsigned(value / setting.unit);
    }
    json.EndObject();
}

int ShowPolicy(CommandRun& run)
{
    if (!CsvOrJsonChosen(run))
        return kExitUsage;
    PasswordPolicy policy;
    if (!ReadPasswordPolicy(policy)) {
        run.Say(L"the password policy could not be read");
        return kExitFailed;
    }
    if (run.Parsed().Has(L"--csv")) {
        std::vector<std::vector<std::wstring>> rows;
        for (const PolicySetting& setting : kPolicySettings) {
            const std::string member = setting.member;
            rows.push_back({std::wstring(member.begin(), member.end()), PolicyValueText(setting, policy.*setting.value)});
        }
        WriteCsvTable(run, {L"setting", L"value"}, rows);
        return kExitDone;
    }
    if (run.Json()) {
        WritePolicyJson(run.Document().Key("policy"), policy);
        return kExitDone;
    }
    for (const PolicySetting& setting : kPolicySettings)
        run.Line(std::wstring(setting.label) + L": " + PolicyValueText(setting, policy.*setting.value));
    return kExitDone;
}

int SetPolicy(CommandRun& run)
{
    PasswordPolicy current;
    if (!ReadPasswordPolicy(current)) {
        run.Say(L"the password policy could not be read; nothing was changed");
        return kExitFailed;
    }
    PasswordPolicy wanted = current;
    bool given = false;
    for (const PolicySetting& setting : kPolicySettings) {
        const wchar_t* text = run.Parsed().Value(setting.option);
        if (text == nullptr)
            continue;
        given = true;
        if (!ParsePolicyValue(setting, text, wanted.*setting.value)) {
            run.Say(std::wstring(setting.option) + L" takes " + PolicyRangeText(setting) + L"; nothing was changed");
            return kExitUsage;
        }
    }
    if (!given) {
        run.Say(L"policy set needs at least one of --min-length, --max-age, --min-age, --history, "
                L"--lockout-threshold, --lockout-duration, --lockout-window");
        return kExitUsage;
    }
    if (const wchar_t* conflict = PolicyConflict(wanted)) {
        std::wstring values;
        for (const PolicySetting& setting : kPolicySettings)
            if (setting.unit != 1)   // the times, which bind each other
                values += (values.empty() ? L"" : L", ") + std::wstring(setting.option + 2) + L" " +
                          PolicyValueText(setting, wanted.*setting.value);
        run.Say(std::wstring(conflict) + L" (" + values + L"); nothing was changed");
        return kExitUsage;
    }
    return CarryOutPolicy(run, current, wanted);
}

int CarryOutPolicy(CommandRun& run, const PasswordPolicy& current, const PasswordPolicy& wanted)
{
    std::vector<const PolicySetting*> changed;
    for (const PolicySetting& setting : kPolicySettings)
        if (wanted.*setting.value != current.*setting.value)
            changed.push_back(&setting);
    if (changed.empty()) {
        run.Say(L"nothing to change");
        return kExitDone;
    }
    const NET_API_STATUS status = run.DryRun() ? NERR_Success : WritePasswordPolicy(wanted);
    if (status != NERR_Success) {
        // The password part is written first: what of it was made is read back.
        PasswordPolicy now;
        const bool readBack = ReadPasswordPolicy(now);
        for (const PolicySetting* setting : changed) {
            const std::wstring text = std::wstring(setting->label) + L": " +
                                      PolicyValueText(*setting, wanted.*setting->value);
            if (readBack && now.*setting->value == wanted.*setting->value)
                run.Change(text);
            else
                run.NotDone(text);
        }
        run.Say(L"the policy could not be written whole");
        return kExitFailed;
    }
    for (const PolicySetting* setting : changed) {
        const std::wstring before = PolicyValueText(*setting, current.*setting->value);
        const std::wstring after = PolicyValueText(*setting, wanted.*setting->value);
        const std::string member = setting->member;
        run.Change(std::wstring(setting->label) + L": " + before + L" -> " + after, L"policy",
                   std::wstring(member.begin(), member.end()).c_str(), before, after);
    }
    return kExitDone;
}
