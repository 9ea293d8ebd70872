// The fix run's journal on disk: beside the state file in the tool folder,
// replaced as a whole on every write so that a power cut leaves either the
// old journal or the new one, never half of one.
#pragma once

#include <string>

#include "platform/text.h"
#include "repair/journal_rules.h"
#include "repair/repair_site.h"

// Writes a new copy beside the journal, flushes it to the disk and renames
// it over the old one (MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH).
// False when any of that failed; the old journal then stays as it was.
bool WriteJournal(const wchar_t* path, const RepairJournal& journal);

enum class JournalRead {
    Missing,    // no journal: a fresh repair
    Valid,
    Invalid,    // present but unreadable or with a value out of place; `problem` says which
};

// Reads and checks the journal (repair/journal_rules.h) against the
// machine's profiles directory.
JournalRead ReadJournal(const wchar_t* path, RepairJournal& journal, std::wstring& problem);

// Removes the journal (and a new copy left by a cut write); true when none is left.
bool DeleteJournal(const wchar_t* path);

// Where a repair that did not finish left the account, in the operator's
// words: unchanged, deleted and not made again (its files still in the old
// folder), or made again without its files.
std::wstring DescribeUnfinishedRepair(const RepairJournal& journal, const wchar_t* account, bool accountExists);

// The copy of the account's picture the repair keeps in the tool folder
// while the old account is gone.
WString PictureCopyPath(const wchar_t* toolFolder);
