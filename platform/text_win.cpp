#include "platform/text_win.h"

#include <userenv.h>

#include <algorithm>

#include "platform/handles.h"
#include "platform/machine.h"

bool AssignNarrow(WString& target, const char* text)
{
    if (text == nullptr || *text == '\0') {
        target.Assign(L"");
        return true;
    }
    int needed = MultiByteToWideChar(CP_ACP, 0, text, -1, nullptr, 0);
    wchar_t* buffer = needed > 0 ? target.GetBuffer(static_cast<uint32_t>(needed), nullptr, true) : nullptr;
    if (buffer == nullptr) {
        target.SetValid(false);
        return false;
    }
    int written = MultiByteToWideChar(CP_ACP, 0, text, -1, buffer, needed);
    target.SetValid(written > 1);   // the count includes the terminator
    return target.Valid();
}

bool ReadIniString(WString& target, const wchar_t* iniPath, const wchar_t* section, const wchar_t* key,
                   const wchar_t* defaultValue, uint32_t capacity)
{
    wchar_t* buffer = target.GetBuffer(capacity, nullptr, true);
    if (buffer == nullptr) {
        target.SetValid(false);
        return false;
    }
    DWORD read = GetPrivateProfileStringW(section, key, defaultValue, buffer, capacity + 1, iniPath);
    target.SetValid(read > 0);
    return target.Valid();
}

namespace {

// The size-query-and-retry of the calls that fill a buffer of a given
// number of characters. `call(buffer, capacity)` returns 0 on failure, the
// text's length when it fit (always under `capacity`), or else at least
// `capacity`: the size it needs, when it can tell. The buffer then grows to
// that size (at least twice the last) and the call is made again.
template <typename Call>
WString QuerySized(DWORD firstCapacity, Call call)
{
    WString text;
    DWORD capacity = firstCapacity;
    for (int attempt = 0; attempt < 8; ++attempt) {
        wchar_t* buffer = text.GetBuffer(capacity, nullptr, true);
        if (buffer == nullptr)
            break;
        const DWORD length = call(buffer, capacity);
        if (length == 0)
            break;
        if (length < capacity) {
            text.Length();   // written directly: measured afresh
            text.SetValid(true);
            return text;
        }
        capacity = std::max(length + 1, capacity * 2);
    }
    text.Assign(L"");
    text.SetValid(false);
    return text;
}

}  // namespace

WString ExpandEnvironmentText(const wchar_t* text)
{
    if (text == nullptr) {
        WString none(L"");
        none.SetValid(false);
        return none;
    }
    return QuerySized(MAX_PATH, [text](wchar_t* buffer, DWORD capacity) -> DWORD {
        // The count includes the terminator; too small a buffer gets the size needed.
        DWORD needed = ExpandEnvironmentStringsW(text, buffer, capacity);
        return needed > capacity ? needed : (needed == 0 ? 0 : needed - 1);
    });
}

WString FullPathName(const wchar_t* path)
{
    return QuerySized(MAX_PATH, [path](wchar_t* buffer, DWORD capacity) -> DWORD {
        // Too small a buffer gets the size needed, terminator included.
        return GetFullPathNameW(path, capacity, buffer, nullptr);
    });
}

WString ModulePath()
{
    return QuerySized(MAX_PATH, [](wchar_t* buffer, DWORD capacity) -> DWORD {
        // A path cut short comes back as long as the buffer (terminated only
        // on newer systems), without the size it needs.
        return GetModuleFileNameW(nullptr, buffer, capacity);
    });
}

WString ProfilesDirectory()
{
    return QuerySized(MAX_PATH, [](wchar_t* buffer, DWORD capacity) -> DWORD {
        DWORD length = capacity;
        if (GetProfilesDirectoryW(buffer, &length))
            return TextLength(buffer);
        // Too small: `length` now holds the size needed, terminator included.
        return GetLastError() == ERROR_INSUFFICIENT_BUFFER && length > capacity ? length : 0;
    });
}

WString WindowsDirectory()
{
    // These three answer the length written, or when too small the size
    // needed, terminator included.
    return QuerySized(MAX_PATH, [](wchar_t* buffer, DWORD capacity) -> DWORD {
        return GetWindowsDirectoryW(buffer, capacity);
    });
}

WString SystemDirectory()
{
    return QuerySized(MAX_PATH, [](wchar_t* buffer, DWORD capacity) -> DWORD {
        return GetSystemDirectoryW(buffer, capacity);
    });
}

WString TempDirectory()
{
    return QuerySized(MAX_PATH, [](wchar_t* buffer, DWORD capacity) -> DWORD {
        return GetTempPathW(capacity, buffer);
    });
}

bool FromFolderPath(WString& target, int csidl, HANDLE token, DWORD flags)
{
    wchar_t* buffer = target.GetBuffer(MAX_PATH + 1, nullptr, true);
    if (buffer == nullptr) {
        target.SetValid(false);
        return false;
    }
    bool ok = machine::SHGetFolderPathW(nullptr, csidl, token, flags, buffer) == S_OK;
    if (!ok)
        target.Assign(L"");
    target.SetValid(ok);
    return ok;
}

bool FromKnownFolder(WString& target, REFKNOWNFOLDERID folderId, HANDLE token, DWORD flags)
{
    target.Assign(L"");
    target.SetValid(false);

    using GetKnownFolderPath = HRESULT(WINAPI*)(REFKNOWNFOLDERID, DWORD, HANDLE, PWSTR*);
    UniqueLibrary shell32(LoadLibraryW(L"Shell32.dll"));
    if (!shell32)
        return false;
    auto function = reinterpret_cast<GetKnownFolderPath>(
        reinterpret_cast<void*>(GetProcAddress(shell32.Get(), "SHGetKnownFolderPath")));
    if (function == nullptr)
        return false;

    PWSTR path = nullptr;
    HRESULT result = function(folderId, flags, token, &path);
    if (SUCCEEDED(result) && path != nullptr)
        target.SetValid(target.Assign(path));
    CoTaskMemFree(path);   // the shell may hand out a buffer even when it fails
    return target.Valid();
}

bool PumpPendingMessages()
{
    MSG message;
    while (PeekMessageW(&message, nullptr, 0, 0, PM_REMOVE)) {
        TranslateMessage(&message);
        DispatchMessageW(&message);
    }
    return true;
}

void PumpPendingExceptInput()
{
    MSG message;
    while (PeekMessageW(&message, nullptr, 0, 0, PM_REMOVE | PM_QS_POSTMESSAGE | PM_QS_PAINT | PM_QS_SENDMESSAGE)) {
        TranslateMessage(&message);
        DispatchMessageW(&message);
    }
}

MessagePacer::MessagePacer(DWORD intervalMs) : last_(GetTickCount()), interval_(intervalMs) {}

void MessagePacer::Pump()
{
    const DWORD now = GetTickCount();
    if (now - last_ >= interval_) {
        PumpPendingMessages();
        last_ = now;
    }
}

std::wstring LowerText(const wchar_t* text)
{
    std::wstring lower(text != nullptr ? text : L"");
    if (!lower.empty())
        CharLowerBuffW(&lower[0], static_cast<DWORD>(lower.size()));
    return lower;
}
