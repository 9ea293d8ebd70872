#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "app/command_rules.h"
#include "accounts/password_policy_rules.h"
#include "app/account_setting_rules.h"
#include "repair/carry_rules.h"
#include "tests/narrow.h"

namespace {

const CommandOption kSetOptions[] = {
    {L"--type", true, L"guest|standard|administrator"}, {L"--unlock", false, nullptr},
    {L"--full-name", true, nullptr},
};
const CommandSyntax kTable[] = {
    {L"list", L"", 0, 0, nullptr, 0, kReadsOnly}, {L"set", L"NAME", 1, 1, kSetOptions, 3, kChangesMachine},
    {L"password", L"", 0, 0, nullptr, 0, kReadsOnly}, {L"password set", L"NAME", 1, 1, nullptr, 0, kChangesMachine},
    {L"delete", L"NAME", 1, 1, nullptr, 0, kChangesMachine | kAsksFirst}, {L"help", L"", 0, 0, nullptr, 0, kReadsOnly},
};

struct ParseCase {
    std::vector<const wchar_t*> line;
    int verb;                 // -1: refused
    const wchar_t* errorPart; // refused: a part of the message
};

}  // namespace

TEST(ParseCommand, TakesOnlyWhatTheVerbTakes)
{
    const ParseCase cases[] = {
        {{L"list", L"--json"}, 0, nullptr}, {{L"list", L"extra"}, -1, L"usage: list"},
        {{L"list", L"--dry-run"}, -1, L"takes no option --dry-run"},
        {{L"set", L"ann", L"--type=administrator", L"--dry-run"}, 1, nullptr},
        {{L"set", L"ann", L"--type", L"root"}, -1, L"takes one of"},
        {{L"set", L"ann", L"--type"}, -1, L"needs a value"},
        {{L"set", L"ann", L"--unlock=yes"}, -1, L"takes no value"}, {{L"delete", L"ann", L"--yes=1"}, -1, L"takes no value"},
        {{L"set", L"ann", L"--unlock", L"--unlock"}, -1, L"given twice"}, {{L"set"}, -1, L"usage: set NAME"},
        {{L"set", L"--", L"--odd-name"}, 1, nullptr}, {{L"password", L"set", L"ann"}, 3, nullptr},
        {{L"set", L"ann", L"/P:secret"}, -1, L"never taken from the command line"},
        {{L"delete", L"ann", L"--yes", L"--dry-run"}, 4, nullptr}, {{L"remove"}, -1, L"unknown command \"remove\""},
        {{}, -1, L"no command given"}, {{L"set", L"--help"}, 1, nullptr},
        // Letter case aside; the common options also before the verb; help switches alone or before it.
        {{L"LIST"}, 0, nullptr}, {{L"Password", L"SET", L"ann"}, 3, nullptr}, {{L"--json", L"list"}, 0, nullptr},
        {{L"--help"}, 5, nullptr}, {{L"/?"}, 5, nullptr}, {{L"-h", L"delete"}, 4, nullptr},
        {{L"list", L"--verbose"}, 0, nullptr}, {{L"--json"}, -1, L"no command given"},
    };
    for (const ParseCase& c : cases) {
        ParsedCommand parsed;
        parsed.json = true;   // left from an earlier line: must not stay
        const bool ok = ParseCommand(static_cast<int>(c.line.size()), c.line.data(), kTable, 6, parsed);
        std::string line;
        for (const wchar_t* word : c.line)
            line += Narrow(word) + " ";
        bool json = false;
        for (const wchar_t* word : c.line)
            json = json || std::wstring(word) == L"--json";
        EXPECT_EQ(json, parsed.json) << line << ": asked for JSON, refused or not";
        if (c.verb < 0) {
            EXPECT_FALSE(ok) << line;
            EXPECT_NE(std::wstring::npos, parsed.error.find(c.errorPart)) << line << "-> " << Narrow(parsed.error);
        } else {
            EXPECT_TRUE(ok) << line << "-> " << Narrow(parsed.error);
            EXPECT_EQ(c.verb, parsed.verb) << line;
        }
    }
}

// Which lines run a command, open the window, or are a command mistyped
// (the caller answers those with the usage where someone can read it).
TEST(ClassifyCommandLine, CommandsWindowAndMistypes)
{
    struct { std::vector<const wchar_t*> line; LineKind kind; } const cases[] = {
        {{}, LineKind::Window}, {{L""}, LineKind::Window}, {{L"/brenwick"}, LineKind::Window},
        {{L"/a", L"list"}, LineKind::Window}, {{L"List"}, LineKind::Command}, {{L"--json", L"list"}, LineKind::Command},
        {{L"--help"}, LineKind::Command}, {{L"/?"}, LineKind::Command}, {{L"lsit"}, LineKind::Unknown},
        {{L"--json"}, LineKind::Unknown}, {{L"frobnicate", L"list"}, LineKind::Unknown},
    };
    for (const auto& c : cases)
        EXPECT_EQ(c.kind, ClassifyCommandLine(static_cast<int>(c.line.size()), c.line.data(), kTable, 6))
            << (c.line.empty() ? "(none)" : Narrow(c.line[0]));
}

