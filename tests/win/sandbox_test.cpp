// The simulated machine's own promises: scenarios, the switches that reach
// the failure paths, the record of actions, persistence between processes,
// and no password kept in plain text.
#include <gtest/gtest.h>

#include <windows.h>
#include <knownfolders.h>
#include <sddl.h>
#include <shlobj.h>

#include <algorithm>
#include <fstream>
#include <string>
#include <vector>

#include "platform/machine.h"
#include "sandbox/sandbox.h"
#include "sandbox/state.h"
#include "tests/win/sandbox_tool.h"
#include "tests/win/test_support.h"
#include "tests/narrow.h"

namespace {

struct Row {
    std::wstring name, fullName;
    DWORD priv = 0, flags = 0, rid = 0, expired = 0;
};

std::vector<Row> ListAccounts(int* pages = nullptr)
{
    std::vector<Row> rows;
    DWORD resume = 0;
    NET_API_STATUS status;
    int count = 0;
    do {
        LPBYTE buffer = nullptr;
        DWORD read = 0, total = 0;
        status = machine::NetUserEnum(nullptr, 3, 0, &buffer, MAX_PREFERRED_LENGTH, &read, &total, &resume);
        if (status != NERR_Success && status != ERROR_MORE_DATA)
            break;
        ++count;
        auto* records = reinterpret_cast<USER_INFO_3*>(buffer);
        for (DWORD i = 0; i < read; ++i)
            rows.push_back({records[i].usri3_name, records[i].usri3_full_name, records[i].usri3_priv,
                            records[i].usri3_flags, records[i].usri3_user_id, records[i].usri3_password_expired});
        machine::NetApiBufferFree(buffer);
    } while (status == ERROR_MORE_DATA && count < 1000);
    if (pages != nullptr)
        *pages = count;
    return rows;
}

const Row* Find(const std::vector<Row>& rows, const wchar_t* name)
{
    auto found = std::find_if(rows.begin(), rows.end(), [&](const Row& r) { return _wcsicmp(r.name.c_str(), name) == 0; });
    return found != rows.end() ? &*found : nullptr;
}

bool Hidden(const std::wstring& name)
{
    BYTE sid[260];
    DWORD sidSize = sizeof(sid);
    wchar_t domain[260];
    DWORD domainLength = ARRAYSIZE(domain);
    SID_NAME_USE use;
    if (!machine::LookupAccountNameW(nullptr, name.c_str(), sid, &sidSize, domain, &domainLength, &use))
        return false;
    LSA_OBJECT_ATTRIBUTES attributes{};
    LSA_HANDLE policy = nullptr;
    if (machine::LsaOpenPolicy(nullptr, &attributes, 0x810, &policy) != 0)
        return false;
    PLSA_UNICODE_STRING rights = nullptr;
    ULONG count = 0;
    bool hidden = false;
    if (machine::LsaEnumerateAccountRights(policy, sid, &rights, &count) == 0) {
        for (ULONG i = 0; i < count; ++i)
            hidden |= std::wstring(rights[i].Buffer, rights[i].Length / 2) == L"SeDenyInteractiveLogonRight";
    }
    machine::LsaFreeMemory(rights);
    machine::LsaClose(policy);
    return hidden;
}

std::wstring PicturePath(const wchar_t* name)
{
    HMODULE shell = LoadLibraryW(L"Shell32.dll");
    auto getPicture = machine::AsFunction<machine::GetPictureExFunction>(
        machine::GetProcAddress(shell, MAKEINTRESOURCEA(machine::kGetPictureExOrdinal)));
    wchar_t path[1025] = L"";
    std::wstring result;
    if (getPicture != nullptr && getPicture(name, 0, nullptr, path, 1024, nullptr, 0) == S_OK)
        result = path;
    FreeLibrary(shell);
    return result;
}

class Sandbox : public ::testing::Test {
protected:
    void SetUp() override { Reset(L"default"); }

    static void Reset(const wchar_t* scenario)
    {
        std::wstring error;
        ASSERT_TRUE(sandbox::ResetMachine(sandbox::ScenarioPath(scenario), &error)) << Narrow(error);
    }

    static void ResetTo(const std::wstring& path)
    {
        std::wstring error;
        ASSERT_TRUE(sandbox::ResetMachine(path, &error)) << Narrow(error);
    }
};

}  // namespace

