#include "platform/system.h"

#include <windows.h>

#include <psapi.h>
#include <shellapi.h>

#include "platform/handles.h"
#include "platform/machine.h"
#include "platform/text.h"

namespace {

class SystemVersionProbe final : public VersionProbe {
public:
    bool MajorAtLeast(uint32_t major) override { return Verify(major, 0, VER_GREATER_EQUAL, false); }
    bool MajorIs(uint32_t major) override { return Verify(major, 0, VER_EQUAL, false); }
    bool MajorMinorIs(uint32_t major, uint32_t minor) override { return Verify(major, minor, VER_EQUAL, true); }

private:
    static bool Verify(uint32_t major, uint32_t minor, BYTE condition, bool withMinor)
    {
        OSVERSIONINFOEXW info{};
        info.dwOSVersionInfoSize = sizeof(info);
        info.dwMajorVersion = major;
        info.dwMinorVersion = minor;
        DWORD mask = VER_MAJORVERSION;
        DWORDLONG conditions = VerSetConditionMask(0, VER_MAJORVERSION, condition);
        if (withMinor) {
            mask |= VER_MINORVERSION;
            conditions = VerSetConditionMask(conditions, VER_MINORVERSION, condition);
        }
        return VerifyVersionInfoW(&info, mask, conditions) != FALSE;
    }
};

}  // namespace

double GetOsVersionNumber()
{
    using GetVersionExFunction = BOOL(WINAPI*)(OSVERSIONINFOW*);
    UniqueLibrary kernel32(LoadLibraryW(L"Kernel32.dll"));
    if (!kernel32)
        return 10.0;
    // Looked up at run time: the import would be flagged as deprecated, and the
    // reported number is only trusted up to 6.2 anyway.
    auto getVersionEx = reinterpret_cast<GetVersionExFunction>(
        reinterpret_cast<void*>(GetProcAddress(kernel32.Get(), "GetVersionExW")));
    if (getVersionEx == nullptr)
        return 10.0;

    OSVERSIONINFOEXW info{};
    info.dwOSVersionInfoSize = sizeof(info);
    if (!getVersionEx(reinterpret_cast<OSVERSIONINFOW*>(&info)))
        info.dwMajorVersion = info.dwMinorVersion = 0;

    SystemVersionProbe probe;
    return SettleOsVersion(info.dwMajorVersion, info.dwMinorVersion, probe);
}

void OpenPage(const wchar_t* address, const wchar_t* folder)
{
    if (address == nullptr || *address == L'\0')
        return;
    SHELLEXECUTEINFOW page{};
    page.cbSize = sizeof(page);   // 112 in a 64-bit process, not the 60 of 32-bit builds
    page.fMask = SEE_MASK_NOCLOSEPROCESS;
    page.lpFile = address;
    page.lpDirectory = folder;
    page.nShow = SW_SHOW;
    if (machine::ShellExecuteExW(&page) && page.hProcess != nullptr)
        CloseHandle(page.hProcess);
}

std::vector<DWORD> ProcessIds()
{
    std::vector<DWORD> ids(1024);
    for (;;) {
        DWORD bytes = 0;
        const DWORD capacity = static_cast<DWORD>(ids.size() * sizeof(DWORD));
        if (!EnumProcesses(ids.data(), capacity, &bytes))
            return {};
        // A full buffer is the only sign that more ids were left out.
        if (bytes < capacity) {
            ids.resize(bytes / sizeof(DWORD));
            return ids;
        }
        ids.resize(ids.size() * 2);
    }
}
