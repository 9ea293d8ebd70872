// Account deletion, and what the system still holds for the account's SID
// afterwards: its account rights, its picture set, its loaded hives, its
// profile folder and its profile-list entry.
#include "accounts/account_lifecycle.h"

#include <ntsecapi.h>
#include <userenv.h>

#include <vector>

#include "accounts/lookup.h"
#include "accounts/passwords.h"
#include "accounts/profile_key_rules.h"
#include "accounts/profile_list.h"
#include "platform/files.h"
#include "platform/handles.h"
#include "platform/machine.h"
#include "platform/registry.h"
#include "platform/sid.h"
#include "platform/text_win.h"

namespace {

constexpr wchar_t kPictureKey[] = L"HKLM64\\SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\AccountPicture\\Users";

// Every right the policy holds for the SID, and the policy's account object
// with them: nothing stays behind in the policy for a SID nobody owns.
bool RemoveAccountRights(PSID sid)
{
    UniqueLsaPolicy policy = OpenLocalPolicy(POLICY_LOOKUP_NAMES | POLICY_CREATE_ACCOUNT);
    if (policy.Get() == nullptr)
        return false;
    NTSTATUS status = machine::LsaRemoveAccountRights(policy.Get(), sid, TRUE, nullptr, 0);
    return status == kStatusSuccess || machine::LsaNtStatusToWinError(status) == ERROR_FILE_NOT_FOUND;
}

bool IsHiveLoaded(const wchar_t* name)
{
    UniqueRegKey key;
    return RegOpenKeyExW(HKEY_USERS, name, 0, KEY_READ, key.Put()) == ERROR_SUCCESS;
}

// The account's hives under HKEY_USERS, when loaded; true when neither is
// loaded afterwards.
bool UnloadHives(const wchar_t* sidString)
{
    bool unloaded = true;
    for (const wchar_t* suffix : {L"", L"_Classes"}) {
        WString name(sidString);
        name.Append(suffix);
        if (IsHiveLoaded(name.Text()))
            RegUnLoadKeyW(HKEY_USERS, name.Text());
        unloaded = unloaded && !IsHiveLoaded(name.Text());
    }
    return unloaded;
}

DWORD Attributes(const wchar_t* path)
{
    WString longForm(path);
    longForm.AddLongPathPrefix();
    return GetFileAttributesW(longForm.Text());
}

// Walks from `root` down to `folder` (both resolved, the folder strictly
// below the root): Inside when every level is a folder and none is a link.
ProfileFolderVerdict CheckLevels(const wchar_t* root, const wchar_t* folder)
{
    uint32_t rootLength = TextLength(root);
    uint32_t length = TextLength(folder);
    for (uint32_t end = rootLength + 1; end <= length; ++end) {
        if (end != length && folder[end] != L'\\')
            continue;
        WString level;
        if (!level.AssignSubstring(folder, 1, static_cast<int>(end)))
            return ProfileFolderVerdict::Missing;
        DWORD attributes = Attributes(level.Text());
        if (attributes == INVALID_FILE_ATTRIBUTES || (attributes & FILE_ATTRIBUTE_DIRECTORY) == 0)
            return ProfileFolderVerdict::Missing;
        if ((attributes & FILE_ATTRIBUTE_REPARSE_POINT) != 0)
            return ProfileFolderVerdict::ReparsePoint;
    }
    return ProfileFolderVerdict::Inside;
}

bool Overlaps(const wchar_t* a, const wchar_t* b)
{
    return EqualsNoCase(a, b) || IsStrictlyBelow(a, b) || IsStrictlyBelow(b, a);
}

// The path the system resolves for the folder itself: short names, links and
// substituted drives on the way no longer hide which folder it is.
bool ExistingFolderFinalPath(const wchar_t* folder, WString& finalPath)
{
    WString longPath;
    if (!AbsoluteLongPath(folder, longPath))
        return false;
    UniqueFileHandle handle(CreateFileW(longPath.Text(), FILE_READ_ATTRIBUTES,
                                        FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr, OPEN_EXISTING,
                                        FILE_FLAG_BACKUP_SEMANTICS, nullptr));
    return handle && FinalPathOf(handle.Get(), finalPath);
}

// True when another profile's folder lies at the folder, inside it, or
// around it, by the final paths of both where they exist: a short name or a
// link for another account's folder must not pass as this account's own.
// False also when the folder itself cannot be opened.
bool SharedOnDisk(const wchar_t* folder, const std::vector<const ProfileFolderSet::Other*>& others, bool& opened)
{
    WString own;
    opened = ExistingFolderFinalPath(folder, own);
    if (!opened)
        return false;
    for (const ProfileFolderSet::Other* other : others) {
        if (*other->finalPath.Text() != L'\0' && Overlaps(own.Text(), other->finalPath.Text()))
            return true;
    }
    return false;
}

// The account's picture key and its folder of pictures, when there are any.
bool RemovePictureSet(const wchar_t* sidString)
{
    bool removed = true;
    WString key = JoinPath(kPictureKey, sidString);
    if (KeyExists(key.Text()))
        removed = RegKey().DeleteTree(key.Text()) && !KeyExists(key.Text());

    WString base = ExpandEnvironmentText(L"%Public%\\AccountPictures");
    WString root;
    if (base.Find(L"%", true) != 0 || NormaliseLocalPath(base.Text(), root) != ProfileFolderVerdict::Inside)
        return removed;
    WString folder = JoinPath(root.Text(), sidString);
    ProfileFolderVerdict levels = CheckLevels(root.Text(), folder.Text());
    if (levels == ProfileFolderVerdict::Missing && Attributes(folder.Text()) == INVALID_FILE_ATTRIBUTES)
        return removed;
    if (levels == ProfileFolderVerdict::ReparsePoint) {
        // A link is removed as a link, never entered.
        return DeletePath(folder.Text(), 0) != kDeleteFailed && removed;
    }
    if (levels != ProfileFolderVerdict::Inside || (Attributes(root.Text()) & FILE_ATTRIBUTE_REPARSE_POINT) != 0)
        return false;
    return DeletePath(folder.Text(), kDeleteTakeOver | kDeleteScheduleAtRestart) != kDeleteFailed && removed;
}

bool RemoveProfileEntry(const wchar_t* sidString)
{
    WString key = ProfileEntryKeyPath(sidString);
    if (key.IsEmpty() || !KeyExists(key.Text()))
        return true;
    RegKey().DeleteTree(key.Text());
    return !KeyExists(key.Text());
}

}  // namespace

