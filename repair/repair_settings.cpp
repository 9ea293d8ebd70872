#include "repair/repair_settings.h"

#include <objbase.h>
#include <shobjidl.h>
#include <shlguid.h>
#include <userenv.h>

#include "platform/machine.h"
#include "platform/registry.h"
#include "platform/text.h"
#include "platform/tree_walk.h"

namespace {

bool ReadDword(RegKey& key, const wchar_t* name, DWORD* value)
{
    RegValue read;
    if (!key.QueryValue(name, read) || read.type != REG_DWORD || read.size < sizeof(DWORD))
        return false;
    *value = read.Dword();
    return true;
}

}  // namespace

int32_t GetUacState(DWORD* luaOut)
{
    RegKey key;
    if (!key.Open(kUacPolicyKey, KEY_READ))
        return -1;
    if (luaOut != nullptr) {
        DWORD lua = 0;
        *luaOut = ReadDword(key, L"EnableLUA", &lua) ? lua : 0;
    }
    DWORD consent = 0;
    return ReadDword(key, L"ConsentPromptBehaviorAdmin", &consent) ? static_cast<int32_t>(consent) : -1;
}

bool SetUacState(DWORD consentAdmin, DWORD luaValue)
{
    RegKey key;
    if (!key.Open(kUacPolicyKey, KEY_WRITE) && !key.Open(kUacPolicyKey, kCreateKeyAccess))
        return false;
    const DWORD user = 3;
    bool written = key.SetValue(L"ConsentPromptBehaviorAdmin", REG_DWORD, &consentAdmin, sizeof consentAdmin);
    key.SetValue(L"ConsentPromptBehaviorUser", REG_DWORD, &user, sizeof user);
    key.SetValue(L"EnableLUA", REG_DWORD, &luaValue, sizeof luaValue);
    machine::RefreshPolicyEx(TRUE, RP_FORCE);
    machine::RefreshPolicyEx(FALSE, RP_FORCE);
    return written;
}

bool ShortcutBytes(const wchar_t* targetPath, const wchar_t* arguments, const wchar_t* description,
                   std::string& bytes)
{
    bytes.clear();
    if (targetPath == nullptr || *targetPath == L'\0')
        return false;
    HRESULT com = CoInitialize(nullptr);
    bool made = false;
    {
        UniqueCom<IShellLinkW> link;
        UniqueCom<IPersistStream> persist;
        UniqueCom<IStream> stream;
        if (SUCCEEDED(CoCreateInstance(CLSID_ShellLink, nullptr, CLSCTX_INPROC_SERVER, IID_IShellLinkW,
                                       reinterpret_cast<void**>(link.Put()))) &&
            SUCCEEDED(link.Get()->QueryInterface(IID_IPersistStream, reinterpret_cast<void**>(persist.Put()))) &&
            SUCCEEDED(CreateStreamOnHGlobal(nullptr, TRUE, stream.Put()))) {
            WString folder(targetPath);
            uint32_t slash = folder.Find(L"\\", true, -1);
            if (slash > 0)
                folder.AssignSubstring(targetPath, 1, static_cast<int>(slash) - 1);
            link.Get()->SetPath(targetPath);
            link.Get()->SetArguments(arguments != nullptr ? arguments : L"");
            link.Get()->SetDescription(description != nullptr ? description : L"");
            link.Get()->SetIconLocation(targetPath, 0);
            link.Get()->SetWorkingDirectory(folder.Text());
            // Into memory: the file is written by the caller, through a
            // handle it checked, never by a path the link's code opens.
            HGLOBAL memory = nullptr;
            STATSTG stat{};
            if (SUCCEEDED(persist.Get()->Save(stream.Get(), TRUE)) &&
                SUCCEEDED(stream.Get()->Stat(&stat, STATFLAG_NONAME)) &&
                SUCCEEDED(GetHGlobalFromStream(stream.Get(), &memory)) && stat.cbSize.QuadPart > 0 &&
                stat.cbSize.QuadPart <= GlobalSize(memory)) {
                const void* data = GlobalLock(memory);
                if (data != nullptr) {
                    bytes.assign(static_cast<const char*>(data), static_cast<size_t>(stat.cbSize.QuadPart));
                    GlobalUnlock(memory);
                    made = true;
                }
            }
        }
    }
    if (SUCCEEDED(com))
        CoUninitialize();
    return made;
}

PlacedFile PlaceShortcut(HANDLE folder, const wchar_t* name, const wchar_t* targetPath, const wchar_t* arguments,
                         const wchar_t* description)
{
    std::string bytes;
    if (!ShortcutBytes(targetPath, arguments, description, bytes))
        return PlacedFile::Failed;
    return WriteFileInFolder(folder, name, bytes.data(), bytes.size());
}

bool CreateShortcut(const wchar_t* shortcutPath, const wchar_t* targetPath, const wchar_t* arguments,
                    const wchar_t* description)
{
    std::string bytes;
    if (shortcutPath == nullptr || *shortcutPath == L'\0' || !ShortcutBytes(targetPath, arguments, description, bytes))
        return false;
    return WriteFileAtPath(shortcutPath, bytes.data(), bytes.size()) == PlacedFile::Written;
}
