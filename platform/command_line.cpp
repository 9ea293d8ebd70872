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
