// The verbs that make, change, rename and delete accounts.
#include <windows.h>
#include <gdiplus.h>

#include <string>
#include <vector>

#include "accounts/account_lifecycle.h"
#include "accounts/account_list.h"
#include "accounts/account_rules.h"
#include "accounts/account_settings.h"
#include "accounts/groups.h"
#include "accounts/lifecycle_rules.h"
#include "accounts/lookup.h"
#include "accounts/passwords.h"
#include "accounts/pictures.h"
#include "app/account_setting_rules.h"
#include "app/apply_steps.h"
#include "app/command_families.h"
#include "app/command_mode.h"
#include "app/setting_changes.h"
#include "platform/system.h"
#include "platform/text_win.h"
#include "ui/secret_text.h"

namespace {

// `create` takes the full name and type as `set` does.
const AccountSetting& FullName()
{
    return SettingRow(SettingId::FullName);
}

uint32_t TypeAsked(const ParsedCommand& p)
{
    return TypeOf(p.Value(SettingRow(SettingId::Type).option.name, L"standard"));
}

// A full name the table refuses (one that would forge or hide a line in
// lists and on the welcome screen). Says so when refused.
bool FullNameUsable(CommandRun& run)
{
    AccountSettingValues scratch;
    if (FullName().write(scratch, run.Parsed().Value(FullName().option.name, L"")))
        return true;
    run.Say(FullName().refusal);
    return false;
}


int CreateExisting(CommandRun& run, const wchar_t* name, const AccountDetails& existing)
{
    const ParsedCommand& p = run.Parsed();
    const uint32_t type = TypeAsked(p);
    std::wstring differences;
    if (type != existing.privilege)
        differences += std::wstring(L"its type is ") + TypeName(existing.privilege) + L", not " + TypeName(type);
    const wchar_t* fullName = p.Value(FullName().option.name);
    if (fullName != nullptr && FullNameChanged(fullName, existing.fullName.Text(), name))
        differences += std::wstring(differences.empty() ? L"" : L"; ") + L"its full name is " +
                       Quoted(existing.fullName.Text()) + L", not " + Quoted(fullName);
    if (!differences.empty()) {
        run.Say(L"the account " + Quoted(name) + L" already exists with other settings: " + differences +
                L"; nothing was changed (\"set\" changes them)");
        return kExitRefused;
    }
    run.Say(L"the account " + Quoted(name) + L" already exists with these settings; nothing to change" +
            (p.Has(L"--password-stdin") || p.Has(L"--picture") ? L" (its password and picture are left as they are)"
                                                                : L""));
    return kExitDone;
}

}  // namespace

int SetAccount(CommandRun& run)
{
    const wchar_t* name = run.Argument(0);
    WString console = ConsoleUserName();
    AccountDetails details;
    if (!RequireAccount(run, name, details, console.Text()))
        return kExitNoSuchAccount;
    std::vector<SettingValue> values;
    for (const auto& option : run.Parsed().options)
        if (const AccountSetting* setting = FindSettingOption(option.first.c_str()))
            values.push_back({setting, option.second});
    const SettingsPlan plan =
        PlanAccountSettings(name, SettingValuesOf(details), details.builtin, details.console, values, false);
    if (plan.refusal != kExitDone) {
        run.Say(plan.why);
        return plan.refusal;
    }
    if (plan.changes.empty()) {
        run.Say(L"nothing to change");
        return kExitDone;
    }
    return CarryOutSettings(run, plan);
}

