#include "app/command_rules.h"

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <cwchar>
#include <iterator>
#include <unordered_set>

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
        else if (name == L"--dry-run" && syntax.changes)
            parsed.dryRun = true;
        else if (name == L"--yes" && syntax.destructive)
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

// ---------------------------------------------------------------------------

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

// ---------------------------------------------------------------------------

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

// ---------------------------------------------------------------------------

const JsonValue* JsonValue::Member(const wchar_t* name) const
{
    for (const auto& member : members)
        if (member.first == name)
            return &member.second;
    return nullptr;
}

namespace {

class JsonReader {
public:
    explicit JsonReader(const std::string& text) : text_(text) {}

    bool Document(JsonValue& value, std::wstring& error)
    {
        if (text_.compare(0, 3, "\xEF\xBB\xBF") == 0)
            at_ = 3;
        if (!FewEnoughValues() || !Value(value, 0) || (Blank(), at_ != text_.size())) {
            error = error_.empty() ? L"the document has more after its end" : error_;
            error += L" (at byte " + std::to_wstring(at_) + L")";
            return false;
        }
        return true;
    }

private:
    // More values than any machine's desired state holds: refused before
    // their memory is taken (a document of the largest size could hold
    // millions of them).
    static constexpr size_t kMostValues = 200000;

    const std::string& text_;
    size_t at_ = 0;
    size_t values_ = 0;
    std::wstring error_;

    bool Fail(const wchar_t* why)
    {
        if (error_.empty())
            error_ = why;
        return false;
    }

    void Blank()
    {
        while (at_ < text_.size() && (text_[at_] == ' ' || text_[at_] == '\t' || text_[at_] == '\n' ||
                                      text_[at_] == '\r'))
            ++at_;
    }

    // Every value but the first follows a comma outside a text: one pass
    // over the bytes refuses a document of too many before any is read.
    bool FewEnoughValues()
    {
        size_t commas = 0;
        bool inText = false;
        for (size_t i = at_; i < text_.size(); ++i) {
            const char c = text_[i];
            if (inText && c == '\\')
                ++i;
            else if (c == '"')
                inText = !inText;
            else if (!inText && c == ',' && ++commas >= kMostValues)
                return Fail(L"the document holds more than 200,000 values");
        }
        return true;
    }

    // Repeats found by sorting the names once: comparing each member with
    // every other would take hours over a document of the largest size.
    bool NoMemberTwice(const JsonValue& object)
    {
        if (object.members.size() < 2)
            return true;
        std::vector<const std::wstring*> names;
        names.reserve(object.members.size());
        for (const auto& member : object.members)
            names.push_back(&member.first);
        std::sort(names.begin(), names.end(), [](const std::wstring* a, const std::wstring* b) { return *a < *b; });
        const bool twice = std::adjacent_find(names.begin(), names.end(), [](const std::wstring* a,
                                                                             const std::wstring* b) {
                               return *a == *b;
                           }) != names.end();
        return twice ? Fail(L"a member is given twice") : true;
    }

    bool Word(const char* word)
    {
        const size_t length = std::strlen(word);
        if (text_.compare(at_, length, word) != 0)
            return Fail(L"not JSON");
        at_ += length;
        return true;
    }

    static void Append(std::wstring& out, uint32_t code)
    {
        if (sizeof(wchar_t) == 2 && code >= 0x10000) {
            out.push_back(static_cast<wchar_t>(0xD800 + ((code - 0x10000) >> 10)));
            out.push_back(static_cast<wchar_t>(0xDC00 + ((code - 0x10000) & 0x3FF)));
        } else {
            out.push_back(static_cast<wchar_t>(code));
        }
    }

    bool Hex4(uint32_t& code)
    {
        code = 0;
        for (int i = 0; i < 4; ++i, ++at_) {
            const char c = at_ < text_.size() ? text_[at_] : '\0';
            const int digit = c >= '0' && c <= '9' ? c - '0' : c >= 'a' && c <= 'f' ? c - 'a' + 10
                              : c >= 'A' && c <= 'F' ? c - 'A' + 10 : -1;
            if (digit < 0)
                return Fail(L"a \\u escape needs four hexadecimal digits");
            code = code * 16 + static_cast<uint32_t>(digit);
        }
        return true;
    }

