// The command mode: every account action from a console or a script, with
// no window. Data goes to standard output, messages to standard error, and
// the exit code (app/command_rules.h) says how it went.
#pragma once

#include <windows.h>

#include <string>

#include "app/command_rules.h"

// The process is to run the command mode rather than a window: the first
// argument names a verb of the table (or asks for help), or it is no switch
// of the tools and the process has standard handles or a console to answer
// on (a mistyped command never opens the window, nor an elevation prompt,
// for a script that waits for its exit code).
bool IsCommandLine(int count, const wchar_t* const* arguments);

// Runs one command; the process exit code. Elevation is tested through
// `isElevated` (never by starting the program again: without it the
// command ends with kExitNeedsElevation).
int RunCommandMode(int count, const wchar_t* const* arguments, bool (*isElevated)());

// The standard handles as this process got them. A program of the window
// subsystem gets them when its starter hands them over (the console
// companion, a script's redirection); otherwise it attaches to its parent's
// console, if there is one.
struct CommandConsole {
    HANDLE out = nullptr;      // not owned
    HANDLE err = nullptr;      // not owned
    HANDLE in = nullptr;       // not owned
    bool outIsConsole = false;
    bool errIsConsole = false;
    bool inIsConsole = false;
    // Attached to the console of the process that started this one (cmd,
    // PowerShell), which goes on reading the same keys: a typed answer or
    // password could reach it instead. Nobody is asked then.
    bool borrowed = false;
};

// What one command writes and reads, handed to every verb.
class CommandRun {
public:
    // The document's members are written into an object opened here; its
    // brace goes when the common members join them.
    CommandRun(const CommandConsole& console, const ParsedCommand& parsed) : console_(console), parsed_(parsed)
    {
        json_.BeginObject();
    }

    const ParsedCommand& Parsed() const { return parsed_; }
    const CommandConsole& Console() const { return console_; }
    // Whether the process runs as an elevated administrator: a read without
    // it leaves out what only an administrator may read, and says so.
    bool Elevated() const { return elevated_; }
    void SetElevated(bool elevated) { elevated_ = elevated; }
    // What the verb does beyond reading (VerbFlags), as its table row says.
    void SetVerbFlags(unsigned flags) { verbFlags_ = flags; }
    // Names a fact left out for want of elevation: the document's "leftOut"
    // and a message.
    void LeaveOut(const wchar_t* fact, const wchar_t* why);
    const std::vector<std::wstring>& LeftOut() const { return leftOut_; }
    bool Json() const { return parsed_.json; }
    bool DryRun() const { return parsed_.dryRun; }
    const wchar_t* Argument(size_t i) const
    {
        return i < parsed_.arguments.size() ? parsed_.arguments[i].c_str() : L"";
    }

    // The JSON document's body: a verb adds its own members.
    JsonWriter& Document() { return json_; }

    // A line of data (text mode only; JSON carries the same in the document).
    void Line(const std::wstring& text);
    // A message for the operator: standard error, and the document's "messages".
    void Say(const std::wstring& text);
    // A change made, recorded once it has happened; with --dry-run one that
    // would be made: both outputs. With the field it changed on `target`
    // (an account, the automatic sign-in, a finding) and its value before
    // and after, as the option that sets it spells it; a secret's values
    // are never given, only that it changed.
    void Change(const std::wstring& text);
    void Change(const std::wstring& text, const std::wstring& target, const wchar_t* field, const std::wstring& before,
                const std::wstring& after);
    void SecretChange(const std::wstring& text, const std::wstring& target, const wchar_t* field);
    // A change the command set out to make and did not: standard error and
    // the document's "notDone", so that a partial result lists both sides.
    void NotDone(const std::wstring& text);
    // The standard error line of a long operation's progress (never in JSON).
    void Progress(const std::wstring& text);

