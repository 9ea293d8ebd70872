// The profile verbs of the command mode: every profile by its last use, and
// the clean-up of those unused for a given number of days, and one
// profile's deletion.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

class CommandRun;

int ListProfiles(CommandRun& run);
int CleanProfiles(CommandRun& run);
// One profile by its account's name, its SID or its folder, through the
// clean-up's checks.
int DeleteOneProfile(CommandRun& run);

// A clean-up as `profiles clean` takes it, or as `apply` asks for it.
struct ProfileCleaning {
    uint32_t unusedForDays = 0;
    std::vector<std::wstring> exclude;        // names, SIDs or folder names of profiles kept
    bool keepAccounts = false;
    std::vector<std::wstring> keptAccounts;   // accounts that stay whatever keepAccounts says
    std::vector<std::wstring> leftSids;       // profiles another step of the same run deletes
    bool confirmed = false;                   // nobody is asked
    bool listed = true;                       // every profile and its decision in the output
};
int CleanProfilesAs(CommandRun& run, const ProfileCleaning& cleaning);
