#include "app/apply_steps.h"

#include <windows.h>

#include "app/command_families.h"
#include "app/command_mode.h"
#include "app/health_check.h"
#include "platform/files.h"
#include "platform/system.h"
#include "platform/text_win.h"

int CarryOutMend(CommandRun& run, const std::vector<std::wstring>& names)
{
    for (const std::wstring& name : names) {
        FindingKind kind;
        if (!KindOfId(name.substr(0, name.find(L':')).c_str(), kind)) {
            run.Say(L"there is no kind of finding " + Quoted(name));
            return kExitUsage;
        }
    }
    if (!run.Elevated()) {
        run.Say(L"mending needs an elevated administrator: run it from an elevated prompt; nothing was changed");
        return kExitNeedsElevation;
    }
    HealthCheckOptions options;
    options.elevated = true;
    const std::vector<Finding> findings = RunHealthCheck(options);
    int code = kExitDone;
    for (const std::wstring& name : names) {
        bool found = false;
        for (const Finding& finding : findings)
            found = found || NamesFinding(name, finding);
        if (!found)
            run.Say(L"nothing found as " + Quoted(name) + L"; nothing to mend");
    }
    for (const Finding& finding : findings) {
        bool named = false;
        for (const std::wstring& name : names)
            named = named || NamesFinding(name, finding);
        if (!named)
            continue;
        if (!finding.mendable) {
            if (finding.severity != Severity::Note)
                code = code == kExitDone ? kExitFound : code;
            continue;
        }
        const std::wstring change = finding.id + L" " + finding.target + L": " + finding.mendText;
        if (run.DryRun()) {
            run.Change(change);
            continue;
        }
        const MendOutcome outcome = MendFinding(finding);
        if (outcome.mended) {
            run.Change(change);
        } else {
            run.NotDone(change + L" (" + outcome.text + L")");
            code = kExitFailed;
        }
    }
    return code;
}


bool ReadDocumentFile(const wchar_t* path, std::string& text)
{
    // A desired state is small; anything past this is no such document.
    constexpr size_t kLargest = 16u << 20;
    // Named as a command line names files: relative to the current folder.
    WString full = FullPathName(path);
    WString longPath;
    UniqueFileHandle file;
    if (full.Valid() && AbsoluteLongPath(full.Text(), longPath))
        file.Reset(CreateFileW(longPath.Text(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr));
    if (!file)
        return false;
    char buffer[65536];
    DWORD got = 0;
    while (ReadFile(file.Get(), buffer, sizeof(buffer), &got, nullptr) && got > 0) {
        text.append(buffer, got);
        if (text.size() > kLargest)
            return false;
    }
    return true;
}

