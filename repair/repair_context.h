// What the repair's steps share while one repair runs: its input, its
// journal and the log. Used only by the repair's own files.
#pragma once

#include <cstdint>

#include "platform/handles.h"
#include "platform/text.h"
#include "repair/repair_input.h"

// The report's rows, in the order they appear.
enum class RepairRow { Info, Delete, Create, Move, Count };

struct RepairContext {
    RepairInput input;
    RepairProgress* progress = nullptr;   // not owned; null when nobody watches
    const wchar_t* account = L"";         // input.account
    double version = 0.0;
    WString journalPath;
    WString statePath;
    WString fullName;
    RepairJournal journal;
    bool journalWritable = true;
    bool rowShown[static_cast<int>(RepairRow::Count)] = {};
    LocalAcl dacl;                        // built when first needed
    LocalSid newSid;
};

void Log(RepairContext& context, const wchar_t* text);
// A failed file operation, with its path, so that the operator can finish by hand.
void LogPath(RepairContext& context, const wchar_t* what, const wchar_t* path);
// Records work inside a step in the journal and passes its power-cut point.
void Mark(RepairContext& context, uint32_t mark, const wchar_t* point);
