// Creating and deleting accounts on the simulated machine, with real
// profiles, hives, picture sets and profile-list entries in the Wine prefix.
// Each test starts from the default scenario.
#include <gtest/gtest.h>

#include <windows.h>
#include <lm.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "tests/narrow.h"
#include "accounts/account_lifecycle.h"
#include "accounts/groups.h"
#include "accounts/passwords.h"
#include "platform/files.h"
#include "platform/machine.h"
#include "platform/text_win.h"
#include "sandbox/profiles.h"
#include "sandbox/sandbox.h"
#include "sandbox/state.h"
#include "tests/win/repair_test_support.h"
#include "tests/win/test_support.h"

using repair_test::Joined;
using repair_test::PasswordWorks;

namespace {

constexpr wchar_t kProfileList[] = L"SOFTWARE\\Microsoft\\Windows NT\\CurrentVersion\\ProfileList";
constexpr wchar_t kPictureUsers[] = L"SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\AccountPicture\\Users";
constexpr wchar_t kWinlogon[] = L"SOFTWARE\\Microsoft\\Windows NT\\CurrentVersion\\Winlogon";
// Made by make-deletion-links.sh before the tests: Wine cannot make links itself.
constexpr wchar_t kLinkedProfile[] = L"C:\\users\\vantrell-linked-profile";
constexpr wchar_t kLinkTarget[] = L"C:\\vantrell-link-target";

void WriteText(HKEY root, const std::wstring& path, const wchar_t* value, const std::wstring& text,
               DWORD type = REG_SZ)
{
    ASSERT_EQ(ERROR_SUCCESS, RegWrite(root, path, value, text, type)) << Narrow(path);
}

std::wstring ProfileEntry(const std::wstring& sid) { return std::wstring(kProfileList) + L"\\" + sid; }

std::wstring PublicPictures()
{
    wchar_t folder[MAX_PATH] = L"";
    ExpandEnvironmentStringsW(L"%Public%\\AccountPictures", folder, ARRAYSIZE(folder));
    return folder;
}

void Write(const std::wstring& path, const char* text) { ASSERT_TRUE(WriteTextFile(path, text)) << Narrow(path); }

// Every string, name and value under a registry key, depth first.
void CollectRegistry(HKEY key, const std::wstring& path, const std::wstring& needle,
                     const std::vector<std::wstring>& skip, std::vector<std::wstring>& found)
{
    wchar_t name[512];
    for (DWORD i = 0;; ++i) {
        DWORD length = ARRAYSIZE(name);
        DWORD type = 0;
        std::vector<BYTE> data(65536);
        DWORD size = static_cast<DWORD>(data.size());
        if (RegEnumValueW(key, i, name, &length, nullptr, &type, data.data(), &size) != ERROR_SUCCESS)
            break;
        std::wstring text(reinterpret_cast<const wchar_t*>(data.data()), size / sizeof(wchar_t));
        if (std::wstring(name).find(needle) != std::wstring::npos || text.find(needle) != std::wstring::npos)
            found.push_back(path + L" : " + name);
    }
    for (const std::wstring& subkey : SubkeyNames(key)) {
        std::wstring child = path + L"\\" + subkey;
        if (std::find(skip.begin(), skip.end(), child) != skip.end())
            continue;
        if (subkey.find(needle) != std::wstring::npos)
            found.push_back(child);
        UniqueRegKey sub;
        if (RegOpenKeyExW(key, subkey.c_str(), 0, KEY_READ, sub.Put()) == ERROR_SUCCESS)
            CollectRegistry(sub.Get(), child, needle, skip, found);
    }
}

// Where the machine still holds the SID: the profile list, the picture key
// and folder, the simulated machine's state, HKEY_USERS, the security
// authority's rights, the built-in groups and the profiles directory.
std::vector<std::wstring> SearchForSid(const std::wstring& sid, const std::wstring& profileFolder)
{
    std::vector<std::wstring> found;
    // Two lists in the state are the sandbox's own bookkeeping, not the
    // machine's: what a reset must clean up, and the files of the hives it
    // loaded itself (the hives themselves are looked for under HKEY_USERS).
    struct { const wchar_t* key; const wchar_t* label; std::vector<std::wstring> skip; } const trees[] = {
        {kProfileList, L"ProfileList", {}},
        {kPictureUsers, L"AccountPicture", {}},
        {sandbox::kStateKey, L"state", {L"state\\Profiles", L"state\\Hives"}},
    };
    for (const auto& tree : trees) {
        UniqueRegKey key;
        if (RegOpenKeyExW(HKEY_LOCAL_MACHINE, tree.key, 0, KEY_READ, key.Put()) == ERROR_SUCCESS)
            CollectRegistry(key.Get(), tree.label, sid, tree.skip, found);
    }
    if (PathExists(PublicPictures() + L"\\" + sid))
        found.push_back(L"picture folder");
    // HKEY_USERS: only the names of the loaded hives, not their contents.
    for (const std::wstring& hive : SubkeyNames(HKEY_USERS)) {
        if (hive.find(sid) != std::wstring::npos)
            found.push_back(L"HKEY_USERS\\" + hive);
    }
    if (!sandbox::RightsOf(sid).empty())
        found.push_back(L"security authority rights");
    for (DWORD alias : {sandbox::kAdministratorsRid, sandbox::kUsersRid, sandbox::kGuestsRid}) {
        if (sandbox::IsMember(alias, sid))
            found.push_back(L"group " + std::to_wstring(alias));
    }
    if (!profileFolder.empty() && PathExists(profileFolder))
        found.push_back(L"profile folder " + profileFolder);
    return found;
}

// A state value that could be a temporary password: its length, its alphabet
// and all four kinds of character.
bool HoldsTemporaryPassword(const std::wstring& text)
{
    const std::wstring alphabet =
        L"ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789#%+-.=_!*~";
    for (size_t start = 0; start + kTemporaryPasswordLength <= text.size(); ++start) {
        std::wstring piece = text.substr(start, kTemporaryPasswordLength);
        if (piece.find_first_not_of(alphabet) == std::wstring::npos && HasEveryCharacterKind(piece.c_str()))
            return true;
    }
    return false;
}

class AccountLifecycle : public ::testing::Test {
protected:
    void SetUp() override
    {
        std::wstring error;
        ASSERT_TRUE(sandbox::ResetMachine(sandbox::ScenarioPath(L"default"), &error)) << Narrow(error);
        sandbox::ClearRecord();
        sandbox::EnableHivePrivileges();
    }
    void TearDown() override
    {
        for (const std::wstring& sid : pictureSids_) {
            RegDeleteTreeW(HKEY_LOCAL_MACHINE, (std::wstring(kPictureUsers) + L"\\" + sid).c_str());
            std::error_code ignored;
            std::filesystem::remove_all(PublicPictures() + L"\\" + sid, ignored);
        }
    }