bool ProfileFolderSet::Read()
{
    others_.clear();
    std::vector<KnownProfileFolder> folders;
    whole_ = KnownProfileFolders(folders);
    for (KnownProfileFolder& folder : folders) {
        Other other;
        if (NormaliseLocalPath(folder.path.Text(), other.resolved) != ProfileFolderVerdict::Inside)
            continue;
        other.ownerEntry = std::move(folder.ownerEntry);
        ExistingFolderFinalPath(other.resolved.Text(), other.finalPath);
        others_.push_back(std::move(other));
    }
    return whole_;
}

ProfileFolderVerdict ProfileFolderSet::Check(const wchar_t* storedPath, const wchar_t* ownSidString,
                                             WString& folder) const
{
    WString expanded = ExpandEnvironmentText(storedPath != nullptr ? storedPath : L"");
    WString root, resolvedRoot, resolved;
    root = ProfilesDirectory();
    ProfileFolderVerdict verdict = CheckProfileFolderPath(expanded.Text(), root.Text(), resolved);
    if (verdict != ProfileFolderVerdict::Inside)
        return verdict;
    if (!whole_)
        return ProfileFolderVerdict::ProfileListUnreadable;
    NormaliseLocalPath(root.Text(), resolvedRoot);
    std::vector<const Other*> others;
    for (const Other& other : others_) {
        if (IsEntryOf(other.ownerEntry.Text(), ownSidString))
            continue;
        if (Overlaps(resolved.Text(), other.resolved.Text()))
            return ProfileFolderVerdict::Shared;
        others.push_back(&other);
    }
    verdict = CheckLevels(resolvedRoot.Text(), resolved.Text());
    if (verdict != ProfileFolderVerdict::Inside)
        return verdict;
    bool opened = false;
    if (SharedOnDisk(resolved.Text(), others, opened))
        return ProfileFolderVerdict::Shared;
    if (!opened)
        return ProfileFolderVerdict::Missing;
    folder = std::move(resolved);
    return verdict;
}

ProfileFolderVerdict CheckProfileFolder(const wchar_t* storedPath, const wchar_t* ownSidString, WString& folder)
{
    // A path refused on its face needs no list.
    WString expanded = ExpandEnvironmentText(storedPath != nullptr ? storedPath : L"");
    WString root = ProfilesDirectory(), resolved;
    const ProfileFolderVerdict verdict = CheckProfileFolderPath(expanded.Text(), root.Text(), resolved);
    if (verdict != ProfileFolderVerdict::Inside)
        return verdict;
    ProfileFolderSet folders;
    folders.Read();
    return folders.Check(storedPath, ownSidString, folder);
}

