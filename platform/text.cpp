#include "platform/text.h"

#include <cstdlib>
#include <cstring>
#include <functional>
#include <utility>

namespace {

// Longest text we hold: its length and terminator must fit in 32 bits.
constexpr uint64_t kMaxLength = 0xFFFFFFFEu;

// Room for `length` units plus the terminator; null when out of memory or
// when the size cannot be expressed.
wchar_t* AllocateUnits(uint64_t length)
{
    if (length > kMaxLength || length + 1 > SIZE_MAX / sizeof(wchar_t))
        return nullptr;
    return static_cast<wchar_t*>(std::malloc(static_cast<size_t>(length + 1) * sizeof(wchar_t)));
}

// Returns the end of what was written, so that copies can be chained.
wchar_t* CopyUnits(wchar_t* target, const wchar_t* source, uint64_t count)
{
    if (count != 0)
        std::memcpy(target, source, static_cast<size_t>(count) * sizeof(wchar_t));
    return target + count;
}

uint64_t MeasureAll(const wchar_t* const* parts, size_t count)
{
    uint64_t total = 0;
    for (size_t i = 0; i < count; ++i)
        total += TextLength(parts[i]);
    return total;
}

wchar_t* CopyAll(wchar_t* target, const wchar_t* const* parts, size_t count)
{
    for (size_t i = 0; i < count; ++i)
        target = CopyUnits(target, parts[i], TextLength(parts[i]));
    return target;
}

// Compared as unsigned values so that the sign of wchar_t never matters.
uint32_t UnitValue(wchar_t c, bool caseSensitive)
{
    return static_cast<uint32_t>(caseSensitive ? c : FoldCase(c));
}

bool MatchesAt(const wchar_t* text, const wchar_t* needle, uint32_t count, bool caseSensitive)
{
    for (uint32_t i = 0; i < count; ++i) {
        if (UnitValue(text[i], caseSensitive) != UnitValue(needle[i], caseSensitive))
            return false;
    }
    return true;
}

bool IsTrimmed(wchar_t c) { return c == L' ' || c == L'\t' || c == L'\r' || c == L'\n'; }

bool IsLeadingBlank(wchar_t c) { return IsTrimmed(c) || c == L'\v' || c == L'\f'; }

// Two's-complement wrap without relying on implementation-defined conversion.
int32_t WrapToInt32(uint32_t value)
{
    if (value <= 0x7FFFFFFFu)
        return static_cast<int32_t>(value);
    return -static_cast<int32_t>(~value) - 1;
}

// Ordered through std::less: plain < is not guaranteed between unrelated pointers.
bool PointsInto(const wchar_t* p, const wchar_t* begin, uint32_t length)
{
    std::less<const wchar_t*> before;
    return p != nullptr && begin != nullptr && !before(p, begin) && before(p, begin + length + 1);
}

}  // namespace

bool IsDigit(wchar_t c) { return c >= L'0' && c <= L'9'; }

wchar_t FoldCase(wchar_t c)
{
    if (c >= L'A' && c <= L'Z')
        return static_cast<wchar_t>(c - L'A' + L'a');
    return c;
}

uint32_t TextLength(const wchar_t* text)
{
    if (text == nullptr)
        return 0;
    uint32_t length = 0;
    while (text[length] != L'\0')
        ++length;
    return length;
}

bool EqualsNoCase(const wchar_t* a, const wchar_t* b)
{
    return CompareText(a, b, false) == 0;
}

bool StartsWithNoCase(const wchar_t* text, const wchar_t* prefix)
{
    for (; *prefix != L'\0'; ++text, ++prefix) {
        if (*text == L'\0' || FoldCase(*text) != FoldCase(*prefix))
            return false;
    }
    return true;
}

int CompareText(const wchar_t* a, const wchar_t* b, bool caseSensitive)
{
    if (a == b)
        return 0;
    if (a == nullptr)
        return -1;
    if (b == nullptr)
        return 1;
    for (;; ++a, ++b) {
        uint32_t left = UnitValue(*a, caseSensitive);
        uint32_t right = UnitValue(*b, caseSensitive);
        if (left != right)
            return left < right ? -1 : 1;   // the terminator is the smallest unit
        if (left == 0)
            return 0;
    }
}

