// The profile-list scan and repair on real ProfileList entries in the Wine
// registry and real folders. Every entry made here has a name of the tests'
// own, removed before and after each test.
#include <gtest/gtest.h>

#include <windows.h>
#include <sddl.h>

#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "accounts/profile_key_rules.h"
#include "accounts/profile_keys.h"
#include "platform/text_win.h"
#include "sandbox/sandbox.h"
#include "tests/win/test_support.h"

namespace {

constexpr wchar_t kList[] = L"SOFTWARE\\Microsoft\\Windows NT\\CurrentVersion\\ProfileList";
constexpr wchar_t kSid[] = L"S-1-5-21-7000-7000-7000-";
// Names of the tests' own that are no SIDs, for the length rule.
const wchar_t* const kShortNames[] = {L"123456", L"123456.bak", L"12345", L"12345.bak"};

std::wstring Sid(int rid) { return kSid + std::to_wstring(rid); }
std::wstring Backup(int rid) { return Sid(rid) + L".bak"; }

std::vector<std::wstring> Subkeys()
{
    UniqueRegKey list;
    RegOpenKeyExW(HKEY_LOCAL_MACHINE, kList, 0, KEY_READ, list.Put());
    return SubkeyNames(list.Get());
}

void RemoveTestEntries()
{
    for (const std::wstring& name : Subkeys()) {
        bool ours = name.rfind(kSid, 0) == 0;
        for (const wchar_t* shortName : kShortNames)
            ours |= name == shortName;
        if (ours)
            WipeKey(HKEY_LOCAL_MACHINE, std::wstring(kList) + L"\\" + name);
    }
}

std::wstring EntryPath(const std::wstring& name) { return std::wstring(kList) + L"\\" + name; }
bool EntryExists(const std::wstring& name) { return KeyOpens(HKEY_LOCAL_MACHINE, EntryPath(name)); }
std::wstring StoredText(const std::wstring& name, const wchar_t* value, DWORD* type = nullptr)
{
    return RegText(HKEY_LOCAL_MACHINE, EntryPath(name), value, type);
}
DWORD StoredDword(const std::wstring& name, const wchar_t* value)
{
    return RegDword(HKEY_LOCAL_MACHINE, EntryPath(name), value);
}

class ProfileKeys : public ::testing::Test {
protected:
    void SetUp() override
    {
        std::wstring error;
        ASSERT_TRUE(sandbox::ResetMachine(sandbox::ScenarioPath(L"default"), &error));
        RemoveTestEntries();
        // Not below the temporary folder: its "\\Temp" would be the first
        // occurrence the temporary-profile rule looks at.
        root_ = L"C:\\vantrell-profile-tests";
        std::error_code ignored;
        std::filesystem::remove_all(root_, ignored);
        std::filesystem::create_directories(root_, ignored);
    }
    void TearDown() override
    {
        RemoveTestEntries();
        std::error_code ignored;
        std::filesystem::remove_all(root_, ignored);
    }

    // A profile folder of `bytes` bytes with the two hive files in it.
    std::wstring Folder(const wchar_t* name, size_t bytes)
    {
        std::wstring folder = root_ + L"\\" + name;
        WriteTextFile(folder + L"\\NTUSER.DAT", std::string(bytes / 2, 'x'));
        WriteTextFile(folder + L"\\AppData\\Local\\Microsoft\\Windows\\UsrClass.dat", std::string(bytes - bytes / 2, 'x'));
        return folder;
    }

    static void Entry(const std::wstring& name, const std::wstring& path, DWORD type = REG_EXPAND_SZ,
                      DWORD state = 0, DWORD refCount = 0)
    {
        ASSERT_EQ(ERROR_SUCCESS, RegWrite(HKEY_LOCAL_MACHINE, EntryPath(name), L"ProfileImagePath", path, type));
        const std::wstring entry = EntryPath(name);
        RegSetKeyValueW(HKEY_LOCAL_MACHINE, entry.c_str(), L"State", REG_DWORD, &state, sizeof(state));
        RegSetKeyValueW(HKEY_LOCAL_MACHINE, entry.c_str(), L"RefCount", REG_DWORD, &refCount, sizeof(refCount));
    }

    std::wstring root_;
};

std::wstring ComputerName()
{
    wchar_t name[MAX_COMPUTERNAME_LENGTH + 1] = L"";
    DWORD length = ARRAYSIZE(name);
    GetComputerNameW(name, &length);
    return name;
}

}  // namespace

