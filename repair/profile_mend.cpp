#include "repair/profile_mend.h"

#include <windows.h>
#include <aclapi.h>
#include <sddl.h>

#include <string>
#include <vector>

#include "accounts/account_lifecycle.h"
#include "accounts/lifecycle_rules.h"
#include "accounts/profile_list.h"
#include "accounts/profile_key_rules.h"
#include "accounts/profile_keys.h"
#include "platform/acl.h"
#include "platform/file_handles.h"
#include "platform/files.h"
#include "platform/machine.h"
#include "platform/registry.h"
#include "platform/security.h"
#include "platform/sid.h"
#include "platform/text_win.h"
#include "platform/token.h"
#include "platform/tree_walk.h"
#include "repair/hive_copy.h"
#include "repair/repair_log.h"
#include "repair/tool_folder.h"

namespace {

constexpr wchar_t kUserHive[] = L"\\NTUSER.DAT";
constexpr wchar_t kClassesHiveBelowProfile[] = L"\\AppData\\Local\\Microsoft\\Windows\\UsrClass.dat";
constexpr wchar_t kUserShellFoldersBelowHive[] = L"\\Software\\Microsoft\\Windows\\CurrentVersion\\Explorer\\User Shell Folders";
const wchar_t* const kAppDataFolders[] = {L"\\AppData\\Local", L"\\AppData\\Roaming"};
// The temporary key a hive is tried under; never an account's SID.
constexpr wchar_t kMendTrialKeyPrefix[] = L"VantrellMendCheck-";

std::wstring EntryKey(const std::wstring& name)
{
    return ProfileEntryKeyPath(name.c_str()).Text();
}

bool IsTemporaryPath(const std::wstring& path)
{
    wchar_t computer[MAX_COMPUTERNAME_LENGTH + 1] = L"";
    DWORD length = ARRAYSIZE(computer);
    GetComputerNameW(computer, &length);
    return EndsWithFolder(path.c_str(), L"\\temp") || HasComputerTempMarker(path.c_str(), computer);
}

// The folder, resolved, when it is a folder of the account's own inside
// the profiles folder; empty otherwise.
std::wstring UsableFolder(const std::wstring& stored, const std::wstring& sid)
{
    if (stored.empty() || IsTemporaryPath(stored))
        return L"";
    WString folder;
    return CheckProfileFolder(stored.c_str(), sid.c_str(), folder) == ProfileFolderVerdict::Inside
               ? std::wstring(folder.Text())
               : std::wstring();
}

bool Covers(ACCESS_MASK mask)
{
    constexpr ACCESS_MASK readWrite = FILE_GENERIC_READ | FILE_GENERIC_WRITE;
    return (mask & GENERIC_ALL) != 0 || (mask & FILE_ALL_ACCESS) == FILE_ALL_ACCESS ||
           (mask & readWrite) == readWrite || ((mask & GENERIC_READ) != 0 && (mask & GENERIC_WRITE) != 0);
}

// The object's own security, read through a handle on the entry itself.
struct SecurityRead {
    UniqueFileHandle handle;
    UniqueLocalMemory descriptor;
    PACL dacl = nullptr;
    PSID owner = nullptr;
    bool isFile = false;
};

enum class Opened { Yes, Absent, Refused };

Opened OpenSecurity(const std::wstring& path, DWORD access, SecurityRead& read)
{
    WString longPath;
    if (!AbsoluteLongPath(path.c_str(), longPath))
        return Opened::Refused;
    const DWORD attributes = GetFileAttributesW(longPath.Text());
    if (attributes == INVALID_FILE_ATTRIBUTES) {
        const DWORD error = GetLastError();
        return error == ERROR_FILE_NOT_FOUND || error == ERROR_PATH_NOT_FOUND ? Opened::Absent : Opened::Refused;
    }
    read.isFile = (attributes & FILE_ATTRIBUTE_DIRECTORY) == 0;
    read.handle = OpenEntryItself(longPath.Text(), access);
    if (!read.handle)
        return Opened::Refused;
    PSECURITY_DESCRIPTOR descriptor = nullptr;
    if (machine::GetSecurityInfo(read.handle.Get(), SE_FILE_OBJECT, OWNER_SECURITY_INFORMATION | DACL_SECURITY_INFORMATION,
                        &read.owner, nullptr, &read.dacl, nullptr, &descriptor) != ERROR_SUCCESS)
        return Opened::Refused;
    read.descriptor.Reset(descriptor);
    return Opened::Yes;
}

RightsFinding RightsOf(const std::wstring& path, PSID sid)
{
    SecurityRead read;
    switch (OpenSecurity(path, READ_CONTROL, read)) {
    case Opened::Absent: return RightsFinding::Absent;
    case Opened::Refused: return RightsFinding::Unknown;
    case Opened::Yes: break;
    }
    if (read.dacl == nullptr)
        return RightsFinding::Granted;   // no DACL: everybody may
    bool allowed = false, denied = false;
    for (DWORD i = 0; i < read.dacl->AceCount; ++i) {
        ACE_HEADER* header = nullptr;
        if (!GetAce(read.dacl, i, reinterpret_cast<void**>(&header)) || (header->AceFlags & INHERIT_ONLY_ACE) != 0)
            continue;
        if (header->AceType == ACCESS_ALLOWED_ACE_TYPE) {
            auto* ace = reinterpret_cast<ACCESS_ALLOWED_ACE*>(header);
            if (EqualSid(&ace->SidStart, sid) && Covers(ace->Mask))
                allowed = true;
        } else if (header->AceType == ACCESS_DENIED_ACE_TYPE) {
            auto* ace = reinterpret_cast<ACCESS_DENIED_ACE*>(header);
            if (EqualSid(&ace->SidStart, sid))
                denied = true;
        }
    }
    return allowed && !denied ? RightsFinding::Granted : RightsFinding::Missing;
}

bool IsFolderPath(const std::wstring& path)
{
    WString longPath;
    if (!AbsoluteLongPath(path.c_str(), longPath))
        return false;
    const DWORD attributes = GetFileAttributesW(longPath.Text());
    return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY) != 0 &&
           (attributes & FILE_ATTRIBUTE_REPARSE_POINT) == 0;
}

