#include "accounts/detail_rules.h"

#include <cwchar>

namespace {

constexpr uint32_t kSecondsPerDay = 86400;

bool IsLeap(uint32_t year)
{
    return (year % 4 == 0 && year % 100 != 0) || year % 400 == 0;
}

uint32_t DaysIn(uint32_t year, uint32_t month)
{
    static const uint32_t kDays[] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
    return month == 2 && IsLeap(year) ? 29 : kDays[month - 1];
}

bool Digits(const wchar_t* text, int count, uint32_t& value)
{
    value = 0;
    for (int i = 0; i < count; ++i) {
        if (text[i] < L'0' || text[i] > L'9')
            return false;
        value = value * 10 + static_cast<uint32_t>(text[i] - L'0');
    }
    return true;
}

}  // namespace

bool ReadExpiryDate(const wchar_t* text, uint32_t& seconds)
{
    if (text == nullptr)
        return false;
    if (wcscmp(text, L"never") == 0) {
        seconds = kNeverTime;
        return true;
    }
    uint32_t year = 0, month = 0, day = 0, hour = 0, minute = 0, second = 0;
    const size_t length = wcslen(text);
    if ((length != 10 && length != 20) || text[4] != L'-' || text[7] != L'-' || !Digits(text, 4, year) ||
        !Digits(text + 5, 2, month) || !Digits(text + 8, 2, day))
        return false;
    if (length == 20 && (text[10] != L'T' || text[13] != L':' || text[16] != L':' || text[19] != L'Z' ||
                         !Digits(text + 11, 2, hour) || !Digits(text + 14, 2, minute) || !Digits(text + 17, 2, second) ||
                         hour > 23 || minute > 59 || second > 59))
        return false;
    if (year < 1970 || year > 2105 || month < 1 || month > 12 || day < 1 || day > DaysIn(year, month))
        return false;
    uint64_t days = day - 1;
    for (uint32_t y = 1970; y < year; ++y)
        days += IsLeap(y) ? 366 : 365;
    for (uint32_t m = 1; m < month; ++m)
        days += DaysIn(year, m);
    const uint64_t total = days * kSecondsPerDay + hour * 3600 + minute * 60 + second;
    if (total >= kNeverTime)
        return false;
    seconds = static_cast<uint32_t>(total);
    return true;
}

std::wstring DateTimeText(uint32_t seconds)
{
    uint32_t days = seconds / kSecondsPerDay, rest = seconds % kSecondsPerDay;
    uint32_t year = 1970, month = 1;
    while (days >= (IsLeap(year) ? 366u : 365u))
        days -= IsLeap(year++) ? 366 : 365;
    while (days >= DaysIn(year, month))
        days -= DaysIn(year, month++);
    wchar_t text[32];
    swprintf(text, 32, L"%04u-%02u-%02uT%02u:%02u:%02uZ", year, month, days + 1, rest / 3600, rest / 60 % 60,
             rest % 60);
    return text;
}

std::wstring ExpiryText(uint32_t seconds)
{
    if (seconds == kNeverTime)
        return L"never";
    const std::wstring text = DateTimeText(seconds);
    return seconds % kSecondsPerDay == 0 ? text.substr(0, 10) : text;
}

uint32_t PasswordExpiresAt(uint32_t now, uint32_t passwordAge, uint32_t maxAge, bool neverExpires, bool expired)
{
    if (expired)
        return 0;
    if (neverExpires || maxAge == kNeverTime)
        return kNeverTime;
    const uint64_t setAt = passwordAge > now ? 0 : now - passwordAge;
    const uint64_t at = setAt + maxAge;
    return at >= kNeverTime ? kNeverTime - 1 : static_cast<uint32_t>(at);
}
