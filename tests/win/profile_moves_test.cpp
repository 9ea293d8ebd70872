// The repair's permissions on the old profile: the new account's own DACL
// where the fresh profile has none to give, and one pass for each folder
// directly inside the old profile.
#include <gtest/gtest.h>

#include <windows.h>

#include <string>
#include <vector>

#include "platform/handles.h"
#include "platform/security.h"
#include "repair/profile_moves.h"
#include "sandbox/sandbox.h"
#include "tests/win/test_support.h"

namespace {

constexpr wchar_t kNewSid[] = L"S-1-5-21-1111-2222-3333-1005";
constexpr DWORD kBoth = OBJECT_INHERIT_ACE | CONTAINER_INHERIT_ACE;

}  // namespace

// Wine keeps no DACL on files, so the entries are read from the DACL the
// repair would set. The installer's account is named without its domain; a
// machine that does not know it by that name leaves it out, as any SID it
// cannot make.
TEST(NewAccountDacl, EntriesFollowTheVersion_WineKeepsNoFileDacls)
{
    LocalSid installerSid;
    const bool installerKnown = SidFromName(installerSid, L"TrustedInstaller");
    const Ace account{kNewSid, GENERIC_ALL, kBoth}, system{L"S-1-5-18", GENERIC_ALL, kBoth},
        administrators{L"S-1-5-32-544", GENERIC_ALL, kBoth}, installer{SidString(installerSid.Get()), GENERIC_ALL, kBoth},
        packages{L"S-1-15-2-1", GENERIC_READ, kBoth}, restricted{L"S-1-15-2-2", GENERIC_READ, kBoth};
    struct {
        double version;
        std::vector<Ace> expected;
    } cases[] = {
        {5.1, {account, system, administrators}},
        {6.0, {account, system, administrators, installer}},
        {6.1, {account, system, administrators, installer}},
        {6.2, {account, system, administrators, packages, restricted, installer}},
    };
    for (auto& c : cases) {
        if (!installerKnown && c.expected.back() == installer)
            c.expected.pop_back();
        RepairContext context;
        context.version = c.version;
        context.journal.newSid = kNewSid;
        ASSERT_TRUE(BuildNewAccountDacl(context)) << c.version;
        EXPECT_EQ(c.expected, Aces(context.dacl.Get())) << c.version;

        // Built once: a later call keeps what the first one made.
        context.version = 5.1;
        ASSERT_TRUE(BuildNewAccountDacl(context));
        EXPECT_EQ(c.expected.size(), Aces(context.dacl.Get()).size()) << c.version;
    }
    RepairContext unreadable;
    unreadable.journal.newSid = L"S-1-5-21-not-a-sid";
    EXPECT_FALSE(BuildNewAccountDacl(unreadable));
}

// Each folder directly inside gets the permissions of its fresh namesake or,
// without one, the new account's DACL; files and deeper folders are not
// visited. Each pass ends at its power-cut point. A folder that refuses the
// walk, and a file with another name elsewhere, keep their permissions and
// are logged and counted.
TEST(ProfilePermissions, EveryFolderDirectlyInsideTheOldProfileGetsOnePass)
{
    std::wstring error;
    ASSERT_TRUE(sandbox::ResetMachine(sandbox::ScenarioPath(L"default"), &error)) << Show(error);
    const std::wstring root = TestFolder(L"profile-permissions");
    const std::wstring fresh = root + L"\\fresh", old = root + L"\\old";
    for (const wchar_t* file : {L"\\Documents\\a.txt", L"\\AppData\\b.txt"})
        ASSERT_TRUE(WriteTextFile(fresh + file, "fresh"));
    for (const wchar_t* file : {L"\\Documents\\c.txt", L"\\Music\\d.txt", L"\\Photos\\2024\\e.txt", L"\\loose.txt",
                                L"\\Held\\f.txt"})
        ASSERT_TRUE(WriteTextFile(old + file, "old"));
    ASSERT_TRUE(WriteTextFile(root + L"\\elsewhere.txt", "elsewhere"));
    ASSERT_TRUE(CreateHardLinkW((old + L"\\Music\\linked.txt").c_str(), (root + L"\\elsewhere.txt").c_str(), nullptr));
    // Held open by another program, sharing nothing: the walk cannot open it.
    UniqueFileHandle held(CreateFileW((old + L"\\Held").c_str(), GENERIC_READ, 0, nullptr, OPEN_EXISTING,
                                      FILE_FLAG_BACKUP_SEMANTICS, nullptr));
    ASSERT_TRUE(held);

    RepairContext context;
    context.version = 6.1;
    context.journal.newSid = kNewSid;
    context.input.logPath = root + L"\\repair.log";
    sandbox::ClearPowerCutPoints();
    GiveProfilePermissions(context, fresh.c_str(), old.c_str());

    int passes = 0;
    for (const std::wstring& point : sandbox::PowerCutPointsPassed())
        passes += point == L"step 8 folder entry" ? 1 : 0;
    EXPECT_EQ(3, passes) << "Documents, Music and Photos";
    const std::string log = ReadTextFile(context.input.logPath);
    for (const char* said : {"refused; the new account did not get its permissions on", "\\Held",
                             "1 folders refused the permission pass", "(a hard link) kept its permissions",
                             "\\Music\\linked.txt", "0 refused, 1 hard-linked"})
        EXPECT_NE(std::string::npos, log.find(said)) << said << " in " << log;
    EXPECT_EQ(std::string::npos, log.find("\\Documents")) << log;
    EXPECT_EQ("old", ReadTextFile(old + L"\\Photos\\2024\\e.txt"));
}
