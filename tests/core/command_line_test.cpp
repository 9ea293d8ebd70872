#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "platform/command_line.h"

#ifdef _WIN32
#include <windows.h>
#include <shellapi.h>
#endif

namespace {

std::vector<std::wstring> Split(const wchar_t* line)
{
    ArgumentList list(line);
    std::vector<std::wstring> words(list.Data(), list.Data() + list.Count());
    EXPECT_EQ(nullptr, list.Data()[list.Count()]) << "the array ends with a null, as argv does";
    return words;
}

std::string Shown(const std::vector<std::wstring>& words)
{
    std::string text;
    for (const std::wstring& word : words) {
        text += '[';
        for (wchar_t c : word)
            text += c < 0x80 ? static_cast<char>(c) : '?';
        text += ']';
    }
    return text;
}

struct Case {
    const wchar_t* line;
    std::vector<std::wstring> expected;
};

const Case kCases[] = {
    {L"", {}}, {L"  show\t\tjokafor  ", {L"show", L"jokafor"}},
    {L"set jokafor --full-name \"James Okafor\"", {L"set", L"jokafor", L"--full-name", L"James Okafor"}},
    {L"a\"b c\"d e", {L"ab cd", L"e"}}, {L"\"\" x", {L"", L"x"}},
    {L"C:\\Users\\jokafor\\ x", {L"C:\\Users\\jokafor\\", L"x"}},
    {L"\"C:\\Temp\\\\\" next", {L"C:\\Temp\\", L"next"}}, {L"\"C:\\Temp\\\" next", {L"C:\\Temp\" next"}},
    {L"a\\\\\\\"b c", {L"a\\\"b", L"c"}}, {L"a\\\\\\\\\"b c\" d", {L"a\\\\b c", L"d"}}, {L"a\\\\\\b", {L"a\\\\\\b"}},
    {L"\"open to the end", {L"open to the end"}}, {L"\\\"", {L"\""}},
};

}  // namespace

TEST(ArgumentList, SplitsAsAProgramsStartUpDoes)
{
    for (const Case& c : kCases)
        EXPECT_EQ(Shown(c.expected), Shown(Split(c.line))) << "line: " << Shown({c.line});
    EXPECT_EQ(0, ArgumentList(nullptr).Count());
    // A doubled quote inside quotes is one quote.
    EXPECT_EQ(Shown({L"ab\" c", L"d"}), Shown(Split(L"a\"b\"\" c\" d")));
}

#ifdef _WIN32
// The same lines through the system's own splitter, behind a program name
// (whose word it splits by other rules).
TEST(ArgumentList, AgreesWithTheSystemsSplitter)
{
    for (const Case& c : kCases) {
        std::wstring line = L"program " + std::wstring(c.line);
        int count = 0;
        LPWSTR* system = CommandLineToArgvW(line.c_str(), &count);
        ASSERT_NE(nullptr, system);
        std::vector<std::wstring> words(system + 1, system + count);
        LocalFree(system);
        EXPECT_EQ(Shown(words), Shown(Split(c.line))) << "line: " << Shown({c.line});
    }
}
#endif
