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
#include <functional>
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
constexpr wchar_t kJournal[] = L"C:\\Brenwick\\BrenwickJournal.txt";
constexpr wchar_t kProfileList[] = L"SOFTWARE\\Microsoft\\Windows NT\\CurrentVersion\\ProfileList\\";
constexpr wchar_t kBackupKey[] = L"Software\\TaskbandBrenwickKey";
constexpr wchar_t kOwnersCleanupLink[] =
    L"\\AppData\\Roaming\\Microsoft\\Windows\\Start Menu\\Programs\\Startup\\BrenwickCleanup.lnk";
constexpr wchar_t kTaskband[] = L"\\Software\\Microsoft\\Windows\\CurrentVersion\\Explorer\\Taskband";

bool IsUserHiveFile(const std::wstring& path)
{
    return path.find(L'\\') == std::wstring::npos && StartsWithNoCase(path, L"NTUSER.");
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
        WString sid, profile;
        ASSERT_TRUE(GetAccountSidAndProfile(kAccount, sid, &profile));
        oldSid_ = sid.Text();
        oldProfile_ = profile.Text();
        // A mark of the old system app data, to see whether it was replaced.
        std::ofstream(std::filesystem::path(oldProfile_ + L"\\" + kSystemAppData + L"old-settings.txt")) << "old";
        before_ = SumFiles(oldProfile_);
        ASSERT_GE(before_.size(), 300u);
        picture_ = PictureColour(kAccount, 10.0);
        wchar_t startup[MAX_PATH] = L"", desktop[MAX_PATH] = L"";
        ASSERT_EQ(S_OK, machine::SHGetFolderPathW(nullptr, CSIDL_STARTUP, nullptr, 0, startup));
        ASSERT_EQ(S_OK, machine::SHGetFolderPathW(nullptr, CSIDL_DESKTOPDIRECTORY, nullptr, 0, desktop));
        startupLink_ = std::wstring(startup) + L"\\BrenwickTask.lnk";
        desktopLink_ = std::wstring(desktop) + L"\\Fix pweber account profile.lnk";
        failedCleanupLink_ = std::wstring(startup) + L"\\BrenwickCleanup.lnk";
        ASSERT_TRUE(WriteTextFile(startupLink_, "link") && WriteTextFile(desktopLink_, "link"));
        DeleteFileW(failedCleanupLink_.c_str());
    }

    static RepairInput Input(int32_t flags = 0, double version = 10.0)
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

    // An account of the repaired account's name that is no administrator.
    static void AddStandardAccount()
    {
        USER_INFO_1 info{};
        info.usri1_name = const_cast<LPWSTR>(kAccount);
        info.usri1_priv = USER_PRIV_USER;
        info.usri1_flags = UF_SCRIPT | UF_DONT_EXPIRE_PASSWD;
        ASSERT_EQ(static_cast<NET_API_STATUS>(NERR_Success),
                  machine::NetUserAdd(nullptr, 1, reinterpret_cast<LPBYTE>(&info), nullptr));
    }

    // A journal of that text, in the encoding the repair writes.
    static void PlantJournal(const std::wstring& text)
    {
        std::wstring marked = L"\xFEFF" + text;
        std::ofstream(std::filesystem::path(kJournal), std::ios::binary)
            .write(reinterpret_cast<const char*>(marked.data()),
                   static_cast<std::streamsize>(marked.size() * sizeof(wchar_t)));
    }

    RepairJournal Journal()
    {
        RepairJournal journal;
        std::wstring problem;
        EXPECT_EQ(JournalRead::Valid, ReadJournal(kJournal, journal, problem))
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

        std::wstring newSid = AccountSidOf(kAccount);
        DWORD privilege = 99;
        EXPECT_TRUE(AccountExists(kAccount, &privilege));
        EXPECT_EQ(static_cast<DWORD>(USER_PRIV_USER), privilege) << "made with its saved type, never more";
        EXPECT_FALSE(newSid.empty());
        EXPECT_NE(oldSid_, newSid);
        EXPECT_EQ(newSid, journal.newSid);
        EXPECT_EQ(L"Paula Weber", FullNameOf(kAccount));
        EXPECT_EQ(oldProfile_, MachineValue((std::wstring(kProfileList) + newSid).c_str(), L"ProfileImagePath"));
        EXPECT_FALSE(KeyOpens(HKEY_LOCAL_MACHINE, std::wstring(kProfileList) + oldSid_)) << "the old SID's entry is gone";
        EXPECT_FALSE(KeyOpens(HKEY_LOCAL_MACHINE, kBackupKey)) << "the pins' backup is removed once copied";
        EXPECT_FALSE(PathExists(journal.newProfile)) << Narrow(journal.newProfile);
        EXPECT_NE(journal.newProfile, oldProfile_);

        // Every file of the owner, byte for byte; only the replaced places differ.
        bool packagesReplaced = version >= 6.2 && (flags & FixFlags::KeepAppPackages) == 0;
        bool appDataReplaced = (flags & FixFlags::KeepSystemAppData) == 0;
        auto rule = [&](const std::wstring& path) {
            bool packages = StartsWithNoCase(path, kPackages), appData = StartsWithNoCase(path, kSystemAppData);
            if (IsUserHiveFile(path) || _wcsicmp(path.c_str(), L"AppData\\Local\\Microsoft\\Windows\\UsrClass.dat") == 0)
                return FileRule::Skip;
            if ((packagesReplaced && packages) || (appDataReplaced && appData))
                return packages || path.find(L"old-settings") != std::wstring::npos ? FileRule::Gone : FileRule::Skip;
            return FileRule::Compare;
        };
        FileTree after = SumFiles(oldProfile_);
        std::vector<std::wstring> compared;
        EXPECT_EQ("", FileDifferences(before_, after, rule, false, &compared));
        EXPECT_GE(compared.size(), 300u);
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
        DWORD size = 0;
        EXPECT_EQ(ERROR_SUCCESS,
                  RegGetValueW(HKEY_USERS, (newSid + kTaskband).c_str(), L"Favorites", RRF_RT_ANY, nullptr, nullptr, &size));
        EXPECT_GT(size, 8u);
        machine::RegUnLoadKeyW(HKEY_USERS, newSid.c_str());

        EXPECT_EQ(picture_, PictureColour(kAccount, version)) << "the picture was carried over";

        // The hand-over: no automatic sign-in into it, and the clean-up's
        // shortcuts.
        EXPECT_NE(L"pweber", MachineValue(kWinlogonKey, L"DefaultUserName"));
        EXPECT_TRUE(PathExists(oldProfile_ + L"\\Desktop\\BrenwickCleanup.lnk"));
        EXPECT_TRUE(PathExists(oldProfile_ + kOwnersCleanupLink));
        // A deleted file stays in sight while another program still has it open.
        EXPECT_TRUE(WaitUntil("the fix run's shortcuts to go with the hand-over",
                              [&] { return !PathExists(startupLink_) && !PathExists(desktopLink_); }));

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
        auto rule = [](const std::wstring& path) { return IsUserHiveFile(path) ? FileRule::Skip : FileRule::Compare; };
        std::vector<std::wstring> compared;
        EXPECT_EQ("", FileDifferences(before_, SumFiles(oldProfile_), rule, false, &compared)) << what;
        EXPECT_GE(compared.size(), 300u) << what;
    }

    uint32_t picture_ = 0;
    std::wstring oldSid_, oldProfile_;
    std::wstring startupLink_, desktopLink_, failedCleanupLink_;
    FileTree before_;
};

