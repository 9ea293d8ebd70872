#include "accounts/passwords.h"

#include <ntsecapi.h>

#include <algorithm>
#include <string>

#include "platform/handles.h"
#include "platform/machine.h"
#include "platform/registry.h"
#include "platform/secret_text.h"
#include "platform/security.h"

namespace {

constexpr DWORD kPaddedPasswordChars = 10;

// The Winlogon key; when it refuses, its security is reset and it is opened
// once more.
RegKey OpenWinlogon(DWORD access)
{
    RegKey key(OpenKey(kWinlogonKeyPath, access));
    if (!key && ResetKeySecurity(kWinlogonKeyPath))
        key.Open(kWinlogonKeyPath, access);
    return key;
}

// A string value of type REG_SZ, REG_EXPAND_SZ or REG_MULTI_SZ (only REG_SZ
// when asked), a multi-string in its text form. False when the value is
// missing, of another type or unreadable.
bool ReadText(RegKey& key, const wchar_t* name, WString& text, bool onlyPlainString)
{
    DWORD type = REG_NONE;
    if (key.QueryString(name, text, &type) && (!onlyPlainString || type == REG_SZ))
        return true;
    text.Assign(L"");
    return false;
}

bool IsTextType(DWORD type) { return type == REG_SZ || type == REG_EXPAND_SZ || type == REG_MULTI_SZ; }

// A value's data as text, a REG_DWORD as its number; true when the value
// is there at all, whatever its type.
bool ReadNumberOrText(RegKey& key, const wchar_t* name, WString& text)
{
    text.Assign(L"");
    RegValue value;
    if (!key.QueryValue(name, value))
        return false;
    if (value.type == REG_DWORD && value.size == sizeof(DWORD))
        text.Assign(std::to_wstring(value.Dword()).c_str());
    else if (value.type == REG_SZ || value.type == REG_EXPAND_SZ)
        text.Assign(value.Text());
    return true;
}

}  // namespace

NET_API_STATUS ApplyPasswordChange(const PasswordChangeRequest& request)
{
    const wchar_t* current = request.currentPassword != nullptr ? request.currentPassword : L"";
    NET_API_STATUS status;
    if (request.newPassword == nullptr || request.reset) {
        // Setting a password needs no old one: this is how a password goes,
        // and how an administrator resets one.
        USER_INFO_1003 set{const_cast<LPWSTR>(request.newPassword != nullptr ? request.newPassword : L"")};
        DWORD parameter = 0;
        status = machine::NetUserSetInfo(nullptr, request.accountName, 1003, reinterpret_cast<LPBYTE>(&set),
                                         &parameter);
    } else {
        status = machine::NetUserChangePassword(nullptr, request.accountName, current, request.newPassword);
    }
    if (status == NERR_Success && IsAutoLogonAccount(request.accountName))
        SetAutoLogon(request.accountName, request.newPassword != nullptr ? request.newPassword : L"");
    return status;
}

NET_API_STATUS ChangePassword(const wchar_t* accountName, const wchar_t* currentPassword, const wchar_t* newPassword)
{
    return ApplyPasswordChange({accountName, currentPassword, newPassword});
}

NET_API_STATUS ResetPassword(const wchar_t* accountName, const wchar_t* newPassword)
{
    return ApplyPasswordChange({accountName, nullptr, newPassword, true});
}

bool AutoLogonValues::SwitchedOn() const { return EqualsNoCase(autoAdminLogon.Text(), L"1"); }

AutoLogonValues ReadAutoLogonValues()
{
    AutoLogonValues values;
    RegKey key = OpenWinlogon(KEY_READ);
    values.keyOpened = static_cast<bool>(key);
    if (!key)
        return values;
    ReadText(key, L"AutoAdminLogon", values.autoAdminLogon, false);
    values.userNamePlain = ReadText(key, L"DefaultUserName", values.userName, true);
    if (!values.userNamePlain)
        ReadText(key, L"DefaultUserName", values.userName, false);
    ReadText(key, L"DefaultDomainName", values.domain, false);
    values.countPresent = ReadNumberOrText(key, L"AutoLogonCount", values.count);
    values.forcePresent = ReadNumberOrText(key, L"ForceAutoLogon", values.force);
    DWORD type = REG_NONE;
    values.plainPasswordPresent = key.HasValue(kAutoLogonSecretName, &type);
    values.plainPasswordText = values.plainPasswordPresent && IsTextType(type);
    return values;
}

bool AutoLogonSecretStored()
{
    UniqueLsaPolicy policy = OpenLocalPolicy(POLICY_CREATE_SECRET);
    SecretText secret;
    return policy && RetrieveSecret(policy.Get(), kAutoLogonSecretName, secret);
}

bool ReadAutoLogonPassword(SecretText& password)
{
    UniqueLsaPolicy policy = OpenLocalPolicy(POLICY_CREATE_SECRET);
    if (policy && RetrieveSecret(policy.Get(), kAutoLogonSecretName, password))
        return true;
    return ReadPlainAutoLogonPassword(password) && password.Length() > 0;
}

bool ReadPlainAutoLogonPassword(SecretText& password)
{
    RegKey key = OpenWinlogon(KEY_READ);
    return key && ReadSecretValue(key.Get(), kAutoLogonSecretName, password);
}

bool RemovePlainAutoLogonPassword()
{
    RegKey key = OpenWinlogon(KEY_SET_VALUE);
    if (!key)
        return false;
    const LSTATUS status = RegDeleteValueW(key.Get(), kAutoLogonSecretName);
    return status == ERROR_SUCCESS || status == ERROR_FILE_NOT_FOUND;
}

