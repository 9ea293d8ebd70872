// The verbs of passwords and of the automatic sign-in.
#include <windows.h>

#include <cwchar>
#include <string>

#include "accounts/account_list.h"
#include "accounts/account_rules.h"
#include "accounts/lookup.h"
#include "accounts/passwords.h"
#include "app/command_families.h"
#include "app/command_mode.h"
#include "platform/text_win.h"
#include "ui/secret_text.h"

int PasswordSet(CommandRun& run)
{
    const wchar_t* name = run.Argument(0);
    AccountDetails details;
    if (!RequireAccount(run, name, details, nullptr))
        return kExitNoSuchAccount;
    SecretText password, current;
    if (!run.ReadSecret(password, L"New password: ", true) || RefusedEmptyPassword(run, password))
        return kExitUsage;
    // A second line on standard input, or a prompt, gives the current
    // password that the account database asks for a change.
    if (run.HasConsoleInput())
        run.ReadSecret(current, L"Current password (empty if none): ", false);
    else if (const SecretLine line = current.ReadLine(GetStdHandle(STD_INPUT_HANDLE), false);
             line == SecretLine::TooLong || line == SecretLine::NotText || current.Length() > kLongestPassword) {
        run.Say(L"the second line is no password an account can have (UTF-8, at most " +
                std::to_wstring(kLongestPassword) + L" characters); nothing was changed");
        return kExitUsage;
    }
    const std::wstring change = L"password of " + Quoted(name) + L" set";
    // A password cannot be compared without signing in with it, which
    // counts towards the account's lock-out: it is always set.
    if (run.DryRun()) {
        run.SecretChange(change, name, L"password");
        return kExitDone;
    }
    // The worker also renews the automatic sign-in's copy, as for the dialog.
    NET_API_STATUS status = ChangePassword(name, current.Text(), password.Text());
    if (status == NERR_Success) {
        run.SecretChange(change, name, L"password");
        return kExitDone;
    }
    run.Say(status == ERROR_INVALID_PASSWORD ? L"the current password is not correct; nothing was changed"
                                             : L"the password could not be changed");
    return status == ERROR_INVALID_PASSWORD ? kExitRefused : kExitFailed;
}

// The administrator's reset: no current password, and the account's
// protected secrets lost with it, which is said before anything is asked.
int PasswordReset(CommandRun& run)
{
    const wchar_t* name = run.Argument(0);
    AccountDetails details;
    if (!RequireAccount(run, name, details, nullptr))
        return kExitNoSuchAccount;
    // Whether anyone can answer is known before the password is read; the
    // warning is said before the question.
    const std::wstring what = std::wstring(kPasswordResetWarning) + L" A reset";
    if (!run.CanConfirm(what))
        return kExitUsage;
    SecretText password;
    if (!run.ReadSecret(password, L"New password: ", true) || RefusedEmptyPassword(run, password))
        return kExitUsage;
    run.Say(kPasswordResetWarning);
    if (!run.Confirmed(what, L"Reset the password of " + Quoted(name) + L"?", L"not reset"))
        return kExitUsage;
    const std::wstring change = L"password of " + Quoted(name) + L" reset";
    if (run.DryRun()) {
        run.SecretChange(change, name, L"password");
        return kExitDone;
    }
    const NET_API_STATUS status = ResetPassword(name, password.Text());
    password.Wipe();
    if (status == NERR_Success) {
        run.SecretChange(change, name, L"password");
        return kExitDone;
    }
    run.Say(status == NERR_PasswordTooShort ? L"the password does not meet the computer's password rules; nothing was "
                                              L"changed"
                                            : L"the password could not be reset");
    return status == NERR_PasswordTooShort ? kExitRefused : kExitFailed;
}

int PasswordRemove(CommandRun& run)
{
    const wchar_t* name = run.Argument(0);
    AccountDetails details;
    if (!RequireAccount(run, name, details, nullptr))
        return kExitNoSuchAccount;
    const std::wstring change = L"password of " + Quoted(name) + L" removed";
    if (run.DryRun() || ChangePassword(name, nullptr, nullptr) == NERR_Success) {
        run.SecretChange(change, name, L"password");
        return kExitDone;
    }
    run.Say(L"the password could not be removed");
    return kExitFailed;
}