// ---------------------------------------------------------------------------
// WString

WString::WString() = default;

WString::WString(const wchar_t* text) { Assign(text); }

WString::~WString() { std::free(buffer_); }

WString::WString(WString&& other) noexcept
    : buffer_(other.buffer_), length_(other.length_), valid_(other.valid_)
{
    other.buffer_ = nullptr;
    other.length_ = 0;
    other.valid_ = true;
}

WString& WString::operator=(WString&& other) noexcept
{
    if (this != &other) {
        Adopt(other.buffer_, other.length_);
        valid_ = other.valid_;
        other.buffer_ = nullptr;
        other.length_ = 0;
        other.valid_ = true;
    }
    return *this;
}

const wchar_t* WString::Text() const { return buffer_ != nullptr ? buffer_ : L""; }

wchar_t* WString::Data() { return buffer_; }

bool WString::Valid() const { return valid_; }

void WString::SetValid(bool v) { valid_ = v; }

bool WString::IsEmpty() { return Length() == 0; }

uint32_t WString::Length()
{
    if (buffer_ == nullptr)
        return 0;
    if (length_ == 0)
        length_ = TextLength(buffer_);
    return length_;
}

void WString::Clear()
{
    Adopt(nullptr, 0);
    valid_ = true;
}

void WString::Adopt(wchar_t* buffer, uint32_t length)
{
    std::free(buffer_);
    buffer_ = buffer;
    length_ = length;
}

bool WString::Assign(const wchar_t* text)
{
    return AssignSubstring(text != nullptr ? text : L"", 1, 0);
}

bool WString::AssignSubstring(const wchar_t* text, int start, int count)
{
    if (text == nullptr) {
        valid_ = false;
        return false;
    }
    // Step to the start without ever passing the terminator.
    const wchar_t* from = text;
    for (int position = 1; position < start && *from != L'\0'; ++position)
        ++from;
    uint64_t limit = count < 1 ? kMaxLength : static_cast<uint64_t>(count);
    uint64_t length = 0;
    while (length < limit && from[length] != L'\0')
        ++length;

    wchar_t* copy = AllocateUnits(length);
    if (copy == nullptr) {
        valid_ = false;
        return false;
    }
    CopyUnits(copy, from, length)[0] = L'\0';
    Adopt(copy, static_cast<uint32_t>(length));   // `text` may have been the old buffer
    valid_ = true;
    return true;
}

wchar_t* WString::GetBuffer(uint32_t capacity, const wchar_t* seed, bool zeroFill)
{
    wchar_t* fresh = AllocateUnits(capacity);
    if (fresh == nullptr)
        return nullptr;
    if (zeroFill)
        std::memset(fresh, 0, (static_cast<size_t>(capacity) + 1) * sizeof(wchar_t));
    fresh[0] = L'\0';
    fresh[capacity] = L'\0';
    if (seed != nullptr) {
        uint32_t i = 0;
        for (; i < capacity && seed[i] != L'\0'; ++i)
            fresh[i] = seed[i];
        fresh[i] = L'\0';
    }
    Adopt(fresh, 0);   // the caller writes the text, so leave it unmeasured
    return buffer_;
}

bool WString::AppendParts(const wchar_t* const* parts, size_t count, bool before)
{
    uint32_t length = Length();
    uint64_t added = MeasureAll(parts, count);
    valid_ = true;
    if (added == 0)
        return true;
    wchar_t* joined = AllocateUnits(length + added);
    if (joined == nullptr) {
        valid_ = false;
        return false;
    }
    if (before)
        CopyUnits(CopyAll(joined, parts, count), buffer_, length)[0] = L'\0';
    else
        CopyAll(CopyUnits(joined, buffer_, length), parts, count)[0] = L'\0';
    Adopt(joined, static_cast<uint32_t>(length + added));
    return true;
}

