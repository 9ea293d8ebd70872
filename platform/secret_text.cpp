#include "platform/secret_text.h"

#include <windows.h>

#include <cstdlib>
#include <cstring>

#include "platform/machine.h"

SecretText::~SecretText()
{
    Wipe();
    std::free(buffer_);
}

void SecretText::Wipe()
{
    if (buffer_ != nullptr)
        SecureZeroMemory(buffer_, capacity_ * sizeof(wchar_t));
    length_ = 0;
}

const wchar_t* SecretText::Text() const
{
    return buffer_ != nullptr ? buffer_ : L"";
}

wchar_t* SecretText::Prepare(size_t units)
{
    Wipe();
    // A larger allocation only when the text does not fit: the old one is
    // already wiped, and no copy of it is left behind by a reallocation.
    if (units + 1 > capacity_) {
        auto* larger = static_cast<wchar_t*>(std::calloc(units + 1, sizeof(wchar_t)));
        if (larger == nullptr)
            return nullptr;
        std::free(buffer_);
        buffer_ = larger;
        capacity_ = units + 1;
    }
    return buffer_;
}

void SecretText::Measure()
{
    length_ = buffer_ != nullptr ? wcsnlen(buffer_, capacity_ - 1) : 0;
}

bool SecretText::Hold(const wchar_t* text, size_t units, size_t padTo)
{
    const size_t held = units < padTo ? padTo : units;
    wchar_t* buffer = Prepare(held);
    if (buffer == nullptr)
        return false;
    if (units > 0)
        std::memcpy(buffer, text, units * sizeof(wchar_t));
    length_ = held;
    return true;
}

namespace {

// A line longer than this is no password of any system: past it the line is
// read to its end and refused, so that a stray file piped in cannot fill the
// memory.
constexpr size_t kLongestLine = 32767;

// A growing buffer whose every allocation is wiped before it is freed: the
// bytes and characters of a line pass through it on their way in.
template <typename Unit>
class WipedLine {
public:
    WipedLine() = default;
    ~WipedLine()
    {
        Release(data_, capacity_);
    }
    WipedLine(const WipedLine&) = delete;
    WipedLine& operator=(const WipedLine&) = delete;

    // False when there is no memory for one more unit.
    bool Append(Unit unit)
    {
        if (size_ == capacity_) {
            const size_t larger = capacity_ == 0 ? 256 : capacity_ * 2;
            auto* grown = static_cast<Unit*>(std::calloc(larger, sizeof(Unit)));
            if (grown == nullptr)
                return false;
            if (size_ > 0)
                std::memcpy(grown, data_, size_ * sizeof(Unit));
            Release(data_, capacity_);
            data_ = grown;
            capacity_ = larger;
        }
        data_[size_++] = unit;
        return true;
    }
    Unit* Data() { return data_; }
    size_t Size() const { return size_; }
    void DropFront(size_t count)
    {
        std::memmove(data_, data_ + count, (size_ - count) * sizeof(Unit));
        SecureZeroMemory(data_ + size_ - count, count * sizeof(Unit));
        size_ -= count;
    }
    void DropBack() { data_[--size_] = 0; }

private:
    static void Release(Unit* data, size_t capacity)
    {
        if (data != nullptr)
            SecureZeroMemory(data, capacity * sizeof(Unit));
        std::free(data);
    }
    Unit* data_ = nullptr;
    size_t size_ = 0;
    size_t capacity_ = 0;
};

}  // namespace

