// Shared by the personal-folder tests: the simulated machine's reset, and
// the account's own folder lists saved before a test changes them and put
// back afterwards, so that no test leaves a folder pointing elsewhere.
#pragma once

#include <windows.h>

#include <cstring>
#include <initializer_list>
#include <string>
#include <vector>

#include "accounts/personal_folder_rules.h"
#include "sandbox/sandbox.h"
#include "tests/win/test_support.h"   // ProcessUserName, CleanFolder

inline bool ResetScenario(const wchar_t* name)
{
    if (!sandbox::ResetMachine(sandbox::ScenarioPath(name)))
        return false;
    sandbox::ClearRecord();
    return true;
}

// The Unix name of a Windows path in the prefix; empty when Wine has none.
inline std::wstring UnixName(const std::wstring& path)
{
    using Lookup = char*(CDECL*)(const wchar_t*);
    auto lookup = reinterpret_cast<Lookup>(
        reinterpret_cast<void*>(GetProcAddress(GetModuleHandleW(L"kernel32.dll"), "wine_get_unix_file_name")));
    char* name = lookup != nullptr ? lookup(path.c_str()) : nullptr;
    if (name == nullptr)
        return L"";
    std::wstring text(name, name + strlen(name));
    HeapFree(GetProcessHeap(), 0, name);
    return text;
}

// Runs a program of the system under Wine with the quoted arguments and
// waits for it.
inline bool RunUnixProgram(const std::wstring& program, std::initializer_list<std::wstring> arguments)
{
    std::wstring command = L"start.exe /wait /unix " + program;
    for (const std::wstring& argument : arguments) {
        if (argument.empty())
            return false;
        command += L" \"" + argument + L"\"";
    }
    STARTUPINFOW startup{};
    startup.cb = sizeof(startup);
    PROCESS_INFORMATION process{};
    if (!CreateProcessW(nullptr, &command[0], nullptr, nullptr, FALSE, CREATE_NO_WINDOW, nullptr, nullptr, &startup,
                        &process))
        return false;
    WaitForSingleObject(process.hProcess, 30000);
    CloseHandle(process.hThread);
    CloseHandle(process.hProcess);
    return true;
}

// Wine shows a Unix link to a folder as a junction but cannot make one: the
// system's own ln makes it, and removes it.
inline bool PlantUnixLink(const std::wstring& link, const std::wstring& target)
{
    return RunUnixProgram(L"/bin/ln", {L"-s", UnixName(target), UnixName(link)}) &&
           (GetFileAttributesW(link.c_str()) & FILE_ATTRIBUTE_REPARSE_POINT) != 0;
}

inline void RemoveUnixLinksTo(const std::wstring& folder, const std::wstring& target)
{
    RunUnixProgram(L"/usr/bin/find", {UnixName(folder), L"-lname", UnixName(target), L"-delete"});
}

class SavedShellFolders {
public:
    void Save()
    {
        values_.clear();
        for (const wchar_t* list : kLists) {
            for (const PersonalFolder& folder : kPersonalFolders) {
                Value value{list, folder.valueName};
                DWORD size = sizeof(value.data);
                value.present = RegGetValueW(HKEY_CURRENT_USER, Key(list).c_str(), folder.valueName,
                                             RRF_RT_REG_SZ | RRF_RT_REG_EXPAND_SZ | RRF_NOEXPAND, &value.type,
                                             value.data, &size) == ERROR_SUCCESS;
                values_.push_back(value);
            }
        }
    }
    void Restore()
    {
        for (const Value& value : values_) {
            HKEY key = nullptr;
            if (RegCreateKeyExW(HKEY_CURRENT_USER, Key(value.list).c_str(), 0, nullptr, 0, KEY_SET_VALUE, nullptr,
                                &key, nullptr) != ERROR_SUCCESS)
                continue;
            if (value.present)
                RegSetValueExW(key, value.name, 0, value.type, reinterpret_cast<const BYTE*>(value.data),
                               static_cast<DWORD>((wcslen(value.data) + 1) * sizeof(wchar_t)));
            else
                RegDeleteValueW(key, value.name);
            RegCloseKey(key);
        }
    }

private:
    struct Value {
        const wchar_t* list;
        const wchar_t* name;
        bool present = false;
        DWORD type = REG_SZ;
        wchar_t data[1024] = L"";
    };
    static constexpr const wchar_t* kLists[2] = {L"User Shell Folders", L"Shell Folders"};
    static std::wstring Key(const wchar_t* list)
    {
        return std::wstring(L"Software\\Microsoft\\Windows\\CurrentVersion\\Explorer\\") + list;
    }
    std::vector<Value> values_;
};