    // A new account with its profile, as the creation dialog makes it.
    std::wstring Make(const wchar_t* name, uint32_t type = 1, const wchar_t* password = L"Secret-99")
    {
        CreateReport report;
        EXPECT_TRUE(CreateAccount(name, nullptr, type, password, &report)) << Narrow(name);
        std::wstring sid = AccountSidOf(name);
        EXPECT_FALSE(sid.empty()) << Narrow(name);
        return sid;
    }

    std::wstring FolderOf(const std::wstring& sid) { return sandbox::ProfileFolderOf(sid); }

    // Everything the system can hold for an account besides the account:
    // a hidden account's deny right, a picture set, loaded hives.
    void Furnish(const std::wstring& name, const std::wstring& sid)
    {
        EXPECT_TRUE(SetSignInVisibility(name.c_str(), SignInVisibilityMode::Hide));
        pictureSids_.push_back(sid);
        std::wstring picture = PublicPictures() + L"\\" + sid + L"\\{0A1B}-Image448.jpg";
        Write(picture, "jpeg");
        SetFileAttributesW(picture.c_str(), FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_SYSTEM);
        WriteText(HKEY_LOCAL_MACHINE, std::wstring(kPictureUsers) + L"\\" + sid, L"Image448", picture);
        HKEY root = nullptr;
        ASSERT_EQ(static_cast<DWORD>(ERROR_SUCCESS), sandbox::LoadProfile(sid, &root));
        RegCloseKey(root);
        std::wstring classes = FolderOf(sid) + L"\\AppData\\Local\\Microsoft\\Windows\\UsrClass.dat";
        EXPECT_EQ(ERROR_SUCCESS, RegLoadKeyW(HKEY_USERS, (sid + L"_Classes").c_str(), classes.c_str()));
    }

