#include "app/json_writer.h"

#include <cwchar>

namespace {

void AppendUtf8(std::string& out, uint32_t code)
{
    if (code < 0x80) {
        out.push_back(static_cast<char>(code));
    } else if (code < 0x800) {
        out.push_back(static_cast<char>(0xC0 | (code >> 6)));
        out.push_back(static_cast<char>(0x80 | (code & 0x3F)));
    } else if (code < 0x10000) {
        out.push_back(static_cast<char>(0xE0 | (code >> 12)));
        out.push_back(static_cast<char>(0x80 | ((code >> 6) & 0x3F)));
        out.push_back(static_cast<char>(0x80 | (code & 0x3F)));
    } else {
        out.push_back(static_cast<char>(0xF0 | (code >> 18)));
        out.push_back(static_cast<char>(0x80 | ((code >> 12) & 0x3F)));
        out.push_back(static_cast<char>(0x80 | ((code >> 6) & 0x3F)));
        out.push_back(static_cast<char>(0x80 | (code & 0x3F)));
    }
}

// The next code point of `text` at `i` (advanced past it); an unpaired
// surrogate comes back as itself with `lone` set.
uint32_t NextCodePoint(const wchar_t* text, size_t& i, bool& lone)
{
    lone = false;
    uint32_t unit = static_cast<uint32_t>(text[i++]);
    if (unit >= 0xD800 && unit <= 0xDBFF) {
        uint32_t next = static_cast<uint32_t>(text[i]);
        if (next >= 0xDC00 && next <= 0xDFFF) {
            ++i;
            return 0x10000 + ((unit - 0xD800) << 10) + (next - 0xDC00);
        }
        lone = true;
    } else if (unit >= 0xDC00 && unit <= 0xDFFF) {
        lone = true;
    } else if (unit > 0x10FFFF) {
        lone = true;   // no code point at all (a 32-bit wchar_t can hold one)
        unit = 0xFFFD;
    }
    return unit;
}

void AppendEscape(std::string& out, uint32_t unit)
{
    static const char kHex[] = "0123456789abcdef";
    out += "\\u";
    for (int shift = 12; shift >= 0; shift -= 4)
        out.push_back(kHex[(unit >> shift) & 0xF]);
}

}  // namespace

void AppendJsonString(std::string& out, const wchar_t* text)
{
    out.push_back('"');
    for (size_t i = 0; text != nullptr && text[i] != L'\0';) {
        bool lone = false;
        uint32_t code = NextCodePoint(text, i, lone);
        if (lone) {
            // Kept as its own escape: the reader sees exactly what the system holds.
            AppendEscape(out, code);
            continue;
        }
        switch (code) {
        case '"': out += "\\\""; break;
        case '\\': out += "\\\\"; break;
        case '\b': out += "\\b"; break;
        case '\f': out += "\\f"; break;
        case '\n': out += "\\n"; break;
        case '\r': out += "\\r"; break;
        case '\t': out += "\\t"; break;
        default:
            if (code < 0x20 || code >= 0x7F) {
                // Beyond the basic plane: the pair of surrogates JSON spells it with.
                if (code >= 0x10000) {
                    AppendEscape(out, 0xD800 + ((code - 0x10000) >> 10));
                    code = 0xDC00 + ((code - 0x10000) & 0x3FF);
                }
                AppendEscape(out, code);
            } else {
                out.push_back(static_cast<char>(code));
            }
        }
    }
    out.push_back('"');
}

std::string ToUtf8(const wchar_t* text)
{
    std::string out;
    for (size_t i = 0; text != nullptr && text[i] != L'\0';) {
        bool lone = false;
        uint32_t code = NextCodePoint(text, i, lone);
        AppendUtf8(out, lone ? 0xFFFD : code);
    }
    return out;
}

void JsonWriter::Separate()
{
    if (afterKey_) {
        afterKey_ = false;
        return;
    }
    if (!first_.empty()) {
        if (!first_.back())
            text_.push_back(',');
        first_.back() = false;
    }
}

JsonWriter& JsonWriter::Open(char bracket)
{
    Separate();
    text_.push_back(bracket);
    first_.push_back(true);
    return *this;
}

JsonWriter& JsonWriter::Close(char bracket)
{
    text_.push_back(bracket);
    if (!first_.empty())
        first_.pop_back();
    return *this;
}

JsonWriter& JsonWriter::Key(const char* key)
{
    Separate();
    text_.push_back('"');
    text_ += key;   // the program's own names: plain ASCII
    text_ += "\":";
    afterKey_ = true;
    return *this;
}

JsonWriter& JsonWriter::String(const wchar_t* text)
{
    Separate();
    if (text == nullptr)
        text_ += "null";
    else
        AppendJsonString(text_, text);
    return *this;
}

JsonWriter& JsonWriter::Number(int64_t value)
{
    Separate();
    text_ += std::to_string(value);
    return *this;
}

JsonWriter& JsonWriter::Unsigned(uint64_t value)
{
    Separate();
    text_ += std::to_string(value);
    return *this;
}

JsonWriter& JsonWriter::Bool(bool value)
{
    Separate();
    text_ += value ? "true" : "false";
    return *this;
}

JsonWriter& JsonWriter::Null()
{
    Separate();
    text_ += "null";
    return *this;
}

std::wstring CsvField(const wchar_t* text)
{
    std::wstring value(text != nullptr ? text : L"");
    // A spreadsheet also takes a formula behind a leading tab or carriage return.
    const bool formula = !value.empty() && wcschr(L"=+-@\t\r", value[0]) != nullptr;
    bool quote = formula || (!value.empty() && (value.front() == L' ' || value.back() == L' '));
    for (wchar_t c : value)
        quote = quote || c == L',' || c == L'"' || c == L'\r' || c == L'\n';
    if (!quote)
        return value;
    std::wstring field(L"\"");
    if (formula)
        field.push_back(L'\'');
    for (wchar_t c : value) {
        if (c == L'"')
            field.push_back(L'"');
        field.push_back(c);
    }
    field.push_back(L'"');
    return field;
}

std::wstring CsvLine(const std::vector<std::wstring>& fields)
{
    std::wstring line;
    for (size_t i = 0; i < fields.size(); ++i) {
        if (i > 0)
            line.push_back(L',');
        line += CsvField(fields[i].c_str());
    }
    line += L"\r\n";
    return line;
}
