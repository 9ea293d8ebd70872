#include "repair/repair_rules.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <string>
#include <vector>

namespace {

std::string Show(const wchar_t* text)
{
    if (text == nullptr)
        return "(null)";
    std::string shown = "\"";
    for (; *text != L'\0'; ++text) {
        uint32_t unit = static_cast<uint32_t>(*text);
        if (unit >= 0x20 && unit < 0x7F)
            shown += static_cast<char>(unit);
        else if (unit == '\r')
            shown += "\\r";
        else if (unit == '\n')
            shown += "\\n";
        else if (unit == '\t')
            shown += "\\t";
        else
            shown += "\\u" + std::to_string(unit);
    }
    return shown + "\"";
}

std::wstring Wide(WString text) { return std::wstring(text.Text()); }

// ---------------------------------------------------------------------------
// The log's texts

TEST(LogStamp, FieldsArePaddedAndLongNumbersKeepTheirLastDigits)
{
    struct { uint32_t y, mo, d, h, mi, s, ms; const wchar_t* expected; } const cases[] = {
        {2024, 2, 3, 9, 7, 5, 45, L"2024/02/03 09:07:05:045"},
        {2026, 12, 31, 23, 59, 59, 999, L"2026/12/31 23:59:59:999"},
        {12024, 2, 3, 9, 7, 5, 45, L"2024/02/03 09:07:05:045"},   // a fifth year digit goes
        {7, 1, 1, 0, 0, 0, 0, L"0007/01/01 00:00:00:000"},
        {2024, 123, 456, 789, 100, 61, 1234, L"2024/23/56 89:00:61:234"},
    };
    for (const auto& c : cases) {
        WString stamp = FormatLogStamp(c.y, c.mo, c.d, c.h, c.mi, c.s, c.ms);
        EXPECT_EQ(std::wstring(c.expected), std::wstring(stamp.Text())) << Show(stamp.Text());
    }
}

TEST(LogTexts, HeaderEntryAndEndLine)
{
    EXPECT_EQ(std::wstring(L"\r\n\t************ Brenwick log ************\r\n"), std::wstring(LogHeaderText()));
    EXPECT_EQ(std::wstring(L"\r\n2024/02/03 09:07:05:045: Repair operation complete."),
              Wide(LogEntryText(L"2024/02/03 09:07:05:045", L"Repair operation complete.")));
    EXPECT_EQ(std::wstring(L"\r\n2024/02/03 09:07:05:045: "), Wide(LogEntryText(L"2024/02/03 09:07:05:045", L"")));
    EXPECT_EQ(std::wstring(L"\r\n\r\n\t*** End of repair operation 2024/02/03 09:07:05:045 ***"),
              Wide(LogEndText(L"2024/02/03 09:07:05:045")));
}

// ---------------------------------------------------------------------------
// The text file's mode word

TEST(TextFileModes, OpenPlanByBits)
{
    struct { uint32_t mode; bool write; bool share; OpenDisposition disposition; } const cases[] = {
        {0x00, false, true, OpenDisposition::OpenExisting},
        {0x01, true, true, OpenDisposition::OpenAlways},
        {0x02, true, true, OpenDisposition::CreateAlways},
        {0x03, true, true, OpenDisposition::CreateAlways},
        {0x81, true, true, OpenDisposition::OpenAlways},
        {0x82, true, true, OpenDisposition::CreateAlways},
        {0x04, false, false, OpenDisposition::OpenExisting},
        {0x05, true, false, OpenDisposition::OpenAlways},
        {0x1F0, false, true, OpenDisposition::OpenExisting},
    };
    for (const auto& c : cases) {
        TextFileOpenPlan plan = PlanTextFileOpen(c.mode);
        EXPECT_EQ(c.write, plan.writeAccess) << "mode " << c.mode;
        EXPECT_EQ(c.share, plan.shareRead) << "mode " << c.mode;
        EXPECT_EQ(static_cast<int>(c.disposition), static_cast<int>(plan.disposition)) << "mode " << c.mode;
    }
}

TEST(TextFileModes, MarkWrittenForAnEmptyFile)
{
    struct { uint32_t mode; std::vector<uint8_t> mark; } const cases[] = {
        {0x80, {0xEF, 0xBB, 0xBF}}, {0x20, {0xFF, 0xFE}},  {0x40, {0xFE, 0xFF}},
        {0xE0, {0xEF, 0xBB, 0xBF}}, {0x60, {0xFF, 0xFE}},  {0x100, {}},
        {0x00, {}},                 {0x82, {0xEF, 0xBB, 0xBF}},
    };
    for (const auto& c : cases) {
        uint8_t bytes[3] = {0, 0, 0};
        uint32_t length = TextFileMark(c.mode, bytes);
        EXPECT_EQ(std::vector<uint8_t>(bytes, bytes + length), c.mark) << "mode " << c.mode;
    }
}

TEST(TextFileModes, RecognisedMarkOverridesTheEncodingBits)
{
    struct { uint32_t mode; std::vector<uint8_t> start; uint32_t expected; uint32_t markLength; } const cases[] = {
        {0x81, {0xEF, 0xBB, 0xBF}, 0x81, 3},
        {0x21, {0xEF, 0xBB, 0xBF}, 0x81, 3},
        {0x181, {0xFF, 0xFE, 0x41}, 0x21, 2},
        {0x81, {0xFE, 0xFF, 0x00}, 0x41, 2},
        {0x81, {'a', 'b', 'c'}, 0x81, 0},           // no mark: the mode as asked
        {0x01, {'a', 'b', 'c'}, 0x01, 0},
        {0x81, {0xEF, 0xBB}, 0x81, 0},              // two bytes of a UTF-8 mark are no mark
        {0x91, {0xFF, 0xFE}, 0x31, 2},              // other bits stay
    };
    for (const auto& c : cases) {
        uint32_t markLength = 99;
        uint32_t mode = ModeAfterMark(c.mode, c.start.data(), static_cast<uint32_t>(c.start.size()), &markLength);
        EXPECT_EQ(c.expected, mode) << "mode " << c.mode << " over " << c.start.size() << " bytes";
        EXPECT_EQ(c.markLength, markLength) << "mode " << c.mode;
    }
}

TEST(TextFileModes, EncodingOfMode)
{
    EXPECT_EQ(TextEncoding::Utf8, EncodingOfMode(0x80));
    EXPECT_EQ(TextEncoding::Utf8, EncodingOfMode(0x100));
    EXPECT_EQ(TextEncoding::Utf8, EncodingOfMode(0xA0));
    EXPECT_EQ(TextEncoding::Utf16Le, EncodingOfMode(0x20));
    EXPECT_EQ(TextEncoding::Utf16Be, EncodingOfMode(0x40));
    EXPECT_EQ(TextEncoding::Ansi, EncodingOfMode(0x1F));
}

// ---------------------------------------------------------------------------
// The command line

struct CommandCase {
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
};

TEST(RepairCommandLine, EverySwitchAndResult)
{
    const CommandCase cases[] = {
        {"the wizard", {L"/brenwick"}, false, L"owner", 5, RepairCommandAction::Window, 0, 5, L"", 0},
        {"show default kept", {L"/brenwick"}, false, L"owner", 10, RepairCommandAction::Window, 0, 10, L"", 0},
        {"minimised becomes 5", {L"/brenwick"}, false, L"owner", 2, RepairCommandAction::Window, 0, 5, L"", 0},
        {"hidden becomes 5", {L"/brenwick"}, false, L"owner", 0, RepairCommandAction::Window, 0, 5, L"", 0},
        {"silent", {L"/brenwick", L"/silent"}, false, L"owner", 5, RepairCommandAction::Window, 0, 0, L"", 0},
        {"/fixuser last is ignored", {L"/brenwick", L"/fixuser"}, false, L"owner", 5, RepairCommandAction::Window,
         0, 5, L"", 0},
        {"fix run in the temporary account",
         {L"/brenwick", L"/fixuser", L"mhartley", L"/fixflag=3"}, true, L"brenwick_temp_admin", 5,
         RepairCommandAction::Window, 0, 5, L"mhartley", 3},
        {"quotes removed", {L"/brenwick", L"/fixuser", L"\"m\"hart\"ley\""}, true, L"brenwick_temp_admin", 5,
         RepairCommandAction::Window, 0, 5, L"mhartley", 0},
        {"prefix in any case", {L"/FIXFLAG=3", L"/fixuser", L"a"}, true, L"brenwick_temp_admin", 5,
         RepairCommandAction::Window, 0, 5, L"a", 3},
        {"/fixflag= alone", {L"/fixflag=7", L"/fixflag=", L"/fixuser", L"a"}, true, L"brenwick_temp_admin", 5,
         RepairCommandAction::Window, 0, 5, L"a", 0},
        {"/fixflag=2x reads the digits", {L"/fixflag=2x", L"/fixuser", L"a"}, true, L"brenwick_temp_admin", 5,
         RepairCommandAction::Window, 0, 5, L"a", 2},
        {"silent fix run", {L"/fixuser", L"a", L"/silent"}, true, L"brenwick_temp_admin", 10,
         RepairCommandAction::Window, 0, 0, L"a", 0},
        {"fix from an ordinary administrator", {L"/brenwick", L"/fixuser", L"mhartley"}, false, L"owner", 5,
         RepairCommandAction::Refused, -1, 0, nullptr, 0},
        {"fix of the console user itself", {L"/fixuser", L"BRENWICK_temp_admin"}, true, L"brenwick_temp_admin",
         5, RepairCommandAction::Refused, -2, 0, nullptr, 0},
        {"unknown console user, no account", {L"/brenwick"}, false, L"", 5, RepairCommandAction::Refused, -2, 0,
         nullptr, 0},
        {"unknown (null) console user", {L"/brenwick"}, false, nullptr, 5, RepairCommandAction::Refused, -2, 0,
         nullptr, 0},
        {"cleanup outside", {L"/brenwick", L"/CleanUp", L"/fixuser", L"a"}, false, L"owner", 5,
         RepairCommandAction::Cleanup, 0, 0, nullptr, 0},
        {"cleanup inside is ignored", {L"/brenwick", L"/cleanup"}, true, L"brenwick_temp_admin", 5,
         RepairCommandAction::Window, 0, 5, L"", 0},
        {"cleanup after a refused fix still cleans up", {L"/fixuser", L"a", L"/cleanup"}, false, L"owner", 5,
         RepairCommandAction::Cleanup, 0, 0, nullptr, 0},
        {"failed repair's cleanup inside", {L"/brenwick", L"/CLEANUPFAILED"}, true, L"brenwick_temp_admin", 5,
         RepairCommandAction::Cleanup, 0, 0, nullptr, 0},
        {"failed repair's cleanup outside is ignored", {L"/brenwick", L"/cleanupfailed"}, false, L"owner", 5,
         RepairCommandAction::Window, 0, 5, L"", 0},
    };
    for (const CommandCase& c : cases) {
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
                << c.what << ": " << Show(command.fixAccount.Text());
            EXPECT_EQ(c.fixFlags, command.fixFlags) << c.what;
        }
    }
}