TEST_F(Sandbox, DefaultScenarioHoldsEveryAccountStateTheListShows)
{
    std::vector<Row> rows = ListAccounts();
    struct Builtin {
        const wchar_t* name;
        DWORD rid;
    } builtins[] = {{L"Administrator", 500}, {L"Guest", 501}, {L"DefaultAccount", 503}, {L"WDAGUtilityAccount", 504}};
    for (const Builtin& b : builtins) {
        const Row* row = Find(rows, b.name);
        ASSERT_NE(nullptr, row) << Narrow(b.name);
        EXPECT_EQ(b.rid, row->rid);
        EXPECT_TRUE(row->flags & UF_ACCOUNTDISABLE) << Narrow(b.name) << " is disabled out of the box";
    }
    auto count = [&](auto predicate) { return std::count_if(rows.begin(), rows.end(), predicate); };
    auto person = [](const Row& r) { return r.rid >= 1000; };
    EXPECT_GE(count(person), 7) << "the console user and six or more people";
    EXPECT_GE(count([&](const Row& r) { return person(r) && r.fullName.empty(); }), 1);
    EXPECT_GE(count([&](const Row& r) { return person(r) && !r.fullName.empty(); }), 1);
    for (DWORD priv : {USER_PRIV_GUEST, USER_PRIV_USER, USER_PRIV_ADMIN})
        EXPECT_GE(count([&](const Row& r) { return person(r) && r.priv == priv; }), 1) << "type " << priv;
    for (DWORD flag : {UF_ACCOUNTDISABLE, UF_LOCKOUT, UF_DONT_EXPIRE_PASSWD, UF_PASSWORD_EXPIRED})
        EXPECT_GE(count([&](const Row& r) { return person(r) && (r.flags & flag); }), 1) << "flag " << flag;
    EXPECT_GE(count([&](const Row& r) { return person(r) && r.expired != 0; }), 1);
    EXPECT_GE(count([&](const Row& r) { return person(r) && Hidden(r.name); }), 1);

    // With and without a password: only an account without one signs in with "".
    int withPassword = 0, without = 0;
    for (const Row& r : rows) {
        if (!person(r) || (r.flags & (UF_ACCOUNTDISABLE | UF_LOCKOUT)) || r.expired || Hidden(r.name))
            continue;
        HANDLE token = nullptr;
        if (machine::LogonUserW(r.name.c_str(), nullptr, L"", LOGON32_LOGON_INTERACTIVE, LOGON32_PROVIDER_DEFAULT,
                                &token)) {
            ++without;
            CloseHandle(token);
        } else if (GetLastError() == ERROR_LOGON_FAILURE) {
            ++withPassword;
        }
    }
    EXPECT_GE(withPassword, 1);
    EXPECT_GE(without, 1);

    int pictures = 0;
    for (const Row& r : rows) {
        std::wstring picture = PicturePath(r.name.c_str());
        if (!picture.empty()) {
            EXPECT_NE(INVALID_FILE_ATTRIBUTES, GetFileAttributesW(picture.c_str())) << Narrow(picture);
            ++pictures;
        }
    }
    EXPECT_GE(pictures, 2);
}

TEST_F(Sandbox, EnumerationPagesAtTheMachinesPageSize)
{
    Reset(L"many-accounts");
    int pages = 0;
    std::vector<Row> rows = ListAccounts(&pages);
    EXPECT_EQ(323u, rows.size()) << "two built-in accounts, the technician and 320 pupils";
    EXPECT_EQ(4, pages) << "pages of 100";

    sandbox::SetNetUserEnumPageSize(7);
    rows = ListAccounts(&pages);
    EXPECT_EQ(323u, rows.size());
    EXPECT_EQ(47, pages);

    // Every account has a picture file of its own.
    std::vector<std::wstring> seen;
    for (const Row& r : rows) {
        std::wstring picture = PicturePath(r.name.c_str());
        EXPECT_NE(INVALID_FILE_ATTRIBUTES, GetFileAttributesW(picture.c_str())) << Narrow(r.name);
        for (const std::wstring& other : seen)
            EXPECT_NE(other, picture);
        seen.push_back(picture);
    }
}

