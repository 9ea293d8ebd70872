#include "accounts/personal_folders.h"

#include <aclapi.h>
#include <knownfolders.h>
#include <shlobj.h>
#include <shlwapi.h>
#include <userenv.h>

#include <memory>
#include <vector>

#include "accounts/account_hive.h"
#include "accounts/explorer_refresh.h"
#include "accounts/lookup.h"
#include "accounts/profile_list.h"
#include "platform/file_move.h"
#include "platform/files.h"
#include "platform/handles.h"
#include "platform/machine.h"
#include "platform/registry.h"
#include "platform/security.h"
#include "platform/text_win.h"
#include "platform/tree_walk.h"

namespace {

// The known folder of each row of kPersonalFolders, in the same order.
const KNOWNFOLDERID* const kKnownFolders[6] = {&FOLDERID_Desktop,   &FOLDERID_Documents, &FOLDERID_Downloads,
                                               &FOLDERID_Music,     &FOLDERID_Pictures,  &FOLDERID_Videos};

constexpr DWORD kDefaultPathFlags = 0x4400;   // KF_FLAG_DEFAULT_PATH | KF_FLAG_NOT_PARENT_RELATIVE

HANDLE UsableToken(HANDLE token) { return token == INVALID_HANDLE_VALUE ? nullptr : token; }

// The SID string of the account this process runs as; empty when unknown.
WString ProcessUserSidString()
{
    WString text;
    ProcessUserSidText(text);
    return text;
}

// True when the token is of the account this process runs as.
bool IsOwnUser(HANDLE token)
{
    UniqueToken own;
    UniqueBytes ours;
    return OpenProcessToken(GetCurrentProcess(), TOKEN_QUERY, own.Put()) &&
           TokenUserIs(token, QueryTokenUser(own.Get(), ours));
}

bool ReadsBackAs(int index, const wchar_t* newPath, bool byKnownFolder)
{
    WString now;
    const PersonalFolder& folder = kPersonalFolders[index];
    bool read = byKnownFolder || folder.csidl == kNoCsidl ? FromKnownFolder(now, *kKnownFolders[index], nullptr, 0)
                                                          : FromFolderPath(now, folder.csidl, nullptr, 0);
    return read && EqualsNoCase(now.Text(), newPath);
}

constexpr wchar_t kExplorerKey[] = L"Software\\Microsoft\\Windows\\CurrentVersion\\Explorer\\";

// "HKU\<sid>": where the hive of a signed-in account is loaded.
WString SignedInHive(const wchar_t* sidString)
{
    WString root(L"HKU\\");
    root.Append(sidString);
    return root;
}

// One of the account's two lists of its folders, opened as itself (a
// registry link in the hive is never followed).
RegKey OpenFolderList(const wchar_t* hive, const wchar_t* list, DWORD access, bool create)
{
    WString subkey(kExplorerKey);
    subkey.Append(list);
    return RegKey(OpenHiveKeyItself(hive, subkey.Text(), access, create));
}

// The last way there is: the account's own registry lists of its folders.
bool WriteShellFolderValues(const wchar_t* hive, const wchar_t* profilePath, int index, const wchar_t* newPath)
{
    RegKey plain = OpenFolderList(hive, L"Shell Folders", KEY_SET_VALUE, true);
    if (!plain)
        return false;
    const wchar_t* value = kPersonalFolders[index].valueName;
    if (!plain.SetValue(value, REG_SZ, newPath, 0))
        return false;
    WString relative = ProfileRelativeForm(newPath, profilePath);
    // The system's own unexpansion may find a shorter variable; an empty
    // answer keeps the form made here.
    WString unexpanded;
    wchar_t* buffer = unexpanded.GetBuffer(2048, nullptr, true);
    if (buffer != nullptr && PathUnExpandEnvStringsW(relative.Text(), buffer, 2048) && buffer[0] != L'\0')
        relative.Assign(buffer);
    RegKey expandable = OpenFolderList(hive, L"User Shell Folders", KEY_SET_VALUE, true);
    if (!expandable)
        return false;
    return expandable.SetValue(value, REG_EXPAND_SZ, relative.Text(), 0);
}

// For another account than the one running us the shell cannot answer; its
// own "Shell Folders" list is what the registry way wrote.
bool HiveReadsBackAs(const wchar_t* hive, int index, const wchar_t* newPath)
{
    RegKey key = OpenFolderList(hive, L"Shell Folders", KEY_READ, false);
    WString now;
    return key && key.QueryString(kPersonalFolders[index].valueName, now) && EqualsNoCase(now.Text(), newPath);
}

// A stored place of another account as a path: its profile put in for
// "%USERPROFILE%", the machine's variables expanded; empty when that is
// no absolute path.
WString StoredPlace(const WString& stored, const wchar_t* profilePath)
{
    WString place = ProfileAbsoluteForm(stored.Text(), profilePath);
    if (wcschr(place.Text(), L'%') != nullptr)
        place = ExpandEnvironmentText(place.Text());
    WString normalised(place.Text());
    if (place.IsEmpty() || !NormalizeFolderPath(normalised) || wcschr(place.Text(), L'%') != nullptr)
        return WString(L"");
    return place;
}

// The default place of folder `index` in the profile `profilePath`: the
// system puts each folder at the same place below every profile, so the
// running account's default, taken relative to its own profile, is moved
// over to that one.
bool DefaultPlaceIn(int index, const wchar_t* profilePath, WString& defaultPath)
{
    const PersonalFolder& folder = kPersonalFolders[index];
    WString own, ownProfile;
    const bool read = (folder.csidl != kNoCsidl && FromFolderPath(own, folder.csidl, nullptr, SHGFP_TYPE_DEFAULT)) ||
                      FromKnownFolder(own, *kKnownFolders[index], nullptr, kDefaultPathFlags);
    if (!read || !FromFolderPath(ownProfile, CSIDL_PROFILE, nullptr, SHGFP_TYPE_CURRENT))
        return false;
    WString relative = ProfileRelativeForm(own.Text(), ownProfile.Text());
    if (!StartsWithNoCase(relative.Text(), L"%USERPROFILE%"))
        return false;
    return defaultPath.Assign(ProfileAbsoluteForm(relative.Text(), profilePath).Text());
}

// Normalised and resolved through links; empty when the text names no place.
WString Resolved(const wchar_t* path)
{
    if (path == nullptr || *path == L'\0')
        return WString(L"");
    return FinalFolderPath(path);
}

void AddResolved(std::vector<WString>& list, const wchar_t* path)
{
    WString resolved = Resolved(path);
    if (!resolved.IsEmpty())
        list.push_back(std::move(resolved));
}

bool IsDirectoryLink(const wchar_t* path)
{
    WString probe(path);
    probe.AddLongPathPrefix();
    const DWORD attributes = GetFileAttributesW(probe.Text());
    return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_REPARSE_POINT) != 0;
}

