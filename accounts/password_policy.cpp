#include "accounts/password_policy.h"

#include "accounts/lookup.h"
#include "platform/machine.h"

namespace {

// Only what changes is held to the ranges: a value another tool set beyond
// them stays as it is when it is not touched.
bool InRange(const PasswordPolicy& policy, const PasswordPolicy& current)
{
    for (const PolicySetting& setting : kPolicySettings) {
        const uint32_t value = policy.*setting.value;
        if (value == current.*setting.value)
            continue;
        if (value == kPolicyForever && setting.forever != nullptr)
            continue;
        if (value % setting.unit != 0 || value / setting.unit < setting.lowest || value / setting.unit > setting.highest)
            return false;
    }
    return PolicyConflict(policy) == nullptr;
}

}  // namespace

bool ReadPasswordPolicy(PasswordPolicy& policy)
{
    USER_MODALS_INFO_0 passwords{};
    USER_MODALS_INFO_3 lockout{};
    if (!ReadUserModals(passwords) || !ReadUserModals(lockout))
        return false;
    policy.minLength = passwords.usrmod0_min_passwd_len;
    policy.maxAge = passwords.usrmod0_max_passwd_age;
    policy.minAge = passwords.usrmod0_min_passwd_age;
    policy.history = passwords.usrmod0_password_hist_len;
    policy.lockoutThreshold = lockout.usrmod3_lockout_threshold;
    policy.lockoutDuration = lockout.usrmod3_lockout_duration;
    policy.lockoutWindow = lockout.usrmod3_lockout_observation_window;
    return true;
}

NET_API_STATUS WritePasswordPolicy(const PasswordPolicy& wanted)
{
    USER_MODALS_INFO_0 passwords{};
    USER_MODALS_INFO_3 lockout{};
    PasswordPolicy current;
    if (!ReadUserModals(passwords) || !ReadUserModals(lockout) || !ReadPasswordPolicy(current))
        return ERROR_ACCESS_DENIED;
    if (!InRange(wanted, current))
        return ERROR_INVALID_PARAMETER;
    // The forced sign-off time and anything else of a part is written back as read.
    if (passwords.usrmod0_min_passwd_len != wanted.minLength || passwords.usrmod0_max_passwd_age != wanted.maxAge ||
        passwords.usrmod0_min_passwd_age != wanted.minAge || passwords.usrmod0_password_hist_len != wanted.history) {
        passwords.usrmod0_min_passwd_len = wanted.minLength;
        passwords.usrmod0_max_passwd_age = wanted.maxAge;
        passwords.usrmod0_min_passwd_age = wanted.minAge;
        passwords.usrmod0_password_hist_len = wanted.history;
        const NET_API_STATUS status =
            machine::NetUserModalsSet(nullptr, 0, reinterpret_cast<LPBYTE>(&passwords), nullptr);
        if (status != NERR_Success)
            return status;
    }
    if (lockout.usrmod3_lockout_threshold != wanted.lockoutThreshold ||
        lockout.usrmod3_lockout_duration != wanted.lockoutDuration ||
        lockout.usrmod3_lockout_observation_window != wanted.lockoutWindow) {
        lockout.usrmod3_lockout_threshold = wanted.lockoutThreshold;
        lockout.usrmod3_lockout_duration = wanted.lockoutDuration;
        lockout.usrmod3_lockout_observation_window = wanted.lockoutWindow;
        return machine::NetUserModalsSet(nullptr, 3, reinterpret_cast<LPBYTE>(&lockout), nullptr);
    }
    return NERR_Success;
}
