#include "app/command_mode.h"

#include <io.h>

#include <csignal>
#include <exception>

#include "accounts/lookup.h"
#include "accounts/passwords.h"
#include "platform/text.h"
#include "ui/secret_text.h"

namespace {

bool IsConsoleHandle(HANDLE handle)
{
    DWORD mode = 0;
    return handle != nullptr && handle != INVALID_HANDLE_VALUE && GetConsoleMode(handle, &mode) != FALSE;
}

bool Usable(HANDLE handle)
{
    return handle != nullptr && handle != INVALID_HANDLE_VALUE;
}

// Handles a starter handed over are taken as they are: a closed standard
// input stays closed, so that nobody is asked. Only a start with none of
// the three (from cmd or PowerShell, not through the companion) attaches to
// the parent's console and uses it for all three.
CommandConsole TakeStandardHandles()
{
    CommandConsole console;
    console.out = GetStdHandle(STD_OUTPUT_HANDLE);
    console.err = GetStdHandle(STD_ERROR_HANDLE);
    console.in = GetStdHandle(STD_INPUT_HANDLE);
    if (!Usable(console.out) && !Usable(console.err) && !Usable(console.in) &&
        AttachConsole(ATTACH_PARENT_PROCESS)) {
        const DWORD access = GENERIC_READ | GENERIC_WRITE;
        const DWORD share = FILE_SHARE_READ | FILE_SHARE_WRITE;
        // These stay open for the life of the process, as standard handles do.
        console.out = CreateFileW(L"CONOUT$", access, share, nullptr, OPEN_EXISTING, 0, nullptr);
        console.err = console.out;
        console.in = CreateFileW(L"CONIN$", access, share, nullptr, OPEN_EXISTING, 0, nullptr);
        console.borrowed = true;
    }
    console.outIsConsole = IsConsoleHandle(console.out);
    console.errIsConsole = IsConsoleHandle(console.err);
    console.inIsConsole = IsConsoleHandle(console.in);
    return console;
}

const wchar_t* ExitName(int code)
{
    static const wchar_t* const kNames[] = {L"done",   L"found",           L"usage",           L"refused",
                                            L"failed", L"needs-elevation", L"no-such-account"};
    if (code == kExitRestartNeeded)
        return L"restart-needed";
    return code >= 0 && code < 7 ? kNames[code] : L"failed";
}

// One JSON document for the whole command: what the verb added, then the
// common members.
std::string FinishDocument(CommandRun& run, const wchar_t* command, int exitCode)
{
    JsonWriter json;
    json.BeginObject().Field("schemaVersion", kCommandSchemaVersion).Field("command", command);
    json.Field("exitCode", exitCode).Field("result", ExitName(exitCode));
    // With --dry-run: whether the command would change anything.
    json.Field("dryRun", run.DryRun()).Field("changed", !run.Changes().empty());
    json.Key("changes").BeginArray();
    for (const CommandRun::ChangeEntry& change : run.Changes()) {
        json.BeginObject().Field("text", change.text);
        if (!change.field.empty()) {
            json.Field("target", change.target).Field("field", change.field);
            if (!change.secret)
                json.Field("old", change.before).Field("new", change.after);
        }
        json.EndObject();
    }
    json.EndArray().Key("notDone").BeginArray();
    for (const std::wstring& change : run.NotDoneChanges())
        json.String(change);
    json.EndArray();
    if (!run.LeftOut().empty()) {
        json.Key("leftOut").BeginArray();
        for (const std::wstring& fact : run.LeftOut())
            json.String(fact);
        json.EndArray();
    }
    json.Key("messages").BeginArray();
    for (const std::wstring& message : run.Messages())
        json.String(message);
    json.EndArray();
    std::string text = json.Text();
    const std::string body = run.Document().Text().substr(1);
    if (!body.empty()) {
        text.push_back(',');
        text += body;
    }
    text += "}\n";
    return text;
}

void WriteBytes(HANDLE handle, const std::string& bytes)
{
    size_t done = 0;
    while (done < bytes.size()) {
        DWORD written = 0;
        const DWORD chunk = static_cast<DWORD>(bytes.size() - done > 65536 ? 65536 : bytes.size() - done);
        if (!WriteFile(handle, bytes.data() + done, chunk, &written, nullptr) || written == 0)
            return;
        done += written;
    }
}

// Where a fault's last words go: the standard error of the command.
HANDLE g_faultOutput = nullptr;   // not owned

// A fault ends the command with the failure code and says so. Without this
// the C runtime ends an abort with 3, which reads as a guard's refusal after
// which nothing was changed, and the fault may have struck half-way.
[[noreturn]] void EndByFault()
{
    static const char kText[] =
        "the command ended by an internal fault; it may be partly done: check what it was to change\r\n";
    DWORD written = 0;
    if (Usable(g_faultOutput))
        WriteFile(g_faultOutput, kText, sizeof(kText) - 1, &written, nullptr);
    TerminateProcess(GetCurrentProcess(), kExitFailed);
    _exit(kExitFailed);
}

void OnAbortSignal(int)
{
    EndByFault();
}

LONG WINAPI OnUnhandledFault(EXCEPTION_POINTERS*)
{
    EndByFault();
}

}  // namespace