// Every other profile's folder, resolved; false when the list could not be
// read whole.
bool AddOtherProfiles(std::vector<WString>& list, const wchar_t* ownSid)
{
    std::vector<WString> folders;
    if (!OtherProfileFolders(ownSid, folders))
        return false;
    for (const WString& folder : folders)
        AddResolved(list, folder.Text());
    return true;
}

}  // namespace

bool ReadFolderLocations(int index, HANDLE token, WString& current, WString& defaultPath)
{
    if (index < 0 || index >= 6)
        return false;
    const PersonalFolder& folder = kPersonalFolders[index];
    HANDLE user = UsableToken(token);
    // The folder-path way answers nothing once the default folder is gone
    // (Wine checks that it exists); the known-folder way is asked not to check.
    auto readDefault = [&](HANDLE who) {
        return (folder.csidl != kNoCsidl && FromFolderPath(defaultPath, folder.csidl, who, SHGFP_TYPE_DEFAULT)) ||
               FromKnownFolder(defaultPath, *kKnownFolders[index], who, kDefaultPathFlags);
    };
    // Wine answers the default place only without a token; for the account
    // this process runs as, no token means the same account.
    if (!readDefault(user) && user != nullptr && IsOwnUser(user))
        readDefault(nullptr);
    if (folder.csidl == kNoCsidl)
        return FromKnownFolder(current, *kKnownFolders[index], user, 0);
    return FromFolderPath(current, folder.csidl, user, SHGFP_TYPE_CURRENT);
}

