// The verbs of the profile repair: its plan, the mend in place, the
// scheduled rebuild and the last repair's journal and log.
#include <windows.h>

#include <string>
#include <vector>

#include "accounts/account_lifecycle.h"
#include "accounts/account_list.h"
#include "accounts/lookup.h"
#include "accounts/profile_keys.h"
#include "app/command_families.h"
#include "app/command_mode.h"
#include "platform/files.h"
#include "platform/system.h"
#include "platform/text_win.h"
#include "repair/carry_limits.h"
#include "repair/profile_mend.h"
#include "repair/repair_journal.h"
#include "repair/repair_log.h"
#include "repair/repair_rules.h"
#include "repair/repair_setup.h"
#include "repair/tool_folder.h"

namespace {

// The account named on the command line may be repaired: it exists, is not
// the console user's (nor the temporary account) and its profile folder is
// a folder of its own inside the profiles folder: kExitDone. Says why not
// otherwise, and gives the exit code.
int RequireRepairable(CommandRun& run, const wchar_t* name, WString& sid, WString& folder)
{
    WString console = ConsoleUserName();
    AccountDetails details;
    if (!RequireAccount(run, name, details, console.Text()))
        return kExitNoSuchAccount;
    if (details.console || EqualsNoCase(name, kTempAccountName)) {
        run.Say(L"the account signed in at the console cannot be repaired from its own session");
        return kExitRefused;
    }
    WString stored;
    GetAccountSidAndProfile(name, sid, &stored);
    if (CheckProfileFolder(stored.Text(), sid.Text(), folder) != ProfileFolderVerdict::Inside) {
        run.Say(L"the profile folder " + Quoted(stored.Text()) +
                L" does not lie inside the profiles folder as a folder of this account's own: the repair would "
                L"not carry it; nothing was changed");
        return kExitRefused;
    }
    return kExitDone;
}

// The examination's findings and the mends it weighs, least invasive first.
void SayDiagnosis(CommandRun& run, const AccountExamination& exam)
{
    const ProfileDiagnosis& d = exam.diagnosis;
    const MendKind kinds[] = {MendKind::InPlace, MendKind::RebuildKeepingSettings, MendKind::RebuildFresh};
    if (run.Json()) {
        JsonWriter& json = run.Document();
        json.Key("diagnosis").BeginObject().Key("causes").BeginArray();
        for (ProfileCause cause : d.causes)
            json.BeginObject().Field("cause", ProfileCauseName(cause)).Field("text", ProfileCauseText(cause))
                .EndObject();
        json.EndArray().Field("recommended", MendKindName(d.recommended)).Field("settingsSound", d.settingsSound)
            .Field("folder", d.folder).Key("mendInPlace").BeginArray();
        for (MendAction action : d.actions)
            json.String(MendActionText(action));
        json.EndArray().Key("mends").BeginArray();
        for (MendKind kind : kinds) {
            const MendEffects effects = EffectsOf(kind);
            json.BeginObject().Field("mend", MendKindName(kind)).Field("keeps", effects.keeps)
                .Field("loses", effects.loses).Field("offered", true).EndObject();
        }
        json.EndArray().EndObject();
        return;
    }
    run.Line(L"Examination of " + Quoted(exam.account.c_str()) + L" (" + exam.sid + L")" +
             (d.folder.empty() ? std::wstring() : L", profile " + d.folder));
    if (d.causes.empty())
        run.Line(L"cause: none found");
    for (ProfileCause cause : d.causes)
        run.Line(std::wstring(L"cause: ") + ProfileCauseText(cause));
    run.Line(std::wstring(L"proposed: ") + MendKindText(d.recommended));
    for (MendKind kind : kinds) {
        const MendEffects effects = EffectsOf(kind);
        run.Line(std::wstring(L"  ") + MendKindText(kind) + L": keeps " + effects.keeps + L"; loses " + effects.loses);
    }
    for (size_t i = 0; i < d.actions.size(); ++i)
        run.Line(L"mend " + std::to_wstring(i + 1) + L". " + MendActionText(d.actions[i]));
}

}  // namespace

