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
// `create` takes the full name and type as `set` does.
struct CreateOptions {
    CommandOption list[4];
    CreateOptions()
        : list{SettingRow(SettingId::FullName).option, SettingRow(SettingId::Type).option,
               {L"--password-stdin", false, nullptr}, {L"--picture", true, nullptr}}
    {
    }
} const kCreateOptions;
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
    // words, arguments, min, max, options, what it does beyond reading; summary; function
    {{L"help", L"", 0, 0, nullptr, 0, kReadsOnly}, L"this text", Help},
    {{L"version", L"", 0, 0, nullptr, 0, kReadsOnly}, L"the program's version number", Version},
    {{L"apply", L"FILE", 1, 1, nullptr, 0, kChangesMachine | kNeedsElevation},
     L"makes the accounts, groups, profile clean-up, automatic sign-in and findings what the desired-state "
     L"document FILE asks (a new automatic sign-in's password from standard input)", Apply},
    {{L"export", L"", 0, 0, nullptr, 0, kNeedsElevation},
     L"the accounts and the automatic sign-in as a desired-state document for apply", Export},
    {{L"list", L"", 0, 0, OPTIONS(kListOptions), kReadsOnly},
     L"every local account with its type, SID, flags, picture and profile (--sizes: profile sizes)",
     ListAccounts},
    {{L"show", L"NAME", 1, 1, nullptr, 0, kReadsOnly},
     L"one account as the list shows it, with its details and the local groups it is a member of",
     ShowAccount},
    {{L"set", L"NAME", 1, 1, OPTIONS(kSetOptions.list), kChangesMachine | kNeedsElevation},
     L"full name, type, status, lock-out, password flags, welcome-screen visibility, description, expiry "
     L"(--expires YYYY-MM-DD|never) and whether the password must change at the next sign-in", SetAccount},
    {{L"password set", L"NAME", 1, 1, nullptr, 0, kChangesMachine | kNeedsElevation},
     L"sets the password (standard input: the new password, then the current one if any); always reported "
     L"as a change: comparing would be a sign-in, which counts toward the lock-out", PasswordSet},
    {{L"password reset", L"NAME", 1, 1, nullptr, 0, kChangesMachine | kAsksFirst | kNeedsElevation},
     L"sets a new password without the current one (standard input or typed); the account loses its encrypted "
     L"files, saved credentials and data-protection secrets", PasswordReset},
    {{L"password remove", L"NAME", 1, 1, nullptr, 0, kChangesMachine | kNeedsElevation},
     L"removes the password; always reported as a change, as for password set", PasswordRemove},
    {{L"autologon set", L"NAME", 1, 1, OPTIONS(kAutoLogonOptions), kChangesMachine | kNeedsElevation},
     L"the computer signs in as NAME (password from standard input or typed); with --count only that many "
     L"times", AutoLogonSetVerb},
    {{L"autologon clear", L"", 0, 0, nullptr, 0,
      kChangesMachine | kNeedsElevation}, L"no automatic sign-in", AutoLogonClear},
    {{L"autologon status", L"", 0, 0, nullptr, 0, kReadsOnly}, L"the account of the automatic sign-in",
     AutoLogonStatus},
    {{L"rename", L"NAME NEWNAME", 2, 2, nullptr, 0, kChangesMachine | kNeedsElevation},
     L"renames the account (its profile folder keeps its name)", RenameVerb},
    {{L"groups", L"", 0, 0, OPTIONS(kCsvOptions), kReadsOnly},
     L"every local group, its SID and its member count (--csv: for a spreadsheet)", ListGroups},
    {{L"group show", L"GROUP", 1, 1, OPTIONS(kCsvOptions), kReadsOnly},
     L"the group's members by name and SID (by SID alone where it names nothing)", ShowGroup},
    {{L"group add", L"GROUP MEMBER...", 2, 32, nullptr, 0, kChangesMachine | kNeedsElevation},
     L"makes each account or group a member (group and members by name or SID)", GroupAdd},
    {{L"group remove", L"GROUP MEMBER...", 2, 32, nullptr, 0, kChangesMachine | kNeedsElevation},
     L"takes each member out of the group (a deleted account's by its SID)", GroupRemove},
    {{L"group create", L"NEWGROUP", 1, 1, OPTIONS(kGroupCreateOptions), kChangesMachine | kNeedsElevation},
     L"a new local group (--description TEXT); unchanged when it exists", GroupCreate},
    {{L"group delete", L"GROUP", 1, 1, nullptr, 0, kChangesMachine | kAsksFirst | kNeedsElevation},
     L"deletes a local group made on this computer (by name or SID; never one of the system's own): its members "
     L"lose the membership, and its SID is never made again", GroupDelete},
    {{L"group rename", L"GROUP NEWNAME", 2, 2, nullptr, 0, kChangesMachine | kNeedsElevation},
     L"renames a local group made on this computer (never one of the system's own)", GroupRename},
    {{L"group set", L"GROUP", 1, 1, OPTIONS(kGroupCreateOptions), kChangesMachine | kNeedsElevation},
     L"the group's description (--description TEXT, "" for none)", GroupSet},
    {{L"policy", L"", 0, 0, OPTIONS(kCsvOptions), kReadsOnly},
     L"the password and lock-out policy (--csv: for a spreadsheet)", ShowPolicy},
    {{L"policy set", L"", 0, 0, OPTIONS(kPolicySetOptions), kChangesMachine | kNeedsElevation},
     L"changes the password and lock-out policy: --min-length N, --max-age DAYS|unlimited, --min-age DAYS, "
     L"--history N, --lockout-threshold N (0: never), --lockout-duration MINUTES|forever, --lockout-window MINUTES", SetPolicy},
    {{L"picture set", L"NAME FILE", 2, 2, OPTIONS(kPictureOptions), kChangesMachine | kNeedsElevation},
     L"the account's picture from a file (unchanged when the stored picture already is the same, pixel for "
     L"pixel)", PictureSet},
    {{L"picture default", L"NAME", 1, 1, nullptr, 0,
      kChangesMachine | kNeedsElevation}, L"the picture a new account gets",
     PictureDefault},
    {{L"create", L"NEWNAME", 1, 1, OPTIONS(kCreateOptions.list), kChangesMachine | kNeedsElevation},
     L"a new account with its profile (password from standard input with --password-stdin)", CreateNew},
    {{L"delete", L"NAME", 1, 1, OPTIONS(kDeleteOptions), kChangesMachine | kAsksFirst | kNeedsElevation},
     L"deletes the account and its profile folder (--keep-files keeps the folder)", DeleteExisting},
    {{L"folders", L"NAME", 1, 1, nullptr, 0, kNeedsElevation},
     L"an account's personal folders (one not signed in is read from its hive, loaded meanwhile)",
     ListFolders},
    {{L"folders move", L"NAME FOLDER DESTINATION", 3, 3, OPTIONS(kRelocateOptions),
      kChangesMachine | kAsksFirst | kNeedsElevation},
     L"moves a personal folder and its contents (--place-only: only where it points)", MoveFolder},
    {{L"folders restore", L"NAME FOLDER", 2, 2, OPTIONS(kRelocateOptions),
      kChangesMachine | kAsksFirst | kNeedsElevation},
     L"moves a personal folder back to its default place", RestoreFolder},
    {{L"profile-keys", L"", 0, 0, OPTIONS(kKeysOptions), kChangesMachine | kNeedsElevation},
     L"corrupted profile-list entries (--repair puts them right)", ProfileKeys},
    {{L"profiles", L"", 0, 0, OPTIONS(kProfilesOptions), kReadsOnly},
     L"every profile: SID, account, folder, last use and where it was read, loaded, special, temporary, backup, "
     L"corrupt (--sizes: folder sizes; --csv: for a spreadsheet)", ListProfiles},
    {{L"profiles clean", L"[NAME...]", 0, 64, OPTIONS(kProfilesCleanOptions),
      kChangesMachine | kAsksFirst | kNeedsElevation},
     L"deletes the profiles unused for more than --unused-for DAYS that are not loaded, special or the console "
     L"user's (--exclude NAME...: keep those, by account, SID or folder name); a disabled account goes with its profile unless --keep-accounts, an "
     L"enabled one keeps its account and gets a fresh profile at its next sign-in", CleanProfiles},
    {{L"profiles delete", L"NAME|SID|FOLDER", 1, 1, nullptr, 0, kChangesMachine | kAsksFirst | kNeedsElevation},
     L"deletes one profile, named by its account, SID (or #RID) or folder, through the clean-up's checks; its "
     L"account stays", DeleteOneProfile},
    {{L"repair plan", L"NAME", 1, 1, OPTIONS(kPlanOptions), kNeedsElevation},
     L"why the account's profile does not load, the least invasive mend, and what a rebuild would do and could "
     L"not carry; changes nothing", RepairPlan},
    {{L"repair mend", L"NAME", 1, 1, nullptr, 0, kChangesMachine | kNeedsElevation},
     L"puts the account's profile-list entry and permissions right when the plan proposes a mend in place: the "
     L"same account, no restart", RepairMend},
    {{L"repair schedule", L"NAME", 1, 1, OPTIONS(kScheduleOptions), kChangesMachine | kAsksFirst | kNeedsElevation},
     L"sets the repair up as the wizard does and restarts the computer into the temporary account "
     L"(--no-restart: exit 3010, the restart is yours)",
     RepairSchedule},
    {{L"repair status", L"", 0, 0, nullptr, 0, kReadsOnly}, L"the journal and log of the last repair",
     RepairStatus},
    {{L"doctor", L"[ID...]", 0, 32, OPTIONS(kDoctorOptions), kChangesMachine | kAsksFirst},
     L"the health check's findings; exit 1 with a problem or risk (--only ID...: only those; --fix ID...: mend "
     L"those; --fix-safe: the safe ones; a mend exits by the findings it was asked to mend)", Doctor},
};
#undef OPTIONS   // the files compiled after this one (a unity build) have their own words
const size_t kCommandVerbCount = sizeof(kCommandVerbs) / sizeof(kCommandVerbs[0]);
