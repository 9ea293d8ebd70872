#include <windows.h>
#include <lm.h>

#include "accounts/account_lifecycle.h"
#include "accounts/lookup.h"
#include "accounts/passwords.h"
#include "platform/machine.h"

RenameRefusal CheckAccountRename(const wchar_t* accountName, const wchar_t* newName, NewAccountNameProblem& problem)
{
    problem = NewAccountNameProblem::None;
    if (!AccountExists(accountName))
        return RenameRefusal::NoSuchAccount;
    problem = CheckNewAccountName(newName);
    if (problem != NewAccountNameProblem::None)
        return RenameRefusal::BadName;
    // Another letter case of its own name is no other account's.
    if (!EqualsNoCase(accountName, newName) && IsAccountNameTaken(newName))
        return RenameRefusal::Taken;
    return RenameRefusal::None;
}

RenameResult RenameAccount(const wchar_t* accountName, const wchar_t* newName)
{
    const bool signsIn = EqualsNoCase(GetAutoLogonUserName().Text(), accountName);
    USER_INFO_0 info{const_cast<LPWSTR>(newName)};
    if (machine::NetUserSetInfo(nullptr, accountName, 0, reinterpret_cast<LPBYTE>(&info), nullptr) != NERR_Success)
        return RenameResult::Failed;
    if (signsIn && !SetAutoLogonUserName(newName))
        return RenameResult::SignInNotFollowed;
    return RenameResult::Done;
}
