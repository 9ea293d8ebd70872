// The security of a hive's keys, kept in the hive file as the system keeps
// it. Wine holds a key's owner and DACL only in memory: a hive saved and
// loaded again comes back with every key on the server's default. The
// simulated machine writes each key's own security into the file it saves,
// as comment lines Wine's loader skips, and gives it back to the keys when
// it loads the file. A key that has none of its own (Wine gives every new
// key the same descriptor instead of its parent's inheritable entries) takes
// its nearest ancestor's, as the system's inheritance would give it.
#include "sandbox/key_security.h"

#include <sddl.h>

#include <string>
#include <vector>

#include "platform/handles.h"
#include "sandbox/state.h"

namespace sandbox {

namespace {

constexpr char kTag[] = ";vantrell-security ";
constexpr wchar_t kProbeName[] = L"VantrellSandboxSecurityProbe";
constexpr SECURITY_INFORMATION kOwnerAndDacl = OWNER_SECURITY_INFORMATION | DACL_SECURITY_INFORMATION;
constexpr int kMaxDepth = 64;

std::wstring SddlOfKey(HKEY key)
{
    DWORD size = 0;
    if (RegGetKeySecurity(key, kOwnerAndDacl, nullptr, &size) != ERROR_INSUFFICIENT_BUFFER || size == 0)
        return L"";
    std::vector<BYTE> descriptor(size);
    if (RegGetKeySecurity(key, kOwnerAndDacl, descriptor.data(), &size) != ERROR_SUCCESS)
        return L"";
    LPWSTR text = nullptr;
    if (!ConvertSecurityDescriptorToStringSecurityDescriptorW(descriptor.data(), SDDL_REVISION_1, kOwnerAndDacl, &text,
                                                              nullptr))
        return L"";
    std::wstring sddl = text;
    LocalFree(text);
    return sddl;
}

// What a key made here without security of its own gets.
std::wstring DefaultSddl(HKEY root)
{
    Key probe;
    if (RegCreateKeyExW(root, kProbeName, 0, nullptr, REG_OPTION_VOLATILE, KEY_ALL_ACCESS, nullptr, probe.Put(),
                        nullptr) != ERROR_SUCCESS)
        return L"";
    std::wstring sddl = SddlOfKey(probe.Get());
    probe.Reset();
    RegDeleteKeyW(root, kProbeName);
    return sddl;
}

bool IsLink(HKEY key)
{
    DWORD type = REG_NONE, size = 0;
    return RegQueryValueExW(key, L"SymbolicLinkValue", nullptr, &type, nullptr, &size) == ERROR_SUCCESS &&
           type == REG_LINK;
}

std::string Utf8(const std::wstring& text)
{
    int size = WideCharToMultiByte(CP_UTF8, 0, text.c_str(), static_cast<int>(text.size()), nullptr, 0, nullptr, nullptr);
    std::string out(static_cast<size_t>(size > 0 ? size : 0), '\0');
    if (size > 0)
        WideCharToMultiByte(CP_UTF8, 0, text.c_str(), static_cast<int>(text.size()), &out[0], size, nullptr, nullptr);
    return out;
}

std::wstring Wide(const std::string& text)
{
    int size = MultiByteToWideChar(CP_UTF8, 0, text.c_str(), static_cast<int>(text.size()), nullptr, 0);
    std::wstring out(static_cast<size_t>(size > 0 ? size : 0), L'\0');
    if (size > 0)
        MultiByteToWideChar(CP_UTF8, 0, text.c_str(), static_cast<int>(text.size()), &out[0], size);
    return out;
}

// Every key below `key` (itself at `path`) with security of its own, as lines.
void Collect(HKEY key, const std::wstring& path, const std::wstring& standard, std::string& lines, int depth)
{
    const std::wstring sddl = SddlOfKey(key);
    if (!sddl.empty() && sddl != standard && path.find_first_of(L"\r\n") == std::wstring::npos)
        lines += kTag + Utf8(sddl) + "|" + Utf8(path) + "\n";
    if (depth >= kMaxDepth || IsLink(key))
        return;
    for (DWORD i = 0;; ++i) {
        wchar_t name[256];
        DWORD length = ARRAYSIZE(name);
        if (RegEnumKeyExW(key, i, name, &length, nullptr, nullptr, nullptr, nullptr) != ERROR_SUCCESS)
            break;
        Key child;
        if (RegOpenKeyExW(key, name, REG_OPTION_OPEN_LINK, READ_CONTROL | KEY_ENUMERATE_SUB_KEYS | KEY_QUERY_VALUE,
                          child.Put()) == ERROR_SUCCESS)
            Collect(child.Get(), path.empty() ? name : path + L"\\" + name, standard, lines, depth + 1);
    }
}

std::string ReadFileBytes(const std::wstring& file)
{
    std::string bytes;
    UniqueFileHandle in(CreateFileW(file.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_DELETE, nullptr,
                                    OPEN_EXISTING, 0, nullptr));
    char buffer[65536];
    DWORD read = 0;
    while (in && ReadFile(in.Get(), buffer, sizeof(buffer), &read, nullptr) && read > 0)
        bytes.append(buffer, read);
    return bytes;
}

// The ancestors' entries a key inherits: those marked for containers.
bool Evaluate(const std::wstring& sddl, PSID account, bool inherited, bool* allowed)
{
    PSECURITY_DESCRIPTOR descriptor = nullptr;
    if (!ConvertStringSecurityDescriptorToSecurityDescriptorW(sddl.c_str(), SDDL_REVISION_1, &descriptor, nullptr))
        return false;
    BOOL present = FALSE, defaulted = FALSE;
    PACL dacl = nullptr;
    GetSecurityDescriptorDacl(descriptor, &present, &dacl, &defaulted);
    bool granted = !present || dacl == nullptr, denied = false;
    for (DWORD i = 0; dacl != nullptr && i < dacl->AceCount; ++i) {
        ACE_HEADER* header = nullptr;
        if (!GetAce(dacl, i, reinterpret_cast<void**>(&header)))
            continue;
        const bool applies = inherited ? (header->AceFlags & CONTAINER_INHERIT_ACE) != 0
                                       : (header->AceFlags & INHERIT_ONLY_ACE) == 0;
        auto* ace = reinterpret_cast<ACCESS_ALLOWED_ACE*>(header);   // the denied ACE has the same layout
        if (!applies || !EqualSid(&ace->SidStart, account))
            continue;
        const bool reads = (ace->Mask & GENERIC_ALL) != 0 || (ace->Mask & GENERIC_READ) != 0 ||
                           (ace->Mask & KEY_READ) == KEY_READ;
        if (header->AceType == ACCESS_ALLOWED_ACE_TYPE && reads)
            granted = true;
        else if (header->AceType == ACCESS_DENIED_ACE_TYPE)
            denied = true;
    }
    LocalFree(descriptor);
    *allowed = granted && !denied;
    return true;
}

}  // namespace

bool AppendKeySecurity(HKEY root, const std::wstring& file)
{
    std::string lines;
    Collect(root, L"", DefaultSddl(root), lines, 0);
    if (lines.empty())
        return true;
    UniqueFileHandle out(CreateFileW(file.c_str(), FILE_APPEND_DATA, 0, nullptr, OPEN_EXISTING, 0, nullptr));
    DWORD written = 0;
    return out && WriteFile(out.Get(), lines.data(), static_cast<DWORD>(lines.size()), &written, nullptr) &&
           written == lines.size();
}

bool AppendRootSecurity(const std::wstring& file, const std::wstring& sddl)
{
    const std::string line = kTag + Utf8(sddl) + "|\n";
    UniqueFileHandle out(CreateFileW(file.c_str(), FILE_APPEND_DATA, 0, nullptr, OPEN_EXISTING, 0, nullptr));
    DWORD written = 0;
    return out && WriteFile(out.Get(), line.data(), static_cast<DWORD>(line.size()), &written, nullptr) &&
           written == line.size();
}

void RestoreKeySecurity(HKEY root, const std::wstring& file)
{
    const std::string bytes = ReadFileBytes(file);
    for (size_t at = bytes.find(kTag); at != std::string::npos; at = bytes.find(kTag, at + 1)) {
        if (at != 0 && bytes[at - 1] != '\n')
            continue;
        const size_t end = bytes.find('\n', at);
        const std::string line = bytes.substr(at + sizeof(kTag) - 1, end == std::string::npos ? std::string::npos
                                                                                               : end - at - sizeof(kTag) + 1);
        const size_t bar = line.find('|');
        if (bar == std::string::npos)
            continue;
        const std::wstring sddl = Wide(line.substr(0, bar)), path = Wide(line.substr(bar + 1));
        Key key;
        if (RegOpenKeyExW(root, path.empty() ? nullptr : path.c_str(), REG_OPTION_OPEN_LINK, WRITE_DAC | WRITE_OWNER,
                          key.Put()) != ERROR_SUCCESS)
            continue;
        PSECURITY_DESCRIPTOR descriptor = nullptr;
        if (!ConvertStringSecurityDescriptorToSecurityDescriptorW(sddl.c_str(), SDDL_REVISION_1, &descriptor, nullptr))
            continue;
        // A protected DACL stays protected: the descriptor's control bits say so.
        RegSetKeySecurity(key.Get(), kOwnerAndDacl, descriptor);
        LocalFree(descriptor);
    }
}

bool AccountMayReadKey(const std::wstring& hive, const std::wstring& subkey, const std::wstring& sid)
{
    Key root;
    if (RegOpenKeyExW(HKEY_USERS, hive.c_str(), 0, KEY_ALL_ACCESS, root.Put()) != ERROR_SUCCESS)
        return false;
    PSID account = nullptr;
    if (!ConvertStringSidToSidW(sid.c_str(), &account))
        return false;
    const std::wstring standard = DefaultSddl(root.Get());
    bool allowed = true;
    // From the key up: the nearest key with security of its own decides.
    for (std::wstring path = subkey;;) {
        Key key;
        if (RegOpenKeyExW(root.Get(), path.empty() ? nullptr : path.c_str(), 0, READ_CONTROL, key.Put()) !=
            ERROR_SUCCESS) {
            allowed = false;
            break;
        }
        const std::wstring sddl = SddlOfKey(key.Get());
        if (!sddl.empty() && sddl != standard) {
            if (!Evaluate(sddl, account, path != subkey, &allowed))
                allowed = false;
            break;
        }
        if (path.empty())
            break;   // the system's own: nothing the machine was told keeps the account out
        const size_t cut = path.rfind(L'\\');
        path = cut == std::wstring::npos ? std::wstring() : path.substr(0, cut);
    }
    LocalFree(account);
    return allowed;
}

}  // namespace sandbox
