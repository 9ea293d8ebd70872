// Counts what a profile holds that a repair cannot carry to the account it
// makes anew (repair/carry_rules.h): for the plan on the command line and
// the warnings of the wizard's second page.
#pragma once

#include "repair/carry_rules.h"

// Walks the profile folder (without following a link) and counts its
// encrypted files and the old SID's data-protection master keys. A folder
// that cannot be listed leaves `complete` false; a profile that cannot be
// walked at all gives false.
bool CountCarryLimits(const wchar_t* profileFolder, const wchar_t* sidString, CarryCounts& counts);
