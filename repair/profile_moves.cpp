#include "repair/profile_moves.h"

#include <string>
#include <vector>

#include "platform/file_move.h"
#include "platform/files.h"
#include "platform/machine.h"
#include "platform/security.h"
#include "platform/tree_walk.h"
#include "platform/text_win.h"
#include "repair/repair_hive.h"
#include "repair/repair_rules.h"

namespace {

constexpr wchar_t kPendingRenamesKey[] = L"SYSTEM\\CurrentControlSet\\Control\\Session Manager";
constexpr DWORD kHiddenSystem = FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_SYSTEM;
constexpr DWORD kInheritBoth = OBJECT_INHERIT_ACE | CONTAINER_INHERIT_ACE;

// The new account's DACL, as data: who gets what, from which version on.
enum class AceWho { NewAccount, WellKnown, SidText, AccountName };
struct AceEntry {
    AceWho who;
    WELL_KNOWN_SID_TYPE wellKnown;
    const wchar_t* name;
    DWORD mask;
    double aboveVersion;   // the entry is added when the version is above this
};
const AceEntry kNewAccountAces[] = {
    {AceWho::NewAccount, WinNullSid, nullptr, GENERIC_ALL, 0.0},
    {AceWho::WellKnown, WinLocalSystemSid, nullptr, GENERIC_ALL, 0.0},
    {AceWho::WellKnown, WinBuiltinAdministratorsSid, nullptr, GENERIC_ALL, 0.0},
    {AceWho::SidText, WinNullSid, L"S-1-15-2-1", GENERIC_READ, 6.1},
    {AceWho::SidText, WinNullSid, L"S-1-15-2-2", GENERIC_READ, 6.1},
    {AceWho::AccountName, WinNullSid, L"TrustedInstaller", GENERIC_ALL, 5.99},
};

}  // namespace

bool BuildNewAccountDacl(RepairContext& context)
{
    if (context.dacl)
        return true;
    if (!SidFromName(context.newSid, context.journal.newSid.c_str()) || !NewAcl(context.dacl))
        return false;
    for (const AceEntry& entry : kNewAccountAces) {
        if (!(context.version > entry.aboveVersion))
            continue;
        LocalSid sid;
        PSID added = nullptr;
        switch (entry.who) {
        case AceWho::NewAccount: added = context.newSid.Get(); break;
        case AceWho::WellKnown: added = WellKnownSid(sid, entry.wellKnown) ? sid.Get() : nullptr; break;
        case AceWho::SidText:
        case AceWho::AccountName: added = SidFromName(sid, entry.name) ? sid.Get() : nullptr; break;
        }
        // A SID this machine cannot make is left out.
        if (added != nullptr) {
            PACL acl = context.dacl.Get();
            AddAllowedAce(&acl, added, entry.mask, kInheritBoth);
        }
    }
    return true;
}