TEST_F(Sandbox, PasswordPolicyRefusesShortPasswords)
{
    ResetTo(WriteScenario(L"vantrell-policy.ini", "[Machine]\r\nMinimumPasswordLength=8\r\n"
                                                  "[Account alice]\r\nType=standard\r\nPassword=Alice-Long-1\r\n"));
    USER_INFO_1 info{};
    info.usri1_name = const_cast<LPWSTR>(L"bob");
    info.usri1_password = const_cast<LPWSTR>(L"short");
    info.usri1_priv = USER_PRIV_USER;
    info.usri1_flags = UF_SCRIPT;
    DWORD parameter = 0;
    EXPECT_EQ(static_cast<NET_API_STATUS>(NERR_PasswordTooShort),
              machine::NetUserAdd(nullptr, 1, reinterpret_cast<LPBYTE>(&info), &parameter));
    EXPECT_EQ(static_cast<DWORD>(USER_PASSWORD_PARMNUM), parameter);
    info.usri1_password = nullptr;
    EXPECT_EQ(static_cast<NET_API_STATUS>(NERR_PasswordTooShort),
              machine::NetUserAdd(nullptr, 1, reinterpret_cast<LPBYTE>(&info), nullptr))
        << "no password is a short one";

    EXPECT_EQ(static_cast<NET_API_STATUS>(NERR_PasswordTooShort),
              machine::NetUserChangePassword(nullptr, L"alice", L"Alice-Long-1", L"tiny"));
    USER_INFO_1003 empty{const_cast<LPWSTR>(L"")};
    EXPECT_EQ(static_cast<NET_API_STATUS>(NERR_PasswordTooShort),
              machine::NetUserSetInfo(nullptr, L"alice", 1003, reinterpret_cast<LPBYTE>(&empty), &parameter));
    EXPECT_EQ(static_cast<NET_API_STATUS>(NERR_Success),
              machine::NetUserChangePassword(nullptr, L"alice", L"Alice-Long-1", L"Alice-Longer-2"));
}

TEST_F(Sandbox, ScenarioSwitchesReachTheFailurePaths)
{
    ResetTo(WriteScenario(L"vantrell-failing.ini",
                          "[Machine]\r\nProfileService=no\r\nSecurityPolicy=no\r\nConsoleUser=none\r\nElevated=no\r\n"
                          "[Account carol]\r\nType=standard\r\nUnreadable=yes\r\n"));
    HMODULE userenv = LoadLibraryW(L"Userenv.dll");
    EXPECT_EQ(nullptr, machine::GetProcAddress(userenv, "CreateProfile"));
    FreeLibrary(userenv);

    LSA_OBJECT_ATTRIBUTES attributes{};
    LSA_HANDLE policy = nullptr;
    EXPECT_NE(0, machine::LsaOpenPolicy(nullptr, &attributes, POLICY_CREATE_SECRET, &policy));
    EXPECT_EQ(0xFFFFFFFFu, machine::WTSGetActiveConsoleSessionId());

    LPBYTE buffer = nullptr;
    EXPECT_EQ(static_cast<NET_API_STATUS>(ERROR_ACCESS_DENIED), machine::NetUserGetInfo(nullptr, L"carol", 3, &buffer));
    EXPECT_NE(nullptr, Find(ListAccounts(), L"carol")) << "an unreadable account is still listed";

    BYTE admins[SECURITY_MAX_SID_SIZE];
    DWORD size = sizeof(admins);
    CreateWellKnownSid(WinBuiltinAdministratorsSid, nullptr, admins, &size);
    BOOL member = TRUE;
    EXPECT_TRUE(machine::CheckTokenMembership(nullptr, admins, &member));
    EXPECT_FALSE(member);

    ResetTo(WriteScenario(L"vantrell-console.ini", "[Machine]\r\nConsoleUser=dave\r\n[Account dave]\r\nType=standard\r\n"));
    LPWSTR user = nullptr;
    DWORD bytes = 0;
    ASSERT_TRUE(machine::WTSQuerySessionInformationW(WTS_CURRENT_SERVER_HANDLE, machine::WTSGetActiveConsoleSessionId(),
                                                     WTSUserName, &user, &bytes));
    EXPECT_EQ(L"dave", std::wstring(user));
    machine::WTSFreeMemory(user);
}

