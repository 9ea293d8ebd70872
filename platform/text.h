// Wide-text helpers shared by every part of the program. Kept free of the
// platform so that they build and are tested on any host; the width of
// wchar_t must never matter here.
#pragma once

#include <cstddef>
#include <cstdint>
#include <type_traits>

// Folds 'A'..'Z' only: account and path names are compared the way the
// program always has, independent of the locale.
wchar_t FoldCase(wchar_t c);

// '0'..'9' only, as the program's numbers are written.
bool IsDigit(wchar_t c);

// Number of code units before the terminator; 0 for null.
uint32_t TextLength(const wchar_t* text);

// True for the same pointer (two nulls included), false when only one is null.
bool EqualsNoCase(const wchar_t* a, const wchar_t* b);

// Whether `text` begins with `prefix`, folded as FoldCase does; an empty
// prefix begins every text. Neither may be null.
bool StartsWithNoCase(const wchar_t* text, const wchar_t* prefix);

// -1, 0 or 1. A null text sorts first; a text that is a prefix of the other
// sorts before it. Code units compare by value, never by sign.
int CompareText(const wchar_t* a, const wchar_t* b, bool caseSensitive);

// An owned, terminated text. Storage comes from std::malloc and is sized
// exactly on every lengthening edit; a failed allocation clears Valid()
// instead of throwing. Positions are 1-based, 0 means "not found".
class WString {
public:
    WString();
    explicit WString(const wchar_t* text);
    ~WString();

    WString(WString&& other) noexcept;
    WString& operator=(WString&& other) noexcept;
    WString(const WString&) = delete;
    WString& operator=(const WString&) = delete;

    // Never null: L"" when there is no buffer.
    const wchar_t* Text() const;
    // The raw buffer, null when none has been made yet.
    wchar_t* Data();

    bool Valid() const;
    void SetValid(bool v);

    bool IsEmpty();
    // Cached; a cached 0 means "unmeasured", so text written through Data()
    // is measured on the next call.
    uint32_t Length();
    void Clear();

    // Null or empty text gives an empty, non-null buffer. `text` may point
    // into this string.
    bool Assign(const wchar_t* text);
    // Up to `count` units from 1-based `start` (start < 1 means 1, count < 1
    // means to the end). A null source leaves the text as it was but invalid.
    bool AssignSubstring(const wchar_t* text, int start, int count);
    // A fresh buffer of capacity + 1 units, always terminated at [0] and
    // [capacity], with at most `capacity` units of `seed` copied in (seed may
    // be the old buffer). Validity is left alone. Null when out of memory.
    wchar_t* GetBuffer(uint32_t capacity, const wchar_t* seed = nullptr, bool zeroFill = false);

    // Adds up to twelve texts in one allocation; nulls and empties are skipped.
    template <typename... Texts>
    bool Append(const Texts*... parts)
    {
        static_assert(sizeof...(Texts) <= 12, "Append takes at most 12 texts");
        static_assert((std::is_same<Texts, wchar_t>::value && ...), "Append takes wide texts only");
        const wchar_t* const list[] = {parts..., nullptr};
        return AppendParts(list, sizeof...(Texts));
    }
    // The text becomes first + second + third + the old text.
    bool Prepend(const wchar_t* first, const wchar_t* second = nullptr, const wchar_t* third = nullptr);