HiveFinding TryHive(const std::wstring& sid, const std::wstring& folder, bool& loaded)
{
    HKEY open = nullptr;
    loaded = RegOpenKeyExW(HKEY_USERS, sid.c_str(), 0, KEY_READ, &open) == ERROR_SUCCESS;
    if (open != nullptr)
        RegCloseKey(open);
    if (loaded)
        return HiveFinding::InUse;
    if (folder.empty())
        return HiveFinding::Untried;
    WString file;
    if (!AbsoluteLongPath((folder + kUserHive).c_str(), file))
        return HiveFinding::Untried;
    if (GetFileAttributesW(file.Text()) == INVALID_FILE_ATTRIBUTES)
        return HiveFinding::Absent;
    // Loading a hive writes into its file: the account's own stays as it
    // was, and a copy is tried in a folder of the program's own.
    HiveTrialFolder work;
    std::wstring why;
    const std::wstring copy = work.Make(why) ? work.Path() + kUserHive : std::wstring();
    if (copy.empty() || !CopyHiveFile(folder.c_str(), kUserHive + 1, copy, why))
        return HiveFinding::Uncopied;
    const std::wstring trial = kMendTrialKeyPrefix + sid;
    EnablePrivileges();
    if (machine::RegLoadKeyW(HKEY_USERS, trial.c_str(), copy.c_str()) != ERROR_SUCCESS)
        return HiveFinding::DoesNotLoad;
    HKEY folders = nullptr;
    const bool reads = RegOpenKeyExW(HKEY_USERS, (trial + kUserShellFoldersBelowHive).c_str(), 0, KEY_READ, &folders) ==
                       ERROR_SUCCESS;
    if (folders != nullptr)
        RegCloseKey(folders);
    machine::RegUnLoadKeyW(HKEY_USERS, trial.c_str());
    return reads ? HiveFinding::Loads : HiveFinding::Damaged;
}

}  // namespace

