// A command line split into its arguments, the way a program's start-up
// code splits it, without the shell's library: a command must start as
// fast as a console program, and that library brings half the desktop.
#pragma once

#include <string>
#include <vector>

// Arguments are separated by spaces and tabs outside double quotes. A
// double quote opens or closes a quoted part of an argument (and is not kept;
// "" inside a quoted part is one literal quote). Backslashes are literal
// unless they run up to a double quote: then each pair gives one backslash,
// and an odd one left over makes that quote literal. The line given to a
// program's entry point holds no program name, so every word is split alike.
class ArgumentList {
public:
    explicit ArgumentList(const wchar_t* commandLine);
    ArgumentList(const ArgumentList&) = delete;
    ArgumentList& operator=(const ArgumentList&) = delete;

    int Count() const { return static_cast<int>(words_.size()); }
    // Count() texts, valid as long as the list.
    const wchar_t* const* Data() const { return pointers_.data(); }

private:
    std::vector<std::wstring> words_;
    std::vector<const wchar_t*> pointers_;
};

// One argument written so that ArgumentList (and the system's own splitter)
// reads it back as exactly this word: quoted when it is empty or holds a
// blank or a quote, each quote escaped, and the backslashes before a quote
// or the closing quote doubled.
std::wstring QuoteArgument(const std::wstring& word);