namespace {

// True when the restart already has this rename registered.
bool RenameRegistered(const wchar_t* source, const wchar_t* destination)
{
    HKEY key = nullptr;
    if (RegOpenKeyExW(HKEY_LOCAL_MACHINE, kPendingRenamesKey, 0, KEY_QUERY_VALUE | KEY_WOW64_64KEY, &key) !=
        ERROR_SUCCESS)
        return false;
    UniqueRegKey held(key);
    bool found = false;
    for (const wchar_t* name : {L"PendingFileRenameOperations", L"PendingFileRenameOperations2"}) {
        DWORD size = 0, type = 0;
        if (RegQueryValueExW(key, name, nullptr, &type, nullptr, &size) != ERROR_SUCCESS || type != REG_MULTI_SZ)
            continue;
        std::wstring data(size / sizeof(wchar_t) + 2, L'\0');
        if (RegQueryValueExW(key, name, nullptr, &type, reinterpret_cast<BYTE*>(&data[0]), &size) != ERROR_SUCCESS)
            continue;
        found |= RenameIsPending(data.c_str(), size / sizeof(wchar_t), source, destination);
    }
    return found;
}




// Puts the fresh hive file at `placed`. When the old file there is still in
// use, the fresh one is set beside it (`waiting`, outside the fresh folder,
// which is deleted later) and the rename is registered for the restart,
// once. True when the file is in place or will be at the restart.
bool PlaceHive(const wchar_t* fresh, const wchar_t* waiting, const wchar_t* placed)
{
    WString freshLong, waitingLong, placedLong;
    if (!AbsoluteLongPath(fresh, freshLong) || !AbsoluteLongPath(waiting, waitingLong) ||
        !AbsoluteLongPath(placed, placedLong))
        return false;
    if (GetFileAttributesW(freshLong.Text()) != INVALID_FILE_ATTRIBUTES &&
        MoveFileExW(freshLong.Text(), placedLong.Text(), MOVEFILE_REPLACE_EXISTING))
        return true;
    if (GetFileAttributesW(freshLong.Text()) != INVALID_FILE_ATTRIBUTES &&
        !MoveFileExW(freshLong.Text(), waitingLong.Text(), MOVEFILE_REPLACE_EXISTING))
        return false;
    if (GetFileAttributesW(waitingLong.Text()) == INVALID_FILE_ATTRIBUTES)
        return false;
    if (MoveFileExW(waitingLong.Text(), placedLong.Text(), MOVEFILE_REPLACE_EXISTING))
        return true;
    LocalSid administrators;
    if (WellKnownSid(administrators, WinBuiltinAdministratorsSid))
        ResetFolderSecurity(waiting, administrators.Get());
    if (RenameRegistered(waiting, placed))
        return true;
    return MoveFileExW(waiting, placed, MOVEFILE_DELAY_UNTIL_REBOOT | MOVEFILE_REPLACE_EXISTING) != FALSE;
}


// The names of the folders directly inside a folder, and its links, as the
// walker finds them.
struct TopFolders : TreeVisitor {
    std::vector<WString> names;
    std::vector<WString> links;
    std::vector<WString> refused;   // could not be opened or listed
    void OnFailure(const TreeFolder& folder, const TreeEntry* entry, WalkFailure why) override
    {
        if (why != WalkFailure::Gone && why != WalkFailure::TooDeep && (entry == nullptr || entry->IsFolder()))
            refused.push_back(entry != nullptr ? folder.DisplayPathOf(*entry) : folder.DisplayPath());
    }
    bool OnEnter(const TreeFolder& folder) override
    {
        if (folder.depth == 1)
            names.emplace_back(folder.entry->name.Text());
        return folder.depth == 0;
    }
    void OnLink(const TreeFolder& folder, const TreeEntry& entry) override
    {
        links.push_back(folder.DisplayPathOf(entry));
    }
};

}  // namespace

bool Exists(const wchar_t* path)
{
    WString full;
    return AbsoluteLongPath(path, full) && GetFileAttributesW(full.Text()) != INVALID_FILE_ATTRIBUTES;
}

void AddAttributes(const wchar_t* path, DWORD add, DWORD remove)
{
    WString full;
    if (!AbsoluteLongPath(path, full))
        return;
    DWORD attributes = GetFileAttributesW(full.Text());
    if (attributes != INVALID_FILE_ATTRIBUTES)
        SetFileAttributesW(full.Text(), (attributes & ~remove) | add);
}

// The old folder's entry gets the fresh folder's permissions, or the new
// account's DACL when the fresh folder has no such entry.
void GiveSecurity(RepairContext& context, const wchar_t* from, const wchar_t* to)
{
    TreeSecuritySkips skips;
    bool applied = CopySecurity(from, to, kCopyTreeKeepingExplicit, &skips);
    if (!applied && BuildNewAccountDacl(context)) {
        skips = TreeSecuritySkips();
        PACL acl = context.dacl.Get();
        applied = ApplySecurity(&acl, to, SE_FILE_OBJECT, kCopyTreeKeepingExplicit, context.newSid.Get(), &skips);
    }
    // Nothing the pass left as it was goes unsaid.
    for (const WString& path : skips.refused)
        LogPath(context, L"Access refused; the new account did not get its permissions on", path.Text());
    for (const WString& path : skips.hardLinked)
        LogPath(context, L"A file with another name elsewhere (a hard link) kept its permissions:", path.Text());
    if (!skips.refused.empty() || !skips.hardLinked.empty()) {
        WString counts;
        counts.FromInt64(static_cast<int64_t>(skips.refused.size()));
        WString linked;
        linked.FromInt64(static_cast<int64_t>(skips.hardLinked.size()));
        counts.Append(L" refused, ", linked.Text(), L" hard-linked, in");
        LogPath(context, counts.Text(), to);
    }
    if (!applied)
        LogPath(context, L"Failed to give the new account its permissions on", to);
}

