// Why an account's profile does not load, and the least a repair must do
// about it: the decisions over what the examination of the account found
// (repair/profile_diagnosis.h gathers the facts). No system call here, so
// that every case can be tested on any host.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

// Bits of a profile-list entry's "State" that the profile service leaves
// when a profile could not be used: a temporary profile was loaded instead
// (0x0800), the cached profile is to be deleted (0x0020), or the entry is a
// backup of one that failed (0x8000). Any of them makes the next sign-in
// take a temporary profile again.
inline constexpr uint32_t kStateTemporary = 0x0800;
inline constexpr uint32_t kStateDeleteCache = 0x0020;
inline constexpr uint32_t kStateBackedUp = 0x8000;
inline constexpr uint32_t kStateFailureBits = kStateTemporary | kStateDeleteCache | kStateBackedUp;

// What one look at a permission found for the account's SID.
enum class RightsFinding {
    Granted,    // the SID (itself) may read and write the object
    Missing,    // the object is there and the SID may not
    Absent,     // no such object
    Unknown,    // its security could not be read
};

// Whether the account's NTUSER.DAT loads, tried under a temporary key.
enum class HiveFinding {
    Loads,          // loaded, its shell folder list read back, unloaded
    Damaged,        // loaded, but what the profile service needs of it is not there
    DoesNotLoad,    // refused by the registry
    Absent,         // no file
    InUse,          // loaded already (signed in, or by another program): not tried
    Untried,        // no usable folder to try it in
    Uncopied,       // its file could not be copied to be tried (a link, another name, unreadable)
};

// Everything the examination found, in plain values.
struct ProfileFacts {
    bool entryPresent = false;          // the SID's own profile-list entry
    bool backupPresent = false;         // SID + ".bak"
    std::wstring entryPath;             // its ProfileImagePath, as stored
    std::wstring backupPath;
    bool entryPathUsable = false;       // a folder of the account's own inside the profiles folder
    bool backupPathUsable = false;
    bool entryPathTemporary = false;    // ends in \TEMP or holds \TEMP.<computer>
    uint32_t state = 0;
    uint32_t refCount = 0;
    bool hiveLoaded = false;            // HKEY_USERS\<SID> is loaded now (RefCount is then the system's)
    // The folder the account's files live in (the usable one of the two
    // paths, the entry's first); empty when neither is usable.
    std::wstring folder;
    RightsFinding folderRights = RightsFinding::Unknown;
    RightsFinding userHiveRights = RightsFinding::Unknown;      // NTUSER.DAT
    RightsFinding classesHiveRights = RightsFinding::Unknown;   // UsrClass.dat
    HiveFinding hive = HiveFinding::Untried;
    bool hasAppData = false;            // the folder holds AppData\Local and AppData\Roaming
};

// A cause the examination can name.
enum class ProfileCause {
    BackupEntry,        // the entry was backed up as SID.bak and a new one (a temporary profile) put beside it
    WrongPath,          // the entry names a missing, temporary or foreign folder
    StateLeftSet,       // "State" holds the bits of a failed load
    RefCountLeftSet,    // "RefCount" counts loads of a hive that is not loaded
    FolderRights,       // the account may not use its own folder
    HiveRights,         // the account may not use its own hive files
    HiveDamaged,        // NTUSER.DAT does not load, or loads without what a profile needs
    HiveMissing,        // no NTUSER.DAT in the folder
    FolderMissing,      // no folder of the account's own could be found
    FilesMissing,       // the folder lacks the AppData folders a profile needs
};

// The mends, least invasive first.
enum class MendKind {
    None,                     // nothing found to mend
    InPlace,                  // keys and permissions put right for the same account
    RebuildKeepingSettings,   // a new account that keeps the old hive
    RebuildFresh,             // a new account with fresh hives
};

// One change of a mend in place, in the order they are made.
enum class MendAction {
    RestoreBackupEntry,   // the backed-up entry's values back in the SID's entry, the backup removed
    SetPath,              // ProfileImagePath names the account's folder
    ClearState,           // the failure bits taken out of "State"
    ClearRefCount,        // "RefCount" 0
    GrantFolder,          // the account's full control on its folder (inherited below)
    GrantHives,           // the account's full control on NTUSER.DAT and UsrClass.dat
    CreateAppData,        // the missing AppData folders made, inheriting the folder's rights
};

struct ProfileDiagnosis {
    std::vector<ProfileCause> causes;     // in the order of the enumeration
    MendKind recommended = MendKind::None;
    std::vector<MendAction> actions;      // of the mend in place, when it is recommended
    std::wstring folder;                  // the folder a mend in place points the entry at
    // The settings are sound: a rebuild may keep the old hive.
    bool settingsSound = false;
};

ProfileDiagnosis DiagnoseProfile(const ProfileFacts& facts);

// The operator's words for a cause, for a mend's kind and for one change.
const wchar_t* ProfileCauseText(ProfileCause cause);
const wchar_t* MendKindText(MendKind kind);
const wchar_t* MendActionText(MendAction action);
// Short machine names, for the command line's JSON and the log.
const wchar_t* ProfileCauseName(ProfileCause cause);
const wchar_t* MendKindName(MendKind kind);

// What the examination found of the hive, in the operator's words ("loads
// and reads back"), for the plan of a rebuild that is to keep the settings.
const wchar_t* HiveFindingText(HiveFinding hive);

// What a mend keeps and what it loses, in the operator's words.
struct MendEffects {
    const wchar_t* keeps;
    const wchar_t* loses;
};
MendEffects EffectsOf(MendKind kind);

// The diagnosis told in a few lines for the wizard's first page: the causes,
// the mend proposed and what it keeps and loses.
std::wstring DiagnosisSummary(const ProfileDiagnosis& diagnosis);
