#include <gtest/gtest.h>

#include <chrono>
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
    {L"list", L"", 0, 0, nullptr, 0, false, false}, {L"set", L"NAME", 1, 1, kSetOptions, 3, true, false},
    {L"password", L"", 0, 0, nullptr, 0, false, false}, {L"password set", L"NAME", 1, 1, nullptr, 0, true, false},
    {L"delete", L"NAME", 1, 1, nullptr, 0, true, true}, {L"help", L"", 0, 0, nullptr, 0, false, false},
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
        {L"--PASSWORD=x", true}, {L"/password:x", true}, {L"-p", true}, {L"--pwd=x", true},
        {L"--password-stdin", false}, {L"--passwords-file", false}, {L"pweber", false}, {nullptr, false},
    };
    for (const auto& c : cases)
        EXPECT_EQ(c.password, LooksLikePasswordArgument(c.argument)) << Narrow(c.argument);
}

TEST(JsonWriter, EscapesEveryControlCharacterAndLoneSurrogate)
{
    struct { std::wstring text; const char* json; } const cases[] = {
        {L"quote\" back\\slash", "\"quote\\\" back\\\\slash\""}, {L"\b\f\n\r\t", "\"\\b\\f\\n\\r\\t\""},
        {std::wstring(L"a\x01z\x1f\x7f", 5), "\"a\\u0001z\\u001f\\u007f\""}, {L"\x2028\x2029", "\"\\u2028\\u2029\""},
        {L"M\xfcller \x20ac", "\"M\\u00fcller \\u20ac\""},
        {std::wstring(1, static_cast<wchar_t>(0xD800)) + L"x", "\"\\ud800x\""},
        {std::wstring(1, static_cast<wchar_t>(0xDC00)), "\"\\udc00\""},
        {std::wstring{static_cast<wchar_t>(0xD83D), static_cast<wchar_t>(0xDE00)}, "\"\\ud83d\\ude00\""},
    };
    for (const auto& c : cases) {
        std::string out;
        AppendJsonString(out, c.text.c_str());
        EXPECT_EQ(c.json, out);
    }
}

TEST(JsonWriter, SeparatesMembersAndElements)
{
    JsonWriter json;
    json.BeginObject().Field("a", 1).Key("list").BeginArray().String(L"x").String(nullptr).Bool(false).Null().BeginObject()
        .EndObject().EndArray().Field("n", static_cast<uint64_t>(18446744073709551615ull)).EndObject();
    EXPECT_EQ("{\"a\":1,\"list\":[\"x\",null,false,null,{}],\"n\":18446744073709551615}", json.Text());
    // Lone surrogates become the replacement character.
    EXPECT_EQ("M\xc3\xbcller \xef\xbf\xbd", ToUtf8((std::wstring(L"M\xfcller ") + static_cast<wchar_t>(0xDC00)).c_str()));
}

TEST(Csv, QuotesWhatWouldBreakTheLineOrRunAsAFormula)
{
    struct { const wchar_t* text; const wchar_t* field; } const cases[] = {
        {L"O'Neil, Ann", L"\"O'Neil, Ann\""}, {L"say \"hi\"", L"\"say \"\"hi\"\"\""},
        {L"two\r\nlines", L"\"two\r\nlines\""}, {L" padded", L"\" padded\""},
        {L"=HYPERLINK(1)", L"\"'=HYPERLINK(1)\""}, {L"", L""},
        {L"+1", L"\"'+1\""}, {L"-1", L"\"'-1\""}, {L"@SUM(A1)", L"\"'@SUM(A1)\""},
        {L"\t=1", L"\"'\t=1\""}, {L"\r=1", L"\"'\r=1\""},
    };
    for (const auto& c : cases)
        EXPECT_EQ(c.field, CsvField(c.text)) << Narrow(c.text);
    EXPECT_EQ(L"a,\"b,c\"\r\n", CsvLine({L"a", L"b,c"}));
}

