#include "repair/keep_settings.h"

#include <windows.h>

#include <algorithm>
#include <vector>

#include "platform/file_handles.h"
#include "platform/key_handover.h"
#include "platform/machine.h"
#include "platform/sid.h"
#include "platform/text_win.h"
#include "repair/repair_rules.h"

namespace {

constexpr wchar_t kWorkCopyName[] = L"\\BrenwickKeep.dat";
constexpr wchar_t kTrialKeyPrefix[] = L"BrenwickKeep-";
constexpr DWORD kRootAccess = READ_CONTROL | WRITE_DAC | WRITE_OWNER | KEY_ENUMERATE_SUB_KEYS | KEY_QUERY_VALUE;

constexpr wchar_t kClassesHive[] = L"AppData\\Local\\Microsoft\\Windows\\UsrClass.dat";
constexpr wchar_t kLegacyClassesHive[] = L"Local Settings\\Application Data\\Microsoft\\Windows\\UsrClass.dat";

// A hive file of a profile, opened through the profile's folder without
// following any link on the way; refused when it has another name
// elsewhere (a hard link), whose file is not the profile's to give away.
UniqueFileHandle OpenHiveFile(const wchar_t* profile, const wchar_t* relative, DWORD access, std::wstring& why)
{
    UniqueFileHandle file = OpenBelowRoot(profile, relative, access);
    if (!file) {
        why = L"its file cannot be opened, or a link stands on its way";
        return file;
    }
    BY_HANDLE_FILE_INFORMATION info{};
    if (!GetFileInformationByHandle(file.Get(), &info) || (info.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0 ||
        (info.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT) != 0) {
        why = L"its name does not hold a plain file";
        file.Reset();
    } else if (info.nNumberOfLinks != 1) {
        why = L"its file has another name elsewhere (a hard link)";
        file.Reset();
    }
    return file;
}

bool ReadWhole(HANDLE file, std::vector<char>& bytes)
{
    LARGE_INTEGER size{};
    if (!GetFileSizeEx(file, &size) || size.QuadPart > 0x7FFFFFFF ||
        SetFilePointer(file, 0, nullptr, FILE_BEGIN) == INVALID_SET_FILE_POINTER)
        return false;
    bytes.assign(static_cast<size_t>(size.QuadPart), 0);
    size_t at = 0;
    while (at < bytes.size()) {
        DWORD got = 0;
        const DWORD ask = static_cast<DWORD>(std::min<size_t>(bytes.size() - at, 1u << 20));
        if (!ReadFile(file, bytes.data() + at, ask, &got, nullptr) || got == 0)
            return false;
        at += got;
    }
    return true;
}

bool WriteWhole(HANDLE file, const std::vector<char>& bytes)
{
    if (SetFilePointer(file, 0, nullptr, FILE_BEGIN) == INVALID_SET_FILE_POINTER)
        return false;
    size_t at = 0;
    while (at < bytes.size()) {
        DWORD put = 0;
        const DWORD ask = static_cast<DWORD>(std::min<size_t>(bytes.size() - at, 1u << 20));
        if (!WriteFile(file, bytes.data() + at, ask, &put, nullptr) || put == 0)
            return false;
        at += put;
    }
    return SetEndOfFile(file) && FlushFileBuffers(file);
}

void RemoveWorkCopy(const std::wstring& work)
{
    for (const wchar_t* suffix : {L"", L".LOG1", L".LOG2"})
        DeleteFileW((work + suffix).c_str());
}

// The work copy loaded, read back, given to the new SID and unloaded. False
// with `why` when the hive cannot be kept.
bool HandOverWorkCopy(RepairContext& context, const KeptHive& hive, const std::wstring& work, std::wstring& why)
{
    LocalSid oldSid, newSid;
    if (!SidFromText(context.journal.oldSid.c_str(), oldSid) || !SidFromText(context.journal.newSid.c_str(), newSid)) {
        why = L"the account's SIDs cannot be read";
        return false;
    }
    const std::wstring trial = kTrialKeyPrefix + context.journal.newSid;
    const LSTATUS loaded = machine::RegLoadKeyW(HKEY_USERS, trial.c_str(), work.c_str());
    if (loaded != ERROR_SUCCESS) {
        why = L"the old hive does not load (error " + std::to_wstring(loaded) + L")";
        return false;
    }
    bool kept = false;
    {
        UniqueRegKey root;
        UniqueRegKey readBack;
        KeyHandover counts;
        if (RegOpenKeyExW(HKEY_USERS, trial.c_str(), 0, kRootAccess, root.Put()) != ERROR_SUCCESS) {
            why = L"the old hive loads but its root cannot be opened";
        } else if (hive.readBack != nullptr &&
                   RegOpenKeyExW(root.Get(), hive.readBack, 0, KEY_READ, readBack.Put()) != ERROR_SUCCESS) {
            why = L"the old hive loads but lacks what a profile needs (its shell folder list)";
        } else {
            const bool whole = HandKeysOver(root.Get(), oldSid.Get(), newSid.Get(), counts);
            kept = counts.keys > counts.refused || whole;
            WString text(L"The old ");
            text.Append(hive.shownName, L" was given to the new account: ");
            std::wstring numbers = std::to_wstring(counts.keys) + L" keys looked at, " +
                                   std::to_wstring(counts.changed) + L" given to the new SID, " +
                                   std::to_wstring(counts.links) + L" links left alone, " +
                                   std::to_wstring(counts.refused) + L" refused.";
            text.Append(numbers.c_str());
            Log(context, text.Text());
            if (!kept)
                why = L"the old hive's keys could not be given to the new account";
        }
    }
    // The system writes the changes into the file as it unloads it.
    const LSTATUS unloaded = machine::RegUnLoadKeyW(HKEY_USERS, trial.c_str());
    if (kept && unloaded != ERROR_SUCCESS) {
        why = L"the old hive, given to the new account, could not be written back (error " +
              std::to_wstring(unloaded) + L")";
        kept = false;
    }
    return kept;
}

}  // namespace

bool KeepOldHive(RepairContext& context, const KeptHive& hive, std::wstring& why)
{
    if ((context.journal.marks & hive.keptMark) != 0)
        return true;
    why.clear();
    std::vector<char> bytes;
    const std::wstring work = context.input.toolFolder + kWorkCopyName;
    {
        UniqueFileHandle old = OpenHiveFile(context.journal.oldProfile.c_str(), hive.relative, GENERIC_READ, why);
        if (old && !ReadWhole(old.Get(), bytes))
            why = L"its file cannot be read";
    }
    if (why.empty()) {
        RemoveWorkCopy(work);
        UniqueFileHandle copy(CreateFileW(work.c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr, CREATE_NEW,
                                          FILE_ATTRIBUTE_NORMAL, nullptr));
        if (!copy || !WriteWhole(copy.Get(), bytes))
            why = L"no working copy could be written in the tool folder";
    }
    if (why.empty())
        machine::PowerCutPoint(L"step 9 old hive copied");
    bool kept = why.empty() && HandOverWorkCopy(context, hive, work, why);
    if (kept) {
        // The handed-over copy replaces the fresh file's content; the file
        // itself, with the new account's permissions, stays.
        UniqueFileHandle given(CreateFileW(work.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0,
                                           nullptr));
        std::vector<char> converted, original, back;
        std::wstring problem;
        UniqueFileHandle fresh = OpenHiveFile(context.journal.newProfile.c_str(), hive.relative,
                                              GENERIC_READ | GENERIC_WRITE, problem);
        if (!fresh || !ReadWhole(fresh.Get(), original)) {
            why = L"the new account's profile has no such hive to take the settings (" + problem + L")";
            kept = false;
        } else if (!given || !ReadWhole(given.Get(), converted) || !WriteWhole(fresh.Get(), converted) ||
                   !ReadWhole(fresh.Get(), back) || back != converted) {
            // The fresh settings are put back; the old file was never touched.
            why = L"the settings could not be written into the new account's hive";
            kept = false;
            if (!WriteWhole(fresh.Get(), original))
                LogPath(context, L"The fresh hive could not be put back as it was:", hive.shownName);
        }
    }
    RemoveWorkCopy(work);
    if (!kept) {
        WString text(L"The account's settings could not be kept from its old ");
        text.Append(hive.shownName, L": ", why.c_str(), L"; the fresh one is used.");
        Log(context, text.Text());
        return false;
    }
    Mark(context, hive.keptMark, hive.keptPoint);
    return true;
}

void KeepOldSettings(RepairContext& context)
{
    if ((context.input.fixFlags & FixFlags::KeepSettings) == 0)
        return;
    const KeptHive hives[] = {
        {context.version >= 6.0 ? kClassesHive : kLegacyClassesHive, L"UsrClass.dat", nullptr,
         JournalMark::ClassesSettingsKept, L"step 9 old UsrClass.dat kept"},
        {L"NTUSER.DAT", L"NTUSER.DAT", L"Software\\Microsoft\\Windows\\CurrentVersion\\Explorer\\User Shell Folders",
         JournalMark::UserSettingsKept, L"step 9 old NTUSER.DAT kept"},
    };
    for (const KeptHive& hive : hives) {
        std::wstring why;
        KeepOldHive(context, hive, why);
    }
}
