#include "repair/keep_settings.h"

#include <windows.h>

#include <vector>

#include "platform/file_handles.h"
#include "platform/key_handover.h"
#include "platform/machine.h"
#include "platform/sid.h"
#include "platform/text_win.h"
#include "repair/hive_copy.h"
#include "repair/repair_rules.h"

namespace {

constexpr wchar_t kWorkCopyName[] = L"\\BrenwickKeep.dat";
constexpr wchar_t kTrialKeyPrefix[] = L"BrenwickKeep-";
constexpr DWORD kRootAccess = READ_CONTROL | WRITE_DAC | WRITE_OWNER | KEY_ENUMERATE_SUB_KEYS | KEY_QUERY_VALUE;

constexpr wchar_t kClassesHive[] = L"AppData\\Local\\Microsoft\\Windows\\UsrClass.dat";
constexpr wchar_t kLegacyClassesHive[] = L"Local Settings\\Application Data\\Microsoft\\Windows\\UsrClass.dat";

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
    const std::wstring work = context.input.toolFolder + kWorkCopyName;
    RemoveHiveCopy(work);
    if (CopyHiveFile(context.journal.oldProfile.c_str(), hive.relative, work, why))
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
        if (!fresh || !ReadWholeFile(fresh.Get(), original)) {
            why = L"the new account's profile has no such hive to take the settings (" + problem + L")";
            kept = false;
        } else if (!given || !ReadWholeFile(given.Get(), converted) || !WriteWholeFile(fresh.Get(), converted) ||
                   !ReadWholeFile(fresh.Get(), back) || back != converted) {
            // The fresh settings are put back; the old file was never touched.
            why = L"the settings could not be written into the new account's hive";
            kept = false;
            if (!WriteWholeFile(fresh.Get(), original))
                LogPath(context, L"The fresh hive could not be put back as it was:", hive.shownName);
        }
    }
    RemoveHiveCopy(work);
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
