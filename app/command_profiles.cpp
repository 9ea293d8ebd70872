#include "app/command_profiles.h"

#include <string>
#include <vector>

#include "accounts/lookup.h"
#include "accounts/personal_folder_rules.h"
#include "accounts/profile_use.h"
#include "accounts/profile_keys.h"
#include "app/command_families.h"
#include "app/command_mode.h"
#include "platform/files.h"
#include "platform/text_win.h"

namespace {

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
    const bool csv = run.Parsed().Has(L"--csv");
    if (!CsvOrJsonChosen(run))
        return kExitUsage;
    std::vector<ProfileUse> uses;
    if (!ReadProfileUses(ConsoleSid().c_str(), uses)) {
        run.Say(L"the profile list or the accounts could not be read whole");
        return kExitFailed;
    }
    if (run.Json())
        run.Document().Key("profiles").BeginArray();
    std::vector<std::vector<std::wstring>> rows;
    for (const ProfileUse& use : uses) {
        uint64_t bytes = 0;
        const bool sized = sizes && !(*use.folder.Text() == L'\0') && MeasureDirectory(use.folder.Text(), bytes);
        if (csv) {
            // As the document has them; an empty account: a deleted one's.
            const ProfileUseFacts& f = use.facts;
            auto yes = [](bool b) { return std::wstring(b ? L"yes" : L"no"); };
            rows.push_back({use.sid.Text(), use.account.Text(), use.folder.Text(), LastUseText(f.lastUse),
                            LastUseSourceText(f.source), yes(f.loaded), yes(f.special), yes(f.temporary),
                            yes(f.backup), yes(f.corrupt)});
            if (sizes)
                rows.back().push_back(sized ? std::to_wstring(bytes) : L"");
        } else if (run.Json()) {
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
    if (csv) {
        std::vector<std::wstring> header = {L"sid",    L"account", L"folder",    L"lastUse", L"lastUseFrom",
                                            L"loaded", L"special", L"temporary", L"backup",  L"corrupt"};
        if (sizes)
            header.push_back(L"sizeBytes");
        WriteCsvTable(run, header, rows);
    }
    return kExitDone;
}

namespace {

const wchar_t kNotPlainFolder[] = L"not inside the profiles folder, shared or a link";

// A profile chosen to go, with what its deletion will do.
struct Candidate {
    const ProfileUse* use;
    ProfileDeletionPlan plan;
};

// A profile that stays by rule: the document's "kept", with its reason.
struct Kept {
    const ProfileUse* use;
    std::wstring reason;
};

void WriteKeptJson(CommandRun& run, const std::vector<Kept>& kept)
{
    if (!run.Json())
        return;
    JsonWriter& json = run.Document();
    json.Key("kept").BeginArray();
    for (const Kept& k : kept) {
        json.BeginObject().Field("sid", k.use->sid.Text()).Key("account");
        (*k.use->account.Text() == L'\0') ? json.Null() : json.String(k.use->account.Text());
        json.Field("folder", k.use->folder.Text()).Field("reason", k.reason).EndObject();
    }
    json.EndArray();
}

// Deletes the candidates as planned (with --dry-run: says what would go),
// after the operator's yes; `exitCode` is what came before. The one path
// of the clean-up and of a single profile's deletion.
int DeleteCandidates(CommandRun& run, const std::vector<Candidate>& candidates, const std::wstring& question,
                     int exitCode, bool confirmed)
{
    if (!confirmed && !run.Confirmed(L"deleting profiles", question, L"not deleted"))
        return kExitUsage;
    // Read again after the yes, which may have taken minutes; once for all.
    ProfileFolderSet folders;
    if (!run.DryRun())
        folders.Read();
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
        const ProfileDeletionEnd end = DeleteProfileAsPlanned(use, c.plan, folders);
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

// The folder's last part: a deleted account's profile has no name left but
// its folder's.
const wchar_t* FolderName(const ProfileUse& use)
{
    const wchar_t* slash = wcsrchr(use.folder.Text(), L'\\');
    return slash != nullptr ? slash + 1 : use.folder.Text();
}

}  // namespace

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
    ProfileFolderSet folders;
    folders.Read();
    std::vector<Candidate> candidates;
    std::vector<Kept> kept;
    const bool json = run.Json() && cleaning.listed;
    if (json)
        run.Document().Key("profiles").BeginArray();
    for (ProfileUse& use : uses) {
        bool left = false;
        for (const std::wstring& sid : cleaning.leftSids)
            left = left || EqualsNoCase(sid.c_str(), use.sid.Text());
        if (left)
            continue;
        // By the account's name, the SID, or the folder's name.
        for (const std::wstring& name : cleaning.exclude)
            for (const wchar_t* known : {use.sid.Text(), use.account.Text(), FolderName(use)})
                use.facts.excluded = use.facts.excluded || (*known != L'\0' && EqualsNoCase(name.c_str(), known));
        const ProfileKeep keep = WhyProfileStays(use.facts, now, days);
        ProfileDeletionPlan plan;
        bool keepAccount = cleaning.keepAccounts;
        for (const std::wstring& account : cleaning.keptAccounts)
            keepAccount = keepAccount || EqualsNoCase(account.c_str(), use.account.Text());
        if (keep == ProfileKeep::None)
            plan = PlanProfileDeletion(use, keepAccount, folders);
        if (keep == ProfileKeep::None && plan.folderGoes)
            candidates.push_back({&use, plan});
        else
            kept.push_back({&use, keep != ProfileKeep::None ? ProfileKeepText(keep) : kNotPlainFolder});
        const std::wstring decision = keep != ProfileKeep::None ? ProfileKeepText(keep)
                                      : plan.folderGoes ? (plan.accountGoes ? L"goes with its account" : L"goes")
                                                        : L"kept: " + std::wstring(kNotPlainFolder);
        if (json) {
            WriteUseJson(run.Document(), use, nullptr);
            run.Document().Field("decision", decision).EndObject();
        } else if (!run.Json() && cleaning.listed && (run.Parsed().verbose || keep == ProfileKeep::None)) {
            run.Line(UseLine(use) + L"\t" + decision);
        }
        // Unused long enough, but its folder is no plain profile folder of
        // its own: kept, as a loaded one is, and said; no failure.
        if (keep == ProfileKeep::None && !plan.folderGoes)
            run.Say(L"profile " + Quoted(use.folder.Text()) + L" of " + Owner(use) + L" kept: it is " +
                    kNotPlainFolder);
    }
    if (json) {
        run.Document().EndArray();
        WriteKeptJson(run, kept);
    }
    if (candidates.empty()) {
        run.Say(L"no profile unused for more than " + std::to_wstring(days) + L" days can go");
        return kExitDone;
    }
    return DeleteCandidates(run, candidates,
                           L"Delete " + std::to_wstring(candidates.size()) + L" profiles unused for more than " +
                               std::to_wstring(days) + L" days?",
                           kExitDone, cleaning.confirmed);
}

int DeleteOneProfile(CommandRun& run)
{
    std::wstring named = run.Argument(0);
    // A RID names the account, as for every other verb.
    WString account;
    switch (named[0] == L'#' ? ResolveAccountReference(named.c_str(), account) : AccountReference::Name) {
    case AccountReference::Found: named = account.Text(); break;
    case AccountReference::NotFound:
    case AccountReference::Absent:
        run.Say(L"no such account: no local account has the RID \"" + named +
                L"\" (a deleted account's profile is named by its SID or folder)");
        return kExitNoSuchAccount;
    case AccountReference::Name: break;
    }
    std::vector<ProfileUse> uses;
    if (!ReadProfileUses(ConsoleSid().c_str(), uses)) {
        run.Say(L"the profile list or the accounts could not be read whole; nothing was changed");
        return kExitFailed;
    }
    // By SID, else the account's name, else the folder's path, else its
    // last part: the first of these that any profile answers to decides.
    std::vector<const ProfileUse*> found;
    for (int by = 0; by < 4 && found.empty(); ++by)
        for (const ProfileUse& use : uses) {
            const wchar_t* known[] = {use.sid.Text(), use.account.Text(), use.folder.Text(), FolderName(use)};
            if (*known[by] != L'\0' && EqualsNoCase(named.c_str(), known[by]))
                found.push_back(&use);
        }
    if (found.empty()) {
        run.Say(L"no profile is named " + Quoted(named.c_str()) + L" by its account, SID or folder; nothing to delete");
        return kExitDone;
    }
    if (found.size() > 1) {
        std::wstring which;
        for (const ProfileUse* use : found)
            which += (which.empty() ? L"" : L", ") + Quoted(use->folder.Text()) + L" (" + use->sid.Text() + L")";
        run.Say(Quoted(named.c_str()) + L" names more than one profile: " + Shown(which.c_str()) +
                L"; name the one by its SID; nothing was changed");
        return kExitUsage;
    }
    const ProfileUse& use = *found.front();
    if (run.Json()) {
        run.Document().Key("profiles").BeginArray();
        WriteUseJson(run.Document(), use, nullptr);
        run.Document().EndObject().EndArray();
    }
    // The clean-up's checks but its age: the operator named this one. Its
    // account stays, as the system's own profile deletion leaves it.
    const ProfileKeep keep = WhyProfileMustStay(use.facts);
    ProfileFolderSet folders;
    if (keep == ProfileKeep::None)
        folders.Read();
    const ProfileDeletionPlan plan =
        keep == ProfileKeep::None ? PlanProfileDeletion(use, true, folders) : ProfileDeletionPlan{};
    if (keep != ProfileKeep::None || !plan.folderGoes) {
        const std::wstring reason = keep != ProfileKeep::None ? ProfileKeepText(keep) : kNotPlainFolder;
        WriteKeptJson(run, {{&use, reason}});
        run.Say(L"the profile " + Quoted(Shown(use.folder.Text()).c_str()) + L" of " + Shown(Owner(use).c_str()) +
                L" stays: it is " + reason + L"; nothing was changed");
        return kExitRefused;
    }
    WriteKeptJson(run, {});
    return DeleteCandidates(run, {{&use, plan}},
                            L"Delete the profile " + Quoted(use.folder.Text()) + L" of " + Owner(use) + L"?",
                            kExitDone, false);
}

int ProfileKeys(CommandRun& run)
{
    std::vector<WString> names;
    FindCorruptedProfileKeys(names);
    const bool repair = run.Parsed().Has(L"--repair");
    if (run.Json())
        run.Document().Key("keys").BeginArray();
    for (WString& key : names) {
        if (run.Json())
            run.Document().String(key.Text());
        else if (!repair)
            run.Line(Shown(key.Text()));
    }
    if (run.Json())
        run.Document().EndArray();
    if (!repair)
        return kExitDone;
    uint32_t failed = 0;
    for (WString& key : names) {
        const std::wstring change = L"profile key " + Quoted(key.Text()) + L" repaired";
        if (run.DryRun() || RepairProfileKey(key.Text())) {
            run.Change(change);
        } else {
            run.NotDone(change);
            ++failed;
        }
    }
    if (failed == 0)
        return kExitDone;
    run.Say(std::to_wstring(failed) + L" of " + std::to_wstring(names.size()) + L" keys were not put in place");
    return kExitFailed;
}