bool ExamineAccount(const wchar_t* account, AccountExamination& examination, std::wstring& problem)
{
    examination = AccountExamination();
    examination.account = account != nullptr ? account : L"";
    LocalSid sid;
    if (examination.account.empty() || !AccountNameToSid(examination.account.c_str(), sid, nullptr)) {
        problem = L"no local account is named \"" + examination.account + L"\"";
        return false;
    }
    examination.sid = SidString(sid.Get());
    ProfileFacts& f = examination.facts;
    ProfileListEntry entry, backup;
    f.entryPresent = ReadProfileListEntry(examination.sid.c_str(), entry);
    f.backupPresent = ReadProfileListEntry((examination.sid + L".bak").c_str(), backup);
    const std::wstring entryPath = entry.storedPath.Text(), backupPath = backup.storedPath.Text();
    f.state = entry.state;
    f.refCount = entry.refCount;
    f.entryPathTemporary = f.entryPresent && IsTemporaryPath(entryPath);
    const std::wstring entryFolder = f.entryPresent ? UsableFolder(entryPath, examination.sid) : L"";
    const std::wstring backupFolder = f.backupPresent ? UsableFolder(backupPath, examination.sid) : L"";
    f.entryPathUsable = !entryFolder.empty();
    f.backupPathUsable = !backupFolder.empty();
    f.entryPath = f.entryPathUsable ? entryFolder : entryPath;
    f.backupPath = f.backupPathUsable ? backupFolder : backupPath;
    f.folder = !entryFolder.empty() ? entryFolder : backupFolder;
    if (f.folder.empty()) {
        // The folder the profile service names after the account: taken only
        // when it shows itself the account's own (its hive or the folder
        // grants the SID), a name alone being anybody's claim.
        const std::wstring named = UsableFolder(std::wstring(ProfilesDirectory().Text()) + L"\\" +
                                                    examination.account, examination.sid);
        if (!named.empty() && (RightsOf(named, sid.Get()) == RightsFinding::Granted ||
                               RightsOf(named + kUserHive, sid.Get()) == RightsFinding::Granted))
            f.folder = named;
    }
    if (!f.folder.empty()) {
        f.folderRights = RightsOf(f.folder, sid.Get());
        f.userHiveRights = RightsOf(f.folder + kUserHive, sid.Get());
        f.classesHiveRights = RightsOf(f.folder + kClassesHiveBelowProfile, sid.Get());
        f.hasAppData = true;
        for (const wchar_t* sub : kAppDataFolders)
            f.hasAppData = f.hasAppData && IsFolderPath(f.folder + sub);
    }
    f.hive = TryHive(examination.sid, f.folder, f.hiveLoaded);
    examination.diagnosis = DiagnoseProfile(f);
    return true;
}

// ---------------------------------------------------------------------------
// The undo record: what the mend is about to change, as it was.

