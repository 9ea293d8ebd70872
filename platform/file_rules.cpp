#include "platform/file_rules.h"

#include "platform/text.h"

bool PassesDirectoryFilter(const wchar_t* name, uint32_t attributes, uint32_t filter)
{
    if (name == nullptr || name[0] == L'\0')
        return false;
    if (name[0] == L'.' && (name[1] == L'\0' || (name[1] == L'.' && name[2] == L'\0')))
        return false;
    const bool directory = (attributes & kAttributeDirectory) != 0;
    if ((filter & kSkipReparsePoints) != 0 && (attributes & kAttributeReparsePoint) != 0)
        return false;
    if ((filter & kOnlyFiles) != 0 && directory)
        return false;
    if ((filter & kOnlyDirectories) != 0 && !directory)
        return false;
    return true;
}

EntryKind ClassifyForDeletion(uint32_t attributes)
{
    if (attributes == kInvalidAttributes)
        return EntryKind::Link;
    if ((attributes & kAttributeDirectory) == 0)
        return EntryKind::File;
    return (attributes & kAttributeReparsePoint) != 0 ? EntryKind::Link : EntryKind::Directory;
}

uint32_t AttributesAfterClearing(uint32_t attributes)
{
    constexpr uint32_t kBlocking = kAttributeReadOnly | kAttributeHidden | kAttributeSystem;
    if (attributes == kInvalidAttributes || (attributes & kBlocking) == 0)
        return kInvalidAttributes;
    const uint32_t kept = attributes & ~kBlocking;
    return kept != 0 ? kept : kAttributeNormal;
}

bool IsWildcardMask(const wchar_t* component)
{
    for (const wchar_t* p = component; p != nullptr && *p != L'\0'; ++p) {
        if (*p == L'*' || *p == L'?')
            return true;
    }
    return false;
}

bool IsSameOrBelow(const wchar_t* inner, const wchar_t* outer)
{
    if (inner == nullptr || outer == nullptr)
        return false;
    const uint32_t length = TextLength(outer);
    for (uint32_t i = 0; i < length; ++i) {
        if (inner[i] == L'\0' || FoldCase(inner[i]) != FoldCase(outer[i]))
            return false;
    }
    return inner[length] == L'\0' || inner[length] == L'\\';
}

namespace {

bool StartsWith(const wchar_t* text, const wchar_t* prefix, bool caseSensitive)
{
    for (; *prefix != L'\0'; ++text, ++prefix) {
        if (*text == L'\0' || (caseSensitive ? *text != *prefix : FoldCase(*text) != FoldCase(*prefix)))
            return false;
    }
    return true;
}

// "server\share..." with both names present.
bool HasServerAndShare(const wchar_t* text)
{
    const wchar_t* p = text;
    while (*p != L'\0' && *p != L'\\')
        ++p;
    return p != text && *p == L'\\' && p[1] != L'\0' && p[1] != L'\\';
}

}  // namespace

bool IsDriveLetter(wchar_t c) { return (c >= L'A' && c <= L'Z') || (c >= L'a' && c <= L'z'); }

bool IsAbsolutePathText(const wchar_t* path)
{
    if (path == nullptr)
        return false;
    if (StartsWith(path, L"\\\\?\\UNC\\", false))
        return HasServerAndShare(path + 8);
    if (StartsWith(path, L"\\\\?\\", true))
        return IsDriveLetter(path[4]) && path[5] == L':' && path[6] == L'\\';
    if (path[0] == L'\\' && path[1] == L'\\')
        return path[2] != L'.' && path[2] != L'?' && HasServerAndShare(path + 2);
    return IsDriveLetter(path[0]) && path[1] == L':' && (path[2] == L'\\' || path[2] == L'/');
}

bool IsLocalDrivePath(const wchar_t* path)
{
    if (path == nullptr)
        return false;
    if (StartsWith(path, L"\\\\?\\", true))
        return IsDriveLetter(path[4]) && path[5] == L':' && path[6] == L'\\';
    return IsDriveLetter(path[0]) && path[1] == L':' && (path[2] == L'\\' || path[2] == L'/');
}

bool HasDotComponents(const wchar_t* path)
{
    if (path == nullptr)
        return false;
    const wchar_t* component = path;
    for (const wchar_t* p = path;; ++p) {
        if (*p == L'\\' || *p == L'/' || *p == L'\0') {
            const size_t length = static_cast<size_t>(p - component);
            if ((length == 1 && component[0] == L'.') || (length == 2 && component[0] == L'.' && component[1] == L'.'))
                return true;
            if (*p == L'\0')
                return false;
            component = p + 1;
        }
    }
}

bool IsVolumeRoot(const wchar_t* path)
{
    if (path == nullptr)
        return false;
    const wchar_t* share = nullptr;
    if (StartsWith(path, L"\\\\?\\UNC\\", false))
        share = path + 8;
    else if (StartsWith(path, L"\\\\?\\", true))
        path += 4;
    else if (path[0] == L'\\' && path[1] == L'\\')
        share = path + 2;
    if (share != nullptr) {
        // Server and share: at most one backslash inside, a trailing one aside.
        int separators = 0;
        for (const wchar_t* p = share; *p != L'\0'; ++p)
            separators += *p == L'\\' && p[1] != L'\0' ? 1 : 0;
        return separators <= 1;
    }
    return IsDriveLetter(path[0]) && path[1] == L':' && (path[2] == L'\0' || (path[2] == L'\\' && path[3] == L'\0'));
}
