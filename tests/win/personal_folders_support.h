// Shared by the personal-folder tests: the simulated machine's reset, and
// the account's own folder lists saved before a test changes them and put
// back afterwards, so that no test leaves a folder pointing elsewhere.
#pragma once

#include <windows.h>

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

// Explorer's two window classes, of the test's own: the names the refresh
// looks for, the view's messages going to `view`.
inline void RegisterFakeExplorer(WNDPROC view)
{
    WNDCLASSW cabinet{};
    cabinet.lpfnWndProc = DefWindowProcW;
    cabinet.lpszClassName = L"CabinetWClass";
    RegisterClassW(&cabinet);
    cabinet.lpfnWndProc = view;
    cabinet.lpszClassName = L"DirectUIHWND";
    RegisterClassW(&cabinet);
}
