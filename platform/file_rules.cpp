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