    // One UTF-8 sequence at `at_`, checked as the standard has it.
    bool Utf8(uint32_t& code)
    {
        const unsigned char first = static_cast<unsigned char>(text_[at_++]);
        int more = first >= 0xF0 && first <= 0xF4 ? 3 : first >= 0xE0 ? 2 : first >= 0xC2 && first < 0xE0 ? 1 : -1;
        if (first >= 0xF5 || more < 0)
            return Fail(L"the document is not UTF-8 text");
        code = first & (0x3F >> more);
        for (int i = 0; i < more; ++i, ++at_) {
            if (at_ >= text_.size() || (static_cast<unsigned char>(text_[at_]) & 0xC0) != 0x80)
                return Fail(L"the document is not UTF-8 text");
            code = (code << 6) | (static_cast<unsigned char>(text_[at_]) & 0x3F);
        }
        const uint32_t least[] = {0, 0x80, 0x800, 0x10000};
        if (code < least[more] || code > 0x10FFFF || (code >= 0xD800 && code <= 0xDFFF))
            return Fail(L"the document is not UTF-8 text");
        return true;
    }

    bool String(std::wstring& out)
    {
        ++at_;   // the opening quote
        for (;;) {
            if (at_ >= text_.size())
                return Fail(L"a text is not closed");
            const unsigned char c = static_cast<unsigned char>(text_[at_]);
            if (c == '"') {
                ++at_;
                return true;
            }
            if (c < 0x20)
                return Fail(L"a control character stands unescaped in a text");
            if (c >= 0x80) {
                uint32_t code = 0;
                if (!Utf8(code))
                    return false;
                Append(out, code);
                continue;
            }
            ++at_;
            if (c != '\\') {
                out.push_back(static_cast<wchar_t>(c));
                continue;
            }
            const char escape = at_ < text_.size() ? text_[at_++] : '\0';
            const char* simple = std::strchr("\"\\/bfnrt", escape);
            if (escape != '\0' && escape != 'u' && simple != nullptr) {
                out.push_back(static_cast<wchar_t>("\"\\/\b\f\n\r\t"[simple - "\"\\/bfnrt"]));
                continue;
            }
            uint32_t code = 0;
            if (escape != 'u')
                return Fail(L"an unknown escape in a text");
            if (!Hex4(code))
                return false;
            if (code >= 0xD800 && code <= 0xDBFF && text_.compare(at_, 2, "\\u") == 0) {
                at_ += 2;
                uint32_t low = 0;
                if (!Hex4(low))
                    return false;
                if (low < 0xDC00 || low > 0xDFFF)
                    return Fail(L"a surrogate escape stands alone");
                code = 0x10000 + ((code - 0xD800) << 10) + (low - 0xDC00);
            } else if (code >= 0xD800 && code <= 0xDFFF) {
                return Fail(L"a surrogate escape stands alone");
            }
            Append(out, code);
        }
    }

    bool Number(double& number)
    {
        const size_t start = at_;
        if (text_[at_] == '-')
            ++at_;
        size_t digits = 0;
        while (at_ < text_.size() && ((text_[at_] >= '0' && text_[at_] <= '9') || text_[at_] == '.' ||
                                      text_[at_] == 'e' || text_[at_] == 'E' || text_[at_] == '+' ||
                                      text_[at_] == '-')) {
            ++at_;
            ++digits;
        }
        if (digits == 0)
            return Fail(L"not JSON");
        const std::string part = text_.substr(start, at_ - start);
        char* end = nullptr;
        number = std::strtod(part.c_str(), &end);
        return end != nullptr && *end == '\0' ? true : Fail(L"a number is not written as JSON writes one");
    }