WString GetAutoLogonUserName()
{
    AutoLogonValues values = ReadAutoLogonValues();
    WString name;
    name.Assign(values.userNamePlain ? values.userName.Text() : L"");
    return name;
}

bool IsAutoLogonConfigured()
{
    UniqueLsaPolicy policy = OpenLocalPolicy(POLICY_CREATE_SECRET);
    SecretText secret;
    if (!policy)
        return false;
    const bool secretStored = RetrieveSecret(policy.Get(), kAutoLogonSecretName, secret);
    secret.Wipe();
    policy.Reset();
    const AutoLogonValues values = ReadAutoLogonValues();
    return (secretStored || values.plainPasswordText) && values.SwitchedOn();
}

bool AutoLogonPasswordIs(const wchar_t* password)
{
    UniqueLsaPolicy policy = OpenLocalPolicy(POLICY_GET_PRIVATE_INFORMATION);
    SecretText stored;
    if (password == nullptr || !policy || !RetrieveSecret(policy.Get(), kAutoLogonSecretName, stored))
        return false;
    const uint32_t length = TextLength(password);
    // As SetAutoLogon stores it: a short password padded with zeros.
    const uint32_t units = length < kPaddedPasswordChars ? kPaddedPasswordChars : length;
    bool same = stored.Length() == units;
    // Every character looked at, whatever the first difference.
    wchar_t difference = 0;
    for (uint32_t i = 0; same && i < units; ++i)
        difference |= static_cast<wchar_t>(stored.Text()[i] ^ (i < length ? password[i] : L'\0'));
    return same && difference == 0;
}

bool IsAutoLogonAccount(const wchar_t* accountName)
{
    WString stored = GetAutoLogonUserName();
    return EqualsNoCase(stored.Text(), accountName != nullptr ? accountName : L"") && IsAutoLogonConfigured();
}

AutoLogonResult SetAutoLogon(const wchar_t* accountName, const wchar_t* password)
{
    // The secret's counted length holds at most 32,767 characters; a longer
    // password would be stored cut short and reported as set. Sign-in itself
    // takes no more than 256, so anything longer goes before any change.
    if (password != nullptr && TextLength(password) > kLongestPassword)
        return AutoLogonResult::Failed;
    RegKey key = OpenWinlogon(KEY_WRITE);
    if (!key)
        return AutoLogonResult::Failed;
    bool setting = password != nullptr;
    const wchar_t* name = accountName != nullptr ? accountName : L"";
    if (!key.SetValue(L"DefaultUserName", REG_SZ, setting ? name : L"", 0))
        return AutoLogonResult::Failed;

    if (setting && *name != L'\0') {
        LocalSid sid;
        WString domain;
        if (!AccountNameToSid(name, sid, &domain)) {
            wchar_t computer[MAX_COMPUTERNAME_LENGTH + 1] = L"";
            DWORD length = ARRAYSIZE(computer);
            GetComputerNameW(computer, &length);
            domain.Assign(computer);
        }
        key.SetValue(L"DefaultDomainName", REG_SZ, domain.Text(), 0);
    }
    if (!setting) {
        // Off before the secret goes: a power cut between the two then
        // leaves the sign-in switched off, never switched on without its
        // password. A "1" left behind by such a cut is cleared as well.
        bool configured = IsAutoLogonConfigured();
        WString current;
        RegKey reading = OpenWinlogon(KEY_READ);
        if (ReadText(reading, L"AutoAdminLogon", current, false) && !EqualsNoCase(current.Text(), L"0") &&
            !key.SetValue(L"AutoAdminLogon", REG_SZ, L"0", 0))
            return AutoLogonResult::Failed;
        if (!configured)
            return AutoLogonResult::NothingToClear;
    }

    UniqueLsaPolicy policy = OpenLocalPolicy(POLICY_CREATE_SECRET);
    if (!policy)
        return AutoLogonResult::Failed;
    bool stored;
    if (setting) {
        // Short passwords are stored as ten characters, padded with zeros.
        SecretText padded;
        if (!padded.Hold(password, TextLength(password), kPaddedPasswordChars))
            return AutoLogonResult::Failed;
        stored = StoreSecret(policy.Get(), kAutoLogonSecretName, &padded);
    } else {
        stored = StoreSecret(policy.Get(), kAutoLogonSecretName, nullptr);
    }
    policy.Reset();

    // Switched on only with the new secret in place: after a failed store
    // the next start would sign in with the previous one. A failed store
    // switches it off instead, so no stale secret is ever used.
    const bool enable = setting && stored;
    bool switched = key.SetValue(L"AutoAdminLogon", REG_SZ, enable ? L"1" : L"0", 0);
    // A plain-text password in the registry never survives a change.
    RegDeleteValueW(key.Get(), kAutoLogonSecretName);
    return stored && switched ? AutoLogonResult::Done : AutoLogonResult::Failed;
}

bool SetAutoLogonUserName(const wchar_t* accountName)
{
    RegKey key = OpenWinlogon(KEY_WRITE);
    return key && accountName != nullptr && key.SetValue(L"DefaultUserName", REG_SZ, accountName, 0);
}

bool ReadAutoLogonCount(DWORD& count)
{
    RegKey key = OpenWinlogon(KEY_READ);
    RegValue value;
    if (!key || !key.QueryValue(L"AutoLogonCount", value) || value.type != REG_DWORD || value.size != sizeof(DWORD))
        return false;
    count = value.Dword();
    return true;
}

bool SetAutoLogonCount(DWORD count)
{
    RegKey key = OpenWinlogon(KEY_WRITE);
    return key && key.SetValue(L"AutoLogonCount", REG_DWORD, &count, sizeof(count));
}
