#include "accounts/passwords.h"

#include <ntsecapi.h>

#include <algorithm>

#include "platform/handles.h"
#include "platform/machine.h"
#include "platform/registry.h"
#include "platform/security.h"
#include "ui/drawing.h"
#include "ui/message_box.h"
#include "ui/window.h"
#include "ui/worker.h"

namespace {

constexpr wchar_t kWinlogonKey[] = L"HKLM64\\SOFTWARE\\Microsoft\\Windows NT\\CurrentVersion\\Winlogon";
constexpr wchar_t kSecretName[] = L"DefaultPassword";
constexpr NTSTATUS kStatusSuccess = 0;
constexpr DWORD kPaddedPasswordChars = 10;

// The Winlogon key; when it refuses, its security is reset and it is opened
// once more.
RegKey OpenWinlogon(DWORD access)
{
    RegKey key(OpenKey(kWinlogonKey, access));
    if (!key && ResetKeySecurity(kWinlogonKey))
        key.Open(kWinlogonKey, access);
    return key;
}

// A string value of type REG_SZ, REG_EXPAND_SZ or REG_MULTI_SZ (accepted
// types as given), the inner separators of a multi-string turned into line
// feeds. False when the value is missing, of another type or unreadable.
bool ReadText(HKEY key, const wchar_t* name, WString& text, bool onlyPlainString)
{
    DWORD type = 0, size = 0;
    if (key == nullptr || RegQueryValueExW(key, name, nullptr, &type, nullptr, &size) != ERROR_SUCCESS)
        return false;
    if (onlyPlainString ? type != REG_SZ : (type != REG_SZ && type != REG_EXPAND_SZ && type != REG_MULTI_SZ))
        return false;
    uint32_t units = size / sizeof(wchar_t) + 2;
    wchar_t* buffer = text.GetBuffer(units, nullptr, true);
    if (buffer == nullptr)
        return false;
    if (RegQueryValueExW(key, name, nullptr, &type, reinterpret_cast<BYTE*>(buffer), &size) != ERROR_SUCCESS) {
        text.Assign(L"");
        return false;
    }
    uint32_t stored = size / sizeof(wchar_t);
    if (type == REG_MULTI_SZ && stored > 3)
        MultiStringToText(buffer, stored);
    text.Length();   // measured afresh: the buffer was written directly
    return true;
}

bool WriteText(HKEY key, const wchar_t* name, const wchar_t* text)
{
    return RegSetValueExW(key, name, 0, REG_SZ, reinterpret_cast<const BYTE*>(text),
                          (TextLength(text) + 1) * sizeof(wchar_t)) == ERROR_SUCCESS;
}

// Whether the key holds a string value of that name, asked by its size
// alone: a password stored in plain text is never read into memory just to
// learn that it is there.
bool HasTextValue(HKEY key, const wchar_t* name)
{
    DWORD type = 0;
    DWORD size = 0;
    return key != nullptr && RegQueryValueExW(key, name, nullptr, &type, nullptr, &size) == ERROR_SUCCESS &&
           (type == REG_SZ || type == REG_EXPAND_SZ || type == REG_MULTI_SZ);
}

DWORD WINAPI PasswordWorker(void* parameter)
{
    return ApplyPasswordChange(*static_cast<const PasswordChangeRequest*>(parameter));
}

}  // namespace

NET_API_STATUS ApplyPasswordChange(const PasswordChangeRequest& request)
{
    const wchar_t* current = request.currentPassword != nullptr ? request.currentPassword : L"";
    NET_API_STATUS status;
    if (request.newPassword == nullptr) {
        // Setting the empty password needs no old one: this is how a password goes.
        USER_INFO_1003 empty{const_cast<LPWSTR>(L"")};
        DWORD parameter = 0;
        status = machine::NetUserSetInfo(nullptr, request.accountName, 1003, reinterpret_cast<LPBYTE>(&empty),
                                         &parameter);
    } else {
        status = machine::NetUserChangePassword(nullptr, request.accountName, current, request.newPassword);
    }
    if (status == NERR_Success && IsAutoLogonAccount(request.accountName))
        SetAutoLogon(request.accountName, request.newPassword != nullptr ? request.newPassword : L"");
    return status;
}

NET_API_STATUS RunPasswordChange(UiWindow* pumpWindow, const wchar_t* accountName, const wchar_t* currentPassword,
                                 const wchar_t* newPassword)
{
    PasswordChangeRequest request{accountName, currentPassword, newPassword};
    WorkerWatch watch;
    watch.window = pumpWindow;
    DWORD code = 0;
    if (!RunWorker(PasswordWorker, &request, watch, &code))
        return ERROR_NOT_ENOUGH_MEMORY;   // nothing was changed; never report success
    return static_cast<NET_API_STATUS>(code);
}

WString GetAutoLogonUserName()
{
    WString name;
    name.Assign(L"");
    RegKey key = OpenWinlogon(KEY_READ);
    if (!ReadText(key.Get(), L"DefaultUserName", name, true))
        name.Assign(L"");
    return name;
}