int RenameVerb(CommandRun& run)
{
    const wchar_t* name = run.Argument(0);
    const wchar_t* newName = run.Argument(1);
    if (wcscmp(name, newName) == 0) {
        run.Say(L"the account is named " + Quoted(name) + L" already; nothing to change");
        return kExitDone;
    }
    NewAccountNameProblem problem = NewAccountNameProblem::None;
    switch (CheckAccountRename(name, newName, problem)) {
    case RenameRefusal::None: break;
    case RenameRefusal::NoSuchAccount:
        // Run again after it was done: the new name is there, the old gone.
        if (AccountExists(newName)) {
            run.Say(L"there is no account " + Quoted(name) + L" and an account " + Quoted(newName) +
                    L" exists: taken as renamed already; nothing to change");
            return kExitDone;
        }
        run.Say(L"there is no local account " + Quoted(name));
        return kExitNoSuchAccount;
    case RenameRefusal::BadName: {
        run.Say(L"the name " + Quoted(newName) + L" cannot be used: " +
                NameProblemText(problem, kMaxAccountNameLength) + L"; nothing was changed");
        return kExitRefused;
    }
    case RenameRefusal::Taken:
        run.Say(L"an account or group named " + Quoted(newName) + L" already exists; nothing was changed");
        return kExitRefused;
    }
    WString sid, profile;
    GetAccountSidAndProfile(name, sid, &profile);
    const bool signsIn = EqualsNoCase(GetAutoLogonUserName().Text(), name);
    const RenameResult result = run.DryRun() ? RenameResult::Done : RenameAccount(name, newName);
    if (result == RenameResult::Failed) {
        run.Say(L"the account could not be renamed; nothing was changed");
        return kExitFailed;
    }
    run.Change(L"account " + Quoted(name) + L" renamed to " + Quoted(newName), newName, L"name", name, newName);
    const std::wstring signIn = L"automatic sign-in follows to " + Quoted(newName);
    if (result == RenameResult::SignInNotFollowed) {
        run.NotDone(signIn);
        run.Say(L"the automatic sign-in still names " + Quoted(name) + L": set it again with \"autologon set\"");
        return kExitFailed;
    }
    if (signsIn)
        run.Change(signIn, L"autologon", L"account", name, newName);
    if (!profile.IsEmpty()) {
        const std::wstring kept = L"the profile folder keeps its name: " + Shown(Quoted(profile.Text()));
        run.Json() ? run.Say(kept) : run.Line(kept);
    }
    return kExitDone;
}

int CreateNew(CommandRun& run)
{
    const wchar_t* name = run.Argument(0);
    const ParsedCommand& p = run.Parsed();
    NewAccountNameProblem problem = CheckNewAccountName(name);
    if (problem != NewAccountNameProblem::None) {
        run.Say(L"the name " + Quoted(name) + L" cannot be used: " + NameProblemText(problem, kMaxAccountNameLength));
        return kExitRefused;
    }
    // Every verb reads "#1001" as a RID and "S-1-..." as a SID: an account
    // so named could never be named again.
    if (name[0] == L'#' || wcsncmp(name, L"S-1-", 4) == 0) {
        run.Say(L"the name " + Quoted(name) + L" cannot be used: it reads as a RID or a SID, which name accounts "
                L"that exist");
        return kExitRefused;
    }
    if (!FullNameUsable(run))
        return kExitRefused;
    // Asked again for an account that is already there: done when it has
    // the settings asked for, refused with each difference when not.
    if (AccountDetails existing; ReadAccountDetails(name, nullptr, existing))
        return CreateExisting(run, name, existing);
    if (IsAccountNameTaken(name)) {
        run.Say(L"a group named " + Quoted(name) + L" already exists; nothing was changed");
        return kExitRefused;
    }
    SecretText password;
    if (p.Has(L"--password-stdin") &&
        (!run.ReadSecret(password, L"Password: ", true) || RefusedEmptyPassword(run, password)))
        return kExitUsage;
    const uint32_t type = TypeAsked(p);
    const wchar_t* fullName = p.Value(FullName().option.name);
    GdiplusSession gdiplus;
    WString pictureFile(p.Value(L"--picture", L""));
    if (pictureFile.IsEmpty() && !FindDefaultPictureFile(pictureFile))
        pictureFile.Clear();
    UniqueImage picture;
    if (p.Has(L"--picture") && !IsLocalFile(run, pictureFile.Text()))
        return kExitRefused;
    if (!pictureFile.IsEmpty()) {
        picture = LoadPictureFile(pictureFile.Text());
        if (!picture && p.Has(L"--picture")) {
            run.Say(L"the picture file " + Quoted(pictureFile.Text()) + L" is not valid; nothing was changed");
            return kExitRefused;
        }
    }
    const std::wstring created = std::wstring(TypeName(type)) + L" account " + Quoted(name) + L" created";
    const std::wstring withProfile = L"profile of " + Quoted(name) + L" made";
    const std::wstring pictured = L"picture of " + Quoted(name) + L" from " + Quoted(pictureFile.Text());
    if (run.DryRun()) {
        run.Change(created, name, L"account", L"absent", TypeName(type));
        run.Change(withProfile);
        if (picture)
            run.Change(pictured);
        return kExitDone;
    }
    CreateReport report;
    CreateAccount(name, fullName, type, *password.Text() != L'\0' ? password.Text() : nullptr, &report);
    password.Wipe();
    if (report.outcome == CreateOutcome::NotAdded) {
        run.Say(L"the account could not be created; nothing was changed");
        return kExitFailed;
    }
    run.Change(created, name, L"account", L"absent", TypeName(type));
    if (report.outcome == CreateOutcome::AddedWithProfile)
        run.Change(withProfile);
    else
        run.NotDone(withProfile + L" (it will be made at the account's first sign-in)");
    bool pictureSet = !picture || SetAccountPicture(name, picture.Get(), PictureFit::Crop, GetOsVersionNumber());
    if (picture)
        pictureSet ? run.Change(pictured) : run.NotDone(pictured);
    return report.outcome == CreateOutcome::AddedWithProfile && pictureSet ? kExitDone : kExitFailed;
}

