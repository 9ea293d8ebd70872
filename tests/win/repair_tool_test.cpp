// The repair tool's entry, state file, settings, shortcuts, tool folder and
// clean-up on the simulated machine and Wine's real files and registry.
#include <gtest/gtest.h>

#include <windows.h>
#include <aclapi.h>
#include <sddl.h>
#include <lm.h>
#include <shlguid.h>
#include <shobjidl.h>

#include <set>
#include <string>

#include "accounts/lookup.h"
#include "accounts/passwords.h"
#include "platform/security.h"
#include "repair/cleanup.h"
#include "repair/repair_log.h"
#include "repair/logon_backup.h"
#include "repair/repair_settings.h"
#include "repair/repair_tool.h"
#include "repair/state_file.h"
#include "repair/temp_account.h"
#include "repair/tool_folder.h"
#include "tests/win/repair_test_support.h"
#include "tests/win/screen_capture.h"
#include "ui/drawing.h"

using namespace repair_test;

namespace {

// ---------------------------------------------------------------------------
// State file

TEST(StateFile, CreatedAfreshWithTheMarkAndReadBackChecked)
{
    const std::wstring path = TestFolder(L"state-file") + L"\\Brenwick.ini";
    std::ofstream(std::filesystem::path(path), std::ios::binary) << "[old]\r\nUserPriv=1\r\n";
    ASSERT_TRUE(CreateStateFile(path.c_str()));
    EXPECT_EQ("\xEF\xBB\xBF", ReadBytes(path)) << "an older file is truncated";

    EXPECT_TRUE(WriteStateNumber(path.c_str(), L"mhartley", L"UserPriv", 2));
    EXPECT_TRUE(WriteStateNumber(path.c_str(), L"mhartley", L"UACState", 0xFFFFFFFF));
    EXPECT_TRUE(WriteStateText(path.c_str(), L"mhartley", L"FullName", L"Maria Hartley"));
    EXPECT_TRUE(WriteStateNumber(path.c_str(), L"mhartley", L"AADState", 4321));

    EXPECT_EQ(std::wstring(L"Maria Hartley"), std::wstring(ReadStateText(path.c_str(), L"mhartley", L"FullName").Text()));
    EXPECT_EQ(std::wstring(L"4294967295"), std::wstring(ReadStateText(path.c_str(), L"mhartley", L"UACState").Text()));
    struct { SavedValueKind kind; bool present; bool valid; uint32_t value; } const cases[] = {
        {SavedValueKind::UserPriv, true, true, 2},
        {SavedValueKind::UacState, true, true, 0xFFFFFFFF},   // none at set-up: deleted again
        {SavedValueKind::AadState, true, true, 4321},
        {SavedValueKind::LuaState, false, false, 0},
    };
    for (const auto& c : cases) {
        SavedValue saved = ReadStateValue(path.c_str(), L"mhartley", c.kind);
        EXPECT_EQ(c.present, saved.present) << Narrow(SavedValueKey(c.kind));
        EXPECT_EQ(c.valid, saved.valid) << Narrow(SavedValueKey(c.kind));
        EXPECT_EQ(c.value, saved.value) << Narrow(SavedValueKey(c.kind));
    }
    EXPECT_FALSE(ReadStateValue(path.c_str(), L"other", SavedValueKind::UserPriv).present);
}

// ---------------------------------------------------------------------------
// UAC policy values

TEST(UacState, ReadsAndWritesThePolicyValues)
{
    ASSERT_TRUE(sandbox::ResetMachine(sandbox::ScenarioPath(L"default")));
    sandbox::ClearRecord();
    RegDeleteKeyExW(HKEY_LOCAL_MACHINE, kUacKey, KEY_WOW64_64KEY, 0);

    DWORD lua = 77;
    EXPECT_EQ(-1, GetUacState(&lua));
    EXPECT_EQ(77u, lua) << "left alone when the key cannot be opened";

    SetMachineDword(kUacKey, L"EnableLUA", 1);
    EXPECT_EQ(-1, GetUacState(&lua)) << "no consent value";
    EXPECT_EQ(1u, lua);
    SetMachineDword(kUacKey, L"ConsentPromptBehaviorAdmin", 5);
    DeleteMachineValue(kUacKey, L"EnableLUA");
    EXPECT_EQ(5, GetUacState(&lua));
    EXPECT_EQ(0u, lua) << "absent EnableLUA reads 0";
    EXPECT_EQ(5, GetUacState(nullptr));

    EXPECT_TRUE(SetUacState(0, 1));
    EXPECT_EQ(L"0", MachineValue(kUacKey, L"ConsentPromptBehaviorAdmin"));
    EXPECT_EQ(L"3", MachineValue(kUacKey, L"ConsentPromptBehaviorUser"));
    EXPECT_EQ(L"1", MachineValue(kUacKey, L"EnableLUA"));
    auto refreshes = Recorded(L"RefreshPolicyEx");
    ASSERT_EQ(2u, refreshes.size());
    EXPECT_EQ(L"1", refreshes[0].details[L"machine"]);
    EXPECT_EQ(L"0", refreshes[1].details[L"machine"]);
    EXPECT_EQ(std::to_wstring(RP_FORCE), refreshes[0].details[L"options"]);

    RegDeleteKeyExW(HKEY_LOCAL_MACHINE, kUacKey, KEY_WOW64_64KEY, 0);
    EXPECT_TRUE(SetUacState(2, 0)) << "the key is created";
    EXPECT_EQ(L"2", MachineValue(kUacKey, L"ConsentPromptBehaviorAdmin"));
}

// ---------------------------------------------------------------------------
// Shell links

TEST(CreateShortcut, WritesAResolvableLinkWithEveryField)
{
    const std::wstring folder = TestFolder(L"shortcut");
    const std::wstring target = folder + L"\\tool\\Brenwick.exe";
    std::filesystem::create_directories(folder + L"\\tool");
    std::ofstream(std::filesystem::path(target)) << "x";
    const std::wstring link = folder + L"\\Fix mhartley account profile.lnk";
    ASSERT_TRUE(CreateShortcut(link.c_str(), target.c_str(), L" /brenwick /fixuser \"mhartley\" /fixflag=3",
                               L"This action repairs the account profile for the \"mhartley\" user."));
    EXPECT_EQ(Show(target + L" |  /brenwick /fixuser \"mhartley\" /fixflag=3 | " + folder +
                   L"\\tool | This action repairs the account profile for the \"mhartley\" user."),
              Show(ReadLink(link)));

    EXPECT_FALSE(CreateShortcut((folder + L"\\missing\\x.lnk").c_str(), target.c_str(), L"", L""));
    EXPECT_FALSE(std::filesystem::exists(std::filesystem::path(folder + L"\\missing")));
    EXPECT_FALSE(CreateShortcut(nullptr, target.c_str(), L"", L""));
}

// ---------------------------------------------------------------------------
// The tool folder

// SYSTEM and the administrators own the folder; the users may read and run.
const std::vector<Ace> kToolFolderAces = {
    {L"S-1-5-18", GENERIC_ALL, OBJECT_INHERIT_ACE | CONTAINER_INHERIT_ACE},
    {L"S-1-5-32-544", GENERIC_ALL, OBJECT_INHERIT_ACE | CONTAINER_INHERIT_ACE},
    {L"S-1-5-32-545", GENERIC_READ | GENERIC_EXECUTE, OBJECT_INHERIT_ACE | CONTAINER_INHERIT_ACE},
};

TEST(ToolFolder, DaclGivesOnlySystemAndAdministratorsWriteAccess)
{
    LocalAcl dacl;
    ASSERT_TRUE(BuildToolFolderDacl(dacl));
    EXPECT_EQ(kToolFolderAces, Aces(dacl.Get()));
    ACL_SIZE_INFORMATION size{};
    ASSERT_TRUE(GetAclInformation(dacl.Get(), &size, sizeof size, AclSizeInformation));
    EXPECT_EQ(kToolFolderAces.size(), size.AceCount) << "no entry of another kind";
}

// Wine reads back every file's owner as the signed-in user, never SYSTEM or
// the Administrators: a folder found in place is never reused here (that
// decision is MayReuseToolFolder's, tested in the core), and what shows is
// that a planted folder goes aside whole and a new one takes its place.
TEST(ToolFolder, APlantedFolderGoesAsideWholeAndANewOneIsMade_WineShowsNoTrustedOwner)
{
    const std::wstring root = TestFolder(L"tool-folder");
    const std::wstring folder = root + L"\\Brenwick";
    std::filesystem::create_directories(folder + L"\\planted\\deeper");
    for (const wchar_t* file : {L"\\Brenwick.exe", L"\\Brenwick.ini", L"\\x.dll", L"\\planted\\deeper\\y.dll"})
        std::ofstream(std::filesystem::path(folder + file)) << "planted";
    EXPECT_EQ(ToolFolderResult::Ready, PrepareToolFolder(folder.c_str()));
    EXPECT_TRUE(std::filesystem::is_directory(std::filesystem::path(folder)));
    EXPECT_TRUE(std::filesystem::is_empty(std::filesystem::path(folder))) << "nothing planted is taken over";
    const std::wstring aside = root + L"\\Brenwick.old-1";
    for (const wchar_t* file : {L"\\Brenwick.exe", L"\\x.dll", L"\\planted\\deeper\\y.dll"})
        EXPECT_EQ("planted", ReadBytes(aside + file)) << "moved aside as it was: " << Narrow(file);

    const std::wstring fresh = root + L"\\made\\Brenwick";
    EXPECT_EQ(ToolFolderResult::Ready, PrepareToolFolder(fresh.c_str()));
    EXPECT_TRUE(std::filesystem::is_directory(std::filesystem::path(fresh)));
    EXPECT_FALSE(std::filesystem::exists(std::filesystem::path(fresh + L".old-1"))) << "a new folder is not moved";

    const std::wstring file = root + L"\\AFile";
    std::ofstream(std::filesystem::path(file)) << "in the way";
    EXPECT_EQ(ToolFolderResult::NotAFolder, PrepareToolFolder(file.c_str()));
    EXPECT_EQ("in the way", ReadBytes(file));
    EXPECT_FALSE(SecureToolPath((root + L"\\missing").c_str()));
    EXPECT_FALSE(SecureToolPath(L""));

    // Every refusal tells the operator its own story.
    std::set<std::wstring> messages;
    for (ToolFolderResult result : {ToolFolderResult::NotAFolder, ToolFolderResult::IsLink, ToolFolderResult::Failed,
                                    ToolFolderResult::NotOurs, ToolFolderResult::CopyFailed,
                                    ToolFolderResult::CopyDiffers}) {
        std::wstring message = ToolFolderMessage(result);
        EXPECT_FALSE(message.empty());
        EXPECT_TRUE(messages.insert(message).second) << Narrow(message);
    }
}

TEST(ToolFolder, TheProgramIsCopiedAsANewFileAndComparedWithTheRunningOne)
{
    const std::wstring root = TestFolder(L"tool-copy");
    const std::wstring folder = root + L"\\Brenwick";
    ASSERT_EQ(ToolFolderResult::Ready, PrepareToolFolder(folder.c_str()));
    wchar_t module[2048] = L"";
    ASSERT_NE(0u, GetModuleFileNameW(nullptr, module, 2048));
    const std::wstring copy = folder + L"\\Brenwick.exe";
    std::ofstream(std::filesystem::path(copy)) << "an earlier copy";
    EXPECT_EQ(ToolFolderResult::Ready, CopyToolExecutable(module, copy.c_str()));
    EXPECT_TRUE(SameFileContents(module, copy.c_str()));
    EXPECT_EQ(ToolFolderResult::Ready, CopyToolExecutable(copy.c_str(), copy.c_str())) << "started from the copy";
    EXPECT_TRUE(SameFileContents(module, copy.c_str()));
    EXPECT_EQ(ToolFolderResult::CopyFailed, CopyToolExecutable((root + L"\\missing.exe").c_str(), copy.c_str()));
    EXPECT_EQ(ToolFolderResult::CopyFailed, CopyToolExecutable(module, L""));

    struct Case {
        const char* what;
        std::string original;
        std::string copy;
        bool same;
    } const cases[] = {
        {"equal", "MZ program", "MZ program", true},
        {"both empty", "", "", true},
        {"one byte differs", "MZ program", "MZ progrAm", false},
        {"shorter", "MZ program", "MZ progra", false},
        {"longer", "MZ program", "MZ program+dll", false},
    };
    const std::wstring a = root + L"\\a.bin", b = root + L"\\b.bin";
    for (const Case& c : cases) {
        std::ofstream(std::filesystem::path(a), std::ios::binary | std::ios::trunc) << c.original;
        std::ofstream(std::filesystem::path(b), std::ios::binary | std::ios::trunc) << c.copy;
        EXPECT_EQ(c.same, SameFileContents(a.c_str(), b.c_str())) << c.what;
    }
    EXPECT_FALSE(SameFileContents(a.c_str(), (root + L"\\missing.bin").c_str()));
    EXPECT_FALSE(SameFileContents(nullptr, a.c_str()));
}

// The links are made by the test fixture: Wine presents a Unix symbolic link
// to a folder as a directory reparse point.
TEST(ToolFolder, ALinkInItsPlaceIsRefusedAndLeftAlone)
{
    const std::wstring links = L"C:\\vantrell-links";
    const std::wstring link = links + L"\\tool-link";
    DWORD attributes = GetFileAttributesW(link.c_str());
    ASSERT_NE(INVALID_FILE_ATTRIBUTES, attributes) << "the fixture's link is missing";
    ASSERT_TRUE(attributes & FILE_ATTRIBUTE_REPARSE_POINT);
    EXPECT_FALSE(SecureToolPath(link.c_str())) << "a link is never re-permissioned";
    EXPECT_EQ(ToolFolderResult::IsLink, PrepareToolFolder(link.c_str()));
    EXPECT_EQ(attributes, GetFileAttributesW(link.c_str())) << "the link stays as it was";
    EXPECT_EQ("keep", ReadBytes(links + L"\\target\\keep.txt")) << "the link's target is untouched";
    EXPECT_EQ("keep", ReadBytes(link + L"\\keep.txt"));
}

// A folder found in place with a link inside is nobody's to take over: it
// goes aside whole, its link neither entered nor removed, and the folder is
// made afresh.
TEST(ToolFolder, AFolderHoldingALinkGoesAsideWithTheLinkNeverEntered)
{
    const std::wstring links = L"C:\\vantrell-links";
    const std::wstring inner = links + L"\\tool-tree";
    const DWORD linkAttributes = GetFileAttributesW((inner + L"\\link").c_str());
    ASSERT_NE(INVALID_FILE_ATTRIBUTES, linkAttributes) << "the fixture's link is missing";
    EXPECT_EQ(ToolFolderResult::Ready, PrepareToolFolder(inner.c_str()));
    EXPECT_TRUE(std::filesystem::is_empty(std::filesystem::path(inner)));
    const std::wstring aside = inner + L".old-1";
    EXPECT_EQ(linkAttributes, GetFileAttributesW((aside + L"\\link").c_str())) << "the link went along as it was";
    EXPECT_EQ("stays", ReadBytes(aside + L"\\sub\\file.txt"));
    EXPECT_EQ("keep", ReadBytes(links + L"\\target\\keep.txt"));
}

// ---------------------------------------------------------------------------
// The earlier automatic sign-in

class LogonBackup : public ::testing::Test {
protected:
    void SetUp() override
    {
        std::wstring error;
        ASSERT_TRUE(Load(L"repair-autologon.ini", Scenario("AutoLogon=jokafor\n"), &error)) << Narrow(error);
        state_ = TestFolder(L"logon-backup") + L"\\Brenwick.ini";
        CreateStateFile(state_.c_str());
    }
    std::wstring state_;
};

TEST_F(LogonBackup, NothingSavedLeavesItOffAndTheTemporaryAccountIsNeverSaved)
{
    SetAutoLogon(nullptr, nullptr);
    EXPECT_FALSE(SaveAutoLogon(state_.c_str(), L"mhartley"));
    SetAutoLogon(L"brenwick_temp_admin", L"Temp-Pass-123");
    EXPECT_FALSE(SaveAutoLogon(state_.c_str(), L"mhartley")) << "an unfinished repair's own sign-in";
    EXPECT_TRUE(ReadStateText(state_.c_str(), L"mhartley", kPrevLogonUserKey).IsEmpty());
    SetAutoLogon(nullptr, nullptr);
    EXPECT_EQ(LogonRestore::NoneSaved, RestoreAutoLogon(state_.c_str(), L"mhartley"));
    EXPECT_EQ(L"0", MachineValue(kWinlogonKey, L"AutoAdminLogon"));
}

TEST_F(LogonBackup, ImplausibleSavedValuesAreRefusedAndTheCopyStillGoes)
{
    struct { const wchar_t* user; const wchar_t* on; const wchar_t* domain; } const cases[] = {
        {L"a\\b", L"1", nullptr},   {L"jokafor", L"2", nullptr}, {L"brenwick_temp_admin", L"1", nullptr},
        {L"jokafor", L"1", L"X=Y"}, {nullptr, L"1", nullptr},
    };
    for (const auto& c : cases) {
        SetUp();
        ASSERT_TRUE(SaveAutoLogon(state_.c_str(), L"mhartley"));
        SetAutoLogon(nullptr, nullptr);
        WriteStateText(state_.c_str(), L"mhartley", kPrevLogonUserKey, c.user);
        WriteStateText(state_.c_str(), L"mhartley", kPrevAutoLogonKey, c.on);
        if (c.domain != nullptr)
            WriteStateText(state_.c_str(), L"mhartley", kPrevLogonDomainKey, c.domain);
        EXPECT_EQ(LogonRestore::Refused, RestoreAutoLogon(state_.c_str(), L"mhartley")) << Narrow(c.user ? c.user : L"");
        EXPECT_EQ(L"", MachineValue(kWinlogonKey, L"DefaultUserName"));
        EXPECT_EQ(L"0", MachineValue(kWinlogonKey, L"AutoAdminLogon"));
        bool found = true;
        Secret(kSavedLogonSecret, &found);
        EXPECT_FALSE(found);
    }
}

// ---------------------------------------------------------------------------
// The clean-up

const char kTempAccount[] =
    "\n[Account brenwick_temp_admin]\nFullName=Brenwick temp account\nType=administrator\n"
    "Password=Temp-Pass-123456\nProfile=yes\n";

struct CleanupCase {
    const char* what;
    const wchar_t* userPriv;   // null: the key is missing
    const wchar_t* uacState;
    const wchar_t* luaState;
    const wchar_t* aadState;
    DWORD privilege;           // mhartley's afterwards
    const wchar_t* consent;
    const wchar_t* lua;
    const wchar_t* autoDownload;
    size_t refreshes;          // SetUacState refreshes twice
    std::vector<const char*> logged;
};

class Cleanup : public ::testing::Test {
protected:
    void Prepare(const std::string& machine = "ConsoleUser=mhartley\n")
    {
        std::wstring error;
        ASSERT_TRUE(Load(L"repair-cleanup.ini", Scenario(machine, kTempAccount), &error)) << Narrow(error);
        folder_ = TestFolder(L"cleanup");
        log_ = folder_ + L"\\BrenwickLog.txt";
        state_ = folder_ + L"\\Brenwick.ini";
        SetMachineDword(kUacKey, L"ConsentPromptBehaviorAdmin", 0);
        SetMachineDword(kUacKey, L"EnableLUA", 1);
        SetMachineDword(kStoreKey, L"AutoDownload", 2);
        ASSERT_GT(WriteLogEntry(log_.c_str(), L"Repair operation sheduled. The computer will reboot now.", 3), 0);
        sandbox::ClearRecord();
    }
    // A state file that holds the account's type only.
    void NewState()
    {
        CreateStateFile(state_.c_str());
        WriteStateText(state_.c_str(), L"mhartley", L"UserPriv", L"2");
    }
    int Run()
    {
        CleanupInput input;
        input.consoleUserName = L"mhartley";
        input.osVersion = 10.0;
        input.toolFolder = folder_.c_str();
        input.logPath = log_.c_str();
        return RunCleanup(input);
    }
    std::wstring folder_, log_, state_;
};

TEST_F(Cleanup, RestoresOnlyValidSavedValues)
{
    const CleanupCase cases[] = {
        {"every value saved", L"1", L"5", L"1", L"4321", 1, L"5", L"1", L"(missing)", 2, {}},
        {"guest and a store value of 0", L"0", L"2", L"0", L"0", 0, L"2", L"0", L"0", 2, {}},
        {"equal values write nothing", L"2", L"0", L"1", L"2", 2, L"0", L"1", L"2", 0, {}},
        // Absent before the repair: absent again, never the repair's "no prompt".
        {"absent before", L"2", L"4294967295", L"4294967295", L"4321", 2, L"(missing)", L"(missing)", L"(missing)",
         2, {}},
        {"out of range", L"4294967295", L"6", L"7", L"4294967296", 2, L"0", L"1", L"2", 0,
         {"\"UserPriv\" is not valid", "\"UACState\" is not valid", "\"LUAState\" is not valid",
          "\"AADState\" is not valid"}},
        {"garbage", L"admin", L"-1", L"1x", L"", 2, L"0", L"1", L"2", 0,
         {"\"UserPriv\" is not valid", "\"UACState\" is not valid", "\"LUAState\" is not valid"}},
        {"missing", nullptr, nullptr, nullptr, nullptr, 2, L"0", L"1", L"2", 0,
         {"\"UserPriv\" is not valid", "No elevation prompt settings were saved"}},
    };
    for (const CleanupCase& c : cases) {
        Prepare();
        CreateStateFile(state_.c_str());
        WriteStateText(state_.c_str(), L"mhartley", L"FullName", L"Maria Hartley");
        const std::pair<const wchar_t*, const wchar_t*> keys[] = {
            {L"UserPriv", c.userPriv}, {L"UACState", c.uacState}, {L"LUAState", c.luaState}, {L"AADState", c.aadState}};
        for (const auto& key : keys)
            if (key.second != nullptr)
                WriteStateText(state_.c_str(), L"mhartley", key.first, key.second);

        EXPECT_EQ(-13, Run()) << c.what;
        DWORD privilege = 99;
        EXPECT_TRUE(AccountExists(L"mhartley", &privilege)) << c.what;
        EXPECT_EQ(c.privilege, privilege) << c.what;
        EXPECT_EQ(c.consent, MachineValue(kUacKey, L"ConsentPromptBehaviorAdmin")) << c.what;
        EXPECT_EQ(c.lua, MachineValue(kUacKey, L"EnableLUA")) << c.what;
        EXPECT_EQ(c.autoDownload, MachineValue(kStoreKey, L"AutoDownload")) << c.what;
        EXPECT_EQ(c.refreshes, Recorded(L"RefreshPolicyEx").size()) << c.what;
        std::string log = ReadBytes(log_);
        for (const char* part : c.logged)
            EXPECT_EQ(1u, Occurrences(log, part)) << c.what << ": " << part << " in " << log;
        if (c.logged.empty()) {
            EXPECT_EQ(0u, Occurrences(log, "is not valid")) << c.what << ": " << log;
        }
    }
}

// Also when an earlier clean-up recorded its SID and got as far as removing
// the account itself when the power failed: its folder and entry still go.
TEST_F(Cleanup, RemovesTheTemporaryAccountEndsAndOpensTheLog)
{
    for (bool cutAfterTheAccountWent : {false, true}) {
        SCOPED_TRACE(cutAfterTheAccountWent ? "an earlier clean-up removed the account" : "in one go");
        Prepare();
        NewState();
        WString sid, profile;
        ASSERT_TRUE(GetAccountSidAndProfile(L"brenwick_temp_admin", sid, &profile));
        ASSERT_TRUE(std::filesystem::is_directory(profile.Text()));
        SetAutoLogon(L"brenwick_temp_admin", L"Temp-Pass-123456");
        if (cutAfterTheAccountWent) {
            WriteStateText(state_.c_str(), L"mhartley", L"TempSid", sid.Text());
            ASSERT_EQ(static_cast<NET_API_STATUS>(NERR_Success), machine::NetUserDel(nullptr, L"brenwick_temp_admin"));
        }

        EXPECT_EQ(-13, Run());
        EXPECT_FALSE(AccountExists(L"brenwick_temp_admin"));
        EXPECT_FALSE(std::filesystem::exists(profile.Text())) << "its profile folder goes with it";
        WString left;
        EXPECT_FALSE(ReadProfileImagePath(sid.Text(), left)) << "and its profile-list entry";
        EXPECT_EQ(L"0", MachineValue(kWinlogonKey, L"AutoAdminLogon")) << "no earlier sign-in: it stays off";
        EXPECT_EQ(L"", MachineValue(kWinlogonKey, L"DefaultUserName"));
        std::string log = ReadBytes(log_);
        EXPECT_EQ(1u, Occurrences(log, ": Successfully deleted Brenwick's temp account."));
        EXPECT_EQ(1u, Occurrences(log, ": Repair operation complete.\r\n\r\n\t*** End of repair operation "));
        EXPECT_EQ(1u, Occurrences(log, "*** End of repair operation")) << log;
        EXPECT_EQ(log.size() - 4, log.rfind(" ***")) << "the end line closes the log";
        auto opened = Recorded(L"ShellExecuteExW");
        ASSERT_EQ(1u, opened.size());
        EXPECT_EQ(log_, opened[0].details[L"file"]);
        EXPECT_EQ(folder_, opened[0].details[L"directory"]);
        EXPECT_EQ(L"5", opened[0].details[L"show"]);

        // Run by hand a second time: the deletion fails and says so.
        EXPECT_EQ(-13, Run());
        log = ReadBytes(log_);
        EXPECT_EQ(1u, Occurrences(log, ": Failed to delete Brenwick's temp account."));
        EXPECT_EQ(2u, Occurrences(log, "*** End of repair operation"));
    }
}

TEST_F(Cleanup, PutsTheEarlierAutomaticSignInBack)
{
    Prepare("ConsoleUser=mhartley\nAutoLogon=jokafor\n");
    NewState();
    ASSERT_TRUE(SaveAutoLogon(state_.c_str(), L"mhartley"));
    // The password is kept in the tool's secret only.
    EXPECT_EQ(L"jokafor", std::wstring(ReadStateText(state_.c_str(), L"mhartley", kPrevLogonUserKey).Text()));
    EXPECT_EQ(L"1", std::wstring(ReadStateText(state_.c_str(), L"mhartley", kPrevAutoLogonKey).Text()));
    EXPECT_EQ(std::string::npos, ReadBytes(state_).find("Okafor-Spring")) << "no password in the file";
    bool saved = false;
    EXPECT_EQ(L"Okafor-Spring", Secret(kSavedLogonSecret, &saved));
    SetAutoLogon(L"brenwick_temp_admin", L"Temp-Pass-123456");
    SetAutoLogon(L"mhartley", L"");   // what the fix run leaves

    // A second run (a shortcut that could not be removed, a run by hand)
    // leaves the sign-in it put back as it is.
    for (int run = 1; run <= 2; ++run) {
        EXPECT_EQ(-13, Run());
        EXPECT_EQ(L"jokafor", MachineValue(kWinlogonKey, L"DefaultUserName")) << "run " << run;
        EXPECT_EQ(L"1", MachineValue(kWinlogonKey, L"AutoAdminLogon")) << "run " << run;
        bool found = false;
        EXPECT_EQ(L"Okafor-Spring", Secret(L"DefaultPassword", &found)) << "run " << run;
        Secret(kSavedLogonSecret, &found);
        EXPECT_FALSE(found) << "the copy is deleted";
        EXPECT_TRUE(IsAutoLogonAccount(L"jokafor"));
    }
    EXPECT_EQ(1u, Occurrences(ReadBytes(log_), "Restored the earlier automatic sign-in."));

    // Nor does a clean-up clear a sign-in the repair did not set.
    NewState();
    EXPECT_EQ(-13, Run());
    EXPECT_EQ(L"jokafor", MachineValue(kWinlogonKey, L"DefaultUserName"));
    EXPECT_EQ(L"1", MachineValue(kWinlogonKey, L"AutoAdminLogon"));
    bool found = false;
    EXPECT_EQ(L"Okafor-Spring", Secret(L"DefaultPassword", &found));
}

// ---------------------------------------------------------------------------
// The entry

class RepairEntry : public ::testing::Test {
protected:
    static void SetUpTestSuite() { StartGdiplusForTests(); }
    void Use(const std::string& machine, const std::string& extra = "")
    {
        std::wstring error;
        ASSERT_TRUE(Load(L"repair-entry.ini", Scenario(machine, extra), &error)) << Narrow(error);
    }
};

// The process entry relaunches the tool elevated, once (its own marker);
// the tool started without elevation all the same starts nothing itself.
TEST_F(RepairEntry, RefusedRunsEndAtOnceWithoutAWindow)
{
    struct { const char* what; std::string machine; std::string extra; const wchar_t* line; int result; } const cases[] = {
        {"without elevation", "Elevated=no\n", "", L"/brenwick /fixuser \"m hartley\"", -4},
        {"fix from an ordinary administrator", "", "", L"/brenwick /fixuser mhartley", -1},
        {"unknown console user", "ConsoleUser=none\n", "", L"/brenwick", -2},
        {"the console user itself", "ConsoleUser=brenwick_temp_admin\n", kTempAccount,
         L"/brenwick /fixuser BRENWICK_TEMP_ADMIN", -2},
        {"fix from a temporary account that is no administrator", "ConsoleUser=brenwick_temp_admin\n",
         "\n[Account brenwick_temp_admin]\nType=standard\nProfile=yes\n", L"/brenwick /fixuser mhartley", -1},
    };
    for (const auto& c : cases) {
        Use(c.machine, c.extra);
        RepairTool tool;
        EXPECT_EQ(c.result, RunRepairTool(tool, GetModuleHandleW(nullptr), c.line, SW_SHOW)) << c.what;
        EXPECT_EQ(nullptr, tool.Handle()) << c.what;
        EXPECT_TRUE(Recorded(L"ShellExecuteExW").empty()) << c.what;
    }
}

// ---------------------------------------------------------------------------
// The temporary administrator

TEST(EnsureTempAdmin, CreatesReusesOrRemakesTheAccountWithTheNewPassword)
{
    struct Case {
        const char* what;
        std::string account;   // the temporary account as the scenario has it, or none
        bool inTemp;
        bool ensured;
        bool oldPasswordWorks;
    };
    const std::string existing =
        "\n[Account brenwick_temp_admin]\nType=administrator\nPassword=Old-Temp-Pass-1\nProfile=yes\n";
    const Case cases[] = {
        {"none yet: created", "", false, true, false},
        {"an enabled administrator: reused", existing, false, true, false},
        {"disabled: deleted and made again", existing + "Disabled=yes\n", false, true, false},
        {"a standard account: deleted and made again",
         "\n[Account brenwick_temp_admin]\nType=standard\nPassword=Old-Temp-Pass-1\nProfile=yes\n", false, true, false},
        {"inside the temporary account: used as it is", existing, true, true, false},
    };
    for (const Case& c : cases) {
        std::wstring error;
        ASSERT_TRUE(Load(L"repair-temp.ini", Scenario("", c.account), &error)) << Narrow(error);
        TemporaryPassword password;
        ASSERT_NE(L'\0', *password.Text());
        EXPECT_EQ(c.ensured, EnsureTempAdmin(c.inTemp, password.Text())) << c.what;
        DWORD privilege = 0;
        ASSERT_TRUE(AccountExists(L"brenwick_temp_admin", &privilege)) << c.what;
        EXPECT_EQ(static_cast<DWORD>(USER_PRIV_ADMIN), privilege) << c.what;
        EXPECT_TRUE(PasswordWorks(L"brenwick_temp_admin", password.Text())) << c.what;
        EXPECT_EQ(c.oldPasswordWorks, PasswordWorks(L"brenwick_temp_admin", L"Old-Temp-Pass-1")) << c.what;
    }
    // Never without a password behind an automatic sign-in.
    EXPECT_FALSE(EnsureTempAdmin(false, L""));
    EXPECT_FALSE(EnsureTempAdmin(false, nullptr));
}

// ---------------------------------------------------------------------------
// The tool's event step

TEST(NextRepairEvent, SessionEndCloseButtonAndTheBlockReasonWhileBusy)
{
    ASSERT_TRUE(sandbox::ResetMachine(sandbox::ScenarioPath(L"default")));
    sandbox::ClearRecord();
    StartGdiplusForTests();
    RepairTool tool;
    ASSERT_NE(nullptr, tool.CreateUiWindow(tool.className, L"Brenwick - Setup", 700, 500, -1, -1, -1, -1, nullptr));
    tool.closeButton = AddCloseButton(tool, 670, 5, 20, 20, kOpaqueWhite);
    DrainWaitingEvents(tool);

    EXPECT_EQ(0, tool.NextRepairEvent(1)) << "nothing waiting";
    // Idle, the end of the session closes; busy, it is refused (0) and the
    // window carries the block reason from the moment it became busy.
    struct { const char* what; int mode; int32_t lastEvent; size_t blocks; size_t aborts; } const cases[] = {
        {"end of the session, idle", 1, EventCode::Close, 0, 0},
        {"end of the session, busy", 3, EventCode::None, 1, 1},
    };
    for (const auto& c : cases) {
        sandbox::ClearRecord();
        PostMessageW(tool.Handle(), WM_QUERYENDSESSION, 0, 0);
        int32_t result = 0;
        MSG waiting;
        for (int i = 0; i < 10 && result == 0 && PeekMessageW(&waiting, nullptr, 0, 0, PM_NOREMOVE); ++i)
            result = tool.NextRepairEvent(c.mode);
        EXPECT_EQ(c.lastEvent, result) << c.what << ": looking returns what the filter gave";
        EXPECT_EQ(c.lastEvent, tool.LastEvent()) << c.what;
        auto blocks = Recorded(L"ShutdownBlockReasonCreate");
        EXPECT_EQ(c.blocks, blocks.size()) << c.what;
        if (!blocks.empty()) {
            EXPECT_FALSE(blocks[0].details[L"reason"].empty()) << c.what;
        }
        EXPECT_EQ(c.aborts, Recorded(L"AbortSystemShutdownW").size()) << c.what;
        DrainWaitingEvents(tool);
    }

    const ControlEntry* close = tool.Control(tool.closeButton);
    ASSERT_NE(nullptr, close);
    PostMessageW(tool.Handle(), WM_COMMAND, MAKEWPARAM(tool.closeButton, STN_CLICKED),
                 reinterpret_cast<LPARAM>(close->handle));
    EXPECT_EQ(1, tool.NextRepairEvent(0)) << "waiting always gives 1";
    EXPECT_EQ(EventCode::Close, tool.LastEvent());
    tool.DestroyUiWindow();
}

// The countdown's wait ends at its time or on a message, without a wake-up thread.
TEST(NextRepairEvent, TheCountdownWaitEndsAtItsTimeOrOnAMessage)
{
    StartGdiplusForTests();
    RepairTool tool;
    ASSERT_NE(nullptr, tool.CreateUiWindow(tool.className, L"Brenwick - Fix User Profile", 700, 500, -1, -1, -1, -1,
                                           nullptr));
    DrainWaitingEvents(tool);
    EXPECT_EQ(EventCode::None, tool.WaitRepairEvent(10)) << "nothing came: the time ran out";
    PostMessageW(tool.Handle(), kCloseRequestMessage, 0, 0);
    EXPECT_EQ(EventCode::Close, tool.WaitRepairEvent(kWaitLimitMs));
    tool.DestroyUiWindow();
}

}  // namespace
