// TEMPORARY test stand-in for the simulated machine: records the two
// session and shell calls that the message boxes make, instead of letting
// them act. To be replaced by the sandbox library and its record.
#pragma once

#include <string>
#include <vector>

struct MachineCall {
    std::wstring call;
    std::wstring file;   // ShellExecuteExW: the page or file opened
    int show = 0;        // ShellExecuteExW: the show command
    unsigned mask = 0;   // ShellExecuteExW: the mask
};

std::vector<MachineCall>& MachineCalls();
