// The command mode's decisions that need no system call: the exit codes
// and reading the arguments against a verb table (its output is written by
// app/json_writer.h). Kept apart so that every case can be tested on any host.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "app/json_writer.h"

// What a command's exit code tells the script that ran it.
enum CommandExit : int {
    kExitDone = 0,            // done; for a check: nothing found
    kExitFound = 1,           // a check found something to mend
    kExitUsage = 2,           // the command line makes no sense, or --yes was needed or refused
    kExitRefused = 3,         // a guard refused it; nothing was changed
    kExitFailed = 4,          // failed or partly done
    kExitNeedsElevation = 5,  // not run as an elevated administrator
    kExitNoSuchAccount = 6,   // the account named does not exist; nothing was changed
    // Done, and the computer must restart for it to take effect: the
    // installers' convention, which deployment engines act on themselves.
    kExitRestartNeeded = 3010,
};

// The version of the JSON documents' shape (resources/command-line.schema.json):
// raised whenever a member changes its meaning or type.
inline constexpr int kCommandSchemaVersion = 1;

struct CommandExitEntry {
    int code;
    const wchar_t* meaning;
};
// Every exit code with its meaning, in order, for `help` and the README.
extern const CommandExitEntry kCommandExits[8];

// One option a verb takes. `choices` is "a|b|c" for a closed set, null for
// any value; a flag takes no value.
struct CommandOption {
    const wchar_t* name;        // "--type"
    bool takesValue;
    const wchar_t* choices;
};

// What a verb does beyond reading, which the dispatcher acts on once for
// every verb: the options it takes, its refusal without elevation, and its
// confirmation.
enum VerbFlags : unsigned {
    kReadsOnly = 0,
    // Changes the machine: --dry-run is taken, and says each change
    // without making it.
    kChangesMachine = 1u << 0,
    // Destroys something, or restarts the computer: --yes is taken, and
    // without it the verb asks at a console (CommandRun::Confirmed) and
    // refuses when none can answer.
    kAsksFirst = 1u << 1,
    // Refused (kExitNeedsElevation, nothing done) unless the process runs
    // as an elevated administrator.
    kNeedsElevation = 1u << 2,
};

// How a verb is written: its words ("password set"), its arguments and
// options, and what it does beyond reading.
struct CommandSyntax {
    const wchar_t* words;
    const wchar_t* arguments;   // "NAME FILE", for help; empty: none
    int minArguments;
    int maxArguments;
    const CommandOption* options;
    size_t optionCount;
    unsigned flags;             // VerbFlags

    bool Has(VerbFlags flag) const { return (flags & flag) != 0; }
};

// The options every verb takes: --json, --help, --verbose; --dry-run and
// --yes as above.
struct ParsedCommand {
    int verb = -1;                                   // index into the table; -1 none matched
    std::vector<std::wstring> arguments;
    std::vector<std::pair<std::wstring, std::wstring>> options;   // flags with an empty value
    bool json = false;
    bool dryRun = false;
    bool yes = false;
    bool help = false;
    bool verbose = false;
    std::wstring error;                              // why the line was refused

    bool Has(const wchar_t* option) const;
    // The value of the option, or `fallback` when it was not given.
    const wchar_t* Value(const wchar_t* option, const wchar_t* fallback = nullptr) const;
};

// The table row whose words the first arguments are (the longest match,
// letter case aside), or -1. `consumed` gets the number of words.
int MatchVerb(int count, const wchar_t* const* arguments, const CommandSyntax* table, size_t rows, int* consumed);

// What the arguments after the program's path ask for: the window (none,
// or a switch of the tools, which begin with a slash), a command of the
// table (letter case aside, common options and help switches before it
// allowed), or something that is neither: a command line mistyped, which
// is answered with the usage wherever someone can read it.
enum class LineKind { Window, Command, Unknown };
LineKind ClassifyCommandLine(int count, const wchar_t* const* arguments, const CommandSyntax* table, size_t rows);

// Reads the arguments after the program's path. The common options may also
// stand before the verb, and "--help", "-h", "-?" and "/?" alone ask for the
// verb "help". `json` and `verbose` are set whenever they are anywhere on the
// line, even when the line is refused, so that every outcome answers in the
// form asked for. False with `error` set for
// a line that is refused (exit 2): an unknown verb or option, a value
// missing or outside its choices, too few or too many arguments, an option
// the verb does not take, or a password on the command line, which every
// other process of the machine can read.
bool ParseCommand(int count, const wchar_t* const* arguments, const CommandSyntax* table, size_t rows,
                  ParsedCommand& parsed);

// Whether `value` is one of `choices` ("a|b|c"), letter case and all.
bool InChoices(const wchar_t* choices, const std::wstring& value);

// Whether an argument carries a password ("--password=...", "--password",
// "/password:...", "-p"): refused before anything else is looked at.
bool LooksLikePasswordArgument(const wchar_t* argument);
