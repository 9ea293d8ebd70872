#include "platform/file_handles.h"

#include <winternl.h>

#include <utility>
#include <vector>

#include "platform/file_rules.h"
#include "platform/text_win.h"

bool AbsoluteLongPath(const wchar_t* path, WString& longPath)
{
    longPath.Assign(L"");
    if (path == nullptr || !IsAbsolutePathText(path))
        return false;
    WString full;
    if (path[0] == L'\\' && path[1] == L'\\' && path[2] == L'?') {
        // Taken literally by the platform: nothing may climb out of it.
        if (HasDotComponents(path + 4))
            return false;
        full.Assign(path);
    } else {
        DWORD size = GetFullPathNameW(path, 0, nullptr, nullptr);
        if (size == 0)
            return false;
        wchar_t* buffer = full.GetBuffer(size);
        DWORD written = buffer != nullptr ? GetFullPathNameW(path, size + 1, buffer, nullptr) : 0;
        if (written == 0 || written > size)
            return false;
        full.Length();
        if (!IsAbsolutePathText(full.Text()) || !full.AddLongPathPrefix())
            return false;
    }
    TrimTrailingBackslashes(full);
    longPath = std::move(full);
    return !longPath.IsEmpty();
}

UniqueFileHandle OpenWithoutFollowing(const wchar_t* path, DWORD access)
{
    return UniqueFileHandle(CreateFileW(path, access, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                                        OPEN_EXISTING, FILE_FLAG_OPEN_REPARSE_POINT | FILE_FLAG_BACKUP_SEMANTICS,
                                        nullptr));
}

bool FinalPathOf(HANDLE object, WString& finalPath)
{
    finalPath.Assign(L"");
    // Asked twice at most: the size, then the text.
    DWORD size = GetFinalPathNameByHandleW(object, nullptr, 0, FILE_NAME_NORMALIZED | VOLUME_NAME_DOS);
    if (size == 0)
        return false;
    wchar_t* buffer = finalPath.GetBuffer(size);
    if (buffer == nullptr)
        return false;
    DWORD written = GetFinalPathNameByHandleW(object, buffer, size + 1, FILE_NAME_NORMALIZED | VOLUME_NAME_DOS);
    if (written == 0 || written > size) {
        finalPath.Assign(L"");
        return false;
    }
    finalPath.Length();
    return true;
}

bool ObjectNameOf(HANDLE object, WString& name)
{
    constexpr ULONG kObjectNameInformation = 1;   // not every toolchain's headers name it
    name.Assign(L"");
    std::vector<uint64_t> buffer((sizeof(UNICODE_STRING) + 32768 * sizeof(wchar_t)) / sizeof(uint64_t));
    auto* text = reinterpret_cast<UNICODE_STRING*>(buffer.data());
    ULONG length = 0;
    return NT_SUCCESS(NtQueryObject(object, static_cast<OBJECT_INFORMATION_CLASS>(kObjectNameInformation), text,
                                    static_cast<ULONG>(buffer.size() * sizeof(uint64_t)), &length)) &&
           text->Buffer != nullptr && text->Length != 0 &&
           name.AssignSubstring(text->Buffer, 1, static_cast<int>(text->Length / sizeof(wchar_t)));
}

bool HandleLiesInside(HANDLE object, const wchar_t* rootFinalPath)
{
    WString finalPath;
    if (rootFinalPath == nullptr || *rootFinalPath == L'\0' || !FinalPathOf(object, finalPath))
        return false;
    WString root(rootFinalPath);
    TrimTrailingBackslashes(root);
    return IsSameOrBelow(finalPath.Text(), root.Text());
}

UniqueFileHandle OpenEntryItself(const wchar_t* path, DWORD access)
{
    WString full;
    if (!AbsoluteLongPath(path, full) || IsVolumeRoot(full.Text()))
        return UniqueFileHandle();
    const uint32_t slash = full.Find(L"\\", true, -1);
    WString name(full.Text() + slash);
    WString parentPath(full.Text());
    parentPath.RemoveLastComponent();
    // A drive is opened at its root folder ("\\?\C:\"), not as the volume.
    if (IsVolumeRoot(parentPath.Text()))
        parentPath.Append(L"\\");
    UniqueFileHandle parent(CreateFileW(parentPath.Text(), 0, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                                        nullptr, OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr));
    WString expected;
    if (!parent || !FinalPathOf(parent.Get(), expected))
        return UniqueFileHandle();
    TrimTrailingBackslashes(expected);
    expected.Append(L"\\", name.Text());

    UniqueFileHandle entry = OpenWithoutFollowing(full.Text(), access);
    WString actual;
    if (!entry || !FinalPathOf(entry.Get(), actual) || !EqualsNoCase(actual.Text(), expected.Text()))
        return UniqueFileHandle();
    return entry;
}

UniqueFileHandle OpenBelowRoot(const wchar_t* root, const wchar_t* relative, DWORD access)
{
    WString rootPath;
    if (relative == nullptr || *relative == L'\0' || relative[0] == L'\\' || !AbsoluteLongPath(root, rootPath) ||
        HasDotComponents(relative) || IsWildcardMask(relative))
        return UniqueFileHandle();
    UniqueFileHandle rootHandle(CreateFileW(rootPath.Text(), 0, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                                            nullptr, OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr));
    WString rootFinal;
    if (!rootHandle || !FinalPathOf(rootHandle.Get(), rootFinal))
        return UniqueFileHandle();
    TrimTrailingBackslashes(rootFinal);

    StringList names;
    names.Split(relative, L"\\");
    WString current(rootFinal.Text());
    UniqueFileHandle entry;
    for (uint32_t i = 0; i < names.Count(); ++i) {
        if (names[i][0] == L'\0' || wcschr(names[i], L'/') != nullptr || wcschr(names[i], L':') != nullptr)
            return UniqueFileHandle();   // empty, another separator, or a stream
        WString expected(current.Text());
        expected.Append(L"\\", names[i]);
        const bool last = i + 1 == names.Count();
        entry = OpenWithoutFollowing(expected.Text(), last ? access : FILE_READ_ATTRIBUTES);
        FILE_ATTRIBUTE_TAG_INFO tag{};
        WString actual;
        if (!entry ||
            !GetFileInformationByHandleEx(entry.Get(), FileAttributeTagInfo, &tag, sizeof(tag)) ||
            (tag.FileAttributes & FILE_ATTRIBUTE_REPARSE_POINT) != 0 || !FinalPathOf(entry.Get(), actual) ||
            !EqualsNoCase(actual.Text(), expected.Text()))
            return UniqueFileHandle();
        current = std::move(actual);
    }
    if (!entry || !HandleLiesInside(entry.Get(), rootFinal.Text()))
        return UniqueFileHandle();
    return entry;
}
