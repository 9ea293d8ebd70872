// The repair itself, run in this process on the simulated machine: the
// office PC whose owner's profile no longer loads, repaired on a system
// before store apps, resumed from states inside a step, and ended safely
// when a step cannot be done. The options on 10.0 and the cut at every
// point of the run are the end-to-end suites'.
#include <gtest/gtest.h>

#include <windows.h>
#include <lm.h>
#include <shlobj.h>

#include <cstdint>
#include <fstream>
#include <filesystem>
#include <map>
#include <string>
#include <vector>

#include "accounts/account_lifecycle.h"
#include "accounts/lookup.h"
#include "accounts/passwords.h"
#include "accounts/pictures.h"
#include "platform/machine.h"
#include "platform/text_win.h"
#include "repair/cleanup.h"
#include "repair/repair_hive.h"
#include "repair/repair_journal.h"
#include "repair/repair_log.h"
#include "repair/repair_run.h"
#include "repair/state_file.h"
#include <commctrl.h>

#include "tests/win/repair_test_support.h"
#include "tests/win/screen_capture.h"

using namespace repair_test;

namespace {

constexpr wchar_t kAccount[] = L"pweber";
constexpr wchar_t kToolFolder[] = L"C:\\Brenwick";
constexpr wchar_t kLog[] = L"C:\\Brenwick\\BrenwickLog.txt";
constexpr wchar_t kState[] = L"C:\\Brenwick\\Brenwick.ini";
constexpr wchar_t kPackages[] = L"AppData\\Local\\Packages";
constexpr wchar_t kSystemAppData[] = L"AppData\\Local\\Microsoft\\Windows";
constexpr wchar_t kProfileList[] = L"SOFTWARE\\Microsoft\\Windows NT\\CurrentVersion\\ProfileList\\";
constexpr wchar_t kBackupKey[] = L"Software\\TaskbandBrenwickKey";
constexpr wchar_t kOwnersCleanupLink[] =
    L"\\AppData\\Roaming\\Microsoft\\Windows\\Start Menu\\Programs\\Startup\\BrenwickCleanup.lnk";
constexpr wchar_t kTaskband[] = L"\\Software\\Microsoft\\Windows\\CurrentVersion\\Explorer\\Taskband";

bool Below(const std::wstring& path, const wchar_t* folder)
{
    size_t length = wcslen(folder);
    return path.size() > length && _wcsnicmp(path.c_str(), folder, length) == 0 && path[length] == L'\\';
}

bool IsUserHiveFile(const std::wstring& path)
{
    return path.find(L'\\') == std::wstring::npos && _wcsnicmp(path.c_str(), L"NTUSER.", 7) == 0;
}

std::wstring SidOf(const wchar_t* account)
{
    WString sid;
    return GetAccountSidAndProfile(account, sid, nullptr) ? std::wstring(sid.Text()) : L"";
}

std::wstring FullNameOf(const wchar_t* account)
{
    LPBYTE buffer = nullptr;
    std::wstring name = L"(none)";
    if (machine::NetUserGetInfo(nullptr, account, 11, &buffer) == NERR_Success && buffer != nullptr)
        name = reinterpret_cast<USER_INFO_11*>(buffer)->usri11_full_name;
    if (buffer != nullptr)
        machine::NetApiBufferFree(buffer);
    return name;
}

bool MachineKeyExists(const std::wstring& key)
{
    HKEY open = nullptr;
    if (RegOpenKeyExW(HKEY_LOCAL_MACHINE, key.c_str(), 0, KEY_READ | KEY_WOW64_64KEY, &open) != ERROR_SUCCESS)
        return false;
    RegCloseKey(open);
    return true;
}

std::vector<std::wstring> PendingRenames()
{
    std::vector<std::wstring> entries;
    HKEY key = nullptr;
    if (RegOpenKeyExW(HKEY_LOCAL_MACHINE, L"SYSTEM\\CurrentControlSet\\Control\\Session Manager", 0,
                      KEY_READ | KEY_WOW64_64KEY, &key) != ERROR_SUCCESS)
        return entries;
    std::vector<wchar_t> data(65536, L'\0');
    DWORD size = static_cast<DWORD>(data.size() * sizeof(wchar_t) - 4), type = 0;
    if (RegQueryValueExW(key, L"PendingFileRenameOperations", nullptr, &type, reinterpret_cast<BYTE*>(data.data()),
                         &size) == ERROR_SUCCESS) {
        for (const wchar_t* at = data.data(); at < data.data() + size / sizeof(wchar_t); at += wcslen(at) + 1)
            entries.push_back(at);
    }
    RegCloseKey(key);
    return entries;
}

std::string Lines(const std::vector<std::wstring>& lines)
{
    std::string text;
    for (const std::wstring& line : lines)
        text += Narrow(line) + "\n";
    return text;
}

// The positions of the sentences in the log, in order; npos for a missing one.
bool InOrder(const std::string& log, const std::vector<std::string>& sentences, std::string* missing)
{
    size_t at = 0;
    for (const std::string& sentence : sentences) {
        size_t found = log.find(sentence, at);
        if (found == std::string::npos) {
            *missing = sentence;
            return false;
        }
        at = found + sentence.size();
    }
    return true;
}

// Whether the file system under this Wine keeps the hidden and system
// attributes at all; where it does not, they cannot be checked.
bool KeepsHiddenAndSystem()
{
    std::wstring probe = TempFile(L"vantrell-attribute-probe.txt");
    std::ofstream(std::filesystem::path(probe)) << "probe";
    SetFileAttributesW(probe.c_str(), FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_SYSTEM);
    DWORD attributes = GetFileAttributesW(probe.c_str());
    SetFileAttributesW(probe.c_str(), FILE_ATTRIBUTE_NORMAL);
    DeleteFileW(probe.c_str());
    return attributes != INVALID_FILE_ATTRIBUTES &&
           (attributes & (FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_SYSTEM)) == (FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_SYSTEM);
}

// The colour (0xRRGGBB) of the account's picture at `across` of its width
// (the middle by default), halfway down; 0xFFFFFFFF when it has none that
// can be read.
uint32_t PictureColour(const wchar_t* account, double version, double across = 0.5)
{
    WString path;
    if (!FindAccountPicture(account, path, version))
        return 0xFFFFFFFF;
    UniqueImage picture = LoadPictureFile(path.Text());
    if (!picture)
        return 0xFFFFFFFF;
    UINT width = 0, height = 0;
    Gdiplus::DllExports::GdipGetImageWidth(picture.Get(), &width);
    Gdiplus::DllExports::GdipGetImageHeight(picture.Get(), &height);
    Gdiplus::ARGB colour = 0;
    Gdiplus::DllExports::GdipBitmapGetPixel(picture.Get(), static_cast<INT>(width * across),
                                            static_cast<INT>(height / 2), &colour);
    return colour & 0xFFFFFF;
}

// A 24-bit bitmap file of 200 x 100 pixels: green at both ends (the outer
// quarters), blue between them.
bool WriteWidePicture(const std::wstring& path)
{
    const int width = 200, height = 100, stride = width * 3;
    BITMAPFILEHEADER file{};
    BITMAPINFOHEADER info{};
    info.biSize = sizeof info;
    info.biWidth = width;
    info.biHeight = height;
    info.biPlanes = 1;
    info.biBitCount = 24;
    file.bfType = 0x4D42;
    file.bfOffBits = sizeof file + sizeof info;
    file.bfSize = file.bfOffBits + stride * height;
    std::string pixels;
    for (int y = 0; y < height; ++y)
        for (int x = 0; x < width; ++x)
            pixels += (x < width / 4 || x >= width * 3 / 4) ? std::string("\x00\xFF\x00", 3) : std::string("\xFF\x00\x00", 3);
    std::ofstream out(std::filesystem::path(path), std::ios::binary);
    out.write(reinterpret_cast<const char*>(&file), sizeof file);
    out.write(reinterpret_cast<const char*>(&info), sizeof info);
    out.write(pixels.data(), static_cast<std::streamsize>(pixels.size()));
    return static_cast<bool>(out);
}

class RepairRun : public ::testing::Test {
protected:
    static void SetUpTestSuite() { StartGdiplusForTests(); }

