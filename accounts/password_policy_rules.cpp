#include "accounts/password_policy_rules.h"

namespace {

constexpr uint32_t kDay = 86400;
constexpr uint32_t kMinute = 60;
// The longest age the account database can hold in seconds, in days.
constexpr uint32_t kLongestDays = 49710;

}  // namespace

bool PasswordPolicy::operator==(const PasswordPolicy& other) const
{
    for (const PolicySetting& setting : kPolicySettings)
        if (this->*setting.value != other.*setting.value)
            return false;
    return true;
}

// The ranges the system's own tools give: a minimum length beyond 14 is not
// taken everywhere, a history beyond 24 nowhere.
const PolicySetting kPolicySettings[7] = {
    {&PasswordPolicy::minLength, L"--min-length", "minLength", L"minimum password length", 1, 0, 14, nullptr},
    {&PasswordPolicy::maxAge, L"--max-age", "maxAgeDays", L"maximum password age (days)", kDay, 1, kLongestDays,
     L"unlimited"},
    {&PasswordPolicy::minAge, L"--min-age", "minAgeDays", L"minimum password age (days)", kDay, 0, kLongestDays - 1,
     nullptr},
    {&PasswordPolicy::history, L"--history", "history", L"passwords remembered", 1, 0, 24, nullptr},
    {&PasswordPolicy::lockoutThreshold, L"--lockout-threshold", "lockoutThreshold",
     L"lock-out after wrong passwords (0: never)", 1, 0, 999, nullptr},
    {&PasswordPolicy::lockoutDuration, L"--lockout-duration", "lockoutDurationMinutes", L"lock-out duration (minutes)",
     kMinute, 1, 99999, L"forever"},
    {&PasswordPolicy::lockoutWindow, L"--lockout-window", "lockoutWindowMinutes",
     L"wrong passwords counted over (minutes)", kMinute, 1, 99999, nullptr},
};

bool ParsePolicyValue(const PolicySetting& setting, const wchar_t* text, uint32_t& value)
{
    if (text == nullptr || *text == L'\0')
        return false;
    if (setting.forever != nullptr) {
        const wchar_t* a = text;
        const wchar_t* b = setting.forever;
        while (*a != L'\0' && *b != L'\0' && (*a | 0x20) == *b) {
            ++a;
            ++b;
        }
        if (*a == L'\0' && *b == L'\0') {
            value = kPolicyForever;
            return true;
        }
    }
    uint64_t number = 0;
    for (const wchar_t* p = text; *p != L'\0'; ++p) {
        if (*p < L'0' || *p > L'9' || p - text >= 9)
            return false;
        number = number * 10 + static_cast<uint32_t>(*p - L'0');
    }
    if (number < setting.lowest || number > setting.highest)
        return false;
    value = static_cast<uint32_t>(number * setting.unit);
    return true;
}

std::wstring PolicyValueText(const PolicySetting& setting, uint32_t value)
{
    if (value == kPolicyForever && setting.forever != nullptr)
        return setting.forever;
    return std::to_wstring(value / setting.unit);
}

std::wstring PolicyRangeText(const PolicySetting& setting)
{
    std::wstring text = L"from " + std::to_wstring(setting.lowest) + L" to " + std::to_wstring(setting.highest);
    if (setting.forever != nullptr)
        text += L", or " + std::wstring(setting.forever);
    return text;
}

const wchar_t* PolicyConflict(const PasswordPolicy& policy)
{
    if (policy.maxAge != kPolicyForever && policy.minAge >= policy.maxAge)
        return L"the minimum password age must be shorter than the maximum age";
    if (policy.lockoutDuration != kPolicyForever && policy.lockoutWindow > policy.lockoutDuration)
        return L"wrong passwords cannot be counted over longer than a lock-out lasts";
    return nullptr;
}

std::wstring PolicySummary(const PasswordPolicy& policy)
{
    std::wstring text = policy.minLength == 0 ? L"any length" : std::to_wstring(policy.minLength) + L"+ characters";
    text += policy.maxAge == kPolicyForever ? L", no expiry" : L", " + std::to_wstring(policy.maxAge / kDay) + L"-day expiry";
    text += L", history " + std::to_wstring(policy.history) + L", ";
    if (policy.lockoutThreshold == 0)
        return text + L"no lock-out";
    return text + L"lock-out after " + std::to_wstring(policy.lockoutThreshold) +
           (policy.lockoutDuration == kPolicyForever ? std::wstring(L" until unlocked")
                                                     : L" for " + std::to_wstring(policy.lockoutDuration / kMinute) +
                                                           L" min");
}
