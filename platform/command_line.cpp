#include "platform/command_line.h"

#include <utility>

namespace {

bool IsBlank(wchar_t c)
{
    return c == L' ' || c == L'\t';
}

}  // namespace

ArgumentList::ArgumentList(const wchar_t* commandLine)
{
    const wchar_t* p = commandLine != nullptr ? commandLine : L"";
    for (;;) {
        while (IsBlank(*p))
            ++p;
        if (*p == L'\0')
            break;
        std::wstring word;
        bool quoted = false;
        while (*p != L'\0' && (quoted || !IsBlank(*p))) {
            if (*p == L'\\') {
                size_t backslashes = 0;
                while (*p == L'\\') {
                    ++backslashes;
                    ++p;
                }
                if (*p == L'"') {
                    word.append(backslashes / 2, L'\\');
                    if (backslashes % 2 == 1) {
                        word += L'"';
                        ++p;
                    }
                } else {
                    word.append(backslashes, L'\\');
                }
            } else if (*p == L'"') {
                ++p;
                if (quoted && *p == L'"') {
                    word += L'"';
                    ++p;
                } else {
                    quoted = !quoted;
                }
            } else {
                word += *p++;
            }
        }
        words_.push_back(std::move(word));
    }
    pointers_.reserve(words_.size() + 1);
    for (const std::wstring& word : words_)
        pointers_.push_back(word.c_str());
    pointers_.push_back(nullptr);
}

std::wstring QuoteArgument(const std::wstring& word)
{
    if (!word.empty() && word.find_first_of(L" \t\"") == std::wstring::npos)
        return word;
    std::wstring quoted(L"\"");
    size_t backslashes = 0;
    for (wchar_t c : word) {
        if (c == L'\\') {
            ++backslashes;
            continue;
        }
        // Backslashes count only before a quote: then each stands doubled.
        quoted.append(c == L'"' ? backslashes * 2 + 1 : backslashes, L'\\');
        backslashes = 0;
        quoted.push_back(c);
    }
    quoted.append(backslashes * 2, L'\\');
    quoted.push_back(L'"');
    return quoted;
}