int RepairPlan(CommandRun& run)
{
    const wchar_t* name = run.Argument(0);
    {
        WString console = ConsoleUserName();
        AccountDetails details;
        if (!RequireAccount(run, name, details, console.Text()))
            return kExitNoSuchAccount;
    }
    AccountExamination exam;
    std::wstring problem;
    if (!ExamineAccount(name, exam, problem)) {
        run.Say(problem);
        return kExitNoSuchAccount;
    }
    JsonWriter& json = run.Document();
    if (run.Json())
        json.Key("plan").BeginObject().Field("account", name).Field("sid", exam.sid);
    SayDiagnosis(run, exam);
    // A mend in place needs no rebuild: its steps are the plan.
    if (exam.diagnosis.recommended == MendKind::InPlace) {
        if (run.Json())
            json.EndObject();
        return kExitDone;
    }
    WString sid, folder;
    if (const int refused = RequireRepairable(run, name, sid, folder); refused != kExitDone) {
        if (run.Json())
            json.EndObject();
        return refused;
    }
    const bool keepApps = run.Parsed().Has(L"--keep-store-apps");
    const bool keepAppData = run.Parsed().Has(L"--keep-system-appdata");
    const bool keepSettings = run.Parsed().Has(L"--keep-settings");
    const bool settingsSound = exam.diagnosis.settingsSound;
    CarryCounts counts;
    CountCarryLimits(folder.Text(), sid.Text(), counts);
    std::vector<std::wstring> warnings = CarryWarnings(counts);
    // What keeping the settings will do on this profile, and why not when it cannot.
    std::wstring settings;
    if (keepSettings && settingsSound)
        settings = L"kept: the old hive " + std::wstring(HiveFindingText(exam.facts.hive)) +
                   L"; its keys are given to the new SID and it takes the fresh one's place";
    else if (keepSettings)
        settings = L"made fresh: the old hive " + std::wstring(HiveFindingText(exam.facts.hive)) +
                   L", so the rebuild uses the fresh one";
    else
        settings = L"made fresh";
    const MendEffects kept = EffectsOf(MendKind::RebuildKeepingSettings);

    if (run.Json()) {
        json.Field("profile", folder.Text()).Field("keepStoreApps", keepApps)
            .Field("keepSystemAppData", keepAppData).Field("keepSettings", keepSettings)
            .Field("keepSettingsRecommended", settingsSound).Field("settings", settings)
            .Field("oldHive", HiveFindingText(exam.facts.hive)).Key("steps").BeginArray();
    } else {
        run.Line(L"Repair of " + Quoted(name) + L" (" + sid.Text() + L"), profile " + folder.Text());
        run.Line(L"settings: " + settings);
        const MendEffects planned = EffectsOf(keepSettings && settingsSound ? MendKind::RebuildKeepingSettings
                                                                            : MendKind::RebuildFresh);
        run.Line(std::wstring(L"keeps: ") + planned.keeps);
        run.Line(std::wstring(L"loses: ") + planned.loses);
        if (settingsSound && !keepSettings)
            run.Line(L"recommended: --keep-settings, as the old hive " + std::wstring(HiveFindingText(exam.facts.hive)) +
                     L": it keeps " + kept.keeps + L"; it loses " + kept.loses);
    }
    for (uint32_t i = 0; i < kRepairStepCount; ++i) {
        std::wstring step = RepairStepName(static_cast<RepairStep>(i));
        if (static_cast<RepairStep>(i) == RepairStep::DataFolders)
            step += std::wstring(keepApps ? L" (store apps' data kept" : L" (store apps' data made fresh") +
                    (keepAppData ? L", system app data kept" : L", system app data made fresh") +
                    (keepSettings && settingsSound ? L", old hives given to the new SID)" : L")");
        if (run.Json())
            json.String(step);
        else
            run.Line(std::to_wstring(i + 1) + L". " + step);
    }
    if (run.Json()) {
        json.EndArray().Key("cannotCarry").BeginObject().Field("encryptedFiles", counts.encryptedFiles)
            .Field("dataProtectionKeys", counts.masterKeys).Field("fileTypeChoicesReset", true)
            .Field("complete", counts.complete).EndObject().Key("warnings").BeginArray();
        for (const std::wstring& warning : warnings)
            json.String(warning);
        json.EndArray().EndObject();
    } else {
        for (const std::wstring& warning : warnings)
            run.Line(L"warning: " + warning);
    }
    return kExitDone;
}

// The mend in place: the same account's profile-list entry and permissions
// put right, no new SID, no restart.
int RepairMend(CommandRun& run)
{
    const wchar_t* name = run.Argument(0);
    WString console = ConsoleUserName();
    AccountDetails details;
    if (!RequireAccount(run, name, details, console.Text()))
        return kExitNoSuchAccount;
    if (details.console || EqualsNoCase(name, kTempAccountName)) {
        run.Say(L"the account signed in at the console cannot be mended from its own session");
        return kExitRefused;
    }
    const RepairSite site = LocateRepairSite();
    std::wstring underWay = RepairUnderWayMessage(site.toolFolder.c_str());
    if (!underWay.empty()) {
        run.Say(underWay);
        return kExitRefused;
    }
    MendReport report;
    const bool mended = MendInPlace(site, name, run.DryRun(), report);
    for (const std::wstring& change : report.done)
        run.Change(change + L" of " + Quoted(name));
    for (const std::wstring& missed : report.notDone)
        run.NotDone(missed + L" of " + Quoted(name));
    if (!report.refusal.empty()) {
        run.Say(report.refusal + L"; nothing was changed");
        return kExitRefused;
    }
    if (mended)
        return kExitDone;
    run.Say(L"the mend did not put the profile right; what it had changed was put back");
    return kExitFailed;
}