TEST(RepairCommandLine, NoArgumentsKeepTheShowCommand)
{
    RepairCommandInput input;
    input.consoleUserName = L"owner";
    input.showCommand = 3;
    RepairCommand command = ParseRepairArguments(0, nullptr, input);
    EXPECT_EQ(RepairCommandAction::Window, command.action);
    EXPECT_EQ(3, command.showCommand);
    EXPECT_TRUE(command.fixAccount.IsEmpty());
}

// ---------------------------------------------------------------------------
// Values read back from the state file

TEST(SavedValues, OnlyAllowedNumbersAreValid)
{
    struct { SavedValueKind kind; const wchar_t* text; bool present; bool valid; bool absent; uint32_t value; } const cases[] = {
        {SavedValueKind::UserPriv, L"0", true, true, false, 0},
        {SavedValueKind::UserPriv, L"1", true, true, false, 1},
        {SavedValueKind::UserPriv, L"2", true, true, false, 2},
        {SavedValueKind::UserPriv, L"3", true, false, false, 0},
        {SavedValueKind::UserPriv, L"4294967295", true, false, false, 0},   // could not be read at set-up
        {SavedValueKind::UserPriv, nullptr, false, false, false, 0},
        {SavedValueKind::UserPriv, L"", false, false, false, 0},
        {SavedValueKind::UserPriv, L"-1", true, false, false, 0},
        {SavedValueKind::UserPriv, L" 1", true, false, false, 0},
        {SavedValueKind::UserPriv, L"1x", true, false, false, 0},
        {SavedValueKind::UserPriv, L"00000000001", true, false, false, 0},   // eleven digits
        {SavedValueKind::UacState, L"0", true, true, false, 0},
        {SavedValueKind::UacState, L"5", true, true, false, 5},
        {SavedValueKind::UacState, L"6", true, false, false, 0},
        {SavedValueKind::UacState, L"4294967295", true, true, true, 4294967295u},   // no value before the repair
        {SavedValueKind::UacState, L"4294967296", true, false, false, 0},
        {SavedValueKind::LuaState, L"0", true, true, false, 0},
        {SavedValueKind::LuaState, L"1", true, true, false, 1},
        {SavedValueKind::LuaState, L"2", true, false, false, 0},
        {SavedValueKind::LuaState, L"4294967295", true, true, true, 4294967295u},
        {SavedValueKind::AadState, L"4321", true, true, true, 4321},
        {SavedValueKind::AadState, L"2", true, true, false, 2},
        {SavedValueKind::AadState, L"4", true, true, false, 4},
        {SavedValueKind::AadState, L"0", true, true, false, 0},   // whatever number the policy held
        {SavedValueKind::AadState, L"3", true, true, false, 3},
        {SavedValueKind::AadState, L"4294967295", true, true, false, 4294967295u},
        {SavedValueKind::AadState, L"abc", true, false, false, 0},
    };
    for (const auto& c : cases) {
        SavedValue saved = CheckSavedValue(c.kind, c.text);
        const std::string what = std::string(Show(SavedValueKey(c.kind))) + " = " + Show(c.text);
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
    struct { SavedValueKind kind; const wchar_t* saved; bool currentPresent; uint32_t current; PolicyRestore expected; } const cases[] = {
        {SavedValueKind::UacState, L"5", true, 0, PolicyRestore::Write},
        {SavedValueKind::UacState, L"5", false, 0, PolicyRestore::Write},
        {SavedValueKind::UacState, L"0", true, 0, PolicyRestore::Leave},
        {SavedValueKind::UacState, L"4294967295", true, 0, PolicyRestore::Delete},
        {SavedValueKind::UacState, L"4294967295", false, 0, PolicyRestore::Leave},
        {SavedValueKind::UacState, nullptr, true, 0, PolicyRestore::Leave},   // key or section missing
        {SavedValueKind::UacState, L"6", true, 0, PolicyRestore::Leave},
        {SavedValueKind::LuaState, L"4294967295", true, 1, PolicyRestore::Delete},
        {SavedValueKind::AadState, L"0", true, 2, PolicyRestore::Write},
        {SavedValueKind::AadState, L"4321", true, 2, PolicyRestore::Delete},
    };
    for (const auto& c : cases) {
        PolicyRestore action = DecidePolicyRestore(CheckSavedValue(c.kind, c.saved), c.currentPresent, c.current);
        EXPECT_EQ(static_cast<int>(c.expected), static_cast<int>(action))
            << Show(SavedValueKey(c.kind)) << " = " << Show(c.saved) << ", current " << c.current
            << (c.currentPresent ? "" : " (absent)");
    }
}

TEST(SavedValues, KeyNames)
{
    EXPECT_EQ(std::wstring(L"UserPriv"), std::wstring(SavedValueKey(SavedValueKind::UserPriv)));
    EXPECT_EQ(std::wstring(L"UACState"), std::wstring(SavedValueKey(SavedValueKind::UacState)));
    EXPECT_EQ(std::wstring(L"LUAState"), std::wstring(SavedValueKey(SavedValueKind::LuaState)));
    EXPECT_EQ(std::wstring(L"AADState"), std::wstring(SavedValueKey(SavedValueKind::AadState)));
}

}  // namespace

