// Scenarios: INI files that describe a whole simulated machine. Reading one
// checks every line first; only a scenario that makes sense replaces the
// machine.
#include "sandbox/sandbox.h"

#include <windows.h>
#include <sddl.h>
#include <userenv.h>

#include <algorithm>
#include <filesystem>
#include <cwctype>
#include <vector>

#include "sandbox/profiles.h"
#include "sandbox/session_user.h"
#include "sandbox/state.h"

#ifndef VANTRELL_SCENARIO_DIR
#define VANTRELL_SCENARIO_DIR L"sandbox\\scenarios"
#endif

namespace sandbox {

namespace {

constexpr wchar_t kRunningAccount[] = L"*";
// Files a scenario made outside the profiles: value names are their paths,
// the data "file" or "folder" (removed only when empty).
constexpr wchar_t kScenarioFiles[] = L"ScenarioFiles";
// Where the repair's set-up records the SID of the temporary account it made.
constexpr wchar_t kRepairRecordKey[] = L"SOFTWARE\\Brenwick";
constexpr wchar_t kPasswordLessKey[] = L"SOFTWARE\\Microsoft\\Windows NT\\CurrentVersion\\PasswordLess\\Device";

struct AccountPlan {
    Account account;
    bool running = false;      // the account this process runs as
    std::wstring type = L"standard";
    std::wstring password;
    bool hidden = false;
    bool profile = false;
    bool corruptedProfile = false;
    bool brokenProfile = false;
    bool ownerFiles = false;   // the broken profile's files and pins, its hive sound
    // One cause of a profile that no longer loads (IsProfileFault), with a
    // value written in the hive before it.
    std::wstring profileFault;
    bool hasPicture = false;
    DWORD pictureColour = 0;
    bool repairShortcut = false;   // the repair tool's start-up shortcut in the profile
    bool repairMade = false;       // recorded by a repair's set-up as the temporary account it made
    // Personal folders set in the account's hive, which stays loaded as a
    // signed-in account's: "Value|Path;Value|Path", where a path may start
    // with %ProfilesDirectory%.
    std::wstring shellFolders;
    DWORD profileUnusedDays = 0;   // 0: the profile has never been loaded
    bool bareProfile = false;      // the folder with its NTUSER.DAT only (MakeBareProfile)
};

struct Plan {
    DWORD pageSize = 0;
    DWORD minimumPasswordLength = 0;
    bool profileService = true;
    bool securityPolicy = true;
    bool elevated = true;
    bool webBrowser = true;
    bool highContrast = false;
    std::wstring consoleUser = kRunningAccount;
    std::wstring autoLogon;
    bool plainTextPassword = false;      // the sign-in password as a registry value, not the secret
    bool autoLogonPasswordStored = true; // no: the password kept nowhere at all
    DWORD autoLogonCount = 0;            // 0: no such value
    bool forceAutoLogon = false;
    DWORD passwordLessDevice = 0;        // 0: no such value
    std::wstring strayProfileFolder;     // a folder of the profiles directory no entry names
    bool repairStateFile = false;        // a state file in the repair tool's folder
    bool repairJournal = false;          // a repair's journal in the repair tool's folder
    std::vector<AccountPlan> accounts;
    // Accounts deleted by hand: their SIDs stay in groups, rights and the
    // profile list.
    std::vector<AccountPlan> deleted;
    // Local groups made on this computer: [Group NAME] with a Description
    // and Members (account names, separated by commas).
    struct GroupPlan {
        std::wstring name, description, members;
    };
    std::vector<GroupPlan> groups;
};

std::vector<std::wstring> MultiString(const std::vector<wchar_t>& buffer)
{
    std::vector<std::wstring> items;
    for (const wchar_t* p = buffer.data(); *p != L'\0'; p += wcslen(p) + 1)
        items.emplace_back(p);
    return items;
}

std::vector<std::wstring> SectionNames(const std::wstring& path)
{
    std::vector<wchar_t> buffer(65536);
    DWORD length = GetPrivateProfileSectionNamesW(buffer.data(), static_cast<DWORD>(buffer.size()), path.c_str());
    buffer.resize(length + 2, L'\0');
    return MultiString(buffer);
}

std::vector<std::wstring> SectionLines(const std::wstring& path, const std::wstring& section)
{
    std::vector<wchar_t> buffer(65536);
    DWORD length = GetPrivateProfileSectionW(section.c_str(), buffer.data(), static_cast<DWORD>(buffer.size()),
                                             path.c_str());
    buffer.resize(length + 2, L'\0');
    return MultiString(buffer);
}

std::wstring Trimmed(const std::wstring& text)
{
    size_t first = text.find_first_not_of(L" \t");
    if (first == std::wstring::npos)
        return L"";
    size_t last = text.find_last_not_of(L" \t");
    return text.substr(first, last - first + 1);
}

bool Same(const std::wstring& a, const wchar_t* b)
{
    return _wcsicmp(a.c_str(), b) == 0;
}

class Reader {
public:
    explicit Reader(std::wstring* error) : error_(error) {}

