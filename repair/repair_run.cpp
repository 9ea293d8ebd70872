#include "repair/repair_run.h"

#include <windows.h>
#include <commctrl.h>
#include <objbase.h>
#include <shlobj.h>
#include <shlwapi.h>

#include <string>
#include <vector>

#include "accounts/account_lifecycle.h"
#include "accounts/account_list.h"
#include "accounts/lookup.h"
#include "accounts/passwords.h"
#include "accounts/pictures.h"
#include "platform/file_move.h"
#include "platform/files.h"
#include "platform/machine.h"
#include "platform/registry.h"
#include "platform/security.h"
#include "platform/tree_walk.h"
#include "platform/text_win.h"
#include "repair/repair_hive.h"
#include "repair/repair_journal.h"
#include "repair/repair_settings.h"
#include "repair/repair_tool.h"
#include "repair/state_file.h"

namespace {

constexpr wchar_t kBackupKey[] = L"HKLM64\\Software\\TaskbandBrenwickKey";
constexpr wchar_t kTaskband[] = L"\\Software\\Microsoft\\Windows\\CurrentVersion\\Explorer\\Taskband";
constexpr wchar_t kProfileList[] = L"HKLM64\\SOFTWARE\\Microsoft\\Windows NT\\CurrentVersion\\ProfileList\\";
constexpr wchar_t kPackages[] = L"\\AppData\\Local\\Packages";
constexpr wchar_t kSystemAppData[] = L"\\AppData\\Local\\Microsoft\\Windows";
constexpr wchar_t kLegacySystemAppData[] = L"\\Local Settings\\Application Data\\Microsoft\\Windows";
constexpr wchar_t kPendingRenamesKey[] = L"SYSTEM\\CurrentControlSet\\Control\\Session Manager";
constexpr uint32_t kFullNameCapacity = 256;
constexpr DWORD kHiddenSystem = FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_SYSTEM;
constexpr DWORD kInheritBoth = OBJECT_INHERIT_ACE | CONTAINER_INHERIT_ACE;
constexpr uint32_t kAdministratorType = 2;

// The report's rows, in the order they appear.
enum class Row { Info, Delete, Create, Move, Count };
const wchar_t* const kRowTexts[] = {
    L"Get user account information\nWorking on it",
    L"Delete the old user account\nWorking on it",
    L"Create a new user account\nWorking on it",
    L"Move account data and fix permissions\nWorking on it",
};

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

struct RepairContext {
    RepairTool* tool = nullptr;
    HWND list = nullptr;              // not owned; null without a window
    const wchar_t* account = L"";
    double version = 0.0;
    WString journalPath;
    WString statePath;
    WString fullName;
    RepairJournal journal;
    bool journalWritable = true;
    int rows[static_cast<int>(Row::Count)] = {-1, -1, -1, -1};
    LocalAcl dacl;                    // built when first needed
    LocalSid newSid;
};

// ---------------------------------------------------------------------------
// The report list and the log.

void Log(RepairContext& context, const wchar_t* text)
{
    context.tool->WriteLogEntry(text, 0);
}

// "<before>" + quoted account + "<after>".
void LogAbout(RepairContext& context, const wchar_t* before, const wchar_t* after)
{
    WString text(before);
    text.Append(L"\"", context.account, L"\"", after);
    Log(context, text.Text());
}

// A failed file operation, with its path, so that the operator can finish by hand.
void LogPath(RepairContext& context, const wchar_t* what, const wchar_t* path)
{
    WString text(what);
    text.Append(L" ", path != nullptr ? path : L"(unknown)");
    Log(context, text.Text());
}

void SetCell(RepairContext& context, int item, int column, const wchar_t* text)
{
    SetListCellText(context.list, item, column, text);
}

void AddRow(RepairContext& context, Row row)
{
    int index = static_cast<int>(row);
    if (context.list == nullptr || context.rows[index] >= 0)
        return;
    std::wstring text(kRowTexts[index]);
    size_t cut = text.find(L'\n');
    std::wstring operation = text.substr(0, cut), result = text.substr(cut + 1);
    LVITEMW item{};
    item.mask = LVIF_TEXT;
    item.iItem = static_cast<int>(SendMessageW(context.list, LVM_GETITEMCOUNT, 0, 0));
    item.pszText = &operation[0];
    int inserted = static_cast<int>(SendMessageW(context.list, LVM_INSERTITEMW, 0, reinterpret_cast<LPARAM>(&item)));
    if (inserted < 0)
        return;
    context.rows[index] = inserted;
    SetCell(context, inserted, 1, result.c_str());
}

void MarkRow(RepairContext& context, Row row, bool success)
{
    AddRow(context, row);
    SetCell(context, context.rows[static_cast<int>(row)], 1, success ? L"Success" : L"Failure");
}

void BringToolForward(RepairContext& context)
{
    if (context.tool->Handle() != nullptr)
        BringWindowToTop(context.tool->Handle());
}

// ---------------------------------------------------------------------------
// The journal.

void SaveJournal(RepairContext& context)
{
    if (WriteJournal(context.journalPath.Text(), context.journal))
        return;
    if (context.journalWritable)
        LogPath(context, L"The repair's journal could not be written; an interrupted repair cannot resume from it:",
                context.journalPath.Text());
    context.journalWritable = false;
}

// Records work inside a step and passes its power-cut point.
void Mark(RepairContext& context, uint32_t mark, const wchar_t* point)
{
    context.journal.marks |= mark;
    SaveJournal(context);
    machine::PowerCutPoint(point);
}

// ---------------------------------------------------------------------------
// Small machine helpers.

bool Exists(const wchar_t* path)
{
    WString full;
    return AbsoluteLongPath(path, full) && GetFileAttributesW(full.Text()) != INVALID_FILE_ATTRIBUTES;
}

WString Join(const wchar_t* folder, const wchar_t* suffix)
{
    WString path(folder);
    path.Append(suffix);
    return path;
}

WString TaskbandKey(const wchar_t* sid)
{
    WString key(L"HKU\\");
    key.Append(sid, kTaskband);
    return key;
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

// The folder a step may work on: expanded, normalised, strictly inside the
// profiles directory, not another account's profile, no link on the way.
bool CheckedProfileFolder(const wchar_t* path, const wchar_t* sid, WString& folder)
{
    return CheckProfileFolder(path, sid, folder) == ProfileFolderVerdict::Inside;
}

// True when the fresh folder really is another folder than the old one:
// by the paths as stored and by the places they resolve to. If the profile
// service handed the new account the old folder (or one inside or around
// it), nothing may be emptied, moved over or deleted between the two.
bool FoldersAreSeparate(RepairContext& context)
{
    const wchar_t* fresh = context.journal.newProfile.c_str();
    const wchar_t* old = context.journal.oldProfile.c_str();
    WString freshFinal = FinalFolderPath(fresh), oldFinal = FinalFolderPath(old);
    return AreSeparateFolders(fresh, old) && !freshFinal.IsEmpty() && !oldFinal.IsEmpty() &&
           AreSeparateFolders(freshFinal.Text(), oldFinal.Text());
}

void LogSameFolder(RepairContext& context, const wchar_t* consequence)
{
    WString text(L"The new account's profile folder is the old one, or lies inside or around it (");
    text.Append(context.journal.newProfile.c_str(), L"); ", consequence);
    Log(context, text.Text());
}

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

// The old folder's entry gets the fresh folder's permissions, or the new
// account's DACL when the fresh folder has no such entry.
void GiveSecurity(RepairContext& context, const wchar_t* from, const wchar_t* to)
{
    if (CopySecurity(from, to, kCopyTreeKeepingExplicit))
        return;
    bool applied = false;
    if (BuildNewAccountDacl(context)) {
        PACL acl = context.dacl.Get();
        applied = ApplySecurity(&acl, to, SE_FILE_OBJECT, kCopyTreeKeepingExplicit, context.newSid.Get());
    }
    if (!applied)
        LogPath(context, L"Failed to give the new account its permissions on", to);
}

void WriteProfileImagePath(RepairContext& context)
{
    WString stored(context.journal.oldProfile.c_str());
    if (context.version < 5.9) {
        WString windows;
        if (FromFolderPath(windows, CSIDL_WINDOWS, nullptr, SHGFP_TYPE_CURRENT) && windows.Length() >= 3) {
            WString drive;
            drive.AssignSubstring(windows.Text(), 1, 3);
            stored.Replace(drive.Text(), L"%SystemDrive%\\", 1, false);
        }
    }
    WString keyPath(kProfileList);
    keyPath.Append(context.journal.newSid.c_str());
    RegKey key(OpenKey(keyPath.Text(), kCreateKeyAccess));
    if (!key || !key.SetValue(L"ProfileImagePath", REG_EXPAND_SZ, stored.Text(), 0))
        LogPath(context, L"Failed to point the new account's profile at", context.journal.oldProfile.c_str());
}

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

// Moves everything in `source` into `destination`, entry by entry, passing
// a power-cut point after each. True when the source is left empty; what
// stays is logged with its path.
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

// Replaces the folder `dst` by the fresh `src`: the old content removed
// (once: the journal's mark says so), the fresh one moved in. The rename of
// the whole folder is tried first; where the platform refuses a folder onto
// an existing one, the contents move and the result is checked.
struct DataFolderPoints {
    const wchar_t* emptied;   // the old content removed
    const wchar_t* entry;     // one entry moved
    const wchar_t* moved;     // the whole folder in place
};

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

// One hive: the old files matching `mask` in `placedFolder` removed (once),
// the fresh file put in their place. Adds to the count on success.
void ReplaceHive(RepairContext& context, const wchar_t* freshFolder, const wchar_t* placedFolder, const wchar_t* file,
                 const wchar_t* mask, uint32_t deleteFlags, uint32_t removedMark, bool movedWithFolder,
                 const wchar_t* removedPoint, const wchar_t* error)
{
    WString fresh = JoinPath(freshFolder, file), placed = JoinPath(placedFolder, file);
    WString waitingName(L"Brenwick new ");
    waitingName.Append(file);
    WString waiting = JoinPath(placedFolder, waitingName.Text());
    bool freshExists = Exists(fresh.Text()) || Exists(waiting.Text());
    HiveAction action =
        DecideHiveAction(freshExists, (context.journal.marks & removedMark) != 0, movedWithFolder);
    if (action == HiveAction::RemoveOldThenMove || action == HiveAction::RemoveOldOnly) {
        LocalAcl takeOver;
        LocalSid administrators;
        BuildRecipeDacl(SecurityRecipe::TakeOverFile, 0, nullptr, takeOver);
        WellKnownSid(administrators, WinBuiltinAdministratorsSid);
        if (DeleteDirectoryContents(placedFolder, mask, deleteFlags | kDeleteKeepTop, takeOver.Get(),
                                    administrators.Get()) == kDeleteFailed) {
            WString files = JoinPath(placedFolder, mask);
            LogPath(context, L"Not every old hive file could be deleted:", files.Text());
        }
        AddAttributes(placed.Text(), 0, kHiddenSystem);
        if (Exists(placed.Text()) && DeletePath(placed.Text(), kDeleteTakeOver | kDeleteScheduleAtRestart) == kDeleteFailed)
            LogPath(context, L"Failed to delete", placed.Text());
        Mark(context, removedMark, removedPoint);
    }
    bool done = action == HiveAction::Placed || action == HiveAction::RemoveOldOnly;
    if (action == HiveAction::RemoveOldThenMove || action == HiveAction::Move) {
        done = PlaceHive(fresh.Text(), waiting.Text(), placed.Text());
        if (!done) {
            Log(context, error);
            LogPath(context, L"The new hive could not be put in place:", placed.Text());
        }
    }
    if (done)
        ++context.journal.hiveCount;
    AddAttributes(placed.Text(), kHiddenSystem, 0);
    // A hive waiting for the restart becomes the placed one then, attributes and all.
    AddAttributes(waiting.Text(), kHiddenSystem, 0);
}

WString SystemAppDataSuffix(double version)
{
    return WString(version >= 6.0 ? kSystemAppData : kLegacySystemAppData);
}

// The account's picture is kept in the tool folder, so that a run that
// resumes after the old account (and its picture) are gone still has it.
WString PictureCopy(RepairContext& context)
{
    return PictureCopyPath(context.tool->toolFolder.Text());
}

// ---------------------------------------------------------------------------
// The steps. Each returns false only when the repair cannot go on.

bool GetAccountInformation(RepairContext& context)
{
    AddRow(context, Row::Info);
    WString sid, profile, folder;
    if (!GetAccountSidAndProfile(context.account, sid, &profile) || !IsPlainSidString(sid.Text())) {
        MarkRow(context, Row::Info, false);
        LogAbout(context, L"Failed to retrieve information about the ", L" account.");
        return false;
    }
    if (!CheckedProfileFolder(profile.Text(), sid.Text(), folder)) {
        MarkRow(context, Row::Info, false);
        LogAbout(context, L"Failed to retrieve information about the ", L" account.");
        LogPath(context, L"Its profile folder is not one Brenwick may work on:", profile.Text());
        return false;
    }
    context.journal.oldSid = sid.Text();
    context.journal.oldProfile = folder.Text();

    if (LoadUserHive(sid.Text())) {
        WString taskband = TaskbandKey(sid.Text());
        if (KeyExists(taskband.Text()))
            CopyKeyTree(taskband.Text(), kBackupKey);
        machine::RegUnLoadKeyW(HKEY_USERS, sid.Text());
    }
    MarkRow(context, Row::Info, true);
    LogAbout(context, L"Successfully retrieved information about the ", L" account.");

    WString picture;
    WString copy = PictureCopy(context);
    DeleteFileW(copy.Text());
    if (FindAccountPicture(context.account, picture, context.version) && !CopyFileW(picture.Text(), copy.Text(), FALSE))
        LogPath(context, L"The account picture could not be kept:", picture.Text());
    return true;
}

bool DeleteOldAccount(RepairContext& context)
{
    AddRow(context, Row::Delete);
    WString existing;
    bool exists = AccountExists(context.account, nullptr);
    if (exists)
        GetAccountSidAndProfile(context.account, existing, nullptr);
    switch (DecideOldAccount(exists, existing.Text(), context.journal.oldSid.c_str())) {
    case OldAccountAction::Delete:
        if (DeleteAccount(context.account, kKeepProfileFolder) != 0)
            break;
        MarkRow(context, Row::Delete, false);
        LogAbout(context, L"Failed to remove the ", L" account.");
        RegKey().DeleteTree(kBackupKey);
        return false;
    case OldAccountAction::AlreadyGone: {
        // An earlier run's deletion may have been cut after the account
        // went and before its profile entry did; the folder stays.
        WString entry(kProfileList);
        entry.Append(context.journal.oldSid.c_str());
        if (KeyExists(entry.Text()) && !RegKey().DeleteTree(entry.Text()))
            LogPath(context, L"Failed to delete the old account's profile entry", entry.Text());
        break;
    }
    case OldAccountAction::Refuse:
        MarkRow(context, Row::Delete, false);
        LogAbout(context, L"Failed to remove the ", L" account.");
        LogAbout(context, L"An account named ", L" exists with another SID than the one under repair; it was left alone.");
        RegKey().DeleteTree(kBackupKey);
        return false;
    }
    MarkRow(context, Row::Delete, true);
    LogAbout(context, L"Successfully removed the ", L" account.");
    return true;
}

bool CreateNewAccount(RepairContext& context)
{
    AddRow(context, Row::Create);
    WString existing, profile, folder;
    DWORD privilege = 0;
    bool exists = AccountExists(context.account, &privilege);
    if (exists)
        GetAccountSidAndProfile(context.account, existing, nullptr);
    NewAccountAction action =
        DecideNewAccount(exists, existing.Text(), context.journal.oldSid.c_str(), privilege == USER_PRIV_ADMIN,
                         (context.journal.marks & JournalMark::CreationStarted) != 0);
    bool made = false;
    if (action == NewAccountAction::Create) {
        // From here an account of this name is this repair's, even if the
        // creation is cut before it has its type.
        Mark(context, JournalMark::CreationStarted, L"step 5 creation started");
        made = CreateAccount(context.account, context.fullName.Text(), kAdministratorType, nullptr);
    } else if (action == NewAccountAction::Reuse) {
        made = CompleteAccount(context.account, context.fullName.Text(), kAdministratorType);
    }
    // The new profile is the one its own entry names, never a folder found
    // by the account's name (that is the old one).
    WString sid;
    made = made && GetAccountSidAndProfile(context.account, sid, nullptr) && IsPlainSidString(sid.Text()) &&
           !EqualsNoCase(sid.Text(), context.journal.oldSid.c_str()) && ReadProfileImagePath(sid.Text(), profile);
    if (made && !CheckedProfileFolder(profile.Text(), sid.Text(), folder)) {
        LogPath(context, L"The new account's profile folder is not one Brenwick may work on:", profile.Text());
        made = false;
    }
    if (!made) {
        MarkRow(context, Row::Create, false);
        LogAbout(context, L"Failed to create a new ", L" account.");
        RegKey().DeleteTree(kBackupKey);
        return false;
    }
    context.journal.newSid = sid.Text();
    context.journal.newProfile = folder.Text();

    if (LoadUserHive(sid.Text())) {
        WString taskband = TaskbandKey(sid.Text());
        // The pins' only copy is the backup: it goes once it was copied whole.
        if (KeyExists(kBackupKey)) {
            if (CopyKeyTree(kBackupKey, taskband.Text()) != 0)
                RegKey().DeleteTree(kBackupKey);
            else
                Log(context, L"The taskbar pins could not be carried over; they are kept in HKLM\\Software\\TaskbandBrenwickKey.");
        }
        RegKey pins(OpenKey(taskband.Text(), KEY_QUERY_VALUE));
        if (pins)
            RegFlushKey(pins.Get());
        pins.Close();
        machine::RegUnLoadKeyW(HKEY_USERS, sid.Text());
    }
    MarkRow(context, Row::Create, true);
    LogAbout(context, L"Successfully created a new ", L" account.");
    BringToolForward(context);
    return true;
}

// True when `suffix` leads from the old and the fresh profile down through
// folders of their own: every part of it that exists is opened relative to
// its parent without following and lies inside its profile. The account's
// owner could have made any of them a link to a folder elsewhere, which the
// repair would then empty, fill or re-permission; such a place is logged
// and left alone.
bool StaysInsideProfiles(RepairContext& context, const wchar_t* suffix)
{
    StringList parts;
    parts.Split(suffix[0] == L'\\' ? suffix + 1 : suffix, L"\\");
    for (const wchar_t* profile : {context.journal.oldProfile.c_str(), context.journal.newProfile.c_str()}) {
        WString relative;
        for (uint32_t i = 0; i < parts.Count(); ++i) {
            if (!relative.IsEmpty())
                relative.Append(L"\\");
            relative.Append(parts[i]);
            WString full = JoinPath(profile, relative.Text());
            WString fullLong;
            const DWORD attributes =
                AbsoluteLongPath(full.Text(), fullLong) ? GetFileAttributesW(fullLong.Text()) : INVALID_FILE_ATTRIBUTES;
            if (attributes == INVALID_FILE_ATTRIBUTES)
                break;   // made later, below a folder already checked
            // The attributes show a link even where opening it would follow it (Wine).
            if ((attributes & FILE_ATTRIBUTE_REPARSE_POINT) != 0 ||
                !OpenBelowRoot(profile, relative.Text(), FILE_READ_ATTRIBUTES)) {
                LogPath(context, L"A link leads out of the profile here; it was left alone:", full.Text());
                return false;
            }
        }
    }
    return true;
}

bool PointProfileEntry(RepairContext& context)
{
    WriteProfileImagePath(context);
    return true;
}

// The names of the folders directly inside a folder, and its links, as the
// walker finds them.
struct TopFolders : TreeVisitor {
    std::vector<WString> names;
    std::vector<WString> links;
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

bool CopyPermissions(RepairContext& context)
{
    AddRow(context, Row::Move);
    const wchar_t* fresh = context.journal.newProfile.c_str();
    const wchar_t* old = context.journal.oldProfile.c_str();
    if (!CopySecurity(fresh, old, kCopyDacl | kCopyOwner))
        LogPath(context, L"Failed to give the new account its permissions on", old);
    // The folders directly inside, each opened as itself; a link there is
    // the owner's and keeps its permissions.
    TopFolders top;
    WalkTree(old, top, 1);
    for (const WString& link : top.links)
        LogPath(context, L"A link leads out of the profile here; it was left alone:", link.Text());
    for (const WString& name : top.names) {
        WString from = JoinPath(fresh, name.Text()), to = JoinPath(old, name.Text());
        GiveSecurity(context, from.Text(), to.Text());
        machine::PowerCutPoint(L"step 8 folder entry");
    }
    return true;
}

bool MoveDataFolders(RepairContext& context)
{
    AddRow(context, Row::Move);
    if (!FoldersAreSeparate(context)) {
        LogSameFolder(context, L"no data was moved.");
        return true;
    }
    const wchar_t* fresh = context.journal.newProfile.c_str();
    const wchar_t* old = context.journal.oldProfile.c_str();
    if (context.version >= 6.2 && StaysInsideProfiles(context, kPackages)) {
        WString src = Join(fresh, kPackages), dst = Join(old, kPackages);
        if ((context.tool->fixFlags & FixFlags::KeepAppPackages) != 0)
            GiveSecurity(context, src.Text(), dst.Text());
        else
            ReplaceDataFolder(context, src.Text(), dst.Text(), JournalMark::PackagesEmptied, JournalMark::PackagesMoved,
                              {L"step 9 packages emptied", L"step 9 packages entry", L"step 9 packages moved"});
    }
    BringToolForward(context);

    WString suffix = SystemAppDataSuffix(context.version);
    WString src = Join(fresh, suffix.Text()), dst = Join(old, suffix.Text());
    if (!StaysInsideProfiles(context, suffix.Text())) {
        WriteProfileImagePath(context);
        return true;
    }
    CreateDirectoryPath(dst.Text());
    bool keep = (context.tool->fixFlags & FixFlags::KeepSystemAppData) != 0;
    if (keep || context.version < 5.9)
        GiveSecurity(context, src.Text(), dst.Text());
    if (!keep) {
        if (context.version > 5.9) {
            ReplaceDataFolder(context, src.Text(), dst.Text(), JournalMark::AppDataEmptied, JournalMark::AppDataMoved,
                              {L"step 9 appdata emptied", L"step 9 appdata entry", L"step 9 appdata moved"});
        } else if ((context.journal.marks & JournalMark::AppDataMoved) == 0) {
            // Before 5.9 the fresh folder's files join the old ones.
            if (Exists(src.Text()) && !MoveContents(context, src.Text(), dst.Text(), L"step 9 appdata entry"))
                LogPath(context, L"Not everything could be moved into", dst.Text());
            Mark(context, JournalMark::AppDataMoved, L"step 9 appdata moved");
        }
    }
    CreateDirectoryPath(dst.Text());
    WriteProfileImagePath(context);
    return true;
}

bool ReplaceClassesHive(RepairContext& context)
{
    if (!FoldersAreSeparate(context))
        return true;
    WString suffix = SystemAppDataSuffix(context.version);
    WString freshFolder = Join(context.journal.newProfile.c_str(), suffix.Text());
    WString placedFolder = Join(context.journal.oldProfile.c_str(), suffix.Text());
    bool movedWithFolder = (context.journal.marks & JournalMark::AppDataMoved) != 0 &&
                           (context.tool->fixFlags & FixFlags::KeepSystemAppData) == 0;
    if (!StaysInsideProfiles(context, suffix.Text())) {
        Log(context, L"Error moving UsrClass.dat");
        return true;
    }
    ReplaceHive(context, freshFolder.Text(), placedFolder.Text(), L"UsrClass.dat", L"UsrClass.*",
                kDeleteTakeOver | kDeleteScheduleAtRestart, JournalMark::ClassesOldRemoved, movedWithFolder,
                L"step 10 old UsrClass.dat removed", L"Error moving UsrClass.dat");
    return true;
}

bool ReplaceUserHive(RepairContext& context)
{
    machine::RegUnLoadKeyW(HKEY_USERS, context.journal.oldSid.c_str());
    machine::RegUnLoadKeyW(HKEY_USERS, context.journal.newSid.c_str());
    if (!FoldersAreSeparate(context)) {
        LogSameFolder(context, L"its registry hives were left as they are.");
        WriteProfileImagePath(context);
        return true;
    }
    ReplaceHive(context, context.journal.newProfile.c_str(), context.journal.oldProfile.c_str(), L"NTUSER.DAT",
                L"NTUSER.*", kDeleteTakeOver, JournalMark::UserOldRemoved, false, L"step 11 old NTUSER.DAT removed",
                L"Error moving NTUSER.dat");
    WriteProfileImagePath(context);
    return true;
}

// The fresh folder goes only when it really is another folder than the old
// one: if the profile service handed the new account the old folder (or one
// inside or around it), deleting it would erase its owner's files.
bool DeleteFreshFolder(RepairContext& context)
{
    const wchar_t* fresh = context.journal.newProfile.c_str();
    const wchar_t* old = context.journal.oldProfile.c_str();
    if (!Exists(fresh))
        return true;
    WString checked;
    if (!FoldersAreSeparate(context) || !CheckedProfileFolder(fresh, context.journal.newSid.c_str(), checked) ||
        !AreSeparateFolders(checked.Text(), old)) {
        LogSameFolder(context, L"it was kept.");
        return true;
    }
    if (DeletePath(checked.Text(), kDeleteTakeOver | kDeleteScheduleAtRestart) == kDeleteFailed)
        LogPath(context, L"Failed to delete the fresh profile folder", fresh);
    return true;
}

bool CarryPicture(RepairContext& context)
{
    WString copy = PictureCopy(context);
    if (!Exists(copy.Text()))
        return true;   // the account had no picture
    UniqueImage picture = LoadPictureFile(copy.Text());
    if (!picture || !SetAccountPicture(context.account, picture.Get(), PictureFit::Crop, context.version))
        LogPath(context, L"The account picture could not be carried over; it is kept in", copy.Text());
    return true;
}

// The fix run's own shortcuts: they start this run after every restart
// until the repair has ended, so they go only with the hand-over.
void RemoveFixShortcuts(RepairContext& context)
{
    WString desktop, startup;
    if (FromFolderPath(desktop, CSIDL_DESKTOPDIRECTORY, nullptr, SHGFP_TYPE_CURRENT)) {
        WString name(L"Fix ");
        name.Append(context.account, L" account profile.lnk");
        WString link = JoinPath(desktop.Text(), name.Text());
        if (Exists(link.Text()) && DeletePath(link.Text(), kDeleteTakeOver) == kDeleteFailed)
            LogPath(context, L"Failed to delete", link.Text());
    }
    if (FromFolderPath(startup, CSIDL_STARTUP, nullptr, SHGFP_TYPE_CURRENT)) {
        WString link = JoinPath(startup.Text(), L"BrenwickTask.lnk");
        // Left in place it would start the repair again at every restart.
        if (Exists(link.Text()) && DeletePath(link.Text(), kDeleteTakeOver) == kDeleteFailed)
            LogPath(context, L"Failed to delete the shortcut that starts the repair; delete it by hand:", link.Text());
    }
}

constexpr wchar_t kCleanupDescription[] = L"Complete Brenwick's repair operation.";

bool HandOver(RepairContext& context)
{
    const wchar_t* old = context.journal.oldProfile.c_str();
    bool repaired = context.journal.hiveCount == 2;
    MarkRow(context, Row::Move, repaired);
    LogAbout(context, L"The ", repaired ? L" account was successfully repaired." : L" account could not be repaired.");

    const wchar_t* target = context.tool->modulePath.Text();
    WString desktop, startup;
    if (ProfileFolderPath(CSIDL_DESKTOPDIRECTORY, old, desktop)) {
        WString link = JoinPath(desktop.Text(), L"BrenwickCleanup.lnk");
        CreateShortcut(link.Text(), target, L"/brenwick /cleanup", kCleanupDescription);
    }
    bool startupFound = UserShellFolder(context.journal.newSid.c_str(), L"Startup", startup, old, context.version) ||
                        ProfileFolderPath(CSIDL_STARTUP, old, startup);
    bool planted = false;
    if (startupFound) {
        CreateDirectoryPath(startup.Text());
        WString link = JoinPath(startup.Text(), L"BrenwickCleanup.lnk");
        planted = CreateShortcut(link.Text(), target, L"/brenwick /cleanup", kCleanupDescription);
    }
    if (!planted)
        Log(context, L"The clean-up could not be set to start; after the restart, start C:\\Brenwick\\Brenwick.exe "
                     L"/brenwick /cleanup in the repaired account.");
    machine::RegUnLoadKeyW(HKEY_USERS, context.journal.newSid.c_str());
    // Only once the clean-up's shortcuts are there does the account sign in
    // by itself: a cut before leaves the fix run to do this again.
    if (SetAutoLogon(context.account, L"") == AutoLogonResult::Failed)
        LogAbout(context, L"Failed to make the ", L" account sign in automatically.");
    RemoveFixShortcuts(context);
    context.journal.outcome = repaired ? RepairOutcome::Repaired : RepairOutcome::NotRepaired;
    return true;
}

using StepFunction = bool (*)(RepairContext&);
// In RepairStep order.
const StepFunction kStepFunctions[kRepairStepCount] = {
    GetAccountInformation, DeleteOldAccount, CreateNewAccount, PointProfileEntry, CopyPermissions, MoveDataFolders,
    ReplaceClassesHive,    ReplaceUserHive,  DeleteFreshFolder, CarryPicture,     HandOver,
};

// ---------------------------------------------------------------------------
// Ending without a repaired account.

void LogWhereThingsStand(RepairContext& context)
{
    std::wstring text =
        DescribeUnfinishedRepair(context.journal, context.account, AccountExists(context.account, nullptr));
    Log(context, text.c_str());
}

// The repair ends before the account can sign in: the clean-up then runs
// in the temporary account, which keeps the automatic sign-in. The fix
// run's shortcuts go, so the machine does not start the repair again.
void EndInTemporaryAccount(RepairContext& context)
{
    LogAbout(context, L"The repair of the ", L" account has ended without repairing it.");
    LogWhereThingsStand(context);
    WString startup;
    bool planted = false;
    if (FromFolderPath(startup, CSIDL_STARTUP, nullptr, SHGFP_TYPE_CURRENT)) {
        CreateDirectoryPath(startup.Text());
        WString link = JoinPath(startup.Text(), L"BrenwickCleanup.lnk");
        planted = CreateShortcut(link.Text(), context.tool->modulePath.Text(), L"/brenwick /cleanupfailed",
                                 kCleanupDescription);
    }
    Log(context, planted ? L"The clean-up will run in the temporary account after the restart."
                         : L"The clean-up could not be set to start; start C:\\Brenwick\\Brenwick.exe /brenwick "
                           L"/cleanupfailed in the temporary account.");
    RemoveFixShortcuts(context);
    context.journal.outcome = RepairOutcome::Failed;
    SaveJournal(context);
    machine::PowerCutPoint(L"repair ended");
}

// The rows of the steps an earlier run completed are shown as done.
void ShowCompletedRows(RepairContext& context)
{
    const RepairJournal& journal = context.journal;
    if (journal.Done(RepairStep::AccountInfo))
        MarkRow(context, Row::Info, true);
    if (journal.Done(RepairStep::DeleteOld))
        MarkRow(context, Row::Delete, true);
    if (journal.Done(RepairStep::CreateNew))
        MarkRow(context, Row::Create, true);
    if (journal.Done(RepairStep::ProfileEntry))
        AddRow(context, Row::Move);
}

// Reads the journal; false when this run starts the repair afresh.
bool Resume(RepairContext& context)
{
    std::wstring problem;
    RepairJournal found;
    switch (ReadJournal(context.journalPath.Text(), found, problem)) {
    case JournalRead::Missing:
        return false;
    case JournalRead::Invalid: {
        std::wstring text = L"The repair's journal cannot be used (" + problem + L"); the repair starts from the beginning.";
        Log(context, text.c_str());
        return false;
    }
    case JournalRead::Valid:
        break;
    }
    if (!EqualsNoCase(found.account.c_str(), context.account) ||
        found.flags != static_cast<uint32_t>(context.tool->fixFlags)) {
        Log(context, L"The repair's journal belongs to another repair; this repair starts from the beginning.");
        return false;
    }
    context.journal = std::move(found);
    return true;
}

int FinalResult(const RepairJournal& journal)
{
    return journal.outcome == RepairOutcome::Repaired ? 1 : 0;
}

DWORD Repair(RepairTool& tool, uint32_t stopAfter)
{
    RepairContext context;
    context.tool = &tool;
    context.account = tool.fixAccount.Text();
    context.version = tool.osVersion;
    const ControlEntry* list = tool.progressList >= 0 ? tool.Control(tool.progressList) : nullptr;
    context.list = list != nullptr ? list->handle : nullptr;
    context.journalPath = JournalPath(tool.toolFolder.Text());
    context.statePath = tool.StatePath();
    context.fullName = ReadStateText(context.statePath.Text(), context.account, L"FullName");
    if (context.fullName.IsEmpty()) {
        context.fullName.Assign(context.account);
    } else if (context.fullName.Length() > kFullNameCapacity) {
        WString whole(context.fullName.Text());
        context.fullName.AssignSubstring(whole.Text(), 1, static_cast<int>(kFullNameCapacity));
    }

    if (!Resume(context)) {
        context.journal = RepairJournal{};
        context.journal.account = context.account;
        context.journal.flags = static_cast<uint32_t>(tool.fixFlags);
        // A backup left by an earlier repair is stale; on a resumed run it
        // may hold the pins copied before the interruption.
        RegKey().DeleteTree(kBackupKey);
        SaveJournal(context);
    } else if (context.journal.outcome != RepairOutcome::Running) {
        LogAbout(context, L"The repair of the ", L" account has already ended; nothing was done again.");
        // Whatever brought this run here must not bring it again.
        RemoveFixShortcuts(context);
        return FinalResult(context.journal);
    } else {
        uint32_t next = context.journal.stepsDone;
        WString text(L"Resumed the interrupted repair at step ");
        WString number;
        number.FromUInt32(next + 1);
        text.Append(number.Text(), L" of ");
        number.FromUInt32(kRepairStepCount);
        text.Append(number.Text(), L": ", RepairStepName(static_cast<RepairStep>(next)), L".");
        Log(context, text.Text());
        ShowCompletedRows(context);
    }

    while (context.journal.stepsDone < kRepairStepCount && context.journal.stepsDone < stopAfter) {
        RepairStep step = static_cast<RepairStep>(context.journal.stepsDone);
        if (context.journal.tries >= kMaxStepTries) {
            WString text(L"The step \"");
            text.Append(RepairStepName(step), L"\" did not complete in three tries.");
            Log(context, text.Text());
            if (!context.journal.Done(RepairStep::ProfileEntry) || step == RepairStep::HandOver) {
                EndInTemporaryAccount(context);
                return 0;
            }
            // The account exists and can sign in: the rest is skipped and
            // the clean-up runs there, with the hives counted so far.
            context.journal.stepsDone = static_cast<uint32_t>(RepairStep::HandOver);
            context.journal.tries = 0;
            SaveJournal(context);
            continue;
        }
        ++context.journal.tries;
        SaveJournal(context);
        if (!kStepFunctions[context.journal.stepsDone](context)) {
            EndInTemporaryAccount(context);
            return 0;
        }
        ++context.journal.stepsDone;
        context.journal.tries = 0;
        SaveJournal(context);
        machine::PowerCutPoint(RepairStepPoint(step));
    }
    return context.journal.stepsDone < kRepairStepCount ? 0 : FinalResult(context.journal);
}

// Initialises COM for the worker thread and undoes it when the run ends.
class ComForThread {
public:
    ComForThread() : initialised_(SUCCEEDED(CoInitialize(nullptr))) {}
    ~ComForThread()
    {
        if (initialised_)
            CoUninitialize();
    }
    ComForThread(const ComForThread&) = delete;
    ComForThread& operator=(const ComForThread&) = delete;

private:
    bool initialised_;
};

}  // namespace

DWORD WINAPI RunRepair(void* tool)
{
    return tool != nullptr ? RunRepairUntil(*static_cast<RepairTool*>(tool), kRepairStepCount) : 0;
}

DWORD RunRepairUntil(RepairTool& repairTool, uint32_t stepsToComplete)
{
    try {
        EnablePrivileges();
        ComForThread com;
        return Repair(repairTool, stepsToComplete);
    } catch (...) {
        // Nothing may leave the worker; the journal keeps what was done.
        repairTool.WriteLogEntry(L"The repair stopped on an unexpected error.", 0);
        return 0;
    }
}
