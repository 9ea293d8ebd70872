#include "accounts/account_rules.h"

bool IsBuiltinForList(uint32_t userId)
{
    return userId >= 1 && userId <= 999;
}

bool IsBuiltinForPanel(uint32_t userId)
{
    return userId < 1000;
}

bool BuildAccountTypeText(WString& text, uint32_t privilege, bool builtin)
{
    static const wchar_t* const kWords[] = {L"Guest ", L"Standard ", L"Administrator "};
    const wchar_t* word = privilege < 3 ? kWords[privilege] : L"";
    text.Clear();
    return text.Append(builtin ? L"Builtin " : L"", word, L"User Account");
}

uint32_t ComposeAccountFlags(uint32_t stored, const AccountFlagChoice& choice)
{
    struct Box {
        bool checked;
        uint32_t flag;
    } const boxes[] = {
        {choice.disabled, kFlagAccountDisabled},
        {choice.lockedOut, kFlagLockedOut},
        {choice.cannotChange, kFlagPasswordCannotChange},
        {choice.notRequired, kFlagPasswordNotRequired},
        {choice.neverExpires, kFlagPasswordNeverExpires},
    };
    uint32_t flags = stored;
    for (const Box& box : boxes)
        flags = box.checked ? (flags | box.flag) : (flags & ~box.flag);
    return flags;
}

bool CanSignInAsAdministrator(const SignInState& account, uint32_t now)
{
    return account.privilege == kPrivilegeAdministrator &&
           (account.flags & (kFlagAccountDisabled | kFlagLockedOut)) == 0 && account.accountExpires > now &&
           !account.deniedInteractive;
}

bool LeavesNoAdministrator(const std::vector<SignInState>& before, const std::vector<SignInState>& after,
                           uint32_t now)
{
    const auto any = [now](const std::vector<SignInState>& accounts) {
        for (const SignInState& account : accounts)
            if (CanSignInAsAdministrator(account, now))
                return true;
        return false;
    };
    return any(before) && !any(after);
}

bool FullNameChanged(const wchar_t* shown, const wchar_t* storedFullName, const wchar_t* accountName)
{
    const wchar_t* text = shown != nullptr ? shown : L"";
    const wchar_t* stored = storedFullName != nullptr ? storedFullName : L"";
    if (*stored == L'\0' && (*text == L'\0' || CompareText(text, accountName, true) == 0))
        return false;
    return !EqualsNoCase(text, stored);
}
