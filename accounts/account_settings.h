// "Save changes": the panel's settings applied to the selected account.
#pragma once

#include <cstdint>

class MainWindow;

// Failure bits of one "Save changes", collected in one number.
struct SettingsFailure {
    static constexpr uint32_t Type = 2;
    static constexpr uint32_t Record = 4;      // the account could not be read or written
    static constexpr uint32_t AutoLogon = 8;
    static constexpr uint32_t Visibility = 16;
};

// Asks the operator, applies the type, the record (name and flags), the
// automatic sign-in and the visibility, shows one summary and reloads the
// panel. Returns the failure bits; 0 as well when nothing was asked or the
// operator answered "No".
uint32_t ApplyAccountSettings(MainWindow& window, int row);
