#include "platform/text.h"
#include "tests/narrow.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <string>
#include <vector>

namespace {

std::string Show(const wchar_t* text) { return text == nullptr ? "(null)" : "\"" + Narrow(text) + "\""; }

TEST(TextFunctions, FoldLengthEqualsAndCompare)
{
    EXPECT_EQ(L'a', FoldCase(L'A'));
    EXPECT_EQ(L'z', FoldCase(L'Z'));
    for (wchar_t c : {L'@', L'[', L'`', L'{', static_cast<wchar_t>(0x00C9)})
        EXPECT_EQ(c, FoldCase(c)) << "unit " << static_cast<uint32_t>(c);
    EXPECT_EQ(0u, TextLength(nullptr));
    EXPECT_EQ(2u, TextLength(L"ab\0cd"));

    struct { const wchar_t* a; const wchar_t* b; bool equal; } const equal[] = {
        {L"ADMIN", L"admin", true}, {nullptr, nullptr, true},     {nullptr, L"", false}, {L"", nullptr, false},
        {L"admin", L"admins", false}, {L"admins", L"admin", false}, {L"\u00C9", L"\u00E9", false}, {L"[", L"{", false},
    };
    for (const auto& c : equal)
        EXPECT_EQ(c.equal, EqualsNoCase(c.a, c.b)) << Show(c.a) << " vs " << Show(c.b);

    struct { const wchar_t* a; const wchar_t* b; bool caseSensitive; int expected; } const compare[] = {
        {nullptr, L"x", true, -1},  {L"x", nullptr, true, 1},     {nullptr, nullptr, false, 0},
        {L"abc", L"abcd", true, -1}, {L"abcd", L"abc", true, 1},  {L"B", L"a", true, -1},
        {L"B", L"a", false, 1},     {L"ABC", L"abc", false, 0},   {L"a[", L"A{", false, -1},
        // A large unit must not turn negative in either build.
        {L"\uFFFF", L"z", true, 1}, {L"z", L"\uFFFF", false, -1},
    };
    for (const auto& c : compare)
        EXPECT_EQ(c.expected, CompareText(c.a, c.b, c.caseSensitive))
            << Show(c.a) << " vs " << Show(c.b) << (c.caseSensitive ? " (exact)" : " (folded)");
}

// What a user may write into a name or a shell-folder value reaches the
// administrator's screen as characters, never as a line break or a command.
TEST(TextFunctions, ControlCharactersFoundAndShownEscaped)
{
    struct { const wchar_t* text; bool control; const wchar_t* shown; } const cases[] = {
        {L"Li Chen", false, L"Li Chen"},
        {L"a\tb", true, L"a\\x09b"},
        {L"ok\r\nroot\tadministrator", true, L"ok\\x0D\\x0Aroot\\x09administrator"},
        {L"\x1b[2J", true, L"\\x1B[2J"},
        {L"del\x7f c1\x85\x9f\x1f", true, L"del\\x7F c1\\x85\\x9F\\x1F"},
        {L"C:\\Users\\M\u00fcller", false, L"C:\\Users\\M\u00fcller"},
        // The marks that turn the text's direction around.
        {L"x\u202Etxt\u200E\u200F\u202A\u2066\u2069", true, L"x\\u202Etxt\\u200E\\u200F\\u202A\\u2066\\u2069"},
        {L" ~\u00A0\u200D\u2010\u2029\u2065\u206A\u202F", false, L" ~\u00A0\u200D\u2010\u2029\u2065\u206A\u202F"},
        {L"", false, L""},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(c.control, HasControlCharacter(c.text)) << Show(c.text);
        EXPECT_EQ(std::wstring(c.shown), EscapeControls(c.text).Text()) << Show(c.text);
    }
    const std::wstring longText(1000, L'\n');
    EXPECT_EQ(4000u, std::wstring(EscapeControls(longText.c_str()).Text()).size());
}

TEST(WStringState, EmptyClearedAndMovedAreValid)
{
    WString s;
    EXPECT_EQ(nullptr, s.Data());
    EXPECT_STREQ(L"", s.Text());
    EXPECT_TRUE(s.Valid());

    WString source(L"Users");
    source.SetValid(false);
    const wchar_t* buffer = source.Data();
    WString target(std::move(source));
    EXPECT_EQ(buffer, target.Data());
    EXPECT_EQ(5u, target.Length());
    EXPECT_FALSE(target.Valid());
    EXPECT_EQ(nullptr, source.Data());
    EXPECT_EQ(0u, source.Length());
    EXPECT_TRUE(source.Valid());

    WString assigned(L"old text");
    assigned = std::move(target);
    EXPECT_STREQ(L"Users", assigned.Text());
    EXPECT_TRUE(target.IsEmpty());
    EXPECT_TRUE(target.Valid());

    assigned.SetValid(false);
    assigned.Clear();
    EXPECT_EQ(nullptr, assigned.Data());
    EXPECT_EQ(0u, assigned.Length());
    EXPECT_TRUE(assigned.Valid());
}

TEST(WStringAssign, CopiesFromAnywhereAndNeverLeavesNull)
{
    const wchar_t original[] = L"Bob";
    WString s;
    s.SetValid(false);
    EXPECT_TRUE(s.Assign(original));
    EXPECT_NE(original, s.Data());
    EXPECT_STREQ(L"Bob", s.Text());
    EXPECT_TRUE(s.Valid());

    WString t(L"old");
    EXPECT_TRUE(t.Assign(nullptr));
    EXPECT_NE(nullptr, t.Data());
    EXPECT_STREQ(L"", t.Text());

    WString own(L"C:\\Users\\Bob");
    EXPECT_TRUE(own.Assign(own.Text() + 3));
    EXPECT_STREQ(L"Users\\Bob", own.Text());
    EXPECT_EQ(9u, own.Length());
    EXPECT_TRUE(own.AssignSubstring(own.Text(), 7, 3));
    EXPECT_STREQ(L"Bob", own.Text());
}

TEST(WStringAssign, Substring)
{
    struct { int start; int count; const wchar_t* expected; } const cases[] = {
        {3, 2, L"cd"}, {4, 0, L"def"}, {4, -1, L"def"}, {-7, 0, L"abcdef"},
        {5, 100, L"ef"}, {6, 1, L"f"}, {7, 1, L""}, {1000, 0, L""},
    };
    for (const auto& c : cases) {
        WString s(L"previous");
        s.SetValid(false);
        EXPECT_TRUE(s.AssignSubstring(L"abcdef", c.start, c.count));
        EXPECT_STREQ(c.expected, s.Text()) << "start " << c.start << " count " << c.count;
        EXPECT_EQ(TextLength(c.expected), s.Length());
        EXPECT_TRUE(s.Valid());
    }

    // Nothing behind the terminator may be read.
    const wchar_t source[] = {L'a', L'b', L'\0', L'x', L'y', L'\0'};
    WString s;
    EXPECT_TRUE(s.AssignSubstring(source, 4, 2));
    EXPECT_STREQ(L"", s.Text());

    WString kept(L"kept");
    EXPECT_FALSE(kept.AssignSubstring(nullptr, 1, 2));
    EXPECT_STREQ(L"kept", kept.Text());
    EXPECT_FALSE(kept.Valid());
}

TEST(WStringBuffer, TerminatedSeededAndMeasuredAfterWriting)
{
    WString s(L"old");
    s.SetValid(false);
    wchar_t* buffer = s.GetBuffer(6, nullptr, true);
    ASSERT_NE(nullptr, buffer);
    for (int i = 0; i <= 6; ++i)
        EXPECT_EQ(L'\0', buffer[i]) << "unit " << i;
    EXPECT_FALSE(s.Valid());

    ASSERT_NE(nullptr, s.GetBuffer(3, L"abcdef"));
    EXPECT_STREQ(L"abc", s.Text());
    buffer = s.GetBuffer(10, L"xy", true);
    ASSERT_NE(nullptr, buffer);
    EXPECT_STREQ(L"xy", s.Text());
    EXPECT_EQ(L'\0', buffer[9]);

    WString name(L"Administrator");
    buffer = name.GetBuffer(32, name.Text());
    ASSERT_NE(nullptr, buffer);
    EXPECT_STREQ(L"Administrator", name.Text());
    buffer[13] = L's';
    buffer[14] = L'\0';
    EXPECT_EQ(14u, name.Length());
    EXPECT_TRUE(name.Append(L"!"));
    EXPECT_STREQ(L"Administrators!", name.Text());
}

TEST(WStringJoin, AppendAndPrepend)
{
    const wchar_t* none = nullptr;
    WString s(L"C:");
    s.SetValid(false);
    EXPECT_TRUE(s.Append(none, L"\\", L"", L"Users", none));
    EXPECT_STREQ(L"C:\\Users", s.Text());
    EXPECT_EQ(8u, s.Length());
    EXPECT_TRUE(s.Valid());

    WString twelve;
    EXPECT_TRUE(twelve.Append(L"a", L"b", L"c", L"d", L"e", L"f", L"g", L"h", L"i", L"j", L"k", L"l"));
    EXPECT_STREQ(L"abcdefghijkl", twelve.Text());

    WString own(L"ab");
    EXPECT_TRUE(own.Append(own.Text(), L"-", own.Text()));
    EXPECT_STREQ(L"abab-ab", own.Text());
    EXPECT_TRUE(own.Prepend(own.Text(), L"|"));
    EXPECT_STREQ(L"abab-ab|abab-ab", own.Text());

    WString same(L"same");
    same.SetValid(false);
    EXPECT_TRUE(same.Append(none, L""));
    EXPECT_STREQ(L"same", same.Text());
    EXPECT_TRUE(same.Valid());

    struct { const wchar_t* old; const wchar_t* a; const wchar_t* b; const wchar_t* c; const wchar_t* expected; }
    const cases[] = {
        {L"Bob", L"C:\\", L"Users", L"\\", L"C:\\Users\\Bob"}, {L"x", nullptr, L"", L"w", L"wx"},
        {L"", L"only", nullptr, nullptr, L"only"},
    };
    for (const auto& c : cases) {
        WString p(c.old);
        EXPECT_TRUE(p.Prepend(c.a, c.b, c.c));
        EXPECT_STREQ(c.expected, p.Text()) << "before " << Show(c.old);
        EXPECT_EQ(TextLength(c.expected), p.Length());
    }
}

TEST(WStringFind, Positions)
{
    struct {
        const wchar_t* text; const wchar_t* needle; bool caseSensitive;
        int occurrence; int start; int window; uint32_t expected;
    } const cases[] = {
        // occurrences from either end; overlapping matches count
        {L"a\\b\\c", L"\\", true, -1, 1, 0, 4}, {L"a\\b\\c", L"\\", true, 3, 1, 0, 0},
        {L"a\\b\\c", L"\\", true, -3, 1, 0, 0}, {L"a\\b\\c", L"\\", true, 0, 1, 0, 2},
        {L"aaaa", L"aa", true, 3, 1, 0, 3},     {L"aaaa", L"aa", true, 4, 1, 0, 0},
        // folding
        {L"C:\\Users", L"users", false, 1, 1, 0, 4}, {L"C:\\Users", L"users", true, 1, 1, 0, 0},
        // start
        {L"a\\b\\c", L"\\", true, 1, 3, 0, 4},  {L"a\\b\\c", L"\\", true, 1, -3, 0, 2},
        {L"a\\b\\c", L"\\", true, -2, 3, 0, 0}, {L"abc", L"bc", true, 1, 2, 0, 2}, {L"abc", L"bc", true, 1, 3, 0, 0},
        // window: the needle must lie wholly inside it
        {L"S-1-5-18", L"S-1-", true, 1, 1, 4, 1}, {L"xS-1-5", L"S-1-", true, 1, 1, 4, 0},
        {L"xS-1-5", L"S-1-", true, 1, 2, 4, 2},   {L"abcabc", L"abc", true, 1, 1, 2, 0},
        {L"abcabc", L"abc", true, 2, 1, 5, 0},    {L"abcabc", L"abc", true, 2, 1, 6, 4},
        {L"abcabc", L"abc", true, -1, 1, 5, 1},   {L"abcabc", L"abc", true, 2, 1, 99, 4},
        // nothing to find
        {L"abc", nullptr, true, 1, 1, 0, 0}, {L"", L"a", true, 1, 1, 0, 0}, {L"ab", L"abc", true, 1, 1, 0, 0},
    };
    for (const auto& c : cases) {
        WString s(c.text);
        EXPECT_EQ(c.expected, s.Find(c.needle, c.caseSensitive, c.occurrence, c.start, c.window))
            << Show(c.needle) << " in " << Show(c.text) << " occurrence " << c.occurrence << " start " << c.start
            << " window " << c.window << (c.caseSensitive ? " (exact)" : " (folded)");
    }
}

TEST(WStringReplace, Results)
{
    struct {
        const wchar_t* text; const wchar_t* find; const wchar_t* replacement;
        int occurrence; bool caseSensitive; const wchar_t* expected; bool replaced;
    } const cases[] = {
        {L"aaaaa", L"aa", L"b", 0, false, L"bba", true}, {L"aaaaa", L"aa", L"bbb", 0, false, L"bbbbbba", true},
        {L"a.b.c", L".", nullptr, 0, false, L"abc", true}, {L"a.b.c", L".", L"::", 2, false, L"a.b::c", true},
        {L"a.b.c", L".", L"::", -2, false, L"a::b.c", true}, {L"a.b.c", L".", L"::", 3, false, L"a.b.c", false},
        {L"aaaa", L"aa", L"x", 2, false, L"axa", true}, {L"Users\\USERS", L"users", L"U", 0, false, L"U\\U", true},
        {L"Users\\USERS", L"USERS", L"U", 0, true, L"Users\\U", true}, {L"x", L"y", L"zz", 0, false, L"x", false},
        {L"abc", L"", L"z", 0, false, L"abc", false},
    };
    for (const auto& c : cases) {
        WString s(c.text);
        s.SetValid(false);
        bool replaced = s.Replace(c.find, c.replacement, c.occurrence, c.caseSensitive);
        const std::string what = Show(c.find) + " -> " + Show(c.replacement) + " in " + Show(c.text) +
                                 " occurrence " + std::to_string(c.occurrence);
        EXPECT_EQ(c.replaced, replaced) << what;
        EXPECT_STREQ(c.expected, s.Text()) << what;
        EXPECT_EQ(TextLength(c.expected), s.Length()) << what;
        EXPECT_TRUE(s.Valid()) << what;
    }

    WString empty;
    empty.SetValid(false);
    EXPECT_FALSE(empty.Replace(L"a", L"b"));
    EXPECT_FALSE(empty.Valid());

    // Shrinking rewrites in place, growing makes a new buffer; either may take its texts from the old one.
    WString s(L"a.b.c");
    const wchar_t* before = s.Data();
    EXPECT_TRUE(s.Replace(L".", L"/"));
    EXPECT_EQ(before, s.Data());
    EXPECT_TRUE(s.Replace(L"/", s.Text()));
    EXPECT_NE(before, s.Data());
    EXPECT_STREQ(L"aa/b/cba/b/cc", s.Text());
    WString t(L"abcab");
    EXPECT_TRUE(t.Replace(t.Text() + 3, L"Z"));
    EXPECT_STREQ(L"ZcZ", t.Text());
}

struct Edit {
    const wchar_t* text;
    const wchar_t* expected;
};

TEST(WStringEdit, EraseLeftAndTrim)
{
    struct { const wchar_t* text; int n; const wchar_t* expected; } const erase[] = {
        {L"\\\\?\\C:\\x", 4, L"C:\\x"}, {L"abc", -2, L"abc"}, {L"abc", 99, L""}, {L"", 2, L""},
    };
    for (const auto& c : erase) {
        WString s(c.text);
        s.SetValid(false);
        EXPECT_TRUE(s.EraseLeft(c.n));
        EXPECT_STREQ(c.expected, s.Text()) << Show(c.text) << " erase " << c.n;
        EXPECT_EQ(TextLength(c.expected), s.Length());
        EXPECT_TRUE(s.Valid());
    }

    const Edit trim[] = {
        {L"  name\t\r\n", L"name"}, {L"inner \t kept", L"inner \t kept"},
        {L" \t\r\n ", L""},          {L"\vx\f", L"\vx\f"},   // only the four blanks go
    };
    for (const auto& c : trim) {
        WString s(c.text);
        EXPECT_TRUE(s.Trim()) << Show(c.text);
        EXPECT_STREQ(c.expected, s.Text()) << Show(c.text);
        EXPECT_EQ(TextLength(c.expected), s.Length()) << Show(c.text);
    }
    WString empty(L"");
    EXPECT_FALSE(empty.Trim());
    EXPECT_FALSE(empty.Valid());
}

TEST(WStringPath, RemoveLastComponentExtensionAndTrailingBackslashes)
{
    const Edit parents[] = {
        {L"C:\\Users\\Bob\\", L"C:\\Users"}, {L"C:\\Users", L"C:"},  {L"C:\\", L"C:"},    {L"\\name", L"\\name"},
        {L"a\\b", L"a\\b"},                  {L"a\\b\\", L"a\\b"},   {L"name", L"name"},  {L"HKLM\\SOFTWARE\\\\", L"HKLM"},
        {L"", L""},
    };
    for (const auto& c : parents) {
        WString s(c.text);
        bool changed = s.RemoveLastComponent();
        EXPECT_STREQ(c.expected, s.Text()) << "from " << Show(c.text);
        EXPECT_EQ(TextLength(c.expected), s.Length()) << "from " << Show(c.text);
        EXPECT_EQ(TextLength(c.text) != TextLength(c.expected), changed) << "from " << Show(c.text);
    }

    struct { const wchar_t* text; int offset; } const extensions[] = {   // offset of the dot, -1 for none
        {L"C:\\dir.d\\file", -1}, {L"C:\\dir.d\\f.tar.gz", 14}, {L"name.", -1}, {L".profile", 0},
    };
    for (const auto& c : extensions) {
        WString s(c.text);
        const wchar_t* dot = s.FindExtension();
        EXPECT_EQ(c.offset < 0 ? nullptr : s.Text() + c.offset, dot) << Show(c.text) << " gave " << Show(dot);
    }
    EXPECT_EQ(nullptr, WString().FindExtension());

    const Edit trimmed[] = {{L"HKLM\\A\\\\", L"HKLM\\A"}, {L"C:\\Users", L"C:\\Users"}, {L"\\\\", L""}, {L"", L""}};
    for (const auto& c : trimmed) {
        WString path(c.text);
        TrimTrailingBackslashes(path);
        EXPECT_STREQ(c.expected, path.Text()) << Show(c.text);
    }
}

TEST(WStringPath, AddLongPathPrefix)
{
    const Edit cases[] = {
        {L"C:", L"\\\\?\\C:"}, {L"C:\\", L"\\\\?\\C:\\"}, {L"d:\\a b\\.profile", L"\\\\?\\d:\\a b\\.profile"},
        // Network paths get the long form's own UNC prefix.
        {L"\\\\server\\share\\dir\\f.txt", L"\\\\?\\UNC\\server\\share\\dir\\f.txt"},
        // Long and device forms are taken literally already.
        {L"\\\\?\\C:\\x", L"\\\\?\\C:\\x"}, {L"\\\\.\\pipe\\x", L"\\\\.\\pipe\\x"}, {L"", L""},
    };
    for (const auto& c : cases) {
        WString s(c.text);
        s.SetValid(false);
        EXPECT_TRUE(s.AddLongPathPrefix()) << "from " << Show(c.text);
        EXPECT_STREQ(c.expected, s.Text()) << "from " << Show(c.text);
        EXPECT_TRUE(s.Valid());
    }
    // Forms whose long form would name another object than the platform
    // opens for them, or that only a current folder can resolve.
    for (const wchar_t* text : {L"C:foo", L"relative\\x", L"\\rooted", L"C:\\a\\..\\b", L"C:\\a\\.\\b", L"C:\\name.",
                                L"C:\\name ", L"C:\\a/b", L"C:\\a\\\\b", L"\\\\server", L"\\\\server\\",
                                L"\\\\\\share", L"\\\\srv\\share\\..\\x", L"1:\\x"}) {
        WString s(text);
        EXPECT_FALSE(s.AddLongPathPrefix()) << Show(text) << " became " << Show(s.Text());
        EXPECT_STREQ(text, s.Text());
        EXPECT_FALSE(s.Valid()) << Show(text);
    }
}

TEST(WStringNumber, FromAndToIntegers)
{
    struct { int64_t value; const wchar_t* expected; } const from[] = {
        {0, L"0"}, {-7, L"-7"}, {INT64_MAX, L"9223372036854775807"}, {INT64_MIN, L"-9223372036854775808"},
    };
    WString s;
    for (const auto& c : from) {
        EXPECT_TRUE(s.FromInt64(c.value));
        EXPECT_STREQ(c.expected, s.Text()) << c.value;
    }
    EXPECT_TRUE(s.FromInt32(INT32_MIN));
    EXPECT_STREQ(L"-2147483648", s.Text());
    EXPECT_TRUE(s.FromUInt32(4294967295u));
    EXPECT_STREQ(L"4294967295", s.Text());
    EXPECT_EQ(10u, s.Length());

    struct { const wchar_t* text; int32_t expected; } const to[] = {
        {L"2147483647", INT32_MAX}, {L"-5", -5},          {L"+5", 5},           {L"12abc", 12},
        {L" \t\r\n\v\f17", 17}, {L"abc", 0},        {L"+-3", 0},          {L"- 3", 0},
        {L"2147483648", INT32_MIN}, {L"4294967296", -1}, {L"-4294967295", 1}, {L"-4294967296", -1},
        {L"\uFF11", 0},       // only ASCII digits count
    };
    for (const auto& c : to) {
        WString n(c.text);
        n.SetValid(false);
        EXPECT_EQ(c.expected, n.ToInt()) << Show(c.text);
        EXPECT_TRUE(n.Valid()) << Show(c.text);
    }
    WString empty(L"");
    EXPECT_EQ(0, empty.ToInt());
    EXPECT_FALSE(empty.Valid());
}

std::string Pieces(const StringList& list)
{
    std::string pieces;
    for (uint32_t i = 0; i < list.Count(); ++i)
        pieces += "[" + Narrow(list[i]) + "]";
    return pieces;
}

TEST(StringList, SplitCopyGrowthAndMove)
{
    struct { const wchar_t* text; const wchar_t* separator; const char* expected; } const cases[] = {
        {L"a||b", L"|", "[a][][b]"},   {L"|a", L"|", "[][a]"},      {L"a|b|", L"|", "[a][b]"},
        {L"||", L"|", "[][]"},         {nullptr, L"|", "[]"},       {L"a|b", nullptr, "[a|b]"},
        {L"a\rb\r\nc\r\n", L"\r\n", "[a\rb][c]"}, {L"xAxa", L"a", "[xAx]"}, {L"aaa", L"aa", "[][a]"},
    };
    for (const auto& c : cases) {
        StringList list;
        list.Split(c.text, c.separator);
        EXPECT_EQ(c.expected, Pieces(list)) << Show(c.text) << " at " << Show(c.separator);
    }

    StringList list;
    EXPECT_STREQ(L"", list[0]);
    wchar_t text[] = L"a|b";
    list.Split(text, L"|");
    text[0] = L'z';
    EXPECT_STREQ(L"a", list[0]);
    EXPECT_STREQ(L"z|b", text);   // the caller's text is not cut
    EXPECT_STREQ(L"", list[UINT32_MAX]);

    for (uint32_t total : {10u, 11u, 21u, 45u}) {
        std::wstring many;
        std::string expected;
        for (uint32_t i = 0; i < total; ++i) {
            many += (i == 0 ? L"" : L"|") + std::to_wstring(i);
            expected += "[" + std::to_string(i) + "]";
        }
        list.Split(many.c_str(), L"|");
        EXPECT_EQ(expected, Pieces(list)) << total << " pieces";
    }

    StringList moved(std::move(list));
    EXPECT_EQ(45u, moved.Count());
    EXPECT_EQ(0u, list.Count());
    StringList assigned;
    assigned.Split(L"old", L"|");
    assigned = std::move(moved);
    EXPECT_STREQ(L"44", assigned[44]);
    list.Split(L"p|q", L"|");   // a moved-from list is usable again
    EXPECT_EQ("[p][q]", Pieces(list));
}

// A system of the given version (major 0: one that says no to everything)
// that writes down every question asked.
class FakeProbe : public VersionProbe {
public:
    FakeProbe(uint32_t major, uint32_t minor) : major_(major), minor_(minor) {}