    bool Value(JsonValue& value, int depth)
    {
        if (depth > 64)
            return Fail(L"the document is nested too deep");
        if (++values_ > kMostValues)
            return Fail(L"the document holds more than 200,000 values");
        Blank();
        if (at_ >= text_.size())
            return Fail(L"the document ends early");
        const char c = text_[at_];
        if (c == '{') {
            value.kind = JsonValue::Kind::Object;
            ++at_;
            Blank();
            if (at_ < text_.size() && text_[at_] == '}')
                return ++at_, true;
            for (;;) {
                Blank();
                if (at_ >= text_.size() || text_[at_] != '"')
                    return Fail(L"a member's name is missing");
                std::wstring name;
                if (!String(name))
                    return false;
                Blank();
                if (at_ >= text_.size() || text_[at_++] != ':')
                    return Fail(L"a colon is missing");
                value.members.emplace_back(name, JsonValue());
                if (!Value(value.members.back().second, depth + 1))
                    return false;
                Blank();
                if (at_ < text_.size() && text_[at_] == ',') {
                    ++at_;
                    continue;
                }
                if (at_ < text_.size() && text_[at_] == '}')
                    return ++at_, NoMemberTwice(value);
                return Fail(L"a comma or a closing brace is missing");
            }
        }
        if (c == '[') {
            value.kind = JsonValue::Kind::Array;
            ++at_;
            Blank();
            if (at_ < text_.size() && text_[at_] == ']')
                return ++at_, true;
            for (;;) {
                value.items.emplace_back();
                if (!Value(value.items.back(), depth + 1))
                    return false;
                Blank();
                if (at_ < text_.size() && text_[at_] == ',') {
                    ++at_;
                    continue;
                }
                if (at_ < text_.size() && text_[at_] == ']')
                    return ++at_, true;
                return Fail(L"a comma or a closing bracket is missing");
            }
        }
        if (c == '"') {
            value.kind = JsonValue::Kind::String;
            return String(value.text);
        }
        if (c == 't' || c == 'f') {
            value.kind = JsonValue::Kind::Bool;
            value.boolean = c == 't';
            return Word(c == 't' ? "true" : "false");
        }
        if (c == 'n') {
            value.kind = JsonValue::Kind::Null;
            return Word("null");
        }
        value.kind = JsonValue::Kind::Number;
        return Number(value.number);
    }
};

bool Wrong(std::wstring& error, const std::wstring& text)
{
    error = text;
    return false;
}

}  // namespace

bool ParseJson(const std::string& text, JsonValue& value, std::wstring& error)
{
    value = JsonValue();
    return JsonReader(text).Document(value, error);
}