bool ReadHiveFolderLocations(int index, const wchar_t* hive, const wchar_t* profilePath, WString& current,
                             WString& defaultPath)
{
    current.Assign(L"");
    defaultPath.Assign(L"");
    if (index < 0 || index >= 6 || hive == nullptr || profilePath == nullptr || *profilePath == L'\0')
        return false;
    DefaultPlaceIn(index, profilePath, defaultPath);
    for (const wchar_t* list : {L"User Shell Folders", L"Shell Folders"}) {
        RegKey key = OpenFolderList(hive, list, KEY_READ, false);
        WString stored;
        if (!key || !key.QueryString(kPersonalFolders[index].valueName, stored) || stored.IsEmpty())
            continue;
        WString place = StoredPlace(stored, profilePath);
        if (!place.IsEmpty())
            return current.Assign(place.Text());
    }
    return !defaultPath.IsEmpty() && current.Assign(defaultPath.Text());
}

bool SetFolderLocation(const wchar_t* sidString, const wchar_t* profilePath, const wchar_t* folderName,
                       const wchar_t* newPath, FolderSetter* used, const wchar_t* hive)
{
    if (used != nullptr)
        *used = FolderSetter::None;
    const int index = FindPersonalFolder(folderName);
    if (index < 0 || newPath == nullptr || *newPath == L'\0' || sidString == nullptr)
        return false;
    EnablePrivileges();
    const KNOWNFOLDERID& id = *kKnownFolders[index];
    const PersonalFolder& folder = kPersonalFolders[index];
    auto report = [used](FolderSetter setter, bool result) {
        if (used != nullptr)
            *used = setter;
        return result;
    };

    // The shell's setters act for the account this process runs as. For
    // another one (an administrator elevated over the console user's
    // session) they would move the administrator's own folder; only that
    // account's registry lists reach its folders.
    WString running = ProcessUserSidString();
    const bool ownAccount = hive == nullptr && !running.IsEmpty() && EqualsNoCase(running.Text(), sidString);
    const WString root = hive != nullptr ? WString(hive) : SignedInHive(sidString);
    if (!ownAccount) {
        if (!WriteShellFolderValues(root.Text(), profilePath, index, newPath))
            return report(FolderSetter::None, false);
        return report(FolderSetter::Registry, HiveReadsBackAs(root.Text(), index, newPath));
    }

    {
        UniqueCom<IKnownFolderManager> manager;
        if (SUCCEEDED(machine::CoCreateInstance(CLSID_KnownFolderManager, nullptr, CLSCTX_INPROC_SERVER,
                                                IID_IKnownFolderManager, reinterpret_cast<void**>(manager.Put()))) &&
            manager) {
            LPWSTR error = nullptr;
            HRESULT redirected = manager.Get()->Redirect(id, nullptr, 0, newPath, 0, nullptr, &error);
            if (error != nullptr)
                CoTaskMemFree(error);
            if (SUCCEEDED(redirected))
                return report(FolderSetter::Redirect, ReadsBackAs(index, newPath, true));
        }
    }

    UniqueLibrary shell(LoadLibraryW(L"Shell32.dll"));
    if (shell) {
        auto setKnown = machine::AsFunction<machine::SetKnownFolderPathFunction>(
            machine::GetProcAddress(shell.Get(), "SHSetKnownFolderPath"));
        if (setKnown != nullptr && SUCCEEDED(setKnown(id, 0, nullptr, newPath)))
            return report(FolderSetter::KnownFolderPath, ReadsBackAs(index, newPath, true));
        if (folder.csidl != kNoCsidl) {
            auto setPath = machine::AsFunction<machine::SetFolderPathFunction>(machine::GetProcAddress(
                shell.Get(), MAKEINTRESOURCEA(machine::kSetFolderPathOrdinal)));
            if (setPath != nullptr && SUCCEEDED(setPath(folder.csidl, nullptr, 0, newPath)))
                return report(FolderSetter::FolderPathOrdinal, ReadsBackAs(index, newPath, false));
        }
    }

    if (!WriteShellFolderValues(root.Text(), profilePath, index, newPath))
        return report(FolderSetter::None, false);
    return report(FolderSetter::Registry, ReadsBackAs(index, newPath, false));
}

