#include "ui/secret_text.h"

#include <windows.h>

#include <cstdlib>

#include "ui/window.h"

SecretText::~SecretText()
{
    Wipe();
    std::free(buffer_);
}

void SecretText::Wipe()
{
    if (buffer_ != nullptr)
        SecureZeroMemory(buffer_, capacity_ * sizeof(wchar_t));
}

const wchar_t* SecretText::Text() const
{
    return buffer_ != nullptr ? buffer_ : L"";
}

bool SecretText::Read(UiWindow& window, int32_t id)
{
    Wipe();
    const ControlEntry* control = window.Control(id);
    if (control == nullptr || control->handle == nullptr)
        return false;
    const auto length = static_cast<size_t>(SendMessageW(control->handle, WM_GETTEXTLENGTH, 0, 0));
    // A larger allocation only when the text does not fit: the old one is
    // already wiped, and no copy of it is left behind by a reallocation.
    if (length + 1 > capacity_) {
        auto* larger = static_cast<wchar_t*>(std::calloc(length + 1, sizeof(wchar_t)));
        if (larger == nullptr)
            return false;
        std::free(buffer_);
        buffer_ = larger;
        capacity_ = length + 1;
    }
    SendMessageW(control->handle, WM_GETTEXT, static_cast<WPARAM>(capacity_), reinterpret_cast<LPARAM>(buffer_));
    return true;
}

namespace {

constexpr size_t kMaxSecretLine = 1024;

}  // namespace

bool SecretText::ReadLine(void* input, bool console)
{
    Wipe();
    if (capacity_ < kMaxSecretLine + 1) {
        auto* larger = static_cast<wchar_t*>(std::calloc(kMaxSecretLine + 1, sizeof(wchar_t)));
        if (larger == nullptr)
            return false;
        std::free(buffer_);
        buffer_ = larger;
        capacity_ = kMaxSecretLine + 1;
    }
    size_t units = 0;
    bool any = false;
    if (console) {
        wchar_t c = 0;
        DWORD read = 0;
        while (ReadConsoleW(input, &c, 1, &read, nullptr) && read == 1) {
            any = true;
            // A line arrives whole, ended by CR LF.
            if (c == L'\r')
                continue;
            if (c == L'\n')
                break;
            if (units < kMaxSecretLine)
                buffer_[units++] = c;
        }
        c = 0;
        return any;
    }
    char bytes[kMaxSecretLine * 3 + 1];
    size_t count = 0;
    char b = 0;
    DWORD read = 0;
    while (ReadFile(input, &b, 1, &read, nullptr) && read == 1) {
        any = true;
        if (b == '\n')
            break;
        if (count < sizeof(bytes) - 1)
            bytes[count++] = b;
    }
    if (count > 0 && bytes[count - 1] == '\r')
        --count;
    int converted = count == 0 ? 0
                               : MultiByteToWideChar(CP_UTF8, 0, bytes, static_cast<int>(count), buffer_,
                                                     static_cast<int>(kMaxSecretLine));
    SecureZeroMemory(bytes, sizeof(bytes));
    b = 0;
    if (converted < 0)
        converted = 0;
    buffer_[converted] = L'\0';
    return any;
}
