// Another account's hive and shell folders, read while it is not signed in.
#include <gtest/gtest.h>

#include <windows.h>
#include <shlobj.h>

#include <string>

#include "accounts/lookup.h"
#include "platform/machine.h"
#include "repair/repair_hive.h"
#include "sandbox/sandbox.h"
#include "tests/win/test_support.h"

namespace {

struct Account {
    WString sid, profile;
};

Account Find(const wchar_t* name)
{
    Account account;
    GetAccountSidAndProfile(name, account.sid, &account.profile);
    return account;
}

void WriteHiveValue(const wchar_t* sid, const wchar_t* subkey, const wchar_t* name, const wchar_t* value,
                    DWORD type = REG_SZ)
{
    ASSERT_EQ(ERROR_SUCCESS, RegWrite(HKEY_USERS, std::wstring(sid) + subkey, name, value, type));
}

class RepairHive : public ::testing::Test {
protected:
    void SetUp() override
    {
        std::wstring error;
        ASSERT_TRUE(sandbox::ResetMachine(sandbox::ScenarioPath(L"default"), &error)) << Show(error);
        jokafor_ = Find(L"jokafor");
        ASSERT_FALSE(jokafor_.sid.IsEmpty());
        ASSERT_FALSE(jokafor_.profile.IsEmpty());
    }
    void TearDown() override
    {
        if (!jokafor_.sid.IsEmpty())
            machine::RegUnLoadKeyW(HKEY_USERS, jokafor_.sid.Text());
    }

    Account jokafor_;
};

constexpr wchar_t kUserShellFolders[] = L"\\SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Explorer\\User Shell Folders";
constexpr wchar_t kShellFolders[] = L"\\SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Explorer\\Shell Folders";

}  // namespace

TEST_F(RepairHive, LoadUserHiveLoadsFromTheProfileListOnlyWhatIsNotLoaded)
{
    const wchar_t* sid = jokafor_.sid.Text();
    ASSERT_FALSE(KeyOpens(HKEY_USERS, sid));
    EXPECT_TRUE(LoadUserHive(sid));
    EXPECT_TRUE(KeyOpens(HKEY_USERS, sid));
    EXPECT_TRUE(LoadUserHive(sid)) << "already loaded counts as loaded";
    EXPECT_EQ(ERROR_SUCCESS, machine::RegUnLoadKeyW(HKEY_USERS, sid));
    EXPECT_FALSE(KeyOpens(HKEY_USERS, sid));

    // Texts that are no SID never become a key under HKEY_USERS.
    const wchar_t* refused[] = {L"", L"S-1-5-21-1-2-3-1001\\Software", L"..\\S-1-5-18", L"jokafor", L"S-1-5-21-x"};
    for (const wchar_t* text : refused)
        EXPECT_FALSE(LoadUserHive(text)) << Show(text);
    EXPECT_FALSE(LoadUserHive(nullptr));

    // An account without a profile record has no hive to load.
    Account tpatel = Find(L"tpatel");
    ASSERT_FALSE(tpatel.sid.IsEmpty());
    EXPECT_FALSE(LoadUserHive(tpatel.sid.Text()));
    EXPECT_FALSE(KeyOpens(HKEY_USERS, tpatel.sid.Text()));
}

TEST_F(RepairHive, LoadUserHiveRefusesAProfilePathThatIsNoLocalFolder)
{
    std::wstring entry = std::wstring(L"SOFTWARE\\Microsoft\\Windows NT\\CurrentVersion\\ProfileList\\") +
                         jokafor_.sid.Text();
    const wchar_t* paths[] = {L"relative\\folder", L"\\\\server\\share\\jokafor", L"C:\\users\\..\\windows"};
    for (const wchar_t* path : paths) {
        ASSERT_EQ(ERROR_SUCCESS, RegSetKeyValueW(HKEY_LOCAL_MACHINE, entry.c_str(), L"ProfileImagePath", REG_EXPAND_SZ,
                                                 path, static_cast<DWORD>((wcslen(path) + 1) * sizeof(wchar_t))));
        EXPECT_FALSE(LoadUserHive(jokafor_.sid.Text())) << Show(path);
        EXPECT_FALSE(KeyOpens(HKEY_USERS, jokafor_.sid.Text())) << Show(path);
    }
}

TEST_F(RepairHive, ProfileFolderPathMovesTheDefaultUsersFolderToTheGivenProfile)
{
    struct Case {
        int csidl;
        const wchar_t* profile;
        const wchar_t* expected;   // null: refused
    } cases[] = {
        {CSIDL_DESKTOPDIRECTORY, L"C:\\users\\someone", L"C:\\users\\someone\\Desktop"},
        {CSIDL_STARTUP, L"D:\\Profiles\\Sofia K",
         L"D:\\Profiles\\Sofia K\\AppData\\Roaming\\Microsoft\\Windows\\Start Menu\\Programs\\Startup"},
        {CSIDL_DESKTOPDIRECTORY, L"C:\\users\\trailing\\", L"C:\\users\\trailing\\Desktop"},
        {CSIDL_PERSONAL, L"E:\\Profiles of the second floor\\Maria Hartley\\\\",
         L"E:\\Profiles of the second floor\\Maria Hartley\\Documents"},
        {CSIDL_DESKTOPDIRECTORY, L"users\\relative", nullptr},
        {CSIDL_DESKTOPDIRECTORY, L"C:\\users\\..\\windows", nullptr},
        {CSIDL_DESKTOPDIRECTORY, nullptr, nullptr},
        {CSIDL_WINDOWS, L"C:\\users\\someone", nullptr},   // not a folder of a profile
    };
    for (const Case& c : cases) {
        WString out(L"untouched");
        bool found = ProfileFolderPath(c.csidl, c.profile, out);
        EXPECT_EQ(c.expected != nullptr, found) << c.csidl << " " << Show(c.profile) << " -> " << Show(out.Text());
        if (c.expected != nullptr)   // folder names compare without case, as the file system does
            EXPECT_EQ(0, _wcsicmp(c.expected, out.Text())) << c.csidl << " " << Show(out.Text());
        else
            EXPECT_EQ(std::wstring(L"untouched"), out.Text()) << "a refusal leaves the output alone";
    }
}