    // The broken-profile office PC as the set-up leaves it for the fix run:
    // the tool folder with its state file, the fix run's shortcuts in the
    // current user's folders (this process plays the temporary account).
    void Prepare(bool withStateFile = true)
    {
        std::error_code ignored;
        std::filesystem::remove_all(kToolFolder, ignored);
        std::wstring error;
        ASSERT_TRUE(sandbox::ResetMachine(sandbox::ScenarioPath(L"broken-profile"), &error)) << Narrow(error);
        sandbox::ClearRecord();
        DeleteMachineValue(L"SYSTEM\\CurrentControlSet\\Control\\Session Manager", L"PendingFileRenameOperations");
        std::filesystem::create_directories(kToolFolder, ignored);
        if (withStateFile) {
            ASSERT_TRUE(CreateStateFile(kState));
            WriteStateText(kState, kAccount, L"FullName", L"Paula Weber");
            WriteStateNumber(kState, kAccount, L"UserPriv", 1);
        }
        oldSid_ = SidOf(kAccount);
        WString sid, profile;
        ASSERT_TRUE(GetAccountSidAndProfile(kAccount, sid, &profile));
        oldProfile_ = profile.Text();
        // A mark of the old system app data, to see whether it was replaced.
        std::ofstream(std::filesystem::path(oldProfile_ + L"\\" + kSystemAppData + L"\\old-settings.txt")) << "old";
        before_ = SumFiles(oldProfile_);
        ASSERT_GE(before_.size(), 300u);
        picture_ = PictureColour(kAccount, 10.0);
        PlantFixShortcuts();
    }

    void PlantFixShortcuts()
    {
        wchar_t folder[MAX_PATH] = L"";
        ASSERT_EQ(S_OK, machine::SHGetFolderPathW(nullptr, CSIDL_STARTUP, nullptr, 0, folder));
        startupLink_ = std::wstring(folder) + L"\\BrenwickTask.lnk";
        std::filesystem::create_directories(folder);
        std::ofstream(std::filesystem::path(startupLink_)) << "link";
        ASSERT_EQ(S_OK, machine::SHGetFolderPathW(nullptr, CSIDL_DESKTOPDIRECTORY, nullptr, 0, folder));
        desktopLink_ = std::wstring(folder) + L"\\Fix pweber account profile.lnk";
        std::filesystem::create_directories(folder);
        std::ofstream(std::filesystem::path(desktopLink_)) << "link";
        ASSERT_EQ(S_OK, machine::SHGetFolderPathW(nullptr, CSIDL_STARTUP, nullptr, 0, folder));
        failedCleanupLink_ = std::wstring(folder) + L"\\BrenwickCleanup.lnk";
        DeleteFileW(failedCleanupLink_.c_str());
    }

    static RepairInput Input(int32_t flags, double version)
    {
        RepairInput input;
        input.account = kAccount;
        input.fixFlags = flags;
        input.osVersion = version;
        input.toolFolder = kToolFolder;
        input.programPath = L"C:\\Brenwick\\Brenwick.exe";
        input.logPath = kLog;
        return input;
    }

