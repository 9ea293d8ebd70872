// The command mode's verbs that make, delete, rename and describe local
// groups (their members are `group add` and `group remove`).
#pragma once

class CommandRun;

int GroupCreate(CommandRun& run);
int GroupDelete(CommandRun& run);
int GroupRename(CommandRun& run);
int GroupSet(CommandRun& run);
