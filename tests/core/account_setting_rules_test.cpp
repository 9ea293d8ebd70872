#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "accounts/account_rules.h"
#include "app/account_setting_rules.h"
#include "tests/narrow.h"

namespace {

// A locked-out standard user without a full name whose password never expires.
AccountSettingValues Sample()
{
    AccountSettingValues is;
    is.flags = kFlagLockedOut | kFlagPasswordNeverExpires;
    return is;
}

}  // namespace

// Each setting of the table, as `set` and `apply` give it: the value
// written, the change told with the value before and after as the option
// spells them, and a value that is the account's already told as nothing.
TEST(PlanSettingValues, EachSettingIsWrittenComparedAndToldAsItsOption)
{
    struct Case { const wchar_t* option; const wchar_t* value; const wchar_t* text; const wchar_t* before, *after; };
    const Case cases[] = {
        {L"--full-name", L"Li Chen", L"full name of \"li\" to \"Li Chen\"", L"", L"Li Chen"},
        {L"--full-name", L"li", nullptr, nullptr, nullptr},   // an empty full name shows the name
        {L"--type", L"administrator", L"type of \"li\" to administrator", L"standard", L"administrator"},
        {L"--type", L"standard", nullptr, nullptr, nullptr},
        {L"--disabled", L"yes", L"\"li\" disabled: yes", L"no", L"yes"},
        {L"--unlock", L"", L"\"li\" locked out: no", L"yes", L"no"},
        {L"--password-cannot-change", L"yes", L"\"li\" password cannot change: yes", L"no", L"yes"},
        {L"--password-not-required", L"yes", L"\"li\" password not required: yes", L"no", L"yes"},
        {L"--password-never-expires", L"no", L"\"li\" password never expires: no", L"yes", L"no"},
        {L"--password-never-expires", L"yes", nullptr, nullptr, nullptr},
        {L"--hidden", L"yes", L"\"li\" hidden from the welcome screen", L"no", L"yes"},
        {L"--description", L"Lab", L"description of \"li\" to \"Lab\"", L"", L"Lab"},
        {L"--expires", L"2030-01-31", L"\"li\" expires: 2030-01-31", L"never", L"2030-01-31"},
        {L"--expires", L"never", nullptr, nullptr, nullptr},
        {L"--must-change-password", L"no", nullptr, nullptr, nullptr},
    };
    for (const Case& c : cases) {
        const AccountSetting* setting = FindSettingOption(c.option);
        ASSERT_NE(nullptr, setting) << Narrow(c.option);
        AccountSettingValues will;
        std::vector<SettingChange> changes;
        const AccountSetting* refused = nullptr;
        ASSERT_TRUE(PlanSettingValues(L"li", Sample(), {{setting, c.value}}, will, changes, refused)) << Narrow(c.option);
        ASSERT_EQ(c.text == nullptr ? 0u : 1u, changes.size()) << Narrow(c.option) << " " << Narrow(c.value);
        if (c.text == nullptr)
            continue;
        EXPECT_EQ(setting, changes[0].setting);
        EXPECT_EQ(std::wstring(c.text), changes[0].text);
        EXPECT_EQ(std::wstring(c.before) + L" -> " + c.after, changes[0].before + L" -> " + changes[0].after);
        if (setting->member != nullptr) {
            EXPECT_EQ(setting, FindSettingMember(std::wstring(setting->member, setting->member + strlen(setting->member))));
        }
    }
    for (uint32_t privilege : {0u, 1u, 2u, 3u})   // the type's name read back; past administrator: unknown, as standard
        EXPECT_EQ(privilege < 3 ? privilege : kPrivilegeUser, TypeOf(TypeName(privilege))) << privilege;
}

// What the table refuses, with the row that refused it (none for a
// password that must change although it never expires).
TEST(PlanSettingValues, RefusesWhatNoAccountCanHave)
{
    struct Case { const wchar_t* option; const wchar_t* value; const wchar_t* refusedBy; int exit; };
    const Case cases[] = {
        {L"--full-name", L"Li\tChen", L"--full-name", kExitRefused},
        {L"--description", L"Lab\r\nroot", L"--description", kExitUsage},
        {L"--expires", L"2030-02-30", L"--expires", kExitUsage},
        {L"--must-change-password", L"yes", nullptr, 0},
    };
    for (const Case& c : cases) {
        AccountSettingValues will;
        std::vector<SettingChange> changes;
        const AccountSetting* refused = nullptr;
        EXPECT_FALSE(PlanSettingValues(L"li", Sample(), {{FindSettingOption(c.option), c.value}}, will, changes, refused))
            << Narrow(c.option);
        EXPECT_EQ(c.refusedBy == nullptr ? nullptr : FindSettingOption(c.refusedBy), refused) << Narrow(c.option);
        if (refused != nullptr) {
            EXPECT_EQ(c.exit, refused->refusalExit) << Narrow(c.option);
        }
    }
}