    std::vector<std::wstring> pictureSids_;
};

}  // namespace

// The full name is set only where it differs from the name, case counting.
TEST_F(AccountLifecycle, EachTypeJoinsExactlyOneGroupAndGetsARealProfile)
{
    struct Case {
        const wchar_t* name;
        uint32_t type;
        DWORD group;
        const wchar_t* fullName;
        const wchar_t* stored;
    } const cases[] = {
        {L"new-guest", 0, sandbox::kGuestsRid, L"Carol Smith", L"Carol Smith"},
        {L"new-user", 1, sandbox::kUsersRid, L"new-user", L""},
        {L"new-admin", 2, sandbox::kAdministratorsRid, L"New-Admin", L"New-Admin"},
        {L"other-user", 1, sandbox::kUsersRid, nullptr, L""},
    };
    for (const Case& c : cases) {
        CreateReport report;
        EXPECT_TRUE(CreateAccount(c.name, c.fullName, c.type, L"Secret-99", &report)) << Narrow(c.name);
        EXPECT_EQ(CreateOutcome::AddedWithProfile, report.outcome) << Narrow(c.name);
        EXPECT_TRUE(report.profileByService) << Narrow(c.name);
        EXPECT_FALSE(report.temporaryPasswordUsed) << Narrow(c.name);
        std::wstring sid = AccountSidOf(c.name);
        ASSERT_FALSE(sid.empty()) << Narrow(c.name);
        for (DWORD alias : {sandbox::kGuestsRid, sandbox::kUsersRid, sandbox::kAdministratorsRid})
            EXPECT_EQ(alias == c.group, sandbox::IsMember(alias, sid)) << Narrow(c.name) << " in alias " << alias;

        sandbox::Account account;
        ASSERT_TRUE(sandbox::FindAccount(c.name, &account));
        EXPECT_EQ(static_cast<DWORD>(UF_SCRIPT | UF_DONT_EXPIRE_PASSWD), account.flags & ~UF_NORMAL_ACCOUNT);
        EXPECT_EQ(std::wstring(c.stored), account.fullName) << Narrow(c.name);
        std::wstring folder = FolderOf(sid);
        ASSERT_FALSE(folder.empty()) << "no profile-list entry for " << Narrow(c.name);
        EXPECT_TRUE(PathExists(folder + L"\\NTUSER.DAT")) << Narrow(folder);
        EXPECT_TRUE(PathExists(folder + L"\\AppData\\Local\\Microsoft\\Windows\\UsrClass.dat")) << Narrow(folder);
        // A real hive: it loads.
        HKEY root = nullptr;
        EXPECT_EQ(static_cast<DWORD>(ERROR_SUCCESS), sandbox::LoadProfile(sid, &root)) << Narrow(folder);
        EXPECT_EQ(static_cast<DWORD>(ERROR_SUCCESS), sandbox::UnloadProfile(sid, root));
    }
}