// ---------------------------------------------------------------------------
// Runs that end repaired: on a system before store apps (which the
// end-to-end repair, on 10.0 with every option combination, cannot present),
// resumed from work a power cut interrupted inside a step where no point of
// the kill-point suite falls (its cuts after the old account's deletion and
// the new one's creation are its own), and after a
// journal with a value out of place, which is never acted on: the repair
// says so and starts from the beginning, which reads everything afresh.

TEST_F(RepairRun, EveryRunThatCanEndsRepaired)
{
    auto journalSays = [&](uint32_t mark) {
        RepairJournal journal = Journal();
        journal.marks |= mark;
        ASSERT_TRUE(WriteJournal(kJournal, journal));
    };
    const std::wstring journalTail = L"NewProfile=\r\nStepsDone=2\r\nTries=0\r\nHiveCount=0\r\nMarks=0\r\nOutcome=0\r\n";
    struct Case {
        const char* what;
        int32_t flags;
        double version;
        RepairStep cutAfter;          // Count: no earlier run
        std::function<void()> cut;    // what the cut left besides the journal
        const char* logged;
    } const cases[] = {
        {"version 6.1, nothing kept", 0, 6.1, RepairStep::Count, nullptr, nullptr},
        {"version 6.1, system app data kept", FixFlags::KeepSystemAppData, 6.1, RepairStep::Count, nullptr, nullptr},
        // The old files went, the fresh one was moved, the journal not yet told.
        {"a hive moved before the cut", 0, 10.0, RepairStep::UserHive,
         [&] {
             journalSays(JournalMark::UserOldRemoved);
             ASSERT_TRUE(DeleteFileW((oldProfile_ + L"\\NTUSER.DAT").c_str()));
             ASSERT_TRUE(MoveFileExW((Journal().newProfile + L"\\NTUSER.DAT").c_str(),
                                     (oldProfile_ + L"\\NTUSER.DAT").c_str(), 0));
         },
         nullptr},
        {"a journal's old folder outside the profiles directory", 0, 10.0, RepairStep::Count,
         [&] {
             PlantJournal(L"Account=pweber\r\nFlags=0\r\nOldSid=S-1-5-21-1-2-3-1010\r\nOldProfile=C:\\Windows\r\nNewSid=\r\n" +
                          journalTail);
         },
         "The repair's journal cannot be used"},
        {"a journal's SID that is a path", 0, 10.0, RepairStep::Count,
         [&] {
             PlantJournal(L"Account=pweber\r\nFlags=0\r\nOldSid=..\\..\\x\r\nOldProfile=C:\\users\\pweber\r\nNewSid=\r\n" +
                          journalTail);
         },
         "The repair's journal cannot be used"},
        {"a journal cut in the middle", 0, 10.0, RepairStep::Count,
         [] { PlantJournal(L"Account=pweber\r\nFlags=0\r\nOldSid=S-1-5-21"); }, "The repair's journal cannot be used"},
    };
    for (const Case& c : cases) {
        Prepare();
        if (c.cutAfter != RepairStep::Count)
            RunRepairUntil(Input(), nullptr, static_cast<uint32_t>(c.cutAfter));
        if (c.cut)
            c.cut();
        EXPECT_EQ(1u, RunRepair(Input(c.flags, c.version), nullptr)) << c.what;
        if (c.logged != nullptr) {
            EXPECT_NE(std::string::npos, ReadBytes(kLog).find(c.logged)) << c.what << "\n" << ReadBytes(kLog);
        }
        ExpectRepaired(c.flags, c.version, c.what);
    }
}

