#include "platform/text.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <string>
#include <vector>

namespace {

// Readable form of a wide text for failure messages, the same in both builds.
std::string Show(const wchar_t* text)
{
    if (text == nullptr)
        return "(null)";
    std::string shown = "\"";
    static const char kHex[] = "0123456789ABCDEF";
    for (; *text != L'\0'; ++text) {
        uint32_t unit = static_cast<uint32_t>(*text);
        if (unit >= 0x20 && unit < 0x7F) {
            shown += static_cast<char>(unit);
        } else {
            shown += "\\u";
            for (int shift = 12; shift >= 0; shift -= 4)
                shown += kHex[(unit >> shift) & 0xF];
        }
    }
    return shown + "\"";
}

// ---------------------------------------------------------------------------
// Free functions

TEST(TextFunctions, FoldCaseTouchesOnlyAsciiCapitals)
{
    EXPECT_EQ(L'a', FoldCase(L'A'));
    EXPECT_EQ(L'z', FoldCase(L'Z'));
    EXPECT_EQ(L'q', FoldCase(L'q'));
    // Neighbours of the range and letters outside ASCII stay as they are.
    for (wchar_t c : {L'@', L'[', L'`', L'{', L'0', static_cast<wchar_t>(0x00C9), static_cast<wchar_t>(0x0130),
                      static_cast<wchar_t>(0xFFFF)})
        EXPECT_EQ(c, FoldCase(c)) << "unit " << static_cast<uint32_t>(c);
}

TEST(TextFunctions, TextLengthCountsUnitsBeforeTerminator)
{
    EXPECT_EQ(0u, TextLength(nullptr));
    EXPECT_EQ(0u, TextLength(L""));
    EXPECT_EQ(5u, TextLength(L"admin"));
    EXPECT_EQ(2u, TextLength(L"ab\0cd"));
}

struct EqualsCase {
    const wchar_t* a;
    const wchar_t* b;
    bool equal;
};

TEST(TextFunctions, EqualsNoCase)
{
    const EqualsCase cases[] = {
        {L"ADMIN", L"admin", true},
        {L"Guest", L"gUEST", true},
        {L"", L"", true},
        {nullptr, nullptr, true},
        {nullptr, L"", false},
        {L"", nullptr, false},
        {L"admin", L"admins", false},
        {L"admins", L"admin", false},
        {L"\u00C9", L"\u00E9", false},   // folding stops at ASCII
        {L"[", L"{", false},
        {L"@", L"`", false},
    };
    for (const auto& c : cases)
        EXPECT_EQ(c.equal, EqualsNoCase(c.a, c.b)) << Show(c.a) << " vs " << Show(c.b);

    const wchar_t* same = L"X";
    EXPECT_TRUE(EqualsNoCase(same, same));
}

struct CompareCase {
    const wchar_t* a;
    const wchar_t* b;
    bool caseSensitive;
    int expected;
};

TEST(TextFunctions, CompareText)
{
    const CompareCase cases[] = {
        {nullptr, L"x", true, -1},
        {L"x", nullptr, true, 1},
        {nullptr, nullptr, false, 0},
        {nullptr, L"", false, -1},
        {L"abc", L"abcd", true, -1},
        {L"abcd", L"abc", true, 1},
        {L"abc", L"abc", true, 0},
        {L"b", L"A", false, 1},
        {L"b", L"A", true, 1},
        {L"B", L"a", true, -1},   // 'B' < 'a' by value
        {L"B", L"a", false, 1},
        {L"ABC", L"abc", false, 0},
        {L"ABC", L"abc", true, -1},
        {L"a[", L"A{", false, -1},
        // A large unit must not turn negative in either build.
        {L"\uFFFF", L"z", true, 1},
        {L"z", L"\uFFFF", false, -1},
        {L"\uFFFF", L"\u0100", true, 1},
        {L"\u00C9", L"\u00E9", false, -1},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(c.expected, CompareText(c.a, c.b, c.caseSensitive))
            << Show(c.a) << " vs " << Show(c.b) << (c.caseSensitive ? " (case-sensitive)" : " (folded)");
    }
}

// ---------------------------------------------------------------------------
// WString: state, ownership, buffers

TEST(WStringState, DefaultIsEmptyValidWithoutBuffer)
{
    WString s;
    EXPECT_EQ(nullptr, s.Data());
    ASSERT_NE(nullptr, s.Text());
    EXPECT_STREQ(L"", s.Text());
    EXPECT_EQ(0u, s.Length());
    EXPECT_TRUE(s.IsEmpty());
    EXPECT_TRUE(s.Valid());
}

TEST(WStringState, ClearReleasesAndRevalidates)
{
    WString s(L"text");
    s.SetValid(false);
    s.Clear();
    EXPECT_EQ(nullptr, s.Data());
    EXPECT_EQ(0u, s.Length());
    EXPECT_TRUE(s.Valid());
}

TEST(WStringState, MoveConstructionTakesBufferAndLeavesSourceEmpty)
{
    WString source(L"Users");
    source.SetValid(false);
    const wchar_t* buffer = source.Data();

    WString target(std::move(source));
    EXPECT_EQ(buffer, target.Data());
    EXPECT_STREQ(L"Users", target.Text());
    EXPECT_EQ(5u, target.Length());
    EXPECT_FALSE(target.Valid());

    EXPECT_EQ(nullptr, source.Data());
    EXPECT_STREQ(L"", source.Text());
    EXPECT_EQ(0u, source.Length());
    EXPECT_TRUE(source.Valid());
}

TEST(WStringState, MoveAssignmentReplacesOldTextAndLeavesSourceEmpty)
{
    WString source(L"new");
    WString target(L"old text");
    target = std::move(source);
    EXPECT_STREQ(L"new", target.Text());
    EXPECT_EQ(3u, target.Length());
    EXPECT_TRUE(source.IsEmpty());
    EXPECT_TRUE(source.Valid());

    // Source stays usable.
    EXPECT_TRUE(source.Assign(L"again"));
    EXPECT_STREQ(L"again", source.Text());
}

TEST(WStringState, LengthIsMeasuredAfterWritingThroughData)
{
    WString s;
    wchar_t* buffer = s.GetBuffer(8);
    ASSERT_NE(nullptr, buffer);
    EXPECT_EQ(0u, s.Length());
    buffer[0] = L'a';
    buffer[1] = L'b';
    buffer[2] = L'c';
    buffer[3] = L'\0';
    EXPECT_EQ(3u, s.Length());
    EXPECT_STREQ(L"abc", s.Text());
    EXPECT_FALSE(s.IsEmpty());
}

TEST(WStringAssign, CopiesAndRevalidates)
{
    const wchar_t original[] = L"Bob";
    WString s;
    s.SetValid(false);
    EXPECT_TRUE(s.Assign(original));
    EXPECT_NE(original, s.Data());
    EXPECT_STREQ(L"Bob", s.Text());
    EXPECT_EQ(3u, s.Length());
    EXPECT_TRUE(s.Valid());
}

TEST(WStringAssign, NullAndEmptyGiveEmptyBuffer)
{
    for (const wchar_t* text : {static_cast<const wchar_t*>(nullptr), L""}) {
        WString s(L"old");
        s.SetValid(false);
        EXPECT_TRUE(s.Assign(text)) << Show(text);
        EXPECT_NE(nullptr, s.Data()) << Show(text);
        EXPECT_STREQ(L"", s.Text());
        EXPECT_TRUE(s.Valid());
    }
}

TEST(WStringAssign, FromOwnBuffer)
{
    WString s(L"C:\\Users\\Bob");
    EXPECT_TRUE(s.Assign(s.Text() + 3));
    EXPECT_STREQ(L"Users\\Bob", s.Text());
    EXPECT_EQ(9u, s.Length());

    EXPECT_TRUE(s.Assign(s.Text()));
    EXPECT_STREQ(L"Users\\Bob", s.Text());
}

struct SubstringCase {
    const wchar_t* source;
    int start;
    int count;
    const wchar_t* expected;
};

TEST(WStringAssign, Substring)
{
    const SubstringCase cases[] = {
        {L"abcdef", 1, 3, L"abc"},
        {L"abcdef", 3, 2, L"cd"},
        {L"abcdef", 4, 0, L"def"},
        {L"abcdef", 4, -1, L"def"},
        {L"abcdef", 0, 2, L"ab"},
        {L"abcdef", -7, 0, L"abcdef"},
        {L"abcdef", 5, 100, L"ef"},
        {L"abcdef", 6, 1, L"f"},
        {L"abcdef", 7, 1, L""},
        {L"abcdef", 1000, 0, L""},
        {L"", 1, 1, L""},
    };
    for (const auto& c : cases) {
        WString s(L"previous");
        s.SetValid(false);
        EXPECT_TRUE(s.AssignSubstring(c.source, c.start, c.count));
        EXPECT_STREQ(c.expected, s.Text()) << Show(c.source) << " start " << c.start << " count " << c.count;
        EXPECT_EQ(TextLength(c.expected), s.Length());
        EXPECT_TRUE(s.Valid());
    }
}

TEST(WStringAssign, SubstringOfNullKeepsTextButInvalidates)
{
    WString s(L"kept");
    EXPECT_FALSE(s.AssignSubstring(nullptr, 1, 2));
    EXPECT_STREQ(L"kept", s.Text());
    EXPECT_FALSE(s.Valid());
}

TEST(WStringAssign, SubstringStopsAtTerminatorEvenWhenStartIsBeyond)
{
    // Units after the terminator must never be read or copied.
    const wchar_t source[] = {L'a', L'b', L'\0', L'x', L'y', L'\0'};
    WString s;
    EXPECT_TRUE(s.AssignSubstring(source, 4, 2));
    EXPECT_STREQ(L"", s.Text());
    EXPECT_TRUE(s.AssignSubstring(source, 2, 10));
    EXPECT_STREQ(L"b", s.Text());
}

TEST(WStringAssign, SubstringOfOwnBuffer)
{
    WString s(L"HKLM\\SOFTWARE\\Vantrell");
    EXPECT_TRUE(s.AssignSubstring(s.Text(), 6, 8));
    EXPECT_STREQ(L"SOFTWARE", s.Text());
    EXPECT_EQ(8u, s.Length());
}

TEST(WStringBuffer, FreshBufferIsTerminatedAndKeepsValidity)
{
    WString s(L"old");
    s.SetValid(false);
    wchar_t* buffer = s.GetBuffer(4);
    ASSERT_NE(nullptr, buffer);
    EXPECT_EQ(L'\0', buffer[0]);
    EXPECT_EQ(L'\0', buffer[4]);
    EXPECT_FALSE(s.Valid());
    EXPECT_EQ(buffer, s.Data());
    EXPECT_TRUE(s.IsEmpty());
}

TEST(WStringBuffer, ZeroFillClearsEveryUnit)
{
    WString s;
    wchar_t* buffer = s.GetBuffer(6, nullptr, true);
    ASSERT_NE(nullptr, buffer);
    for (int i = 0; i <= 6; ++i)
        EXPECT_EQ(L'\0', buffer[i]) << "unit " << i;
}

TEST(WStringBuffer, SeedIsCutToCapacity)
{
    WString s;
    wchar_t* buffer = s.GetBuffer(3, L"abcdef");
    ASSERT_NE(nullptr, buffer);
    EXPECT_STREQ(L"abc", s.Text());
    EXPECT_EQ(3u, s.Length());

    buffer = s.GetBuffer(10, L"xy", true);
    ASSERT_NE(nullptr, buffer);
    EXPECT_STREQ(L"xy", s.Text());
    EXPECT_EQ(L'\0', buffer[9]);
}

TEST(WStringBuffer, SeedMayBeOldBuffer)
{
    WString s(L"Administrator");
    wchar_t* buffer = s.GetBuffer(32, s.Text());
    ASSERT_NE(nullptr, buffer);
    EXPECT_STREQ(L"Administrator", s.Text());
    // The extra room is usable.
    buffer[13] = L's';
    buffer[14] = L'\0';
    EXPECT_STREQ(L"Administrators", s.Text());
    EXPECT_EQ(14u, s.Length());
}

// ---------------------------------------------------------------------------
// WString: joining

TEST(WStringJoin, AppendSkipsNullsAndEmpties)
{
    const wchar_t* none = nullptr;
    WString s(L"C:");
    s.SetValid(false);
    EXPECT_TRUE(s.Append(none, L"\\", L"", L"Users", none));
    EXPECT_STREQ(L"C:\\Users", s.Text());
    EXPECT_EQ(8u, s.Length());
    EXPECT_TRUE(s.Valid());
}

TEST(WStringJoin, AppendTwelveParts)
{
    WString s;
    EXPECT_TRUE(s.Append(L"a", L"b", L"c", L"d", L"e", L"f", L"g", L"h", L"i", L"j", L"k", L"l"));
    EXPECT_STREQ(L"abcdefghijkl", s.Text());
    EXPECT_EQ(12u, s.Length());
}

TEST(WStringJoin, AppendNothingKeepsTextAndRevalidates)
{
    const wchar_t* none = nullptr;
    WString s(L"same");
    s.SetValid(false);
    EXPECT_TRUE(s.Append(none, L""));
    EXPECT_STREQ(L"same", s.Text());
    EXPECT_TRUE(s.Valid());

    WString empty;
    EXPECT_TRUE(empty.Append(none));
    EXPECT_STREQ(L"", empty.Text());
}

TEST(WStringJoin, AppendOwnText)
{
    WString s(L"ab");
    EXPECT_TRUE(s.Append(s.Text(), L"-", s.Text()));
    EXPECT_STREQ(L"ab" L"ab-ab", s.Text());
    EXPECT_EQ(7u, s.Length());
}

TEST(WStringJoin, AppendAfterExternalWrite)
{
    WString s;
    wchar_t* buffer = s.GetBuffer(10);
    ASSERT_NE(nullptr, buffer);
    buffer[0] = L'x';
    buffer[1] = L'\0';
    EXPECT_TRUE(s.Append(L"yz"));
    EXPECT_STREQ(L"xyz", s.Text());
}

TEST(WStringJoin, Prepend)
{
    WString s(L"Bob");
    EXPECT_TRUE(s.Prepend(L"C:\\", L"Users", L"\\"));
    EXPECT_STREQ(L"C:\\Users\\Bob", s.Text());
    EXPECT_EQ(12u, s.Length());

    WString one(L"tail");
    EXPECT_TRUE(one.Prepend(L"head-"));
    EXPECT_STREQ(L"head-tail", one.Text());

    WString skipped(L"x");
    EXPECT_TRUE(skipped.Prepend(nullptr, L"", L"w"));
    EXPECT_STREQ(L"wx", skipped.Text());

    WString empty;
    EXPECT_TRUE(empty.Prepend(L"only"));
    EXPECT_STREQ(L"only", empty.Text());

    WString own(L"ab");
    EXPECT_TRUE(own.Prepend(own.Text(), L"|"));
    EXPECT_STREQ(L"ab|ab", own.Text());
}

// ---------------------------------------------------------------------------
// WString: searching and replacing

struct FindCase {
    const wchar_t* text;
    const wchar_t* needle;
    bool caseSensitive;
    int occurrence;
    int start;
    int window;
    uint32_t expected;
};

TEST(WStringFind, Positions)
{
    const FindCase cases[] = {
        // occurrences, from either end
        {L"a\\b\\c", L"\\", true, -1, 1, 0, 4},
        {L"a\\b\\c", L"\\", true, 1, 1, 0, 2},
        {L"a\\b\\c", L"\\", true, 2, 1, 0, 4},
        {L"a\\b\\c", L"\\", true, 3, 1, 0, 0},
        {L"a\\b\\c", L"\\", true, -2, 1, 0, 2},
        {L"a\\b\\c", L"\\", true, -3, 1, 0, 0},
        {L"a\\b\\c", L"\\", true, 0, 1, 0, 2},
        // overlapping matches count
        {L"aaaa", L"aa", true, 1, 1, 0, 1},
        {L"aaaa", L"aa", true, 2, 1, 0, 2},
        {L"aaaa", L"aa", true, 3, 1, 0, 3},
        {L"aaaa", L"aa", true, 4, 1, 0, 0},
        {L"aaaa", L"aa", true, -1, 1, 0, 3},
        // folding
        {L"C:\\Users", L"users", false, 1, 1, 0, 4},
        {L"C:\\Users", L"users", true, 1, 1, 0, 0},
        {L"\u00C9t\u00E9", L"\u00E9", false, 1, 1, 0, 3},
        // start
        {L"a\\b\\c", L"\\", true, 1, 3, 0, 4},
        {L"a\\b\\c", L"\\", true, 1, 4, 0, 4},
        {L"a\\b\\c", L"\\", true, 1, 5, 0, 0},
        {L"a\\b\\c", L"\\", true, 1, -3, 0, 2},
        {L"a\\b\\c", L"\\", true, -1, 3, 0, 4},
        {L"a\\b\\c", L"\\", true, -2, 3, 0, 0},
        {L"abc", L"bc", true, 1, 2, 0, 2},
        {L"abc", L"bc", true, 1, 3, 0, 0},
        {L"abc", L"c", true, 1, 1000, 0, 0},
        // window
        {L"S-1-5-18", L"S-1-", true, 1, 1, 4, 1},
        {L"xS-1-5", L"S-1-", true, 1, 1, 4, 0},
        {L"xS-1-5", L"S-1-", true, 1, 1, 5, 2},
        {L"xS-1-5", L"S-1-", true, 1, 2, 4, 2},
        {L"abcabc", L"abc", true, 1, 1, 2, 0},   // window shorter than the needle
        {L"abcabc", L"abc", true, 2, 1, 5, 0},   // second match sticks out
        {L"abcabc", L"abc", true, 2, 1, 6, 4},
        {L"abcabc", L"abc", true, -1, 1, 5, 1},
        {L"abcabc", L"abc", true, 2, 1, 99, 4},  // too wide: the rest of the text
        {L"abcabc", L"abc", true, 2, 1, -1, 4},
        // nothing to find
        {L"abc", L"", true, 1, 1, 0, 0},
        {L"abc", nullptr, true, 1, 1, 0, 0},
        {L"", L"a", true, 1, 1, 0, 0},
        {L"ab", L"abc", true, 1, 1, 0, 0},
    };
    for (const auto& c : cases) {
        WString s(c.text);
        EXPECT_EQ(c.expected, s.Find(c.needle, c.caseSensitive, c.occurrence, c.start, c.window))
            << "find " << Show(c.needle) << " in " << Show(c.text) << " occurrence " << c.occurrence << " start "
            << c.start << " window " << c.window << (c.caseSensitive ? " (case-sensitive)" : " (folded)");
    }
}

TEST(WStringFind, DefaultsFindFirstAnywhere)
{
    WString s(L"HKLM\\Software\\Vantrell");
    EXPECT_EQ(5u, s.Find(L"\\", true));
    EXPECT_EQ(15u, s.Find(L"VANTRELL", false));
    WString none;
    EXPECT_EQ(0u, none.Find(L"x", true));
}

struct ReplaceCase {
    const wchar_t* text;
    const wchar_t* find;
    const wchar_t* replacement;
    int occurrence;
    bool caseSensitive;
    const wchar_t* expected;
    bool replaced;
};

TEST(WStringReplace, Results)
{
    const ReplaceCase cases[] = {
        {L"aaaa", L"aa", L"b", 0, false, L"bb", true},
        {L"aaaaa", L"aa", L"b", 0, false, L"bba", true},
        {L"a.b.c", L".", L"\\", 0, false, L"a\\b\\c", true},
        {L"a.b.c", L".", L"--", 0, false, L"a--b--c", true},
        {L"a.b.c", L".", L"", 0, false, L"abc", true},
        {L"a.b.c", L".", nullptr, 0, false, L"abc", true},
        {L"a.b.c", L".", L"::", 2, false, L"a.b::c", true},
        {L"a.b.c", L".", L"::", -1, false, L"a.b::c", true},
        {L"a.b.c", L".", L"::", -2, false, L"a::b.c", true},
        {L"a.b.c", L".", L"::", 3, false, L"a.b.c", false},
        {L"aaaa", L"aa", L"x", 2, false, L"axa", true},   // occurrence counts overlaps
        {L"Users\\USERS", L"users", L"U", 0, false, L"U\\U", true},
        {L"Users\\USERS", L"users", L"U", 0, true, L"Users\\USERS", false},
        {L"Users\\USERS", L"USERS", L"U", 0, true, L"Users\\U", true},
        {L"abc", L"abc", L"", 0, false, L"", true},
        {L"abc", L"abc", L"abcabc", 0, false, L"abcabc", true},
        {L"abab", L"ab", L"ba", 0, false, L"baba", true},
        {L"x", L"y", L"zz", 0, false, L"x", false},
        {L"abc", L"", L"z", 0, false, L"abc", false},
        {L"abc", nullptr, L"z", 0, false, L"abc", false},
        {L"ab", L"abc", L"z", 0, false, L"ab", false},
    };
    for (const auto& c : cases) {
        WString s(c.text);
        s.SetValid(false);
        EXPECT_EQ(c.replaced, s.Replace(c.find, c.replacement, c.occurrence, c.caseSensitive))
            << Show(c.find) << " -> " << Show(c.replacement) << " in " << Show(c.text) << " occurrence "
            << c.occurrence;
        EXPECT_STREQ(c.expected, s.Text())
            << Show(c.find) << " -> " << Show(c.replacement) << " in " << Show(c.text) << " occurrence "
            << c.occurrence;
        EXPECT_EQ(TextLength(c.expected), s.Length()) << Show(c.text);
        EXPECT_TRUE(s.Valid()) << Show(c.text);
    }
}

TEST(WStringReplace, EmptyTextIsLeftAlone)
{
    WString s;
    s.SetValid(false);
    EXPECT_FALSE(s.Replace(L"a", L"b"));
    EXPECT_STREQ(L"", s.Text());
    EXPECT_FALSE(s.Valid());
}

TEST(WStringReplace, ShrinkingKeepsBufferGrowingMakesNewOne)
{
    WString s(L"a.b.c");
    const wchar_t* before = s.Data();
    EXPECT_TRUE(s.Replace(L".", L"/"));
    EXPECT_EQ(before, s.Data());

    EXPECT_TRUE(s.Replace(L"/", L"//"));
    EXPECT_NE(before, s.Data());
    EXPECT_STREQ(L"a//b//c", s.Text());
}

TEST(WStringReplace, TextsFromOwnBuffer)
{
    WString s(L"ab-ab");
    // Replace "ab" with the whole text: the replacement is our own buffer.
    EXPECT_TRUE(s.Replace(s.Text(), L"x"));
    EXPECT_STREQ(L"x", s.Text());

    WString t(L"ab-ab");
    EXPECT_TRUE(t.Replace(L"-", t.Text()));
    EXPECT_STREQ(L"abab-abab", t.Text());

    WString u(L"abcab");
    EXPECT_TRUE(u.Replace(u.Text() + 3, L"Z"));   // "ab", shrinking in place
    EXPECT_STREQ(L"ZcZ", u.Text());
}

// ---------------------------------------------------------------------------
// WString: trimming and paths

struct EraseCase {
    const wchar_t* text;
    int n;
    const wchar_t* expected;
};

TEST(WStringEdit, EraseLeft)
{
    const EraseCase cases[] = {
        {L"\\\\?\\C:\\x", 4, L"C:\\x"},
        {L"abc", 0, L"abc"},
        {L"abc", -2, L"abc"},
        {L"abc", 3, L""},
        {L"abc", 99, L""},
        {L"", 2, L""},
    };
    for (const auto& c : cases) {
        WString s(c.text);
        s.SetValid(false);
        EXPECT_TRUE(s.EraseLeft(c.n));
        EXPECT_STREQ(c.expected, s.Text()) << Show(c.text) << " erase " << c.n;
        EXPECT_EQ(TextLength(c.expected), s.Length());
        EXPECT_TRUE(s.Valid());
    }
}

struct TrimCase {
    const wchar_t* text;
    const wchar_t* expected;
    bool valid;
};

TEST(WStringEdit, Trim)
{
    const TrimCase cases[] = {
        {L"  name\t\r\n", L"name", true},
        {L"\r\n two words \t", L"two words", true},
        {L"inner \t kept", L"inner \t kept", true},
        {L" \t\r\n ", L"", true},
        {L"\vx\f", L"\vx\f", true},   // only the four blanks are stripped
        {L"", L"", false},
    };
    for (const auto& c : cases) {
        WString s(c.text);
        EXPECT_EQ(c.valid, s.Trim()) << Show(c.text);
        EXPECT_STREQ(c.expected, s.Text()) << Show(c.text);
        EXPECT_EQ(TextLength(c.expected), s.Length()) << Show(c.text);
        EXPECT_EQ(c.valid, s.Valid()) << Show(c.text);
    }

    WString none;
    EXPECT_FALSE(none.Trim());
    EXPECT_FALSE(none.Valid());
}

struct PathCase {
    const wchar_t* text;
    const wchar_t* expected;
};

TEST(WStringPath, RemoveLastComponent)
{
    const PathCase cases[] = {
        {L"C:\\Users\\Bob\\", L"C:\\Users"},
        {L"C:\\Users\\Bob", L"C:\\Users"},
        {L"C:\\Users", L"C:"},
        {L"C:\\", L"C:"},
        {L"C:", L"C:"},
        {L"\\name", L"\\name"},
        {L"a\\b", L"a\\b"},
        {L"a\\b\\", L"a\\b"},
        {L"name", L"name"},
        {L"HKLM\\SOFTWARE", L"HKLM"},
        {L"HKLM\\SOFTWARE\\\\\\", L"HKLM"},
        {L"HKLM", L"HKLM"},
        {L"", L""},
    };
    for (const auto& c : cases) {
        WString s(c.text);
        bool changed = s.RemoveLastComponent();
        EXPECT_STREQ(c.expected, s.Text()) << "from " << Show(c.text);
        EXPECT_EQ(TextLength(c.expected), s.Length()) << "from " << Show(c.text);
        EXPECT_EQ(!EqualsNoCase(c.text, c.expected), changed) << "from " << Show(c.text);
    }
}

TEST(WStringPath, RepeatedRemovalStopsAtRoot)
{
    WString s(L"C:\\Users\\Bob\\AppData");
    int steps = 0;
    while (s.RemoveLastComponent() && steps < 10)
        ++steps;
    EXPECT_EQ(3, steps);
    EXPECT_STREQ(L"C:", s.Text());
}

struct ExtensionCase {
    const wchar_t* text;
    int offset;   // of the dot, -1 for none
};

TEST(WStringPath, FindExtension)
{
    const ExtensionCase cases[] = {
        {L"C:\\a\\b.txt", 6},
        {L"C:\\dir.d\\file", -1},
        {L"C:\\dir.d\\file.tar.gz", 17},
        {L"name.", -1},
        {L"name", -1},
        {L".profile", 0},
        {L"", -1},
    };
    for (const auto& c : cases) {
        WString s(c.text);
        const wchar_t* dot = s.FindExtension();
        if (c.offset < 0) {
            EXPECT_EQ(nullptr, dot) << Show(c.text) << " gave " << Show(dot);
        } else {
            EXPECT_EQ(s.Text() + c.offset, dot) << Show(c.text) << " gave " << Show(dot);
        }
    }
    WString none;
    EXPECT_EQ(nullptr, none.FindExtension());
}

TEST(WStringPath, AddLongPathPrefix)
{
    const PathCase cases[] = {
        {L"C:\\Users", L"\\\\?\\C:\\Users"},
        {L"C:", L"\\\\?\\C:"},
        {L"\\\\server\\share", L"\\\\server\\share"},
        {L"\\\\?\\C:\\x", L"\\\\?\\C:\\x"},
        {L"relative\\x", L"relative\\x"},
        {L"C", L"C"},
        {L"", L""},
    };
    for (const auto& c : cases) {
        WString s(c.text);
        s.SetValid(false);
        EXPECT_TRUE(s.AddLongPathPrefix()) << Show(c.text);
        EXPECT_STREQ(c.expected, s.Text()) << "from " << Show(c.text);
        EXPECT_TRUE(s.Valid());
    }
}

// ---------------------------------------------------------------------------
// WString: numbers

TEST(WStringNumber, FromIntegers)
{
    WString s;
    struct {
        int64_t value;
        const wchar_t* expected;
    } const signed64[] = {
        {0, L"0"},
        {7, L"7"},
        {-7, L"-7"},
        {1000, L"1000"},
        {INT64_MAX, L"9223372036854775807"},
        {INT64_MIN, L"-9223372036854775808"},
    };
    for (const auto& c : signed64) {
        EXPECT_TRUE(s.FromInt64(c.value));
        EXPECT_STREQ(c.expected, s.Text()) << c.value;
    }

    EXPECT_TRUE(s.FromInt32(INT32_MIN));
    EXPECT_STREQ(L"-2147483648", s.Text());
    EXPECT_TRUE(s.FromInt32(INT32_MAX));
    EXPECT_STREQ(L"2147483647", s.Text());
    EXPECT_TRUE(s.FromInt32(-1));
    EXPECT_STREQ(L"-1", s.Text());
    EXPECT_TRUE(s.FromUInt32(4294967295u));
    EXPECT_STREQ(L"4294967295", s.Text());
    EXPECT_EQ(10u, s.Length());
    EXPECT_TRUE(s.FromUInt32(0));
    EXPECT_STREQ(L"0", s.Text());
}

struct ToIntCase {
    const wchar_t* text;
    int32_t expected;
    bool valid;
};

TEST(WStringNumber, ToInt)
{
    const ToIntCase cases[] = {
        {L"42", 42, true},
        {L"-5", -5, true},
        {L"+5", 5, true},
        {L"12abc", 12, true},
        {L" \t\r\n\v\f17", 17, true},
        {L"abc", 0, true},
        {L"-", 0, true},
        {L"+-3", 0, true},
        {L"- 3", 0, true},
        {L"007", 7, true},
        {L"2147483647", INT32_MAX, true},
        {L"2147483648", INT32_MIN, true},
        {L"4294967295", -1, true},
        {L"4294967296", -1, true},
        {L"99999999999999999999999", -1, true},
        {L"-4294967295", 1, true},
        {L"-2147483648", INT32_MIN, true},
        {L"-99999999999", -1, true},   // out of range stays the largest value
        {L"\uFF11", 0, true},            // only ASCII digits count
        {L"", 0, false},
    };
    for (const auto& c : cases) {
        WString s(c.text);
        EXPECT_EQ(c.expected, s.ToInt()) << Show(c.text);
        EXPECT_EQ(c.valid, s.Valid()) << Show(c.text);
    }

    WString none;
    EXPECT_EQ(0, none.ToInt());
    EXPECT_FALSE(none.Valid());
}

TEST(WStringNumber, RoundTrip)
{
    WString s;
    for (int32_t value : {0, 1, -1, 123456, -98765, INT32_MAX, INT32_MIN}) {
        ASSERT_TRUE(s.FromInt32(value));
        EXPECT_EQ(value, s.ToInt()) << Show(s.Text());
    }
}

// ---------------------------------------------------------------------------
// StringList

std::vector<std::wstring> Pieces(const StringList& list)
{
    std::vector<std::wstring> pieces;
    for (uint32_t i = 0; i < list.Count(); ++i)
        pieces.emplace_back(list[i]);
    return pieces;
}

std::string Show(const std::vector<std::wstring>& pieces)
{
    std::string shown = "{";
    for (size_t i = 0; i < pieces.size(); ++i)
        shown += (i == 0 ? "" : ", ") + Show(pieces[i].c_str());
    return shown + "}";
}

struct SplitCase {
    const wchar_t* text;
    const wchar_t* separator;
    std::vector<std::wstring> expected;
};

TEST(StringListSplit, Pieces)
{
    const SplitCase cases[] = {
        {L"a|b|c", L"|", {L"a", L"b", L"c"}},
        {L"a||b", L"|", {L"a", L"", L"b"}},
        {L"|a", L"|", {L"", L"a"}},
        {L"a|b|", L"|", {L"a", L"b"}},
        {L"|", L"|", {L""}},
        {L"||", L"|", {L"", L""}},
        {L"abc", L"|", {L"abc"}},
        {L"", L"|", {L""}},
        {nullptr, L"|", {L""}},
        {L"a|b", L"", {L"a|b"}},
        {L"a|b", nullptr, {L"a|b"}},
        {L"one\r\ntwo\r\n\r\nthree", L"\r\n", {L"one", L"two", L"", L"three"}},
        {L"one\r\ntwo\r\n", L"\r\n", {L"one", L"two"}},
        {L"a\rb\r\nc", L"\r\n", {L"a\rb", L"c"}},
        {L"xAxa", L"a", {L"xAx"}},   // separators are case-sensitive
        {L"aaa", L"aa", {L"", L"a"}},
    };
    for (const auto& c : cases) {
        StringList list;
        list.Split(c.text, c.separator);
        EXPECT_EQ(c.expected, Pieces(list))
            << Show(c.text) << " at " << Show(c.separator) << " gave " << Show(Pieces(list));
    }
}

TEST(StringListSplit, OutOfRangeIsEmptyText)
{
    StringList list;
    EXPECT_EQ(0u, list.Count());
    ASSERT_NE(nullptr, list[0]);
    EXPECT_STREQ(L"", list[0]);

    list.Split(L"a|b", L"|");
    ASSERT_EQ(2u, list.Count());
    EXPECT_STREQ(L"", list[2]);
    EXPECT_STREQ(L"", list[UINT32_MAX]);
}

TEST(StringListSplit, GrowsPastInitialSlots)
{
    for (uint32_t total : {10u, 11u, 20u, 21u, 45u}) {
        std::wstring text;
        for (uint32_t i = 0; i < total; ++i)
            text += (i == 0 ? L"" : L"|") + std::to_wstring(i);
        StringList list;
        list.Split(text.c_str(), L"|");
        ASSERT_EQ(total, list.Count()) << total << " pieces";
        for (uint32_t i = 0; i < total; ++i)
            EXPECT_EQ(std::to_wstring(i), std::wstring(list[i])) << "piece " << i << " of " << total;
    }
}

TEST(StringListSplit, SplittingAgainStartsOver)
{
    StringList list;
    list.Split(L"a|b|c|d", L"|");
    ASSERT_EQ(4u, list.Count());
    list.Split(L"x,y", L",");
    EXPECT_EQ((std::vector<std::wstring>{L"x", L"y"}), Pieces(list)) << Show(Pieces(list));
}

TEST(StringListSplit, KeepsOwnCopyOfText)
{
    wchar_t text[] = L"a|b";
    StringList list;
    list.Split(text, L"|");
    text[0] = L'z';
    EXPECT_STREQ(L"a", list[0]);
    EXPECT_STREQ(L"z|b", text);   // the caller's text is not cut
}

TEST(StringListSplit, MovedListKeepsPieces)
{
    StringList source;
    source.Split(L"one|two|three", L"|");
    StringList moved(std::move(source));
    EXPECT_EQ((std::vector<std::wstring>{L"one", L"two", L"three"}), Pieces(moved)) << Show(Pieces(moved));
    EXPECT_EQ(0u, source.Count());

    StringList assigned;
    assigned.Split(L"old", L"|");
    assigned = std::move(moved);
    EXPECT_EQ((std::vector<std::wstring>{L"one", L"two", L"three"}), Pieces(assigned)) << Show(Pieces(assigned));
    EXPECT_EQ(0u, moved.Count());

    // A moved-from list can be used again.
    source.Split(L"p|q", L"|");
    EXPECT_EQ((std::vector<std::wstring>{L"p", L"q"}), Pieces(source)) << Show(Pieces(source));
}

// ---------------------------------------------------------------------------
// SettleOsVersion

// A system of the given version (major 0: one that answers no to everything)
// that writes down every question asked.
class FakeProbe : public VersionProbe {
public:
    FakeProbe(uint32_t major, uint32_t minor) : major_(major), minor_(minor) {}

