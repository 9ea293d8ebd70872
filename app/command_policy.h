// The command mode's verbs for the computer's password and lock-out policy.
#pragma once

class CommandRun;

int ShowPolicy(CommandRun& run);
int SetPolicy(CommandRun& run);
