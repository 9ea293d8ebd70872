#include "app/command_rules.h"

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <cwchar>
#include <iterator>

#include "accounts/detail_rules.h"
#include "accounts/password_policy_rules.h"
#include "app/account_setting_rules.h"
#include "platform/text.h"

const CommandExitEntry kCommandExits[8] = {
    {kExitDone, L"done (for a check: nothing found)"},
    {kExitFound, L"a check found something to mend"},
    {kExitUsage, L"the command line makes no sense, --yes was needed or the question was declined; nothing was done"},
    {kExitRefused, L"refused by a guard, with the reason on standard error; nothing was changed"},
    {kExitFailed, L"failed or partly done; standard error says what was and was not done"},
    {kExitNeedsElevation, L"needs an elevated administrator; nothing was done"},
    {kExitNoSuchAccount, L"no such account; nothing was changed"},
    {kExitRestartNeeded, L"done; the computer must restart for it to take effect"},
};

namespace {

// Letter case folded for A to Z only, as account names are compared.
bool SameWord(const std::wstring& a, const wchar_t* b)
{
    return EqualsNoCase(a.c_str(), b);
}

// The table's words of a verb split at blanks.
std::vector<std::wstring> Words(const wchar_t* words)
{
    std::vector<std::wstring> list;
    std::wstring current;
    for (const wchar_t* p = words; p != nullptr && *p != L'\0'; ++p) {
        if (*p == L' ') {
            if (!current.empty())
                list.push_back(current);
            current.clear();
        } else {
            current.push_back(*p);
        }
    }
    if (!current.empty())
        list.push_back(current);
    return list;
}

const CommandOption* FindOption(const CommandSyntax& syntax, const std::wstring& name)
{
    for (size_t i = 0; i < syntax.optionCount; ++i)
        if (name == syntax.options[i].name)
            return &syntax.options[i];
    return nullptr;
}

const wchar_t kUsageLine[] = L"usage: vantrell COMMAND [ARGUMENTS] [OPTIONS]; \"vantrell help\" lists the commands";

bool IsHelpSwitch(const wchar_t* argument)
{
    for (const wchar_t* spelling : {L"--help", L"-h", L"-?", L"/?", L"/help"})
        if (SameWord(spelling, argument))
            return true;
    return false;
}

bool Refuse(ParsedCommand& parsed, const std::wstring& error)
{
    parsed.error = error;
    return false;
}

}  // namespace

bool InChoices(const wchar_t* choices, const std::wstring& value)
{
    std::wstring all(choices);
    size_t start = 0;
    for (;;) {
        size_t bar = all.find(L'|', start);
        if (all.compare(start, bar == std::wstring::npos ? std::wstring::npos : bar - start, value) == 0 &&
            (bar == std::wstring::npos ? all.size() - start : bar - start) == value.size())
            return true;
        if (bar == std::wstring::npos)
            return false;
        start = bar + 1;
    }
}

bool ParsedCommand::Has(const wchar_t* option) const
{
    for (const auto& pair : options)
        if (pair.first == option)
            return true;
    return false;
}

const wchar_t* ParsedCommand::Value(const wchar_t* option, const wchar_t* fallback) const
{
    for (const auto& pair : options)
        if (pair.first == option)
            return pair.second.c_str();
    return fallback;
}

int MatchVerb(int count, const wchar_t* const* arguments, const CommandSyntax* table, size_t rows, int* consumed)
{
    int best = -1;
    int bestWords = 0;
    for (size_t row = 0; row < rows; ++row) {
        std::vector<std::wstring> words = Words(table[row].words);
        if (words.empty() || static_cast<int>(words.size()) > count || static_cast<int>(words.size()) <= bestWords)
            continue;
        bool all = true;
        for (size_t i = 0; i < words.size() && all; ++i)
            all = arguments[i] != nullptr && SameWord(words[i], arguments[i]);
        if (all) {
            best = static_cast<int>(row);
            bestWords = static_cast<int>(words.size());
        }
    }
    if (consumed != nullptr)
        *consumed = bestWords;
    return best;
}

bool LooksLikePasswordArgument(const wchar_t* argument)
{
    if (argument == nullptr)
        return false;
    std::wstring text(argument);
    for (wchar_t& c : text)
        if (c >= L'A' && c <= L'Z')
            c = static_cast<wchar_t>(c - L'A' + L'a');
    if (text == L"--password-stdin")
        return false;
    for (const wchar_t* prefix : {L"--password", L"-password", L"/password", L"--pass", L"--pwd", L"/pwd"}) {
        const size_t length = std::wcslen(prefix);
        if (text.compare(0, length, prefix) == 0 &&
            (text.size() == length || text[length] == L'=' || text[length] == L':'))
            return true;
    }
    return text == L"-p" || text == L"/p" || text.compare(0, 3, L"/p:") == 0;
}

