// The profile of an account that no longer loads: a folder full of its
// owner's files, store-app data, its classes hive, taskbar pins in its
// registry, and an NTUSER.DAT damaged so that the profile service refuses it
// while the registry can still read most of it.
#include "sandbox/profiles.h"

#include <windows.h>

#include <cstdio>
#include <string>
#include <vector>

#include "sandbox/session_user.h"
#include "sandbox/state.h"

namespace sandbox {

namespace {

constexpr wchar_t kTaskband[] = L"Software\\Microsoft\\Windows\\CurrentVersion\\Explorer\\Taskband";
constexpr char kShellFoldersSection[] = "[Software\\\\Microsoft\\\\Windows\\\\CurrentVersion\\\\Explorer\\\\User Shell Folders]";

std::wstring LongForm(const std::wstring& path)
{
    return path.compare(0, 4, L"\\\\?\\") == 0 ? path : L"\\\\?\\" + path;
}

bool MakeFolders(const std::wstring& path)
{
    std::wstring full = LongForm(path);
    for (size_t at = full.find(L'\\', 7); ; at = full.find(L'\\', at + 1)) {
        std::wstring part = full.substr(0, at);
        if (!CreateDirectoryW(part.c_str(), nullptr) && GetLastError() != ERROR_ALREADY_EXISTS)
            return false;
        if (at == std::wstring::npos)
            return true;
    }
}

// The file's content follows from its place, so that every build of the
// scenario holds the same bytes.
bool WriteUserFile(const std::wstring& folder, const std::wstring& relative, unsigned lines)
{
    std::wstring path = folder + L"\\" + relative;
    size_t cut = path.rfind(L'\\');
    if (!MakeFolders(path.substr(0, cut)))
        return false;
    std::string text;
    int size = WideCharToMultiByte(CP_UTF8, 0, relative.c_str(), -1, nullptr, 0, nullptr, nullptr);
    std::string name(size > 0 ? size - 1 : 0, '\0');
    WideCharToMultiByte(CP_UTF8, 0, relative.c_str(), -1, &name[0], size, nullptr, nullptr);
    for (unsigned line = 1; line <= lines; ++line)
        text += name + " - line " + std::to_string(line) + " of the owner's work\r\n";
    UniqueFileHandle file(CreateFileW(LongForm(path).c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                                      FILE_ATTRIBUTE_NORMAL, nullptr));
    DWORD written = 0;
    return file && WriteFile(file.Get(), text.data(), static_cast<DWORD>(text.size()), &written, nullptr) &&
           written == text.size();
}

bool WriteUserFiles(const std::wstring& folder)
{
    bool ok = true;
    const wchar_t* projects[] = {L"Budget", L"Clients", L"Newsletter", L"Inventory", L"Training"};
    const wchar_t* parts[] = {L"Drafts", L"Final", L"Old versions\\2023", L"Old versions\\2024"};
    unsigned number = 0;
    for (const wchar_t* project : projects) {
        for (const wchar_t* part : parts) {
            for (int i = 1; i <= 12; ++i) {
                wchar_t name[64];
                swprintf(name, ARRAYSIZE(name), L"%ls-%02d.txt", project, i);
                ok &= WriteUserFile(folder, std::wstring(L"Documents\\Projects\\") + project + L"\\" + part + L"\\" + name,
                                    1 + (++number % 40));
            }
        }
    }
    for (int year = 2019; year <= 2024; ++year) {
        for (int i = 1; i <= 8; ++i) {
            wchar_t name[96];
            swprintf(name, ARRAYSIZE(name), L"Pictures\\Holidays\\%d\\photo-%03d.bmp", year, i);
            std::wstring path = folder + L"\\" + name;
            MakeFolders(path.substr(0, path.rfind(L'\\')));
            ok &= DrawPicture(path, static_cast<DWORD>(0x102030 * i + year));
        }
    }
    for (int i = 1; i <= 20; ++i) {
        wchar_t name[64];
        swprintf(name, ARRAYSIZE(name), L"Desktop\\note %02d.txt", i);
        ok &= WriteUserFile(folder, name, static_cast<unsigned>(i));
    }
    const wchar_t* foreign[] = {
        L"Documents\\R\u00e9sum\u00e9 2024.txt",
        L"Documents\\\u00dcberweisung M\u00e4rz.txt",
        L"Documents\\\u00c6r\u00f8\\Sm\u00f8rrebr\u00f8d.txt",
        L"Desktop\\\u65e5\u672c\u8a9e\u30e1\u30e2.txt",
        L"Pictures\\\u03a4\u03b1\u03be\u03af\u03b4\u03b9\\\u03c6\u03c9\u03c4\u03bf\u03b3\u03c1\u03b1\u03c6\u03af\u03b1.txt",
        L"Documents\\\u041e\u0442\u0447\u0451\u0442\u044b\\\u0418\u0442\u043e\u0433.txt",
    };
    for (const wchar_t* name : foreign)
        ok &= WriteUserFile(folder, name, 5);
    // One file deep enough that its path passes the classic limit of 260.
    std::wstring deep = L"Documents\\Archive";
    for (int level = 1; (folder + L"\\" + deep).size() < 290; ++level)
        deep += L"\\Customer correspondence kept for the auditors, part " + std::to_wstring(level);
    ok &= WriteUserFile(folder, deep + L"\\Signed contract.txt", 3);
    // Store apps' data.
    ok &= WriteUserFile(folder, L"AppData\\Local\\Packages\\Microsoft.WindowsCalculator_8wekyb3d8bbwe\\Settings\\settings.dat", 4);
    ok &= WriteUserFile(folder, L"AppData\\Local\\Packages\\Microsoft.Windows.Photos_8wekyb3d8bbwe\\LocalState\\MediaDb.v1.sqlite", 60);
    ok &= WriteUserFile(folder, L"AppData\\Local\\Packages\\Microsoft.WindowsNotepad_8wekyb3d8bbwe\\LocalState\\TabState\\tab-1.bin", 8);
    ok &= WriteUserFile(folder, L"AppData\\Roaming\\Microsoft\\Signatures\\Office.txt", 6);
    return ok;
}

// Pins on the taskbar as the shell keeps them: the list and its resolve
// data as binary values, with their version.
bool PinTaskbar(const std::wstring& sid)
{
    Key root = OpenUserHive(sid);
    Key taskband;
    if (!root || RegCreateKeyExW(root.Get(), kTaskband, 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, taskband.Put(),
                                 nullptr) != ERROR_SUCCESS)
        return false;
    std::vector<BYTE> favourites, resolve;
    const wchar_t* pinned[] = {L"File Explorer.lnk", L"Mail.lnk", L"Calculator.lnk", L"Budget.xlsx.lnk"};
    for (const wchar_t* pin : pinned) {
        favourites.push_back(0x00);
        const BYTE* bytes = reinterpret_cast<const BYTE*>(pin);
        favourites.insert(favourites.end(), bytes, bytes + wcslen(pin) * sizeof(wchar_t));
        resolve.insert(resolve.end(), {0x4C, 0x00, 0x00, 0x00, static_cast<BYTE>(wcslen(pin))});
    }
    favourites.push_back(0xFF);
    DWORD version = 3, changes = 12;
    bool ok = RegSetValueExW(taskband.Get(), L"Favorites", 0, REG_BINARY, favourites.data(),
                             static_cast<DWORD>(favourites.size())) == ERROR_SUCCESS &&
              RegSetValueExW(taskband.Get(), L"FavoritesResolve", 0, REG_BINARY, resolve.data(),
                             static_cast<DWORD>(resolve.size())) == ERROR_SUCCESS &&
              WriteDword(taskband.Get(), L"FavoritesVersion", version) &&
              WriteDword(taskband.Get(), L"FavoritesChanges", changes);
    taskband.Reset();
    root.Reset();
    return UnloadHive(sid) == ERROR_SUCCESS && ok;
}

// The hive loses its shell-folder list and gains a tail of junk, as a hive
// written half-way when the power failed: the registry still reads what
// came before, the profile service refuses the profile.
bool DamageHive(const std::wstring& file)
{
    std::string text;
    {
        UniqueFileHandle in(CreateFileW(file.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr));
        if (!in)
            return false;
        char buffer[65536];
        DWORD read = 0;
        while (ReadFile(in.Get(), buffer, sizeof(buffer), &read, nullptr) && read > 0)
            text.append(buffer, read);
    }
    size_t section = text.find(kShellFoldersSection);
    if (section == std::string::npos)
        return false;
    size_t next = text.find("\n[", section + 1);
    text.erase(section, next == std::string::npos ? std::string::npos : next + 1 - section);
    std::string junk = "\n";
    for (int i = 0; i < 768; ++i)
        junk += static_cast<char>((i * 37 + 11) % 251 + 1);
    text += junk;
    UniqueFileHandle out(CreateFileW(file.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL,
                                     nullptr));
    DWORD written = 0;
    return out && WriteFile(out.Get(), text.data(), static_cast<DWORD>(text.size()), &written, nullptr) &&
           written == text.size();
}

const wchar_t* const kFaultNames[] = {L"backup-entry", L"wrong-path", L"state", L"folder-rights", L"hive-rights",
                                     L"hive-damaged"};

}  // namespace

bool IsProfileFault(const std::wstring& fault)
{
    for (const wchar_t* name : kFaultNames)
        if (fault == name)
            return true;
    return false;
}

bool FaultProfile(const std::wstring& sid, const std::wstring& fault)
{
    const std::wstring folder = ProfileFolderOf(sid);
    if (folder.empty() || !IsProfileFault(fault))
        return false;
    {
        Key root = OpenUserHive(sid);
        if (!root || RegSetKeyValueW(root.Get(), kMarkerKey, kMarkerValue, REG_SZ, kMarkerText,
                                     static_cast<DWORD>((wcslen(kMarkerText) + 1) * sizeof(wchar_t))) != ERROR_SUCCESS)
            return false;
    }
    if (UnloadHive(sid) != ERROR_SUCCESS)
        return false;
    Key entry;
    if (RegOpenKeyExW(HKEY_LOCAL_MACHINE, (std::wstring(kProfileListKey) + L"\\" + sid).c_str(), 0, KEY_ALL_ACCESS,
                      entry.Put()) != ERROR_SUCCESS)
        return false;
    // What the profile service gives the folder, without the account.
    const std::wstring system = L"O:" + sid + L"D:P(A;OICI;FA;;;SY)(A;OICI;FA;;;BA)";
    if (fault == L"backup-entry")
        return AssignTemporaryProfile(sid);
    if (fault == L"wrong-path") {
        // The folder keeps the security it had when no entry names it any more.
        const std::wstring own = L"(A;;FA;;;" + sid + L")";
        SetFileSecuritySddl(folder, system + L"(A;OICI;FA;;;" + sid + L")");
        SetFileSecuritySddl(folder + L"\\NTUSER.DAT", L"O:" + sid + L"D:P(A;;FA;;;SY)(A;;FA;;;BA)" + own);
        return WriteString(entry.Get(), L"ProfileImagePath", folder + L".moved", REG_EXPAND_SZ);
    }
    if (fault == L"state")
        return WriteDword(entry.Get(), L"State", 0x8000);
    if (fault == L"folder-rights") {
        SetFileSecuritySddl(folder, system);
        return true;
    }
    if (fault == L"hive-rights") {
        SetFileSecuritySddl(folder + L"\\NTUSER.DAT", L"O:" + sid + L"D:P(A;;FA;;;SY)(A;;FA;;;BA)");
        return true;
    }
    return DamageHive(folder + L"\\NTUSER.DAT");
}

bool FillProfile(const std::wstring& sid)
{
    std::wstring folder = ProfileFolderOf(sid);
    if (folder.empty())
        return false;
    bool filled = WriteUserFiles(folder);
    return PinTaskbar(sid) && filled;
}

bool BreakProfile(const std::wstring& sid)
{
    return FillProfile(sid) && DamageHive(ProfileFolderOf(sid) + L"\\NTUSER.DAT");
}

}  // namespace sandbox
