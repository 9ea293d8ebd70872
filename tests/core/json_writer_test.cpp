#include <gtest/gtest.h>

#include <string>

#include "app/json_writer.h"
#include "tests/narrow.h"

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