TEST_F(AccountLifecycle, WithoutTheProfileServiceTheAccountSignsInOnce)
{
    sandbox::SetMachineDword(sandbox::kProfileService, 0);
    struct Case {
        const wchar_t* name;
        const wchar_t* password;
        bool temporary;
    } const cases[] = {
        {L"no-password", nullptr, true},
        {L"empty-password", L"", true},
        {L"own-password", L"Own-Pass-1", false},
    };
    for (const Case& c : cases) {
        CreateReport report;
        EXPECT_TRUE(CreateAccount(c.name, nullptr, 2, c.password, &report)) << Narrow(c.name);
        EXPECT_EQ(CreateOutcome::AddedWithProfile, report.outcome) << Narrow(c.name);
        EXPECT_FALSE(report.profileByService);
        EXPECT_EQ(c.temporary, report.temporaryPasswordUsed) << Narrow(c.name);
        EXPECT_TRUE(report.emptyPasswordRestored) << Narrow(c.name);
        sandbox::Account account;
        ASSERT_TRUE(sandbox::FindAccount(c.name, &account));
        EXPECT_EQ(1u, account.logonCount) << Narrow(c.name) << " signs in exactly once";
        std::wstring sid = AccountSidOf(c.name);
        EXPECT_FALSE(FolderOf(sid).empty()) << Narrow(c.name);
        EXPECT_TRUE(PathExists(FolderOf(sid) + L"\\NTUSER.DAT")) << Narrow(c.name);
        EXPECT_FALSE(KeyOpens(HKEY_USERS, sid)) << "the profile is unloaded again";
        // The account ends with the password asked for.
        const wchar_t* expected = c.password != nullptr ? c.password : L"";
        EXPECT_EQ(*expected != L'\0', account.hasPassword) << Narrow(c.name);
        EXPECT_TRUE(PasswordWorks(c.name, expected)) << Narrow(c.name);
    }

    // The random passwords were never written anywhere: the machine's state
    // and its record hold nothing of their shape.
    std::vector<std::wstring> strings;
    UniqueRegKey state;
    ASSERT_EQ(ERROR_SUCCESS, RegOpenKeyExW(HKEY_LOCAL_MACHINE, sandbox::kStateKey, 0, KEY_READ, state.Put()));
    CollectRegistryStrings(state.Get(), strings);
    for (const sandbox::RecordedAction& action : sandbox::RecordedActions()) {
        strings.push_back(action.call);
        for (const auto& detail : action.details)
            strings.push_back(detail.second);
    }
    EXPECT_GT(strings.size(), 20u);
    for (const std::wstring& text : strings)
        EXPECT_FALSE(HoldsTemporaryPassword(text)) << Narrow(text);
}

TEST_F(AccountLifecycle, TemporaryPasswordsAreFreshMixedAndLongEnough)
{
    std::vector<std::wstring> seen;
    for (int i = 0; i < 20; ++i) {
        TemporaryPassword password;
        std::wstring text = password.Text();
        EXPECT_EQ(kTemporaryPasswordLength, text.size()) << Narrow(text);
        EXPECT_TRUE(HasEveryCharacterKind(text.c_str())) << Narrow(text);
        for (const std::wstring& earlier : seen)
            EXPECT_NE(earlier, text);
        seen.push_back(text);
    }
}

TEST_F(AccountLifecycle, RefusalsChangeNothing)
{
    sandbox::SetMachineDword(sandbox::kMinimumPasswordLength, 8);
    struct Case {
        const wchar_t* name;
        const wchar_t* password;
        NET_API_STATUS status;
    } const cases[] = {
        {L"ADMINISTRATOR", L"Long-enough-1", NERR_UserExists},
        {L"bad+name", L"Long-enough-1", NERR_BadUsername},
        {L"twentyone-characters1", L"Long-enough-1", NERR_BadUsername},
        {L"short-pass", L"abc", NERR_PasswordTooShort},
        {L"no-pass", nullptr, NERR_PasswordTooShort},
    };
    for (const Case& c : cases) {
        size_t before = sandbox::Accounts().size();
        CreateReport report;
        EXPECT_FALSE(CreateAccount(c.name, nullptr, 2, c.password, &report)) << Narrow(c.name);
        EXPECT_EQ(c.status, report.addStatus) << Narrow(c.name);
        EXPECT_EQ(CreateOutcome::NotAdded, report.outcome) << Narrow(c.name);
        EXPECT_EQ(before, sandbox::Accounts().size()) << Narrow(c.name);
    }
}

// A profile-list entry that the system already holds for the SID the next
// account gets: the profile service refuses, and the sign-in cannot load it.
TEST_F(AccountLifecycle, AnAccountWhoseProfileCannotBeBuiltExistsAndSaysSo)
{
    for (DWORD service : {1u, 0u}) {
        sandbox::SetMachineDword(sandbox::kProfileService, service);
        std::wstring nextSid = sandbox::AccountSid(sandbox::MachineDword(sandbox::kNextRid, 1000));
        sandbox::RememberProfileKey(nextSid);
        WriteText(HKEY_LOCAL_MACHINE, ProfileEntry(nextSid), L"ProfileImagePath", L"C:\\users\\vantrell-gone-profile",
                  REG_EXPAND_SZ);
        const wchar_t* name = service != 0 ? L"stale-service" : L"stale-signin";
        CreateReport report;
        EXPECT_FALSE(CreateAccount(name, nullptr, 1, nullptr, &report)) << Narrow(name);
        EXPECT_EQ(CreateOutcome::AddedWithoutProfile, report.outcome) << Narrow(name);
        EXPECT_EQ(nextSid, AccountSidOf(name)) << "the planted entry is the new account's";
        EXPECT_TRUE(report.emptyPasswordRestored);
        sandbox::Account account;
        ASSERT_TRUE(sandbox::FindAccount(name, &account));
        EXPECT_FALSE(account.hasPassword) << Narrow(name);
    }
}