void EndFaultsWithFailure(HANDLE err)
{
    g_faultOutput = err;
    std::signal(SIGABRT, OnAbortSignal);
    std::set_terminate(EndByFault);
    SetUnhandledExceptionFilter(OnUnhandledFault);
}

int RunVerbGuarded(CommandRun& run, int (*verb)(CommandRun&))
{
    try {
        return verb(run);
    } catch (const std::exception& fault) {
        // The runtime's own texts ("std::bad_alloc") are plain ASCII.
        const std::string what = fault.what();
        run.Say(L"the command failed (" + std::wstring(what.begin(), what.end()) +
                L"); it may be partly done (only the changes listed were made)");
    } catch (...) {
        run.Say(L"the command failed by an internal fault; it may be partly done (only the changes listed were "
                L"made)");
    }
    return kExitFailed;
}

void WriteStandard(HANDLE handle, bool console, const std::wstring& text)
{
    if (!Usable(handle) || text.empty())
        return;
    if (console) {
        DWORD written = 0;
        WriteConsoleW(handle, text.c_str(), static_cast<DWORD>(text.size()), &written, nullptr);
        return;
    }
    WriteBytes(handle, ToUtf8(text.c_str()));
}

void CommandRun::Line(const std::wstring& text)
{
    if (!Json())
        WriteStandard(console_.out, console_.outIsConsole, text + L"\r\n");
}

void CommandRun::Say(const std::wstring& text)
{
    messages_.push_back(text);
    // The set-up's and the operations' messages are written for a message
    // box, in paragraphs: on the one line of standard error a paragraph break
    // is a space. Any other control character is shown escaped.
    std::wstring line;
    line.reserve(text.size());
    for (wchar_t c : text) {
        if (c == L'\r' || c == L'\n') {
            if (!line.empty() && line.back() != L' ')
                line.push_back(L' ');
        } else {
            line.push_back(c);
        }
    }
    line = std::wstring(EscapeControls(line.c_str()).Text()) + L"\r\n";
    if (console_.errIsConsole || parsed_.verbose)
        WriteStandard(console_.err, console_.errIsConsole, line);
    else
        heldBack_.push_back(line);
}

void CommandRun::SayHeldBack()
{
    std::wstring text;
    for (const std::wstring& line : heldBack_)
        text += line;
    heldBack_.clear();
    WriteStandard(console_.err, console_.errIsConsole, text);
}

void CommandRun::LeaveOut(const wchar_t* fact, const wchar_t* why)
{
    leftOut_.push_back(fact);
    Say(std::wstring(L"left out without elevation: ") + why);
}