void GiveProfilePermissions(RepairContext& context, const wchar_t* fresh, const wchar_t* old)
{
    if (!CopySecurity(fresh, old, kCopyDacl | kCopyOwner))
        LogPath(context, L"Failed to give the new account its permissions on", old);
    // The folders directly inside, each opened as itself.
    TopFolders top;
    if (WalkTree(old, top, 1) != WalkRoot::Walked)
        top.refused.emplace_back(old);
    for (const WString& link : top.links)
        LogPath(context, L"A link leads out of the profile here; it was left alone:", link.Text());
    // A folder the walk could not open or list keeps its old permissions:
    // said and counted, never passed over in silence.
    for (const WString& refused : top.refused)
        LogPath(context, L"Access refused; the new account did not get its permissions on", refused.Text());
    if (!top.refused.empty()) {
        WString count;
        count.FromInt64(static_cast<int64_t>(top.refused.size()));
        count.Append(L" folders refused the permission pass in");
        LogPath(context, count.Text(), old);
    }
    for (const WString& name : top.names) {
        WString from = JoinPath(fresh, name.Text()), to = JoinPath(old, name.Text());
        GiveSecurity(context, from.Text(), to.Text());
        machine::PowerCutPoint(L"step 8 folder entry");
    }
}

bool MoveContents(RepairContext& context, const wchar_t* source, const wchar_t* destination, const wchar_t* point)
{
    CreateDirectoryPath(destination);
    bool whole = true;
    // The names first: the folder changes while its entries move.
    struct Names : TreeVisitor {
        std::wstring all;
        void Add(const TreeEntry& entry) { all.append(entry.name.Text()).push_back(L'\n'); }
        void OnFile(const TreeFolder&, const TreeEntry& entry, HANDLE) override { Add(entry); }
        void OnLink(const TreeFolder&, const TreeEntry& entry) override { Add(entry); }
        bool OnEnter(const TreeFolder& folder) override
        {
            if (folder.entry != nullptr)
                Add(*folder.entry);
            return folder.parent == nullptr;
        }
    } listed;
    WalkTree(source, listed, 1);
    const std::wstring& names = listed.all;
    for (size_t at = 0; at < names.size();) {
        size_t end = names.find(L'\n', at);
        std::wstring name = names.substr(at, end - at);
        at = end + 1;
        WString from = JoinPath(source, name.c_str()), to = JoinPath(destination, name.c_str());
        WString fromLong, toLong;
        if (AbsoluteLongPath(from.Text(), fromLong) && AbsoluteLongPath(to.Text(), toLong) &&
            MoveFileExW(fromLong.Text(), toLong.Text(), MOVEFILE_REPLACE_EXISTING)) {
            machine::PowerCutPoint(point);
            continue;
        }
        // A folder of that name is already there (from a cut move) or the
        // rename is refused: its contents move one by one, checked.
        FolderMove move;
        move.owner = &context;
        move.source.Assign(from.Text());
        move.destination.Assign(to.Text());
        move.flags = MOVEFILE_REPLACE_EXISTING;
        bool isFolder = (GetFileAttributesW(fromLong.Text()) & FILE_ATTRIBUTE_DIRECTORY) != 0 &&
                        GetFileAttributesW(fromLong.Text()) != INVALID_FILE_ATTRIBUTES;
        if (isFolder && MoveFolderContents(move) == 0 && !move.refused) {
            RemoveDirectoryW(fromLong.Text());
        } else {
            whole = false;
            if (move.left.empty())
                LogPath(context, L"Failed to move", from.Text());
            for (const LeftEntry& left : move.left)
                LogPath(context, L"Failed to move", left.path.Text());
        }
        machine::PowerCutPoint(point);
    }
    return whole;
}