namespace {

std::wstring Hex(const BYTE* data, size_t size)
{
    static const wchar_t digits[] = L"0123456789ABCDEF";
    std::wstring text;
    for (size_t i = 0; i < size; ++i) {
        text += digits[data[i] >> 4];
        text += digits[data[i] & 15];
    }
    return text;
}

bool FromHex(const std::wstring& text, std::vector<BYTE>& bytes)
{
    auto digit = [](wchar_t c) -> int {
        return c >= L'0' && c <= L'9' ? c - L'0' : c >= L'A' && c <= L'F' ? c - L'A' + 10 : -1;
    };
    if (text.size() % 2 != 0)
        return false;
    bytes.clear();
    for (size_t i = 0; i < text.size(); i += 2) {
        const int high = digit(text[i]), low = digit(text[i + 1]);
        if (high < 0 || low < 0)
            return false;
        bytes.push_back(static_cast<BYTE>(high * 16 + low));
    }
    return true;
}

// "key\tname\ttype\thex" for each value of a profile-list entry, or
// "key\t-" when there is none. Entries hold values only.
void RecordEntry(const std::wstring& name, std::wstring& text)
{
    RegKey key(OpenKey(EntryKey(name).c_str(), KEY_READ));
    if (!key) {
        text += L"key\t" + name + L"\t-\r\n";
        return;
    }
    text += L"key\t" + name + L"\t+\r\n";
    for (DWORD i = 0;; ++i) {
        wchar_t valueName[16384];
        DWORD nameLength = ARRAYSIZE(valueName), type = 0, size = 0;
        if (RegEnumValueW(key.Get(), i, valueName, &nameLength, nullptr, &type, nullptr, &size) != ERROR_SUCCESS)
            break;
        std::vector<BYTE> data(size + 2);
        DWORD read = size;
        nameLength = ARRAYSIZE(valueName);
        if (RegEnumValueW(key.Get(), i, valueName, &nameLength, nullptr, &type, data.data(), &read) != ERROR_SUCCESS)
            break;
        text += L"value\t" + name + L"\t" + valueName + L"\t" + std::to_wstring(type) + L"\t" +
                Hex(data.data(), read) + L"\r\n";
    }
}

void RecordSecurity(const std::wstring& path, std::wstring& text)
{
    SecurityRead read;
    if (OpenSecurity(path, READ_CONTROL, read) != Opened::Yes)
        return;
    LPWSTR sddl = nullptr;
    if (!ConvertSecurityDescriptorToStringSecurityDescriptorW(read.descriptor.Get(), SDDL_REVISION_1,
                                                              OWNER_SECURITY_INFORMATION | DACL_SECURITY_INFORMATION,
                                                              &sddl, nullptr))
        return;
    text += L"security\t" + path + L"\t" + sddl + L"\r\n";
    LocalFree(sddl);
}

std::wstring RecordPath(const RepairSite& site)
{
    return site.toolFolder + kMendRecordName;
}

// Written beside, flushed and renamed over: a cut leaves the old record or the new.
bool WriteRecord(const std::wstring& path, const std::wstring& text)
{
    const std::wstring fresh = path + L".new";
    {
        UniqueFileHandle file(CreateFileW(fresh.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                                          FILE_ATTRIBUTE_NORMAL | FILE_FLAG_OPEN_REPARSE_POINT, nullptr));
        if (!file)
            return false;
        DWORD written = 0;
        const DWORD bytes = static_cast<DWORD>(text.size() * sizeof(wchar_t));
        if (!WriteFile(file.Get(), text.data(), bytes, &written, nullptr) || written != bytes ||
            !FlushFileBuffers(file.Get()))
            return false;
    }
    return MoveFileExW(fresh.c_str(), path.c_str(), MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH) != FALSE;
}

bool ReadRecord(const std::wstring& path, std::wstring& text)
{
    UniqueFileHandle file(CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                                      FILE_FLAG_OPEN_REPARSE_POINT, nullptr));
    if (!file)
        return false;
    LARGE_INTEGER size{};
    if (!GetFileSizeEx(file.Get(), &size) || size.QuadPart > (1 << 20) || size.QuadPart % 2 != 0)
        return false;
    text.assign(static_cast<size_t>(size.QuadPart / 2), L'\0');
    DWORD read = 0;
    return text.empty() || (ReadFile(file.Get(), &text[0], static_cast<DWORD>(size.QuadPart), &read, nullptr) &&
                            read == size.QuadPart);
}

std::vector<std::wstring> LineFields(const std::wstring& line)
{
    std::vector<std::wstring> fields;
    size_t start = 0;
    for (size_t tab; (tab = line.find(L'\t', start)) != std::wstring::npos; start = tab + 1)
        fields.push_back(line.substr(start, tab - start));
    fields.push_back(line.substr(start));
    return fields;
}

// An entry name from the record: the account's SID or its backup, nothing else.
bool IsEntryName(const std::wstring& name, const std::wstring& sid)
{
    return !sid.empty() && (name == sid || name == sid + L".bak");
}

// A path from the record: inside the profiles folder, resolved.
bool IsProfilePath(const std::wstring& path)
{
    WString root = ProfilesDirectory(), normalised;
    return CheckProfileFolderPath(path.c_str(), root.Text(), normalised) == ProfileFolderVerdict::Inside &&
           path == normalised.Text();
}

