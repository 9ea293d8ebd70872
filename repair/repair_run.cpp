#include "repair/repair_run.h"

#include <windows.h>
#include <lm.h>
#include <objbase.h>
#include <shlobj.h>

#include <string>
#include <vector>

#include "accounts/account_lifecycle.h"
#include "accounts/account_list.h"
#include "accounts/lifecycle_rules.h"
#include "accounts/lookup.h"
#include "accounts/passwords.h"
#include "accounts/profile_key_rules.h"
#include "accounts/pictures.h"
#include "platform/file_move.h"
#include "platform/file_handles.h"
#include "platform/files.h"
#include "platform/machine.h"
#include "platform/registry.h"
#include "platform/security.h"
#include "platform/text_win.h"
#include "repair/cleanup.h"
#include "repair/finish_service.h"
#include "repair/keep_settings.h"
#include "repair/profile_moves.h"
#include "repair/repair_context.h"
#include "repair/repair_hive.h"
#include "repair/repair_journal.h"
#include "repair/repair_log.h"
#include "repair/repair_settings.h"
#include "repair/repair_site.h"
#include "repair/state_file.h"

// ---------------------------------------------------------------------------
// The log and the journal, shared with the repair's file work.

void Log(RepairContext& context, const wchar_t* text)
{
    WriteLogEntry(context.input.logPath.c_str(), text, 0);
}

void LogPath(RepairContext& context, const wchar_t* what, const wchar_t* path)
{
    WString text(what);
    text.Append(L" ", path != nullptr ? path : L"(unknown)");
    Log(context, text.Text());
}

namespace {

void SaveJournal(RepairContext& context)
{
    if (WriteJournal(context.journalPath.Text(), context.journal))
        return;
    if (context.journalWritable)
        LogPath(context, L"The repair's journal could not be written; an interrupted repair cannot resume from it:",
                context.journalPath.Text());
    context.journalWritable = false;
}

}  // namespace

void Mark(RepairContext& context, uint32_t mark, const wchar_t* point)
{
    context.journal.marks |= mark;
    SaveJournal(context);
    machine::PowerCutPoint(point);
}

namespace {

constexpr wchar_t kBackupKey[] = L"HKLM64\\Software\\TaskbandBrenwickKey";
constexpr wchar_t kTaskband[] = L"\\Software\\Microsoft\\Windows\\CurrentVersion\\Explorer\\Taskband";
constexpr wchar_t kPackages[] = L"\\AppData\\Local\\Packages";
constexpr wchar_t kSystemAppData[] = L"\\AppData\\Local\\Microsoft\\Windows";
constexpr wchar_t kLegacySystemAppData[] = L"\\Local Settings\\Application Data\\Microsoft\\Windows";
constexpr uint32_t kFullNameCapacity = 256;
constexpr uint32_t kStandardType = 1;

// The report's rows, in RepairRow order.
const wchar_t* const kRowOperations[] = {
    L"Get user account information",
    L"Delete the old user account",
    L"Create a new user account",
    L"Move account data and fix permissions",
};

// ---------------------------------------------------------------------------
// The report.

// "<before>" + quoted account + "<after>".
void LogAbout(RepairContext& context, const wchar_t* before, const wchar_t* after)
{
    WString text(before);
    text.Append(L"\"", context.account, L"\"", after);
    Log(context, text.Text());
}

void AddRow(RepairContext& context, RepairRow row)
{
    int index = static_cast<int>(row);
    if (context.rowShown[index])
        return;
    context.rowShown[index] = true;
    if (context.progress != nullptr)
        context.progress->ShowRow(index, kRowOperations[index], kRowWorking);
}

void MarkRow(RepairContext& context, RepairRow row, bool success)
{
    int index = static_cast<int>(row);
    context.rowShown[index] = true;
    if (context.progress != nullptr)
        context.progress->ShowRow(index, kRowOperations[index], success ? kRowSuccess : kRowFailure);
}

void AskForAttention(RepairContext& context)
{
    if (context.progress != nullptr)
        context.progress->WantsAttention();
}

// ---------------------------------------------------------------------------
// Small machine helpers.


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
    const WString keyPath = ProfileEntryKeyPath(context.journal.newSid.c_str());
    RegKey key(OpenKey(keyPath.Text(), kCreateKeyAccess));
    if (!key || !key.SetValue(L"ProfileImagePath", REG_EXPAND_SZ, stored.Text(), 0))
        LogPath(context, L"Failed to point the new account's profile at", context.journal.oldProfile.c_str());
}


