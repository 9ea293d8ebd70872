#include "app/json_reader.h"

#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <cstring>

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

}  // namespace

bool ParseJson(const std::string& text, JsonValue& value, std::wstring& error)
{
    value = JsonValue();
    return JsonReader(text).Document(value, error);
}