// A forced failure answers exactly as asked, only for its own call, and
// ends with the switch or the next reset.
TEST_F(Sandbox, ForcedCallFailuresLastUntilClearedOrReset)
{
    ResetTo(WriteScenario(L"vantrell-forced.ini", "[Account erin]\r\nType=standard\r\n"));
    BYTE sid[SECURITY_MAX_SID_SIZE];
    DWORD sidSize = sizeof(sid);
    wchar_t domain[256];
    DWORD domainLength = 256;
    SID_NAME_USE use;
    ASSERT_TRUE(machine::LookupAccountNameW(nullptr, L"erin", sid, &sidSize, domain, &domainLength, &use));
    LSA_OBJECT_ATTRIBUTES attributes{};
    LSA_HANDLE policy = nullptr;
    ASSERT_EQ(0, machine::LsaOpenPolicy(nullptr, &attributes, POLICY_CREATE_SECRET | POLICY_LOOKUP_NAMES, &policy));
    LSA_UNICODE_STRING name = machine::CountedText(L"DefaultPassword");
    LSA_UNICODE_STRING data = machine::CountedText(L"secret");
    auto rights = [&] {
        PLSA_UNICODE_STRING list = nullptr;
        ULONG count = 0;
        NTSTATUS status = machine::LsaEnumerateAccountRights(policy, sid, &list, &count);
        machine::LsaFreeMemory(list);
        return status;
    };
    const NTSTATUS normalRights = rights();

    sandbox::SetCallFailure(L"LsaStorePrivateData", 0xC0000022);
    EXPECT_EQ(static_cast<NTSTATUS>(0xC0000022), machine::LsaStorePrivateData(policy, &name, &data));
    EXPECT_EQ(normalRights, rights()) << "another call is not touched";
    sandbox::SetCallFailure(L"LsaEnumerateAccountRights", 0xC000009A);
    EXPECT_EQ(static_cast<NTSTATUS>(0xC000009A), rights());
    sandbox::SetCallFailure(L"LsaStorePrivateData", 0);
    EXPECT_EQ(0, machine::LsaStorePrivateData(policy, &name, &data));
    machine::LsaClose(policy);

    ResetTo(WriteScenario(L"vantrell-forced.ini", "[Account erin]\r\nType=standard\r\n"));
    ASSERT_EQ(0, machine::LsaOpenPolicy(nullptr, &attributes, POLICY_LOOKUP_NAMES, &policy));
    EXPECT_EQ(normalRights, rights()) << "a reset clears every forced failure";
    machine::LsaClose(policy);
}

TEST_F(Sandbox, BrokenScenariosLeaveTheMachineAsItWas)
{
    size_t before = ListAccounts().size();
    const char* broken[] = {
        "[Machine]\r\nElevated=perhaps\r\n",
        "[Machine]\r\nNoSuchSetting=1\r\n",
        "[Account erin]\r\nType=superuser\r\n",
        "[Account erin]\r\nRid=1500\r\n[Account ERIN]\r\nRid=1501\r\n",
        "[Somewhere]\r\nA=1\r\n",
    };
    for (const char* text : broken) {
        std::wstring error;
        EXPECT_FALSE(sandbox::ResetMachine(WriteScenario(L"vantrell-broken.ini", text), &error)) << text;
        EXPECT_FALSE(error.empty()) << text;
        EXPECT_EQ(before, ListAccounts().size()) << text;
    }
    std::wstring error;
    EXPECT_FALSE(sandbox::ResetMachine(TempFile(L"vantrell-no-such-scenario.ini"), &error));
}

