#include "repair/logon_backup.h"

#include <windows.h>
#include <ntsecapi.h>

#include "platform/machine.h"
#include "platform/registry.h"
#include "platform/text.h"
#include "repair/repair_rules.h"
#include "repair/state_file.h"

namespace {

constexpr wchar_t kWinlogonKey[] = L"HKLM64\\SOFTWARE\\Microsoft\\Windows NT\\CurrentVersion\\Winlogon";
constexpr wchar_t kPasswordSecret[] = L"DefaultPassword";
constexpr NTSTATUS kStatusSuccess = 0;
constexpr uint32_t kUserNameLimit = 256;     // UNLEN
constexpr uint32_t kDomainNameLimit = 255;   // a DNS name at most

// A secret's data as the authority hands it out, wiped before it is freed.
class SecretData {
public:
    ~SecretData()
    {
        if (data_ == nullptr)
            return;
        if (data_->Buffer != nullptr)
            SecureZeroMemory(data_->Buffer, data_->MaximumLength > data_->Length ? data_->MaximumLength
                                                                                  : data_->Length);
        machine::LsaFreeMemory(data_);
    }
    PLSA_UNICODE_STRING* Put() { return &data_; }
    PLSA_UNICODE_STRING Get() const { return data_; }

private:
    PLSA_UNICODE_STRING data_ = nullptr;
};

bool ReadSecret(const UniqueLsaPolicy& policy, const wchar_t* name, SecretData& data)
{
    LSA_UNICODE_STRING key = machine::CountedText(name);
    return policy.Get() != nullptr && machine::LsaRetrievePrivateData(policy.Get(), &key, data.Put()) ==
                                          kStatusSuccess && data.Get() != nullptr;
}

bool StoreSecret(const UniqueLsaPolicy& policy, const wchar_t* name, PLSA_UNICODE_STRING data)
{
    LSA_UNICODE_STRING key = machine::CountedText(name);
    return policy.Get() != nullptr && machine::LsaStorePrivateData(policy.Get(), &key, data) == kStatusSuccess;
}

void DeleteSecret(const UniqueLsaPolicy& policy, const wchar_t* name)
{
    StoreSecret(policy, name, nullptr);
}

bool ReadWinlogonText(RegKey& key, const wchar_t* name, WString& text)
{
    return key.QueryString(name, text) && !text.IsEmpty();
}

bool WriteWinlogonText(RegKey& key, const wchar_t* name, const wchar_t* text)
{
    return key.SetValue(name, REG_SZ, text, static_cast<DWORD>((TextLength(text) + 1) * sizeof(wchar_t)));
}

}  // namespace

bool SaveAutoLogon(const wchar_t* statePath, const wchar_t* section)
{
    UniqueLsaPolicy policy = OpenLocalPolicy(POLICY_CREATE_SECRET);
    DeleteSecret(policy, kSavedLogonSecret);   // never restore a stale password

    RegKey winlogon;
    if (!winlogon.Open(kWinlogonKey, KEY_READ))
        return false;
    WString on, user, domain;
    if (!ReadWinlogonText(winlogon, L"AutoAdminLogon", on) || !EqualsNoCase(on.Text(), L"1") ||
        !ReadWinlogonText(winlogon, L"DefaultUserName", user) || EqualsNoCase(user.Text(), kTempAccountName))
        return false;
    ReadWinlogonText(winlogon, L"DefaultDomainName", domain);

    SecretData secret;
    if (ReadSecret(policy, kPasswordSecret, secret)) {
        if (!StoreSecret(policy, kSavedLogonSecret, secret.Get()))
            return false;
    } else {
        // An older set-up kept the password as plain text in Winlogon; the
        // copy goes into the secret all the same.
        WString plain;
        if (winlogon.QueryString(L"DefaultPassword", plain) && !plain.IsEmpty()) {
            LSA_UNICODE_STRING data = machine::CountedText(plain.Text());
            bool stored = StoreSecret(policy, kSavedLogonSecret, &data);
            SecureZeroMemory(plain.Data(), plain.Length() * sizeof(wchar_t));
            if (!stored)
                return false;
        }
    }
    WriteStateText(statePath, section, kPrevLogonUserKey, user.Text());
    if (!domain.IsEmpty())
        WriteStateText(statePath, section, kPrevLogonDomainKey, domain.Text());
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
        SecretData secret;
        bool haveSecret = ReadSecret(policy, kSavedLogonSecret, secret);
        bool written = winlogon.Open(kWinlogonKey, KEY_READ | KEY_WRITE) &&
                       WriteWinlogonText(winlogon, L"DefaultUserName", user.Text()) &&
                       (domain.IsEmpty() || WriteWinlogonText(winlogon, L"DefaultDomainName", domain.Text()));
        if (written && haveSecret)
            written = StoreSecret(policy, kPasswordSecret, secret.Get());
        // Switched on last: never an automatic sign-in with half its values.
        if (written)
            written = WriteWinlogonText(winlogon, L"AutoAdminLogon", L"1");
        result = written ? LogonRestore::Restored : LogonRestore::Failed;
    }
    DeleteSecret(policy, kSavedLogonSecret);
    return result;
}