// What a JSON reader must refuse (each with its reason) and what it reads
// back exactly: escapes, surrogate pairs, UTF-8, a byte-order mark.
TEST(ParseJson, ReadsExactlyOneValidDocument)
{
    struct { std::string text; const wchar_t* errorPart; } const refused[] = {
        {"", L"ends early"}, {"{} {}", L"more after its end"}, {"{\"a\":1,\"a\":2}", L"given twice"},
        {"[1,]", L"not JSON"}, {"{\"a\" 1}", L"colon"}, {"\"\\ud800\"", L"surrogate"},
        {"\"\xC3\x28\"", L"not UTF-8"}, {"\"\xED\xA0\x80\"", L"not UTF-8"}, {"\"\xC0\xAF\"", L"not UTF-8"},
        {"\"a\nb\"", L"control character"}, {"\"\\x41\"", L"unknown escape"}, {"tru", L"not JSON"},
        {std::string(70, '[') + std::string(70, ']'), L"too deep"}, {"1.2.3", L"number"},
    };
    for (const auto& c : refused) {
        JsonValue value;
        std::wstring error;
        EXPECT_FALSE(ParseJson(c.text, value, error)) << c.text;
        EXPECT_NE(std::wstring::npos, error.find(c.errorPart)) << c.text << " -> " << Narrow(error);
    }
    JsonValue value;
    std::wstring error;
    ASSERT_TRUE(ParseJson("\xEF\xBB\xBF {\"n\": [-1.5e2, true, null], \"t\": \"\\\"\\u00e9\\ud83d\\ude00\xC3\xA9\"}",
                          value, error)) << Narrow(error);
    ASSERT_EQ(2u, value.members.size());
    EXPECT_EQ(-150.0, value.Member(L"n")->items[0].number);
    EXPECT_EQ(JsonValue::Kind::Null, value.Member(L"n")->items[2].kind);
    std::string written;
    AppendJsonString(written, value.Member(L"t")->text.c_str());
    EXPECT_EQ("\"\\\"\\u00e9\\ud83d\\ude00\\u00e9\"", written) << "read back as it was written";
}

// Repeats are found without comparing each name with every other (100,000
// members took minutes so), within a limit a hundred times what that takes;
// more values than any machine's state holds are refused before they take
// their memory.
TEST(ParseJson, LargeDocumentsInOnePass)
{
    std::string members = "{\"k", accounts = "{\"schemaVersion\":1,\"accounts\":[{\"name\":\"a";
    for (int i = 0; i < 100000; ++i) {
        members += std::to_string(i) + "\":0,\"k";
        if (i < 50000)   // two values each
            accounts += std::to_string(i) + "\"},{\"name\":\"a";
    }
    const auto start = std::chrono::steady_clock::now();
    JsonValue value;
    DesiredState state;
    std::wstring error;
    EXPECT_TRUE(ParseJson(members + "x\":0}", value, error)) << Narrow(error);
    EXPECT_FALSE(ParseJson(members + "99999\":1}", value, error));
    EXPECT_TRUE(ParseJson(accounts + "x\"}]}", value, error) && ReadDesiredState(value, state, error)) << Narrow(error);
    EXPECT_TRUE(ParseJson(accounts + "49999\"}]}", value, error) && !ReadDesiredState(value, state, error));
    EXPECT_NE(std::wstring::npos, error.find(L"named twice")) << Narrow(error);
    EXPECT_LT(std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count(), 20.0);
    EXPECT_FALSE(ParseJson("[" + std::string(200000, '0') + std::string(200000, ',') + "0]", value, error));
    EXPECT_NE(std::wstring::npos, error.find(L"more than 200,000 values")) << Narrow(error);
}

