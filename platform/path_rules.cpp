#include "platform/path_rules.h"

#include <string>
#include <vector>

bool NormalizeFolderPath(WString& path)
{
    std::wstring text(path.Text());
    path.Assign(L"");
    // The long forms name the same places as the short ones.
    if (StartsWithNoCase(text.c_str(), L"\\\\?\\UNC\\"))
        text = L"\\\\" + text.substr(8);
    else if (StartsWithNoCase(text.c_str(), L"\\\\?\\") || StartsWithNoCase(text.c_str(), L"\\??\\"))
        text = text.substr(4);
    for (wchar_t& c : text) {
        if (c == L'/')
            c = L'\\';
    }

    std::wstring head;   // "C:" or "\\server\share"
    size_t rest;
    if (text.size() >= 2 && IsDriveLetter(text[0]) && text[1] == L':') {
        if (text.size() > 2 && text[2] != L'\\')
            return false;   // "C:folder" is relative to the drive's current folder
        head = text.substr(0, 2);
        if (head[0] >= L'a' && head[0] <= L'z')
            head[0] = static_cast<wchar_t>(head[0] - L'a' + L'A');
        rest = 2;
    } else if (text.size() > 2 && text[0] == L'\\' && text[1] == L'\\' && text[2] != L'\\') {
        size_t server = text.find(L'\\', 2);
        if (server == std::wstring::npos || server == 2)
            return false;
        size_t share = text.find(L'\\', server + 1);
        std::wstring shareName = text.substr(server + 1, share == std::wstring::npos ? std::wstring::npos
                                                                                      : share - server - 1);
        if (shareName.empty() || shareName == L"." || shareName == L"..")
            return false;
        head = text.substr(0, share == std::wstring::npos ? text.size() : share);
        rest = share == std::wstring::npos ? text.size() : share;
    } else {
        return false;
    }

    std::vector<std::wstring> parts;
    size_t position = rest;
    while (position < text.size()) {
        size_t next = text.find(L'\\', position);
        if (next == std::wstring::npos)
            next = text.size();
        std::wstring part = text.substr(position, next - position);
        position = next + 1;
        if (part.empty() || part == L".")
            continue;
        if (part == L"..") {
            if (parts.empty())
                return false;
            parts.pop_back();
            continue;
        }
        // Trailing dots and spaces are dropped by the system, so "Docs." is "Docs".
        while (!part.empty() && (part.back() == L'.' || part.back() == L' '))
            part.pop_back();
        if (part.empty())
            return false;
        parts.push_back(part);
    }
    for (const std::wstring& part : parts)
        head += L"\\" + part;
    return path.Assign(head.c_str());
}
