// Keeping the account's settings through a rebuild: each old hive file
// (NTUSER.DAT, UsrClass.dat) is copied to the tool folder, loaded there
// under a temporary key, read back, its keys given to the new SID and
// unloaded; only then is its content written into the fresh profile's hive
// file, in place of the fresh settings, and read back. The old file is
// never changed, and the rest of the rebuild moves the fresh file into
// place as it always does, so that a power cut anywhere leaves a hive that
// either is the fresh one or holds the old settings whole. A hive that does
// not load or read back keeps the fresh one, and the log says why.
#pragma once

#include <string>

#include "repair/repair_context.h"

// One hive a rebuild may keep.
struct KeptHive {
    const wchar_t* relative;      // below the profile folder: "NTUSER.DAT"
    const wchar_t* shownName;     // in the log: "NTUSER.DAT"
    const wchar_t* readBack;      // a key that must open for the hive to count as sound, or null
    uint32_t keptMark;            // JournalMark once the fresh file holds the old settings
    const wchar_t* keptPoint;     // the power-cut point after that mark
};

// The account's settings put into the fresh profile's hive files, when the
// repair was asked to keep them; nothing otherwise. Each hive is done once
// (the journal's marks say so).
void KeepOldSettings(RepairContext& context);

// Gives the old hive's content, its keys handed to the new SID, to the fresh
// hive file. True when the fresh file holds it (now or from an earlier
// run); false, with `why` set and logged, when the fresh settings stay.
bool KeepOldHive(RepairContext& context, const KeptHive& hive, std::wstring& why);