TEST_F(AccountLifecycle, DeletionWithFilesLeavesNothingOfTheSid)
{
    struct Case {
        const wchar_t* name;
        bool dialog;   // the dialog's way: automatic sign-in cleared, entry only with the folder
    } const cases[] = {{L"goner", false}, {L"dialog-goner", true}};
    for (const Case& c : cases) {
        std::wstring sid = Make(c.name, 2);
        std::wstring folder = FolderOf(sid);
        ASSERT_FALSE(folder.empty());
        Furnish(c.name, sid);
        // Every place the search looks at holds the SID before the deletion.
        const std::string before = Joined(SearchForSid(sid, folder));
        for (const char* place : {"ProfileList", "AccountPicture", "picture folder", "HKEY_USERS", "_Classes",
                                  "security authority rights", "state\\Rights", "group ", "profile folder"})
            ASSERT_NE(std::string::npos, before.find(place)) << place << " not found in " << before;

        AccountDeletion deletion;
        deletion.accountName = c.name;
        deletion.folderFlags = kDeleteTakeOver | kDeleteScheduleAtRestart;
        deletion.clearAutoLogon = c.dialog;
        deletion.alwaysRemoveProfileEntry = !c.dialog;
        AccountDeletionReport report;
        EXPECT_EQ(1, RemoveAccount(deletion, report)) << Narrow(c.name);
        EXPECT_TRUE(report.accountDeleted);
        EXPECT_EQ(sid, std::wstring(report.sidString.Text()));
        EXPECT_TRUE(report.rightsRemoved);
        EXPECT_TRUE(report.pictureRemoved);
        EXPECT_TRUE(report.hivesUnloaded);
        EXPECT_EQ(ProfileFolderVerdict::Inside, report.folderVerdict);
        EXPECT_EQ(1, report.folderResult);
        EXPECT_TRUE(report.profileEntryRemoved);
        std::vector<std::wstring> found = SearchForSid(sid, folder);
        EXPECT_TRUE(found.empty()) << Narrow(c.name) << " left: " << Joined(found);
    }
}

// The dialog's way without the files; the automatic sign-in name goes even
// while automatic sign-in is off.
TEST_F(AccountLifecycle, DeletionWithoutFilesKeepsTheFolderAndItsEntry)
{
    std::wstring sid = Make(L"keeper");
    std::wstring folder = FolderOf(sid);
    Furnish(L"keeper", sid);
    RegUnLoadKeyW(HKEY_USERS, sid.c_str());
    RegUnLoadKeyW(HKEY_USERS, (sid + L"_Classes").c_str());
    WriteText(HKEY_LOCAL_MACHINE, kWinlogon, L"DefaultUserName", L"KEEPER");
    WriteText(HKEY_LOCAL_MACHINE, kWinlogon, L"AutoAdminLogon", L"0");

    AccountDeletion deletion;
    deletion.accountName = L"keeper";
    deletion.clearAutoLogon = true;
    deletion.alwaysRemoveProfileEntry = false;
    AccountDeletionReport report;
    EXPECT_EQ(1, RemoveAccount(deletion, report));
    EXPECT_EQ(-1, report.folderResult);
    EXPECT_TRUE(report.autoLogonCleared);
    EXPECT_EQ(L"", RegText(HKEY_LOCAL_MACHINE, kWinlogon, L"DefaultUserName"));
    EXPECT_TRUE(PathExists(folder + L"\\NTUSER.DAT"));
    EXPECT_TRUE(KeyOpens(HKEY_LOCAL_MACHINE, ProfileEntry(sid)));
    std::string listed = Joined(SearchForSid(sid, folder));
    EXPECT_EQ(std::string::npos, listed.find("rights")) << listed;
    EXPECT_EQ(std::string::npos, listed.find("picture")) << listed;
    EXPECT_EQ(std::string::npos, listed.find("AccountPicture")) << listed;
}

