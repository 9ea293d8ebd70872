// Where the repair lives on this machine, found once and handed on: the
// fix run's input, the set-up's, the clean-up's, the command verbs and the
// health check all work from the same value.
#pragma once

#include <string>

#include "platform/text.h"

struct RepairSite {
    std::wstring toolFolder;    // on the system drive; holds the state file, the journal and the picture copy
    std::wstring logPath;
    std::wstring programPath;   // this program's own file, started by the clean-up shortcuts
    double osVersion = 0.0;
};

// The site as this machine has it. The folders are empty when the Windows
// folder is unknown.
RepairSite LocateRepairSite();

// The repair's files in its tool folder, named in this one place: the state
// file (toolFolder + "\Brenwick.ini") and the journal (toolFolder +
// "\BrenwickJournal.txt").
WString StateFilePath(const wchar_t* toolFolder);
WString JournalPath(const wchar_t* toolFolder);

// The start-up shortcuts the set-up leaves: the repair's own, in the
// temporary account, and the clean-up's, in the repaired account.
inline constexpr wchar_t kTaskShortcutName[] = L"BrenwickTask.lnk";
inline constexpr wchar_t kCleanupShortcutName[] = L"BrenwickCleanup.lnk";