int RemoveAccount(const AccountDeletion& deletion, AccountDeletionReport& report)
{
    report = AccountDeletionReport{};
    const wchar_t* name = deletion.accountName;
    if (name == nullptr || *name == L'\0')
        return 0;

    // While the account still exists: afterwards its name means nothing.
    WString sidString, profile;
    GetAccountSidAndProfile(name, sidString, &profile);
    report.profileFolder = std::move(profile);
    LocalSid sid;
    if (IsPlainSidString(sidString.Text()))
        SidFromText(sidString.Text(), sid);
    report.sidString = std::move(sidString);
    const wchar_t* sidText = report.sidString.Text();

    report.deleteStatus = machine::NetUserDel(nullptr, name);
    if (report.deleteStatus != NERR_Success)
        return 0;
    report.accountDeleted = true;
    report.result = 1;

    // Only the name is compared: a stale "DefaultUserName" goes too.
    if (deletion.clearAutoLogon && EqualsNoCase(GetAutoLogonUserName().Text(), name))
        report.autoLogonCleared = SetAutoLogon(L"", nullptr) != AutoLogonResult::Failed;

    if (sid) {
        report.rightsRemoved = RemoveAccountRights(sid.Get());
        report.pictureRemoved = RemovePictureSet(sidText);
    }
    RemoveProfileOf(sidText, report.profileFolder.Text(), deletion.folderFlags, deletion.alwaysRemoveProfileEntry,
                    report, deletion.profileFolders);
    return report.result;
}

void RemoveProfileOf(const wchar_t* sidString, const wchar_t* storedProfilePath, uint32_t folderFlags,
                     bool alwaysRemoveProfileEntry, AccountDeletionReport& report, const ProfileFolderSet* folders)
{
    const bool sid = IsPlainSidString(sidString);
    bool folderGone = false;
    if (folderFlags != kKeepProfileFolder) {
        WString folder;
        report.folderVerdict = folders != nullptr ? folders->Check(storedProfilePath, sidString, folder)
                                                  : CheckProfileFolder(storedProfilePath, sidString, folder);
        if (report.folderVerdict == ProfileFolderVerdict::Inside) {
            // Loaded hives hold their files open.
            report.hivesUnloaded = sid ? UnloadHives(sidString) : false;
            report.folderResult = DeletePath(folder.Text(), folderFlags, kMaxTreeDepth, &report.folderTally);
            if (report.folderResult != kDeleteFailed) {
                report.result = report.folderResult;
                folderGone = true;
            }
        } else if (report.folderVerdict == ProfileFolderVerdict::Missing && storedProfilePath != nullptr &&
                   *storedProfilePath != L'\0') {
            report.hivesUnloaded = sid ? UnloadHives(sidString) : false;
            folderGone = Attributes(storedProfilePath) == INVALID_FILE_ATTRIBUTES;
        }
    }
    if (sid && (alwaysRemoveProfileEntry || folderGone))
        report.profileEntryRemoved = RemoveProfileEntry(sidString);
}

bool RemoveSidRights(const wchar_t* sidString)
{
    LocalSid sid;
    if (!IsPlainSidString(sidString) || !SidFromText(sidString, sid))
        return false;
    return RemoveAccountRights(sid.Get());
}

bool RemoveSidFromGroup(const wchar_t* groupName, const wchar_t* sidString)
{
    LocalSid sid;
    if (groupName == nullptr || *groupName == L'\0' || !IsPlainSidString(sidString) || !SidFromText(sidString, sid))
        return false;
    // By the SID alone: a deleted account's SID has no name left to give.
    LOCALGROUP_MEMBERS_INFO_0 member{sid.Get()};
    NET_API_STATUS status = machine::NetLocalGroupDelMembers(nullptr, groupName, 0, reinterpret_cast<LPBYTE>(&member), 1);
    return status == NERR_Success || status == ERROR_MEMBER_NOT_IN_ALIAS;
}

int DeleteAccount(const wchar_t* accountName, uint32_t flags)
{
    AccountDeletion deletion;
    deletion.accountName = accountName;
    deletion.folderFlags = flags & (kDeleteScheduleAtRestart | kDeleteTakeOver);
    deletion.clearAutoLogon = false;
    deletion.alwaysRemoveProfileEntry = true;
    AccountDeletionReport report;
    return RemoveAccount(deletion, report);
}
