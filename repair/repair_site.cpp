#include "repair/repair_site.h"

#include <windows.h>
#include <shlobj.h>

#include "platform/system.h"
#include "platform/text_win.h"
#include "repair/repair_rules.h"

namespace {

WString InToolFolder(const wchar_t* toolFolder, const wchar_t* file)
{
    WString path(toolFolder != nullptr ? toolFolder : L"");
    path.Append(file);
    return path;
}

}  // namespace

WString StateFilePath(const wchar_t* toolFolder)
{
    return InToolFolder(toolFolder, kStateFileName);
}

WString JournalPath(const wchar_t* toolFolder)
{
    return InToolFolder(toolFolder, L"\\BrenwickJournal.txt");
}

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