TEST_F(ProfileKeys, TheScanReportsOnlyBackupsBesideADifferentEntry)
{
    const std::wstring ann = Folder(L"ann", 10);
    Entry(Backup(1001), ann);
    Entry(Sid(1001), L"C:\\users\\TEMP");
    Entry(Backup(1002), L"C:\\Users\\TeMp");   // a temporary profile backed up: never reported
    Entry(Sid(1002), ann);
    Entry(Backup(1003), ann);                  // no twin beside it
    Entry(Backup(1004), ann);
    std::wstring shouted = ann;
    CharUpperW(shouted.data());
    Entry(Sid(1004), shouted);   // the same path in other letters
    Entry(Sid(1005) + L".BAK", ann);
    Entry(Sid(1005), L"C:\\users\\TEMP");
    // A multi-string path is read as lines, so a one-item list of the same
    // folder compares equal.
    std::wstring multi = ann + std::wstring(1, L'\0');
    Entry(Backup(1006), multi, REG_MULTI_SZ);
    Entry(Sid(1006), ann);

    std::vector<std::wstring> expected;
    std::vector<std::wstring> all = Subkeys();
    for (auto name = all.rbegin(); name != all.rend(); ++name) {
        if (*name == Sid(1005) + L".BAK" || *name == Backup(1001))
            expected.push_back(*name);
    }
    ASSERT_EQ(2u, expected.size());

    std::vector<WString> found;
    found.emplace_back(L"left over");   // the list is emptied first
    ASSERT_EQ(2u, FindCorruptedProfileKeys(found));
    ASSERT_EQ(2u, found.size());
    for (size_t i = 0; i < found.size(); ++i)
        EXPECT_EQ(expected[i], found[i].Text()) << "in the order of the subkeys, from the last down";
}

TEST_F(ProfileKeys, AWinningBackupIsPutInPlaceAsStored)
{
    // The profile path holds a variable, as profile paths often do; the
    // folder tests look at the folder it names, the copy keeps the text.
    const std::wstring ann = Folder(L"ann", 400);
    ASSERT_EQ(L':', ann[1]);
    const std::wstring stored = L"%SystemDrive%" + ann.substr(2);
    Entry(Backup(1001), stored, REG_EXPAND_SZ, 0x8000, 1);
    ASSERT_EQ(ERROR_SUCCESS, RegWrite(HKEY_LOCAL_MACHINE, EntryPath(Backup(1001) + L"\\Preferences"), L"Flag", L"on"));
    Entry(Sid(1001), Folder(L"TEMP", 100), REG_EXPAND_SZ, 0x804, 1);

    std::vector<WString> found;
    ASSERT_EQ(1u, FindCorruptedProfileKeys(found));
    EXPECT_TRUE(RepairProfileKey(found[0].Text()));

    EXPECT_FALSE(EntryExists(Backup(1001)));
    DWORD type = 0;
    EXPECT_EQ(stored, StoredText(Sid(1001), L"ProfileImagePath", &type));
    EXPECT_EQ(static_cast<DWORD>(REG_EXPAND_SZ), type);
    EXPECT_EQ(0u, StoredDword(Sid(1001), L"State"));
    EXPECT_EQ(0u, StoredDword(Sid(1001), L"RefCount"));
    EXPECT_EQ(L"on", StoredText(Sid(1001) + L"\\Preferences", L"Flag"));

    std::vector<WString> again;
    EXPECT_EQ(0u, FindCorruptedProfileKeys(again)) << "nothing is left to repair";
}

TEST_F(ProfileKeys, ABackupWithoutTwinIsCopiedIntoPlace)
{
    Entry(Backup(1003), Folder(L"ann", 10), REG_EXPAND_SZ, 0x8000, 1);
    EXPECT_TRUE(RepairProfileKey(Backup(1003).c_str()));
    EXPECT_FALSE(EntryExists(Backup(1003)));
    EXPECT_EQ(root_ + L"\\ann", StoredText(Sid(1003), L"ProfileImagePath"));
    EXPECT_EQ(0u, StoredDword(Sid(1003), L"State"));
}

TEST_F(ProfileKeys, ALosingBackupIsDeletedAndTheCurrentEntryKept)
{
    const std::wstring computerTemp = L"TEMP." + ComputerName();
    struct Case {
        const char* what;
        std::wstring backupPath;
        std::wstring currentPath;
    } const cases[] = {
        {"smaller folder", Folder(L"small", 10), Folder(L"large", 500)},
        {"no folder", root_ + L"\\missing", Folder(L"TEMP", 0)},
        {"same path", Folder(L"same", 100), root_ + L"\\same"},
        {"a temporary folder", Folder(L"TEMP", 900), Folder(L"other", 10)},
        {"the computer's temporary profile", Folder(computerTemp.c_str(), 900), Folder(L"other", 10)},
    };
    for (const Case& c : cases) {
        Entry(Backup(1001), c.backupPath, REG_EXPAND_SZ, 0x8000, 1);
        Entry(Sid(1001), c.currentPath, REG_EXPAND_SZ, 0x804, 1);
        EXPECT_FALSE(RepairProfileKey(Backup(1001).c_str())) << c.what;
        EXPECT_FALSE(EntryExists(Backup(1001))) << c.what;
        EXPECT_EQ(c.currentPath, StoredText(Sid(1001), L"ProfileImagePath")) << c.what;
        EXPECT_EQ(0x804u, StoredDword(Sid(1001), L"State")) << c.what;
        EXPECT_EQ(1u, StoredDword(Sid(1001), L"RefCount")) << c.what;
    }
}