void ReplaceDataFolder(RepairContext& context, const wchar_t* src, const wchar_t* dst, uint32_t emptiedMark,
                       uint32_t movedMark, const DataFolderPoints& points)
{
    if ((context.journal.marks & movedMark) != 0)
        return;
    if (!Exists(src)) {
        // Nothing fresh to put there: the old data is kept rather than lost.
        if ((context.journal.marks & emptiedMark) == 0) {
            LogPath(context, L"The new account has no such folder; the old one was kept:", dst);
            GiveSecurity(context, src, dst);
        }
        Mark(context, movedMark, points.moved);
        return;
    }
    if ((context.journal.marks & emptiedMark) == 0) {
        if (Exists(dst) && DeletePath(dst, kDeleteTakeOver | kDeleteKeepTop) == kDeleteFailed)
            LogPath(context, L"Failed to empty", dst);
        Mark(context, emptiedMark, points.emptied);
    }
    WString srcLong, dstLong;
    bool renamed = AbsoluteLongPath(src, srcLong) && AbsoluteLongPath(dst, dstLong) &&
                   MoveFileExW(srcLong.Text(), dstLong.Text(), MOVEFILE_REPLACE_EXISTING);
    if (!renamed) {
        if (MoveContents(context, src, dst, points.entry))
            RemoveDirectoryW(srcLong.Text());
        else
            LogPath(context, L"Not everything could be moved into", dst);
    }
    Mark(context, movedMark, points.moved);
}


void ReplaceHive(RepairContext& context, const wchar_t* freshFolder, const wchar_t* placedFolder,
                 const HivePlacement& hive, bool movedWithFolder)
{
    const wchar_t* file = hive.file;
    const wchar_t* mask = hive.mask;
    WString fresh = JoinPath(freshFolder, file), placed = JoinPath(placedFolder, file);
    WString waitingName(L"Brenwick new ");
    waitingName.Append(file);
    WString waiting = JoinPath(placedFolder, waitingName.Text());
    bool freshExists = Exists(fresh.Text()) || Exists(waiting.Text());
    HiveAction action =
        DecideHiveAction(freshExists, (context.journal.marks & hive.removedMark) != 0, movedWithFolder);
    if (action == HiveAction::RemoveOldThenMove || action == HiveAction::RemoveOldOnly) {
        LocalAcl takeOver;
        LocalSid administrators;
        BuildRecipeDacl(SecurityRecipe::TakeOverFile, 0, nullptr, takeOver);
        WellKnownSid(administrators, WinBuiltinAdministratorsSid);
        if (DeleteDirectoryContents(placedFolder, mask, hive.deleteFlags | kDeleteKeepTop, takeOver.Get(),
                                    administrators.Get()) == kDeleteFailed) {
            WString files = JoinPath(placedFolder, mask);
            LogPath(context, L"Not every old hive file could be deleted:", files.Text());
        }
        AddAttributes(placed.Text(), 0, kHiddenSystem);
        if (Exists(placed.Text()) && DeletePath(placed.Text(), kDeleteTakeOver | kDeleteScheduleAtRestart) == kDeleteFailed)
            LogPath(context, L"Failed to delete", placed.Text());
        Mark(context, hive.removedMark, hive.removedPoint);
    }
    bool done = action == HiveAction::Placed || action == HiveAction::RemoveOldOnly;
    if (action == HiveAction::RemoveOldThenMove || action == HiveAction::Move) {
        done = PlaceHive(fresh.Text(), waiting.Text(), placed.Text());
        if (!done) {
            Log(context, hive.error);
            LogPath(context, L"The new hive could not be put in place:", placed.Text());
        }
    }
    if (done)
        ++context.journal.hiveCount;
    AddAttributes(placed.Text(), kHiddenSystem, 0);
    // A hive waiting for the restart becomes the placed one then, attributes and all.
    AddAttributes(waiting.Text(), kHiddenSystem, 0);
}