LineKind ClassifyCommandLine(int count, const wchar_t* const* arguments, const CommandSyntax* table, size_t rows)
{
    if (count < 1 || arguments == nullptr || arguments[0] == nullptr || arguments[0][0] == L'\0')
        return LineKind::Window;
    if (arguments[0][0] == L'/' && !IsHelpSwitch(arguments[0]))
        return LineKind::Window;
    int first = 0;
    while (first < count && arguments[first] != nullptr &&
           (std::wcscmp(arguments[first], L"--json") == 0 || std::wcscmp(arguments[first], L"--verbose") == 0))
        ++first;
    if (first < count && arguments[first] != nullptr && IsHelpSwitch(arguments[first]))
        return LineKind::Command;
    return MatchVerb(count - first, arguments + first, table, rows, nullptr) >= 0 ? LineKind::Command
                                                                                  : LineKind::Unknown;
}

bool ParseCommand(int count, const wchar_t* const* arguments, const CommandSyntax* table, size_t rows,
                  ParsedCommand& parsed)
{
    parsed = ParsedCommand();
    // Read first, so that a refusal below answers in the form asked for.
    for (int i = 0; i < count && arguments[i] != nullptr && std::wcscmp(arguments[i], L"--") != 0; ++i) {
        parsed.json = parsed.json || std::wcscmp(arguments[i], L"--json") == 0;
        parsed.verbose = parsed.verbose || std::wcscmp(arguments[i], L"--verbose") == 0;
    }
    // Those two may also stand before the verb; a help switch alone is the
    // verb "help", and before a verb asks for that verb's help.
    std::vector<const wchar_t*> line;
    bool helpFirst = false;
    for (int i = 0; i < count; ++i) {
        const wchar_t* argument = arguments[i] != nullptr ? arguments[i] : L"";
        if (line.empty() && (std::wcscmp(argument, L"--json") == 0 || std::wcscmp(argument, L"--verbose") == 0))
            continue;
        if (line.empty() && !helpFirst && IsHelpSwitch(argument)) {
            helpFirst = true;
            continue;
        }
        line.push_back(argument);
    }
    if (helpFirst && line.empty())
        line.push_back(L"help");
    else if (helpFirst)
        line.push_back(L"--help");
    count = static_cast<int>(line.size());
    arguments = line.data();
    for (int i = 0; i < count; ++i) {
        if (LooksLikePasswordArgument(arguments[i]))
            return Refuse(parsed, L"a password is never taken from the command line, which every process of this "
                                  L"computer can read: give it on standard input (--password-stdin) or type it "
                                  L"when asked");
    }
    int consumed = 0;
    parsed.verb = MatchVerb(count, arguments, table, rows, &consumed);
    if (parsed.verb < 0)
        return Refuse(parsed, count > 0 && arguments[0] != nullptr
                                  ? L"unknown command \"" + std::wstring(arguments[0]) + L"\"; " + kUsageLine
                                  : L"no command given; " + std::wstring(kUsageLine));
    const CommandSyntax& syntax = table[parsed.verb];
    const std::wstring verbName(syntax.words);

    bool optionsEnded = false;
    for (int i = consumed; i < count; ++i) {
        std::wstring argument(arguments[i] != nullptr ? arguments[i] : L"");
        if (optionsEnded || argument.size() < 3 || argument.compare(0, 2, L"--") != 0) {
            if (argument == L"--") {
                optionsEnded = true;
                continue;
            }
            parsed.arguments.push_back(argument);
            continue;
        }
        std::wstring name = argument;
        std::wstring value;
        bool hasValue = false;
        const size_t equals = argument.find(L'=');
        if (equals != std::wstring::npos) {
            name = argument.substr(0, equals);
            value = argument.substr(equals + 1);
            hasValue = true;
        }
        bool common = true;
        if (name == L"--json")
            parsed.json = true;
        else if (name == L"--help")
            parsed.help = true;
        else if (name == L"--verbose")
            parsed.verbose = true;
        else if (name == L"--dry-run" && syntax.Has(kChangesMachine))
            parsed.dryRun = true;
        else if (name == L"--yes" && syntax.Has(kAsksFirst))
            parsed.yes = true;
        else
            common = false;
        if (common) {
            if (hasValue)
                return Refuse(parsed, name + L" takes no value");
            continue;
        }
        const CommandOption* option = FindOption(syntax, name);
        if (option == nullptr)
            return Refuse(parsed, L"\"" + verbName + L"\" takes no option " + name);
        if (option->takesValue && !hasValue) {
            if (i + 1 >= count || arguments[i + 1] == nullptr)
                return Refuse(parsed, name + L" needs a value");
            value = arguments[++i];
        } else if (!option->takesValue && hasValue) {
            return Refuse(parsed, name + L" takes no value");
        }
        if (option->choices != nullptr && !InChoices(option->choices, value))
            return Refuse(parsed, name + L" takes one of " + option->choices + L", not \"" + value + L"\"");
        if (parsed.Has(name.c_str()))
            return Refuse(parsed, name + L" is given twice");
        parsed.options.emplace_back(name, value);
    }
    if (parsed.help)
        return true;   // the verb's help needs no arguments
    const int given = static_cast<int>(parsed.arguments.size());
    if (given < syntax.minArguments || given > syntax.maxArguments)
        return Refuse(parsed, L"usage: " + verbName + (syntax.arguments[0] != L'\0' ? L" " : L"") +
                                  syntax.arguments);
    return true;
}
