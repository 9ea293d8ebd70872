// The command mode's verbs that make, delete, rename and describe local
// groups (their members are `group add` and `group remove`).
#pragma once

#include <string>

class CommandRun;

// Why a name cannot be a new group's (the account names' rules, and never
// a SID or a RID), as a refusal to say; empty when it can.
std::wstring GroupNameRefusal(const wchar_t* name);

int GroupCreate(CommandRun& run);
int GroupDelete(CommandRun& run);
int GroupRename(CommandRun& run);
int GroupSet(CommandRun& run);