    static CleanupInput CleanupAs(const wchar_t* account, bool inTempAccount = false)
    {
        CleanupInput input;
        input.consoleUserName = account;
        input.osVersion = 10.0;
        input.toolFolder = kToolFolder;
        input.logPath = kLog;
        input.inTempAccount = inTempAccount;
        return input;
    }

    RepairJournal Journal()
    {
        RepairJournal journal;
        std::wstring problem;
        EXPECT_EQ(JournalRead::Valid, ReadJournal(L"C:\\Brenwick\\BrenwickJournal.txt", journal, problem))
            << Narrow(problem);
        return journal;
    }

    // Everything a repaired machine must show, for the options and version.
    void ExpectRepaired(int32_t flags, double version, const std::string& what)
    {
        SCOPED_TRACE(what);
        RepairJournal journal = Journal();
        EXPECT_EQ(RepairOutcome::Repaired, journal.outcome);
        EXPECT_EQ(2u, journal.hiveCount);

        std::wstring newSid = SidOf(kAccount);
        DWORD privilege = 99;
        EXPECT_TRUE(AccountExists(kAccount, &privilege));
        EXPECT_EQ(static_cast<DWORD>(USER_PRIV_ADMIN), privilege);
        EXPECT_FALSE(newSid.empty());
        EXPECT_NE(oldSid_, newSid);
        EXPECT_EQ(newSid, journal.newSid);
        EXPECT_EQ(L"Paula Weber", FullNameOf(kAccount));
        EXPECT_EQ(oldProfile_, MachineValue((std::wstring(kProfileList) + newSid).c_str(), L"ProfileImagePath"));
        EXPECT_FALSE(MachineKeyExists(std::wstring(kProfileList) + oldSid_)) << "the old SID's entry is gone";
        EXPECT_FALSE(MachineKeyExists(kBackupKey)) << "the pins' backup is removed once copied";
        EXPECT_FALSE(PathExists(journal.newProfile)) << Narrow(journal.newProfile);
        EXPECT_NE(journal.newProfile, oldProfile_);

        // Every file of the owner, byte for byte; only the replaced places differ.
        bool packagesReplaced = version >= 6.2 && (flags & FixFlags::KeepAppPackages) == 0;
        bool appDataReplaced = (flags & FixFlags::KeepSystemAppData) == 0;
        FileTree after = SumFiles(oldProfile_);
        size_t compared = 0;
        for (const auto& [path, sum] : before_) {
            bool replaced = IsUserHiveFile(path) || (_wcsicmp(path.c_str(), L"AppData\\Local\\Microsoft\\Windows\\UsrClass.dat") == 0) ||
                            (packagesReplaced && Below(path, kPackages)) ||
                            (appDataReplaced && Below(path, kSystemAppData));
            auto found = after.find(path);
            if (replaced) {
                if (Below(path, kPackages) || path.find(L"old-settings") != std::wstring::npos) {
                    EXPECT_TRUE(found == after.end()) << "replaced but still there: " << Narrow(path);
                }
                continue;
            }
            ++compared;
            if (found == after.end())
                ADD_FAILURE() << "lost: " << Narrow(path);
            else if (found->second != sum)
                ADD_FAILURE() << "changed: " << Narrow(path);
        }
        EXPECT_GE(compared, 300u);
        EXPECT_TRUE(after.count(L"NTUSER.DAT"));
        EXPECT_TRUE(after.count(L"AppData\\Local\\Microsoft\\Windows\\UsrClass.dat"));
        EXPECT_EQ(0u, after.count(L"Brenwick new NTUSER.DAT"));
        DWORD attributes = GetFileAttributesW((oldProfile_ + L"\\NTUSER.DAT").c_str());
        if (KeepsHiddenAndSystem()) {
            EXPECT_EQ(static_cast<DWORD>(FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_SYSTEM),
                      attributes & (FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_SYSTEM));
        }

        // The fresh hive loads, has the shell-folder list the damaged one
        // lost, and holds the pins.
        ASSERT_TRUE(LoadUserHive(newSid.c_str()));
        WString desktop;
        EXPECT_TRUE(UserShellFolder(newSid.c_str(), L"Desktop", desktop, oldProfile_.c_str(), version));
        HKEY pins = nullptr;
        EXPECT_EQ(ERROR_SUCCESS, RegOpenKeyExW(HKEY_USERS, (newSid + kTaskband).c_str(), 0, KEY_READ, &pins));
        if (pins != nullptr) {
            DWORD size = 0;
            EXPECT_EQ(ERROR_SUCCESS, RegQueryValueExW(pins, L"Favorites", nullptr, nullptr, nullptr, &size));
            EXPECT_GT(size, 8u);
            RegCloseKey(pins);
        }
        machine::RegUnLoadKeyW(HKEY_USERS, newSid.c_str());

        EXPECT_EQ(picture_, PictureColour(kAccount, version)) << "the picture was carried over";

        // The hand-over: automatic sign-in and the clean-up's shortcuts.
        EXPECT_EQ(L"pweber", MachineValue(kWinlogonKey, L"DefaultUserName"));
        EXPECT_TRUE(PathExists(oldProfile_ + L"\\Desktop\\BrenwickCleanup.lnk"));
        EXPECT_TRUE(PathExists(oldProfile_ + kOwnersCleanupLink));
        EXPECT_FALSE(PathExists(startupLink_)) << "the fix run's shortcut goes with the hand-over";
        EXPECT_FALSE(PathExists(desktopLink_));

        std::string log = ReadBytes(kLog), missing;
        EXPECT_TRUE(InOrder(log,
                            {"Successfully retrieved information about the \"pweber\" account.",
                             "Successfully removed the \"pweber\" account.",
                             "Successfully created a new \"pweber\" account.",
                             "The \"pweber\" account was successfully repaired."},
                            &missing))
            << missing << "\n" << log;
        EXPECT_EQ(std::string::npos, log.find("Error moving")) << log;
        EXPECT_EQ(std::string::npos, log.find("Failed")) << log;
    }

