// The set-up run's two-page wizard and the scheduling of a repair.
#pragma once

#include <cstdint>

class RepairTool;

// Empties the list and fills it with the accounts that can be repaired:
// enabled, relative id 1000 or more, not the temporary account nor
// "defaultuser0", with a profile. The number of rows.
int FillRepairAccountList(RepairTool& tool, int32_t listId);

// The controls of the wizard, kept for the tests and the scheduling.
struct RepairWizardIds {
    int32_t list = 0;
    int32_t fixUserButton = 0;
    int32_t refreshButton = 0;
    int32_t diagnosisLabel = 0;   // what the examination of the selected account found
    int32_t mendButton = 0;       // the mend in place, enabled when the examination proposes it
    int32_t accountLabel = 0;
    int32_t storeOption = 0;
    int32_t appDataOption = 0;
    int32_t settingsOption = 0;   // keep the old registry hives
    int32_t backButton = 0;
    int32_t fixNowButton = 0;
};

// The set-up run: the wizard's two pages over the tool's frame, until the
// repair is scheduled or the window closes. 0.
int RunRepairWizard(RepairTool& tool);