void CommandRun::Absorb(CommandRun& part)
{
    messages_.insert(messages_.end(), part.messages_.begin(), part.messages_.end());
    changes_.insert(changes_.end(), part.changes_.begin(), part.changes_.end());
    notDone_.insert(notDone_.end(), part.notDone_.begin(), part.notDone_.end());
    heldBack_.insert(heldBack_.end(), part.heldBack_.begin(), part.heldBack_.end());
    part.heldBack_.clear();
    neededCompanion_ = neededCompanion_ || part.neededCompanion_;
}

void CommandRun::Record(ChangeEntry entry)
{
    if (!Json())
        WriteStandard(console_.out, console_.outIsConsole,
                      (DryRun() ? L"would: " : L"done: ") + std::wstring(EscapeControls(entry.text.c_str()).Text()) +
                          L"\r\n");
    changes_.push_back(std::move(entry));
}

void CommandRun::Change(const std::wstring& text)
{
    Record(ChangeEntry{text, L"", L"", L"", L"", false});
}

void CommandRun::Change(const std::wstring& text, const std::wstring& target, const wchar_t* field,
                        const std::wstring& before, const std::wstring& after)
{
    Record(ChangeEntry{text, target, field, before, after, false});
}

void CommandRun::SecretChange(const std::wstring& text, const std::wstring& target, const wchar_t* field)
{
    Record(ChangeEntry{text, target, field, L"", L"", true});
}

void CommandRun::NotDone(const std::wstring& text)
{
    notDone_.push_back(text);
    Say(L"not done: " + text);
}

void CommandRun::Progress(const std::wstring& text)
{
    if (console_.errIsConsole || parsed_.verbose)
        WriteStandard(console_.err, console_.errIsConsole, text + L"\r\n");
}

bool CommandRun::RefuseBorrowedConsole()
{
    if (!neededCompanion_)
        Say(L"this console belongs to the program that started vantrell.exe, which reads the same keys: run "
            L"\"vantrell\" (vantrell.com) to be asked, or give --yes and a password on standard input; nothing was "
            L"changed");
    neededCompanion_ = true;
    return false;
}

bool CommandRun::HasConsoleInput()
{
    if (console_.borrowed)
        return RefuseBorrowedConsole();
    return console_.inIsConsole;
}

bool CommandRun::ReadSecret(SecretText& secret, const wchar_t* prompt, bool confirm)
{
    if (console_.borrowed)
        return RefuseBorrowedConsole();
    if (!Usable(console_.in)) {
        Say(L"no password: standard input is closed");
        return false;
    }
    SecretLine read = SecretLine::Ended;
    if (!console_.inIsConsole) {
        read = secret.ReadLine(console_.in, false);
    } else {
        DWORD mode = 0;
        GetConsoleMode(console_.in, &mode);
        // Typed without echo: nobody behind the operator reads it off the screen.
        SetConsoleMode(console_.in, (mode | ENABLE_LINE_INPUT | ENABLE_PROCESSED_INPUT) & ~ENABLE_ECHO_INPUT);
        WriteStandard(console_.err, console_.errIsConsole, prompt);
        read = secret.ReadLine(console_.in, true);
        WriteStandard(console_.err, console_.errIsConsole, L"\r\n");
        if (read == SecretLine::Read && confirm) {
            SecretText again;
            WriteStandard(console_.err, console_.errIsConsole, L"Type it again: ");
            const SecretLine second = again.ReadLine(console_.in, true);
            WriteStandard(console_.err, console_.errIsConsole, L"\r\n");
            if (second == SecretLine::Read && CompareText(secret.Text(), again.Text(), true) != 0) {
                SetConsoleMode(console_.in, mode);
                secret.Wipe();
                Say(L"the two passwords are not equal");
                return false;
            }
            read = second;
        }
        SetConsoleMode(console_.in, mode);
    }
    // Never cut short: a password the account could not take is refused
    // whole rather than set as a part of it, or as nothing.
    if (read == SecretLine::Read && secret.Length() > kLongestPassword)
        read = SecretLine::TooLong;
    if (read == SecretLine::Read)
        return true;
    secret.Wipe();
    switch (read) {
    case SecretLine::TooLong:
        Say(L"the password is longer than " + std::to_wstring(kLongestPassword) +
            L" characters, the most a Windows account takes; nothing was changed");
        break;
    case SecretLine::NotText:
        Say(L"the password on standard input is not UTF-8 text; nothing was changed");
        break;
    default:
        Say(console_.inIsConsole ? L"no password was typed"
                                 : L"no password: standard input ended before a line could be read");
        break;
    }
    return false;
}

