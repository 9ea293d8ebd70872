// The profile verbs of the command mode: every profile by its last use, and
// the clean-up of those unused for a given number of days, and one
// profile's deletion.
#pragma once

class CommandRun;

int ListProfiles(CommandRun& run);
int CleanProfiles(CommandRun& run);
// One profile by its account's name, its SID or its folder, through the
// clean-up's checks.
int DeleteOneProfile(CommandRun& run);