    bool MajorAtLeast(uint32_t major) override
    {
        asked += " >=" + std::to_string(major);
        return major_ != 0 && major_ >= major;
    }
    bool MajorIs(uint32_t major) override
    {
        asked += " ==" + std::to_string(major);
        return major_ != 0 && major_ == major;
    }
    bool MajorMinorIs(uint32_t major, uint32_t minor) override
    {
        asked += " " + std::to_string(major) + "." + std::to_string(minor);
        return major_ != 0 && major_ == major && minor_ == minor;
    }

    std::string asked;

private:
    uint32_t major_;
    uint32_t minor_;
};

TEST(SettleOsVersion, Answers)
{
    struct {
        const char* name; uint32_t major; uint32_t minor; uint32_t systemMajor; uint32_t systemMinor;
        double expected; const char* asked;
    } const cases[] = {
        {"6.2 on 10, taken as it stands", 6, 2, 10, 0, 6.2, ""}, {"5.1 on 5.1", 5, 1, 5, 1, 5.1, ""},
        {"10.0 on 10", 10, 0, 10, 0, 10.0, " >=10"}, {"6.3 on 10", 6, 3, 10, 0, 10.0, " >=10"},
        {"6.3 on 8.1", 6, 3, 6, 3, 6.3, " >=10 ==6 6.3 6.2 6.1"},
        {"6.3 on 6.0", 6, 3, 6, 0, 6.0, " >=10 ==6 6.3 6.2 6.1"},
        {"0.0, system silent", 0, 0, 0, 0, 0.0, " >=10 ==6 ==5"},
        {"0.0 on 5.2", 0, 0, 5, 2, 5.2, " >=10 ==6 ==5 5.3 5.2 5.1"},
    };
    for (const auto& c : cases) {
        FakeProbe probe(c.systemMajor, c.systemMinor);
        EXPECT_DOUBLE_EQ(c.expected, SettleOsVersion(c.major, c.minor, probe)) << c.name;
        EXPECT_EQ(c.asked, probe.asked) << c.name;
    }
}

}  // namespace
