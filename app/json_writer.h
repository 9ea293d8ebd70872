// The JSON documents and CSV tables the command mode writes. Kept apart
// from any system call so that every case can be tested on any host.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

// One JSON document in plain ASCII. Texts come as UTF-16 (a wchar_t of 32
// bits is taken as a code point); control characters, quotes, backslashes,
// unpaired surrogates and every character beyond ASCII are escaped, so any
// account name gives valid JSON that reads the same whatever code page the
// reader decodes it with.
class JsonWriter {
public:
    JsonWriter& BeginObject() { return Open('{'); }
    JsonWriter& EndObject() { return Close('}'); }
    JsonWriter& BeginArray() { return Open('['); }
    JsonWriter& EndArray() { return Close(']'); }
    JsonWriter& Key(const char* key);
    JsonWriter& String(const wchar_t* text);
    JsonWriter& String(const std::wstring& text) { return String(text.c_str()); }
    JsonWriter& Number(int64_t value);
    JsonWriter& Unsigned(uint64_t value);
    JsonWriter& Bool(bool value);
    JsonWriter& Null();
    // Key and value in one.
    JsonWriter& Field(const char* key, const wchar_t* value) { return Key(key).String(value); }
    JsonWriter& Field(const char* key, const std::wstring& value) { return Key(key).String(value); }
    JsonWriter& Field(const char* key, bool value) { return Key(key).Bool(value); }
    JsonWriter& Field(const char* key, int value) { return Key(key).Number(value); }
    JsonWriter& Field(const char* key, int64_t value) { return Key(key).Number(value); }
    JsonWriter& Field(const char* key, uint32_t value) { return Key(key).Unsigned(value); }
    JsonWriter& Field(const char* key, uint64_t value) { return Key(key).Unsigned(value); }

    const std::string& Text() const { return text_; }

private:
    void Separate();
    JsonWriter& Open(char bracket);
    JsonWriter& Close(char bracket);
    std::string text_;
    std::vector<bool> first_;   // per open container: no element written yet
    bool afterKey_ = false;
};

// Appends `text` as a quoted JSON string.
void AppendJsonString(std::string& out, const wchar_t* text);

// UTF-8 of UTF-16 text (or of code points where wchar_t has 32 bits); an
// unpaired surrogate becomes U+FFFD.
std::string ToUtf8(const wchar_t* text);

// One field of a CSV line: quoted when it holds a comma, a quote, a line
// break or leading or trailing blanks, quotes doubled. A field that a
// spreadsheet would take for a formula (= + - @ at the start) is quoted and
// led by an apostrophe, so that a full name cannot run as one.
std::wstring CsvField(const wchar_t* text);
// The fields joined with commas, ended by CR LF.
std::wstring CsvLine(const std::vector<std::wstring>& fields);
