// The rows file the start-up benchmark passes from the capture to the floor:
// three lines per row of the account list (title, account name, type text),
// UTF-16 without a byte-order mark. Account texts hold no line breaks.
#pragma once

#include <windows.h>

#include <string>
#include <vector>

#include "platform/handles.h"

// Every line of the file; empty when it cannot be read.
inline std::vector<std::wstring> ReadRowLines(const std::wstring& path)
{
    std::vector<std::wstring> lines;
    UniqueFileHandle file(CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                                      FILE_ATTRIBUTE_NORMAL, nullptr));
    LARGE_INTEGER size{};
    if (!file || !GetFileSizeEx(file.Get(), &size) || size.QuadPart > (64 << 20))
        return lines;
    std::wstring text(static_cast<size_t>(size.QuadPart) / sizeof(wchar_t), L'\0');
    const DWORD bytes = static_cast<DWORD>(text.size() * sizeof(wchar_t));
    DWORD read = 0;
    if (bytes != 0 && (!ReadFile(file.Get(), text.data(), bytes, &read, nullptr) || read != bytes))
        return lines;
    size_t start = 0;
    for (size_t end; (end = text.find(L'\n', start)) != std::wstring::npos; start = end + 1)
        lines.push_back(text.substr(start, end - start));
    return lines;
}

inline bool WriteRowLines(const std::wstring& path, const std::wstring& text)
{
    UniqueFileHandle file(
        CreateFileW(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr));
    const DWORD bytes = static_cast<DWORD>(text.size() * sizeof(wchar_t));
    DWORD written = 0;
    return file && WriteFile(file.Get(), text.data(), bytes, &written, nullptr) && written == bytes;
}