namespace {

// Names met so far, letter case aside as SameWord compares them: one
// look-up each, so that a list of any length is checked in one pass.
class SeenNames {
public:
    // False when the name was met before.
    bool Add(const std::wstring& name)
    {
        std::wstring folded(name);
        for (wchar_t& c : folded)
            c = FoldCase(c);
        return seen_.insert(std::move(folded)).second;
    }

private:
    std::unordered_set<std::wstring> seen_;
};

// A list of names, none empty, none twice (letter case aside) in `seen`.
bool ReadNames(const JsonValue& value, const wchar_t* what, std::vector<std::wstring>& names, SeenNames& seen,
               std::wstring& error)
{
    if (value.kind != JsonValue::Kind::Array)
        return Wrong(error, std::wstring(L"\"") + what + L"\" is a list of members");
    for (const JsonValue& item : value.items) {
        if (item.kind != JsonValue::Kind::String || item.text.empty())
            return Wrong(error, std::wstring(L"\"") + what + L"\" is a list of members");
        if (!seen.Add(item.text))
            return Wrong(error, L"member \"" + item.text + L"\" is named twice");
        names.push_back(item.text);
    }
    return true;
}

bool ReadDesiredGroup(const JsonValue& item, DesiredGroup& group, std::wstring& error)
{
    const JsonValue* name = item.kind == JsonValue::Kind::Object ? item.Member(L"group") : nullptr;
    if (name == nullptr || name->kind != JsonValue::Kind::String || name->text.empty())
        return Wrong(error, L"each of \"groups\" names its \"group\"");
    group.group = name->text;
    SeenNames seen;
    for (const auto& member : item.members) {
        if (member.first == L"group")
            continue;
        if (member.first == L"members" || member.first == L"absent" || member.first == L"exactMembers") {
            // The whole membership stands alone: nothing to add to it or take from it.
            if (group.exact || (member.first == L"exactMembers" && (!group.members.empty() || !group.absent.empty())))
                return Wrong(error, L"group \"" + group.group + L"\": exactMembers lists every member, without "
                                    L"members or absent");
            group.exact = member.first == L"exactMembers";
            if (!ReadNames(member.second, member.first.c_str(),
                           member.first == L"absent" ? group.absent : group.members, seen, error))
                return false;
        } else if (member.first == L"description") {
            if (member.second.kind != JsonValue::Kind::String)
                return Wrong(error, L"group \"" + group.group + L"\": description is a text");
            group.descriptionGiven = true;
            group.description = member.second.text;
        } else if (member.first == L"present") {
            if (member.second.kind != JsonValue::Kind::Bool)
                return Wrong(error, L"group \"" + group.group + L"\": present is true or false");
            group.present = member.second.boolean;
        } else {
            return Wrong(error, L"group \"" + group.group + L"\" has no member \"" + member.first + L"\"");
        }
    }
    if (!group.present && (group.exact || !group.members.empty() || group.descriptionGiven))
        return Wrong(error, L"group \"" + group.group + L"\" is to be absent: it takes no members or description");
    return true;
}

bool ReadDesiredPolicy(const JsonValue& value, DesiredPolicy& policy, std::wstring& error)
{
    if (value.kind != JsonValue::Kind::Object)
        return Wrong(error, L"\"policy\" is an object of the password and lock-out settings");
    policy.given = true;
    for (const auto& member : value.members) {
        size_t index = 0;
        while (index < std::size(kPolicySettings) &&
               member.first != std::wstring(kPolicySettings[index].member,
                                             kPolicySettings[index].member + strlen(kPolicySettings[index].member)))
            ++index;
        if (index == std::size(kPolicySettings))
            return Wrong(error, L"\"policy\" has no member \"" + member.first + L"\"");
        const PolicySetting& setting = kPolicySettings[index];
        const JsonValue& item = member.second;
        std::wstring text = item.kind == JsonValue::Kind::String ? item.text : L"";
        if (item.kind == JsonValue::Kind::Number && item.number >= 0 && item.number < 1e9 &&
            item.number == static_cast<double>(static_cast<uint32_t>(item.number)))
            text = std::to_wstring(static_cast<uint32_t>(item.number));
        uint32_t kept = 0;
        if (!ParsePolicyValue(setting, text.c_str(), kept))
            return Wrong(error, L"policy: " + member.first + L" takes " + PolicyRangeText(setting));
        policy.values.emplace_back(index, kept);
    }
    return true;
}

bool ReadDesiredProfiles(const JsonValue& value, DesiredProfiles& profiles, std::wstring& error)
{
    if (value.kind != JsonValue::Kind::Object)
        return Wrong(error, L"\"profiles\" is an object with cleanUnusedForDays");
    SeenNames seen;
    for (const auto& member : value.members) {
        const JsonValue& item = member.second;
        if (member.first == L"cleanUnusedForDays") {
            if (item.kind != JsonValue::Kind::Number || item.number < 1 || item.number > 36500 ||
                item.number != static_cast<double>(static_cast<uint32_t>(item.number)))
                return Wrong(error, L"profiles: cleanUnusedForDays is a whole number of days from 1 to 36500");
            profiles.unusedForDays = static_cast<uint32_t>(item.number);
        } else if (member.first == L"exclude") {
            if (!ReadNames(item, L"exclude", profiles.exclude, seen, error))
                return false;
        } else if (member.first == L"keepAccounts") {
            if (item.kind != JsonValue::Kind::Bool)
                return Wrong(error, L"profiles: keepAccounts is true or false");
            profiles.keepAccounts = item.boolean;
        } else {
            return Wrong(error, L"profiles: there is no member \"" + member.first + L"\"");
        }
    }
    if (profiles.unusedForDays == 0)
        return Wrong(error, L"profiles: cleanUnusedForDays is missing");
    profiles.given = true;
    return true;
}

bool ReadDesiredAccount(const JsonValue& item, DesiredAccount& account, std::wstring& error)
{
    if (item.kind != JsonValue::Kind::Object)
        return Wrong(error, L"each of \"accounts\" is an object");
    const JsonValue* name = item.Member(L"name");
    if (name == nullptr || name->kind != JsonValue::Kind::String || name->text.empty())
        return Wrong(error, L"each account needs a \"name\"");
    account.name = name->text;
    const std::wstring where = L"account \"" + account.name + L"\": ";
    for (const auto& member : item.members) {
        const JsonValue& value = member.second;
        if (member.first == L"name")
            continue;
        if (member.first == L"present" || member.first == L"keepFiles") {
            if (value.kind != JsonValue::Kind::Bool)
                return Wrong(error, where + member.first + L" is true or false");
            (member.first == L"present" ? account.present : account.keepFiles) = value.boolean;
            continue;
        }
        if (member.first == L"picture") {
            if (value.kind != JsonValue::Kind::String || value.text.empty())
                return Wrong(error, where + L"picture is a file's path");
            account.picture = value.text;
            continue;
        }
        const AccountSetting* setting = FindSettingMember(member.first);
        if (setting == nullptr)
            return Wrong(error, where + L"there is no member \"" + member.first + L"\"");
        if (setting->isBool) {
            if (value.kind != JsonValue::Kind::Bool)
                return Wrong(error, where + member.first + L" is true or false");
            account.settings.push_back({setting, value.boolean ? L"yes" : L"no"});
            continue;
        }
        if (value.kind != JsonValue::Kind::String)
            return Wrong(error, where + member.first + L" is a text");
        if (setting->option.choices != nullptr && !InChoices(setting->option.choices, value.text))
            return Wrong(error, where + L"type is one of guest, standard, administrator");
        // A text with a control character is refused later, as `set` refuses it.
        AccountSettingValues scratch;
        if (member.first == L"expires" && !setting->write(scratch, value.text.c_str()))
            return Wrong(error, where + member.first + L" is a date (YYYY-MM-DD, or YYYY-MM-DDTHH:MM:SSZ) or never");
        account.settings.push_back({setting, value.text});
    }
    if (!account.present && (!account.settings.empty() || !account.picture.empty()))
        return Wrong(error, where + L"an absent account has no settings");
    return true;
}

}  // namespace