TEST_F(ProfileKeys, NamesThatAreNoBackupAreRefused)
{
    Entry(Sid(1001), Folder(L"ann", 10));
    EXPECT_FALSE(RepairProfileKey(Sid(1001).c_str()));
    EXPECT_TRUE(EntryExists(Sid(1001))) << "an entry that is no backup is never touched";
    EXPECT_FALSE(RepairProfileKey(Backup(1009).c_str()));
    EXPECT_FALSE(EntryExists(Sid(1009)));
}

// The backup can be the only entry that leads to the real profile: a copy
// that missed anything must keep it.
TEST_F(ProfileKeys, ABackupWhoseCopyIsIncompleteIsKept)
{
    const std::wstring folder = Folder(L"ann", 10);
    Entry(Backup(1005), folder, REG_EXPAND_SZ, 0x8000, 1);
    const std::wstring locked = EntryPath(Backup(1005) + L"\\Locked");
    ASSERT_EQ(ERROR_SUCCESS, RegWrite(HKEY_LOCAL_MACHINE, locked, L"v", L"x"));
    ASSERT_EQ(ERROR_SUCCESS, SetKeySddl(HKEY_LOCAL_MACHINE, locked, L"D:P"));

    EXPECT_FALSE(RepairProfileKey(Backup(1005).c_str()));
    EXPECT_TRUE(EntryExists(Backup(1005)));
    EXPECT_EQ(folder, StoredText(Backup(1005), L"ProfileImagePath"));
}

// The profile belongs to its account, whose user can put a junction where
// the repair resets a hive's permissions. The link comes from
// tests/win/make-profile-links.sh (Wine shows a Unix link to a folder as a
// junction but cannot make one): hiveroom\Windows leads to hivetarget,
// which holds a UsrClass.dat of its own. The room takes the place of the
// profile's "AppData\Local\Microsoft" while the start-up repair runs.
TEST_F(ProfileKeys, TheStartUpRepairLeavesWhatAJunctionInAProfileLeadsTo)
{
    const std::wstring links = L"C:\\vantrell-profile-links";
    const std::wstring room = links + L"\\hiveroom";
    const std::wstring planted = links + L"\\hivetarget\\UsrClass.dat";
    ASSERT_NE(INVALID_FILE_ATTRIBUTES, GetFileAttributesW((room + L"\\Windows").c_str()))
        << "the link is made by CTest's ProfileLinks.Setup";
    std::wstring error;
    ASSERT_TRUE(sandbox::ResetMachine(sandbox::ScenarioPath(L"corrupted-profile"), &error));
    std::vector<WString> found;
    ASSERT_EQ(1u, FindCorruptedProfileKeys(found));
    const std::wstring backup = found[0].Text();
    const std::wstring backedUp = StoredText(backup, L"ProfileImagePath");
    const std::wstring profile = ExpandEnvironmentText(backedUp.c_str()).Text();
    const std::wstring microsoft = profile + L"\\AppData\\Local\\Microsoft";
    ASSERT_TRUE(MoveFileW(microsoft.c_str(), (microsoft + L".own").c_str())) << GetLastError();
    ASSERT_TRUE(MoveFileW(room.c_str(), microsoft.c_str())) << GetLastError();
    ASSERT_EQ("keep", ReadTextFile(microsoft + L"\\Windows\\UsrClass.dat")) << "the junction leads out of the profile";
    const std::wstring plantedBefore = SecurityText(planted, SE_FILE_OBJECT);
    ASSERT_NE(L"(unreadable)", plantedBefore);
    const std::wstring hiveBefore = SecurityText(profile + L"\\NTUSER.DAT", SE_FILE_OBJECT);

    // As the main window does at start, the operator saying yes.
    uint32_t repaired = 0;
    for (const WString& name : found)
        repaired += RepairProfileKey(name.Text()) ? 1 : 0;

    EXPECT_EQ(1u, repaired);
    EXPECT_FALSE(EntryExists(backup));
    EXPECT_NE(hiveBefore, SecurityText(profile + L"\\NTUSER.DAT", SE_FILE_OBJECT))
        << "the profile's own hive is re-permissioned";
    EXPECT_EQ(plantedBefore, SecurityText(planted, SE_FILE_OBJECT)) << "what the junction leads to keeps its security";
    EXPECT_EQ("keep", ReadTextFile(planted));
    EXPECT_NE(INVALID_FILE_ATTRIBUTES, GetFileAttributesW((microsoft + L"\\Windows").c_str())) << "the junction stays";

    // The room goes back, for the next run and the reset.
    EXPECT_TRUE(MoveFileW(microsoft.c_str(), room.c_str()));
    EXPECT_TRUE(MoveFileW((microsoft + L".own").c_str(), microsoft.c_str()));
    ASSERT_TRUE(sandbox::ResetMachine(sandbox::ScenarioPath(L"default"), &error));
}
