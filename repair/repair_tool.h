// The profile repair tool's window object.
#pragma once

#include "ui/window.h"

class RepairTool : public UiWindow {};

// Runs the repair tool; its result is the process's exit code.
int RunRepairTool(RepairTool& tool, HINSTANCE instance, const wchar_t* commandLine, int showCommand);
