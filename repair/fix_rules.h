// The fix run's decisions that need no system call: what each event does in
// each phase of the run, the countdown to the reboot and the texts the
// window and the log show. Kept apart so that every case can be tested on
// any host.
#pragma once

#include <cstdint>

#include "platform/text.h"

// Where the fix run stands: the repair is running, or it has ended and
// reported failure or success (the phase then counts down to the reboot).
enum class FixPhase : int32_t { Repairing = 0, Failed = 1, Succeeded = 2 };

// What the fix run's loop does with one event.
enum class FixStep {
    RefuseThenCheck,   // tell the operator the repair cannot be stopped, then look at the worker
    CheckWorker,       // look whether the worker has ended
    Countdown,         // move the countdown on
    RebootNow,         // leave the loop: reboot at once
};

// The step for an event in a phase; `closeRequested` is the window's close
// event (its close button or a close command).
FixStep NextFixStep(FixPhase phase, bool closeRequested);

// The phase once the worker has ended with `exitCode` (0: failed).
FixPhase PhaseAfterWorker(uint32_t exitCode);

inline constexpr int32_t kRebootCountdownSeconds = 20;

// Milliseconds in `counts` of a clock running at `frequency` counts a
// second, without the overflow of counts * 1000 and without losing the
// fraction of frequency / 1000; 0 for a frequency that is not positive.
int64_t CounterMilliseconds(int64_t counts, int64_t frequency);

// Whole seconds left when `elapsedMs` of a countdown of `seconds` have
// passed: `seconds` at its start, 0 once they have passed, never below 0
// and never above `seconds` (a clock read backwards does not lengthen it).
int32_t CountdownRemaining(int64_t elapsedMs, int32_t seconds = kRebootCountdownSeconds);

// "Reboot in 20 seconds" ... "Reboot in 1 second", "Reboot in 0 seconds".
WString CountdownText(int32_t remaining);

// The status line once the worker has ended.
const wchar_t* FixOutcomeText(FixPhase phase);

// The log line before the reboot: into the repaired account after a
// success, else the plain reboot.
WString RebootLogText(FixPhase phase, const wchar_t* account);

// The log line and message when the system refused the reboot with `error`.
WString RebootRefusedText(uint32_t error);

// "Fixing account profile data for:  <account>  ..."
WString FixingStatusText(const wchar_t* account);
