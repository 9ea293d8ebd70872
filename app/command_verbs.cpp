// The verb table of the command mode: every verb's words, arguments,
// options, help line and function. The verbs themselves are in their
// families' files (app/command_families.h).
#include <string>

#include "app/account_setting_rules.h"
#include "app/apply_plan.h"
#include "app/command_families.h"
#include "app/command_groups.h"
#include "app/command_mode.h"
#include "app/command_policy.h"
#include "app/command_profiles.h"
#include "vantrell_version.h"

namespace {

int Help(CommandRun& run)
{
    if (run.Json())
        run.Document().Field("help", CommandHelpText());
    else
        run.Line(CommandHelpText());
    return kExitDone;
}

// What a deployment's detection rule compares: the number of the version
// resource and of the installer package.
int Version(CommandRun& run)
{
    if (run.Json())
        run.Document().Field("version", VANTRELL_VERSION_WIDE);
    else
        run.Line(VANTRELL_VERSION_WIDE);
    return kExitDone;
}

const CommandOption kListOptions[] = {{L"--sizes", false, nullptr}, {L"--csv", false, nullptr}};
// `set` takes every setting of the table as its option; filled before
// anything reads the verb table.
struct SetOptions {
    CommandOption list[kAccountSettingCount];
    SetOptions()
    {
        for (size_t i = 0; i < kAccountSettingCount; ++i)
            list[i] = kAccountSettings[i].option;
    }
} const kSetOptions;
const CommandOption kAutoLogonOptions[] = {{L"--count", true, nullptr}};
const CommandOption kPictureOptions[] = {{L"--fit", true, L"center|crop|stretch"}};
const CommandOption kCreateOptions[] = {
    {L"--full-name", true, nullptr},
    {L"--type", true, L"guest|standard|administrator"},
    {L"--password-stdin", false, nullptr},
    {L"--picture", true, nullptr},
};
const CommandOption kDeleteOptions[] = {{L"--keep-files", false, nullptr}};
const CommandOption kKeysOptions[] = {{L"--repair", false, nullptr}};
const CommandOption kRelocateOptions[] = {{L"--place-only", false, nullptr}, {L"--overwrite", false, nullptr}};
const CommandOption kDoctorOptions[] = {
    {L"--fix", false, nullptr}, {L"--fix-safe", false, nullptr}, {L"--only", false, nullptr}};
const CommandOption kPlanOptions[] = {{L"--keep-store-apps", false, nullptr},
                                      {L"--keep-system-appdata", false, nullptr},
                                      {L"--keep-settings", false, nullptr}};
const CommandOption kScheduleOptions[] = {{L"--keep-store-apps", false, nullptr},
                                          {L"--keep-system-appdata", false, nullptr},
                                          {L"--keep-settings", false, nullptr},
                                          {L"--no-restart", false, nullptr}};

const CommandOption kGroupCreateOptions[] = {{L"--description", true, nullptr}};
const CommandOption kPolicySetOptions[] = {
    {L"--min-length", true, nullptr},        {L"--max-age", true, nullptr},
    {L"--min-age", true, nullptr},           {L"--history", true, nullptr},
    {L"--lockout-threshold", true, nullptr}, {L"--lockout-duration", true, nullptr},
    {L"--lockout-window", true, nullptr}};

const CommandOption kProfilesOptions[] = {{L"--sizes", false, nullptr}, {L"--csv", false, nullptr}};
const CommandOption kCsvOptions[] = {{L"--csv", false, nullptr}};
const CommandOption kProfilesCleanOptions[] = {
    {L"--unused-for", true, nullptr}, {L"--exclude", false, nullptr}, {L"--keep-accounts", false, nullptr}};

template <size_t N>
constexpr size_t Count(const CommandOption (&)[N])
{
    return N;
}

#define OPTIONS(list) list, Count(list)

}  // namespace

