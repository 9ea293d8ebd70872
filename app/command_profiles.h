// The profile verbs of the command mode: every profile by its last use, and
// the clean-up of those unused for a given number of days.
#pragma once

class CommandRun;

int ListProfiles(CommandRun& run);
int CleanProfiles(CommandRun& run);