TEST_F(Sandbox, SessionEndPolicyAndPagesAreRecordedNotPerformed)
{
    sandbox::ClearRecord();
    EXPECT_TRUE(machine::ExitWindowsEx(EWX_REBOOT | EWX_FORCEIFHUNG, 0));
    EXPECT_TRUE(machine::AbortSystemShutdownW(nullptr));
    EXPECT_TRUE(machine::RefreshPolicyEx(TRUE, RP_FORCE));
    SHELLEXECUTEINFOW page{};
    page.cbSize = sizeof(page);
    page.fMask = SEE_MASK_NOCLOSEPROCESS;
    page.lpFile = L"https://www.example.com/help/";
    page.nShow = SW_SHOW;
    EXPECT_TRUE(machine::ShellExecuteExW(&page));
    EXPECT_EQ(nullptr, page.hProcess);
    // A machine without a browser refuses web addresses, and nothing opens.
    sandbox::SetWebBrowser(false);
    EXPECT_FALSE(machine::ShellExecuteExW(&page));
    EXPECT_EQ(static_cast<DWORD>(ERROR_NO_ASSOCIATION), GetLastError());
    EXPECT_EQ(SE_ERR_NOASSOC, static_cast<int>(reinterpret_cast<INT_PTR>(page.hInstApp)));
    sandbox::SetWebBrowser(true);

    // The shutdown block reasons are recorded too: the personal-folder tests
    // read them from there.
    std::vector<sandbox::RecordedAction> actions = sandbox::RecordedActions();
    ASSERT_EQ(4u, actions.size());
    EXPECT_EQ(L"ExitWindowsEx", actions[0].call);
    EXPECT_EQ(L"18", actions[0].details[L"flags"]);
    EXPECT_EQ(L"AbortSystemShutdownW", actions[1].call);
    EXPECT_EQ(L"RefreshPolicyEx", actions[2].call);
    EXPECT_EQ(L"1", actions[2].details[L"machine"]);
    EXPECT_EQ(L"ShellExecuteExW", actions[3].call);
    EXPECT_EQ(L"https://www.example.com/help/", actions[3].details[L"file"]);
    EXPECT_EQ(L"", actions[3].details[L"verb"]);
    EXPECT_EQ(L"5", actions[3].details[L"show"]);
}

TEST_F(Sandbox, ShellPictureSetterActsOnTheSimulation)
{
    // One ordinal takes a file as the picture; two others give it back.
    std::wstring before = PicturePath(L"lchen");
    EXPECT_TRUE(before.empty()) << "lchen has no picture in the default scenario";
    std::wstring handOver = TempFile(L"vantrell-picture.bmp");
    ASSERT_NE(L"", PicturePath(L"mhartley"));
    ASSERT_TRUE(CopyFileW(PicturePath(L"mhartley").c_str(), handOver.c_str(), FALSE));
    HMODULE shell = LoadLibraryW(L"Shell32.dll");
    auto setPicture = machine::AsFunction<machine::SetPictureFunction>(
        machine::GetProcAddress(shell, MAKEINTRESOURCEA(machine::kSetPictureOrdinal)));
    auto getPicture = machine::AsFunction<machine::GetPictureFunction>(
        machine::GetProcAddress(shell, MAKEINTRESOURCEA(machine::kGetPictureOrdinal)));
    ASSERT_NE(nullptr, setPicture);
    ASSERT_NE(nullptr, getPicture);
    EXPECT_EQ(S_OK, setPicture(L"lchen", 0, handOver.c_str()));
    wchar_t legacy[MAX_PATH] = L"";
    EXPECT_EQ(S_OK, getPicture(L"lchen", 0, legacy));
    EXPECT_EQ(PicturePath(L"lchen"), std::wstring(legacy));
    EXPECT_NE(INVALID_FILE_ATTRIBUTES, GetFileAttributesW(legacy));
    EXPECT_NE(S_OK, setPicture(L"nobody", 0, handOver.c_str()));
    FreeLibrary(shell);
    // The folder setters are the machine contract's (tests/contract).
}

TEST_F(Sandbox, StateSurvivesIntoAnotherProcess)
{
    USER_INFO_1 info{};
    info.usri1_name = const_cast<LPWSTR>(L"frank");
    info.usri1_priv = USER_PRIV_USER;
    info.usri1_flags = UF_SCRIPT;
    ASSERT_EQ(static_cast<NET_API_STATUS>(NERR_Success),
              machine::NetUserAdd(nullptr, 1, reinterpret_cast<LPBYTE>(&info), nullptr));

    // The sandbox tool, a process of its own, lists the new account.
    ToolRun run = RunSandboxTool(L"show");
    ASSERT_TRUE(run.started) << GetLastError();
    EXPECT_EQ(0u, run.exitCode);
    const std::string& text = run.output;
    EXPECT_NE(std::string::npos, text.find("frank")) << text;
    EXPECT_NE(std::string::npos, text.find("default.ini")) << text;
}