bool ApplySddl(const std::wstring& path, const std::wstring& sddl)
{
    PSECURITY_DESCRIPTOR descriptor = nullptr;
    if (!ConvertStringSecurityDescriptorToSecurityDescriptorW(sddl.c_str(), SDDL_REVISION_1, &descriptor, nullptr))
        return false;
    UniqueLocalMemory holder(descriptor);
    PACL dacl = nullptr;
    PSID owner = nullptr;
    BOOL present = FALSE, defaulted = FALSE;
    GetSecurityDescriptorDacl(descriptor, &present, &dacl, &defaulted);
    GetSecurityDescriptorOwner(descriptor, &owner, &defaulted);
    SECURITY_DESCRIPTOR_CONTROL control = 0;
    DWORD revision = 0;
    GetSecurityDescriptorControl(descriptor, &control, &revision);
    WString longPath;
    if (!present || !AbsoluteLongPath(path.c_str(), longPath))
        return false;
    EnablePrivileges();
    UniqueFileHandle handle = OpenEntryItself(longPath.Text(), READ_CONTROL | WRITE_DAC | WRITE_OWNER);
    if (!handle || HasOtherNames(handle.Get()))
        return false;
    return SetFileSecurityOf(handle.Get(), dacl, owner, (control & SE_DACL_PROTECTED) != 0);
}

void LogMend(const RepairSite& site, const std::wstring& text)
{
    if (!site.logPath.empty())
        WriteLogEntry(site.logPath.c_str(), text.c_str(), 0);
}

}  // namespace

bool RestoreUnfinishedMend(const RepairSite& site, std::wstring& said)
{
    said.clear();
    if (site.toolFolder.empty())
        return true;
    const std::wstring path = RecordPath(site);
    DeleteFileW((path + L".new").c_str());
    std::wstring text;
    if (!ReadRecord(path, text))
        return GetFileAttributesW(path.c_str()) == INVALID_FILE_ATTRIBUTES;
    std::wstring sid;
    bool allBack = true;
    std::vector<std::vector<std::wstring>> lines;
    for (size_t start = 0; start < text.size();) {
        size_t end = text.find(L"\r\n", start);
        if (end == std::wstring::npos)
            end = text.size();
        lines.push_back(LineFields(text.substr(start, end - start)));
        start = end + 2;
    }
    for (const auto& f : lines)
        if (f.size() == 2 && f[0] == L"sid" && IsPlainSidString(f[1].c_str()))
            sid = f[1];
    // Entries first: each recorded one is emptied (or removed) and its
    // values written back as they were.
    for (const auto& f : lines) {
        if (f.size() != 3 || f[0] != L"key" || !IsEntryName(f[1], sid))
            continue;
        RegKey remover;
        remover.DeleteTree(EntryKey(f[1]).c_str());
        if (f[2] == L"+") {
            RegKey key;
            const DWORD zero = 0;
            key.WriteDword(EntryKey(f[1]).c_str(), nullptr, &zero);
            allBack = allBack && static_cast<bool>(key);
            for (const auto& v : lines) {
                std::vector<BYTE> data;
                if (key && v.size() == 5 && v[0] == L"value" && v[1] == f[1] && FromHex(v[4], data))
                    allBack = RegSetValueExW(key.Get(), v[2].c_str(), 0, wcstoul(v[3].c_str(), nullptr, 10),
                                             data.empty() ? nullptr : data.data(),
                                             static_cast<DWORD>(data.size())) == ERROR_SUCCESS && allBack;
            }
        }
    }
    for (const auto& f : lines) {
        if (f.size() == 3 && f[0] == L"security" && IsProfilePath(f[1]))
            allBack = ApplySddl(f[1], f[2]) && allBack;
        else if (f.size() == 2 && f[0] == L"made" && IsProfilePath(f[1]))
            RemoveDirectoryW(f[1].c_str());   // only while still empty
    }
    if (allBack)
        DeleteFileW(path.c_str());
    said = allBack ? L"A mend in place that had stopped half-way was undone: the profile's entries and "
                     L"permissions are as they were before it."
                   : L"A mend in place that had stopped half-way could not be undone in full; its record "
                     L"stays in " + path + L".";
    LogMend(site, said);
    return allBack;
}