// The repair tool's way also leaves automatic sign-in alone.
TEST_F(AccountLifecycle, RepairToolDeletionKeepsTheFolderButNotItsEntry)
{
    std::wstring sid = Make(L"rebuilt");
    std::wstring folder = FolderOf(sid);
    WriteText(HKEY_LOCAL_MACHINE, kWinlogon, L"DefaultUserName", L"rebuilt");
    EXPECT_EQ(1, DeleteAccount(L"rebuilt", 0));
    EXPECT_TRUE(PathExists(folder + L"\\NTUSER.DAT"));
    EXPECT_FALSE(KeyOpens(HKEY_LOCAL_MACHINE, ProfileEntry(sid)));
    EXPECT_EQ(L"rebuilt", RegText(HKEY_LOCAL_MACHINE, kWinlogon, L"DefaultUserName"));
    WriteText(HKEY_LOCAL_MACHINE, kWinlogon, L"DefaultUserName", L"");
    EXPECT_EQ(0, DeleteAccount(L"rebuilt", 3)) << "an account that is gone is not deleted again";
    EXPECT_EQ(0, DeleteAccount(L"", 3));
}

// Damaged profile entries, another account's folder under its short name,
// and a profile list that cannot be read whole: the folder is never deleted,
// by the dialog's way or the repair tool's. (A list that cannot be opened at
// all hides the profiles directory too, which refuses the folder before the
// other profiles are looked at.)
TEST_F(AccountLifecycle, FoldersNotProvablyTheAccountsOwnAreNeverDeleted)
{
    std::wstring root = ProfilesDirectory().Text();
    ASSERT_FALSE(root.empty());
    const std::wstring outside = L"C:\\vantrell-outside-profile";
    const std::wstring inside = root + L"\\vantrell-shared-profile";
    Write(inside + L"\\keep.txt", "keep");
    wchar_t shortName[MAX_PATH] = L"";
    ASSERT_NE(0u, GetShortPathNameW(inside.c_str(), shortName, MAX_PATH));
    ASSERT_NE(inside, std::wstring(shortName)) << "the shared folder has no short name of its own";
    struct Case {
        const wchar_t* name;
        std::wstring stored;      // the entry's ProfileImagePath; empty keeps its own
        std::wstring canary;      // a file that must survive; empty for its own folder
        ProfileFolderVerdict verdict;
        bool entryLocked = false;  // nobody may read the other account's profile-list entry
    } const cases[] = {
        {L"at-root", root, root + L"\\vantrell-canary.txt", ProfileFolderVerdict::IsRoot},
        {L"outside", outside, outside + L"\\keep.txt", ProfileFolderVerdict::OutsideRoot},
        {L"linked", kLinkedProfile, std::wstring(kLinkTarget) + L"\\keep.txt", ProfileFolderVerdict::ReparsePoint},
        {L"below-link", std::wstring(kLinkedProfile) + L"\\inner", std::wstring(kLinkTarget) + L"\\inner\\keep.txt",
         ProfileFolderVerdict::ReparsePoint},
        {L"shared", inside, inside + L"\\keep.txt", ProfileFolderVerdict::Shared},
        {L"short-name", shortName, inside + L"\\keep.txt", ProfileFolderVerdict::Shared},
        {L"entry-locked", L"", L"", ProfileFolderVerdict::ProfileListUnreadable, true},
    };
    ASSERT_TRUE(PathExists(kLinkedProfile)) << "make-deletion-links.sh has not run";
    for (bool dialog : {true, false}) {
        for (const Case& c : cases) {
            SetUp();
            Write(root + L"\\vantrell-canary.txt", "keep");
            Write(outside + L"\\keep.txt", "keep");
            Write(inside + L"\\keep.txt", "keep");
            std::wstring sid = Make(c.name);
            if (!c.stored.empty())
                WriteText(HKEY_LOCAL_MACHINE, ProfileEntry(sid), L"ProfileImagePath", c.stored, REG_EXPAND_SZ);
            const std::wstring canary = !c.canary.empty() ? c.canary : FolderOf(sid) + L"\\NTUSER.DAT";
            // Another account's entry names the shared folder.
            sandbox::RememberProfileKey(L"S-1-5-21-9-9-9-4242");
            WriteText(HKEY_LOCAL_MACHINE, ProfileEntry(L"S-1-5-21-9-9-9-4242"), L"ProfileImagePath", inside,
                      REG_EXPAND_SZ);

            AccountDeletion deletion;
            deletion.accountName = c.name;
            deletion.folderFlags = kDeleteTakeOver | kDeleteScheduleAtRestart;
            deletion.clearAutoLogon = dialog;
            deletion.alwaysRemoveProfileEntry = !dialog;
            AccountDeletionReport report;
            // Nobody may list or read the locked entry itself; administrators get it back after.
            const std::wstring other = ProfileEntry(L"S-1-5-21-9-9-9-4242");
            if (c.entryLocked) {
                ASSERT_EQ(ERROR_SUCCESS, SetKeySddl(HKEY_LOCAL_MACHINE, other, L"D:P(D;;KR;;;WD)(A;;KA;;;WD)"));
            }
            EXPECT_EQ(1, RemoveAccount(deletion, report)) << Narrow(c.name);
            if (c.entryLocked) {
                EXPECT_EQ(ERROR_SUCCESS, SetKeySddl(HKEY_LOCAL_MACHINE, other, L"D:(A;CI;KA;;;BA)(A;CI;KA;;;SY)"));
            }
            EXPECT_EQ(c.verdict, report.folderVerdict) << Narrow(c.name);
            EXPECT_EQ(-1, report.folderResult) << Narrow(c.name);
            EXPECT_TRUE(PathExists(canary)) << Narrow(c.name) << ": " << Narrow(canary) << " was deleted";
            EXPECT_TRUE(PathExists(root + L"\\Public")) << Narrow(c.name);
            EXPECT_EQ(!dialog, !KeyOpens(HKEY_LOCAL_MACHINE, ProfileEntry(sid)))
                << Narrow(c.name) << (dialog ? ": the dialog keeps an entry whose folder stays" : "");
            RegDeleteTreeW(HKEY_LOCAL_MACHINE, ProfileEntry(sid).c_str());
        }
    }
    std::error_code ignored;
    std::filesystem::remove_all(outside, ignored);
    std::filesystem::remove_all(inside, ignored);
    DeleteFileW((root + L"\\vantrell-canary.txt").c_str());
}