TEST_F(RepairHive, UserShellFolderReadsTheAccountsOwnHive)
{
    const wchar_t* sid = jokafor_.sid.Text();
    std::wstring profile = jokafor_.profile.Text();
    WString out;
    // A fresh profile names its folders in "User Shell Folders" with %USERPROFILE%.
    ASSERT_TRUE(UserShellFolder(sid, L"Startup", out)) << "read from the profile list's folder";
    EXPECT_EQ(profile + L"\\AppData\\Roaming\\Microsoft\\Windows\\Start Menu\\Programs\\Startup", out.Text());
    EXPECT_TRUE(KeyOpens(HKEY_USERS, sid)) << "the hive stays for the caller to unload";
    ASSERT_TRUE(UserShellFolder(sid, L"Desktop", out, L"E:\\Elsewhere"));
    EXPECT_EQ(std::wstring(L"E:\\Elsewhere\\Desktop"), out.Text()) << "the given profile stands for %USERPROFILE%";
    out.Assign(L"untouched");
    EXPECT_FALSE(UserShellFolder(sid, L"Desktop", out, L"Elsewhere")) << "a profile that is no local folder";
    EXPECT_EQ(std::wstring(L"untouched"), out.Text());

    // "Shell Folders" comes first; other variables are expanded.
    WriteHiveValue(sid, kShellFolders, L"Personal", L"D:\\Documents of James");
    WriteHiveValue(sid, kUserShellFolders, L"Personal", L"%USERPROFILE%\\Documents");
    ASSERT_TRUE(UserShellFolder(sid, L"Personal", out));
    EXPECT_EQ(std::wstring(L"D:\\Documents of James"), out.Text());
    WriteHiveValue(sid, kUserShellFolders, L"My Music", L"%SystemDrive%\\Music of James", REG_EXPAND_SZ);
    ASSERT_TRUE(UserShellFolder(sid, L"My Music", out));
    wchar_t drive[8] = L"";
    GetEnvironmentVariableW(L"SystemDrive", drive, ARRAYSIZE(drive));
    EXPECT_EQ(std::wstring(drive) + L"\\Music of James", out.Text());

    // "Temp" is the account's environment: TMP before TEMP.
    ASSERT_TRUE(UserShellFolder(sid, L"Temp", out));
    EXPECT_EQ(profile + L"\\AppData\\Local\\Temp", out.Text());
    WriteHiveValue(sid, L"\\Environment", L"TMP", L"%USERPROFILE%\\Scratch", REG_EXPAND_SZ);
    ASSERT_TRUE(UserShellFolder(sid, L"Temp", out));
    EXPECT_EQ(profile + L"\\Scratch", out.Text());

    // Unknown names, values that are no local folder, and non-SIDs.
    out.Assign(L"untouched");
    EXPECT_FALSE(UserShellFolder(sid, L"No Such Folder", out));
    WriteHiveValue(sid, kShellFolders, L"Favorites", L"..\\..\\Windows");
    EXPECT_FALSE(UserShellFolder(sid, L"Favorites", out));
    EXPECT_FALSE(UserShellFolder(L"not a sid", L"Startup", out));
    // With the hive loaded but no profile folder in the list, %USERPROFILE% stands for nothing.
    ASSERT_EQ(ERROR_SUCCESS, RegDeleteKeyValueW(HKEY_LOCAL_MACHINE, (std::wstring(L"SOFTWARE\\Microsoft\\Windows NT"
                                                L"\\CurrentVersion\\ProfileList\\") + sid).c_str(), L"ProfileImagePath"));
    EXPECT_FALSE(UserShellFolder(sid, L"Desktop", out));
    EXPECT_EQ(std::wstring(L"untouched"), out.Text());
}

TEST_F(RepairHive, UserShellFolderBeforeVersion59DerivesTwoFoldersWithoutTheRegistry)
{
    const wchar_t* sid = jokafor_.sid.Text();
    WString out;
    ASSERT_TRUE(UserShellFolder(sid, L"Local AppData", out, L"C:\\Documents and Settings\\james", 5.1));
    EXPECT_EQ(std::wstring(L"C:\\Documents and Settings\\james\\Local Settings\\Application Data"), out.Text());
    EXPECT_FALSE(KeyOpens(HKEY_USERS, sid)) << "no hive needed";
    ASSERT_TRUE(LoadUserHive(sid));
    WriteHiveValue(sid, kShellFolders, L"Personal", L"C:\\Documents and Settings\\james\\My Documents");
    ASSERT_TRUE(UserShellFolder(sid, L"{374DE290-123F-4565-9164-39C4925E467B}", out, nullptr, 5.1));
    EXPECT_EQ(std::wstring(L"C:\\Documents and Settings\\james\\My Documents\\Downloads"), out.Text());
    // From version 6.0 on the same name is read from the hive.
    ASSERT_TRUE(UserShellFolder(sid, L"{374DE290-123F-4565-9164-39C4925E467B}", out, nullptr, 6.1));
    EXPECT_EQ(std::wstring(jokafor_.profile.Text()) + L"\\Downloads", out.Text());
}