namespace {

// The ACL of `read` with full control for `sid` added (inherited by what is
// below a folder), or null when the ACL could not be made.
bool WithAccountAce(const SecurityRead& read, PSID sid, LocalAcl& acl)
{
    if (!NewAcl(acl))
        return false;
    PACL p = acl.Get();
    if (read.dacl != nullptr)
        MergeAcl(&p, read.dacl, kMergeOnlyExplicit);
    const DWORD inherit = read.isFile ? 0 : (OBJECT_INHERIT_ACE | CONTAINER_INHERIT_ACE);
    return AddAllowedAce(&p, sid, FILE_ALL_ACCESS, inherit);
}

bool Grant(const std::wstring& path, PSID sid)
{
    SecurityRead read;
    if (OpenSecurity(path, READ_CONTROL | WRITE_DAC, read) != Opened::Yes)
        return false;
    // A file with another name is another place's file too.
    if (read.isFile && HasOtherNames(read.handle.Get()))
        return false;
    LocalAcl acl;
    if (!WithAccountAce(read, sid, acl))
        return false;
    SECURITY_DESCRIPTOR_CONTROL control = 0;
    DWORD revision = 0;
    GetSecurityDescriptorControl(read.descriptor.Get(), &control, &revision);
    return SetFileSecurityOf(read.handle.Get(), acl.Get(), nullptr, (control & SE_DACL_PROTECTED) != 0);
}

bool SetEntryValue(const std::wstring& sidText, const wchar_t* name, DWORD type, const void* data, DWORD size)
{
    RegKey key;
    const DWORD zero = 0;
    if (!key.WriteDword(EntryKey(sidText).c_str(), nullptr, &zero) && !key.Open(EntryKey(sidText).c_str(), KEY_ALL_ACCESS))
        return false;
    return key.SetValue(name, type, data, size);
}

}  // namespace