    bool MajorAtLeast(uint32_t major) override
    {
        questions.push_back(">=" + std::to_string(major));
        return major_ != 0 && major_ >= major;
    }
    bool MajorIs(uint32_t major) override
    {
        questions.push_back("==" + std::to_string(major));
        return major_ != 0 && major_ == major;
    }
    bool MajorMinorIs(uint32_t major, uint32_t minor) override
    {
        questions.push_back(std::to_string(major) + "." + std::to_string(minor));
        return major_ != 0 && major_ == major && minor_ == minor;
    }

    std::vector<std::string> questions;

private:
    uint32_t major_;
    uint32_t minor_;
};

std::string Join(const std::vector<std::string>& questions)
{
    std::string joined;
    for (const auto& q : questions)
        joined += (joined.empty() ? "" : " ") + q;
    return joined;
}

struct VersionCase {
    const char* name;
    uint32_t reportedMajor;
    uint32_t reportedMinor;
    uint32_t systemMajor;
    uint32_t systemMinor;
    double expected;
    std::vector<std::string> questions;
};

TEST(SettleOsVersion, Answers)
{
    const VersionCase cases[] = {
        {"reported 6.2 is trusted", 6, 2, 6, 2, 6.2, {}},
        {"reported 6.2 on 8.1 is taken as it stands", 6, 2, 6, 3, 6.2, {}},
        {"reported 6.2 on 10 is taken as it stands", 6, 2, 10, 0, 6.2, {}},
        {"reported 6.1", 6, 1, 6, 1, 6.1, {}},
        {"reported 6.0", 6, 0, 6, 0, 6.0, {}},
        {"reported 5.1", 5, 1, 5, 1, 5.1, {}},
        {"reported 10.0 on 10", 10, 0, 10, 0, 10.0, {">=10"}},
        {"reported 6.3 on 10", 6, 3, 10, 0, 10.0, {">=10"}},
        {"reported 6.3 on 8.1", 6, 3, 6, 3, 6.3, {">=10", "==6", "6.3", "6.2", "6.1"}},
        {"reported 6.3 on 6.0", 6, 3, 6, 0, 6.0, {">=10", "==6", "6.3", "6.2", "6.1"}},
        {"reported 0.0, system silent", 0, 0, 0, 0, 0.0, {">=10", "==6", "==5"}},
        {"reported 0.0 on 5.2", 0, 0, 5, 2, 5.2, {">=10", "==6", "==5", "5.3", "5.2", "5.1"}},
        {"reported 0.0 on 7", 0, 0, 7, 0, 0.0, {">=10", "==6", "==5"}},
    };
    for (const auto& c : cases) {
        FakeProbe probe(c.systemMajor, c.systemMinor);
        EXPECT_DOUBLE_EQ(c.expected, SettleOsVersion(c.reportedMajor, c.reportedMinor, probe)) << c.name;
        EXPECT_EQ(c.questions, probe.questions) << c.name << ": asked " << Join(probe.questions);
    }
}

}  // namespace
