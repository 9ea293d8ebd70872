#include "accounts/explorer_refresh.h"

#include <cstdint>
#include <string>
#include <utility>
#include <vector>

#include "accounts/personal_folder_rules.h"
#include "platform/text.h"

namespace {

struct ChildSearch {
    ChildPattern pattern;
    std::vector<std::pair<std::wstring, int32_t>> classCounts;   // windows of each class seen so far
    int32_t matches = 0;
    HWND found = nullptr;
};

int32_t CountClass(ChildSearch& search, const wchar_t* className)
{
    for (auto& entry : search.classCounts) {
        if (EqualsNoCase(entry.first.c_str(), className))
            return ++entry.second;
    }
    search.classCounts.emplace_back(className, 1);
    return 1;
}

BOOL CALLBACK VisitChild(HWND window, LPARAM parameter)
{
    auto& search = *reinterpret_cast<ChildSearch*>(parameter);
    wchar_t className[256] = L"";
    GetClassNameW(window, className, ARRAYSIZE(className));
    WString text;
    int length = GetWindowTextLengthW(window);
    wchar_t* buffer = text.GetBuffer(static_cast<uint32_t>(length > 0 ? length + 1 : 1), nullptr, true);
    if (buffer != nullptr && length > 0)
        GetWindowTextW(window, buffer, length + 1);
    ChildFacts facts{className, text.Text(), GetDlgCtrlID(window), CountClass(search, className)};
    if (ChildMatches(search.pattern, facts) && ++search.matches == search.pattern.instance) {
        search.found = window;
        return FALSE;
    }
    return TRUE;
}

}  // namespace

HWND FindChildControl(HWND parent, const wchar_t* pattern)
{
    ChildSearch search;
    search.pattern = ParseChildPattern(pattern);
    if (!search.pattern.valid || parent == nullptr)
        return nullptr;
    EnumChildWindows(parent, VisitChild, reinterpret_cast<LPARAM>(&search));
    return search.found;
}

int RefreshExplorerWindows(double osVersion)
{
    const wchar_t* view = osVersion < 6.0 ? L"[CLASS:SysListView32; INSTANCE:1]" : L"[CLASS:DirectUIHWND; INSTANCE:3]";
    int refreshed = 0;
    for (HWND explorer = FindWindowExW(nullptr, nullptr, L"CabinetWClass", nullptr); explorer != nullptr;
         explorer = FindWindowExW(nullptr, explorer, L"CabinetWClass", nullptr)) {
        HWND target = FindChildControl(explorer, view);
        if (target == nullptr)
            continue;
        PostMessageW(target, WM_KEYDOWN, VK_F5, 0);
        PostMessageW(target, WM_KEYUP, VK_F5, 0x20000000);
        ++refreshed;
    }
    if (HWND desktop = GetShellWindow()) {
        PostMessageW(desktop, WM_KEYDOWN, VK_F5, 0);
        PostMessageW(desktop, WM_KEYUP, VK_F5, 0x20000000);
        ++refreshed;
    }
    return refreshed;
}
