// The verbs of personal folders: where they are, and their move and restore.
#include <windows.h>

#include <algorithm>
#include <string>
#include <vector>

#include "accounts/account_hive.h"
#include "accounts/lookup.h"
#include "accounts/personal_folders.h"
#include "app/command_families.h"
#include "app/command_mode.h"
#include "platform/system.h"
#include "platform/text_win.h"
#include "platform/token.h"

namespace {

// Whose personal folders a verb works on: the console user's through its
// token, as in the window; another account's in its own hive, loaded for
// the verb alone and unloaded after it, whatever came of it.
struct FolderOwner {
    WString name;
    WString profile;
    WString sid;
    UniqueToken token;
    BorrowedHive hive;

    bool Read(int index, WString& current, WString& defaultPath) const
    {
        return hive.Root() != nullptr ? ReadHiveFolderLocations(index, hive.Root(), profile.Text(), current, defaultPath)
                                      : ReadFolderLocations(index, token.Get(), current, defaultPath);
    }
};

bool RequireFolderOwner(CommandRun& run, const wchar_t* name, FolderOwner& owner)
{
    owner.token = FindConsoleUser(owner.name, &owner.profile, &owner.sid);
    if (owner.token && EqualsNoCase(owner.name.Text(), name))
        return true;
    owner.token.Reset();
    owner.name.Assign(name);
    owner.profile.Assign(L"");
    const HiveRefusal refusal = GetAccountSidAndProfile(name, owner.sid, &owner.profile)
                                    ? owner.hive.Load(owner.sid.Text(), owner.profile.Text())
                                    : HiveRefusal::NoAccount;
    if (refusal == HiveRefusal::None)
        return true;
    run.Say(std::wstring(HiveRefusalText(refusal, name).Text()) + L" Nothing was changed.");
    return false;
}

// The verb on the account's folders, the account's hive unloaded after it.
int WithFolderOwner(CommandRun& run, int (*verb)(CommandRun& run, FolderOwner& owner))
{
    FolderOwner owner;
    if (!RequireFolderOwner(run, run.Argument(0), owner))
        return kExitRefused;
    int code = verb(run, owner);
    if (!owner.hive.Unload()) {
        run.NotDone(L"the registry hive of " + Quoted(owner.name.Text()) +
                    L" stays loaded until the next restart; restart before it signs in");
        code = std::max(code, static_cast<int>(kExitFailed));
    }
    return code;
}

int ListOwnerFolders(CommandRun& run, FolderOwner& owner)
{
    if (run.Json())
        run.Document().Key("folders").BeginArray();
    for (int index : VisibleFolderRows(GetOsVersionNumber())) {
        WString current, defaultPath;
        owner.Read(index, current, defaultPath);
        if (run.Json())
            run.Document().BeginObject().Field("folder", kPersonalFolders[index].name).Field("location", current.Text())
                .Field("default", defaultPath.Text()).EndObject();
        else
            run.Line(std::wstring(kPersonalFolders[index].name) + L"\t" + Shown(current.Text()));
    }
    if (run.Json())
        run.Document().EndArray();
    return kExitDone;
}


// The move and the restore: the dialog's operation behind the same checks,
// its progress on standard error.
int RelocateFolderVerb(CommandRun& run, FolderOwner& owner, bool restore)
{
    const double osVersion = GetOsVersionNumber();
    const int index = FindPersonalFolder(run.Argument(1));
    const std::vector<int> rows = VisibleFolderRows(osVersion);
    if (index < 0 || std::find(rows.begin(), rows.end(), index) == rows.end()) {
        std::wstring names;
        for (int row : rows)
            names += (names.empty() ? L"" : L", ") + std::wstring(kPersonalFolders[row].name);
        run.Say(L"there is no personal folder " + Quoted(run.Argument(1)) + L" (there are " + names + L")");
        return kExitUsage;
    }
    const wchar_t* folderName = kPersonalFolders[index].name;
    WString current, defaultPath;
    owner.Read(index, current, defaultPath);
    WString target(restore ? defaultPath.Text() : run.Argument(2));
    if (EqualsNoCase(target.Text(), current.Text())) {
        run.Say(std::wstring(folderName) + L" is already at " + Quoted(current.Text()) + L"; nothing was changed");
        return kExitDone;
    }

    FolderRelocation request;
    request.index = index;
    request.sid = owner.sid.Text();
    request.profile = owner.profile.Text();
    request.token = owner.token.Get();
    request.hive = owner.hive.Root();
    request.current = current.Text();
    request.target = target.Text();
    request.restore = restore;
    request.moveContents = !run.Parsed().Has(L"--place-only");
    request.overwrite = run.Parsed().Has(L"--overwrite");
    request.osVersion = osVersion;
    // Every check first, so that a refusal changes nothing and asks nothing.
    request.dryRun = true;
    RelocationResult result = RelocateFolder(request);
    if (result.outcome == RelocationOutcome::Refused) {
        run.Say(std::wstring(RelocationResultText(result, restore, PlaceOnlyHint::CommandLine).Text()) +
                L" Nothing was changed.");
        return kExitRefused;
    }
    if (!run.Confirmed(L"moving a personal folder",
                       std::wstring(restore ? L"Restore " : L"Move ") + folderName + L" to " + Quoted(target.Text()) + L"?",
                       L"not moved"))
        return kExitUsage;
    const std::wstring place = std::wstring(folderName) + L" " + (restore ? L"restored" : L"moved") + L" from " +
                               Quoted(current.Text()) + L" to " + Quoted(target.Text());
    const std::wstring whole = place + (request.moveContents ? L" with its contents" : L"; its contents stay");
    const auto moved = [&](const std::wstring& text) {
        run.Change(text, run.Argument(0), folderName, current.Text(), target.Text());
    };
    if (run.DryRun()) {
        moved(whole);
        return kExitDone;
    }
    request.dryRun = false;
    ULONGLONG said = 0;
    request.progress = [&](const MoveProgress& progress) {
        const ULONGLONG now = GetTickCount64();
        if (!progress.measured.load() || now - said < 1000)
            return;
        said = now;
        run.Progress(MoveProgressText(progress.filesDone.load(), progress.filesTotal.load(),
                                      progress.bytesDone.load(), progress.bytesTotal.load()).Text());
    };
    result = RelocateFolder(request);
    // Only what happened is reported as done: a place set with contents
    // left behind is one change and one thing not done.
    if (result.outcome == RelocationOutcome::Done) {
        moved(whole);
    } else if (!result.placeChanged) {
        run.NotDone(whole);
    } else {
        moved(place);
        if (request.moveContents)
            run.NotDone(std::wstring(L"contents of ") + folderName + L" moved: " +
                        (result.contentsMoved ? std::to_wstring(result.notMoved) + L" entries stayed at " +
                                                    Quoted(current.Text())
                                              : std::wstring(L"none were moved")));
    }
    if (run.Json()) {
        JsonWriter& json = run.Document();
        json.Key("relocation").BeginObject().Field("folder", folderName).Field("from", current.Text())
            .Field("to", target.Text()).Field("placeChanged", result.placeChanged)
            .Field("contentsMoved", result.contentsMoved).Field("notMoved", result.notMoved).Key("left").BeginArray();
        for (const LeftEntry& entry : result.left)
            json.BeginObject().Field("path", entry.path.Text()).Field("reason", LeftReasonText(entry.reason))
                .EndObject();
        json.EndArray().EndObject();
    } else {
        for (const LeftEntry& entry : result.left)
            run.Line(L"not moved: " + Shown(entry.path.Text()) + L"\t" + LeftReasonText(entry.reason));
    }
    if (result.outcome == RelocationOutcome::Done)
        return kExitDone;
    run.Say(RelocationResultText(result, restore, PlaceOnlyHint::CommandLine).Text());
    return result.outcome == RelocationOutcome::Refused ? kExitRefused : kExitFailed;
}

}  // namespace

int ListFolders(CommandRun& run)
{
    return WithFolderOwner(run, ListOwnerFolders);
}


int MoveFolder(CommandRun& run)
{
    return WithFolderOwner(run, [](CommandRun& run, FolderOwner& owner) { return RelocateFolderVerb(run, owner, false); });
}

int RestoreFolder(CommandRun& run)
{
    return WithFolderOwner(run, [](CommandRun& run, FolderOwner& owner) { return RelocateFolderVerb(run, owner, true); });
}
