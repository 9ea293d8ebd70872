#include "repair/repair_rules.h"
#include "platform/command_line.h"
#include "tests/narrow.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <string>
#include <utility>
#include <vector>

namespace {

std::string ShowQuoted(const wchar_t* text) { return text == nullptr ? "(null)" : "\"" + Narrow(text) + "\""; }

TEST(LogTexts, StampFieldsArePaddedAndLongNumbersKeepTheirLastDigits)
{
    struct { uint32_t y, mo, d, h, mi, s, ms; const wchar_t* expected; } const cases[] = {
        {12024, 2, 3, 9, 7, 5, 45, L"2024/02/03 09:07:05:045"},   // a fifth year digit goes
        {7, 1, 1, 0, 0, 0, 0, L"0007/01/01 00:00:00:000"},
        {2024, 123, 456, 789, 100, 61, 1234, L"2024/23/56 89:00:61:234"},
    };
    for (const auto& c : cases) {
        WString stamp = FormatLogStamp(c.y, c.mo, c.d, c.h, c.mi, c.s, c.ms);
        EXPECT_EQ(std::wstring(c.expected), std::wstring(stamp.Text())) << ShowQuoted(stamp.Text());
    }
    WString entry = LogEntryText(L"2024/02/03 09:07:05:045", L"Repair operation complete.");
    EXPECT_EQ(std::wstring(L"\r\n2024/02/03 09:07:05:045: Repair operation complete."), std::wstring(entry.Text()));
    EXPECT_NE(std::wstring::npos, std::wstring(LogEndText(L"2024/02/03").Text()).find(L"2024/02/03 ***"));
    EXPECT_NE(std::wstring::npos, std::wstring(LogHeaderText()).find(L"Brenwick log"));
}

TEST(TextFileModes, OpenPlanMarkAndEncoding)
{
    struct { uint32_t mode; bool write; bool share; OpenDisposition disposition; } const plans[] = {
        {0x00, false, true, OpenDisposition::OpenExisting}, {0x81, true, true, OpenDisposition::OpenAlways},
        {0x02, true, true, OpenDisposition::CreateAlways},  {0x03, true, true, OpenDisposition::CreateAlways},
        {0x04, false, false, OpenDisposition::OpenExisting}, {0x1F0, false, true, OpenDisposition::OpenExisting},
    };
    for (const auto& c : plans) {
        TextFileOpenPlan plan = PlanTextFileOpen(c.mode);
        EXPECT_EQ(c.write, plan.writeAccess) << "mode " << c.mode;
        EXPECT_EQ(c.share, plan.shareRead) << "mode " << c.mode;
        EXPECT_EQ(static_cast<int>(c.disposition), static_cast<int>(plan.disposition)) << "mode " << c.mode;
    }

    struct { uint32_t mode; std::vector<uint8_t> mark; } const marks[] = {
        {0x20, {0xFF, 0xFE}}, {0x40, {0xFE, 0xFF}}, {0xE0, {0xEF, 0xBB, 0xBF}}, {0x60, {0xFF, 0xFE}}, {0x100, {}},
    };
    for (const auto& c : marks) {
        uint8_t bytes[3] = {0, 0, 0};
        uint32_t length = TextFileMark(c.mode, bytes);
        EXPECT_EQ(std::vector<uint8_t>(bytes, bytes + length), c.mark) << "mode " << c.mode;
    }

    // A recognised mark overrides the encoding bits; other bits stay.
    struct { uint32_t mode; std::vector<uint8_t> start; uint32_t expected; uint32_t markLength; } const read[] = {
        {0x21, {0xEF, 0xBB, 0xBF}, 0x81, 3}, {0x181, {0xFF, 0xFE, 0x41}, 0x21, 2},
        {0x81, {0xFE, 0xFF, 0x00}, 0x41, 2},
        {0x01, {'a', 'b', 'c'}, 0x01, 0},           // no mark: the mode as asked
        {0x01, {'a', 0xFF, 'c'}, 0x01, 0},          // half a UTF-16 mark is none
        {0x81, {0xEF, 0xBB}, 0x81, 0},              // two bytes of a UTF-8 mark are no mark
        {0x91, {0xFF, 0xFE}, 0x31, 2},
    };
    for (const auto& c : read) {
        uint32_t markLength = 99;
        uint32_t mode = ModeAfterMark(c.mode, c.start.data(), static_cast<uint32_t>(c.start.size()), &markLength);
        EXPECT_EQ(c.expected, mode) << "mode " << c.mode << " over " << c.start.size() << " bytes";
        EXPECT_EQ(c.markLength, markLength) << "mode " << c.mode;
    }

    const std::pair<uint32_t, TextEncoding> encodings[] = {
        {0x100, TextEncoding::Utf8}, {0xA0, TextEncoding::Utf8}, {0x60, TextEncoding::Utf16Le},
        {0x40, TextEncoding::Utf16Be}, {0x1F, TextEncoding::Ansi},
    };
    for (auto [mode, encoding] : encodings)
        EXPECT_EQ(encoding, EncodingOfMode(mode)) << "mode " << mode;
}

TEST(RepairCommandLine, EverySwitchAndResult)
{
    const wchar_t* const temp = L"brenwick_temp_admin";
    const struct {
        const char* what;
        std::vector<const wchar_t*> arguments;
        bool inTemp;
        const wchar_t* consoleUser;
        int show;
        RepairCommandAction action;
        int result;            // Refused
        int expectedShow;      // Window
        const wchar_t* fixAccount;
        int32_t fixFlags;
    } cases[] = {
        {"no arguments", {}, false, L"owner", 3, RepairCommandAction::Window, 0, 3, L"", 0},
        {"show default kept", {L"/brenwick"}, false, L"owner", 10, RepairCommandAction::Window, 0, 10, L"", 0},
        {"hidden becomes 5", {L"/brenwick"}, false, L"owner", 0, RepairCommandAction::Window, 0, 5, L"", 0},
        {"silent", {L"/brenwick", L"/silent"}, false, L"owner", 5, RepairCommandAction::Window, 0, 0, L"", 0},
        {"/fixuser last is ignored", {L"/brenwick", L"/fixuser"}, false, L"owner", 5, RepairCommandAction::Window,
         0, 5, L"", 0},
        {"quotes removed, flags in any case", {L"/FIXFLAG=3", L"/fixuser", L"\"m\"hart\"ley\""}, true, temp, 5,
         RepairCommandAction::Window, 0, 5, L"mhartley", 3},
        {"/fixflag= alone", {L"/fixflag=7", L"/fixflag=", L"/fixuser", L"a"}, true, temp, 5,
         RepairCommandAction::Window, 0, 5, L"a", 0},
        {"/fixflag=2x reads the digits", {L"/fixflag=2x", L"/fixuser", L"a", L"/silent"}, true, temp, 10,
         RepairCommandAction::Window, 0, 0, L"a", 2},
        {"fix from an ordinary administrator", {L"/brenwick", L"/fixuser", L"mhartley"}, false, L"owner", 5,
         RepairCommandAction::Refused, -1, 0, nullptr, 0},
        {"fix of the console user itself", {L"/fixuser", L"BRENWICK_temp_admin"}, true, temp, 5,
         RepairCommandAction::Refused, -2, 0, nullptr, 0},
        {"unknown (null) console user", {L"/brenwick"}, false, nullptr, 5, RepairCommandAction::Refused, -2, 0,
         nullptr, 0},
        {"cleanup after a refused fix still cleans up", {L"/fixuser", L"a", L"/CleanUp"}, false, L"owner", 5,
         RepairCommandAction::Cleanup, 0, 0, nullptr, 0},
        {"cleanup inside is ignored", {L"/brenwick", L"/cleanup"}, true, temp, 5, RepairCommandAction::Window, 0, 5,
         L"", 0},
        {"failed repair's cleanup inside", {L"/brenwick", L"/CLEANUPFAILED"}, true, temp, 5,
         RepairCommandAction::Cleanup, 0, 0, nullptr, 0},
        {"failed repair's cleanup outside is ignored", {L"/brenwick", L"/cleanupfailed"}, false, L"owner", 5,
         RepairCommandAction::Window, 0, 5, L"", 0},
    };
    for (const auto& c : cases) {
        RepairCommandInput input;
        input.inTempAccount = c.inTemp;
        input.consoleUserName = c.consoleUser;
        input.showCommand = c.show;
        RepairCommand command =
            ParseRepairArguments(static_cast<int>(c.arguments.size()), c.arguments.data(), input);
        EXPECT_EQ(static_cast<int>(c.action), static_cast<int>(command.action)) << c.what;
        // Only the failed repair's switch, only inside, cleans up in the temporary account.
        EXPECT_EQ(c.action == RepairCommandAction::Cleanup && c.inTemp, command.inTempAccount) << c.what;
        if (c.action == RepairCommandAction::Refused) {
            EXPECT_EQ(c.result, command.result) << c.what;
        }
        if (c.action == RepairCommandAction::Window) {
            EXPECT_EQ(c.expectedShow, command.showCommand) << c.what;
            EXPECT_EQ(std::wstring(c.fixAccount), std::wstring(command.fixAccount.Text()))
                << c.what << ": " << ShowQuoted(command.fixAccount.Text());
            EXPECT_EQ(c.fixFlags, command.fixFlags) << c.what;
        }
    }
}

// What the set-up, the shortcuts and the service write is what the tool
// reads back, in the account each is meant for.
TEST(RepairCommandLine, WrittenArgumentsReadBackAsTheirStart)
{
    const struct {
        RepairStart start;
        bool inTemp;
        RepairCommandAction action;
    } cases[] = {
        {RepairStart::FixUser, true, RepairCommandAction::Window},
        {RepairStart::Cleanup, false, RepairCommandAction::Cleanup},
        {RepairStart::CleanupFailed, true, RepairCommandAction::Cleanup},
        {RepairStart::Finish, false, RepairCommandAction::Finish},
    };
    for (const auto& c : cases) {
        const ArgumentList arguments(RepairArguments(c.start, L"Ana Lopez", 3).Text());
        RepairCommandInput input;
        input.inTempAccount = c.inTemp;
        input.consoleUserName = L"brenwick_temp_admin";
        const RepairCommand command = ParseRepairArguments(arguments.Count(), arguments.Data(), input);
        EXPECT_EQ(static_cast<int>(c.action), static_cast<int>(command.action)) << static_cast<int>(c.start);
        EXPECT_EQ(c.start == RepairStart::FixUser ? L"Ana Lopez" : L"", std::wstring(command.fixAccount.Text()));
        EXPECT_EQ(c.start == RepairStart::FixUser ? 3 : 0, command.fixFlags);
    }
}

TEST(SavedValues, OnlyAllowedNumbersAreValid)
{
    using K = SavedValueKind;
    struct { K kind; const wchar_t* text; bool present; bool valid; bool absent; uint32_t value; } const cases[] = {
        {K::UserPriv, L"2", true, true, false, 2}, {K::UserPriv, L"3", true, false, false, 0},
        {K::UserPriv, L"4294967295", true, false, false, 0},   // could not be read at set-up
        {K::UserPriv, nullptr, false, false, false, 0}, {K::UserPriv, L"", false, false, false, 0},
        {K::UserPriv, L"-1", true, false, false, 0}, {K::UserPriv, L"1x", true, false, false, 0},
        {K::UserPriv, L"00000000001", true, false, false, 0},   // eleven digits
        {K::UacState, L"5", true, true, false, 5}, {K::UacState, L"6", true, false, false, 0},
        {K::UacState, L"4294967295", true, true, true, 4294967295u},   // no value before the repair
        {K::UacState, L"4294967296", true, false, false, 0}, {K::LuaState, L"1", true, true, false, 1},
        {K::LuaState, L"2", true, false, false, 0}, {K::LuaState, L"4294967295", true, true, true, 4294967295u},
        {K::AadState, L"4321", true, true, true, 4321},
        {K::AadState, L"3", true, true, false, 3},   // whatever number the policy held
        {K::AadState, L"4294967295", true, true, false, 4294967295u}, {K::AadState, L"abc", true, false, false, 0},
    };
    for (const auto& c : cases) {
        SavedValue saved = CheckSavedValue(c.kind, c.text);
        const std::string what = ShowQuoted(SavedValueKey(c.kind)) + " = " + ShowQuoted(c.text);
        EXPECT_EQ(c.present, saved.present) << what;
        EXPECT_EQ(c.valid, saved.valid) << what;
        EXPECT_EQ(c.absent, saved.absent) << what;
        EXPECT_EQ(c.value, saved.value) << what;
    }
}

// Nothing valid saved never puts the repair's own setting in place of the
// earlier one: the value is left; a value absent before goes again.
TEST(SavedValues, PolicyRestoreFollowsWhatWasSaved)
{
    using K = SavedValueKind;
    struct { K kind; const wchar_t* saved; bool currentPresent; uint32_t current; PolicyRestore expected; } const cases[] = {
        {K::UacState, L"5", false, 0, PolicyRestore::Write}, {K::UacState, L"0", true, 0, PolicyRestore::Leave},
        {K::UacState, L"4294967295", true, 0, PolicyRestore::Delete},
        {K::UacState, L"4294967295", false, 0, PolicyRestore::Leave},
        {K::UacState, nullptr, true, 0, PolicyRestore::Leave},   // key or section missing
        {K::UacState, L"6", true, 0, PolicyRestore::Leave}, {K::AadState, L"0", true, 2, PolicyRestore::Write},
        {K::AadState, L"4321", true, 2, PolicyRestore::Delete},
    };
    for (const auto& c : cases) {
        PolicyRestore action = DecidePolicyRestore(CheckSavedValue(c.kind, c.saved), c.currentPresent, c.current);
        EXPECT_EQ(static_cast<int>(c.expected), static_cast<int>(action))
            << ShowQuoted(SavedValueKey(c.kind)) << " = " << ShowQuoted(c.saved) << ", current " << c.current
            << (c.currentPresent ? "" : " (absent)");
    }
}

TEST(ToolFolderReuse, OnlyATrustedFolderHoldingTheToolsOwnFilesIsKept)
{
    using E = ToolFolderEntry;
    const E exe{L"Brenwick.exe", false, false, true};
    const E ini{L"brenwick.INI", false, false, true};
    struct { const char* what; bool trustedOwner; std::vector<E> entries; bool reuse; } const cases[] = {
        {"empty and trusted", true, {}, true},
        {"an earlier set-up's files", true, {exe, ini, {L"BrenwickLog.txt", false, false, true},
                                              {L"BrenwickJournal.txt", false, false, true},
                                              {L"BrenwickJournal.txt.new", false, false, true},
                                              {L"BrenwickPicture", false, false, true}}, true},
        {"our files but a user's folder", false, {exe, ini}, false},
        {"a planted library", true, {exe, {L"netapi32.dll", false, false, true}}, false},
        {"our program, a user's", true, {{L"Brenwick.exe", false, false, false}}, false},
        {"a sub-folder of our name", true, {{L"BrenwickPicture", true, false, true}}, false},
        {"a link of our name", true, {{L"Brenwick.ini", false, true, true}}, false},
        {"a name that only starts like ours", true, {{L"Brenwick.exe.local", false, false, true}}, false},
        {"no name", true, {{nullptr, false, false, true}}, false},
    };
    for (const auto& c : cases)
        EXPECT_EQ(c.reuse, MayReuseToolFolder(c.trustedOwner, c.entries.data(), static_cast<uint32_t>(c.entries.size())))
            << c.what;
    EXPECT_FALSE(MayReuseToolFolder(true, nullptr, 1));
    EXPECT_FALSE(IsToolFolderFileName(L"Brenwick"));
}

}  // namespace
