#include "platform/system.h"

#include <windows.h>

#include "platform/handles.h"
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
