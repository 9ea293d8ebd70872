// The account details as an administrator reads and gives them: dates of the
// account database (seconds since 1970, UTC) to and from text.
#pragma once

#include <cstdint>
#include <string>

// The database's "never" for an account's expiry and a policy's age.
inline constexpr uint32_t kNeverTime = 0xFFFFFFFFu;

// "YYYY-MM-DD" (a real day from 1970 to 2105) as the seconds at its start,
// UTC, "YYYY-MM-DDTHH:MM:SSZ" as that second; "never" as kNeverTime. False
// for anything else.
bool ReadExpiryDate(const wchar_t* text, uint32_t& seconds);

// Seconds since 1970 as "YYYY-MM-DDTHH:MM:SSZ".
std::wstring DateTimeText(uint32_t seconds);

// An account's expiry as ReadExpiryDate reads it back to the same second:
// "never", the day alone at its start, else the day and time.
std::wstring ExpiryText(uint32_t seconds);

// When the password expires: kNeverTime when it never does (the account's
// flag, or a policy without a maximum age), else the time it was set plus
// the maximum age; 0 when it has already expired.
uint32_t PasswordExpiresAt(uint32_t now, uint32_t passwordAge, uint32_t maxAge, bool neverExpires, bool expired);
