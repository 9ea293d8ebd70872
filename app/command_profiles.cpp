#include "app/command_profiles.h"

#include <string>
#include <vector>

#include "accounts/lookup.h"
#include "accounts/personal_folder_rules.h"
#include "accounts/profile_use.h"
#include "app/command_mode.h"
#include "platform/files.h"
#include "platform/text_win.h"

namespace {

std::wstring Quoted(const wchar_t* text)
{
    return L"\"" + std::wstring(text) + L"\"";
}

// Paths and names come from places users can write: shown, never obeyed.
std::wstring Shown(const wchar_t* text)
{
    return EscapeControls(text).Text();
}

std::wstring Owner(const ProfileUse& use)
{
    return (*use.account.Text() == L'\0') ? L"deleted account " + std::wstring(use.sid.Text()) : Quoted(use.account.Text());
}

void WriteUseJson(JsonWriter& json, const ProfileUse& use, const uint64_t* size)
{
    const ProfileUseFacts& f = use.facts;
    json.BeginObject().Field("sid", use.sid.Text()).Key("account");
    (*use.account.Text() == L'\0') ? json.Null() : json.String(use.account.Text());
    json.Field("folder", use.folder.Text()).Key("lastUse");
    f.lastUse == 0 ? json.Null() : json.String(LastUseText(f.lastUse));
    json.Field("lastUseFrom", LastUseSourceText(f.source))
        .Field("loaded", f.loaded)
        .Field("special", f.special)
        .Field("temporary", f.temporary)
        .Field("backup", f.backup)
        .Field("corrupt", f.corrupt);
    if (size != nullptr)
        json.Field("sizeBytes", *size);
}

std::wstring UseLine(const ProfileUse& use)
{
    const ProfileUseFacts& f = use.facts;
    std::wstring flags;
    for (const wchar_t* flag : ProfileFlagNames(f))
        flags += (flags.empty() ? L"" : L",") + std::wstring(flag);
    return std::wstring(use.sid.Text()) + L"\t" +
           ((*use.account.Text() == L'\0') ? std::wstring(L"deleted account") : Shown(use.account.Text())) + L"\t" +
           Shown(use.folder.Text()) + L"\t" + (f.lastUse == 0 ? L"?" : LastUseText(f.lastUse)) + L" (" +
           LastUseSourceText(f.source) + L")\t" + (flags.empty() ? L"-" : flags);
}

std::wstring ConsoleSid()
{
    WString name, sid;
    FindConsoleUser(name, nullptr, &sid);
    return sid.Text();
}

}  // namespace

int ListProfiles(CommandRun& run)
{
    const bool sizes = run.Parsed().Has(L"--sizes");
    std::vector<ProfileUse> uses;
    if (!ReadProfileUses(ConsoleSid().c_str(), uses)) {
        run.Say(L"the profile list or the accounts could not be read whole");
        return kExitFailed;
    }
    if (run.Json())
        run.Document().Key("profiles").BeginArray();
    for (const ProfileUse& use : uses) {
        uint64_t bytes = 0;
        const bool sized = sizes && !(*use.folder.Text() == L'\0') && MeasureDirectory(use.folder.Text(), bytes);
        if (run.Json()) {
            WriteUseJson(run.Document(), use, sized ? &bytes : nullptr);
            if (sizes && !sized)
                run.Document().Key("sizeBytes").Null();
            run.Document().EndObject();
        } else {
            run.Line(UseLine(use) + (sizes ? L"\t" + (sized ? std::wstring(ByteSizeText(bytes).Text()) : L"?") : L""));
        }
    }
    if (run.Json())
        run.Document().EndArray();
    return kExitDone;
}

int CleanProfiles(CommandRun& run)
{
    const ParsedCommand& p = run.Parsed();
    ProfileCleaning cleaning;
    if (!ReadDays(p.Value(L"--unused-for"), cleaning.unusedForDays)) {
        run.Say(L"--unused-for needs a number of days from 1 to 36500");
        return kExitUsage;
    }
    if (p.Has(L"--exclude") == p.arguments.empty()) {
        run.Say(p.arguments.empty() ? L"--exclude needs the names or SIDs of the profiles to keep"
                                    : L"names are taken only after --exclude");
        return kExitUsage;
    }
    cleaning.exclude = p.arguments;
    cleaning.keepAccounts = p.Has(L"--keep-accounts");
    cleaning.confirmed = p.yes;
    return CleanProfilesAs(run, cleaning);
}

