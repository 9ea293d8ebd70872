// Reads the JSON documents the command mode is given. Kept apart from any
// system call so that every case can be tested on any host.
#pragma once

#include <string>
#include <utility>
#include <vector>

// A JSON value as read: the texts in UTF-16 (code points where wchar_t has
// 32 bits).
struct JsonValue {
    enum class Kind { Null, Bool, Number, String, Array, Object };
    Kind kind = Kind::Null;
    bool boolean = false;
    double number = 0;
    std::wstring text;
    std::vector<JsonValue> items;
    std::vector<std::pair<std::wstring, JsonValue>> members;

    // The member of an object, or null when there is none.
    const JsonValue* Member(const wchar_t* name) const;
};

// Reads one JSON document of UTF-8 text (a byte-order mark before it is
// dropped). False with `error` set for anything that is not exactly one
// valid document, nested no deeper than 64 levels, or that repeats a member.
bool ParseJson(const std::string& text, JsonValue& value, std::wstring& error);