bool WString::Prepend(const wchar_t* first, const wchar_t* second, const wchar_t* third)
{
    const wchar_t* const parts[] = {first, second, third};
    return AppendParts(parts, 3, true);
}

uint32_t WString::Find(const wchar_t* needle, bool caseSensitive, int occurrence, int start, int window)
{
    const int64_t needleLength = TextLength(needle);
    const int64_t length = Length();
    if (needleLength == 0 || length == 0 || needleLength > length)
        return 0;
    const int64_t first = start < 1 ? 1 : start;
    if (first > length - needleLength + 1)
        return 0;

    int64_t span = length - first + 1;
    if (window >= 1 && window <= span) {
        if (window < needleLength)
            return 0;
        span = window;
    }
    const int64_t last = first + span - needleLength;
    const uint32_t count = static_cast<uint32_t>(needleLength);

    int64_t wanted = occurrence == 0 ? 1 : occurrence;
    if (wanted > 0) {
        for (int64_t position = first; position <= last; ++position) {
            if (MatchesAt(buffer_ + position - 1, needle, count, caseSensitive) && --wanted == 0)
                return static_cast<uint32_t>(position);
        }
    } else {
        for (int64_t position = last; position >= first; --position) {
            if (MatchesAt(buffer_ + position - 1, needle, count, caseSensitive) && ++wanted == 0)
                return static_cast<uint32_t>(position);
        }
    }
    return 0;
}

bool WString::Replace(const wchar_t* find, const wchar_t* replacement, int occurrence, bool caseSensitive)
{
    const uint32_t length = Length();
    const uint32_t findLength = TextLength(find);
    if (length == 0)
        return false;
    valid_ = true;
    if (findLength == 0)
        return false;

    // Both texts may live in our own buffer, which the rewrite below changes.
    WString findCopy;
    WString replacementCopy;
    if (PointsInto(find, buffer_, length)) {
        if (!findCopy.Assign(find)) {
            valid_ = false;
            return false;
        }
        find = findCopy.Text();
    }
    if (PointsInto(replacement, buffer_, length)) {
        if (!replacementCopy.Assign(replacement)) {
            valid_ = false;
            return false;
        }
        replacement = replacementCopy.Text();
    }
    if (replacement == nullptr)
        replacement = L"";
    const uint32_t replacementLength = TextLength(replacement);

    // Positions of the matches to replace, as 0-based offsets.
    uint32_t single = 0;
    if (occurrence != 0) {
        single = Find(find, caseSensitive, occurrence, 1, 0);
        if (single == 0)
            return false;
    }
    auto matchesAt = [&](uint32_t offset) {
        if (occurrence != 0)
            return offset + 1 == single;
        return offset + findLength <= length && MatchesAt(buffer_ + offset, find, findLength, caseSensitive);
    };

    if (replacementLength > findLength) {
        uint64_t matches = 0;
        for (uint32_t offset = 0; offset + findLength <= length;) {
            if (matchesAt(offset)) {
                ++matches;
                offset += findLength;
            } else {
                ++offset;
            }
        }
        if (matches == 0)
            return false;
        wchar_t* rebuilt = AllocateUnits(length + matches * (replacementLength - findLength));
        if (rebuilt == nullptr) {
            valid_ = false;
            return false;
        }
        wchar_t* out = rebuilt;
        for (uint32_t offset = 0; offset < length;) {
            if (matchesAt(offset)) {
                out = CopyUnits(out, replacement, replacementLength);
                offset += findLength;
            } else {
                *out++ = buffer_[offset++];
            }
        }
        *out = L'\0';
        Adopt(rebuilt, static_cast<uint32_t>(out - rebuilt));
        return true;
    }

    // Not growing: the write position never overtakes the read position.
    bool replaced = false;
    uint32_t write = 0;
    for (uint32_t read = 0; read < length;) {
        if (matchesAt(read)) {
            for (uint32_t i = 0; i < replacementLength; ++i)
                buffer_[write++] = replacement[i];
            read += findLength;
            replaced = true;
        } else {
            buffer_[write++] = buffer_[read++];
        }
    }
    buffer_[write] = L'\0';
    length_ = write;
    return replaced;
}