    // Position of the occurrence-th match (negative counts from the end,
    // 0 counts as 1), overlapping matches included. With 0 < window the match
    // must lie wholly within `window` units from `start`.
    uint32_t Find(const wchar_t* needle, bool caseSensitive, int occurrence = 1, int start = 1, int window = 0);
    // Replaces the occurrence-th match (as Find counts), or with occurrence 0
    // every non-overlapping match from the left. True when anything was
    // replaced. A null replacement deletes.
    bool Replace(const wchar_t* find, const wchar_t* replacement, int occurrence = 0, bool caseSensitive = false);
    bool EraseLeft(int n);
    // Strips ' ', '\t', '\r' and '\n' from both ends; false when the text was
    // already empty.
    bool Trim();
    // Drops trailing backslashes, then the last "\component" unless its
    // backslash is one of the first two units (so "\name" and "C:" survive).
    // True when the text got shorter.
    bool RemoveLastComponent();
    // The last dot of the final path component, or null when there is none or
    // nothing follows it.
    const wchar_t* FindExtension();
    // The "\\?\" long form of an absolute, normalised path: "X:\..." gets
    // "\\?\" in front, "\\server\share\..." becomes "\\?\UNC\server\share\...",
    // a long or device form ("\\?\", "\\.\") and texts shorter than 2 stay.
    // Anything else stays as it was and gives false with Valid() cleared:
    // relative and drive-relative ("C:x") paths, and components the platform
    // would rewrite (".", "..", names ending in a dot or blank, forward
    // slashes, doubled backslashes), since the long form takes every name
    // literally and would name another object. Normalise first
    // (AbsoluteLongPath in platform/files.h does).
    bool AddLongPathPrefix();

    bool FromInt32(int32_t v);
    bool FromUInt32(uint32_t v);
    bool FromInt64(int64_t v);
    // Reads like wcstoul in base 10 and wraps the result into 32 signed bits;
    // an empty text gives 0 and clears Valid().
    int32_t ToInt();

private:
    wchar_t* buffer_ = nullptr;
    uint32_t length_ = 0;
    bool valid_ = true;

    // The parts go behind the text, or in front of it when `before`.
    bool AppendParts(const wchar_t* const* parts, size_t count, bool before = false);
    // Takes ownership of `buffer` and releases the old one.
    void Adopt(wchar_t* buffer, uint32_t length);
};

// Drops every trailing backslash, so that the last component of a path is a name.
void TrimTrailingBackslashes(WString& path);

// parent + "\" + name, for file and registry paths alike.
WString JoinPath(const wchar_t* parent, const wchar_t* name);

// The pieces of a text cut at a separator. The pieces live in the list's own
// copy of the text, so they stay valid as long as the list does.
class StringList {
public:
    StringList();
    ~StringList();

    StringList(StringList&& other) noexcept;
    StringList& operator=(StringList&& other) noexcept;
    StringList(const StringList&) = delete;
    StringList& operator=(const StringList&) = delete;

    // Empty text or separator gives one piece: the whole text.
    void Split(const wchar_t* text, const wchar_t* separator);
    uint32_t Count() const;
    // L"" when out of range.
    const wchar_t* operator[](uint32_t index) const;

private:
    uint32_t count_ = 0;
    uint32_t capacity_ = 0;
    wchar_t** items_ = nullptr;
    WString text_;

    bool Add(wchar_t* piece);
};

// Answers version questions about the running system the way
// VerifyVersionInfo does; faked in tests.
struct VersionProbe {
    virtual ~VersionProbe() = default;
    virtual bool MajorAtLeast(uint32_t major) = 0;
    virtual bool MajorIs(uint32_t major) = 0;
    virtual bool MajorMinorIs(uint32_t major, uint32_t minor) = 0;
};

// A reported version up to and including 6.2 is taken as it stands; anything
// higher, or nothing at all, is settled by asking the system directly.
double SettleOsVersion(uint32_t reportedMajor, uint32_t reportedMinor, VersionProbe& probe);

// A control character: below U+0020, DEL, the C1 range, or one of the
// marks that turn the direction of the text around it (U+200E, U+200F,
// U+202A to U+202E, U+2066 to U+2069), which make "exe.txt" read as
// "txt.exe" on the screen.
bool IsControlCharacter(wchar_t c);

// Whether the text holds a control character: in a name it forges or hides
// lines, or disguises what it says, wherever it is shown.
bool HasControlCharacter(const wchar_t* text);

// The text for a line of plain-text output: each control character (tab and
// line breaks included) written as "\xHH" ("\uHHHH" for the direction
// marks), everything else as it is, so that
// a value read from a place a user can write never starts a line of its own
// or speaks to the terminal.
WString EscapeControls(const wchar_t* text);