namespace {

// The places no personal folder may take or give up, resolved: the system's
// folders, the profiles directory, the account's own profile and everyone
// else's. The facts point into this, so it outlives them.
struct MachinePlaces {
    std::vector<WString> system;
    WString profiles;
    WString own;
    std::vector<WString> others;
    bool othersKnown = false;
};

void GatherMachinePlaces(MachinePlaces& places, const wchar_t* sidString, const wchar_t* profilePath)
{
    WString windows = WindowsDirectory();
    if (!windows.IsEmpty())
        AddResolved(places.system, windows.Text());
    const KNOWNFOLDERID* const systemFolders[] = {&FOLDERID_ProgramFiles, &FOLDERID_ProgramFilesX86,
                                                  &FOLDERID_ProgramData};
    for (const KNOWNFOLDERID* id : systemFolders) {
        WString path;
        if (FromKnownFolder(path, *id, nullptr, 0))
            AddResolved(places.system, path.Text());
    }

    WString profiles = ProfilesDirectory();
    places.profiles = Resolved(profiles.Text());
    places.own = Resolved(profilePath);
    places.othersKnown = AddOtherProfiles(places.others, sidString);
}

void PlacesToFacts(const MachinePlaces& places, DestinationFacts& facts)
{
    facts.ownProfile = places.own.Text();
    facts.profilesDirectory = places.profiles.Text();
    for (const WString& path : places.system)
        facts.systemFolders.push_back(path.Text());
    for (const WString& path : places.others)
        facts.otherProfiles.push_back(path.Text());
    facts.otherProfilesKnown = places.othersKnown;
}

// Where this program records the places it moved each account's folders
// to: below HKLM, which only administrators can write, so the record is
// no claim of the account's own.
constexpr wchar_t kMovedPlacesKey[] = L"HKLM64\\SOFTWARE\\Vantrell\\Moved folders\\";

WString MovedPlacesKey(const wchar_t* sidString)
{
    WString key(kMovedPlacesKey);
    key.Append(sidString);
    return key;
}

void RecordMovedPlace(const wchar_t* sidString, int index, const wchar_t* place)
{
    RegKey key;
    if (key.Open(MovedPlacesKey(sidString).Text(), kCreateKeyAccess))
        key.SetValue(kPersonalFolders[index].valueName, REG_SZ, place, 0);
}

// True when `place` (as resolved) is where this program last moved one of
// the account's folders.
bool IsRecordedPlace(const wchar_t* sidString, const wchar_t* place)
{
    RegKey key;
    if (!key.Open(MovedPlacesKey(sidString).Text(), KEY_READ))
        return false;
    for (const PersonalFolder& folder : kPersonalFolders) {
        WString recorded;
        if (key.QueryString(folder.valueName, recorded) && !recorded.IsEmpty() && NormalizeFolderPath(recorded) &&
            EqualsNoCase(recorded.Text(), place))
            return true;
    }
    return false;
}

// True when the account owns the opened folder. An object owned by the
// account this process runs as proves nothing: Wine names that account the
// owner of every file, and such a folder is still accepted inside the
// profile or where this program put it.
bool OwnedByAccount(HANDLE folder, const wchar_t* sidString)
{
    LocalSid account;
    PSID owner = nullptr;
    LocalSecurityDescriptor descriptor;
    if (!SidFromName(account, sidString) ||
        GetSecurityInfo(folder, SE_FILE_OBJECT, OWNER_SECURITY_INFORMATION, &owner, nullptr, nullptr, nullptr,
                        descriptor.Put()) != ERROR_SUCCESS ||
        owner == nullptr || !EqualSid(owner, account.Get()))
        return false;
    return !EqualsNoCase(ProcessUserSidString().Text(), sidString);
}

// The real place of an opened folder, in the normalised form the rules use.
WString PlaceOf(HANDLE folder)
{
    WString path;
    if (!FinalPathOf(folder, path) || !NormalizeFolderPath(path))
        return WString(L"");
    return path;
}

// Opens the current place as itself, no link on the way followed, and
// judges the place that handle really is. `folder` stays empty when there
// is nothing to take contents from (missing, or contents not asked for).
SourceRefusal OpenSource(const wchar_t* sidString, const wchar_t* profilePath, const wchar_t* source,
                         bool movingContents, WString& resolved, UniqueFileHandle& folder)
{
    resolved = Resolved(source);
    if (!movingContents)
        return SourceRefusal::None;
    if (resolved.IsEmpty())
        return SourceRefusal::NotAPath;
    WalkRoot why = WalkRoot::Walked;
    folder = OpenFolderPath(source, kMoveSourceAccess, false, why);
    if (!folder) {
        switch (why) {
        case WalkRoot::Missing: return SourceRefusal::None;   // nothing there to take
        case WalkRoot::IsLink: return SourceRefusal::Link;
        case WalkRoot::BadPath:
            return IsVolumeRoot(resolved.Text()) ? SourceRefusal::DriveRoot : SourceRefusal::NotAPath;
        default: return SourceRefusal::Unreachable;
        }
    }
    resolved = PlaceOf(folder.Get());
    MachinePlaces places;
    GatherMachinePlaces(places, sidString, profilePath);
    DestinationFacts facts;
    facts.source = resolved.Text();
    facts.sourceRecorded = IsRecordedPlace(sidString, resolved.Text());
    facts.sourceOwned = OwnedByAccount(folder.Get(), sidString);
    PlacesToFacts(places, facts);
    const SourceRefusal refusal = CheckSource(facts, movingContents);
    if (refusal != SourceRefusal::None)
        folder.Reset();
    return refusal;
}

// The destination rules for the place `to` (resolved).
DestinationRefusal CheckDestinationPlace(int index, const wchar_t* sidString, const wchar_t* profilePath, HANDLE token,
                                         const wchar_t* hive, const wchar_t* from, const wchar_t* to, bool isLink)
{
    MachinePlaces places;
    GatherMachinePlaces(places, sidString, profilePath);
    std::vector<WString> folders;
    for (int other = 0; other < 6; ++other) {
        if (other == index)
            continue;
        WString current, unused;
        if (hive != nullptr ? ReadHiveFolderLocations(other, hive, profilePath, current, unused)
                            : ReadFolderLocations(other, token, current, unused))
            AddResolved(folders, current.Text());
    }
    DestinationFacts facts;
    facts.destination = to;
    facts.destinationIsLink = isLink;
    facts.source = from;
    PlacesToFacts(places, facts);
    for (const WString& path : folders)
        facts.otherFolders.push_back(path.Text());
    return CheckDestination(facts);
}

}  // namespace

