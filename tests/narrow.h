// UTF-8 of a wide text, for the tests' comparisons and failure messages, in
// both builds whatever the width of wchar_t. No Windows header.
#pragma once

#include <cstdint>
#include <string>

inline std::string Narrow(const wchar_t* text, size_t count)
{
    std::string narrow;
    for (size_t i = 0; i < count; ++i) {
        uint32_t unit = static_cast<uint32_t>(text[i]);
        // A surrogate pair of a 16-bit wchar_t is one character.
        if (unit >= 0xD800 && unit < 0xDC00 && i + 1 < count) {
            uint32_t low = static_cast<uint32_t>(text[i + 1]);
            if (low >= 0xDC00 && low < 0xE000) {
                unit = 0x10000 + ((unit - 0xD800) << 10) + (low - 0xDC00);
                ++i;
            }
        }
        if (unit < 0x80) {
            narrow += static_cast<char>(unit);
        } else if (unit < 0x800) {
            narrow += static_cast<char>(0xC0 | (unit >> 6));
            narrow += static_cast<char>(0x80 | (unit & 0x3F));
        } else if (unit < 0x10000) {
            narrow += static_cast<char>(0xE0 | (unit >> 12));
            narrow += static_cast<char>(0x80 | ((unit >> 6) & 0x3F));
            narrow += static_cast<char>(0x80 | (unit & 0x3F));
        } else {
            narrow += static_cast<char>(0xF0 | (unit >> 18));
            narrow += static_cast<char>(0x80 | ((unit >> 12) & 0x3F));
            narrow += static_cast<char>(0x80 | ((unit >> 6) & 0x3F));
            narrow += static_cast<char>(0x80 | (unit & 0x3F));
        }
    }
    return narrow;
}

// A null text reads as empty.
inline std::string Narrow(const wchar_t* text)
{
    size_t count = 0;
    while (text != nullptr && text[count] != L'\0')
        ++count;
    return Narrow(text, count);
}

inline std::string Narrow(const std::wstring& text) { return Narrow(text.data(), text.size()); }