    // Every file of the owner but the registry hive, which loading it for
    // the taskbar pins writes back.
    void ExpectOwnersFilesUnchanged(const std::string& what)
    {
        FileTree after = SumFiles(oldProfile_);
        size_t compared = 0;
        for (const auto& [path, sum] : before_) {
            if (IsUserHiveFile(path))
                continue;
            ++compared;
            auto found = after.find(path);
            if (found == after.end() || found->second != sum)
                ADD_FAILURE() << what << ": lost or changed " << Narrow(path);
        }
        EXPECT_GE(compared, 300u) << what;
    }

    uint32_t picture_ = 0;
    std::wstring oldSid_, oldProfile_;
    std::wstring startupLink_, desktopLink_, failedCleanupLink_;
    FileTree before_;
};

// ---------------------------------------------------------------------------
// The options on a system before store apps, which the end-to-end repair
// (on 10.0, every option combination) cannot present.

class RepairOptions : public RepairRun, public ::testing::WithParamInterface<int32_t> {};

TEST_P(RepairOptions, OnVersion61RepairsTheAccountAndKeepsEveryFile)
{
    const int32_t flags = GetParam();
    Prepare();
    RepairInput repair = Input(flags, 6.1);
    EXPECT_EQ(1u, RunRepair(repair, nullptr));
    ExpectRepaired(flags, 6.1, "flags " + std::to_string(flags));
    // Without store apps their folder is no store-app data: kept whatever the options.
    EXPECT_TRUE(PathExists(oldProfile_ + L"\\" + kPackages +
                       L"\\Microsoft.WindowsCalculator_8wekyb3d8bbwe\\Settings\\settings.dat"));
    bool appDataKept = (flags & FixFlags::KeepSystemAppData) != 0;
    EXPECT_EQ(appDataKept, PathExists(oldProfile_ + L"\\" + kSystemAppData + L"\\old-settings.txt"));
}

INSTANTIATE_TEST_SUITE_P(Version61, RepairOptions, ::testing::Values(0, FixFlags::KeepSystemAppData));

// A hive moved just before the cut, with the journal not yet told.
TEST_F(RepairRun, AHiveMovedBeforeTheCutIsRecognised)
{
    Prepare();
    RepairInput first = Input(0, 10.0);
    RunRepairUntil(first, nullptr, static_cast<uint32_t>(RepairStep::UserHive));
    RepairJournal journal = Journal();
    // The old files went, the fresh one was moved: then the power failed.
    journal.marks |= JournalMark::UserOldRemoved;
    ASSERT_TRUE(WriteJournal(L"C:\\Brenwick\\BrenwickJournal.txt", journal));
    ASSERT_TRUE(DeleteFileW((oldProfile_ + L"\\NTUSER.DAT").c_str()));
    ASSERT_TRUE(MoveFileExW((journal.newProfile + L"\\NTUSER.DAT").c_str(), (oldProfile_ + L"\\NTUSER.DAT").c_str(), 0));
    RepairInput second = Input(0, 10.0);
    EXPECT_EQ(1u, RunRepair(second, nullptr));
    ExpectRepaired(0, 10.0, "hive moved before the cut");
}

// ---------------------------------------------------------------------------
// Accounts and files the repair does not expect.

TEST_F(RepairRun, AnAccountWithoutAProfileFailsOnTheFirstRowAndChangesNothing)
{
    Prepare();
    std::wstring visitorSid = SidOf(L"visitor");
    ASSERT_FALSE(visitorSid.empty());
    std::wstring autoLogon = MachineValue(kWinlogonKey, L"DefaultUserName");
    RepairInput repair = Input(0, 10.0);
    repair.account = L"visitor";
    EXPECT_EQ(0u, RunRepair(repair, nullptr));
    EXPECT_EQ(visitorSid, SidOf(L"visitor")) << "the account is untouched";
    EXPECT_EQ(autoLogon, MachineValue(kWinlogonKey, L"DefaultUserName"));
    EXPECT_FALSE(MachineKeyExists(kBackupKey));
    std::string log = ReadBytes(kLog);
    EXPECT_NE(std::string::npos, log.find("Failed to retrieve information about the \"visitor\" account.")) << log;
    EXPECT_NE(std::string::npos, log.find("The \"visitor\" account was not changed.")) << log;
    EXPECT_EQ(std::string::npos, log.find("Successfully")) << log;
    // The clean-up is set to run in the temporary account, and the fix run
    // will not start again.
    EXPECT_TRUE(PathExists(failedCleanupLink_));
    EXPECT_FALSE(PathExists(startupLink_));
    EXPECT_EQ(RepairOutcome::Failed, Journal().outcome);
    ExpectOwnersFilesUnchanged("another account's repair");
}

TEST_F(RepairRun, ALockedHiveIsReplacedAtTheRestart)
{
    Prepare();
    RepairInput repair = Input(0, 10.0);
    // Once the pins are saved, the old hive is held open without sharing,
    // as the system holds a hive in use.
    RunRepairUntil(repair, nullptr, 1);
    HANDLE locked = CreateFileW((oldProfile_ + L"\\NTUSER.DAT").c_str(), GENERIC_READ, 0, nullptr, OPEN_EXISTING, 0,
                                nullptr);
    ASSERT_NE(INVALID_HANDLE_VALUE, locked);
    DWORD result = RunRepair(repair, nullptr);
    CloseHandle(locked);
    EXPECT_EQ(1u, result) << ReadBytes(kLog);
    std::vector<std::wstring> pending = PendingRenames();
    bool registered = false;
    for (size_t i = 0; i + 1 < pending.size(); i += 2)
        registered |= pending[i].find(L"Brenwick new NTUSER.DAT") != std::wstring::npos &&
                      _wcsicmp(pending[i + 1].c_str(), (L"!\\??\\" + oldProfile_ + L"\\NTUSER.DAT").c_str()) == 0;
    EXPECT_TRUE(registered) << Lines(pending);

    // Run again by hand: the rename is not registered twice.
    size_t count = pending.size();
    RepairInput again = Input(0, 10.0);
    RunRepair(again, nullptr);
    EXPECT_EQ(count, PendingRenames().size());

    sandbox::RebootOutcome outcome = sandbox::Reboot(L"repair test");
    EXPECT_GE(outcome.renamesDone, 1u);
    EXPECT_EQ(0u, outcome.renamesFailed);
    ExpectRepaired(0, 10.0, "after the restart");
}

TEST_F(RepairRun, WithoutAStateFileTheAccountNameIsTheFullName)
{
    Prepare(false);
    RepairInput repair = Input(3, 10.0);
    EXPECT_EQ(1u, RunRepair(repair, nullptr));
    // The name is given as the full name; the system keeps no full name
    // that only repeats the name.
    std::wstring fullName = FullNameOf(kAccount);
    EXPECT_TRUE(fullName == L"pweber" || fullName.empty()) << Narrow(fullName);
}

// Mended: a blind deletion of the "fresh" folder would erase the owner's
// files when the profile service handed the new account the old folder.
TEST_F(RepairRun, ANewProfileInTheOldFolderIsNeverDeleted)
{
    Prepare();
    RepairInput first = Input(0, 10.0);
    RunRepairUntil(first, nullptr, static_cast<uint32_t>(RepairStep::ProfileEntry));
    RepairJournal journal = Journal();
    std::wstring fresh = journal.newProfile;
    for (const std::wstring& folder : {oldProfile_, oldProfile_ + L"\\Documents"}) {
        journal.newProfile = folder;
        ASSERT_TRUE(WriteJournal(L"C:\\Brenwick\\BrenwickJournal.txt", journal));
        RepairInput second = Input(0, 10.0);
        EXPECT_EQ(0u, RunRepair(second, nullptr)) << "no hive was put in place";
        ExpectOwnersFilesUnchanged(Narrow(folder));
        std::string log = ReadBytes(kLog);
        EXPECT_NE(std::string::npos, log.find("it was kept.")) << log;
        // Back to the state before the hand-over for the next case.
        journal.outcome = RepairOutcome::Running;
        journal.hiveCount = 0;
        journal.marks = 0;
    }
    EXPECT_TRUE(PathExists(fresh));
}

// ---------------------------------------------------------------------------
// Tries: a step that keeps being cut ends the repair, and a clean-up follows.

// Where the step that keeps being cut lies decides who runs the clean-up:
// before the account is back, the temporary account; after, the account.
TEST_F(RepairRun, AStepCutThreeTimesEndsTheRepairAndTheCleanUpFollows)
{
    enum class Account { Untouched, Gone, BackNew };
    struct Case {
        RepairStep step;
        Account account;
        RepairOutcome outcome;
        const char* logLine;   // %s: the old profile folder
        bool cleanUpInTemporaryAccount;
    } const cases[] = {
        {RepairStep::DeleteOld, Account::Untouched, RepairOutcome::Failed, "did not complete in three tries", true},
        {RepairStep::CreateNew, Account::Gone, RepairOutcome::Failed,
         "The \"pweber\" account was deleted but could not be created again; its files are still in %s.", true},
        {RepairStep::DataFolders, Account::BackNew, RepairOutcome::NotRepaired,
         "The \"pweber\" account could not be repaired.", false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE("cut at step " + std::to_string(static_cast<uint32_t>(c.step)));
        Prepare();
        RunRepairUntil(Input(0, 10.0), nullptr, static_cast<uint32_t>(c.step));
        RepairJournal journal = Journal();
        journal.tries = kMaxStepTries;
        ASSERT_TRUE(WriteJournal(L"C:\\Brenwick\\BrenwickJournal.txt", journal));
        EXPECT_EQ(0u, RunRepair(Input(0, 10.0), nullptr));
        EXPECT_EQ(c.outcome, Journal().outcome);
        std::string log = ReadBytes(kLog), line = c.logLine;
        if (line.find("%s") != std::string::npos)
            line.replace(line.find("%s"), 2, Narrow(oldProfile_));
        EXPECT_NE(std::string::npos, log.find(line)) << log;
        EXPECT_FALSE(PathExists(startupLink_)) << "no loop through the restarts";
        EXPECT_EQ(c.cleanUpInTemporaryAccount, PathExists(failedCleanupLink_));
        EXPECT_NE(c.cleanUpInTemporaryAccount, PathExists(oldProfile_ + kOwnersCleanupLink));
        if (c.account == Account::BackNew) {
            EXPECT_EQ(L"pweber", MachineValue(kWinlogonKey, L"DefaultUserName"));
            continue;
        }
        if (c.account == Account::Untouched)
            EXPECT_EQ(oldSid_, SidOf(kAccount)) << "the account was not touched";
        else
            EXPECT_FALSE(AccountExists(kAccount));
        ExpectOwnersFilesUnchanged("cut three times");

        // The clean-up in the temporary account says what was not done.
        EXPECT_EQ(-13, RunCleanup(CleanupAs(kTempAccountName, true)));
        log = ReadBytes(kLog);
        EXPECT_NE(std::string::npos, log.find("The \"pweber\" account was not repaired.")) << log;
        EXPECT_EQ(1u, Occurrences(log, "*** End of repair operation")) << log;
        EXPECT_FALSE(PathExists(failedCleanupLink_));
        EXPECT_FALSE(PathExists(L"C:\\Brenwick\\BrenwickJournal.txt"));
        EXPECT_NE(L"1", MachineValue(kWinlogonKey, L"AutoAdminLogon")) << "automatic sign-in is off";
    }
}

// The report: each row's texts as the repair last gave them, and the steps
// it said were complete; a resumed run shows the rows of the steps done
// before as done.
class RecordedReport : public RepairProgress {
public:
    void ShowRow(int row, const wchar_t* operation, const wchar_t* result) override
    {
        if (row < 0 || row > static_cast<int>(rows.size()))
            rows.push_back(L"row out of order: " + std::to_wstring(row));
        else if (row == static_cast<int>(rows.size()))
            rows.push_back(std::wstring(operation) + L"\n" + result);
        else
            rows[static_cast<size_t>(row)] = std::wstring(operation) + L"\n" + result;
    }
    void StepCompleted(RepairStep step) override { steps.push_back(static_cast<uint32_t>(step)); }
    void WantsAttention() override { ++attention; }

    std::vector<std::wstring> rows;
    std::vector<uint32_t> steps;
    int attention = 0;
};

std::wstring ResultOf(const std::wstring& row) { return row.substr(row.find(L'\n') + 1); }

// A run cut after the deletion shows the rows so far; the run resuming it
// shows every row alike; a run that fails at once shows the first row only,
// with another result.
TEST_F(RepairRun, TheReportShowsEachRowOnceWithItsResult)
{
    Prepare();
    RepairInput other = Input(0, 10.0);
    other.account = L"visitor";
    RecordedReport failed, cut, report;
    EXPECT_EQ(0u, RunRepair(other, &failed));
    Prepare();
    RunRepairUntil(Input(0, 10.0), &cut, static_cast<uint32_t>(RepairStep::CreateNew));
    EXPECT_EQ((std::vector<uint32_t>{0, 1}), cut.steps);
    ASSERT_EQ(1u, RunRepair(Input(0, 10.0), &report));
    ASSERT_EQ(4u, report.rows.size()) << Lines(report.rows);
    for (const std::wstring& row : report.rows)
        EXPECT_EQ(ResultOf(report.rows[0]), ResultOf(row)) << Lines(report.rows);
    EXPECT_EQ(std::vector<std::wstring>(report.rows.begin(), report.rows.begin() + 2), cut.rows) << Lines(cut.rows);
    std::vector<uint32_t> resumed;
    for (uint32_t step = static_cast<uint32_t>(RepairStep::CreateNew); step < kRepairStepCount; ++step)
        resumed.push_back(step);
    EXPECT_EQ(resumed, report.steps);
    EXPECT_EQ(2, report.attention) << "after the new account and after the store-app data";
    ASSERT_EQ(1u, failed.rows.size()) << Lines(failed.rows);
    EXPECT_EQ(report.rows[0].substr(0, report.rows[0].find(L'\n')), failed.rows[0].substr(0, failed.rows[0].find(L'\n')));
    EXPECT_NE(ResultOf(report.rows[0]), ResultOf(failed.rows[0]));
    EXPECT_TRUE(failed.steps.empty());
}

// The carried picture keeps all of itself, squeezed into the square, as
// the account's picture was shown before the repair.
TEST_F(RepairRun, TheCarriedPictureIsStretchedNotCropped)
{
    Prepare();
    RunRepairUntil(Input(0, 10.0), nullptr, static_cast<uint32_t>(RepairStep::DeleteOld));
    WString copy = PictureCopyPath(kToolFolder);
    ASSERT_TRUE(WriteWidePicture(copy.Text()));
    ASSERT_EQ(1u, RunRepair(Input(0, 10.0), nullptr));
    EXPECT_EQ(0x00FF00u, PictureColour(kAccount, 10.0, 0.1)) << "the green end is in the picture";
    EXPECT_EQ(0x0000FFu, PictureColour(kAccount, 10.0, 0.5));
}

// After a repair the account has no password: the clean-up says so and how to set one.
TEST_F(RepairRun, TheCleanUpTellsThatTheAccountHasNoPassword)
{
    Prepare();
    RepairInput repair = Input(3, 10.0);
    ASSERT_EQ(1u, RunRepair(repair, nullptr));
    CleanupInput input = CleanupAs(kAccount);
    EXPECT_EQ(-13, RunCleanup(input));
    std::string log = ReadBytes(kLog), missing;
    EXPECT_TRUE(InOrder(log,
                        {"The \"pweber\" account was successfully repaired.",
                         "The \"pweber\" account was created anew and has no password",
                         "To set a password, sign in as \"pweber\"", "Repair operation complete.",
                         "*** End of repair operation"},
                        &missing))
        << missing << "\n" << log;
    DWORD privilege = 99;
    EXPECT_TRUE(AccountExists(kAccount, &privilege));
    EXPECT_EQ(static_cast<DWORD>(USER_PRIV_USER), privilege) << "its saved type is back";
}

// ---------------------------------------------------------------------------
// Work an earlier run began and a power cut interrupted inside a step.

// The old account deleted, but not yet its profile entry: the deletion
// counts as done and the entry goes; never the folder.
TEST_F(RepairRun, ADeletionCutAfterTheAccountWentIsFinished)
{
    Prepare();
    RepairInput first = Input(0, 10.0);
    RunRepairUntil(first, nullptr, static_cast<uint32_t>(RepairStep::DeleteOld));
    ASSERT_EQ(static_cast<NET_API_STATUS>(NERR_Success), machine::NetUserDel(nullptr, kAccount));
    ASSERT_TRUE(MachineKeyExists(std::wstring(kProfileList) + oldSid_));
    RepairInput second = Input(0, 10.0);
    EXPECT_EQ(1u, RunRepair(second, nullptr));
    ExpectRepaired(0, 10.0, "deletion cut after the account went");
}

// The new account added, but cut before its full name, type and profile:
// with the journal's word that this repair began it, it is completed and
// used; without, an account of that name that is not an administrator is
// someone else's and is not taken over.
TEST_F(RepairRun, ACreationCutAfterTheAccountWasAddedIsCompletedOnlyWhenTheJournalSaysSo)
{
    for (bool begun : {true, false}) {
        SCOPED_TRACE(begun ? "the journal says this repair began it" : "the journal does not say so");
        Prepare();
        RunRepairUntil(Input(0, 10.0), nullptr, static_cast<uint32_t>(RepairStep::CreateNew));
        if (begun) {
            RepairJournal journal = Journal();
            journal.marks |= JournalMark::CreationStarted;
            ASSERT_TRUE(WriteJournal(L"C:\\Brenwick\\BrenwickJournal.txt", journal));
        }
        USER_INFO_1 info{};
        info.usri1_name = const_cast<LPWSTR>(kAccount);
        info.usri1_priv = USER_PRIV_USER;
        info.usri1_flags = UF_SCRIPT | UF_DONT_EXPIRE_PASSWD;
        ASSERT_EQ(static_cast<NET_API_STATUS>(NERR_Success),
                  machine::NetUserAdd(nullptr, 1, reinterpret_cast<LPBYTE>(&info), nullptr));
        EXPECT_EQ(begun ? 1u : 0u, RunRepair(Input(0, 10.0), nullptr)) << ReadBytes(kLog);
        if (begun) {
            ExpectRepaired(0, 10.0, "creation cut after the account was added");
            continue;
        }
        DWORD privilege = 99;
        EXPECT_TRUE(AccountExists(kAccount, &privilege));
        EXPECT_EQ(static_cast<DWORD>(USER_PRIV_USER), privilege) << "its type is left alone";
        EXPECT_EQ(RepairOutcome::Failed, Journal().outcome);
        ExpectOwnersFilesUnchanged("someone else's account");
    }
}

// ---------------------------------------------------------------------------
// A clean-up cut short runs again at the next sign-in and finishes.

TEST_F(RepairRun, ACleanUpCutWhileDeletingTheTemporaryAccountFinishesTheJob)
{
    Prepare();
    ASSERT_TRUE(CreateAccount(kTempAccountName, kTempAccountFullName, 2, L"Temp-Pass-12345"));
    WString tempSid, tempProfile;
    ASSERT_TRUE(GetAccountSidAndProfile(kTempAccountName, tempSid, &tempProfile));
    ASSERT_TRUE(PathExists(tempProfile.Text()));
    RepairInput repair = Input(0, 10.0);
    ASSERT_EQ(1u, RunRepair(repair, nullptr));

    // The first clean-up recorded the SID and got as far as removing the
    // account itself when the power failed.
    WriteStateText(kState, kAccount, L"TempSid", tempSid.Text());
    ASSERT_EQ(static_cast<NET_API_STATUS>(NERR_Success), machine::NetUserDel(nullptr, kTempAccountName));
    CleanupInput input = CleanupAs(kAccount);
    EXPECT_EQ(-13, RunCleanup(input));
    EXPECT_FALSE(PathExists(tempProfile.Text())) << "its profile folder goes too";
    WString left;
    EXPECT_FALSE(ReadProfileImagePath(tempSid.Text(), left)) << "and its profile entry";
    std::string log = ReadBytes(kLog);
    EXPECT_EQ(1u, Occurrences(log, ": Successfully deleted Brenwick's temp account.")) << log;
    EXPECT_EQ(1u, Occurrences(log, "*** End of repair operation")) << log;
}

TEST_F(RepairRun, ACleanUpRunAgainAfterItsEndLineDoesNotCloseTheLogTwice)
{
    Prepare();
    RepairInput repair = Input(0, 10.0);
    ASSERT_EQ(1u, RunRepair(repair, nullptr));
    // The first clean-up wrote its end line; the power failed before its
    // shortcuts and the journal went.
    RepairJournal journal = Journal();
    journal.marks |= JournalMark::CleanupSignIn | JournalMark::CleanupEnded;
    ASSERT_TRUE(WriteJournal(L"C:\\Brenwick\\BrenwickJournal.txt", journal));
    WriteLogEntry(kLog, L"Repair operation complete.", LogFlags::EndLine);
    CleanupInput input = CleanupAs(kAccount);
    EXPECT_EQ(-13, RunCleanup(input));
    std::string log = ReadBytes(kLog);
    EXPECT_EQ(1u, Occurrences(log, "*** End of repair operation")) << log;
    EXPECT_EQ(L"pweber", MachineValue(kWinlogonKey, L"DefaultUserName")) << "the sign-in was put back already";
    EXPECT_FALSE(PathExists(L"C:\\Brenwick\\BrenwickJournal.txt"));
}

// A journal whose values are out of place is never acted on: the repair
// says so and starts from the beginning, which reads everything afresh.
TEST_F(RepairRun, AJournalWithAValueOutOfPlaceIsNotActedOn)
{
    struct Case {
        const char* what;
        std::wstring text;
    } const cases[] = {
        {"old folder outside the profiles directory",
         L"Account=pweber\r\nFlags=0\r\nOldSid=S-1-5-21-1-2-3-1010\r\nOldProfile=C:\\Windows\r\nNewSid=\r\n"
         L"NewProfile=\r\nStepsDone=2\r\nTries=0\r\nHiveCount=0\r\nMarks=0\r\nOutcome=0\r\n"},
        {"a SID that is a path",
         L"Account=pweber\r\nFlags=0\r\nOldSid=..\\..\\x\r\nOldProfile=C:\\users\\pweber\r\nNewSid=\r\n"
         L"NewProfile=\r\nStepsDone=2\r\nTries=0\r\nHiveCount=0\r\nMarks=0\r\nOutcome=0\r\n"},
        {"cut in the middle", L"Account=pweber\r\nFlags=0\r\nOldSid=S-1-5-21"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        Prepare();
        std::wstring text = L"\xFEFF" + c.text;
        std::ofstream(std::filesystem::path(L"C:\\Brenwick\\BrenwickJournal.txt"), std::ios::binary)
            .write(reinterpret_cast<const char*>(text.data()), static_cast<std::streamsize>(text.size() * sizeof(wchar_t)));
        RepairInput repair = Input(0, 10.0);
        EXPECT_EQ(1u, RunRepair(repair, nullptr));
        std::string log = ReadBytes(kLog);
        EXPECT_NE(std::string::npos, log.find("The repair's journal cannot be used")) << log;
        ExpectRepaired(0, 10.0, c.what);
    }
}

}  // namespace

// ---------------------------------------------------------------------------
// The account's owner may have made any folder the repair works on a link
// to a folder elsewhere before the repair. Wine shows a Unix link as a
// junction; the test makes one with the system's own ln, as Wine cannot.

namespace {

// The Unix name of a Windows path in the prefix; empty when Wine has none.
std::wstring UnixName(const std::wstring& path)
{
    using Lookup = char*(CDECL*)(const wchar_t*);
    auto lookup = reinterpret_cast<Lookup>(
        reinterpret_cast<void*>(GetProcAddress(GetModuleHandleW(L"kernel32.dll"), "wine_get_unix_file_name")));
    char* name = lookup != nullptr ? lookup(path.c_str()) : nullptr;
    if (name == nullptr)
        return L"";
    std::wstring text(name, name + strlen(name));
    HeapFree(GetProcessHeap(), 0, name);
    return text;
}

// Runs a program of the system under Wine with the quoted arguments and
// waits for it.
bool RunUnixProgram(const std::wstring& program, std::initializer_list<std::wstring> arguments)
{
    std::wstring command = L"start.exe /wait /unix " + program;
    for (const std::wstring& argument : arguments) {
        if (argument.empty())
            return false;
        command += L" \"" + argument + L"\"";
    }
    STARTUPINFOW startup{};
    startup.cb = sizeof(startup);
    PROCESS_INFORMATION process{};
    if (!CreateProcessW(nullptr, &command[0], nullptr, nullptr, FALSE, CREATE_NO_WINDOW, nullptr, nullptr, &startup,
                        &process))
        return false;
    WaitForSingleObject(process.hProcess, 30000);
    CloseHandle(process.hThread);
    CloseHandle(process.hProcess);
    return true;
}

bool PlantUnixLink(const std::wstring& link, const std::wstring& target)
{
    return RunUnixProgram(L"/bin/ln", {L"-s", UnixName(target), UnixName(link)}) &&
           (GetFileAttributesW(link.c_str()) & FILE_ATTRIBUTE_REPARSE_POINT) != 0;
}

// Removes every link to `target` below `folder`, wherever the repair left it:
// Wine removes a link to a folder only through the system.
void RemoveUnixLinksTo(const std::wstring& folder, const std::wstring& target)
{
    RunUnixProgram(L"/usr/bin/find", {UnixName(folder), L"-lname", UnixName(target), L"-delete"});
}

}  // namespace

TEST_F(RepairRun, AFolderBelowTheOldProfileMadeALinkIsLeftAloneWithItsTarget_LinkOnTheWayGuard)
{
    struct Case {
        const wchar_t* folder;   // below the old profile, made a link
        int32_t flags;
    } const cases[] = {
        {kPackages, 0},
        {kSystemAppData, 0},
        {kSystemAppData, FixFlags::KeepSystemAppData},
        {L"AppData\\Local", 0},
    };
    const std::wstring outside = L"C:\\vantrell-repair-outside";
    for (const Case& c : cases) {
        SCOPED_TRACE(Narrow(c.folder) + " flags " + std::to_string(c.flags));
        Prepare();
        std::error_code ignored;
        std::filesystem::remove_all(outside, ignored);
        std::filesystem::create_directories(outside + L"\\inner");
        std::ofstream(std::filesystem::path(outside + L"\\precious.txt")) << "precious";
        std::ofstream(std::filesystem::path(outside + L"\\inner\\more.txt")) << "more";
        const std::wstring linked = oldProfile_ + L"\\" + c.folder;
        ASSERT_TRUE(MoveFileW(linked.c_str(), (linked + L" (moved away)").c_str())) << GetLastError();
        ASSERT_TRUE(PlantUnixLink(linked, outside));

        RepairInput repair = Input(c.flags, 10.0);
        RunRepair(repair, nullptr);

        // The folder elsewhere holds what it held, and nothing else.
        EXPECT_EQ("precious", ReadBytes(outside + L"\\precious.txt"));
        EXPECT_EQ("more", ReadBytes(outside + L"\\inner\\more.txt"));
        FileTree there = SumFiles(outside);
        EXPECT_EQ(2u, there.size()) << "something was put into the link's target";
        std::string log = ReadBytes(kLog);
        EXPECT_NE(std::string::npos, log.find("A link leads out of the profile here")) << log;
        RemoveUnixLinksTo(ProfilesDirectory().Text(), outside);
    }
    std::error_code ignored;
    std::filesystem::remove_all(outside, ignored);
}