// The finish runs as SYSTEM the tool folder's protected copy, whatever the
// fix run was started from; a service of its name that runs anything else
// is replaced.
TEST_F(RepairRun, TheFinishServiceRunsTheToolFoldersCopy)
{
    Prepare();
    UniqueServiceHandle manager(
        machine::OpenSCManagerW(nullptr, nullptr, SC_MANAGER_CONNECT | SC_MANAGER_CREATE_SERVICE));
    ASSERT_TRUE(UniqueServiceHandle(machine::CreateServiceW(
        manager.Get(), L"BrenwickFinish", L"planted", SERVICE_QUERY_STATUS, SERVICE_WIN32_OWN_PROCESS,
        SERVICE_AUTO_START, SERVICE_ERROR_NORMAL, L"C:\\Users\\Public\\other.exe", nullptr, nullptr, nullptr,
        nullptr, nullptr)));
    RepairInput input = Input();
    input.programPath = L"C:\\Users\\Public\\Downloads\\vantrell.exe";
    EXPECT_EQ(1u, RunRepair(input, nullptr));
    std::wstring binary;   // the last one registered
    for (const sandbox::RecordedAction& action : sandbox::RecordedActions())
        binary = action.call == L"CreateServiceW" ? action.details.at(L"binary") : binary;
    EXPECT_EQ(L"\"C:\\Brenwick\\Brenwick.exe\" /brenwick /finish", binary);
}

// The new account added and cut before its full name, type and profile,
// without the journal's word that this repair began it: an account of that
// name that is not an administrator is someone else's and is not taken over.
TEST_F(RepairRun, ACreationCutWithoutTheJournalsWordLeavesTheAccountAlone)
{
    Prepare();
    RunRepairUntil(Input(), nullptr, static_cast<uint32_t>(RepairStep::CreateNew));
    AddStandardAccount();
    EXPECT_EQ(0u, RunRepair(Input(), nullptr)) << ReadBytes(kLog);
    DWORD privilege = 99;
    EXPECT_TRUE(AccountExists(kAccount, &privilege));
    EXPECT_EQ(static_cast<DWORD>(USER_PRIV_USER), privilege) << "its type is left alone";
    EXPECT_EQ(RepairOutcome::Failed, Journal().outcome);
    ExpectOwnersFilesUnchanged("someone else's account");
}

