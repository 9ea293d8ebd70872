#include "app/command_families.h"

#include <string>

#include "accounts/account_lifecycle.h"
#include "accounts/account_list.h"
#include "accounts/lookup.h"
#include "app/command_mode.h"
#include "platform/file_rules.h"
#include "platform/text_win.h"
#include "ui/secret_text.h"

namespace {

// What only an administrator may read, as a read run without elevation
// names it: left out, never answered from the refusal.
struct AdminOnlyFact {
    const wchar_t* fact;
    const wchar_t* why;
};
const AdminOnlyFact kAdminOnlyFacts[] = {
    {L"autoLogon", L"whether an account signs in automatically (its stored password is an administrator's to read)"},
    {L"hidden", L"whether the welcome screen shows an account (the security policy's rights are an administrator's "
                L"to list)"},
    {L"sizeBytes", L"the sizes of other accounts' profile folders (those folders are their owners' to read)"},
    {L"rights", L"the rights the security policy keeps for deleted accounts"},
    {L"autoLogonSecret", L"whether the automatic sign-in's password is stored"},
    {L"otherProfiles", L"the repair tool's shortcuts in other accounts' profiles"},
    {L"otherUsersSettings", L"where other accounts' personal folders point"},
};

}  // namespace

std::wstring Quoted(const wchar_t* text)
{
    return L"\"" + std::wstring(text) + L"\"";
}

std::wstring Quoted(const std::wstring& text)
{
    return L"\"" + text + L"\"";
}

std::wstring Shown(const wchar_t* text)
{
    return EscapeControls(text).Text();
}

std::wstring Shown(const std::wstring& text)
{
    return Shown(text.c_str());
}

bool AdminFactReadable(CommandRun& run, const std::wstring& fact)
{
    if (run.Elevated())
        return true;
    for (const AdminOnlyFact& known : kAdminOnlyFacts)
        if (fact == known.fact)
            run.LeaveOut(known.fact, known.why);
    return false;
}

bool AutoLogonReadable(CommandRun& run)
{
    return AdminFactReadable(run, L"autoLogon");
}

WString ConsoleUserName()
{
    WString name;
    FindConsoleUser(name, nullptr, nullptr);
    return name;
}

bool RequireAccount(CommandRun& run, const wchar_t* name, AccountDetails& details, const wchar_t* consoleUser)
{
    if (ReadAccountDetails(name, consoleUser, details))
        return true;
    run.Say(L"there is no local account " + Quoted(name));
    return false;
}

bool RefusedEmptyPassword(CommandRun& run, const SecretText& password)
{
    if (password.Length() != 0)
        return false;
    run.Say(L"an empty line is no password; an account is left without one by \"password remove\"; nothing was "
            L"changed");
    return true;
}

bool IsLocalFile(CommandRun& run, const wchar_t* path)
{
    const WString full = FullPathName(path);
    if (full.Valid() && IsLocalDrivePath(full.Text()))
        return true;
    run.Say(L"the file " + Quoted(path) + L" is not on a drive of this computer (a network or device path is never "
                                          L"read); nothing was changed");
    return false;
}

bool DeleteAccountOrSay(CommandRun& run, const wchar_t* name, bool keepFiles, AccountDeletionReport& report)
{
    AccountDeletion deletion;
    deletion.accountName = name;
    deletion.folderFlags = keepFiles ? kKeepProfileFolder : kDeleteTakeOver | kDeleteScheduleAtRestart;
    deletion.clearAutoLogon = true;
    deletion.alwaysRemoveProfileEntry = false;
    RemoveAccount(deletion, report);
    if (!report.accountDeleted)
        run.Say(L"the account could not be deleted; nothing was changed");
    return report.accountDeleted;
}
