// The text of a password field, held in an allocation that this holder owns
// and wipes whole: before the next reading replaces it and when the holder
// goes. The dialogs that ask for passwords read their fields through it.
#pragma once

#include <cstddef>
#include <cstdint>

class UiWindow;

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

    // Reads the text of the window's control `id`, wiping the text held
    // before. False, with the text empty, when there is no such control or
    // no memory.
    bool Read(UiWindow& window, int32_t id);
    // Reads one line from a standard input handle, wiping the text held
    // before: typed characters from a console (`console`), else UTF-8 bytes
    // up to a line feed (a carriage return before it and a byte-order mark
    // at its start are dropped). The line is kept whole, never cut short;
    // every byte read passes through buffers that are wiped too.
    SecretLine ReadLine(void* input, bool console);
    // Units of the text held, the terminator not counted.
    size_t Length() const;
    // Never null: L"" when nothing is held.
    const wchar_t* Text() const;
    // Units of the allocation, terminator included; 0 when there is none.
    size_t Capacity() const { return capacity_; }
    // Zeroes the whole allocation; the text becomes empty.
    void Wipe();

private:
    // Holds a copy of `units` characters of `text`; false without memory.
    bool Hold(const wchar_t* text, size_t units);
    wchar_t* buffer_ = nullptr;
    size_t capacity_ = 0;
};
