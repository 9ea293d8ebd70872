// Helpers shared by the tests of the platform foundation.
#pragma once

#include <windows.h>

#include <filesystem>
#include <fstream>
#include <string>

#include "tests/narrow.h"

// Quoted UTF-8 for failure messages.
inline std::string Show(const wchar_t* text)
{
    if (text == nullptr)
        return "(null)";
    return "\"" + Narrow(text) + "\"";
}
inline std::string Show(const std::wstring& text) { return Show(text.c_str()); }

// An empty folder of the test group's own below the temporary folder,
// emptied by the standard library rather than by the code under test.
inline std::wstring TestFolder(const wchar_t* group)
{
    wchar_t temp[MAX_PATH];
    GetTempPathW(MAX_PATH, temp);
    std::filesystem::path folder = std::filesystem::path(temp) / L"vantrell-tests" / group;
    std::error_code ignored;
    std::filesystem::remove_all(folder, ignored);
    std::filesystem::create_directories(folder, ignored);
    return folder.wstring();
}

// A path of that name in the temporary folder.
inline std::wstring TempFile(const wchar_t* name)
{
    wchar_t folder[MAX_PATH];
    GetTempPathW(ARRAYSIZE(folder), folder);
    return std::wstring(folder) + name;
}

// A scenario of the simulated machine written by the test, as INI text.
inline std::wstring WriteScenario(const wchar_t* name, const std::string& text)
{
    std::wstring path = TempFile(name);
    std::ofstream(std::filesystem::path(path), std::ios::binary) << text;
    return path;
}