// ---------------------------------------------------------------------------
// Accounts and files the repair does not expect.

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

// An account without a profile fails on the first row and changes nothing;
// a run cut after the deletion shows the rows so far; the run resuming it
// shows every row alike, the first with another result than the failure's.
TEST_F(RepairRun, AnAccountWithoutAProfileFailsOnTheFirstRowAndTheReportShowsEachRowOnce)
{
    Prepare();
    std::wstring visitorSid = AccountSidOf(L"visitor");
    ASSERT_FALSE(visitorSid.empty());
    std::wstring autoLogon = MachineValue(kWinlogonKey, L"DefaultUserName");
    RepairInput other = Input();
    other.account = L"visitor";
    RecordedReport failed, cut, report;
    EXPECT_EQ(0u, RunRepair(other, &failed));
    EXPECT_EQ(visitorSid, AccountSidOf(L"visitor")) << "the account is untouched";
    EXPECT_EQ(autoLogon, MachineValue(kWinlogonKey, L"DefaultUserName"));
    EXPECT_FALSE(KeyOpens(HKEY_LOCAL_MACHINE, kBackupKey));
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

    Prepare();
    RunRepairUntil(Input(), &cut, static_cast<uint32_t>(RepairStep::CreateNew));
    EXPECT_EQ((std::vector<uint32_t>{0, 1}), cut.steps);
    ASSERT_EQ(1u, RunRepair(Input(), &report));
    ASSERT_EQ(4u, report.rows.size()) << Joined(report.rows, "\n");
    for (const std::wstring& row : report.rows)
        EXPECT_EQ(ResultOf(report.rows[0]), ResultOf(row)) << Joined(report.rows, "\n");
    EXPECT_EQ(std::vector<std::wstring>(report.rows.begin(), report.rows.begin() + 2), cut.rows) << Joined(cut.rows, "\n");
    std::vector<uint32_t> resumed;
    for (uint32_t step = static_cast<uint32_t>(RepairStep::CreateNew); step < kRepairStepCount; ++step)
        resumed.push_back(step);
    EXPECT_EQ(resumed, report.steps);
    EXPECT_EQ(2, report.attention) << "after the new account and after the store-app data";
    ASSERT_EQ(1u, failed.rows.size()) << Joined(failed.rows, "\n");
    EXPECT_EQ(report.rows[0].substr(0, report.rows[0].find(L'\n')), failed.rows[0].substr(0, failed.rows[0].find(L'\n')));
    EXPECT_NE(ResultOf(report.rows[0]), ResultOf(failed.rows[0]));
    EXPECT_TRUE(failed.steps.empty());
}

TEST_F(RepairRun, ALockedHiveIsReplacedAtTheRestart)
{
    Prepare();
    RepairInput repair = Input();
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
    EXPECT_TRUE(registered) << Joined(pending, "\n");

    // Run again by hand: nothing is done again, nor the rename registered twice.
    size_t count = pending.size();
    RunRepair(repair, nullptr);
    EXPECT_EQ(count, PendingRenames().size());
    EXPECT_EQ(1u, Occurrences(ReadBytes(kLog), " account has already ended; nothing was done again.")) << ReadBytes(kLog);

    sandbox::RebootOutcome outcome = sandbox::Reboot(L"repair test");
    EXPECT_GE(outcome.renamesDone, 1u);
    EXPECT_EQ(0u, outcome.renamesFailed);
    ExpectRepaired(0, 10.0, "after the restart");
}