SourceRefusal CheckFolderSource(const wchar_t* sidString, const wchar_t* profilePath, const wchar_t* source,
                                bool movingContents, WString& resolved)
{
    UniqueFileHandle folder;
    return OpenSource(sidString, profilePath, source, movingContents, resolved, folder);
}

DestinationRefusal CheckFolderDestination(int index, const wchar_t* sidString, const wchar_t* profilePath,
                                          HANDLE token, const wchar_t* source, const wchar_t* destination,
                                          const wchar_t* hive)
{
    WString to = Resolved(destination);
    if (to.IsEmpty())
        return DestinationRefusal::NotAPath;
    WString from = Resolved(source);
    return CheckDestinationPlace(index, sidString, profilePath, token, hive, from.Text(), to.Text(),
                                 IsDirectoryLink(destination));
}

bool BuildMovedFolderDacl(const wchar_t* consoleUserSid, LocalAcl& dacl, LocalSid& owner)
{
    LocalSid system, administrators;
    if (!SidFromName(owner, consoleUserSid) || !WellKnownSid(system, WinLocalSystemSid) ||
        !WellKnownSid(administrators, WinBuiltinAdministratorsSid) || !NewAcl(dacl))
        return false;
    PACL acl = dacl.Get();
    const DWORD inherit = OBJECT_INHERIT_ACE | CONTAINER_INHERIT_ACE;
    bool built = AddAllowedAce(&acl, owner.Get(), GENERIC_ALL, inherit) &&
                 AddAllowedAce(&acl, system.Get(), GENERIC_ALL, inherit) &&
                 AddAllowedAce(&acl, administrators.Get(), GENERIC_ALL, inherit);
    return built;
}