int DeleteExisting(CommandRun& run)
{
    const wchar_t* name = run.Argument(0);
    WString console = ConsoleUserName();
    AccountDetails details;
    if (!ReadAccountDetails(name, console.Text(), details)) {
        run.Say(L"there is no local account " + Quoted(name) + L"; nothing to delete");
        return kExitDone;
    }
    if (details.builtin || details.console) {
        run.Say(details.builtin ? L"a built-in account cannot be deleted"
                                : L"the account signed in at the console cannot be deleted");
        return kExitRefused;
    }
    if (details.privilege == kPrivilegeAdministrator && IsLastAdministrator(name)) {
        run.Say(L"this is the last administrator account of this computer that can sign in; it stays");
        return kExitRefused;
    }
    const bool keepFiles = run.Parsed().Has(L"--keep-files");
    WString sid, profile;
    GetAccountSidAndProfile(name, sid, &profile);
    // Asked first: a refused command never says "done".
    if (!run.Confirmed(L"deleting", L"Delete the account " + Quoted(name) + L"?", L"not deleted"))
        return kExitUsage;
    const std::wstring accountGone = L"account " + Quoted(name) + L" deleted";
    const bool folderToGo = !keepFiles && !profile.IsEmpty();
    const std::wstring folderGone = L"profile folder " + Quoted(profile.Text()) + L" deleted";
    if (run.DryRun()) {
        run.Change(accountGone, name, L"account", TypeName(details.privilege), L"absent");
        if (folderToGo)
            run.Change(folderGone, name, L"profile", profile.Text(), L"");
        return kExitDone;
    }
    AccountDeletionReport report;
    if (!DeleteAccountOrSay(run, name, keepFiles, report))
        return kExitFailed;
    run.Change(accountGone, name, L"account", TypeName(details.privilege), L"absent");
    if (!folderToGo)
        return kExitDone;
    if (report.result == kDeleteScheduled) {
        run.Change(folderGone + L" at the next restart: " + std::to_wstring(report.folderTally.scheduled) +
                       L" of its entries in use wait for it, files first, then their folders",
                   name, L"profile", profile.Text(), L"");
        return kExitRestartNeeded;
    }
    if (report.folderVerdict == ProfileFolderVerdict::Missing) {
        run.Say(L"the profile folder " + Quoted(profile.Text()) + L" was already gone");
        return kExitDone;
    }
    if (report.folderVerdict != ProfileFolderVerdict::Inside && report.folderVerdict != ProfileFolderVerdict::Empty) {
        run.NotDone(folderGone + L": it was kept because it does not lie inside the profiles folder, is shared or is "
                                 L"a link");
        return kExitFailed;
    }
    if (report.folderResult == kDeleteFailed) {
        const DeleteTally& tally = report.folderTally;
        run.NotDone(folderGone + L": " + std::to_wstring(tally.failed) +
                    L" of its entries could be neither deleted nor left for the next restart" +
                    (tally.scheduled > 0 ? L" (" + std::to_wstring(tally.scheduled) + L" others wait for it)" : L""));
        return kExitFailed;
    }
    run.Change(folderGone, name, L"profile", profile.Text(), L"");
    return kExitDone;
}
