#include "accounts/account_rules.h"
#include "tests/narrow.h"

#include <gtest/gtest.h>

#include <string>
#include <tuple>

TEST(AccountTypeText, NamesThePrivilegeAndMarksBuiltinAccounts)
{
    struct { uint32_t privilege; bool builtin; const char* expected; } const cases[] = {
        {0, false, "Guest User Account"}, {2, false, "Administrator User Account"},
        {2, true, "Builtin Administrator User Account"}, {3, false, "User Account"},
        {0xFFFFFFFF, true, "Builtin User Account"},
    };
    for (const auto& c : cases) {
        WString text(L"left over");
        ASSERT_TRUE(BuildAccountTypeText(text, c.privilege, c.builtin));
        EXPECT_EQ(c.expected, Narrow(text.Text())) << "privilege " << c.privilege;
    }
}

TEST(AccountTypeText, BuiltinRangesOfTheListAndThePanel)
{
    for (auto [rid, list, panel] : {std::tuple{0u, false, true}, std::tuple{1u, true, true},
                                    std::tuple{999u, true, true}, std::tuple{1000u, false, false}}) {
        EXPECT_EQ(list, IsBuiltinForList(rid)) << rid;
        EXPECT_EQ(panel, IsBuiltinForPanel(rid)) << rid;
    }
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

TEST(DemotesLastAdministrator, OnlyTheLastEnabledAdministratorLeavingTheGroup)
{
    struct { uint32_t current; bool enabled; uint32_t wanted; uint32_t others; bool refused; } const cases[] = {
        {kPrivilegeAdministrator, true, kPrivilegeUser, 0, true},
        {kPrivilegeAdministrator, true, kPrivilegeAdministrator, 0, false},
        {kPrivilegeAdministrator, true, kPrivilegeUser, 1, false},
        {kPrivilegeAdministrator, false, kPrivilegeUser, 0, false},   // a disabled one administers nothing
        {kPrivilegeUser, true, kPrivilegeGuest, 0, false},
    };
    for (const auto& c : cases)
        EXPECT_EQ(c.refused, DemotesLastAdministrator(c.current, c.enabled, c.wanted, c.others))
            << c.current << " enabled " << c.enabled << " to " << c.wanted << " with " << c.others << " others";
}

// The display field shows the account name when the full name is empty.
TEST(FullNameChanged, TheShownAccountNameIsNoFullName)
{
    struct { const wchar_t* shown; const wchar_t* stored; const wchar_t* account; bool changed; } const cases[] = {
        {L"lchen", L"", L"lchen", false}, {L"Li Chen", L"", L"lchen", true},
        {L"LCHEN", L"", L"lchen", true},          // typed differently: the operator's choice
        {L"JAMES OKAFOR", L"James Okafor", L"jokafor", false}, {L"Jim Okafor", L"James Okafor", L"jokafor", true},
        {L"jokafor", L"James Okafor", L"jokafor", true}, {L"", L"James Okafor", L"jokafor", true},
        {nullptr, nullptr, L"x", false},
    };
    for (const auto& c : cases)
        EXPECT_EQ(c.changed, FullNameChanged(c.shown, c.stored, c.account))
            << (c.shown ? "shown set" : "shown null") << " case " << (&c - cases);
}