int AutoLogonSet(CommandRun& run)
{
    const wchar_t* name = run.Argument(0);
    AccountDetails details;
    if (!RequireAccount(run, name, details, nullptr))
        return kExitNoSuchAccount;
    if ((details.flags & (kFlagAccountDisabled | kFlagLockedOut)) != 0 || details.hidden) {
        run.Say(L"a disabled, locked-out or hidden account cannot sign in automatically; nothing was changed");
        return kExitRefused;
    }
    // A dry run needs no password: without one it tells the change of
    // account, or that the password would be stored anew.
    SecretText password;
    bool given = true;
    if (run.DryRun() ? !run.ReadSecretIfGiven(password, given)
                     : !run.ReadSecret(password, L"Password of the account: ", true))
        return kExitUsage;
    const WString before = GetAutoLogonUserName();
    const bool configured = IsAutoLogonConfigured();
    if (configured && EqualsNoCase(before.Text(), name) && given && AutoLogonPasswordIs(password.Text())) {
        run.Say(L"the computer already signs in as " + Quoted(name) + L" with this password; nothing to change");
        return kExitDone;
    }
    const std::wstring text = L"automatic sign-in as " + Quoted(name);
    const std::wstring old = configured ? before.Text() : L"";
    if (run.DryRun() || SetAutoLogon(name, password.Text()) != AutoLogonResult::Failed) {
        if (configured && EqualsNoCase(before.Text(), name))
            run.SecretChange(text, L"autologon", L"password");
        else
            run.Change(text, L"autologon", L"account", old, name);
        return kExitDone;
    }
    run.Say(L"the automatic sign-in could not be set");
    return kExitFailed;
}

int AutoLogonClear(CommandRun& run)
{
    // The computer signs in automatically only as IsAutoLogonConfigured
    // says, which is what `apply` and the status read too: a name left in
    // "DefaultUserName" with the sign-in off is the welcome screen's
    // last user, nothing to clear.
    if (!IsAutoLogonConfigured()) {
        run.Say(L"no automatic sign-in is set; nothing to change");
        return kExitDone;
    }
    const WString before = GetAutoLogonUserName();
    if (run.DryRun() || SetAutoLogon(L"", nullptr) != AutoLogonResult::Failed) {
        run.Change(L"automatic sign-in cleared", L"autologon", L"account", before.Text(), L"");
        return kExitDone;
    }
    run.Say(L"the automatic sign-in could not be cleared");
    return kExitFailed;
}

int AutoLogonStatus(CommandRun& run)
{
    WString name = GetAutoLogonUserName();
    if (!AutoLogonReadable(run)) {
        // The account named is only the one it would be.
        if (run.Json()) {
            run.Document().Key("autoLogon").Null().Key("autoLogonAccount");
            name.IsEmpty() ? run.Document().Null() : run.Document().String(name.Text());
        } else {
            run.Line(L"automatic sign-in: unknown without elevation (account named: " + Shown(name.Text()) + L")");
        }
        return kExitDone;
    }
    const bool configured = IsAutoLogonConfigured();
    if (run.Json()) {
        run.Document().Field("autoLogon", configured).Key("autoLogonAccount");
        configured ? run.Document().String(name.Text()) : run.Document().Null();
    } else {
        run.Line(configured ? L"automatic sign-in as " + Shown(name.Text()) : L"no automatic sign-in");
    }
    return kExitDone;
}

int AutoLogonSetVerb(CommandRun& run)
{
    const wchar_t* countText = run.Parsed().Value(L"--count");
    if (countText == nullptr)
        return AutoLogonSet(run);
    // Digits only, and no more sign-ins than a DWORD counts.
    wchar_t* end = nullptr;
    const unsigned long long count = wcstoull(countText, &end, 10);
    if (*countText < L'0' || *countText > L'9' || *end != L'\0' || count > 0xFFFFFFFFull) {
        run.Say(L"--count takes a number of sign-ins (0 to 4294967295)");
        return kExitUsage;
    }
    // The sign-in itself first, as `autologon set` alone sets it.
    const int set = AutoLogonSet(run);
    if (set != kExitDone)
        return set;
    DWORD before = 0;
    const bool present = ReadAutoLogonCount(before);
    if (present && before == count)
        return kExitDone;
    const std::wstring text = L"automatic sign-ins left: " + std::to_wstring(count);
    if (!run.DryRun() && !SetAutoLogonCount(static_cast<DWORD>(count))) {
        run.NotDone(text);
        run.Say(L"the number of automatic sign-ins could not be written");
        return kExitFailed;
    }
    run.Change(text, L"autologon", L"count", present ? std::to_wstring(before) : L"", std::to_wstring(count));
    return kExitDone;
}
