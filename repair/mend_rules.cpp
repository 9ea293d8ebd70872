#include "repair/mend_rules.h"

#include <algorithm>

namespace {

template <typename T>
void AddOnce(std::vector<T>& list, T item)
{
    if (std::find(list.begin(), list.end(), item) == list.end())
        list.push_back(item);
}

}  // namespace

ProfileDiagnosis DiagnoseProfile(const ProfileFacts& facts)
{
    ProfileDiagnosis d;
    d.folder = facts.folder;
    const bool haveFolder = !facts.folder.empty();
    // The backup holds the real profile when the entry beside it does not:
    // missing, temporary, or naming no folder of the account's own.
    const bool backupWins = facts.backupPresent && facts.backupPathUsable &&
                            (!facts.entryPresent || facts.entryPathTemporary || !facts.entryPathUsable);
    if (backupWins)
        d.causes.push_back(ProfileCause::BackupEntry);
    if (!backupWins && haveFolder && (!facts.entryPresent || !facts.entryPathUsable))
        d.causes.push_back(ProfileCause::WrongPath);
    // Restoring a backup resets both counters, as the system's own repair does.
    if (!backupWins && facts.entryPresent && (facts.state & kStateFailureBits) != 0)
        d.causes.push_back(ProfileCause::StateLeftSet);
    if (!backupWins && facts.entryPresent && facts.refCount != 0 && !facts.hiveLoaded)
        d.causes.push_back(ProfileCause::RefCountLeftSet);
    if (haveFolder && facts.folderRights == RightsFinding::Missing)
        d.causes.push_back(ProfileCause::FolderRights);
    if (haveFolder && (facts.userHiveRights == RightsFinding::Missing ||
                       facts.classesHiveRights == RightsFinding::Missing))
        d.causes.push_back(ProfileCause::HiveRights);
    if (haveFolder && (facts.hive == HiveFinding::DoesNotLoad || facts.hive == HiveFinding::Damaged))
        d.causes.push_back(ProfileCause::HiveDamaged);
    if (haveFolder && facts.hive == HiveFinding::Absent)
        d.causes.push_back(ProfileCause::HiveMissing);
    if (!haveFolder)
        d.causes.push_back(ProfileCause::FolderMissing);
    if (haveFolder && !facts.hasAppData)
        d.causes.push_back(ProfileCause::FilesMissing);

    d.settingsSound = haveFolder && (facts.hive == HiveFinding::Loads || facts.hive == HiveFinding::InUse);
    const bool hiveLost = !haveFolder || facts.hive == HiveFinding::DoesNotLoad ||
                          facts.hive == HiveFinding::Damaged || facts.hive == HiveFinding::Absent;
    if (d.causes.empty()) {
        d.recommended = MendKind::None;
        return d;
    }
    if (hiveLost) {
        d.recommended = MendKind::RebuildFresh;
        return d;
    }
    // Permissions that cannot even be read cannot be put right in place
    // with any certainty: a rebuild gives the whole folder its rights anew.
    if (facts.folderRights == RightsFinding::Unknown || facts.userHiveRights == RightsFinding::Unknown) {
        d.recommended = d.settingsSound ? MendKind::RebuildKeepingSettings : MendKind::RebuildFresh;
        return d;
    }
    d.recommended = MendKind::InPlace;
    for (ProfileCause cause : d.causes) {
        switch (cause) {
        case ProfileCause::BackupEntry:
            AddOnce(d.actions, MendAction::RestoreBackupEntry);
            if (!facts.backupPath.empty() && facts.folder != facts.backupPath)
                AddOnce(d.actions, MendAction::SetPath);
            AddOnce(d.actions, MendAction::ClearState);
            AddOnce(d.actions, MendAction::ClearRefCount);
            break;
        case ProfileCause::WrongPath: AddOnce(d.actions, MendAction::SetPath); break;
        case ProfileCause::StateLeftSet: AddOnce(d.actions, MendAction::ClearState); break;
        case ProfileCause::RefCountLeftSet: AddOnce(d.actions, MendAction::ClearRefCount); break;
        case ProfileCause::FolderRights: AddOnce(d.actions, MendAction::GrantFolder); break;
        case ProfileCause::HiveRights: AddOnce(d.actions, MendAction::GrantHives); break;
        case ProfileCause::FilesMissing: AddOnce(d.actions, MendAction::CreateAppData); break;
        case ProfileCause::HiveDamaged:
        case ProfileCause::HiveMissing:
        case ProfileCause::FolderMissing: break;
        }
    }
    std::sort(d.actions.begin(), d.actions.end());
    return d;
}

