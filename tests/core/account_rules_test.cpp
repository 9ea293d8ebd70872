#include "accounts/account_rules.h"
#include "tests/narrow.h"

#include <gtest/gtest.h>

#include <string>

namespace {

}  // namespace

TEST(AccountTypeText, NamesThePrivilegeAndMarksBuiltinAccounts)
{
    struct Case {
        uint32_t privilege;
        bool builtin;
        const char* expected;
    } cases[] = {
        {0, false, "Guest User Account"},
        {1, false, "Standard User Account"},
        {2, false, "Administrator User Account"},
        {2, true, "Builtin Administrator User Account"},
        {0, true, "Builtin Guest User Account"},
        {3, false, "User Account"},
        {0xFFFFFFFF, true, "Builtin User Account"},
    };
    for (const Case& c : cases) {
        WString text(L"left over");
        ASSERT_TRUE(BuildAccountTypeText(text, c.privilege, c.builtin));
        EXPECT_EQ(c.expected, Narrow(text.Text())) << "privilege " << c.privilege;
    }
}

TEST(AccountTypeText, BuiltinRangesOfTheListAndThePanel)
{
    EXPECT_FALSE(IsBuiltinForList(0));
    EXPECT_TRUE(IsBuiltinForList(1));
    EXPECT_TRUE(IsBuiltinForList(500));
    EXPECT_TRUE(IsBuiltinForList(999));
    EXPECT_FALSE(IsBuiltinForList(1000));
    EXPECT_TRUE(IsBuiltinForPanel(0));
    EXPECT_TRUE(IsBuiltinForPanel(999));
    EXPECT_FALSE(IsBuiltinForPanel(1000));
}

TEST(ComposeAccountFlags, BoxesSetAndClearTheirBitsOnly)
{
    const uint32_t script = 0x1, normal = 0x200;
    AccountFlagChoice none;
    EXPECT_EQ(script | normal | kFlagPasswordExpired,
              ComposeAccountFlags(script | normal | kFlagAccountDisabled | kFlagLockedOut | kFlagPasswordNotRequired |
                                      kFlagPasswordCannotChange | kFlagPasswordNeverExpires | kFlagPasswordExpired,
                                  none))
        << "the expiry bit and the bits the panel does not show pass through";

    AccountFlagChoice all;
    all.disabled = all.lockedOut = all.cannotChange = all.notRequired = all.neverExpires = true;
    EXPECT_EQ(script | kFlagAccountDisabled | kFlagLockedOut | kFlagPasswordNotRequired | kFlagPasswordCannotChange |
                  kFlagPasswordNeverExpires,
              ComposeAccountFlags(script, all));

    AccountFlagChoice onlyNeverExpires;
    onlyNeverExpires.neverExpires = true;
    EXPECT_EQ(kFlagPasswordNeverExpires, ComposeAccountFlags(kFlagAccountDisabled, onlyNeverExpires));
}