    // Reads one secret line: from standard input when it is not a console,
    // else typed without echo after `prompt` (twice when `confirm`). False
    // with a message when none can be had. The text is wiped with `secret`.
    bool ReadSecret(class SecretText& secret, const wchar_t* prompt, bool confirm);
    // A dry run's secret: the line on standard input when one is there, as
    // ReadSecret reads it; a console is never asked, and none is needed
    // (`given` false). False, having said so, only for a line the run
    // itself would refuse.
    bool ReadSecretIfGiven(class SecretText& secret, bool& given);
    // A yes-or-no question at the console. False without one: an unattended
    // run never waits for an answer nobody can give. A borrowed console
    // counts as none, and says how to be asked instead.
    bool HasConsoleInput();
    bool Ask(const wchar_t* question);
    // The confirmation of a verb that asks first (kAsksFirst), once its
    // checks have passed: true to go on with a dry run, with --yes or with
    // the operator's yes to `question`. Otherwise false, having said that
    // `what` ("deleting a group") needs --yes when no console can answer, or
    // `declined` ("not deleted"): the verb ends with kExitUsage, nothing
    // changed. A verb without the flag takes no --yes and is never asked.
    bool Confirmed(const std::wstring& what, const std::wstring& question, const wchar_t* declined);
    // The first half of it, for a verb that reads a secret before it asks:
    // whether it can be asked at all (or need not be); false having said
    // that `what` needs --yes.
    bool CanConfirm(const std::wstring& what);
    // Whether the command was stopped because it would have asked at a
    // borrowed console: the command line was then not one that can run.
    bool NeededTheCompanion() const { return neededCompanion_; }
    // Writes the messages held back from standard error (the command did
    // not succeed).
    void SayHeldBack();
    // Takes over what a command run for one part of this one recorded: its
    // changes, changes not done and messages (its text lines are written).
    void Absorb(CommandRun& part);

    // One change as the document lists it.
    struct ChangeEntry {
        std::wstring text;
        std::wstring target;
        std::wstring field;      // empty: only the text
        std::wstring before;
        std::wstring after;
        bool secret = false;     // values never shown
    };

    const std::vector<std::wstring>& Messages() const { return messages_; }
    const std::vector<ChangeEntry>& Changes() const { return changes_; }
    const std::vector<std::wstring>& NotDoneChanges() const { return notDone_; }

private:
    const CommandConsole& console_;
    const ParsedCommand& parsed_;
    JsonWriter json_;
    std::vector<std::wstring> messages_;
    std::vector<ChangeEntry> changes_;
    // Messages held back from a standard error that is no console: said
    // only when the command does not succeed, since a script's engine may
    // take any word there for a failure.
    std::vector<std::wstring> heldBack_;
    std::vector<std::wstring> notDone_;
    bool neededCompanion_ = false;
    bool elevated_ = true;
    unsigned verbFlags_ = kReadsOnly;
    std::vector<std::wstring> leftOut_;

    void Record(ChangeEntry entry);

    // Says once that a borrowed console is never asked; false.
    bool RefuseBorrowedConsole();
};

// One verb: its syntax (with what it does beyond reading), a line of
// help, and the function that runs it.
struct CommandVerb {
    CommandSyntax syntax;
    const wchar_t* summary;
    int (*run)(CommandRun& run);
};
// The verb table (app/command_verbs.cpp); adding a verb is one row and one function.
extern const CommandVerb kCommandVerbs[];
extern const size_t kCommandVerbCount;

// The help text: every verb, the common options and the exit codes.
std::wstring CommandHelpText();

// Runs the verb; an exception that leaves it ends the command with
// kExitFailed and a message, never as a success or a refusal.
int RunVerbGuarded(CommandRun& run, int (*verb)(CommandRun&));

// From here on an abort, an exception nothing catches or a crash ends the
// process with kExitFailed, saying so on `err` (not owned; may be none).
void EndFaultsWithFailure(HANDLE err);

// --csv and --json asked for together: false, having said to choose.
bool CsvOrJsonChosen(CommandRun& run);
// A table as CSV, as a spreadsheet reads it: the byte-order mark, the
// header, then a line a row.
void WriteCsvTable(CommandRun& run, const std::vector<std::wstring>& header,
                   const std::vector<std::vector<std::wstring>>& rows);

// Writes text to a standard handle: UTF-16 to a console, UTF-8 elsewhere.
void WriteStandard(HANDLE handle, bool console, const std::wstring& text);