bool WString::EraseLeft(int n)
{
    valid_ = true;
    const uint32_t length = Length();
    if (length == 0 || n <= 0)
        return true;
    const uint32_t count = static_cast<uint32_t>(n) < length ? static_cast<uint32_t>(n) : length;
    std::memmove(buffer_, buffer_ + count, (static_cast<size_t>(length - count) + 1) * sizeof(wchar_t));
    length_ = length - count;
    return true;
}

bool WString::Trim()
{
    const uint32_t length = Length();
    valid_ = length != 0;
    if (!valid_)
        return false;
    uint32_t begin = 0;
    while (begin < length && IsTrimmed(buffer_[begin]))
        ++begin;
    uint32_t end = length;
    while (end > begin && IsTrimmed(buffer_[end - 1]))
        --end;
    if (begin != 0)
        std::memmove(buffer_, buffer_ + begin, static_cast<size_t>(end - begin) * sizeof(wchar_t));
    buffer_[end - begin] = L'\0';
    length_ = end - begin;
    return true;
}

bool WString::RemoveLastComponent()
{
    const uint32_t length = Length();
    uint32_t end = length;
    while (end > 0 && buffer_[end - 1] == L'\\')
        --end;
    uint32_t slash = end;
    while (slash > 0 && buffer_[slash - 1] != L'\\')
        --slash;
    // `slash` is now the 1-based position of the last backslash, 0 for none;
    // the first two positions belong to a root such as "\name" or "a\b".
    if (slash >= 3)
        end = slash - 1;
    if (end == length)
        return false;
    buffer_[end] = L'\0';
    length_ = end;
    return true;
}

const wchar_t* WString::FindExtension()
{
    const wchar_t* dot = nullptr;
    for (const wchar_t* p = buffer_; p != nullptr && *p != L'\0'; ++p) {
        if (*p == L'.')
            dot = p;
        else if (*p == L'\\')
            dot = nullptr;   // a dot in a folder name is no extension
    }
    if (dot == nullptr || dot[1] == L'\0')
        return nullptr;
    return dot;
}

namespace {

// True when every component of `path` is a name the platform keeps as it
// stands: none empty (but a last one, for a trailing backslash), none "." or
// "..", none ending in a dot or blank (which the platform would strip), no
// forward slash (which it would read as a separator).
bool IsNormalisedTail(const wchar_t* path)
{
    const wchar_t* component = path;
    for (const wchar_t* p = path;; ++p) {
        if (*p == L'/')
            return false;
        if (*p != L'\\' && *p != L'\0')
            continue;
        const size_t length = static_cast<size_t>(p - component);
        if (length == 0) {
            // Only trailing backslashes may leave a component empty.
            while (*p == L'\\')
                ++p;
            return *p == L'\0';
        }
        const wchar_t last = p[-1];
        if (last == L'.' || last == L' ')
            return false;   // ".", ".." and "name." alike
        if (*p == L'\0')
            return true;
        component = p + 1;
    }
}

}  // namespace

bool WString::AddLongPathPrefix()
{
    valid_ = true;
    if (Length() < 2)
        return true;
    const wchar_t* text = buffer_;
    if (text[0] == L'\\' && text[1] == L'\\') {
        // Already a long or device form: the platform takes it literally.
        if ((text[2] == L'?' || text[2] == L'.') && text[3] == L'\\')
            return true;
        // "\\server\share\...": a server and a share, then normal names.
        const wchar_t* server = text + 2;
        const wchar_t* share = server;
        while (*share != L'\0' && *share != L'\\')
            ++share;
        if (share == server || *share == L'\0' || share[1] == L'\0' || share[1] == L'\\' ||
            !IsNormalisedTail(server)) {
            valid_ = false;
            return false;
        }
        WString unc(L"\\\\?\\UNC\\");
        if (!unc.Append(server))
            return false;
        *this = std::move(unc);
        return true;
    }
    if (text[1] != L':' || FoldCase(text[0]) < L'a' || FoldCase(text[0]) > L'z') {
        valid_ = false;   // relative: only the caller's current folder could say what it means
        return false;
    }
    // "C:" alone is the drive; "C:name" is relative to the drive's current folder.
    if (text[2] != L'\0' && (text[2] != L'\\' || !IsNormalisedTail(text + 3))) {
        valid_ = false;
        return false;
    }
    return Prepend(L"\\\\?\\");
}

