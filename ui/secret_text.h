// The text of a password field, held in an allocation that this holder owns
// and wipes whole: before the next reading replaces it and when the holder
// goes. The dialogs that ask for passwords read their fields through it.
#pragma once

#include <cstddef>
#include <cstdint>

class UiWindow;

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
    // up to a line feed (a carriage return before it is dropped). Every byte
    // read passes through a buffer that is wiped too. False, with the text
    // empty, when nothing could be read (end of input, no memory).
    bool ReadLine(void* input, bool console);
    // Never null: L"" when nothing is held.
    const wchar_t* Text() const;
    // Units of the allocation, terminator included; 0 when there is none.
    size_t Capacity() const { return capacity_; }
    // Zeroes the whole allocation; the text becomes empty.
    void Wipe();

private:
    wchar_t* buffer_ = nullptr;
    size_t capacity_ = 0;
};
