// The health check's window over the account manager: the findings by
// severity with their evidence, mending the ticked ones or every safe one,
// and the list written out for whoever looks after the computer.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "app/health_check.h"
#include "ui/dialog_owner.h"

enum class ExportFormat { Csv, Json };

// The findings as the file the operator saves, in UTF-8: CSV (a heading
// row, then one row per finding with its evidence joined) or JSON (an array
// of objects). `results` runs beside `findings` (what mending each did, or
// empty); a shorter list leaves the rest empty. Texts off the machine are
// written as data, through the command mode's writers.
std::string ExportFindings(const std::vector<Finding>& findings, const std::vector<std::wstring>& results,
                           ExportFormat format);

// Runs the check at once and shows what it found until the operator
// closes the dialog. The check and the mends run on a thread of their own
// while the dialog keeps painting and the end of the session is refused.
void HealthCheckDialog(DialogOwner& owner);
