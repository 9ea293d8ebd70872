#include "repair/repair_site.h"

#include <windows.h>
#include <shlobj.h>

#include "platform/system.h"
#include "platform/text_win.h"
#include "repair/repair_rules.h"

RepairSite LocateRepairSite()
{
    RepairSite site;
    site.osVersion = GetOsVersionNumber();
    site.programPath = ModulePath().Text();
    WString windows;
    FromFolderPath(windows, CSIDL_WINDOWS, nullptr, SHGFP_TYPE_CURRENT);
    if (windows.Length() >= 2) {
        site.toolFolder = std::wstring(windows.Text(), 2) + kToolFolderName;
        site.logPath = site.toolFolder + kLogFileName;
    }
    return site;
}
