#include "repair/logon_backup.h"

#include <windows.h>
#include <ntsecapi.h>

#include "accounts/passwords.h"
#include "platform/machine.h"
#include "platform/registry.h"
#include "platform/secret_text.h"
#include "platform/text.h"
#include "repair/repair_rules.h"
#include "repair/state_file.h"

namespace {

constexpr uint32_t kUserNameLimit = 256;     // UNLEN
constexpr uint32_t kDomainNameLimit = 255;   // a DNS name at most

void DeleteSecret(const UniqueLsaPolicy& policy, const wchar_t* name)
{
    StoreSecret(policy.Get(), name, nullptr);
}

}  // namespace

bool SaveAutoLogon(const wchar_t* statePath, const wchar_t* section)
{
    UniqueLsaPolicy policy = OpenLocalPolicy(POLICY_CREATE_SECRET);
    DeleteSecret(policy, kSavedLogonSecret);   // never restore a stale password

    AutoLogonValues values = ReadAutoLogonValues();
    if (!values.keyOpened || !values.SwitchedOn() || values.userName.IsEmpty() ||
        EqualsNoCase(values.userName.Text(), kTempAccountName))
        return false;

    // The secret, or the plain text an older set-up kept in Winlogon: the
    // copy goes into the saved secret all the same.
    SecretText secret;
    if (ReadAutoLogonPassword(secret) && !StoreSecret(policy.Get(), kSavedLogonSecret, &secret))
        return false;
    WriteStateText(statePath, section, kPrevLogonUserKey, values.userName.Text());
    if (!values.domain.IsEmpty())
        WriteStateText(statePath, section, kPrevLogonDomainKey, values.domain.Text());
    WriteStateText(statePath, section, kPrevAutoLogonKey, L"1");
    return true;
}

void DiscardSavedAutoLogon()
{
    UniqueLsaPolicy policy = OpenLocalPolicy(POLICY_CREATE_SECRET);
    DeleteSecret(policy, kSavedLogonSecret);
}

LogonRestore RestoreAutoLogon(const wchar_t* statePath, const wchar_t* section)
{
    UniqueLsaPolicy policy = OpenLocalPolicy(POLICY_CREATE_SECRET);
    WString on = ReadStateText(statePath, section, kPrevAutoLogonKey);
    WString user = ReadStateText(statePath, section, kPrevLogonUserKey);
    WString domain = ReadStateText(statePath, section, kPrevLogonDomainKey);
    LogonRestore result = LogonRestore::NoneSaved;
    if (!on.IsEmpty() || !user.IsEmpty()) {
        bool plausible = EqualsNoCase(on.Text(), L"1") && IsPlausibleLogonName(user.Text(), kUserNameLimit) &&
                         !EqualsNoCase(user.Text(), kTempAccountName) &&
                         (domain.IsEmpty() || IsPlausibleLogonName(domain.Text(), kDomainNameLimit));
        result = plausible ? LogonRestore::Failed : LogonRestore::Refused;
    }
    if (result == LogonRestore::Failed) {
        RegKey winlogon;
        SecretText secret;
        bool haveSecret = RetrieveSecret(policy.Get(), kSavedLogonSecret, secret);
        bool written = winlogon.Open(kWinlogonKeyPath, KEY_READ | KEY_WRITE) &&
                       winlogon.SetValue(L"DefaultUserName", REG_SZ, user.Text(), 0) &&
                       (domain.IsEmpty() || winlogon.SetValue(L"DefaultDomainName", REG_SZ, domain.Text(), 0));
        if (written && haveSecret)
            written = StoreSecret(policy.Get(), kAutoLogonSecretName, &secret);
        // Switched on last: never an automatic sign-in with half its values.
        if (written)
            written = winlogon.SetValue(L"AutoAdminLogon", REG_SZ, L"1", 0);
        result = written ? LogonRestore::Restored : LogonRestore::Failed;
    }
    DeleteSecret(policy, kSavedLogonSecret);
    return result;
}
