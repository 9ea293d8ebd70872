#include "accounts/lifecycle_rules.h"

#include <vector>

#include "platform/file_rules.h"

const wchar_t kForbiddenNameCharacters[] = L"\"/\\[]:|<>+=;?*";

namespace {

bool Contains(const wchar_t* set, wchar_t c)
{
    for (const wchar_t* p = set; *p != L'\0'; ++p) {
        if (*p == c)
            return true;
    }
    return false;
}

bool IsControl(wchar_t c)
{
    return c < 0x20 || c == 0x7F;
}

// The alphabet of the temporary password, kind by kind.
const wchar_t kUpper[] = L"ABCDEFGHIJKLMNOPQRSTUVWXYZ";
const wchar_t kLower[] = L"abcdefghijklmnopqrstuvwxyz";
const wchar_t kDigits[] = L"0123456789";
const wchar_t kSymbols[] = L"#%+-.=_!*~";
const wchar_t* const kKinds[] = {kUpper, kLower, kDigits, kSymbols};
constexpr uint32_t kKindCount = sizeof(kKinds) / sizeof(kKinds[0]);

wchar_t AlphabetAt(uint32_t index)
{
    for (const wchar_t* kind : kKinds) {
        uint32_t size = TextLength(kind);
        if (index < size)
            return kind[index];
        index -= size;
    }
    return L'\0';
}

uint32_t AlphabetSize()
{
    uint32_t size = 0;
    for (const wchar_t* kind : kKinds)
        size += TextLength(kind);
    return size;
}

// The random bytes, taken one at a time.
struct ByteSource {
    const uint8_t* bytes;
    size_t count;
    size_t used = 0;

    // A uniform number below `range` (1 to 256); false when the bytes ran
    // out. Bytes at or above the largest multiple of `range` would favour
    // the small numbers: they are skipped.
    bool Below(uint32_t range, uint32_t& value)
    {
        const uint32_t limit = 256 - 256 % range;
        while (used < count) {
            uint32_t byte = bytes[used++];
            if (byte < limit) {
                value = byte % range;
                return true;
            }
        }
        return false;
    }
};

bool IsSeparator(wchar_t c)
{
    return c == L'\\' || c == L'/';
}

// A component the file system would take for another name, or that selects
// more than one entry, or names a stream.
bool IsUnsafeComponent(const wchar_t* begin, const wchar_t* end)
{
    for (const wchar_t* p = begin; p < end; ++p) {
        if (IsControl(*p) || Contains(L"*?\"<>|:", *p))
            return true;
    }
    wchar_t last = *(end - 1);
    bool dotsOnly = true;
    for (const wchar_t* p = begin; p < end; ++p)
        dotsOnly = dotsOnly && *p == L'.';
    bool parentOrSelf = dotsOnly && end - begin <= 2;
    return !parentOrSelf && (last == L'.' || last == L' ');
}

}  // namespace

namespace {

NewAccountNameProblem CheckName(const wchar_t* name, uint32_t longest)
{
    uint32_t length = TextLength(name);
    if (length == 0)
        return NewAccountNameProblem::Empty;
    for (uint32_t i = 0; i < length; ++i) {
        if (Contains(kForbiddenNameCharacters, name[i]))
            return NewAccountNameProblem::ForbiddenCharacter;
    }
    if (length > longest)
        return NewAccountNameProblem::TooLong;
    bool onlyDotsOrBlanks = true;
    for (uint32_t i = 0; i < length; ++i)
        onlyDotsOrBlanks = onlyDotsOrBlanks && (name[i] == L'.' || name[i] == L' ');
    if (onlyDotsOrBlanks)
        return NewAccountNameProblem::OnlyDotsOrBlanks;
    for (uint32_t i = 0; i < length; ++i) {
        if (name[i] == L',' || name[i] == L'@' || IsControlCharacter(name[i]))
            return NewAccountNameProblem::RefusedCharacter;
    }
    if (EqualsNoCase(name, kReservedAccountName))
        return NewAccountNameProblem::Reserved;
    return NewAccountNameProblem::None;
}

}  // namespace

NewAccountNameProblem CheckNewAccountName(const wchar_t* name)
{
    return CheckName(name, kMaxAccountNameLength);
}

std::wstring NameProblemText(NewAccountNameProblem problem, uint32_t longest)
{
    switch (problem) {
    case NewAccountNameProblem::None: break;
    case NewAccountNameProblem::Empty: return L"it is empty";
    case NewAccountNameProblem::ForbiddenCharacter:
        return std::wstring(L"it holds a character that names cannot have: ") + kForbiddenNameCharacters;
    case NewAccountNameProblem::TooLong: return L"it is longer than " + std::to_wstring(longest) + L" characters";
    case NewAccountNameProblem::OnlyDotsOrBlanks: return L"it has only dots and blanks";
    case NewAccountNameProblem::RefusedCharacter: return L"it holds a comma, an at sign or a control character";
    case NewAccountNameProblem::Reserved: return L"it is kept for the profile repair's temporary administrator";
    }
    return L"";
}

NewAccountNameProblem CheckNewGroupName(const wchar_t* name)
{
    return CheckName(name, kMaxGroupNameLength);
}

bool IsUsableGroupDescription(const wchar_t* text)
{
    return TextLength(text) <= kMaxGroupDescriptionLength && !HasControlCharacter(text);
}