const CommandVerb kCommandVerbs[] = {
    // words, arguments, min, max, options, changes, destructive; summary; elevation; function
    {{L"help", L"", 0, 0, nullptr, 0, false, false}, L"this text", false, Help},
    {{L"version", L"", 0, 0, nullptr, 0, false, false}, L"the program's version number", false, Version},
    {{L"apply", L"FILE", 1, 1, nullptr, 0, true, false},
     L"makes the accounts, groups, profile clean-up, automatic sign-in and findings what the desired-state "
     L"document FILE asks (a new automatic sign-in's password from standard input)", true, Apply},
    {{L"export", L"", 0, 0, nullptr, 0, false, false},
     L"the accounts and the automatic sign-in as a desired-state document for apply", true, Export},
    {{L"list", L"", 0, 0, OPTIONS(kListOptions), false, false},
     L"every local account with its type, SID, flags, picture and profile (--sizes: profile sizes)", false,
     ListAccounts},
    {{L"show", L"NAME", 1, 1, nullptr, 0, false, false}, L"one account as the list shows it, with its details and the local groups it is a member of", false,
     ShowAccount},
    {{L"set", L"NAME", 1, 1, OPTIONS(kSetOptions.list), true, false},
     L"full name, type, status, lock-out, password flags, welcome-screen visibility, description, expiry "
     L"(--expires YYYY-MM-DD|never) and whether the password must change at the next sign-in", true, SetAccount},
    {{L"password set", L"NAME", 1, 1, nullptr, 0, true, false},
     L"sets the password (standard input: the new password, then the current one if any); always reported "
     L"as a change: comparing would be a sign-in, which counts toward the lock-out", true, PasswordSet},
    {{L"password reset", L"NAME", 1, 1, nullptr, 0, true, true},
     L"sets a new password without the current one (standard input or typed); the account loses its encrypted "
     L"files, saved credentials and data-protection secrets", true, PasswordReset},
    {{L"password remove", L"NAME", 1, 1, nullptr, 0, true, false},
     L"removes the password; always reported as a change, as for password set", true, PasswordRemove},
    {{L"autologon set", L"NAME", 1, 1, OPTIONS(kAutoLogonOptions), true, false},
     L"the computer signs in as NAME (password from standard input or typed); with --count only that many "
     L"times", true, AutoLogonSetVerb},
    {{L"autologon clear", L"", 0, 0, nullptr, 0, true, false}, L"no automatic sign-in", true, AutoLogonClear},
    {{L"autologon status", L"", 0, 0, nullptr, 0, false, false}, L"the account of the automatic sign-in", false,
     AutoLogonStatus},
    {{L"rename", L"NAME NEWNAME", 2, 2, nullptr, 0, true, false},
     L"renames the account (its profile folder keeps its name)", true, RenameVerb},
    {{L"groups", L"", 0, 0, OPTIONS(kCsvOptions), false, false},
     L"every local group, its SID and its member count (--csv: for a spreadsheet)", false, ListGroups},
    {{L"group show", L"GROUP", 1, 1, OPTIONS(kCsvOptions), false, false},
     L"the group's members by name and SID (by SID alone where it names nothing)", false, ShowGroup},
    {{L"group add", L"GROUP MEMBER...", 2, 32, nullptr, 0, true, false},
     L"makes each account or group a member (group and members by name or SID)", true, GroupAdd},
    {{L"group remove", L"GROUP MEMBER...", 2, 32, nullptr, 0, true, false},
     L"takes each member out of the group (a deleted account's by its SID)", true, GroupRemove},
    {{L"group create", L"NEWGROUP", 1, 1, OPTIONS(kGroupCreateOptions), true, false},
     L"a new local group (--description TEXT); unchanged when it exists", true, GroupCreate},
    {{L"group delete", L"GROUP", 1, 1, nullptr, 0, true, true},
     L"deletes a local group made on this computer (by name or SID; never one of the system's own): its members "
     L"lose the membership, and its SID is never made again", true, GroupDelete},
    {{L"group rename", L"GROUP NEWNAME", 2, 2, nullptr, 0, true, false},
     L"renames a local group made on this computer (never one of the system's own)", true, GroupRename},
    {{L"group set", L"GROUP", 1, 1, OPTIONS(kGroupCreateOptions), true, false},
     L"the group's description (--description TEXT, "" for none)", true, GroupSet},
    {{L"policy", L"", 0, 0, OPTIONS(kCsvOptions), false, false},
     L"the password and lock-out policy (--csv: for a spreadsheet)", false, ShowPolicy},
    {{L"policy set", L"", 0, 0, OPTIONS(kPolicySetOptions), true, false},
     L"changes the password and lock-out policy: --min-length N, --max-age DAYS|unlimited, --min-age DAYS, "
     L"--history N, --lockout-threshold N (0: never), --lockout-duration MINUTES|forever, --lockout-window MINUTES",
     true, SetPolicy},
    {{L"picture set", L"NAME FILE", 2, 2, OPTIONS(kPictureOptions), true, false},
     L"the account's picture from a file (unchanged when the stored picture already is the same, pixel for "
     L"pixel)", true, PictureSet},
    {{L"picture default", L"NAME", 1, 1, nullptr, 0, true, false}, L"the picture a new account gets", true,
     PictureDefault},
    {{L"create", L"NEWNAME", 1, 1, OPTIONS(kCreateOptions), true, false},
     L"a new account with its profile (password from standard input with --password-stdin)", true, CreateNew},
    {{L"delete", L"NAME", 1, 1, OPTIONS(kDeleteOptions), true, true},
     L"deletes the account and its profile folder (--keep-files keeps the folder)", true, DeleteExisting},
    {{L"folders", L"NAME", 1, 1, nullptr, 0, false, false},
     L"an account's personal folders (one not signed in is read from its hive, loaded meanwhile)", true,
     ListFolders},
    {{L"folders move", L"NAME FOLDER DESTINATION", 3, 3, OPTIONS(kRelocateOptions), true, true},
     L"moves a personal folder and its contents (--place-only: only where it points)", true, MoveFolder},
    {{L"folders restore", L"NAME FOLDER", 2, 2, OPTIONS(kRelocateOptions), true, true},
     L"moves a personal folder back to its default place", true, RestoreFolder},
    {{L"profile-keys", L"", 0, 0, OPTIONS(kKeysOptions), true, false},
     L"corrupted profile-list entries (--repair puts them right)", true, ProfileKeys},
    {{L"profiles", L"", 0, 0, OPTIONS(kProfilesOptions), false, false},
     L"every profile: SID, account, folder, last use and where it was read, loaded, special, temporary, backup, "
     L"corrupt (--sizes: folder sizes; --csv: for a spreadsheet)", false, ListProfiles},
    {{L"profiles clean", L"[NAME...]", 0, 64, OPTIONS(kProfilesCleanOptions), true, true},
     L"deletes the profiles unused for more than --unused-for DAYS that are not loaded, special or the console "
     L"user's (--exclude NAME...: keep those, by account, SID or folder name); a disabled account goes with its profile unless --keep-accounts, an "
     L"enabled one keeps its account and gets a fresh profile at its next sign-in", true, CleanProfiles},
    {{L"profiles delete", L"NAME|SID|FOLDER", 1, 1, nullptr, 0, true, true},
     L"deletes one profile, named by its account, SID (or #RID) or folder, through the clean-up's checks; its "
     L"account stays", true, DeleteOneProfile},
    {{L"repair plan", L"NAME", 1, 1, OPTIONS(kPlanOptions), false, false},
     L"why the account's profile does not load, the least invasive mend, and what a rebuild would do and could "
     L"not carry; changes nothing", true, RepairPlan},
    {{L"repair mend", L"NAME", 1, 1, nullptr, 0, true, false},
     L"puts the account's profile-list entry and permissions right when the plan proposes a mend in place: the "
     L"same account, no restart", true, RepairMend},
    {{L"repair schedule", L"NAME", 1, 1, OPTIONS(kScheduleOptions), true, true},
     L"sets the repair up as the wizard does and restarts the computer into the temporary account "
     L"(--no-restart: exit 3010, the restart is yours)", true,
     RepairSchedule},
    {{L"repair status", L"", 0, 0, nullptr, 0, false, false}, L"the journal and log of the last repair", false,
     RepairStatus},
    {{L"doctor", L"[ID...]", 0, 32, OPTIONS(kDoctorOptions), true, true},
     L"the health check's findings; exit 1 with a problem or risk (--only ID...: only those; --fix ID...: mend "
     L"those; --fix-safe: the safe ones; a mend exits by the findings it was asked to mend)", false, Doctor},
};
const size_t kCommandVerbCount = sizeof(kCommandVerbs) / sizeof(kCommandVerbs[0]);