TEST(ReadDesiredState, TakesTheSchemaAndRefusesEverythingElse)
{
    struct { std::string text; const wchar_t* errorPart; } const cases[] = {
        {"{\"schemaVersion\":1,\"accounts\":[{\"name\":\"a\",\"hidden\":true,\"type\":\"guest\",\"description\":\"Lab\","
         "\"expires\":\"2030-01-31\",\"mustChangePassword\":false},"
         "{\"name\":\"b\",\"present\":false,\"keepFiles\":true}],\"autoLogon\":null,\"mend\":[\"x\"],"
         "\"groups\":[{\"group\":\"S-1-5-32-555\",\"members\":[\"a\",\"#1001\"],\"absent\":[\"c\"]},"
         "{\"group\":\"Lab\",\"description\":\"d\",\"exactMembers\":[\"a\"]}],"
         "\"policy\":{\"maxAgeDays\":\"unlimited\",\"minLength\":14},"
         "\"profiles\":{\"cleanUnusedForDays\":90,\"exclude\":[\"kiosk\"],\"keepAccounts\":true}}", nullptr},
        {"{\"schemaVersion\":1,\"accounts\":[{\"name\":\"a\",\"expires\":\"2030-02-30\"}]}", L"expires is a date"},
        {"{\"schemaVersion\":1,\"profiles\":{\"exclude\":[]}}", L"cleanUnusedForDays is missing"},
        {"{\"schemaVersion\":1,\"profiles\":{\"cleanUnusedForDays\":1.5}}", L"whole number of days"},
        {"{\"schemaVersion\":1,\"profiles\":{\"cleanUnusedForDays\":0}}", L"whole number of days"},
        {"{\"schemaVersion\":1,\"profiles\":{\"cleanUnusedForDays\":9,\"keep\":true}}", L"no member \"keep\""},
        {"{\"schemaVersion\":1,\"profiles\":[]}", L"is an object"},
        {"{\"schemaVersion\":1,\"groups\":[{\"members\":[\"a\"]}]}", L"names its \"group\""},
        {"{\"schemaVersion\":1,\"groups\":[{\"group\":\"g\",\"members\":[\"a\"],\"absent\":[\"A\"]}]}", L"named twice"},
        {"{\"schemaVersion\":1,\"groups\":[{\"group\":\"g\"},{\"group\":\"G\"}]}", L"named twice"},
        {"{\"schemaVersion\":1,\"groups\":[{\"group\":\"g\",\"member\":[]}]}", L"no member \"member\""},
        {"{\"schemaVersion\":1,\"groups\":[{\"group\":\"g\",\"absent\":[\"a\"],\"exactMembers\":[]}]}", L"without members"},
        {"{\"schemaVersion\":1,\"groups\":[{\"group\":\"g\",\"present\":false,\"description\":\"d\"}]}", L"no members"},
        {"{\"schemaVersion\":1,\"policy\":{\"minLength\":15}}", L"minLength takes from 0 to 14"},
        {"{\"schemaVersion\":1,\"policy\":{\"history\":2.5}}", L"history takes"},
        {"{\"schemaVersion\":1,\"policy\":{\"lockout\":1}}", L"no member \"lockout\""},
        {"{\"schemaVersion\":1,\"groups\":[{\"group\":\"g\",\"members\":[\"\"]}]}", L"list of members"},
        {"{\"accounts\":[]}", L"schemaVersion is not 1"}, {"{\"schemaVersion\":2}", L"schemaVersion is not 1"},
        {"{\"schemaVersion\":1,\"users\":[]}", L"no member \"users\""},
        {"{\"schemaVersion\":1,\"accounts\":[{\"name\":\"a\",\"hiden\":true}]}", L"no member \"hiden\""},
        {"{\"schemaVersion\":1,\"accounts\":[{\"name\":\"a\",\"hidden\":\"yes\"}]}", L"true or false"},
        {"{\"schemaVersion\":1,\"accounts\":[{\"name\":\"a\",\"type\":\"root\"}]}", L"type is one of"},
        {"{\"schemaVersion\":1,\"accounts\":[{\"name\":\"a\"},{\"name\":\"A\"}]}", L"named twice"},
        {"{\"schemaVersion\":1,\"accounts\":[{\"name\":\"a\",\"present\":false,\"hidden\":true}]}", L"no settings"},
        {"{\"schemaVersion\":1,\"accounts\":[{\"fullName\":\"a\"}]}", L"needs a \"name\""},
        {"{\"schemaVersion\":1,\"autoLogon\":false}", L"name or null"},
    };
    for (const auto& c : cases) {
        JsonValue document;
        DesiredState state;
        std::wstring error;
        ASSERT_TRUE(ParseJson(c.text, document, error)) << c.text;
        EXPECT_EQ(c.errorPart == nullptr, ReadDesiredState(document, state, error)) << c.text;
        if (c.errorPart != nullptr) {
            EXPECT_NE(std::wstring::npos, error.find(c.errorPart)) << c.text << " -> " << Narrow(error);
            continue;
        }
        ASSERT_EQ(2u, state.accounts.size());
        EXPECT_EQ((std::vector<SettingValue>{{FindSettingMember(L"hidden"), L"yes"},
                                             {FindSettingMember(L"type"), L"guest"},
                                             {FindSettingMember(L"description"), L"Lab"},
                                             {FindSettingMember(L"expires"), L"2030-01-31"},
                                             {FindSettingMember(L"mustChangePassword"), L"no"}}),
                  state.accounts[0].settings);
        EXPECT_TRUE(state.profiles.given && state.profiles.unusedForDays == 90 && state.profiles.keepAccounts);
        EXPECT_EQ(std::vector<std::wstring>{L"kiosk"}, state.profiles.exclude);
        EXPECT_TRUE(!state.accounts[1].present && state.accounts[1].keepFiles);
        EXPECT_TRUE(state.autoLogonGiven && state.autoLogon.empty());
        EXPECT_EQ(std::vector<std::wstring>{L"x"}, state.mend);
        ASSERT_EQ(2u, state.groups.size());
        EXPECT_EQ((std::vector<std::wstring>{L"a", L"#1001"}), state.groups[0].members);
        EXPECT_EQ(std::vector<std::wstring>{L"c"}, state.groups[0].absent);
        EXPECT_TRUE(state.groups[1].exact && state.groups[1].descriptionGiven && state.groups[1].description == L"d");
        EXPECT_EQ((std::vector<std::pair<size_t, uint32_t>>{{1, kPolicyForever}, {0, 14}}), state.policy.values);
    }
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
    const wchar_t* key = L"0f4c2a7e-8a4b-4c47-9d2e-2f8c1a6b9e01";
    struct Case {
        const std::vector<std::wstring>* folders;
        const wchar_t* name;
        uint32_t attributes;
        CarryLoss expected;
    } cases[] = {
        {&documents, L"secret.docx", 0x20 | kEncryptedAttribute, CarryLoss::EncryptedFile},
        {&protect, key, 0x20, CarryLoss::MasterKey}, {&protectUpper, key, 0x20, CarryLoss::MasterKey},
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