// What the wizard's "Yes" does: the temporary account, the tool folder, the
// start-up of the fix run and the reboot into it.
int RepairSchedule(CommandRun& run)
{
    // The program as it started, held from here on: the copy the fix run
    // starts from is made from this handle, never from the name read again.
    const UniqueFileHandle program = OpenRunningImage();
    const wchar_t* name = run.Argument(0);
    WString sid, folder;
    if (const int refused = RequireRepairable(run, name, sid, folder); refused != kExitDone)
        return refused;
    const RepairSite site = LocateRepairSite();
    std::wstring underWay = RepairUnderWayMessage(site.toolFolder.c_str());
    if (!underWay.empty()) {
        run.Say(underWay);
        return kExitRefused;
    }
    // The wizard restarts the computer right after its set-up; a command
    // could set up a second repair before that restart and replace the
    // first one's settings and start-up under it.
    const WString statePath = StateFilePath(site.toolFolder.c_str());
    const bool restart = !run.Parsed().Has(L"--no-restart");
    if (AccountExists(kTempAccountName) && GetFileAttributesW(statePath.Text()) != INVALID_FILE_ATTRIBUTES) {
        run.Say(L"a repair is already set up and waits for the restart into " + std::wstring(kTempAccountName) +
                L"; nothing was changed (the health check mends a set-up that was left behind)");
        return kExitRefused;
    }
    if (!run.Confirmed(L"scheduling a repair restarts the computer and",
                       restart ? L"Restart the computer now to repair " + Quoted(name) + L"?"
                               : L"Set up the repair of " + Quoted(name) + L" for the next restart?",
                       L"not scheduled"))
        return kExitUsage;
    const std::wstring change =
        L"repair of " + Quoted(name) + L" scheduled: the computer restarts into the temporary account " +
        kTempAccountName + (restart ? L"" : L" at its next restart");
    if (run.DryRun()) {
        // A check mode ends 0: its 3010 would set an engine's restart off.
        run.Change(change, name, L"repair", L"none", L"scheduled");
        if (!restart) {
            run.Say(L"the run would end with 3010: the computer must then restart for the repair");
            if (run.Json())
                run.Document().Field("restartWouldFollow", true);
        }
        return kExitDone;
    }

    RepairSetupInput input;
    static_cast<RepairSite&>(input) = site;
    input.restart = restart;
    input.account = name;
    input.fixFlags = (run.Parsed().Has(L"--keep-store-apps") ? FixFlags::KeepAppPackages : 0) |
                     (run.Parsed().Has(L"--keep-system-appdata") ? FixFlags::KeepSystemAppData : 0) |
                     (run.Parsed().Has(L"--keep-settings") ? FixFlags::KeepSettings : 0);
    input.inTempAccount = EqualsNoCase(ConsoleUserName().Text(), kTempAccountName);
    input.programFile = program.Get();
    RepairSetupResult result = ScheduleRepair(input);
    if (!result.scheduled) {
        run.Say(result.message + (result.undone ? L" What the set-up had made was taken back." : L""));
        return kExitFailed;
    }
    run.Change(change, name, L"repair", L"none", L"scheduled");
    return restart ? kExitDone : kExitRestartNeeded;
}

int RepairStatus(CommandRun& run)
{
    const RepairSite site = LocateRepairSite();
    WString journalPath = JournalPath(site.toolFolder.c_str());
    RepairJournal journal;
    std::wstring problem;
    JournalRead read = ReadJournal(journalPath.Text(), journal, problem);
    std::wstring logText;
    const bool logged = ReadRepairLog(site.logPath.c_str(), logText);
    const wchar_t* state = read == JournalRead::Missing ? L"none" : read == JournalRead::Invalid ? L"invalid"
                           : journal.outcome == RepairOutcome::Running ? L"running" : L"ended";
    if (run.Json()) {
        JsonWriter& json = run.Document();
        json.Key("repair").BeginObject().Field("journal", state);
        if (read == JournalRead::Valid) {
            json.Field("account", journal.account).Field("stepsDone", journal.stepsDone)
                .Field("steps", kRepairStepCount).Field("outcome", static_cast<uint32_t>(journal.outcome));
        }
        if (read == JournalRead::Invalid)
            json.Field("problem", problem);
        json.Key("log");
        !logged ? json.Null() : json.String(logText);
        json.EndObject();
        return kExitDone;
    }
    run.Line(L"journal: " + std::wstring(state));
    if (read == JournalRead::Valid)
        run.Line(L"account: " + Shown(journal.account) + L", steps done: " + std::to_wstring(journal.stepsDone) + L" of " +
                 std::to_wstring(kRepairStepCount));
    if (read == JournalRead::Invalid)
        run.Line(L"problem: " + Shown(problem));
    if (!logged)
        run.Line(L"no log");
    // Line by line: the log's own line breaks stay, any other control goes.
    for (size_t start = 0; start < logText.size();) {
        size_t end = logText.find(L'\n', start);
        end = end == std::wstring::npos ? logText.size() : end;
        std::wstring line = logText.substr(start, end - start);
        if (!line.empty() && line.back() == L'\r')
            line.pop_back();
        run.Line(Shown(line));
        start = end + 1;
    }
    return kExitDone;
}