size_t ComposeTemporaryPassword(const uint8_t* random, size_t count, wchar_t* password)
{
    if (password == nullptr)
        return 0;
    password[0] = L'\0';
    if (random == nullptr)
        return 0;
    static_assert(kTemporaryPasswordLength >= kKindCount, "one place for each kind");
    // Drawn straight into the caller's buffer, which the caller wipes: no
    // other copy of the password is made.
    ByteSource source{random, count};
    bool complete = true;
    for (size_t place = 0; place < kTemporaryPasswordLength && complete; ++place) {
        uint32_t pick = 0;
        if (place < kKindCount) {
            const wchar_t* kind = kKinds[place];
            complete = source.Below(TextLength(kind), pick);
            password[place] = kind[pick];
        } else {
            complete = source.Below(AlphabetSize(), pick);
            password[place] = AlphabetAt(pick);
        }
    }
    // Every place, down to the second: each ordering equally likely.
    for (size_t place = kTemporaryPasswordLength - 1; place > 0 && complete; --place) {
        uint32_t other = 0;
        complete = source.Below(static_cast<uint32_t>(place + 1), other);
        wchar_t swap = password[place];
        password[place] = password[other];
        password[other] = swap;
    }
    password[complete ? kTemporaryPasswordLength : 0] = L'\0';
    return complete ? source.used : 0;
}

bool HasEveryCharacterKind(const wchar_t* text)
{
    for (const wchar_t* kind : kKinds) {
        bool found = false;
        for (const wchar_t* p = text; p != nullptr && *p != L'\0' && !found; ++p)
            found = Contains(kind, *p);
        if (!found)
            return false;
    }
    return true;
}

ProfileFolderVerdict NormaliseLocalPath(const wchar_t* path, WString& normalised)
{
    if (path == nullptr || *path == L'\0')
        return ProfileFolderVerdict::Empty;
    const wchar_t* p = path;
    // The long form of a drive path is the same path; every other "\\" form
    // (network shares, devices, "\\?\UNC\") is not a local folder.
    if (p[0] == L'\\' && p[1] == L'\\' && p[2] == L'?' && p[3] == L'\\')
        p += 4;
    if (!IsDriveLetter(p[0]) || p[1] != L':' || !IsSeparator(p[2]))
        return ProfileFolderVerdict::NotLocalAbsolute;
    wchar_t drive = FoldCase(p[0]) == p[0] ? static_cast<wchar_t>(p[0] - L'a' + L'A') : p[0];

    struct Component {
        const wchar_t* begin;
        const wchar_t* end;
    };
    std::vector<Component> components;
    const wchar_t* at = p + 3;
    while (*at != L'\0') {
        const wchar_t* begin = at;
        while (*at != L'\0' && !IsSeparator(*at))
            ++at;
        const wchar_t* end = at;
        if (*at != L'\0')
            ++at;
        size_t length = static_cast<size_t>(end - begin);
        if (length == 0 || (length == 1 && begin[0] == L'.'))
            continue;
        if (IsUnsafeComponent(begin, end))
            return ProfileFolderVerdict::UnsafeComponent;
        if (length == 2 && begin[0] == L'.' && begin[1] == L'.') {
            // As the system resolves it: never above the drive's root.
            if (!components.empty())
                components.pop_back();
            continue;
        }
        components.push_back({begin, end});
    }

    WString result;
    const wchar_t root[] = {drive, L':', L'\0'};
    if (!result.Assign(root))
        return ProfileFolderVerdict::RootUnusable;
    for (const Component& component : components) {
        WString piece;
        if (!piece.AssignSubstring(component.begin, 1, static_cast<int>(component.end - component.begin)) ||
            !result.Append(L"\\", piece.Text()))
            return ProfileFolderVerdict::RootUnusable;
    }
    if (components.empty() && !result.Append(L"\\"))
        return ProfileFolderVerdict::RootUnusable;
    normalised = std::move(result);
    return ProfileFolderVerdict::Inside;
}

bool IsStrictlyBelow(const wchar_t* inner, const wchar_t* outer)
{
    if (inner == nullptr || outer == nullptr)
        return false;
    uint32_t length = TextLength(outer);
    // A drive's root keeps its backslash: "C:\" is followed by the name itself.
    if (length > 0 && outer[length - 1] == L'\\')
        --length;
    if (length == 0)
        return false;
    for (uint32_t i = 0; i < length; ++i) {
        if (inner[i] == L'\0' || FoldCase(inner[i]) != FoldCase(outer[i]))
            return false;
    }
    return inner[length] == L'\\' && inner[length + 1] != L'\0';
}

ProfileFolderVerdict CheckProfileFolderPath(const wchar_t* path, const wchar_t* profilesRoot, WString& normalised)
{
    WString folder, root;
    ProfileFolderVerdict verdict = NormaliseLocalPath(path, folder);
    if (verdict != ProfileFolderVerdict::Inside)
        return verdict;
    if (NormaliseLocalPath(profilesRoot, root) != ProfileFolderVerdict::Inside)
        return ProfileFolderVerdict::RootUnusable;
    // A drive's root is no profiles directory: everything would lie inside it.
    if (root.Length() <= 3)
        return ProfileFolderVerdict::RootUnusable;
    if (EqualsNoCase(folder.Text(), root.Text()))
        return ProfileFolderVerdict::IsRoot;
    if (!IsStrictlyBelow(folder.Text(), root.Text()))
        return ProfileFolderVerdict::OutsideRoot;
    normalised = std::move(folder);
    return ProfileFolderVerdict::Inside;
}

bool IsPlainSidString(const wchar_t* text)
{
    if (text == nullptr || text[0] != L'S' || text[1] != L'-' || text[2] != L'1' || text[3] != L'-')
        return false;
    uint32_t length = TextLength(text);
    if (length < 5 || length > 184)
        return false;
    for (uint32_t i = 4; i < length; ++i) {
        wchar_t c = text[i];
        bool digit = c >= L'0' && c <= L'9';
        if (!digit && !(c == L'-' && text[i - 1] != L'-' && i + 1 < length))
            return false;
    }
    return true;
}