TEST_F(Sandbox, NoPasswordIsKeptInPlainText)
{
    Reset(L"auto-logon");
    // Every name and value under the sandbox's key and the sign-in settings, read raw.
    std::vector<std::wstring> strings;
    for (const wchar_t* path : {sandbox::kStateKey, L"SOFTWARE\\Microsoft\\Windows NT\\CurrentVersion\\Winlogon"}) {
        HKEY key = nullptr;
        ASSERT_EQ(ERROR_SUCCESS, RegOpenKeyExW(HKEY_LOCAL_MACHINE, path, 0, KEY_READ, &key)) << Narrow(path);
        CollectRegistryStrings(key, strings);
        RegCloseKey(key);
    }
    EXPECT_GT(strings.size(), 100u);
    for (const std::wstring& text : strings) {
        for (const wchar_t* password : {L"Okafor-Spring", L"Hartley#1", L"Manager-2026"})
            EXPECT_EQ(std::wstring::npos, text.find(password)) << Narrow(text);
    }

    // Yet the secret reads back through the security authority.
    LSA_OBJECT_ATTRIBUTES attributes{};
    LSA_HANDLE policy = nullptr;
    ASSERT_EQ(0, machine::LsaOpenPolicy(nullptr, &attributes, POLICY_CREATE_SECRET, &policy));
    LSA_UNICODE_STRING key{30, 32, const_cast<PWSTR>(L"DefaultPassword")};
    PLSA_UNICODE_STRING secret = nullptr;
    ASSERT_EQ(0, machine::LsaRetrievePrivateData(policy, &key, &secret));
    EXPECT_EQ(L"Okafor-Spring", std::wstring(secret->Buffer, secret->Length / sizeof(wchar_t)));
    machine::LsaFreeMemory(secret);
    machine::LsaClose(policy);
}

TEST_F(Sandbox, CorruptedProfileScenarioLeavesABackedUpPair)
{
    Reset(L"corrupted-profile");
    sandbox::Account account;
    ASSERT_TRUE(sandbox::FindAccount(L"skowalski", &account));
    const std::wstring current = L"SOFTWARE\\Microsoft\\Windows NT\\CurrentVersion\\ProfileList\\" +
                                 sandbox::AccountSid(account.rid);
    const std::wstring backup = current + L".bak";
    EXPECT_TRUE(PathExists(RegText(HKEY_LOCAL_MACHINE, backup, L"ProfileImagePath") + L"\\NTUSER.DAT"));
    const std::wstring temp = RegText(HKEY_LOCAL_MACHINE, current, L"ProfileImagePath");
    EXPECT_EQ(L"\\TEMP", temp.substr(temp.size() - 5)) << Narrow(temp);

    // A reset removes the pair and the profiles the scenario made.
    Reset(L"default");
    EXPECT_FALSE(KeyOpens(HKEY_LOCAL_MACHINE, backup));
}

TEST_F(Sandbox, AResetTakesThePictureSetsOfItsOwnAccountsOnly)
{
    // One set for an account of the machine, one for an account of another
    // machine's domain: a key naming the picture and the folder holding it.
    sandbox::Account lchen;
    ASSERT_TRUE(sandbox::FindAccount(L"lchen", &lchen));
    const std::wstring own = sandbox::AccountSid(lchen.rid), other = L"S-1-5-21-9-9-9-" + std::to_wstring(lchen.rid);
    const std::wstring keys = L"SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\AccountPicture\\Users\\";
    wchar_t publicFolder[MAX_PATH] = L"";
    ASSERT_NE(0u, GetEnvironmentVariableW(L"PUBLIC", publicFolder, MAX_PATH));
    const std::wstring folders = std::wstring(publicFolder) + L"\\AccountPictures\\";
    CreateDirectoryW(folders.c_str(), nullptr);
    for (const std::wstring& set : {own, other}) {
        const std::wstring picture = folders + set + L"\\Image96.jpg";
        CreateDirectoryW((folders + set).c_str(), nullptr);
        ASSERT_TRUE(WriteTextFile(picture, "picture")) << Narrow(picture);
        ASSERT_EQ(ERROR_SUCCESS, RegWrite(HKEY_LOCAL_MACHINE, keys + set, L"Image96", picture));
    }

    Reset(L"default");
    EXPECT_FALSE(KeyOpens(HKEY_LOCAL_MACHINE, keys + own));
    EXPECT_FALSE(PathExists(folders + own));
    EXPECT_TRUE(KeyOpens(HKEY_LOCAL_MACHINE, keys + other));
    EXPECT_TRUE(PathExists(folders + other + L"\\Image96.jpg"));
    WipeKey(HKEY_LOCAL_MACHINE, keys + other);
    DeleteFileW((folders + other + L"\\Image96.jpg").c_str());
    RemoveDirectoryW((folders + other).c_str());
}