namespace {

// Room for 20 digits, a sign and the terminator.
constexpr size_t kDecimalSize = 22;

const wchar_t* FormatDecimal(uint64_t magnitude, bool negative, wchar_t (&digits)[kDecimalSize])
{
    wchar_t* p = digits + kDecimalSize - 1;
    *p = L'\0';
    do {
        *--p = static_cast<wchar_t>(L'0' + magnitude % 10);
        magnitude /= 10;
    } while (magnitude != 0);
    if (negative)
        *--p = L'-';
    return p;
}

// Negating in unsigned arithmetic keeps the lowest value defined.
uint64_t Magnitude(int64_t v) { return v < 0 ? 0 - static_cast<uint64_t>(v) : static_cast<uint64_t>(v); }

}  // namespace

bool WString::FromInt32(int32_t v) { return FromInt64(v); }

bool WString::FromUInt32(uint32_t v)
{
    wchar_t digits[kDecimalSize];
    return Assign(FormatDecimal(v, false, digits));
}

bool WString::FromInt64(int64_t v)
{
    wchar_t digits[kDecimalSize];
    return Assign(FormatDecimal(Magnitude(v), v < 0, digits));
}

int32_t WString::ToInt()
{
    valid_ = Length() != 0;
    if (!valid_)
        return 0;
    const wchar_t* p = buffer_;
    while (IsLeadingBlank(*p))
        ++p;
    bool negative = false;
    if (*p == L'+' || *p == L'-')
        negative = *p++ == L'-';

    const uint64_t limit = 0xFFFFFFFFu;
    uint64_t value = 0;
    bool overflow = false;
    for (; IsDigit(*p); ++p) {
        if (!overflow) {
            value = value * 10 + static_cast<uint64_t>(*p - L'0');
            overflow = value > limit;
        }
    }
    // As wcstoul: out of range gives the largest value whatever the sign.
    if (overflow)
        return WrapToInt32(0xFFFFFFFFu);
    uint32_t result = static_cast<uint32_t>(value);
    return WrapToInt32(negative ? 0u - result : result);
}

// ---------------------------------------------------------------------------
// StringList

namespace {

constexpr uint32_t kInitialSlots = 10;

wchar_t** AllocateSlots(uint32_t count)
{
    return static_cast<wchar_t**>(std::malloc(static_cast<size_t>(count) * sizeof(wchar_t*)));
}

}  // namespace

StringList::StringList()
    : items_(AllocateSlots(kInitialSlots))
{
    capacity_ = items_ != nullptr ? kInitialSlots : 0;
}

StringList::~StringList() { std::free(items_); }

StringList::StringList(StringList&& other) noexcept
    : count_(other.count_), capacity_(other.capacity_), items_(other.items_), text_(std::move(other.text_))
{
    other.count_ = 0;
    other.capacity_ = 0;
    other.items_ = nullptr;
}

StringList& StringList::operator=(StringList&& other) noexcept
{
    if (this != &other) {
        std::free(items_);
        count_ = other.count_;
        capacity_ = other.capacity_;
        items_ = other.items_;
        text_ = std::move(other.text_);   // the pieces point into this buffer, which moves along
        other.count_ = 0;
        other.capacity_ = 0;
        other.items_ = nullptr;
    }
    return *this;
}

bool StringList::Add(wchar_t* piece)
{
    if (count_ == capacity_) {
        if (count_ == UINT32_MAX)
            return false;
        uint32_t grown = capacity_ <= UINT32_MAX / 2 ? capacity_ * 2 : UINT32_MAX;
        if (grown < count_ + 1)
            grown = count_ + 1;
        wchar_t** slots = AllocateSlots(grown);
        if (slots == nullptr)
            return false;
        if (count_ != 0)
            std::memcpy(slots, items_, static_cast<size_t>(count_) * sizeof(wchar_t*));
        std::free(items_);
        items_ = slots;
        capacity_ = grown;
    }
    items_[count_++] = piece;
    return true;
}