TEST(ParseCommand, KeepsValuesAndCommonSwitches)
{
    const wchar_t* line[] = {L"delete", L"ann", L"--json", L"--yes", L"--dry-run"};
    ParsedCommand parsed;
    ASSERT_TRUE(ParseCommand(5, line, kTable, 6, parsed)) << Narrow(parsed.error);
    EXPECT_TRUE(parsed.json && parsed.yes && parsed.dryRun);
    ASSERT_EQ(1u, parsed.arguments.size());
    EXPECT_EQ(L"ann", parsed.arguments[0]);

    const wchar_t* set[] = {L"set", L"ann", L"--full-name", L"Ann O'Neil", L"--unlock"};
    ASSERT_TRUE(ParseCommand(5, set, kTable, 6, parsed)) << Narrow(parsed.error);
    EXPECT_STREQ(L"Ann O'Neil", parsed.Value(L"--full-name"));
    EXPECT_TRUE(parsed.Has(L"--unlock"));
    EXPECT_EQ(nullptr, parsed.Value(L"--type"));
}

TEST(LooksLikePasswordArgument, CatchesEverySpellingButTheStdinSwitch)
{
    struct { const wchar_t* argument; bool password; } const cases[] = {
        {L"--PASSWORD=x", true}, {L"/password:x", true}, {L"-p", true}, {L"--pwd=x", true}, {L"--pass", true},
        {L"--password-stdin", false}, {L"--passwords-file", false}, {L"pweber", false}, {nullptr, false}, {L"/P:x", true},
    };
    for (const auto& c : cases)
        EXPECT_EQ(c.password, LooksLikePasswordArgument(c.argument)) << Narrow(c.argument);
}

TEST(CommandExits, AreNumberedInOrderAndExplained)
{
    const int codes[] = {0, 1, 2, 3, 4, 5, 6, 3010};
    for (size_t i = 0; i < 8; ++i) {
        EXPECT_EQ(codes[i], kCommandExits[i].code);
        EXPECT_NE(nullptr, kCommandExits[i].meaning);
    }
}

// Wine cannot encrypt a file: the decision is tested with the attribute as input.
TEST(ClassifyProfileFile, EncryptedAttributeAndMasterKeysWithoutWine)
{
    const wchar_t* sid = L"S-1-5-21-1-2-3-1001";
    const std::vector<std::wstring> protect = {L"AppData", L"Roaming", L"Microsoft", L"Protect", sid};
    const std::vector<std::wstring> protectUpper = {L"APPDATA", L"roaming", L"MICROSOFT", L"protect", sid};
    const std::vector<std::wstring> otherSid = {L"AppData", L"Roaming", L"Microsoft", L"Protect",
                                                L"S-1-5-21-1-2-3-1002"};
    const std::vector<std::wstring> documents = {L"Documents"};
    const wchar_t *key = L"0f4c2a7e-8a4b-4c47-9d2e-2f8c1a6b9e01", *upperKey = L"0F4C2A7E-8A4B-4C47-9D2E-2F8C1A6B9E01";
    struct Case {
        const std::vector<std::wstring>* folders;
        const wchar_t* name;
        uint32_t attributes;
        CarryLoss expected;
    } cases[] = {
        {&documents, L"secret.docx", 0x20 | kEncryptedAttribute, CarryLoss::EncryptedFile},
        {&protect, key, 0x20, CarryLoss::MasterKey}, {&protectUpper, upperKey, 0x20, CarryLoss::MasterKey},
        {&protect, L"0f4c2a7e-8a4b-4c47-9d2e-2f8c1a6b9e0", 0x20, CarryLoss::None},
        {&protect, L"0f4c2a7e_8a4b-4c47-9d2e-2f8c1a6b9e01", 0x20, CarryLoss::None},
        {&protect, L"0f4c2a7e-8a4b-4c47-9d2e-2f8c1a6b9e01a", 0x20, CarryLoss::None},
        {&protect, L"0f4c2a7e-8a4b-4c47-9d2e-2f8c1a6b9g01", 0x20, CarryLoss::None},
        {&otherSid, key, 0x20, CarryLoss::None}, {&documents, key, 0x20, CarryLoss::None},
    };
    for (const auto& c : cases)
        EXPECT_EQ(c.expected, ClassifyProfileFile(*c.folders, c.name, c.attributes, sid)) << Narrow(c.name);
}

TEST(CarryWarnings, OnlyThoseThatApply)
{
    EXPECT_EQ(1u, CarryWarnings(CarryCounts{}).size()) << "the file-type choices always go";
    CarryCounts counts;
    counts.encryptedFiles = 3;
    counts.masterKeys = 2;
    counts.complete = false;
    std::vector<std::wstring> lines = CarryWarnings(counts);
    ASSERT_EQ(4u, lines.size());
    EXPECT_EQ(0u, lines[0].find(L"3 encrypted"));
    EXPECT_EQ(0u, lines[1].find(L"2 data-protection"));
}