TEST_F(AccountLifecycle, SystemFoldersAreRefusedBeforeTheDiskIsTouched)
{
    using V = ProfileFolderVerdict;
    struct { const wchar_t* stored; V verdict; } const cases[] = {
        {L"C:\\Windows", V::OutsideRoot},        {L"%SystemRoot%", V::OutsideRoot},
        {L"%SystemDrive%\\Users\\..\\Windows\\System32", V::OutsideRoot},
        {L"\\\\localhost\\C$\\Users\\x", V::NotLocalAbsolute}, {L"C:\\Users\\*", V::UnsafeComponent},
        {L"%Public%", V::Shared},                {L"C:\\Users\\vantrell-no-such-profile", V::Missing},
    };
    for (const auto& c : cases) {
        WString folder;
        EXPECT_EQ(c.verdict, CheckProfileFolder(c.stored, L"S-1-5-21-1-2-3-4", folder)) << Narrow(c.stored);
        EXPECT_TRUE(folder.IsEmpty()) << Narrow(c.stored);
    }
}

TEST_F(AccountLifecycle, LockedFilesAreLeftForTheRestart)
{
    std::wstring sid = Make(L"busy-user");
    std::wstring folder = FolderOf(sid);
    Write(folder + L"\\Documents\\open.txt", "open");
    HANDLE held = CreateFileW((folder + L"\\Documents\\open.txt").c_str(), GENERIC_READ, 0, nullptr, OPEN_EXISTING,
                              FILE_ATTRIBUTE_NORMAL, nullptr);
    ASSERT_NE(INVALID_HANDLE_VALUE, held);
    EXPECT_EQ(2, DeleteAccount(L"busy-user", kDeleteTakeOver | kDeleteScheduleAtRestart));
    CloseHandle(held);
    EXPECT_FALSE(PathExists(folder + L"\\NTUSER.DAT")) << "everything else went";
}