int CleanProfilesAs(CommandRun& run, const ProfileCleaning& cleaning)
{
    const uint32_t days = cleaning.unusedForDays;
    std::vector<ProfileUse> uses;
    if (!ReadProfileUses(ConsoleSid().c_str(), uses)) {
        run.Say(L"the profile list or the accounts could not be read whole; nothing was changed");
        return kExitFailed;
    }
    const uint64_t now = NowTicks();
    struct Candidate {
        const ProfileUse* use;
        ProfileDeletionPlan plan;
    };
    std::vector<Candidate> candidates;
    std::vector<const ProfileUse*> refused;
    const bool json = run.Json() && cleaning.listed;
    if (json)
        run.Document().Key("profiles").BeginArray();
    for (ProfileUse& use : uses) {
        bool left = false;
        for (const std::wstring& sid : cleaning.leftSids)
            left = left || EqualsNoCase(sid.c_str(), use.sid.Text());
        if (left)
            continue;
        // By the account's name, the SID, or the folder's name: a deleted
        // account's profile has no name left but its folder's.
        const wchar_t* slash = wcsrchr(use.folder.Text(), L'\\');
        const wchar_t* folderName = slash != nullptr ? slash + 1 : use.folder.Text();
        for (const std::wstring& name : cleaning.exclude)
            for (const wchar_t* known : {use.sid.Text(), use.account.Text(), folderName})
                use.facts.excluded = use.facts.excluded || (*known != L'\0' && EqualsNoCase(name.c_str(), known));
        const ProfileKeep keep = WhyProfileStays(use.facts, now, days);
        ProfileDeletionPlan plan;
        bool keepAccount = cleaning.keepAccounts;
        for (const std::wstring& kept : cleaning.keptAccounts)
            keepAccount = keepAccount || EqualsNoCase(kept.c_str(), use.account.Text());
        if (keep == ProfileKeep::None)
            plan = PlanProfileDeletion(use, keepAccount);
        if (keep == ProfileKeep::None && plan.folderGoes)
            candidates.push_back({&use, plan});
        else if (keep == ProfileKeep::None)
            refused.push_back(&use);
        const wchar_t* decision = keep != ProfileKeep::None ? ProfileKeepText(keep)
                                  : plan.folderGoes         ? (plan.accountGoes ? L"goes with its account" : L"goes")
                                                            : L"kept: not inside the profiles folder, shared or a link";
        if (json) {
            WriteUseJson(run.Document(), use, nullptr);
            run.Document().Field("decision", decision).EndObject();
        } else if (!run.Json() && cleaning.listed && (run.Parsed().verbose || keep == ProfileKeep::None)) {
            run.Line(UseLine(use) + L"\t" + decision);
        }
    }
    if (json)
        run.Document().EndArray();
    int exitCode = kExitDone;
    for (const ProfileUse* use : refused) {
        run.NotDone(L"profile " + Quoted(use->folder.Text()) + L" of " + Owner(*use) +
                    L" deleted: it was kept because it does not lie inside the profiles folder, is shared or is a link");
        exitCode = kExitFailed;
    }
    if (candidates.empty()) {
        if (exitCode == kExitDone)
            run.Say(L"no profile has been unused for more than " + std::to_wstring(days) + L" days");
        return exitCode;
    }
    if (!run.DryRun() && !cleaning.confirmed) {
        if (!run.HasConsoleInput()) {
            run.Say(L"deleting profiles needs --yes when no console can answer; nothing was changed");
            return kExitUsage;
        }
        if (!run.Ask((L"Delete " + std::to_wstring(candidates.size()) + L" profiles unused for more than " +
                      std::to_wstring(days) + L" days?").c_str())) {
            run.Say(L"not deleted");
            return kExitUsage;
        }
    }
    for (const Candidate& c : candidates) {
        const ProfileUse& use = *c.use;
        const std::wstring accountGone = L"account " + Quoted(use.account.Text()) + L" deleted";
        const std::wstring profileGone =
            c.plan.verdict == ProfileFolderVerdict::Inside
                ? L"profile " + Quoted(use.folder.Text()) + L" of " + Owner(use) + L" deleted"
                : L"profile-list entry of " + Owner(use) + L" removed (its folder was already gone)";
        if (run.DryRun()) {
            if (c.plan.accountGoes)
                run.Change(accountGone, use.account.Text(), L"account", L"disabled", L"absent");
            run.Change(profileGone, use.sid.Text(), L"profile", use.folder.Text(), L"");
            continue;
        }
        const ProfileDeletionEnd end = DeleteProfileAsPlanned(use, c.plan);
        if (end == ProfileDeletionEnd::AccountStayed) {
            run.NotDone(accountGone + L" with its profile " + Quoted(use.folder.Text()));
            exitCode = kExitFailed;
            continue;
        }
        if (c.plan.accountGoes)
            run.Change(accountGone, use.account.Text(), L"account", L"disabled", L"absent");
        if (end == ProfileDeletionEnd::LeftAlone || end == ProfileDeletionEnd::FilesLeft) {
            run.NotDone(profileGone + (end == ProfileDeletionEnd::LeftAlone ? L": it was found loaded, or no longer "
                                                                              L"inside the profiles folder"
                                                                            : L": some of its files could not be deleted"));
            exitCode = kExitFailed;
            continue;
        }
        const bool atRestart = end == ProfileDeletionEnd::GoneAtRestart;
        run.Change(profileGone + (atRestart ? L"; some of its files go at the next restart" : L""), use.sid.Text(),
                   L"profile", use.folder.Text(), L"");
        if (atRestart && exitCode == kExitDone)
            exitCode = kExitRestartNeeded;
    }
    return exitCode;
}