bool CommandRun::ReadSecretIfGiven(SecretText& secret, bool& given)
{
    given = false;
    if (console_.borrowed || console_.inIsConsole || !Usable(console_.in))
        return true;
    SecretLine read = secret.ReadLine(console_.in, false);
    if (read == SecretLine::Read && secret.Length() > kLongestPassword)
        read = SecretLine::TooLong;
    switch (read) {
    case SecretLine::Read:
        given = true;
        return true;
    case SecretLine::TooLong:
        secret.Wipe();
        Say(L"the password is longer than " + std::to_wstring(kLongestPassword) +
            L" characters, the most a Windows account takes; nothing was changed");
        return false;
    case SecretLine::NotText:
        secret.Wipe();
        Say(L"the password on standard input is not UTF-8 text; nothing was changed");
        return false;
    default:
        secret.Wipe();
        return true;
    }
}

bool CsvOrJsonChosen(CommandRun& run)
{
    if (!run.Parsed().Has(L"--csv") || !run.Json())
        return true;
    run.Say(L"choose one of --csv and --json");
    return false;
}

void WriteCsvTable(CommandRun& run, const std::vector<std::wstring>& header,
                   const std::vector<std::vector<std::wstring>>& rows)
{
    // A spreadsheet reads UTF-8 as such only behind the mark.
    std::wstring text = L"\xFEFF" + CsvLine(header);
    for (const std::vector<std::wstring>& row : rows)
        text += CsvLine(row);
    run.Line(text.substr(0, text.size() - 2));
}

bool CommandRun::Ask(const wchar_t* question)
{
    if (console_.borrowed)
        return RefuseBorrowedConsole();
    if (!console_.inIsConsole)
        return false;
    WriteStandard(console_.err, console_.errIsConsole, std::wstring(question) + L" [y/N] ");
    wchar_t answer[16] = {};
    DWORD read = 0;
    if (!ReadConsoleW(console_.in, answer, ARRAYSIZE(answer) - 1, &read, nullptr))
        return false;
    return read > 0 && (answer[0] == L'y' || answer[0] == L'Y');
}

bool CommandRun::CanConfirm(const std::wstring& what)
{
    if (!(verbFlags_ & kAsksFirst)) {
        // Only a verb that takes --yes may ask: one that does not would
        // wait for an answer a script can never give.
        Say(L"the command would ask without taking --yes (a fault of this program); nothing was changed");
        return false;
    }
    if (parsed_.dryRun || parsed_.yes || HasConsoleInput())
        return true;
    Say(what + L" needs --yes when no console can answer; nothing was changed");
    return false;
}

bool CommandRun::Confirmed(const std::wstring& what, const std::wstring& question, const wchar_t* declined)
{
    if (!CanConfirm(what))
        return false;
    if (parsed_.dryRun || parsed_.yes || Ask(question.c_str()))
        return true;
    Say(declined);
    return false;
}

