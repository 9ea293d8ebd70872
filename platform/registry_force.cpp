// The registry writes and deletions that reset a key's security where
// access is refused. They stand on both the registry helpers and the
// security ones, which are built without each other.
#include "platform/registry.h"
#include "platform/security.h"

bool RegKey::OpenResettingSecurity(const wchar_t* keyPath, DWORD access, int rounds)
{
    for (int round = 0; round < rounds; ++round) {
        if (Open(keyPath, access))
            return true;
        ResetKeySecurity(keyPath);
        if (Open(keyPath, access))
            return true;
    }
    return false;
}

bool RegKey::ForceWriteDword(const wchar_t* keyPath, const wchar_t* name, const DWORD* value)
{
    if (WriteDword(keyPath, name, value))
        return true;
    if (name != nullptr && value == nullptr)
        return false;

    if (!KeyExists(keyPath)) {
        WString parent = TrimmedKeyPath(keyPath);
        WString leaf;
        uint32_t slash = parent.Find(L"\\", true, -1);
        if (slash == 0)
            return false;
        leaf.Assign(parent.Text() + slash);
        parent.RemoveLastComponent();
        if (!OpenResettingSecurity(parent.Text(), KEY_WRITE, 2))
            return false;
        HKEY created = nullptr;
        LONG status = RegCreateKeyW(key_.Get(), leaf.Text(), &created);
        key_.Reset(status == ERROR_SUCCESS ? created : nullptr);
        if (!key_)
            return false;
    } else if (!OpenResettingSecurity(keyPath, KEY_WRITE, 2)) {
        return false;
    }
    return name == nullptr || SetValue(name, REG_DWORD, value, sizeof(DWORD));
}

bool RegKey::ForceDelete(const wchar_t* keyPath, const wchar_t* name)
{
    if (name != nullptr) {
        if (DeleteValueOrTree(keyPath, name))
            return true;
        OpenResettingSecurity(keyPath, KEY_ALL_ACCESS, 1);
        return DeleteValueOrTree(keyPath, name);
    }

    if (NamesRegistryRoot(keyPath))
        return false;
    if (DeleteTree(keyPath))
        return true;
    if (!OpenResettingSecurity(keyPath, KEY_ALL_ACCESS, 1))
        return false;
    WString path = TrimmedKeyPath(keyPath);
    WString child;
    for (DWORD index = SubkeyCount(key_.Get()); index-- > 0;) {
        if (!EnumSubkey(key_.Get(), index, child) || child.IsEmpty())
            continue;
        WString childPath = JoinPath(path.Text(), child.Text());
        RegKey().ForceDelete(childPath.Text(), nullptr);
    }
    return DeleteTree(path.Text());
}