const wchar_t* ProfileCauseText(ProfileCause cause)
{
    switch (cause) {
    case ProfileCause::BackupEntry:
        return L"the profile list holds the account's entry as a backup (.bak) and a temporary profile in its place";
    case ProfileCause::WrongPath: return L"the profile list names a folder that is not the account's own";
    case ProfileCause::StateLeftSet: return L"the profile list still marks the profile as failed (State)";
    case ProfileCause::RefCountLeftSet: return L"the profile list counts loads of a profile that is not loaded (RefCount)";
    case ProfileCause::FolderRights: return L"the account may not use its own profile folder";
    case ProfileCause::HiveRights: return L"the account may not use its own registry hive files";
    case ProfileCause::HiveDamaged: return L"the account's registry hive (NTUSER.DAT) is damaged and does not load";
    case ProfileCause::HiveMissing: return L"the profile folder holds no registry hive (NTUSER.DAT)";
    case ProfileCause::FolderMissing: return L"no profile folder of the account's own was found";
    case ProfileCause::FilesMissing: return L"the profile folder lacks its AppData folders";
    }
    return L"";
}

const wchar_t* ProfileCauseName(ProfileCause cause)
{
    switch (cause) {
    case ProfileCause::BackupEntry: return L"backup-entry";
    case ProfileCause::WrongPath: return L"wrong-path";
    case ProfileCause::StateLeftSet: return L"state-left-set";
    case ProfileCause::RefCountLeftSet: return L"refcount-left-set";
    case ProfileCause::FolderRights: return L"folder-rights";
    case ProfileCause::HiveRights: return L"hive-rights";
    case ProfileCause::HiveDamaged: return L"hive-damaged";
    case ProfileCause::HiveMissing: return L"hive-missing";
    case ProfileCause::FolderMissing: return L"folder-missing";
    case ProfileCause::FilesMissing: return L"files-missing";
    }
    return L"";
}

const wchar_t* MendKindText(MendKind kind)
{
    switch (kind) {
    case MendKind::None: return L"nothing to mend: the profile looks sound";
    case MendKind::InPlace: return L"mend in place";
    case MendKind::RebuildKeepingSettings: return L"rebuild the account keeping its settings";
    case MendKind::RebuildFresh: return L"rebuild the account with fresh settings";
    }
    return L"";
}

const wchar_t* MendKindName(MendKind kind)
{
    switch (kind) {
    case MendKind::None: return L"none";
    case MendKind::InPlace: return L"mend-in-place";
    case MendKind::RebuildKeepingSettings: return L"rebuild-keeping-settings";
    case MendKind::RebuildFresh: return L"rebuild-fresh";
    }
    return L"";
}

const wchar_t* MendActionText(MendAction action)
{
    switch (action) {
    case MendAction::RestoreBackupEntry: return L"put the backed-up profile-list entry back in place";
    case MendAction::SetPath: return L"point the profile-list entry at the account's folder";
    case MendAction::ClearState: return L"clear the failure marks of the entry's State";
    case MendAction::ClearRefCount: return L"set the entry's RefCount to 0";
    case MendAction::GrantFolder: return L"give the account full control of its profile folder";
    case MendAction::GrantHives: return L"give the account full control of its hive files";
    case MendAction::CreateAppData: return L"make the missing AppData folders";
    }
    return L"";
}

const wchar_t* HiveFindingText(HiveFinding hive)
{
    switch (hive) {
    case HiveFinding::Loads: return L"loads and reads back";
    case HiveFinding::Damaged: return L"loads but lacks what a profile needs (its shell folder list)";
    case HiveFinding::DoesNotLoad: return L"does not load";
    case HiveFinding::Absent: return L"is missing";
    case HiveFinding::InUse: return L"is loaded now, so it was not tried; the rebuild tries it";
    case HiveFinding::Untried: return L"could not be tried (no profile folder of the account's own)";
    case HiveFinding::Uncopied:
        return L"could not be tried: its file cannot be copied (a link on its way, another name elsewhere, or "
               L"unreadable)";
    }
    return L"";
}

MendEffects EffectsOf(MendKind kind)
{
    switch (kind) {
    case MendKind::None: return {L"everything", L"nothing"};
    case MendKind::InPlace:
        return {L"the same account and SID, every file and every setting, encrypted files and saved credentials; "
                L"no restart",
                L"nothing"};
    case MendKind::RebuildKeepingSettings:
        return {L"every file and the account's settings (its registry hive), given to a new SID",
                L"encrypted files, saved credentials, file-type choices bound to the old SID; two restarts"};
    case MendKind::RebuildFresh:
        return {L"every file", L"every setting (desktop, Start, application settings, mapped drives, mail "
                               L"profiles), encrypted files, saved credentials; two restarts"};
    }
    return {L"", L""};
}

std::wstring DiagnosisSummary(const ProfileDiagnosis& diagnosis)
{
    std::wstring text;
    if (diagnosis.causes.empty()) {
        text = L"No cause found: the profile-list entry, the permissions and the registry hive look sound.";
    } else {
        text = L"Found: ";
        for (size_t i = 0; i < diagnosis.causes.size(); ++i) {
            text += ProfileCauseText(diagnosis.causes[i]);
            text += i + 1 < diagnosis.causes.size() ? L"; " : L".";
        }
    }
    if (diagnosis.recommended != MendKind::None) {
        const MendEffects effects = EffectsOf(diagnosis.recommended);
        text += L"\r\nProposed: ";
        text += MendKindText(diagnosis.recommended);
        text += L". Keeps ";
        text += effects.keeps;
        text += L". Loses ";
        text += effects.loses;
        text += L".";
    }
    return text;
}