std::wstring CommandHelpText()
{
    std::wstring text =
        L"Usage: vantrell COMMAND [ARGUMENTS] [OPTIONS]\r\n"
        L"Without a command the account manager's window opens.\r\n\r\nCommands:\r\n";
    for (size_t i = 0; i < kCommandVerbCount; ++i) {
        const CommandVerb& verb = kCommandVerbs[i];
        std::wstring line = L"  " + std::wstring(verb.syntax.words);
        if (verb.syntax.arguments[0] != L'\0')
            line += L" " + std::wstring(verb.syntax.arguments);
        for (size_t o = 0; o < verb.syntax.optionCount; ++o) {
            const CommandOption& option = verb.syntax.options[o];
            line += L" [" + std::wstring(option.name);
            if (option.takesValue)
                line += L" " + std::wstring(option.choices != nullptr ? option.choices : L"VALUE");
            line += L"]";
        }
        if (verb.syntax.Has(kAsksFirst))
            line += L" [--yes]";
        if (verb.syntax.Has(kChangesMachine))
            line += L" [--dry-run]";
        text += line + L"\r\n      " + verb.summary + L"\r\n";
    }
    text += L"\r\nEvery command takes --json (one JSON document on standard output, in ASCII with\r\n"
            L"every other character escaped, and with its schemaVersion), --verbose (messages\r\n"
            L"on standard error also on success) and --help. Commands are read in any letter case.\r\n"
            L"Text goes to a console as it is; to a pipe or a file it is UTF-8 (--csv with a\r\n"
            L"byte-order mark). Standard error says nothing on success unless it is a console.\r\n"
            L"--dry-run prints each change a command would make and changes nothing.\r\n"
            L"list, show, autologon status, repair status, doctor (without --fix), version and\r\n"
            L"help run without elevation, leaving out (and naming, in JSON's leftOut) what only\r\n"
            L"an administrator may read; every change needs elevation (exit 5).\r\n"
            L"A command that destroys something asks at a console; without one it needs --yes.\r\n"
            L"Passwords are read from standard input (one line) or typed without echo, never\r\n"
            L"taken from the command line.\r\n\r\nExit codes:\r\n";
    for (const CommandExitEntry& exit : kCommandExits)
        text += L"  " + std::to_wstring(exit.code) + L"  " + exit.meaning + L"\r\n";
    return text;
}

namespace {

std::vector<CommandSyntax> VerbSyntaxTable()
{
    std::vector<CommandSyntax> table;
    for (size_t i = 0; i < kCommandVerbCount; ++i)
        table.push_back(kCommandVerbs[i].syntax);
    return table;
}

// Whether anyone can read an answer: standard handles handed over, or a
// console of the parent's to attach to (left again here: the command mode
// attaches for good).
bool HasSomewhereToAnswer()
{
    for (DWORD which : {STD_INPUT_HANDLE, STD_OUTPUT_HANDLE, STD_ERROR_HANDLE})
        if (Usable(GetStdHandle(which)))
            return true;
    if (!AttachConsole(ATTACH_PARENT_PROCESS))
        return false;
    FreeConsole();
    return true;
}

// Every argument a verb's syntax calls NAME may be given as a SID or a RID
// of this computer: each is turned into the account's name here, once, so
// that every verb and its output deal in names. False, having said so, when
// one names no account; `absentDeleted` then says whether that was a delete
// of an account already gone (its RID or this computer's SID of it), which
// is done, as a delete by a name nobody has is.
bool ResolveAccountArguments(CommandRun& run, ParsedCommand& parsed, bool& absentDeleted)
{
    absentDeleted = false;
    std::wstring words = kCommandVerbs[parsed.verb].syntax.arguments;
    size_t index = 0;
    for (size_t at = 0; at < words.size() && index < parsed.arguments.size(); ++index) {
        size_t end = words.find(L' ', at);
        if (end == std::wstring::npos)
            end = words.size();
        std::wstring& argument = parsed.arguments[index];
        WString name;
        if (words.compare(at, end - at, L"NAME") == 0) {
            switch (ResolveAccountReference(argument.c_str(), name)) {
            case AccountReference::Name: break;
            case AccountReference::Found: argument = name.Text(); break;
            case AccountReference::Absent:
                if (std::wstring(kCommandVerbs[parsed.verb].syntax.words) == L"delete") {
                    run.Say(L"no local account has the SID or RID \"" + argument + L"\"; nothing to delete");
                    absentDeleted = true;
                    return false;
                }
                [[fallthrough]];
            case AccountReference::NotFound:
                run.Say(L"no such account: no local account has the SID or RID \"" + argument + L"\"");
                return false;
            }
        }
        at = end + 1;
    }
    return true;
}

}  // namespace

