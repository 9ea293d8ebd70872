#include <gtest/gtest.h>

#include <windows.h>
#include <knownfolders.h>

#include <string>

#include "platform/text_win.h"
#include "tests/win/test_support.h"

namespace {

std::wstring Show(WString& text) { return std::wstring(text.Text()) + (text.Valid() ? L" (valid)" : L" (invalid)"); }

}  // namespace

TEST(AssignNarrow, ConvertsTheVersionTextAndEmptyText)
{
    WString text;
    EXPECT_TRUE(AssignNarrow(text, "1.9.0.0"));
    EXPECT_STREQ(L"1.9.0.0", text.Text());
    EXPECT_EQ(7u, text.Length());

    EXPECT_TRUE(AssignNarrow(text, ""));
    EXPECT_STREQ(L"", text.Text());
    EXPECT_TRUE(text.Valid());
}

TEST(ReadIniString, ReadsValuesAndTreatsAnEmptyValueAsFailure)
{
    const std::wstring path = TempFile(L"text_win_test.ini");
    DeleteFileW(path.c_str());
    ASSERT_TRUE(WritePrivateProfileStringW(L"State", L"User", L"bob", path.c_str()));
    ASSERT_TRUE(WritePrivateProfileStringW(L"State", L"Empty", L"", path.c_str()));
    struct Case { const wchar_t* key; const wchar_t* fallback; uint32_t capacity; bool ok; const wchar_t* text; };
    const Case cases[] = {
        {L"User", L"", 260, true, L"bob"}, {L"Empty", L"", 260, false, L""},
        {L"Missing", L"fallback", 260, true, L"fallback"},
        {L"User", L"", 2, true, L"bo"},   // cut to the capacity, not overrun
    };
    WString value;   // one for all: each read replaces what the last left
    for (const Case& c : cases) {
        EXPECT_EQ(c.ok, ReadIniString(value, path.c_str(), L"State", c.key, c.fallback, c.capacity)) << Show(value);
        EXPECT_STREQ(c.text, value.Text()) << Show(c.key) << " capacity " << c.capacity;
        EXPECT_EQ(wcslen(c.text), value.Length()) << Show(c.key) << " capacity " << c.capacity;
    }
    DeleteFileW(path.c_str());
}

TEST(ShellFolders, FindTheWindowsFolderByBothCalls)
{
    WString byId;
    ASSERT_TRUE(FromFolderPath(byId, CSIDL_WINDOWS, nullptr, 0)) << Show(byId);
    WString known;
    ASSERT_TRUE(FromKnownFolder(known, FOLDERID_Windows, nullptr, 0)) << Show(known);
    EXPECT_TRUE(EqualsNoCase(byId.Text(), known.Text())) << Show(byId) << L" / " << Show(known);
    EXPECT_EQ(3u, byId.Find(L"\\", true, 1, 1, 0)) << Show(byId);
}

TEST(ShellFolders, AnUnknownFolderLeavesAnEmptyInvalidText)
{
    const GUID unknown = {0x12345678, 0x1234, 0x1234, {1, 2, 3, 4, 5, 6, 7, 8}};
    WString path(L"previous");
    EXPECT_FALSE(FromKnownFolder(path, unknown, nullptr, 0));
    EXPECT_STREQ(L"", path.Text());
    EXPECT_FALSE(path.Valid());

    EXPECT_FALSE(FromFolderPath(path, 0x7F, nullptr, 0)) << Show(path);
    EXPECT_STREQ(L"", path.Text());
}

TEST(SizedQueries, TextsLongerThanTheFirstBufferComeBackWhole)
{
    // Far longer than MAX_PATH, the first size asked: only retries get it whole.
    const std::wstring longValue(5000, L'x');
    ASSERT_TRUE(SetEnvironmentVariableW(L"VANTRELL_LONG", longValue.c_str()));
    struct Case {
        const wchar_t* text;
        std::wstring expected;
        bool valid;
    } cases[] = {
        {L"%VANTRELL_LONG%", longValue, true},
        {L"C:\\%VANTRELL_LONG%\\end", L"C:\\" + longValue + L"\\end", true},
        {L"plain", L"plain", true},
        {nullptr, L"", false},
    };
    for (const Case& c : cases) {
        WString expanded = ExpandEnvironmentText(c.text);
        EXPECT_EQ(c.expected, expanded.Text()) << (c.text != nullptr ? c.text : L"(null)");
        EXPECT_EQ(c.valid, expanded.Valid()) << (c.text != nullptr ? c.text : L"(null)");
    }
    SetEnvironmentVariableW(L"VANTRELL_LONG", nullptr);

    wchar_t own[MAX_PATH] = L"";
    ASSERT_NE(0u, GetModuleFileNameW(nullptr, own, MAX_PATH));
    WString path = ModulePath();
    EXPECT_STREQ(own, path.Text());
    WString profiles = ProfilesDirectory();
    EXPECT_TRUE(profiles.Valid() && profiles.Length() > 3) << Show(profiles);
}

TEST(PumpPendingMessages, EmptiesTheQueue)
{
    for (int i = 0; i < 3; ++i)
        ASSERT_TRUE(PostThreadMessageW(GetCurrentThreadId(), WM_APP + i, 0, 0));
    EXPECT_TRUE(PumpPendingMessages());
    MSG message;
    EXPECT_FALSE(PeekMessageW(&message, nullptr, 0, 0, PM_NOREMOVE)) << "left message " << message.message;
}
