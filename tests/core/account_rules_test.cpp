#include "accounts/account_rules.h"
#include "tests/narrow.h"

#include <gtest/gtest.h>

#include <string>
#include <tuple>

TEST(AccountTypeText, NamesThePrivilegeAndMarksBuiltinAccounts)
{
    struct { uint32_t privilege; bool builtin; const char* expected; } const cases[] = {
        {0, false, "Guest User Account"}, {2, false, "Administrator User Account"},
        {2, true, "Builtin Administrator User Account"}, {3, true, "Builtin User Account"},
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
}

// Only an administrator that can sign in counts: one disabled, locked out,
// expired or hidden from the welcome screen administers nothing.
TEST(LeavesNoAdministrator, OnlyAdministratorsThatCanSignInCount)
{
    const uint32_t now = 1000;
    const SignInState admin{kPrivilegeAdministrator}, user{kPrivilegeUser};
    SignInState disabled = admin, locked = admin, expired = admin, hidden = admin, expiresLater = admin;
    disabled.flags = kFlagAccountDisabled;
    locked.flags = kFlagLockedOut;
    expired.accountExpires = now;
    hidden.deniedInteractive = true;
    expiresLater.accountExpires = now + 1;
    struct { SignInState other, before, after; bool refused; } const cases[] = {
        {user, admin, user, true},  {user, admin, disabled, true},     {user, admin, locked, true},
        {user, admin, expired, true}, {user, admin, hidden, true},     {user, admin, expiresLater, false},
        {admin, admin, hidden, false}, {user, user, admin, false},
        {user, disabled, user, false},   // none could before: the change takes nothing away
    };
    for (const auto& c : cases)
        EXPECT_EQ(c.refused, LeavesNoAdministrator({c.other, c.before}, {c.other, c.after}, now)) << "case "
                                                                                                  << (&c - cases);
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