bool MendInPlace(const RepairSite& site, const wchar_t* account, bool dryRun, MendReport& report)
{
    report = MendReport();
    std::wstring said;
    if (!dryRun && !RestoreUnfinishedMend(site, said)) {
        report.refusal = said;
        return false;
    }
    AccountExamination exam;
    if (!ExamineAccount(account, exam, report.refusal))
        return false;
    const ProfileDiagnosis& d = exam.diagnosis;
    if (d.recommended != MendKind::InPlace) {
        report.refusal = d.recommended == MendKind::None
                             ? L"nothing to mend in place: the examination found no cause"
                             : std::wstring(L"a mend in place cannot put this right; the examination proposes: ") +
                                   MendKindText(d.recommended);
        return false;
    }
    // Signed in (with a temporary profile, most likely): the profile service
    // still holds the entry it made and would act on the mended one when
    // the session ends.
    if (exam.facts.hiveLoaded) {
        report.refusal = L"the account is signed in (its registry hive is loaded); sign it out first";
        return false;
    }
    if (dryRun) {
        for (MendAction action : d.actions)
            report.done.push_back(MendActionText(action));
        report.mended = true;
        return true;
    }
    const ToolFolderResult folder = PrepareToolFolder(site.toolFolder.c_str());
    if (folder != ToolFolderResult::Ready) {
        report.refusal = ToolFolderMessage(folder);
        return false;
    }
    LocalSid sid;
    if (!SidFromName(sid, exam.sid.c_str())) {
        report.refusal = L"the account's SID could not be read";
        return false;
    }
    // Everything that may change, as it is now, before anything changes.
    std::wstring record = L"sid\t" + exam.sid + L"\r\n";
    RecordEntry(exam.sid, record);
    RecordEntry(exam.sid + L".bak", record);
    for (const std::wstring& path : {d.folder, d.folder + kUserHive, d.folder + kClassesHiveBelowProfile})
        RecordSecurity(path, record);
    for (const wchar_t* sub : kAppDataFolders)
        if (!IsFolderPath(d.folder + sub))
            record += L"made\t" + d.folder + sub + L"\r\n";
    const std::wstring recordPath = RecordPath(site);
    if (!WriteRecord(recordPath, record)) {
        report.refusal = L"the mend's record could not be written in " + site.toolFolder + L"; nothing was changed";
        return false;
    }
    machine::PowerCutPoint(L"mend: record written");
    std::wstring causes;
    for (ProfileCause cause : d.causes)
        causes += std::wstring(causes.empty() ? L"" : L"; ") + ProfileCauseText(cause);
    LogMend(site, L"Mend in place of the \"" + exam.account + L"\" account (" + exam.sid + L"): " + causes + L".");

    const std::wstring entry = EntryKey(exam.sid), backup = EntryKey(exam.sid + L".bak");
    for (MendAction action : d.actions) {
        bool ok = true;
        switch (action) {
        case MendAction::RestoreBackupEntry: {
            RegKey key;
            key.DeleteTree(entry.c_str());
            ok = CopyKeyTree(backup.c_str(), entry.c_str()) != 0;
            if (ok)
                ok = key.DeleteTree(backup.c_str());
            break;
        }
        case MendAction::SetPath: {
            const bool fresh = !KeyExists(entry.c_str());
            ok = SetEntryValue(exam.sid, L"ProfileImagePath", REG_EXPAND_SZ, d.folder.c_str(),
                               static_cast<DWORD>((d.folder.size() + 1) * sizeof(wchar_t)));
            if (ok && fresh) {
                const DWORD zero = 0;
                ok = SetEntryValue(exam.sid, L"Sid", REG_BINARY, sid.Get(), GetLengthSid(sid.Get())) &&
                     SetEntryValue(exam.sid, L"Flags", REG_DWORD, &zero, sizeof zero) &&
                     SetEntryValue(exam.sid, L"State", REG_DWORD, &zero, sizeof zero) &&
                     SetEntryValue(exam.sid, L"RefCount", REG_DWORD, &zero, sizeof zero);
            }
            break;
        }
        case MendAction::ClearState: {
            ProfileListEntry stored;
            const DWORD state =
                ReadProfileListEntry(exam.sid.c_str(), stored) ? stored.state & ~kStateFailureBits : 0;
            ok = SetEntryValue(exam.sid, L"State", REG_DWORD, &state, sizeof state);
            break;
        }
        case MendAction::ClearRefCount: {
            const DWORD zero = 0;
            ok = SetEntryValue(exam.sid, L"RefCount", REG_DWORD, &zero, sizeof zero);
            break;
        }
        case MendAction::GrantFolder: ok = Grant(d.folder, sid.Get()); break;
        case MendAction::GrantHives:
            ok = Grant(d.folder + kUserHive, sid.Get());
            if (RightsOf(d.folder + kClassesHiveBelowProfile, sid.Get()) == RightsFinding::Missing)
                ok = Grant(d.folder + kClassesHiveBelowProfile, sid.Get()) && ok;
            break;
        case MendAction::CreateAppData:
            for (const wchar_t* sub : kAppDataFolders)
                ok = (IsFolderPath(d.folder + sub) || CreateDirectoryPath((d.folder + sub).c_str())) && ok;
            break;
        }
        const std::wstring text = MendActionText(action);
        (ok ? report.done : report.notDone).push_back(text);
        LogMend(site, (ok ? L"Done: " : L"Failed: ") + text + L".");
        machine::PowerCutPoint((L"mend: " + text).c_str());
        if (!ok)
            break;
    }

    AccountExamination after;
    std::wstring problem;
    report.mended = report.notDone.empty() && ExamineAccount(account, after, problem) &&
                    after.diagnosis.causes.empty();
    if (report.mended) {
        DeleteFileW(recordPath.c_str());
        LogMend(site, L"The \"" + exam.account + L"\" account was mended in place; it signs in with its own profile.");
        return true;
    }
    // Half a mend is no mend: what was changed goes back.
    std::wstring undone;
    RestoreUnfinishedMend(site, undone);
    LogMend(site, L"The \"" + exam.account + L"\" account could not be mended in place.");
    return false;
}