bool ReadDesiredState(const JsonValue& document, DesiredState& state, std::wstring& error)
{
    state = DesiredState();
    if (document.kind != JsonValue::Kind::Object)
        return Wrong(error, L"the document is not a JSON object");
    const JsonValue* version = document.Member(L"schemaVersion");
    if (version == nullptr || version->kind != JsonValue::Kind::Number || version->number != kCommandSchemaVersion)
        return Wrong(error, L"the document's schemaVersion is not " + std::to_wstring(kCommandSchemaVersion));
    for (const auto& member : document.members) {
        const JsonValue& value = member.second;
        if (member.first == L"schemaVersion") {
            continue;
        } else if (member.first == L"accounts") {
            if (value.kind != JsonValue::Kind::Array)
                return Wrong(error, L"\"accounts\" is a list");
            SeenNames seen;
            for (const JsonValue& item : value.items) {
                DesiredAccount account;
                if (!ReadDesiredAccount(item, account, error))
                    return false;
                if (!seen.Add(account.name))
                    return Wrong(error, L"account \"" + account.name + L"\" is named twice");
                state.accounts.push_back(std::move(account));
            }
        } else if (member.first == L"groups") {
            if (value.kind != JsonValue::Kind::Array)
                return Wrong(error, L"\"groups\" is a list");
            SeenNames seen;
            for (const JsonValue& item : value.items) {
                DesiredGroup group;
                if (!ReadDesiredGroup(item, group, error))
                    return false;
                if (!seen.Add(group.group))
                    return Wrong(error, L"group \"" + group.group + L"\" is named twice");
                state.groups.push_back(std::move(group));
            }
        } else if (member.first == L"policy") {
            if (!ReadDesiredPolicy(value, state.policy, error))
                return false;
        } else if (member.first == L"profiles") {
            if (!ReadDesiredProfiles(value, state.profiles, error))
                return false;
        } else if (member.first == L"autoLogon") {
            if (value.kind != JsonValue::Kind::Null && value.kind != JsonValue::Kind::String)
                return Wrong(error, L"\"autoLogon\" is an account's name or null");
            state.autoLogonGiven = true;
            state.autoLogon = value.text;
        } else if (member.first == L"mend") {
            if (value.kind != JsonValue::Kind::Array)
                return Wrong(error, L"\"mend\" is a list of finding ids");
            for (const JsonValue& item : value.items) {
                if (item.kind != JsonValue::Kind::String || item.text.empty())
                    return Wrong(error, L"\"mend\" is a list of finding ids");
                state.mend.push_back(item.text);
            }
        } else {
            return Wrong(error, L"there is no member \"" + member.first + L"\"");
        }
    }
    return true;
}
