#include <gtest/gtest.h>

#include <chrono>
#include <string>

#include "app/desired_state_reader.h"
#include "app/json_reader.h"
#include "app/json_writer.h"
#include "tests/narrow.h"

TEST(ParseJson, ReadsExactlyOneValidDocument)
{
    struct { std::string text; const wchar_t* errorPart; } const refused[] = {
        {"", L"ends early"}, {"{} {}", L"more after its end"}, {"{\"a\":1,\"a\":2}", L"given twice"},
        {"[1,]", L"not JSON"}, {"{\"a\" 1}", L"colon"}, {"\"\\ud800\"", L"surrogate"},
        {"\"\xC3\x28\"", L"not UTF-8"}, {"\"\xED\xA0\x80\"", L"not UTF-8"}, {"\"\xC1\xBF\"", L"not UTF-8"},
        {"\"\xE0\x9F\xBF\"", L"not UTF-8"}, {"\"\xF4\x90\x80\x80\"", L"not UTF-8"}, {"\"\xF5\x80\x80\x80\"", L"not UTF-8"},
        {"\"a\x1F\"", L"control character"}, {"\"\\x41\"", L"unknown escape"}, {"tru", L"not JSON"},
        {std::string(66, '[') + std::string(66, ']'), L"too deep"}, {"1.2.3", L"number"},
    };
    for (const auto& c : refused) {
        JsonValue value;
        std::wstring error;
        EXPECT_FALSE(ParseJson(c.text, value, error)) << c.text;
        EXPECT_NE(std::wstring::npos, error.find(c.errorPart)) << c.text << " -> " << Narrow(error);
    }
    JsonValue value;
    std::wstring error;
    ASSERT_TRUE(ParseJson("\xEF\xBB\xBF {\"n\": [-1.5e2, true, null], \"t\": \"\\\"\\u00e9\\ud83d\\ude00\xC3\xA9"
                          " \xC2\x80\xDF\xBF\xE0\xA0\x80\xED\x9F\xBF\xEE\x80\x80\xF4\x8F\xBF\xBF\"}",
                          value, error)) << Narrow(error);
    ASSERT_EQ(2u, value.members.size());
    EXPECT_EQ(-150.0, value.Member(L"n")->items[0].number);
    EXPECT_EQ(JsonValue::Kind::Null, value.Member(L"n")->items[2].kind);
    std::string written;
    AppendJsonString(written, value.Member(L"t")->text.c_str());
    // Read back as it was written, with the first and last of each length of UTF-8 sequence.
    EXPECT_EQ("\"\\\"\\u00e9\\ud83d\\ude00\\u00e9 \\u0080\\u07ff\\u0800\\ud7ff\\ue000\\udbff\\udfff\"", written);
    EXPECT_TRUE(ParseJson(std::string(65, '[') + std::string(65, ']'), value, error)) << Narrow(error);
}

// Repeats are found without comparing each name with every other (100,000
// members took minutes so), within a limit a hundred times what that takes;
// more values than any machine's state holds are refused before they take
// their memory.
TEST(ParseJson, LargeDocumentsInOnePass)
{
    std::string members = "{\"k", accounts = "{\"schemaVersion\":1,\"accounts\":[{\"name\":\"a";
    for (int i = 0; i < 199998; ++i) {   // with "x" and the object: the 200,000 values allowed
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
    EXPECT_FALSE(ParseJson(members + "x\":0,\"y\":0}", value, error)) << "one value more";
    EXPECT_TRUE(ParseJson(accounts + "x\"}]}", value, error) && ReadDesiredState(value, state, error)) << Narrow(error);
    EXPECT_TRUE(ParseJson(accounts + "49999\"}]}", value, error) && !ReadDesiredState(value, state, error));
    EXPECT_NE(std::wstring::npos, error.find(L"named twice")) << Narrow(error);
    EXPECT_LT(std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count(), 20.0);
    EXPECT_FALSE(ParseJson("[" + std::string(200000, '0') + std::string(200000, ',') + "0]", value, error));
    EXPECT_NE(std::wstring::npos, error.find(L"more than 200,000 values")) << Narrow(error);
}