TEST_F(RepairRun, WithoutAStateFileTheAccountNameIsTheFullName)
{
    Prepare(false);
    EXPECT_EQ(1u, RunRepair(Input(3), nullptr));
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
    RunRepairUntil(Input(), nullptr, static_cast<uint32_t>(RepairStep::ProfileEntry));
    RepairJournal journal = Journal();
    std::wstring fresh = journal.newProfile;
    for (const std::wstring& folder : {oldProfile_, oldProfile_ + L"\\Documents"}) {
        journal.newProfile = folder;
        ASSERT_TRUE(WriteJournal(kJournal, journal));
        EXPECT_EQ(0u, RunRepair(Input(), nullptr)) << "no hive was put in place";
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

// The carried picture keeps all of itself, squeezed into the square, as
// the account's picture was shown before the repair.
TEST_F(RepairRun, TheCarriedPictureIsStretchedNotCropped)
{
    Prepare();
    RunRepairUntil(Input(), nullptr, static_cast<uint32_t>(RepairStep::DeleteOld));
    WString copy = PictureCopyPath(kToolFolder);
    ASSERT_TRUE(WriteWidePicture(copy.Text()));
    ASSERT_EQ(1u, RunRepair(Input(), nullptr));
    EXPECT_EQ(0x00FF00u, PictureColour(kAccount, 10.0, 0.1)) << "the green end is in the picture";
    EXPECT_EQ(0x0000FFu, PictureColour(kAccount, 10.0, 0.5));
}

// After a repair the account has no password: the clean-up says so and how to set one.
TEST_F(RepairRun, TheFinishTellsThatTheAccountHasNoPassword)
{
    Prepare();
    ASSERT_EQ(1u, RunRepair(Input(3), nullptr));
    EXPECT_EQ(FinishResult::Done, FinishRepair(CleanupAs(nullptr)));
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
    EXPECT_EQ(static_cast<DWORD>(USER_PRIV_USER), privilege) << "its saved type";
    EXPECT_FALSE(AccountExists(kTempAccountName));
}

// ---------------------------------------------------------------------------
// A finish cut short runs again at the next start and finishes.

TEST_F(RepairRun, AFinishRunAgainAfterItsEndLineDoesNotCloseTheLogTwice)
{
    Prepare();
    ASSERT_EQ(1u, RunRepair(Input(), nullptr));
    // The first clean-up wrote its end line; the power failed before its
    // shortcuts and the journal went.
    RepairJournal journal = Journal();
    journal.marks |= JournalMark::CleanupSignIn | JournalMark::CleanupEnded;
    ASSERT_TRUE(WriteJournal(kJournal, journal));
    WriteLogEntry(kLog, L"Repair operation complete.", LogFlags::EndLine);
    // Someone's later choice, which a sign-in put back already must not undo.
    RegSetKeyValueW(HKEY_LOCAL_MACHINE, kWinlogonKey, L"DefaultUserName", REG_SZ, L"jokafor", sizeof(L"jokafor"));
    EXPECT_EQ(FinishResult::Done, FinishRepair(CleanupAs(nullptr)));
    std::string log = ReadBytes(kLog);
    EXPECT_EQ(1u, Occurrences(log, "*** End of repair operation")) << log;
    EXPECT_EQ(L"jokafor", MachineValue(kWinlogonKey, L"DefaultUserName")) << "the sign-in was put back already";
    EXPECT_FALSE(PathExists(kJournal));
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
        RunRepairUntil(Input(), nullptr, static_cast<uint32_t>(c.step));
        RepairJournal journal = Journal();
        journal.tries = kMaxStepTries;
        ASSERT_TRUE(WriteJournal(kJournal, journal));
        EXPECT_EQ(0u, RunRepair(Input(), nullptr));
        EXPECT_EQ(c.outcome, Journal().outcome);
        std::string log = ReadBytes(kLog), line = c.logLine;
        if (line.find("%s") != std::string::npos)
            line.replace(line.find("%s"), 2, Narrow(oldProfile_));
        EXPECT_NE(std::string::npos, log.find(line)) << log;
        EXPECT_FALSE(PathExists(startupLink_)) << "no loop through the restarts";
        EXPECT_EQ(c.cleanUpInTemporaryAccount, PathExists(failedCleanupLink_));
        EXPECT_NE(c.cleanUpInTemporaryAccount, PathExists(oldProfile_ + kOwnersCleanupLink));
        if (c.account == Account::BackNew) {
            EXPECT_NE(L"pweber", MachineValue(kWinlogonKey, L"DefaultUserName")) << "it signs in by itself";
            continue;
        }
        if (c.account == Account::Untouched)
            EXPECT_EQ(oldSid_, AccountSidOf(kAccount)) << "the account was not touched";
        else
            EXPECT_FALSE(AccountExists(kAccount));
        ExpectOwnersFilesUnchanged("cut three times");

        // The clean-up in the temporary account says what was not done.
        EXPECT_EQ(-13, RunCleanup(CleanupAs(kTempAccountName, true)));
        log = ReadBytes(kLog);
        EXPECT_NE(std::string::npos, log.find("The \"pweber\" account was not repaired.")) << log;
        EXPECT_EQ(1u, Occurrences(log, "*** End of repair operation")) << log;
        EXPECT_FALSE(PathExists(failedCleanupLink_));
        EXPECT_FALSE(PathExists(kJournal));
        EXPECT_NE(L"1", MachineValue(kWinlogonKey, L"AutoAdminLogon")) << "automatic sign-in is off";
    }
}

}  // namespace