void StringList::Split(const wchar_t* text, const wchar_t* separator)
{
    count_ = 0;
    if (!text_.Assign(text))
        return;
    wchar_t* data = text_.Data();
    const uint32_t length = text_.Length();
    const uint32_t separatorLength = TextLength(separator);
    if (length == 0 || separatorLength == 0) {
        Add(data);
        return;
    }
    // Cutting only writes terminators behind the current position, so the
    // cached length and the search ahead stay untouched.
    for (uint32_t position = 1; position <= length;) {
        uint32_t found = text_.Find(separator, true, 1, static_cast<int>(position), 0);
        Add(data + position - 1);
        if (found == 0)
            break;
        data[found - 1] = L'\0';
        position = found + separatorLength;
    }
}

uint32_t StringList::Count() const { return count_; }

const wchar_t* StringList::operator[](uint32_t index) const
{
    return index < count_ ? items_[index] : L"";
}

// ---------------------------------------------------------------------------

double SettleOsVersion(uint32_t reportedMajor, uint32_t reportedMinor, VersionProbe& probe)
{
    const double candidate = reportedMajor + reportedMinor / 10.0;
    if (candidate > 0.0 && candidate <= 6.2)
        return candidate;
    if (probe.MajorAtLeast(10))
        return 10.0;

    uint32_t base = 0;
    if (probe.MajorIs(6))
        base = 6;
    else if (probe.MajorIs(5))
        base = 5;
    else
        return 0.0;

    double version = base;
    for (uint32_t minor : {3u, 2u, 1u}) {
        if (probe.MajorMinorIs(base, minor))
            version += minor / 10.0;
    }
    return version;
}

void TrimTrailingBackslashes(WString& path)
{
    const uint32_t length = path.Length();
    uint32_t end = length;
    while (end > 0 && path.Text()[end - 1] == L'\\')
        --end;
    if (end == 0)
        path.Assign(L"");
    else if (end != length)
        path.AssignSubstring(path.Text(), 1, static_cast<int>(end));
}

WString JoinPath(const wchar_t* parent, const wchar_t* name)
{
    WString path(parent);
    path.Append(L"\\", name);
    return path;
}

bool IsControlCharacter(wchar_t c)
{
    const auto unit = static_cast<uint32_t>(c);
    return unit < 0x20 || (unit >= 0x7F && unit <= 0x9F) || unit == 0x200E || unit == 0x200F ||
           (unit >= 0x202A && unit <= 0x202E) || (unit >= 0x2066 && unit <= 0x2069);
}

bool HasControlCharacter(const wchar_t* text)
{
    for (const wchar_t* c = text; c != nullptr && *c != L'\0'; ++c)
        if (IsControlCharacter(*c))
            return true;
    return false;
}

WString EscapeControls(const wchar_t* text)
{
    static const wchar_t kHex[] = L"0123456789ABCDEF";
    WString shown(L"");
    // Gathered in pieces: one Append per character would copy the text each time.
    wchar_t piece[260];
    size_t used = 0;
    for (const wchar_t* c = text; c != nullptr && *c != L'\0'; ++c) {
        if (used > 250) {
            piece[used] = L'\0';
            shown.Append(piece);
            used = 0;
        }
        if (!IsControlCharacter(*c)) {
            piece[used++] = *c;
            continue;
        }
        const auto unit = static_cast<uint32_t>(*c);
        piece[used++] = L'\\';
        if (unit > 0xFF) {
            piece[used++] = L'u';
            piece[used++] = kHex[(unit >> 12) & 15];
            piece[used++] = kHex[(unit >> 8) & 15];
        } else {
            piece[used++] = L'x';
        }
        piece[used++] = kHex[(unit >> 4) & 15];
        piece[used++] = kHex[unit & 15];
    }
    piece[used] = L'\0';
    shown.Append(piece);
    return shown;
}