SecretLine SecretText::ReadLine(void* input, bool console)
{
    Wipe();
    bool any = false;
    bool fits = true;
    WipedLine<wchar_t> units;
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
            if (fits && (units.Size() >= kLongestLine || !units.Append(c)))
                fits = false;
        }
        c = 0;
    } else {
        WipedLine<char> bytes;
        char b = 0;
        DWORD read = 0;
        while (ReadFile(input, &b, 1, &read, nullptr) && read == 1) {
            any = true;
            if (b == '\n')
                break;
            // Read to the line's end either way, so that the next line
            // starts where it should.
            if (fits && (bytes.Size() >= kLongestLine * 3 || !bytes.Append(b)))
                fits = false;
        }
        b = 0;
        if (bytes.Size() > 0 && bytes.Data()[bytes.Size() - 1] == '\r')
            bytes.DropBack();
        // A text file saved with a byte-order mark starts with one.
        if (bytes.Size() >= 3 && std::memcmp(bytes.Data(), "\xEF\xBB\xBF", 3) == 0)
            bytes.DropFront(3);
        if (fits && bytes.Size() > 0) {
            const int count = static_cast<int>(bytes.Size());
            const int needed = MultiByteToWideChar(CP_UTF8, MB_ERR_INVALID_CHARS, bytes.Data(), count, nullptr, 0);
            if (needed <= 0)
                return SecretLine::NotText;
            for (int i = 0; i < needed; ++i)
                if (!units.Append(L'\0'))
                    return SecretLine::TooLong;
            MultiByteToWideChar(CP_UTF8, MB_ERR_INVALID_CHARS, bytes.Data(), count,
                                units.Data(), needed);
        }
    }
    if (!any)
        return SecretLine::Ended;
    if (!fits || units.Size() > kLongestLine || !Hold(units.Data(), units.Size())) {
        Wipe();
        return SecretLine::TooLong;
    }
    return SecretLine::Read;
}

bool RetrieveSecret(LSA_HANDLE policy, const wchar_t* name, SecretText& secret)
{
    secret.Wipe();
    LSA_UNICODE_STRING key = machine::CountedText(name);
    UniqueLsaText data;
    if (policy == nullptr || machine::LsaRetrievePrivateData(policy, &key, data.Put()) != kStatusSuccess || !data)
        return false;
    PLSA_UNICODE_STRING stored = data.Get();
    bool held = true;
    if (stored->Buffer != nullptr) {
        held = secret.Hold(stored->Buffer, stored->Length / sizeof(wchar_t));
        // The whole buffer: the counted length may stop short of it.
        SecureZeroMemory(stored->Buffer, stored->MaximumLength > stored->Length ? stored->MaximumLength
                                                                                 : stored->Length);
    }
    return held;
}

bool StoreSecret(LSA_HANDLE policy, const wchar_t* name, const SecretText* secret)
{
    LSA_UNICODE_STRING key = machine::CountedText(name);
    if (policy == nullptr)
        return false;
    if (secret == nullptr)
        return machine::LsaStorePrivateData(policy, &key, nullptr) == kStatusSuccess;
    LSA_UNICODE_STRING data;
    data.Buffer = const_cast<wchar_t*>(secret->Text());
    data.Length = static_cast<USHORT>(secret->Length() * sizeof(wchar_t));
    data.MaximumLength = static_cast<USHORT>(data.Length + sizeof(wchar_t));
    return machine::LsaStorePrivateData(policy, &key, &data) == kStatusSuccess;
}

bool ReadSecretValue(HKEY key, const wchar_t* name, SecretText& secret)
{
    secret.Wipe();
    DWORD type = 0, size = 0;
    if (key == nullptr || RegQueryValueExW(key, name, nullptr, &type, nullptr, &size) != ERROR_SUCCESS ||
        (type != REG_SZ && type != REG_EXPAND_SZ))
        return false;
    wchar_t* buffer = secret.Prepare(size / sizeof(wchar_t) + 1);
    if (buffer == nullptr ||
        RegQueryValueExW(key, name, nullptr, &type, reinterpret_cast<BYTE*>(buffer), &size) != ERROR_SUCCESS ||
        (type != REG_SZ && type != REG_EXPAND_SZ)) {
        secret.Wipe();
        return false;
    }
    secret.Measure();
    return true;
}