bool IsAutoLogonConfigured()
{
    LSA_OBJECT_ATTRIBUTES attributes{};
    UniqueLsaPolicy policy;
    if (machine::LsaOpenPolicy(nullptr, &attributes, POLICY_CREATE_SECRET, policy.Put()) != kStatusSuccess)
        return false;
    LSA_UNICODE_STRING name = machine::CountedText(kSecretName);
    UniqueLsaText data;
    bool stored = machine::LsaRetrievePrivateData(policy.Get(), &name, data.Put()) == kStatusSuccess && data;
    // The whole buffer: the counted length may stop short of it.
    if (data && data.Get()->Buffer != nullptr)
        SecureZeroMemory(data.Get()->Buffer, std::max(data.Get()->MaximumLength, data.Get()->Length));
    data.Reset();
    policy.Reset();

    RegKey key = OpenWinlogon(KEY_READ);
    if (!stored)
        stored = HasTextValue(key.Get(), kSecretName);
    WString on;
    bool enabled = ReadText(key.Get(), L"AutoAdminLogon", on, false) && EqualsNoCase(on.Text(), L"1");
    return stored && enabled;
}

bool AutoLogonPasswordIs(const wchar_t* password)
{
    LSA_OBJECT_ATTRIBUTES attributes{};
    UniqueLsaPolicy policy;
    if (password == nullptr ||
        machine::LsaOpenPolicy(nullptr, &attributes, POLICY_GET_PRIVATE_INFORMATION, policy.Put()) != kStatusSuccess)
        return false;
    LSA_UNICODE_STRING name = machine::CountedText(kSecretName);
    UniqueLsaText data;
    if (machine::LsaRetrievePrivateData(policy.Get(), &name, data.Put()) != kStatusSuccess || !data)
        return false;
    const LSA_UNICODE_STRING& stored = *data.Get();
    const uint32_t length = TextLength(password);
    // As SetAutoLogon stores it: a short password padded with zeros.
    const uint32_t units = length < kPaddedPasswordChars ? kPaddedPasswordChars : length;
    bool same = stored.Buffer != nullptr && stored.Length == units * sizeof(wchar_t);
    // Every character looked at, whatever the first difference.
    wchar_t difference = 0;
    for (uint32_t i = 0; same && i < units; ++i)
        difference |= static_cast<wchar_t>(stored.Buffer[i] ^ (i < length ? password[i] : L'\0'));
    same = same && difference == 0;
    if (stored.Buffer != nullptr)
        SecureZeroMemory(stored.Buffer, std::max(stored.MaximumLength, stored.Length));
    return same;
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
    if (!WriteText(key.Get(), L"DefaultUserName", setting ? name : L""))
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
        WriteText(key.Get(), L"DefaultDomainName", domain.Text());
    }
    if (!setting) {
        // Off before the secret goes: a power cut between the two then
        // leaves the sign-in switched off, never switched on without its
        // password. A "1" left behind by such a cut is cleared as well.
        bool configured = IsAutoLogonConfigured();
        WString current;
        RegKey reading = OpenWinlogon(KEY_READ);
        if (ReadText(reading.Get(), L"AutoAdminLogon", current, false) && !EqualsNoCase(current.Text(), L"0") &&
            !WriteText(key.Get(), L"AutoAdminLogon", L"0"))
            return AutoLogonResult::Failed;
        if (!configured)
            return AutoLogonResult::NothingToClear;
    }

    LSA_OBJECT_ATTRIBUTES attributes{};
    UniqueLsaPolicy policy;
    if (machine::LsaOpenPolicy(nullptr, &attributes, POLICY_CREATE_SECRET, policy.Put()) != kStatusSuccess)
        return AutoLogonResult::Failed;
    NTSTATUS stored;
    LSA_UNICODE_STRING secretName = machine::CountedText(kSecretName);
    if (setting) {
        // Short passwords are stored as ten characters, padded with zeros.
        uint32_t length = TextLength(password);
        uint32_t units = length < kPaddedPasswordChars ? kPaddedPasswordChars : length;
        WString padded;
        wchar_t* buffer = padded.GetBuffer(units, nullptr, true);
        if (buffer == nullptr)
            return AutoLogonResult::Failed;
        memcpy(buffer, password, length * sizeof(wchar_t));
        LSA_UNICODE_STRING data;
        data.Buffer = buffer;
        data.Length = static_cast<USHORT>(units * sizeof(wchar_t));
        data.MaximumLength = static_cast<USHORT>(data.Length + sizeof(wchar_t));
        stored = machine::LsaStorePrivateData(policy.Get(), &secretName, &data);
        SecureZeroMemory(buffer, (units + 1) * sizeof(wchar_t));   // the whole allocation
    } else {
        stored = machine::LsaStorePrivateData(policy.Get(), &secretName, nullptr);
    }
    policy.Reset();

    // Switched on only with the new secret in place: after a failed store
    // the next start would sign in with the previous one. A failed store
    // switches it off instead, so no stale secret is ever used.
    const bool enable = setting && stored == kStatusSuccess;
    bool switched = WriteText(key.Get(), L"AutoAdminLogon", enable ? L"1" : L"0");
    // A plain-text password in the registry never survives a change.
    RegDeleteValueW(key.Get(), kSecretName);
    return stored == kStatusSuccess && switched ? AutoLogonResult::Done : AutoLogonResult::Failed;
}
