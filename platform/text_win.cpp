#include "platform/text_win.h"

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

WString ExpandEnvironmentText(const wchar_t* text)
{
    if (text == nullptr)
        return WString(L"");
    wchar_t expanded[4096];
    const DWORD length = ExpandEnvironmentStringsW(text, expanded, ARRAYSIZE(expanded));
    return WString(length != 0 && length <= ARRAYSIZE(expanded) ? expanded : text);
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
