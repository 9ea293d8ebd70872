// The temporary administrator the repair works from, and its password.
#pragma once

#include <cstdint>

#include "repair/repair_rules.h"

// A fresh random password from the system's cryptographic source, wiped
// (the whole buffer) when the holder goes. Empty when no random bytes came.
class TempPassword {
public:
    TempPassword();
    ~TempPassword();
    TempPassword(const TempPassword&) = delete;
    TempPassword& operator=(const TempPassword&) = delete;
    const wchar_t* Text() const { return text_; }
    bool IsEmpty() const { return text_[0] == L'\0'; }

private:
    wchar_t text_[kTempPasswordLength + 1] = {};
};

// True when "brenwick_temp_admin" exists afterwards as an enabled, unlocked
// administrator whose password is `password`: created, or an existing one
// reused with the password set anew, or a broken one deleted and created
// again. Inside the temporary account the account is used as it is, with
// the new password.
bool EnsureTempAdmin(bool inTempAccount, const wchar_t* password);

// The temporary account with its profile folder and profile-list entry;
// DeleteAccount's result (0 not deleted).
int DeleteTempAdmin();
