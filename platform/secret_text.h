// Secrets (passwords typed, read from the console or from the machine's
// protected store) held in an allocation that one holder owns and wipes
// whole: before the next reading replaces it and when the holder goes.
#pragma once

#include <windows.h>
#include <ntsecapi.h>

#include <cstddef>
#include <cstdint>

// How reading a line went. Only `Read` leaves a text held; every other
// outcome leaves it empty, and the caller says why.
enum class SecretLine {
    Read,      // a whole line, of any length up to 32,767 characters
    Ended,     // nothing could be read: the input ended
    TooLong,   // longer than any password (or no memory for it); read to its end
    NotText,   // piped bytes that are not UTF-8
};

class SecretText {
public:
    SecretText() = default;
    ~SecretText();
    SecretText(const SecretText&) = delete;
    SecretText& operator=(const SecretText&) = delete;

    // Wipes what is held and hands out room for `units` characters and a
    // terminator, all zero; null without memory. Measure() takes the text
    // written into it.
    wchar_t* Prepare(size_t units);
    void Measure();
    // Holds a copy of `units` characters of `text` (which may hold zeros),
    // padded with zeros to `padTo` units; false without memory.
    bool Hold(const wchar_t* text, size_t units, size_t padTo = 0);
    // Reads one line from a standard input handle, wiping the text held
    // before: typed characters from a console (`console`), else UTF-8 bytes
    // up to a line feed (a carriage return before it and a byte-order mark
    // at its start are dropped). The line is kept whole, never cut short;
    // every byte read passes through buffers that are wiped too.
    SecretLine ReadLine(void* input, bool console);
    // Units of the text held, the terminator not counted (zeros held inside
    // it, as a stored secret's padding, counted).
    size_t Length() const { return length_; }
    // Never null: L"" when nothing is held.
    const wchar_t* Text() const;
    // Units of the allocation, terminator included; 0 when there is none.
    size_t Capacity() const { return capacity_; }
    // Zeroes the whole allocation; the text becomes empty.
    void Wipe();

private:
    wchar_t* buffer_ = nullptr;
    size_t capacity_ = 0;
    size_t length_ = 0;
};

// The machine's protected secret `name` into `secret`; the authority's own
// copy is wiped whole before it is freed. False, with `secret` empty, when
// none is stored or it cannot be read.
bool RetrieveSecret(LSA_HANDLE policy, const wchar_t* name, SecretText& secret);
// Stores `secret` whole (its padding included) as `name`; a null one
// deletes the secret.
bool StoreSecret(LSA_HANDLE policy, const wchar_t* name, const SecretText* secret);
// A text value of the key (REG_SZ or REG_EXPAND_SZ, not expanded) read
// straight into `secret`; false, with `secret` empty, when missing, of
// another type or unreadable.
bool ReadSecretValue(HKEY key, const wchar_t* name, SecretText& secret);
