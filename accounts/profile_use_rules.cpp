#include "accounts/profile_use_rules.h"

#include "accounts/detail_rules.h"

namespace {

constexpr uint64_t kTicksPerSecond = 10000000ull;
constexpr uint64_t kTicksPerDay = kTicksPerSecond * 86400;
constexpr uint64_t kSecondsFrom1601To1970 = 11644473600ull;

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

ProfileKeep WhyProfileMustStay(const ProfileUseFacts& facts)
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
    };
    for (const Rule& rule : rules)
        if (rule.holds)
            return rule.keep;
    return ProfileKeep::None;
}

ProfileKeep WhyProfileStays(const ProfileUseFacts& facts, uint64_t now, uint32_t days)
{
    const ProfileKeep always = WhyProfileMustStay(facts);
    if (always != ProfileKeep::None)
        return always;
    if (facts.source == LastUseSource::Unknown || facts.lastUse == 0)
        return ProfileKeep::UseUnknown;
    if (days == 0 || facts.lastUse > now || now - facts.lastUse <= days * kTicksPerDay)
        return ProfileKeep::Recent;
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

const wchar_t* LastUseSourceText(LastUseSource source)
{
    switch (source) {
    case LastUseSource::ProfileList: return L"profile list";
    case LastUseSource::HiveFile: return L"hive file";
    case LastUseSource::Unknown: break;
    }
    return L"unknown";
}

std::vector<const wchar_t*> ProfileFlagNames(const ProfileUseFacts& facts)
{
    struct Flag {
        bool set;
        const wchar_t* name;
    } const flags[] = {{facts.loaded, L"loaded"},       {facts.special, L"special"}, {facts.temporary, L"temporary"},
                       {facts.backup, L"backup"},       {facts.corrupt, L"corrupt"}};
    std::vector<const wchar_t*> names;
    for (const Flag& flag : flags)
        if (flag.set)
            names.push_back(flag.name);
    return names;
}

std::wstring LastUseText(uint64_t ticks)
{
    const uint64_t seconds = ticks / kTicksPerSecond;
    // Before 1970 or after 2105 the account database's clock has no word for it.
    if (ticks == 0 || seconds < kSecondsFrom1601To1970 || seconds - kSecondsFrom1601To1970 > 0xFFFFFFFFull)
        return L"";
    return DateTimeText(static_cast<uint32_t>(seconds - kSecondsFrom1601To1970));
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