    bool Fail(const std::wstring& section, const std::wstring& message)
    {
        if (error_ != nullptr)
            *error_ = L"[" + section + L"] " + message;
        return false;
    }

    bool YesNo(const std::wstring& section, const std::wstring& key, const std::wstring& value, bool* out)
    {
        if (Same(value, L"yes") || value == L"1") {
            *out = true;
            return true;
        }
        if (Same(value, L"no") || value == L"0") {
            *out = false;
            return true;
        }
        return Fail(section, key + L" must be yes or no, not \"" + value + L"\"");
    }

    bool Number(const std::wstring& section, const std::wstring& key, const std::wstring& value, DWORD* out,
                int base = 10)
    {
        wchar_t* end = nullptr;
        unsigned long number = wcstoul(value.c_str(), &end, base);
        if (value.empty() || *end != L'\0')
            return Fail(section, key + L" must be a number, not \"" + value + L"\"");
        *out = static_cast<DWORD>(number);
        return true;
    }

private:
    std::wstring* error_;
};

// One line of a section: the setting's name and where its value goes.
struct Setting {
    enum Kind { Number, Hex, YesNo, Flag, Text } kind;
    const wchar_t* key;
    void* target;      // DWORD for Number, Hex and Flag; bool for YesNo; std::wstring for Text
    DWORD flag = 0;    // for Flag: the bit a "yes" sets
    bool* seen = nullptr;
};

bool ReadSettings(Reader& reader, const std::wstring& section, const std::vector<std::wstring>& lines,
                  std::initializer_list<Setting> settings)
{
    for (const std::wstring& line : lines) {
        size_t equals = line.find(L'=');
        if (equals == std::wstring::npos)
            return reader.Fail(section, L"line without '=': " + line);
        std::wstring key = Trimmed(line.substr(0, equals)), value = Trimmed(line.substr(equals + 1));
        const Setting* setting = std::find_if(settings.begin(), settings.end(),
                                              [&](const Setting& s) { return Same(key, s.key); });
        if (setting == settings.end())
            return reader.Fail(section, L"unknown setting " + key);
        bool ok = true, yes = false;
        switch (setting->kind) {
        case Setting::Number:
            ok = reader.Number(section, key, value, static_cast<DWORD*>(setting->target));
            break;
        case Setting::Hex:
            ok = reader.Number(section, key, value, static_cast<DWORD*>(setting->target), 16);
            break;
        case Setting::YesNo:
            ok = reader.YesNo(section, key, value, static_cast<bool*>(setting->target));
            break;
        case Setting::Flag:
            ok = reader.YesNo(section, key, value, &yes);
            if (yes)
                *static_cast<DWORD*>(setting->target) |= setting->flag;
            break;
        case Setting::Text:
            *static_cast<std::wstring*>(setting->target) = value;
            break;
        }
        if (!ok)
            return false;
        if (setting->seen != nullptr)
            *setting->seen = true;
    }
    return true;
}

bool ReadMachine(Reader& reader, const std::wstring& section, const std::vector<std::wstring>& lines, Plan* plan)
{
    return ReadSettings(reader, section, lines, {
        {Setting::Number, L"AccountsPerPage", &plan->pageSize},
        {Setting::Number, L"MinimumPasswordLength", &plan->minimumPasswordLength},
        {Setting::YesNo, L"ProfileService", &plan->profileService},
        {Setting::YesNo, L"SecurityPolicy", &plan->securityPolicy},
        {Setting::YesNo, L"Elevated", &plan->elevated},
        {Setting::YesNo, L"WebBrowser", &plan->webBrowser},
        {Setting::YesNo, L"HighContrast", &plan->highContrast},
        {Setting::Text, L"ConsoleUser", &plan->consoleUser},
        {Setting::Text, L"AutoLogon", &plan->autoLogon},
        {Setting::YesNo, L"PlainTextAutoLogonPassword", &plan->plainTextPassword},
        {Setting::YesNo, L"AutoLogonPasswordStored", &plan->autoLogonPasswordStored},
        {Setting::Number, L"AutoLogonCount", &plan->autoLogonCount},
        {Setting::YesNo, L"ForceAutoLogon", &plan->forceAutoLogon},
        {Setting::Number, L"PasswordLessDevice", &plan->passwordLessDevice},
        {Setting::Text, L"StrayProfileFolder", &plan->strayProfileFolder},
        {Setting::YesNo, L"RepairStateFile", &plan->repairStateFile},
        {Setting::YesNo, L"RepairJournal", &plan->repairJournal},
    });
}

bool ReadAccount(Reader& reader, const std::wstring& section, const std::wstring& name,
                 const std::vector<std::wstring>& lines, AccountPlan* plan)
{
    plan->running = name == kRunningAccount;
    plan->account.name = plan->running ? ProcessUserName() : name;
    Account& a = plan->account;
    if (!ReadSettings(reader, section, lines, {
            {Setting::Number, L"Rid", &a.rid},
            {Setting::Text, L"FullName", &a.fullName},
            {Setting::Text, L"Comment", &a.comment},
            {Setting::Text, L"Type", &plan->type},
            {Setting::Text, L"Password", &plan->password},
            {Setting::YesNo, L"PasswordExpired", &a.passwordExpired},
            {Setting::YesNo, L"Hidden", &plan->hidden},
            {Setting::YesNo, L"Profile", &plan->profile},
            {Setting::YesNo, L"CorruptedProfile", &plan->corruptedProfile},
            {Setting::YesNo, L"BrokenProfile", &plan->brokenProfile},
            {Setting::YesNo, L"OwnerFiles", &plan->ownerFiles},
            {Setting::Text, L"ProfileFault", &plan->profileFault},
            {Setting::YesNo, L"Unreadable", &a.unreadable},
            {Setting::Hex, L"Picture", &plan->pictureColour, 0, &plan->hasPicture},
            {Setting::Flag, L"Disabled", &a.flags, UF_ACCOUNTDISABLE},
            {Setting::Flag, L"LockedOut", &a.flags, UF_LOCKOUT},
            {Setting::Flag, L"PasswordNeverExpires", &a.flags, UF_DONT_EXPIRE_PASSWD},
            {Setting::Flag, L"PasswordCannotChange", &a.flags, UF_PASSWD_CANT_CHANGE},
            {Setting::Flag, L"PasswordNotRequired", &a.flags, UF_PASSWD_NOTREQD},
            {Setting::YesNo, L"RepairShortcut", &plan->repairShortcut},
            {Setting::YesNo, L"RepairMade", &plan->repairMade},
            {Setting::Text, L"ShellFolders", &plan->shellFolders},
            {Setting::Number, L"ProfileUnusedDays", &plan->profileUnusedDays},
            {Setting::Number, L"AccountExpires", &a.accountExpires},
        }))
        return false;
    if (!Same(plan->type, L"administrator") && !Same(plan->type, L"standard") && !Same(plan->type, L"guest") &&
        !Same(plan->type, L"none"))
        return reader.Fail(section, L"Type must be administrator, standard, guest or none");
    if (!plan->profileFault.empty() && !IsProfileFault(plan->profileFault))
        return reader.Fail(section, L"ProfileFault must be one of " + std::wstring(kProfileFaults));
    if ((plan->corruptedProfile || plan->brokenProfile || !plan->profileFault.empty()) && plan->running)
        return reader.Fail(section, L"the running account's own profile cannot be broken");
    if (plan->corruptedProfile || plan->brokenProfile || plan->ownerFiles || !plan->profileFault.empty())
        plan->profile = true;
    if (plan->brokenProfile && plan->running)
        return reader.Fail(section, L"the running account's own profile cannot be broken");
    // The running account's profile and hive are the Wine prefix's own.
    if ((plan->repairShortcut || !plan->shellFolders.empty()) && plan->running)
        return reader.Fail(section, L"the running account's own profile cannot hold RepairShortcut or ShellFolders");
    if (plan->repairShortcut || !plan->shellFolders.empty() || plan->profileUnusedDays != 0)
        plan->profile = true;
    return true;
}

// Many similar accounts: "[Generated]" with Count, NamePrefix, Type,
// Pictures (each account a picture of a colour of its own) and Profiles
// (each a bare profile last used from 1 to 730 days ago).
bool ReadGenerated(Reader& reader, const std::wstring& section, const std::vector<std::wstring>& lines, Plan* plan)
{
    DWORD count = 0;
    std::wstring prefix = L"user", type = L"standard";
    bool pictures = false, profiles = false;
    if (!ReadSettings(reader, section, lines, {
            {Setting::Number, L"Count", &count},
            {Setting::Text, L"NamePrefix", &prefix},
            {Setting::Text, L"Type", &type},
            {Setting::YesNo, L"Pictures", &pictures},
            {Setting::YesNo, L"Profiles", &profiles},
        }))
        return false;
    if (count > 5000)
        return reader.Fail(section, L"Count above 5000");
    for (DWORD i = 1; i <= count; ++i) {
        AccountPlan generated;
        wchar_t number[16];
        swprintf(number, ARRAYSIZE(number), L"%03lu", static_cast<unsigned long>(i));
        generated.account.name = prefix + number;
        generated.account.fullName = L"Staff member " + std::to_wstring(i);
        generated.type = type;
        // Every third one has a password, every tenth is disabled.
        if (i % 3 == 0)
            generated.password = L"Pass" + std::to_wstring(i) + L"word";
        if (i % 10 == 0)
            generated.account.flags |= UF_ACCOUNTDISABLE;
        if (pictures) {
            generated.hasPicture = true;
            generated.pictureColour = ((i * 67) % 256) << 16 | ((i * 151) % 256) << 8 | ((i * 29 + 80) % 256);
        }
        if (profiles) {
            generated.profile = generated.bareProfile = true;
            generated.profileUnusedDays = 1 + (i * 37) % 730;
        }
        plan->accounts.push_back(std::move(generated));
    }
    return true;
}

bool ReadPlan(const std::wstring& path, Plan* plan, std::wstring* error)
{
    Reader reader(error);
    if (GetFileAttributesW(path.c_str()) == INVALID_FILE_ATTRIBUTES)
        return reader.Fail(path, L"the scenario file cannot be found");
    for (const std::wstring& section : SectionNames(path)) {
        std::vector<std::wstring> lines = SectionLines(path, section);
        bool ok;
        if (Same(section, L"Machine"))
            ok = ReadMachine(reader, section, lines, plan);
        else if (Same(section, L"Generated"))
            ok = ReadGenerated(reader, section, lines, plan);
        else if (section.size() > 8 && _wcsnicmp(section.c_str(), L"Account ", 8) == 0) {
            AccountPlan account;
            ok = ReadAccount(reader, section, Trimmed(section.substr(8)), lines, &account);
            plan->accounts.push_back(std::move(account));
        } else if (section.size() > 16 && _wcsnicmp(section.c_str(), L"Deleted account ", 16) == 0) {
            AccountPlan account;
            ok = ReadAccount(reader, section, Trimmed(section.substr(16)), lines, &account);
            if (ok && (account.running || account.account.rid < 1000))
                ok = reader.Fail(section, L"a deleted account needs a Rid of 1000 or more");
            plan->deleted.push_back(std::move(account));
        } else if (section.size() > 6 && _wcsnicmp(section.c_str(), L"Group ", 6) == 0) {
            Plan::GroupPlan group;
            group.name = Trimmed(section.substr(6));
            ok = ReadSettings(reader, section, lines, {
                {Setting::Text, L"Description", &group.description},
                {Setting::Text, L"Members", &group.members},
            });
            plan->groups.push_back(std::move(group));
        } else
            return reader.Fail(section, L"unknown section");
        if (!ok)
            return false;
    }
    // Names are unique without regard to case, and so are RIDs.
    for (size_t i = 0; i < plan->accounts.size(); ++i) {
        for (size_t j = i + 1; j < plan->accounts.size(); ++j) {
            const Account& a = plan->accounts[i].account;
            const Account& b = plan->accounts[j].account;
            if (_wcsicmp(a.name.c_str(), b.name.c_str()) == 0)
                return reader.Fail(L"Account " + b.name, L"the name is used twice");
            if (a.rid != 0 && a.rid == b.rid)
                return reader.Fail(L"Account " + b.name, L"the RID is used twice");
        }
    }
    return true;
}

// The running account's SID decides the machine's domain and its own RID.
void SettleRids(Plan* plan, const std::wstring& processSid)
{
    size_t cut = processSid.rfind(L'-');
    DWORD runningRid = cut != std::wstring::npos ? wcstoul(processSid.c_str() + cut + 1, nullptr, 10) : 1000;
    DWORD next = 1001;
    for (const AccountPlan& p : plan->accounts)
        next = std::max(next, p.account.rid + 1);
    for (const AccountPlan& p : plan->deleted)
        next = std::max(next, p.account.rid + 1);
    next = std::max(next, runningRid + 1);
    for (AccountPlan& p : plan->accounts) {
        if (p.running)
            p.account.rid = runningRid;
        else if (p.account.rid == 0)
            p.account.rid = next++;
    }
}

void WriteAutoLogon(const Plan& plan)
{
    Key winlogon;
    if (RegCreateKeyExW(HKEY_LOCAL_MACHINE, kWinlogonKey, 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, winlogon.Put(),
                        nullptr) != ERROR_SUCCESS)
        return;
    wchar_t computer[MAX_COMPUTERNAME_LENGTH + 1] = L"";
    DWORD length = ARRAYSIZE(computer);
    GetComputerNameW(computer, &length);
    DeleteSecret(L"DefaultPassword");
    for (const wchar_t* value : {L"DefaultPassword", L"AutoLogonCount", L"ForceAutoLogon"})
        RegDeleteValueW(winlogon.Get(), value);
    if (plan.autoLogonCount != 0)
        WriteDword(winlogon.Get(), L"AutoLogonCount", plan.autoLogonCount);
    if (plan.forceAutoLogon)
        WriteString(winlogon.Get(), L"ForceAutoLogon", L"1");
    Key device;
    if (RegCreateKeyExW(HKEY_LOCAL_MACHINE, kPasswordLessKey, 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, device.Put(),
                        nullptr) == ERROR_SUCCESS) {
        RegDeleteValueW(device.Get(), L"DevicePasswordLessBuildVersion");
        if (plan.passwordLessDevice != 0)
            WriteDword(device.Get(), L"DevicePasswordLessBuildVersion", plan.passwordLessDevice);
    }
    const AccountPlan* chosen = nullptr;
    for (const AccountPlan& p : plan.accounts) {
        if (!plan.autoLogon.empty() && _wcsicmp(p.account.name.c_str(), plan.autoLogon.c_str()) == 0)
            chosen = &p;
    }
    if (chosen != nullptr) {
        WriteString(winlogon.Get(), L"AutoAdminLogon", L"1");
        WriteString(winlogon.Get(), L"DefaultUserName", chosen->account.name);
        WriteString(winlogon.Get(), L"DefaultDomainName", computer);
        if (plan.autoLogonPasswordStored && plan.plainTextPassword)
            WriteString(winlogon.Get(), L"DefaultPassword", chosen->password);
        else if (plan.autoLogonPasswordStored)
            WriteSecret(L"DefaultPassword", reinterpret_cast<const BYTE*>(chosen->password.c_str()),
                        static_cast<DWORD>(chosen->password.size() * sizeof(wchar_t)));
    } else {
        // The system keeps the last account's name with sign-in turned off.
        WriteString(winlogon.Get(), L"AutoAdminLogon", L"0");
        WriteString(winlogon.Get(), L"DefaultUserName", ProcessUserName());
        WriteString(winlogon.Get(), L"DefaultDomainName", computer);
    }
}

// The pair the profile service leaves when it cannot load a profile: the
// real entry backed up as SID.bak, and a new entry for a temporary profile.
void CorruptProfile(const std::wstring& sid)
{
    std::wstring list = kProfileListKey;
    Key original;
    if (RegOpenKeyExW(HKEY_LOCAL_MACHINE, (list + L"\\" + sid).c_str(), 0, KEY_ALL_ACCESS, original.Put()) !=
        ERROR_SUCCESS)
        return;
    Key backup;
    if (RegCreateKeyExW(HKEY_LOCAL_MACHINE, (list + L"\\" + sid + L".bak").c_str(), 0, nullptr, 0, KEY_ALL_ACCESS,
                        nullptr, backup.Put(), nullptr) != ERROR_SUCCESS)
        return;
    RememberProfileKey(sid + L".bak");
    RegCopyTreeW(original.Get(), nullptr, backup.Get());
    WriteDword(backup.Get(), L"State", 0x8000);
    WriteDword(backup.Get(), L"RefCount", 1);

    wchar_t profiles[MAX_PATH] = L"C:\\users";
    DWORD length = ARRAYSIZE(profiles);
    GetProfilesDirectoryW(profiles, &length);
    std::wstring temp = std::wstring(profiles) + L"\\TEMP";
    CreateDirectoryW(temp.c_str(), nullptr);
    RememberProfileFolder(temp);
    WriteString(original.Get(), L"ProfileImagePath", temp, REG_EXPAND_SZ);
    WriteDword(original.Get(), L"State", 0x804);
    WriteDword(original.Get(), L"RefCount", 1);
}

// An empty file; false when it cannot be made.
bool WriteFileOf(const std::wstring& path)
{
    HANDLE file = CreateFileW(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE)
        return false;
    CloseHandle(file);
    return true;
}

// A file outside the profiles, remembered so that the next reset removes it.
bool WriteScenarioFile(const std::wstring& path)
{
    if (!WriteFileOf(path))
        return false;
    Key made = OpenState(kScenarioFiles, true);
    WriteString(made.Get(), path.c_str(), L"file");
    return true;
}

// "Value|Path;Value|Path" into the account's hive, loaded as a signed-in
// account's hive is; a path may start with %ProfilesDirectory%.
void WriteShellFolders(const std::wstring& sid, const std::wstring& list, const std::wstring& profilesDirectory)
{
    Key root = OpenUserHive(sid);
    Key folders;
    if (!root || RegCreateKeyExW(root.Get(), L"Software\\Microsoft\\Windows\\CurrentVersion\\Explorer\\User Shell Folders",
                                 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, folders.Put(), nullptr) != ERROR_SUCCESS)
        return;
    const std::wstring placeholder = L"%ProfilesDirectory%";
    for (size_t start = 0; start < list.size();) {
        size_t end = list.find(L';', start);
        std::wstring item = list.substr(start, end == std::wstring::npos ? std::wstring::npos : end - start);
        start = end == std::wstring::npos ? list.size() : end + 1;
        size_t bar = item.find(L'|');
        if (bar == std::wstring::npos)
            continue;
        std::wstring path = item.substr(bar + 1);
        if (_wcsnicmp(path.c_str(), placeholder.c_str(), placeholder.size()) == 0)
            path = profilesDirectory + path.substr(placeholder.size());
        WriteString(folders.Get(), item.substr(0, bar).c_str(), path, REG_EXPAND_SZ);
    }
}

// The repair tool's folder at the root of the Windows drive; empty when
// the Windows folder is unknown.
std::wstring RepairToolFolder()
{
    wchar_t windows[MAX_PATH] = L"";
    return GetWindowsDirectoryW(windows, ARRAYSIZE(windows)) >= 2 ? std::wstring(windows, 2) + L"\\Brenwick"
                                                                  : std::wstring();
}

void Build(const Plan& plan, const std::wstring& scenario)
{
    std::wstring processSid = ProcessUserSid();
    size_t cut = processSid.rfind(L'-');
    std::wstring domain = cut != std::wstring::npos ? processSid.substr(0, cut) : L"S-1-5-21-0-0-0";

    Key state = OpenState(L"", true);
    WriteString(state.Get(), kDomainSid, domain);
    WriteString(state.Get(), kScenario, scenario);
    WriteDword(state.Get(), kPageSize, plan.pageSize);
    WriteDword(state.Get(), kMinimumPasswordLength, plan.minimumPasswordLength);
    WriteDword(state.Get(), kProfileService, plan.profileService);
    WriteDword(state.Get(), kSecurityPolicy, plan.securityPolicy);
    WriteDword(state.Get(), kElevated, plan.elevated);
    WriteDword(state.Get(), kWebBrowser, plan.webBrowser);
    WriteDword(state.Get(), kHighContrast, plan.highContrast);
    if (Same(plan.consoleUser, L"none"))
        WriteString(state.Get(), kConsoleUser, L"");
    else if (plan.consoleUser != kRunningAccount)
        WriteString(state.Get(), kConsoleUser, plan.consoleUser);

    DWORD nextRid = 1001;
    for (const AccountPlan& p : plan.accounts) {
        Account a = p.account;
        nextRid = std::max(nextRid, a.rid + 1);
        a.flags |= UF_SCRIPT | UF_NORMAL_ACCOUNT;
        a.hasPassword = !p.password.empty();
        a.passwordHash = a.hasPassword ? HashPassword(a.rid, p.password.c_str()) : 0;
        a.passwordSetTime = Now() - 86400 * 30;
        std::wstring sid = AccountSid(a.rid);
        if (p.hasPicture) {
            std::wstring picture = PictureFolder() + L"\\" + a.name + L".bmp";
            if (DrawPicture(picture, p.pictureColour)) {
                a.picture = picture;
                RememberProfileFolder(picture);
            }
        }
        SaveAccount(a);
        if (Same(p.type, L"administrator"))
            AddMember(kAdministratorsRid, sid);
        else if (Same(p.type, L"standard"))
            AddMember(kUsersRid, sid);
        else if (Same(p.type, L"guest"))
            AddMember(kGuestsRid, sid);
        if (p.hidden)
            SetRights(sid, {L"SeDenyInteractiveLogonRight"});
        if (p.repairMade) {
            Key record;
            if (RegCreateKeyExW(HKEY_LOCAL_MACHINE, kRepairRecordKey, 0, nullptr, 0, KEY_ALL_ACCESS, nullptr,
                                record.Put(), nullptr) == ERROR_SUCCESS)
                WriteString(record.Get(), L"TempAccountSid", sid);
        }
        if (p.profile && ProfileFolderOf(sid).empty()) {
            if (p.running) {
                // Wine's own profile of the running account, given the entry it lacks.
                wchar_t folder[MAX_PATH] = L"";
                DWORD length = ARRAYSIZE(folder);
                if (GetUserProfileDirectoryW(nullptr, folder, &length) || ExpandEnvironmentStringsW(
                        L"%USERPROFILE%", folder, ARRAYSIZE(folder))) {
                    Key entry;
                    if (RegCreateKeyExW(HKEY_LOCAL_MACHINE, (std::wstring(kProfileListKey) + L"\\" + sid).c_str(),
                                        0, nullptr, 0, KEY_ALL_ACCESS, nullptr, entry.Put(), nullptr) ==
                        ERROR_SUCCESS) {
                        RememberProfileKey(sid);
                        WriteString(entry.Get(), L"ProfileImagePath", folder, REG_EXPAND_SZ);
                        WriteDword(entry.Get(), L"State", 0);
                        WriteDword(entry.Get(), L"RefCount", 0);
                    }
                }
            } else if (p.bareProfile) {
                MakeBareProfile(sid, a.name, p.profileUnusedDays);
            } else {
                MakeProfile(sid, a.name, nullptr);
            }
        }
        if (p.profileUnusedDays != 0 && !p.bareProfile)
            SetProfileLastUse(sid, p.profileUnusedDays);
        if (p.brokenProfile)
            BreakProfile(sid);
        else if (p.ownerFiles)
            FillProfile(sid);
        if (p.corruptedProfile)
            CorruptProfile(sid);
        if (!p.profileFault.empty())
            FaultProfile(sid, p.profileFault);
    }
    for (const AccountPlan& p : plan.deleted) {
        std::wstring sid = AccountSid(p.account.rid);
        nextRid = std::max(nextRid, p.account.rid + 1);
        if (Same(p.type, L"administrator"))
            AddMember(kAdministratorsRid, sid);
        else if (Same(p.type, L"standard"))
            AddMember(kUsersRid, sid);
        if (p.hidden)
            SetRights(sid, {L"SeDenyInteractiveLogonRight"});
        if (p.profile && ProfileFolderOf(sid).empty())
            MakeProfile(sid, p.account.name, nullptr);
        if (p.profileUnusedDays != 0)
            SetProfileLastUse(sid, p.profileUnusedDays);
    }
    wchar_t profiles[MAX_PATH] = L"";
    DWORD profilesLength = ARRAYSIZE(profiles);
    GetProfilesDirectoryW(profiles, &profilesLength);
    if (!plan.strayProfileFolder.empty() && profiles[0] != L'\0') {
        std::wstring stray = std::wstring(profiles) + L"\\" + plan.strayProfileFolder;
        if (CreateDirectoryW(stray.c_str(), nullptr) || GetLastError() == ERROR_ALREADY_EXISTS)
            RememberProfileFolder(stray);
    }
    const std::wstring toolFolder = RepairToolFolder();
    struct ToolFile {
        bool wanted;
        const wchar_t* name;
    } const toolFiles[] = {{plan.repairStateFile, L"\\Brenwick.ini"}, {plan.repairJournal, L"\\BrenwickJournal.txt"}};
    bool madeFolder = false;
    for (const ToolFile& tool : toolFiles) {
        if (!tool.wanted || toolFolder.empty())
            continue;
        madeFolder = CreateDirectoryW(toolFolder.c_str(), nullptr) != FALSE || madeFolder;
        if (WriteScenarioFile(toolFolder + tool.name) && madeFolder) {
            Key made = OpenState(kScenarioFiles, true);
            WriteString(made.Get(), toolFolder.c_str(), L"folder");
        }
    }
    for (const AccountPlan& p : plan.accounts) {
        std::wstring sid = AccountSid(p.account.rid), profile = ProfileFolderOf(sid);
        if (profile.empty() || p.running)
            continue;
        // Inside the profile: it goes with the profile's folder at a reset.
        if (p.repairShortcut)
            WriteFileOf(profile + L"\\AppData\\Roaming\\Microsoft\\Windows\\Start Menu\\Programs\\Startup\\BrenwickTask.lnk");
        if (!p.shellFolders.empty())
            WriteShellFolders(sid, p.shellFolders, profiles);
    }
    WriteDword(state.Get(), kNextRid, nextRid);
    for (const Plan::GroupPlan& g : plan.groups) {
        DomainAlias alias;
        alias.rid = AllocateRid();
        alias.name = g.name;
        alias.comment = g.description;
        SaveDomainAlias(alias);
        for (size_t start = 0; start < g.members.size();) {
            size_t comma = g.members.find(L',', start);
            if (comma == std::wstring::npos)
                comma = g.members.size();
            Account member;
            if (FindAccount(Trimmed(g.members.substr(start, comma - start)).c_str(), &member))
                AddMember(alias.rid, AccountSid(member.rid));
            start = comma + 1;
        }
    }
    WriteAutoLogon(plan);
}

}  // namespace

bool ResetMachine(const std::wstring& path, std::wstring* error)
{
    Plan plan;
    if (!ReadPlan(path, &plan, error))
        return false;
    SettleRids(&plan, ProcessUserSid());

    StateLock lock;
    EndSessionForReset();
    RemoveSandboxProfiles();
    {
        Key made = OpenState(kScenarioFiles, false);
        std::vector<std::wstring> paths = ValueNames(made.Get());
        for (const std::wstring& path : paths) {
            if (ReadString(made.Get(), path.c_str(), L"") == L"file")
                DeleteFileW(path.c_str());
        }
        for (const std::wstring& path : paths)
            RemoveDirectoryW(path.c_str());
    }
    // A repair an earlier run set up (its journal, state file, log and
    // program) belongs to that run's machine, not to the scenario.
    if (const std::wstring toolFolder = RepairToolFolder(); !toolFolder.empty()) {
        std::error_code ignored;
        std::filesystem::remove_all(toolFolder, ignored);
    }
    DeleteTree(HKEY_LOCAL_MACHINE, kStateKey);
    DeleteTree(HKEY_LOCAL_MACHINE, kRepairRecordKey);
    std::wstring scenario = path.substr(path.find_last_of(L"\\/") + 1);
    Build(plan, scenario);
    if (error != nullptr)
        error->clear();
    return true;
}

std::wstring ScenarioFolder()
{
    std::wstring folder = VANTRELL_SCENARIO_DIR;
    std::replace(folder.begin(), folder.end(), L'/', L'\\');
    return folder;
}

std::wstring ScenarioPath(const std::wstring& name)
{
    return ScenarioFolder() + L"\\" + name + L".ini";
}

}  // namespace sandbox
