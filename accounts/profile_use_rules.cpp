#include "accounts/profile_use_rules.h"

namespace {

constexpr uint64_t kTicksPerDay = 10000000ull * 86400;

}  // namespace

uint64_t LastUseOf(uint64_t loadTime, uint64_t unloadTime, uint64_t hiveTime, LastUseSource& source)
{
    if (loadTime != 0 || unloadTime != 0) {
        source = LastUseSource::ProfileList;
        return loadTime > unloadTime ? loadTime : unloadTime;
    }
    source = hiveTime != 0 ? LastUseSource::HiveFile : LastUseSource::Unknown;
    return hiveTime;
}

ProfileKeep WhyProfileStays(const ProfileUseFacts& facts, uint64_t now, uint32_t days)
{
    struct Rule {
        bool holds;
        ProfileKeep keep;
    } const rules[] = {
        {facts.loaded, ProfileKeep::Loaded},
        {facts.special, ProfileKeep::Special},
        {facts.console, ProfileKeep::Console},
        {facts.excluded, ProfileKeep::Excluded},
        {facts.backup || facts.temporary || facts.corrupt, ProfileKeep::NotPlain},
        {facts.source == LastUseSource::Unknown || facts.lastUse == 0, ProfileKeep::UseUnknown},
        {days == 0 || facts.lastUse > now || now - facts.lastUse <= days * kTicksPerDay, ProfileKeep::Recent},
    };
    for (const Rule& rule : rules)
        if (rule.holds)
            return rule.keep;
    return ProfileKeep::None;
}

const wchar_t* ProfileKeepText(ProfileKeep keep)
{
    switch (keep) {
    case ProfileKeep::None: return L"unused";
    case ProfileKeep::Loaded: return L"loaded";
    case ProfileKeep::Special: return L"special";
    case ProfileKeep::Console: return L"the console user's";
    case ProfileKeep::Excluded: return L"excluded";
    case ProfileKeep::NotPlain: return L"backup, temporary or corrupt (profile-keys mends those)";
    case ProfileKeep::UseUnknown: return L"last use unknown";
    case ProfileKeep::Recent: return L"used recently";
    }
    return L"";
}

bool ReadDays(const wchar_t* text, uint32_t& days)
{
    if (text == nullptr || *text == L'\0')
        return false;
    uint64_t value = 0;
    for (const wchar_t* p = text; *p != L'\0'; ++p) {
        if (*p < L'0' || *p > L'9' || value > 36500)
            return false;
        value = value * 10 + static_cast<uint64_t>(*p - L'0');
    }
    if (value == 0 || value > 36500)
        return false;
    days = static_cast<uint32_t>(value);
    return true;
}