WString SystemAppDataSuffix(double version)
{
    return WString(version >= 6.0 ? kSystemAppData : kLegacySystemAppData);
}

// The account's picture is kept in the tool folder, so that a run that
// resumes after the old account (and its picture) are gone still has it.
WString PictureCopy(RepairContext& context)
{
    return PictureCopyPath(context.input.toolFolder.c_str());
}

// ---------------------------------------------------------------------------
// The steps. Each returns false only when the repair cannot go on.

bool GetAccountInformation(RepairContext& context)
{
    AddRow(context, RepairRow::Info);
    WString sid, profile, folder;
    if (!GetAccountSidAndProfile(context.account, sid, &profile) || !IsPlainSidString(sid.Text())) {
        MarkRow(context, RepairRow::Info, false);
        LogAbout(context, L"Failed to retrieve information about the ", L" account.");
        return false;
    }
    if (!CheckedProfileFolder(profile.Text(), sid.Text(), folder)) {
        MarkRow(context, RepairRow::Info, false);
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
    MarkRow(context, RepairRow::Info, true);
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
    AddRow(context, RepairRow::Delete);
    WString existing;
    bool exists = AccountExists(context.account, nullptr);
    if (exists)
        GetAccountSidAndProfile(context.account, existing, nullptr);
    switch (DecideOldAccount(exists, existing.Text(), context.journal.oldSid.c_str())) {
    case OldAccountAction::Delete:
        if (DeleteAccount(context.account, kKeepProfileFolder) != 0)
            break;
        MarkRow(context, RepairRow::Delete, false);
        LogAbout(context, L"Failed to remove the ", L" account.");
        RegKey().DeleteTree(kBackupKey);
        return false;
    case OldAccountAction::AlreadyGone: {
        // An earlier run's deletion may have been cut after the account
        // went and before its profile entry did; the folder stays.
        WString entry = ProfileEntryKeyPath(context.journal.oldSid.c_str());
        if (!entry.IsEmpty() && KeyExists(entry.Text()) && !RegKey().DeleteTree(entry.Text()))
            LogPath(context, L"Failed to delete the old account's profile entry", entry.Text());
        break;
    }
    case OldAccountAction::Refuse:
        MarkRow(context, RepairRow::Delete, false);
        LogAbout(context, L"Failed to remove the ", L" account.");
        LogAbout(context, L"An account named ", L" exists with another SID than the one under repair; it was left alone.");
        RegKey().DeleteTree(kBackupKey);
        return false;
    }
    MarkRow(context, RepairRow::Delete, true);
    LogAbout(context, L"Successfully removed the ", L" account.");
    return true;
}

// The type the account had before the repair, as the set-up saved it. An
// account whose type cannot be read back is made a standard user: never
// more than it may have had.
uint32_t SavedAccountType(RepairContext& context)
{
    SavedValue saved = ReadStateValue(context.statePath.Text(), context.account, SavedValueKind::UserPriv);
    if (saved.valid)
        return saved.value;
    LogAbout(context, L"The saved type of the ", L" account cannot be read; it is made a standard user.");
    return kStandardType;
}

bool CreateNewAccount(RepairContext& context)
{
    AddRow(context, RepairRow::Create);
    WString existing, profile, folder;
    bool exists = AccountExists(context.account, nullptr);
    if (exists)
        GetAccountSidAndProfile(context.account, existing, nullptr);
    // Only the journal tells that an account of this name is this repair's:
    // its type says nothing, the new account has the old one's.
    NewAccountAction action = DecideNewAccount(exists, existing.Text(), context.journal.oldSid.c_str(), false,
                                               (context.journal.marks & JournalMark::CreationStarted) != 0);
    const uint32_t type = SavedAccountType(context);
    bool made = false;
    if (action == NewAccountAction::Create) {
        // From here an account of this name is this repair's, even if the
        // creation is cut before it has its type.
        Mark(context, JournalMark::CreationStarted, L"step 5 creation started");
        made = CreateAccount(context.account, context.fullName.Text(), type, nullptr);
    } else if (action == NewAccountAction::Reuse) {
        made = CompleteAccount(context.account, context.fullName.Text(), type);
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
        MarkRow(context, RepairRow::Create, false);
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
    MarkRow(context, RepairRow::Create, true);
    LogAbout(context, L"Successfully created a new ", L" account.");
    AskForAttention(context);
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
            relative.Append(relative.IsEmpty() ? L"" : L"\\", parts[i]);
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


bool CopyPermissions(RepairContext& context)
{
    AddRow(context, RepairRow::Move);
    GiveProfilePermissions(context, context.journal.newProfile.c_str(), context.journal.oldProfile.c_str());
    return true;
}

bool MoveDataFolders(RepairContext& context)
{
    AddRow(context, RepairRow::Move);
    if (!FoldersAreSeparate(context)) {
        LogSameFolder(context, L"no data was moved.");
        return true;
    }
    // Before the old system app data (and its UsrClass.dat) can go.
    KeepOldSettings(context);
    const wchar_t* fresh = context.journal.newProfile.c_str();
    const wchar_t* old = context.journal.oldProfile.c_str();
    if (context.version >= 6.2 && StaysInsideProfiles(context, kPackages)) {
        WString src = Join(fresh, kPackages), dst = Join(old, kPackages);
        if ((context.input.fixFlags & FixFlags::KeepAppPackages) != 0)
            GiveSecurity(context, src.Text(), dst.Text());
        else
            ReplaceDataFolder(context, src.Text(), dst.Text(), JournalMark::PackagesEmptied, JournalMark::PackagesMoved,
                              {L"step 9 packages emptied", L"step 9 packages entry", L"step 9 packages moved"});
    }
    AskForAttention(context);

    WString suffix = SystemAppDataSuffix(context.version);
    WString src = Join(fresh, suffix.Text()), dst = Join(old, suffix.Text());
    if (!StaysInsideProfiles(context, suffix.Text())) {
        WriteProfileImagePath(context);
        return true;
    }
    CreateDirectoryPath(dst.Text());
    bool keep = (context.input.fixFlags & FixFlags::KeepSystemAppData) != 0;
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
                           (context.input.fixFlags & FixFlags::KeepSystemAppData) == 0;
    if (!StaysInsideProfiles(context, suffix.Text())) {
        Log(context, L"Error moving UsrClass.dat");
        return true;
    }
    const HivePlacement classes = {L"UsrClass.dat", L"UsrClass.*", kDeleteTakeOver | kDeleteScheduleAtRestart,
                                   JournalMark::ClassesOldRemoved, L"step 10 old UsrClass.dat removed",
                                   L"Error moving UsrClass.dat"};
    ReplaceHive(context, freshFolder.Text(), placedFolder.Text(), classes, movedWithFolder);
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
    const HivePlacement user = {L"NTUSER.DAT", L"NTUSER.*", kDeleteTakeOver, JournalMark::UserOldRemoved,
                                L"step 11 old NTUSER.DAT removed", L"Error moving NTUSER.dat"};
    ReplaceHive(context, context.journal.newProfile.c_str(), context.journal.oldProfile.c_str(), user, false);
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
    if (!picture || !SetAccountPicture(context.account, picture.Get(), PictureFit::Stretch, context.version))
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
        WString link = JoinPath(startup.Text(), kTaskShortcutName);
        // Left in place it would start the repair again at every restart.
        if (Exists(link.Text()) && DeletePath(link.Text(), kDeleteTakeOver) == kDeleteFailed)
            LogPath(context, L"Failed to delete the shortcut that starts the repair; delete it by hand:", link.Text());
    }
}

constexpr wchar_t kCleanupDescription[] = L"Complete Brenwick's repair operation.";

// `path` as a path below the old profile ("Desktop", "AppData\..."); false
// when it lies elsewhere.
bool BelowOldProfile(RepairContext& context, const wchar_t* path, WString& relative)
{
    const wchar_t* old = context.journal.oldProfile.c_str();
    if (!IsStrictlyBelow(path, old))
        return false;
    return relative.Assign(path + TextLength(old) + 1);
}

// The folders `relative` names below the old profile, made where missing,
// each part checked through the guard before the next is made inside it.
// The account's owner could have made any of them a link to another place
// (the all-users Startup folder, another profile): such a place is logged
// and nothing is written there.
bool MakeFoldersInOldProfile(RepairContext& context, const wchar_t* relative)
{
    const wchar_t* old = context.journal.oldProfile.c_str();
    StringList parts;
    parts.Split(relative, L"\\");
    WString sofar;
    for (uint32_t i = 0; i < parts.Count(); ++i) {
        sofar.Append(sofar.IsEmpty() ? L"" : L"\\", parts[i]);
        WString full = JoinPath(old, sofar.Text()), fullLong;
        if (!AbsoluteLongPath(full.Text(), fullLong))
            return false;
        if (GetFileAttributesW(fullLong.Text()) == INVALID_FILE_ATTRIBUTES)
            CreateDirectoryW(fullLong.Text(), nullptr);
        const DWORD attributes = GetFileAttributesW(fullLong.Text());
        // The attributes show a link even where opening it would follow it (Wine).
        if (attributes == INVALID_FILE_ATTRIBUTES || (attributes & FILE_ATTRIBUTE_REPARSE_POINT) != 0 ||
            (attributes & FILE_ATTRIBUTE_DIRECTORY) == 0 || !OpenBelowRoot(old, sofar.Text(), FILE_READ_ATTRIBUTES)) {
            LogPath(context, L"A link leads out of the profile here; nothing was written there:", full.Text());
            return false;
        }
    }
    return true;
}

// The clean-up's shortcut in a folder of the old profile, written only
// where the guard shows the folder is the profile's, and through that
// folder's checked handle: whatever the account's owner left at the name (a
// hard link to a file elsewhere, a link) is never written through. True
// when it is there.
bool PlantInOldProfile(RepairContext& context, const wchar_t* folder)
{
    WString relative;
    if (!BelowOldProfile(context, folder, relative)) {
        LogPath(context, L"The folder lies outside the profile; nothing was written there:", folder);
        return false;
    }
    if (!MakeFoldersInOldProfile(context, relative.Text()))
        return false;
    WString link = JoinPath(folder, kCleanupShortcutName);
    UniqueFileHandle checked = OpenBelowRoot(context.journal.oldProfile.c_str(), relative.Text(),
                                             FILE_LIST_DIRECTORY | FILE_ADD_FILE | FILE_TRAVERSE | SYNCHRONIZE);
    if (!checked) {
        LogPath(context, L"A link leads out of the profile here; nothing was written there:", folder);
        return false;
    }
    switch (PlaceShortcut(checked.Get(), kCleanupShortcutName, context.input.programPath.c_str(),
                          RepairArguments(RepairStart::Cleanup).Text(), kCleanupDescription)) {
    case PlacedFile::Written:
        return true;
    case PlacedFile::NameRefused:
        LogPath(context, L"The shortcut's name was refused: a hard link, a link or a folder stands there and was "
                         L"left as it is; nothing was written there:", link.Text());
        return false;
    case PlacedFile::Failed:
        break;
    }
    LogPath(context, L"The shortcut could not be written:", link.Text());
    return false;
}

// The clean-up's shortcuts on the repaired account's desktop and in its
// Startup folder; true when the one that starts it is there. `onDesktop`
// tells whether the other one is.
bool PlantCleanupShortcuts(RepairContext& context, bool* onDesktop)
{
    const wchar_t* old = context.journal.oldProfile.c_str();
    WString desktop, startup;
    *onDesktop = ProfileFolderPath(CSIDL_DESKTOPDIRECTORY, old, desktop) && PlantInOldProfile(context, desktop.Text());
    bool named = UserShellFolder(context.journal.newSid.c_str(), L"Startup", startup, old, context.version);
    machine::RegUnLoadKeyW(HKEY_USERS, context.journal.newSid.c_str());
    WString relative;
    // A Startup folder the hive names outside the profile is not written to.
    if (!named || !BelowOldProfile(context, startup.Text(), relative))
        named = ProfileFolderPath(CSIDL_STARTUP, old, startup);
    return named && PlantInOldProfile(context, startup.Text());
}

// The repaired account signs in with its own rights only: whatever still
// needs an administrator is done here, before the restart, or by the finish
// that the service manager starts as SYSTEM before anyone signs in. The
// prompt's settings are back before the account's first sign-in, and the
// earlier automatic sign-in too, so the temporary account does not sign in
// again. Nothing of this runs in the repaired account's session.
bool HandOver(RepairContext& context)
{
    bool repaired = context.journal.hiveCount == 2;
    bool onDesktop = false;
    bool planted = PlantCleanupShortcuts(context, &onDesktop);
    if (!planted)
        Log(context, L"The clean-up could not be set to start; after the restart, start C:\\Brenwick\\Brenwick.exe "
                     L"/brenwick /cleanup in the repaired account.");
    RestoreSavedPolicies(context.statePath.Text(), context.account, context.version, context.input.logPath.c_str());
    machine::PowerCutPoint(L"step 14 prompt restored");
    // The tool folder's copy, which only administrators can change: the
    // fix run may have been started from anywhere, and the finish runs as SYSTEM.
    const std::wstring toolCopy = context.input.toolFolder + kToolExeName;
    if (!RegisterFinishService(toolCopy.c_str())) {
        Log(context, L"The finish of the repair could not be registered with the service manager.");
        return false;
    }
    // From here the finish, not this run, completes the repair.
    context.journal.outcome = repaired ? RepairOutcome::Repaired : RepairOutcome::NotRepaired;
    SaveJournal(context);
    machine::PowerCutPoint(L"step 14 handed over");
    MarkRow(context, RepairRow::Move, repaired);
    if (!repaired)
        LogAbout(context, L"The ", L" account could not be repaired.");
    else
        LogAbout(context, L"The ", planted && onDesktop
                                       ? L" account was successfully repaired."
                                       : L" account was repaired; its clean-up shortcuts were not all planted.");
    RestoreSignInOnce(context.input.logPath.c_str(), context.statePath.Text(), context.account, &context.journal,
                      context.journalPath.Text());
    RemoveFixShortcuts(context);
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
        WString link = JoinPath(startup.Text(), kCleanupShortcutName);
        planted = CreateShortcut(link.Text(), context.input.programPath.c_str(),
                                 RepairArguments(RepairStart::CleanupFailed).Text(), kCleanupDescription);
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
        MarkRow(context, RepairRow::Info, true);
    if (journal.Done(RepairStep::DeleteOld))
        MarkRow(context, RepairRow::Delete, true);
    if (journal.Done(RepairStep::CreateNew))
        MarkRow(context, RepairRow::Create, true);
    if (journal.Done(RepairStep::ProfileEntry))
        AddRow(context, RepairRow::Move);
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
        found.flags != static_cast<uint32_t>(context.input.fixFlags)) {
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

DWORD Repair(RepairContext& context, uint32_t stopAfter)
{
    context.account = context.input.account.c_str();
    context.version = context.input.osVersion;
    context.journalPath = JournalPath(context.input.toolFolder.c_str());
    context.statePath = StateFilePath(context.input.toolFolder.c_str());
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
        context.journal.flags = static_cast<uint32_t>(context.input.fixFlags);
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
        if (context.progress != nullptr)
            context.progress->StepCompleted(step);
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

DWORD RunRepair(const RepairInput& input, RepairProgress* progress)
{
    return RunRepairUntil(input, progress, kRepairStepCount);
}

DWORD RunRepairUntil(const RepairInput& input, RepairProgress* progress, uint32_t stepsToComplete)
{
    try {
        RepairContext context;
        context.input = input;
        context.progress = progress;
        EnablePrivileges();
        ComForThread com;
        return Repair(context, stepsToComplete);
    } catch (...) {
        // Nothing may leave the worker; the journal keeps what was done.
        WriteLogEntry(input.logPath.c_str(), L"The repair stopped on an unexpected error.", 0);
        return 0;
    }
}