// ---------------------------------------------------------------------------
// The account's owner may have made any folder the repair works on a link
// to a folder elsewhere before the repair. Wine shows a Unix link as a
// junction; the test makes one with the system's own ln, as Wine cannot.

TEST_F(RepairRun, AFolderBelowTheOldProfileMadeALinkIsLeftAloneWithItsTarget_LinkOnTheWayGuard)
{
    struct Case {
        const wchar_t* folder;   // below the old profile, made a link
        int32_t flags;
        bool shortcut;           // the clean-up's shortcut belongs there: no claim of success without it
    } const cases[] = {
        {L"AppData\\Local\\Packages", 0, false},
        {L"AppData\\Local\\Microsoft\\Windows", 0, false},
        {L"AppData\\Local\\Microsoft\\Windows", FixFlags::KeepSystemAppData, false},
        {L"AppData\\Local", 0, false},
        {L"Desktop", 0, true},
        {L"AppData\\Roaming\\Microsoft\\Windows\\Start Menu\\Programs\\Startup", 0, true},
        {L"AppData\\Roaming", 0, true},
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
        std::filesystem::create_directories(linked, ignored);
        ASSERT_TRUE(MoveFileW(linked.c_str(), (linked + L" (moved away)").c_str())) << GetLastError();
        ASSERT_TRUE(PlantUnixLink(linked, outside));

        RunRepair(Input(c.flags), nullptr);

        // The folder elsewhere holds what it held, and nothing else.
        EXPECT_EQ("precious", ReadBytes(outside + L"\\precious.txt"));
        EXPECT_EQ("more", ReadBytes(outside + L"\\inner\\more.txt"));
        FileTree there = SumFiles(outside);
        EXPECT_EQ(2u, there.size()) << "something was put into the link's target";
        std::string log = ReadBytes(kLog);
        EXPECT_NE(std::string::npos, log.find("A link leads out of the profile here")) << log;
        if (c.shortcut) {
            EXPECT_EQ(std::string::npos, log.find("account was successfully repaired")) << log;
        }
        RemoveUnixLinksTo(ProfilesDirectory().Text(), outside);
    }
    std::error_code ignored;
    std::filesystem::remove_all(outside, ignored);
}

// The owner may also have made the clean-up's shortcut names hard links to
// files elsewhere: no name with other names is removed or written through.
TEST_F(RepairRun, HardLinksAtTheShortcutNamesAreRefusedAndTheFilesTheyNameKept)
{
    Prepare();
    const std::wstring outside[] = {L"C:\\vantrell-hard-link-1.txt", L"C:\\vantrell-hard-link-2.txt"};
    const std::wstring links[] = {oldProfile_ + L"\\Desktop\\BrenwickCleanup.lnk", oldProfile_ + kOwnersCleanupLink};
    for (int i = 0; i < 2; ++i) {
        std::ofstream(std::filesystem::path(outside[i])) << "precious";
        std::filesystem::create_directories(std::filesystem::path(links[i]).parent_path());
        ASSERT_TRUE(CreateHardLinkW(links[i].c_str(), outside[i].c_str(), nullptr)) << GetLastError();
    }
    RunRepair(Input(), nullptr);
    for (const std::wstring& file : outside) {
        EXPECT_EQ("precious", ReadBytes(file));
        DeleteFileW(file.c_str());
    }
    const std::string log = ReadBytes(kLog);
    EXPECT_EQ(2u, Occurrences(log, "The shortcut's name was refused")) << log;
    EXPECT_EQ(std::string::npos, log.find("account was successfully repaired")) << log;
}
