#include "accounts/account_hive.h"

#include "accounts/lifecycle_rules.h"
#include "accounts/profile_use.h"
#include "platform/file_handles.h"
#include "platform/machine.h"
#include "platform/registry.h"
#include "platform/token.h"
#include "platform/tree_walk.h"

namespace {

constexpr wchar_t kKeyPrefix[] = L"Vantrell folders ";

bool KeyLoaded(const wchar_t* name)
{
    UniqueRegKey key;
    return RegOpenKeyExW(HKEY_USERS, name, 0, KEY_READ, key.Put()) == ERROR_SUCCESS;
}

// A key made with REG_OPTION_CREATE_LINK names its target in this value.
bool IsRegistryLink(HKEY key)
{
    DWORD type = REG_NONE;
    return RegQueryValueExW(key, L"SymbolicLinkValue", nullptr, &type, nullptr, nullptr) == ERROR_SUCCESS &&
           type == REG_LINK;
}

}  // namespace

namespace {

// Each refusal's text, said around the account's name.
struct RefusalWording {
    HiveRefusal refusal;
    const wchar_t* before;
    const wchar_t* after;
};

constexpr RefusalWording kRefusalTexts[] = {
    {HiveRefusal::NoAccount, L"There is no local account \"", L"\"."},
    {HiveRefusal::NoProfile, L"\"",
     L"\" has no profile folder with a registry hive yet: its personal folders come into being when it first signs "
     L"in."},
    {HiveRefusal::SignedIn, L"\"",
     L"\" is signed in elsewhere: its settings belong to that session now. Have it sign out, then try again."},
    {HiveRefusal::Busy, L"The registry hive of \"",
     L"\" is already open for another change of its folders. Try again when that is finished, or after a restart."},
    {HiveRefusal::Unusable, L"The registry hive file of \"",
     L"\" is a link or has more than one name; it is not opened."},
    {HiveRefusal::NotLoaded, L"The registry hive of \"", L"\" could not be loaded."},
};

}  // namespace

WString HiveRefusalText(HiveRefusal refusal, const wchar_t* name)
{
    WString text(L"");
    for (const RefusalWording& said : kRefusalTexts) {
        if (said.refusal == refusal)
            text.Append(said.before, name != nullptr ? name : L"", said.after);
    }
    return text;
}

HiveRefusal BorrowedHive::Load(const wchar_t* sid, const wchar_t* profile)
{
    Unload();
    if (sid == nullptr || !IsPlainSidString(sid))
        return HiveRefusal::NoAccount;
    // Loaded by the account's own session: it is signed in, and its
    // settings are that session's.
    if (ProfileHivesLoaded(sid))
        return HiveRefusal::SignedIn;
    WString file;
    if (profile == nullptr || *profile == L'\0' || !AbsoluteLongPath(JoinPath(profile, L"NTUSER.DAT").Text(), file))
        return HiveRefusal::NoProfile;
    {
        // The file is the account's to replace: only a plain file with one
        // name is loaded, and so written back.
        UniqueFileHandle hive = OpenWithoutFollowing(file.Text(), FILE_READ_ATTRIBUTES);
        BY_HANDLE_FILE_INFORMATION information{};
        if (!hive || !GetFileInformationByHandle(hive.Get(), &information))
            return HiveRefusal::NoProfile;
        if ((information.dwFileAttributes & (FILE_ATTRIBUTE_REPARSE_POINT | FILE_ATTRIBUTE_DIRECTORY)) != 0 ||
            HasOtherNames(hive.Get()))
            return HiveRefusal::Unusable;
    }
    key_.Assign(kKeyPrefix);
    key_.Append(sid);
    if (KeyLoaded(key_.Text()))
        return HiveRefusal::Busy;
    EnablePrivileges();
    if (machine::RegLoadKeyW(HKEY_USERS, key_.Text(), file.Text()) != ERROR_SUCCESS)
        return HiveRefusal::NotLoaded;
    root_.Assign(L"HKU\\");
    root_.Append(key_.Text());
    loaded_ = true;
    return HiveRefusal::None;
}

bool BorrowedHive::Unload()
{
    if (!loaded_)
        return true;
    EnablePrivileges();
    machine::RegUnLoadKeyW(HKEY_USERS, key_.Text());
    loaded_ = KeyLoaded(key_.Text());
    return !loaded_;
}

UniqueRegKey OpenHiveKeyItself(const wchar_t* root, const wchar_t* subkey, DWORD access, bool create)
{
    const DWORD walk = KEY_QUERY_VALUE | KEY_ENUMERATE_SUB_KEYS | (create ? KEY_CREATE_SUB_KEY : 0);
    UniqueRegKey key = OpenKey(root, walk);
    if (!key || subkey == nullptr)
        return UniqueRegKey();
    const wchar_t* part = subkey;
    while (*part != L'\0') {
        const wchar_t* end = wcschr(part, L'\\');
        if (end == part)
            return UniqueRegKey();
        WString name;
        name.AssignSubstring(part, 1, end != nullptr ? static_cast<int>(end - part) : -1);
        const bool last = end == nullptr;
        const DWORD rights = last ? (access | KEY_QUERY_VALUE) : walk;
        UniqueRegKey child;
        LSTATUS status = RegOpenKeyExW(key.Get(), name.Text(), REG_OPTION_OPEN_LINK, rights, child.Put());
        if (status == ERROR_FILE_NOT_FOUND && create) {
            DWORD disposition = 0;
            status = RegCreateKeyExW(key.Get(), name.Text(), 0, nullptr, REG_OPTION_NON_VOLATILE, rights, nullptr,
                                     child.Put(), &disposition);
            // Made by somebody else meanwhile: opened again as itself.
            if (status == ERROR_SUCCESS && disposition != REG_CREATED_NEW_KEY)
                status = RegOpenKeyExW(key.Get(), name.Text(), REG_OPTION_OPEN_LINK, rights, child.Put());
        }
        if (status != ERROR_SUCCESS || IsRegistryLink(child.Get()))
            return UniqueRegKey();
        key = std::move(child);
        if (end == nullptr)
            break;
        part = end + 1;
    }
    return key;
}