bool IsCommandLine(int count, const wchar_t* const* arguments)
{
    const std::vector<CommandSyntax> table = VerbSyntaxTable();
    switch (ClassifyCommandLine(count, arguments, table.data(), table.size())) {
    case LineKind::Command: return true;
    case LineKind::Unknown: return HasSomewhereToAnswer();
    case LineKind::Window: break;
    }
    return false;
}

int RunCommandMode(int count, const wchar_t* const* arguments, bool (*isElevated)())
{
    const CommandConsole console = TakeStandardHandles();
    EndFaultsWithFailure(console.err);
    const std::vector<CommandSyntax> table = VerbSyntaxTable();
    ParsedCommand parsed;
    const bool understood = ParseCommand(count, arguments, table.data(), table.size(), parsed);
    CommandRun run(console, parsed);
    const wchar_t* command = parsed.verb >= 0 ? kCommandVerbs[parsed.verb].syntax.words : L"";
    int exitCode = kExitDone;
    if (understood)
        run.SetVerbFlags(kCommandVerbs[parsed.verb].syntax.flags);
    if (!understood) {
        run.Say(parsed.error);
        exitCode = kExitUsage;
    } else if (parsed.help) {
        const CommandVerb& verb = kCommandVerbs[parsed.verb];
        std::wstring text = CommandHelpText();
        std::wstring heading = L"  " + std::wstring(verb.syntax.words);
        size_t at = text.find(L"\r\n" + heading);
        size_t end = at == std::wstring::npos ? at : text.find(L"\r\n  ", at + 2);
        run.Line(at == std::wstring::npos ? text : text.substr(at + 2, end - at - 2));
        if (parsed.json)
            run.Document().Field("help", verb.summary);
    } else if (run.SetElevated(isElevated()), kCommandVerbs[parsed.verb].syntax.Has(kNeedsElevation) && !run.Elevated()) {
        run.Say(L"this command needs an elevated administrator: run it from an elevated prompt (\"Run as "
                L"administrator\"); nothing was done");
        exitCode = kExitNeedsElevation;
    } else {
        // The multithreaded apartment needs no hidden window: one of the
        // single-threaded kind connects to the display, and under Wine
        // starts the desktop. Only a verb that works on the machine joins
        // it, so that the help answers as fast as a console program.
        const std::wstring words = kCommandVerbs[parsed.verb].syntax.words;
        const bool joinCom = words != L"help" && words != L"version";
        const HRESULT com = joinCom ? CoInitializeEx(nullptr, COINIT_MULTITHREADED) : E_FAIL;
        bool absentDeleted = false;
        exitCode = ResolveAccountArguments(run, parsed, absentDeleted) ? RunVerbGuarded(run, kCommandVerbs[parsed.verb].run)
                   : absentDeleted                                     ? kExitDone
                                                                       : kExitNoSuchAccount;
        if (run.NeededTheCompanion() && (exitCode == kExitRefused || exitCode == kExitUsage))
            exitCode = kExitUsage;
        if (SUCCEEDED(com))
            CoUninitialize();
    }
    if (exitCode != kExitDone && exitCode != kExitRestartNeeded)
        run.SayHeldBack();
    if (parsed.json)
        WriteBytes(console.out, FinishDocument(run, command, exitCode));
    return exitCode;
}