bool ApplyMovedFolderSecurity(HANDLE folder, const wchar_t* consoleUserSid)
{
    LocalAcl dacl;
    LocalSid user;
    if (!BuildMovedFolderDacl(consoleUserSid, dacl, user))
        return false;
    return ApplyOpenedTreeSecurity(folder, dacl.Get(), user.Get(), true);
}

namespace {

constexpr DWORD kProgressInterval = 150;   // ms between progress reports of a move

// The contents move on a thread of its own, waited for here.
DWORD RunMoveOnThread(FolderMove& move, const std::function<void(const MoveProgress&)>& progress)
{
    UniqueHandle worker(CreateThread(nullptr, 0, MoveFolderThread, &move, 0, nullptr));
    if (!worker)
        return 0;
    while (WaitForSingleObject(worker.Get(), kProgressInterval) == WAIT_TIMEOUT) {
        if (progress)
            progress(move.progress);
    }
    DWORD code = 0;
    GetExitCodeThread(worker.Get(), &code);
    if (progress)
        progress(move.progress);
    return code;
}

}  // namespace

RelocationResult RelocateFolder(const FolderRelocation& request)
{
    RelocationResult result;
    const bool complete = request.index >= 0 && request.index < static_cast<int>(ARRAYSIZE(kPersonalFolders)) &&
                          request.sid != nullptr && request.profile != nullptr && request.current != nullptr &&
                          request.target != nullptr;
    if (!complete) {
        result.destinationRefusal = DestinationRefusal::NotAPath;
        return result;
    }
    // The current place comes from the account's own registry, which its
    // user can write: the contents are taken only from the folder opened
    // here, judged where that handle really is, and only from a place of
    // this account's own.
    UniqueFileHandle source;
    result.sourceRefusal =
        OpenSource(request.sid, request.profile, request.current, request.moveContents, result.source, source);
    if (result.sourceRefusal != SourceRefusal::None)
        return result;
    // Nothing is changed for a place that would harm the system or another account.
    result.destinationRefusal = CheckFolderDestination(request.index, request.sid, request.profile, request.token,
                                                       result.source.Text(), request.target, request.hive);
    if (result.destinationRefusal != DestinationRefusal::None)
        return result;
    if (request.dryRun) {
        result.outcome = RelocationOutcome::Done;
        return result;
    }

    // The destination is opened (made where missing) once, no link on its
    // way followed, and judged again where that handle really is; the
    // location, the permissions and the contents all go to that folder.
    WalkRoot why = WalkRoot::Walked;
    bool made = false;
    UniqueFileHandle destination = OpenFolderPath(request.target, kMoveDestinationAccess, true, why, &made);
    if (!destination) {
        if (why == WalkRoot::IsLink) {
            result.destinationRefusal = DestinationRefusal::Link;
        } else {
            result.outcome = RelocationOutcome::NotChanged;
        }
        return result;
    }
    WString to = PlaceOf(destination.Get());
    result.destinationRefusal =
        to.IsEmpty() ? DestinationRefusal::NotAPath
                     : CheckDestinationPlace(request.index, request.sid, request.profile, request.token,
                                             request.hive, result.source.Text(), to.Text(), false);
    if (result.destinationRefusal != DestinationRefusal::None) {
        if (made)
            DeleteByHandle(destination.Get());
        return result;
    }
    // A folder the operator had in use keeps its own permissions; only a
    // folder made for the move, or found empty, gets the moved-folder ones.
    const bool fresh = !request.restore && (made || FolderIsEmpty(destination.Get()));

    if (request.busy)
        request.busy(true);
    if (!SetFolderLocation(request.sid, request.profile, kPersonalFolders[request.index].name, request.target, nullptr,
                           request.hive)) {
        if (request.busy)
            request.busy(false);
        result.outcome = RelocationOutcome::NotChanged;
        return result;
    }
    result.placeChanged = true;
    RecordMovedPlace(request.sid, request.index, to.Text());
    if (fresh)
        ApplyMovedFolderSecurity(destination.Get(), request.sid);

    // The block lives here until the worker has ended.
    auto move = std::make_unique<FolderMove>();
    move->owner = &result;
    move->source.Assign(result.source.Text());
    move->destination.Assign(to.Text());
    move->sourceFolder = source.Get();
    move->destinationFolder = destination.Get();
    move->flags = MOVEFILE_COPY_ALLOWED | (request.overwrite ? MOVEFILE_REPLACE_EXISTING : 0);
    DWORD code = 1;
    if (source) {
        result.contentsMoved = true;
        code = request.runMove ? request.runMove(*move) : RunMoveOnThread(*move, request.progress);
    }
    if (request.busy)
        request.busy(false);
    result.notMoved = move->notMoved;
    result.left = std::move(move->left);
    if (code == 0) {
        result.outcome = RelocationOutcome::ContentsFailed;
    } else if (result.notMoved > 0) {
        result.outcome = RelocationOutcome::PartlyMoved;
    } else {
        result.outcome = RelocationOutcome::Done;
        if (result.contentsMoved) {
            // The emptied folder that was moved from, and no other.
            SetAttributesByHandle(source.Get(), FILE_ATTRIBUTE_DIRECTORY);
            DeleteByHandle(source.Get());
        }
        if (request.index == 0)
            RefreshExplorerWindows(request.osVersion);
    }
    return result;
}

WString RelocationResultText(const RelocationResult& result, bool restore, PlaceOnlyHint hint)
{
    const wchar_t* const couldNot = restore ? L"Sorry, this folder could not be restored this time."
                                            : L"Sorry, this folder could not be moved this time.";
    switch (result.outcome) {
    case RelocationOutcome::Refused:
        if (result.sourceRefusal != SourceRefusal::None)
            return SourceRefusalText(result.sourceRefusal, result.source.Text(), hint);
        return WString(RefusalText(result.destinationRefusal));
    case RelocationOutcome::NotChanged:
        return WString(couldNot);
    case RelocationOutcome::ContentsFailed:
        return WString(restore ? couldNot : L"Sorry, this folder could not be moved to the selected location.");
    case RelocationOutcome::PartlyMoved: {
        WString text;
        text.FromInt64(static_cast<int64_t>(result.notMoved));
        text.Append(restore ? L" file objects could not be moved because they are being used by another "
                              L"application.\r\n\r\nYou can manually move them later."
                            : L" file objects could not be moved because they are neing used by another "
                              L"application.\r\n\r\nYou can manually move them later.");
        return text;
    }
    case RelocationOutcome::Done:
        break;
    }
    return WString(L"");
}