namespace {

// ---------------------------------------------------------------------------
// A folder found where the tool folder belongs

TEST(ToolFolderReuse, OnlyATrustedFolderHoldingTheToolsOwnFilesIsKept)
{
    using E = ToolFolderEntry;
    const E exe{L"Brenwick.exe", false, false, true};
    const E ini{L"brenwick.INI", false, false, true};
    const E log{L"BrenwickLog.txt", false, false, true};
    const E journal{L"BrenwickJournal.txt", false, false, true};
    const E journalCopy{L"BrenwickJournal.txt.new", false, false, true};
    const E picture{L"BrenwickPicture", false, false, true};
    struct Case {
        const char* what;
        bool trustedOwner;
        std::vector<E> entries;
        bool reuse;
    } const cases[] = {
        {"empty and trusted", true, {}, true},
        {"an earlier set-up's files", true, {exe, ini, log, journal, journalCopy, picture}, true},
        {"empty but a user's", false, {}, false},
        {"our files but a user's folder", false, {exe, ini}, false},
        {"a planted library", true, {exe, {L"netapi32.dll", false, false, true}}, false},
        {"a library a user owns", true, {exe, {L"x.dll", false, false, false}}, false},
        {"our program, a user's", true, {{L"Brenwick.exe", false, false, false}}, false},
        {"a sub-folder of our name", true, {{L"BrenwickPicture", true, false, true}}, false},
        {"a link of our name", true, {{L"Brenwick.ini", false, true, true}}, false},
        {"a name that only starts like ours", true, {{L"Brenwick.exe.local", false, false, true}}, false},
        {"no name", true, {{nullptr, false, false, true}}, false},
    };
    for (const Case& c : cases)
        EXPECT_EQ(c.reuse, MayReuseToolFolder(c.trustedOwner, c.entries.data(), static_cast<uint32_t>(c.entries.size())))
            << c.what;
    EXPECT_FALSE(MayReuseToolFolder(true, nullptr, 1));
    EXPECT_FALSE(IsToolFolderFileName(L"Brenwick"));
    EXPECT_FALSE(IsToolFolderFileName(L""));
}

}  // namespace
