// An account's settings changed behind the settings panel's limits: planned
// from the table of app/account_setting_rules.h, then carried out through the
// account engine. `set` and `apply` both change settings through here.
#pragma once

#include <string>
#include <vector>

#include "app/account_setting_rules.h"

struct AccountDetails;
class CommandRun;

AccountSettingValues SettingValuesOf(const AccountDetails& details);

// The settings of one account: what is, what will be, each change, or why
// the whole is refused (then nothing is changed).
struct SettingsPlan {
    std::wstring name;
    AccountSettingValues is, will;
    std::vector<SettingChange> changes;
    int refusal = kExitDone;
    std::wstring why;
};

// Plans `values` for the account `name`, whose settings are `is`. The
// panel's limits: a built-in account keeps its name and type, the console
// user its type, status, visibility and expiry; the account that signs in
// automatically is not hidden; and the last administrator that can sign in
// stays one that can. With `onlyDiffering` a value equal to the account's is no
// request (a document's settings that hold already are no change, and so
// never refused); otherwise every value given is asked for.
SettingsPlan PlanAccountSettings(const wchar_t* name, const AccountSettingValues& is, bool builtin, bool console,
                                 const std::vector<SettingValue>& values, bool onlyDiffering);

// Records the plan's changes on `run`: with a dry run as they would be made,
// otherwise once made through the engine, each that did not take as not
// done. The exit code.
int CarryOutSettings(CommandRun& run, const SettingsPlan& plan);
