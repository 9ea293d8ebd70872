#include "platform/registry.h"

#include "platform/file_rules.h"
#include "platform/text_win.h"

#include <vector>

namespace {

// Longest key or value name the registry allows, plus room.
constexpr DWORD kNameCapacity = 16400;

struct PredefinedRoot {
    RegistryRoot root;
    HKEY key;
};
const PredefinedRoot kPredefinedRoots[] = {
    {RegistryRoot::LocalMachine, HKEY_LOCAL_MACHINE}, {RegistryRoot::CurrentUser, HKEY_CURRENT_USER},
    {RegistryRoot::ClassesRoot, HKEY_CLASSES_ROOT},   {RegistryRoot::Users, HKEY_USERS},
    {RegistryRoot::CurrentConfig, HKEY_CURRENT_CONFIG},
};

// The open's status; ERROR_BAD_PATHNAME for an unknown root.
LONG OpenKeyStatus(const wchar_t* keyPath, DWORD access, HKEY* key)
{
    *key = nullptr;
    WString subkey(keyPath);
    DWORD view = 0;
    HKEY root = ParseKeyPath(subkey, &view);
    if (root == nullptr)
        return ERROR_BAD_PATHNAME;
    if (access == kCreateKeyAccess)
        return RegCreateKeyExW(root, subkey.Text(), 0, nullptr, REG_OPTION_NON_VOLATILE, KEY_READ | KEY_WRITE | view,
                               nullptr, key, nullptr);
    return RegOpenKeyExW(root, subkey.Text(), 0, access | view, key);
}

// With `textForm` multi-strings are turned into their line-feed text;
// without, every value keeps the bytes the registry holds.
bool ReadValue(HKEY key, const wchar_t* name, RegValue& value, bool textForm)
{
    auto fail = [&value] {
        value.type = 0xFFFFFFFF;
        value.size = 0;
        if (value.capacity >= 2)
            value.data.Get()[0] = value.data.Get()[1] = 0;
        return false;
    };
    if (key == nullptr)
        return fail();
    // Asked twice at most: the value may grow between the size and the read.
    for (int attempt = 0; attempt < 2; ++attempt) {
        DWORD type = 0;
        DWORD size = 0;
        if (RegQueryValueExW(key, name, nullptr, &type, nullptr, &size) != ERROR_SUCCESS)
            return fail();
        value.type = type;
        value.size = size;
        if (size == 0)
            return true;
        if (size > 0xFFFFFFFF - 4)
            return fail();
        if (value.capacity < size + 4) {
            value.data.Reset(static_cast<BYTE*>(std::malloc(size + 4)));
            value.capacity = value.data ? size + 4 : 0;
            if (!value.data)
                return fail();
        }
        DWORD read = size;
        LONG status = RegQueryValueExW(key, name, nullptr, &type, value.data.Get(), &read);
        if (status == ERROR_MORE_DATA)
            continue;
        if (status != ERROR_SUCCESS)
            return fail();
        value.type = type;
        value.size = read;
        memset(value.data.Get() + read, 0, 4);
        // The four zero bytes behind the data count as the terminator, so a
        // multi-string stored without its own keeps its last character.
        if (textForm && type == REG_MULTI_SZ)
            MultiStringToText(reinterpret_cast<wchar_t*>(value.data.Get()), read / 2 + 1);
        return true;
    }
    return fail();
}

// Buffers reused for every value of a copy: names up to the registry's
// longest, data grown to the largest value met.
struct CopyScratch {
    std::vector<wchar_t> name = std::vector<wchar_t>(kNameCapacity + 1);
    std::vector<BYTE> data = std::vector<BYTE>(4096);
};

// Copies every value of `from` into `to` as the bytes are stored (the text
// form of a multi-string would lose empty items). Adds the values written to
// `count`; false when any value could not be read or written.
bool CopyValues(HKEY from, HKEY to, CopyScratch& scratch, uint32_t& count, MessagePacer& pacer)
{
    bool complete = true;
    for (DWORD index = 0;; ++index) {
        pacer.Pump();
        DWORD length = kNameCapacity;
        DWORD type = 0;
        DWORD size = static_cast<DWORD>(scratch.data.size());
        LONG status = RegEnumValueW(from, index, scratch.name.data(), &length, nullptr, &type, scratch.data.data(),
                                    &size);
        if (status == ERROR_MORE_DATA) {
            // The data outgrew the buffer (the name never does): grow, ask again.
            scratch.data.resize(size + 4096);
            length = kNameCapacity;
            size = static_cast<DWORD>(scratch.data.size());
            status = RegEnumValueW(from, index, scratch.name.data(), &length, nullptr, &type, scratch.data.data(),
                                   &size);
        }
        if (status == ERROR_NO_MORE_ITEMS)
            return complete;
        if (status != ERROR_SUCCESS)
            return false;   // the rest of the values cannot be reached
        scratch.name[length] = L'\0';
        if (RegSetValueExW(to, scratch.name.data(), 0, type, size == 0 ? nullptr : scratch.data.data(), size) ==
            ERROR_SUCCESS)
            ++count;
        else
            complete = false;
    }
}

// One key of an iterative copy: both open keys and the next subkey to copy.
struct CopyLevel {
    UniqueRegKey from;
    UniqueRegKey to;
    DWORD nextSubkey = 0;
};

}  // namespace

// The path without trailing backslashes, so its last component is a key.
WString TrimmedKeyPath(const wchar_t* keyPath)
{
    WString path(keyPath);
    TrimTrailingBackslashes(path);
    return path;
}

DWORD SubkeyCount(HKEY key)
{
    DWORD count = 0;
    if (RegQueryInfoKeyW(key, nullptr, nullptr, nullptr, &count, nullptr, nullptr, nullptr, nullptr, nullptr,
                         nullptr, nullptr) != ERROR_SUCCESS)
        return 0;
    return count;
}

// The registry hands back a key's name into `name`; false at the end or on failure.
bool EnumSubkey(HKEY key, DWORD index, WString& name)
{
    wchar_t* buffer = name.GetBuffer(kNameCapacity);
    if (buffer == nullptr)
        return false;
    DWORD length = kNameCapacity;
    if (RegEnumKeyExW(key, index, buffer, &length, nullptr, nullptr, nullptr, nullptr) != ERROR_SUCCESS)
        return false;
    buffer[length] = L'\0';
    return true;
}

bool ForEachSubkey(HKEY key, const std::function<bool(const wchar_t* name)>& visit)
{
    WString name;
    wchar_t* buffer = name.GetBuffer(kNameCapacity);
    if (buffer == nullptr)
        return false;
    for (DWORD index = 0;; ++index) {
        DWORD length = kNameCapacity;
        const LSTATUS status = RegEnumKeyExW(key, index, buffer, &length, nullptr, nullptr, nullptr, nullptr);
        if (status == ERROR_NO_MORE_ITEMS)
            return true;
        if (status != ERROR_SUCCESS)
            return false;
        buffer[length] = L'\0';
        if (!visit(buffer))
            return true;
    }
}

HKEY ParseKeyPath(WString& path, DWORD* viewFlags)
{
    uint32_t view = 0;
    RegistryRoot root = ParseKeyPathRoot(path, viewFlags != nullptr ? &view : nullptr);
    for (const PredefinedRoot& entry : kPredefinedRoots) {
        if (entry.root == root) {
            if (viewFlags != nullptr)
                *viewFlags |= view;
            return entry.key;
        }
    }
    return nullptr;
}

UniqueRegKey OpenKey(const wchar_t* keyPath, DWORD access)
{
    HKEY key = nullptr;
    return UniqueRegKey(OpenKeyStatus(keyPath, access, &key) == ERROR_SUCCESS ? key : nullptr);
}

bool NamesRegistryRoot(const wchar_t* keyPath)
{
    WString subkey(keyPath);
    DWORD view = 0;
    if (ParseKeyPath(subkey, &view) == nullptr)
        return false;
    const wchar_t* p = subkey.Text();
    while (*p == L'\\')
        ++p;
    return *p == L'\0';
}

bool KeyExists(const wchar_t* keyPath)
{
    HKEY key = nullptr;
    LONG status = OpenKeyStatus(keyPath, KEY_QUERY_VALUE, &key);
    UniqueRegKey opened(key);
    return status != ERROR_FILE_NOT_FOUND && status != ERROR_BAD_PATHNAME;
}

const wchar_t* RegValue::Text() const
{
    return data ? reinterpret_cast<const wchar_t*>(data.Get()) : L"";
}

DWORD RegValue::Dword() const
{
    if (!data || size < sizeof(DWORD))
        return 0;
    DWORD value;
    memcpy(&value, data.Get(), sizeof(value));
    return value;
}

bool RegKey::Open(const wchar_t* keyPath, DWORD access)
{
    key_ = OpenKey(keyPath, access);
    return static_cast<bool>(key_);
}

bool RegKey::QueryValue(const wchar_t* name, RegValue& value)
{
    return ReadValue(key_.Get(), name, value, true);
}

bool RegKey::QueryString(const wchar_t* name, WString& text, DWORD* valueType)
{
    if (name == nullptr)
        name = L"";
    text.Assign(L"");
    DWORD type = 0;
    DWORD size = 0;
    if (!key_ || RegQueryValueExW(key_.Get(), name, nullptr, &type, nullptr, &size) != ERROR_SUCCESS)
        return false;
    if (type != REG_SZ && type != REG_EXPAND_SZ && type != REG_MULTI_SZ)
        return false;
    const uint32_t units = (size + 4) / 2;
    // Zero-filled, so a value stored without its terminator still reads as one.
    wchar_t* buffer = text.GetBuffer(units, nullptr, true);
    if (buffer == nullptr)
        return false;
    DWORD read = units * 2;
    if (RegQueryValueExW(key_.Get(), name, nullptr, &type, reinterpret_cast<BYTE*>(buffer), &read) != ERROR_SUCCESS ||
        (type != REG_SZ && type != REG_EXPAND_SZ && type != REG_MULTI_SZ)) {
        text.Assign(L"");
        return false;
    }
    // The zero-filled unit behind the data ends a multi-string stored
    // without its own terminator, instead of its last character.
    if (type == REG_MULTI_SZ)
        MultiStringToText(buffer, read / 2 + 1);
    text.Length();
    if (valueType != nullptr)
        *valueType = type;
    return true;
}

bool RegKey::HasValue(const wchar_t* name, DWORD* type) const
{
    DWORD size = 0;
    return key_ && RegQueryValueExW(key_.Get(), name, nullptr, type, nullptr, &size) == ERROR_SUCCESS;
}

bool RegKey::SetValue(const wchar_t* name, DWORD type, const void* data, DWORD size)
{
    if (!key_)
        return false;
    if (data != nullptr && size == 0) {
        const auto* text = static_cast<const wchar_t*>(data);
        switch (type) {
        case REG_DWORD:
        case REG_DWORD_BIG_ENDIAN: size = 4; break;
        case REG_QWORD: size = 8; break;
        case REG_SZ:
        case REG_EXPAND_SZ:
        case REG_LINK: size = (TextLength(text) + 1) * 2; break;
        case REG_MULTI_SZ: size = TextLength(text) * 2 + 4; break;
        default: break;
        }
    }
    if (type == REG_MULTI_SZ && size >= 3) {
        std::vector<wchar_t> units = TextToMultiString(static_cast<const wchar_t*>(data), size / 2);
        return RegSetValueExW(key_.Get(), name, 0, type, reinterpret_cast<const BYTE*>(units.data()),
                              static_cast<DWORD>(units.size() * sizeof(wchar_t))) == ERROR_SUCCESS;
    }
    return RegSetValueExW(key_.Get(), name, 0, type, static_cast<const BYTE*>(data), size) == ERROR_SUCCESS;
}

bool RegKey::WriteDword(const wchar_t* keyPath, const wchar_t* name, const DWORD* value)
{
    key_.Reset();
    WString subkey(keyPath);
    DWORD view = 0;
    HKEY root = ParseKeyPath(subkey, &view);
    if (root == nullptr)
        return false;
    if (RegCreateKeyExW(root, subkey.Text(), 0, nullptr, REG_OPTION_NON_VOLATILE, KEY_SET_VALUE | view, nullptr,
                        key_.Put(), nullptr) != ERROR_SUCCESS)
        return false;
    if (name == nullptr)
        return true;
    return value != nullptr && SetValue(name, REG_DWORD, value, sizeof(DWORD));
}

bool RegKey::DeleteTree(const wchar_t* keyPath)
{
    key_.Reset();
    if (NamesRegistryRoot(keyPath))
        return false;
    WString path = TrimmedKeyPath(keyPath);

    if (Open(path.Text(), KEY_READ)) {
        WString name;
        // From the highest index down, so the remaining indices stay valid.
        for (DWORD index = SubkeyCount(key_.Get()); index-- > 0;) {
            if (!EnumSubkey(key_.Get(), index, name) || name.IsEmpty())
                continue;
            WString child = JoinPath(path.Text(), name.Text());
            RegKey(nullptr).DeleteTree(child.Text());
        }
        key_.Reset();
    }

    uint32_t slash = path.Find(L"\\", true, -1);
    if (slash == 0)
        return false;
    WString leaf(path.Text() + slash);
    path.RemoveLastComponent();
    if (!Open(path.Text(), KEY_READ))
        return false;
    return RegDeleteKeyW(key_.Get(), leaf.Text()) == ERROR_SUCCESS;
}

bool RegKey::DeleteValueOrTree(const wchar_t* keyPath, const wchar_t* name)
{
    if (name == nullptr) {
        RegKey own;
        return own.DeleteTree(keyPath);
    }
    if (!Open(keyPath, KEY_SET_VALUE))
        return false;
    return RegDeleteValueW(key_.Get(), name) == ERROR_SUCCESS;
}

namespace {

// True when `inner` names the key `outer` or one below it, whatever the
// spelling of the root. Views are not told apart: a copy refused that would
// have been safe costs less than one that never ends.
bool IsSameKeyOrBelow(const wchar_t* inner, const wchar_t* outer)
{
    WString innerPath(inner), outerPath(outer);
    DWORD view = 0;
    HKEY innerRoot = ParseKeyPath(innerPath, &view);
    HKEY outerRoot = ParseKeyPath(outerPath, &view);
    if (innerRoot == nullptr || innerRoot != outerRoot)
        return false;
    WString a = TrimmedKeyPath(innerPath.Text()), b = TrimmedKeyPath(outerPath.Text());
    const wchar_t* innerKey = a.Text();
    const wchar_t* outerKey = b.Text();
    while (*innerKey == L'\\')
        ++innerKey;
    while (*outerKey == L'\\')
        ++outerKey;
    return *outerKey == L'\0' || IsSameOrBelow(innerKey, outerKey);
}

}  // namespace

uint32_t CopyKeyTree(const wchar_t* source, const wchar_t* destination)
{
    // A copy into its own subtree would find its own output and never end.
    if (source == nullptr || destination == nullptr || EqualsNoCase(source, destination) ||
        IsSameKeyOrBelow(destination, source))
        return 0;
    WString sourceSubkey(source), destinationSubkey(destination);
    DWORD sourceView = 0, destinationView = 0;
    if (ParseKeyPath(sourceSubkey, &sourceView) == nullptr || ParseKeyPath(destinationSubkey, &destinationView) == nullptr)
        return 0;

    CopyLevel top;
    if (OpenKeyStatus(source, KEY_READ, top.from.Put()) != ERROR_SUCCESS ||
        OpenKeyStatus(destination, kCreateKeyAccess, top.to.Put()) != ERROR_SUCCESS)
        return 0;

    CopyScratch scratch;
    MessagePacer pacer;
    uint32_t count = 1;
    bool complete = CopyValues(top.from.Get(), top.to.Get(), scratch, count, pacer);
    // Depth first with its own stack; each subkey is opened relative to its
    // parent's open key instead of by its full path from the root.
    std::vector<CopyLevel> stack;
    stack.push_back(std::move(top));
    while (!stack.empty()) {
        CopyLevel& level = stack.back();
        DWORD length = kNameCapacity;
        LONG status = RegEnumKeyExW(level.from.Get(), level.nextSubkey++, scratch.name.data(), &length, nullptr,
                                    nullptr, nullptr, nullptr);
        if (status != ERROR_SUCCESS) {
            if (status != ERROR_NO_MORE_ITEMS)
                complete = false;   // the remaining subkeys cannot be reached
            stack.pop_back();
            continue;
        }
        scratch.name[length] = L'\0';
        CopyLevel child;
        if (RegOpenKeyExW(level.from.Get(), scratch.name.data(), 0, KEY_READ | sourceView, child.from.Put()) !=
                ERROR_SUCCESS ||
            RegCreateKeyExW(level.to.Get(), scratch.name.data(), 0, nullptr, REG_OPTION_NON_VOLATILE,
                            KEY_READ | KEY_WRITE | destinationView, nullptr, child.to.Put(), nullptr) != ERROR_SUCCESS) {
            complete = false;
            continue;
        }
        ++count;
        if (!CopyValues(child.from.Get(), child.to.Get(), scratch, count, pacer))
            complete = false;
        stack.push_back(std::move(child));
    }
    return complete ? count : 0;
}

bool ToSecurityObjectName(WString& keyPath)
{
    return ToSecurityObjectName(keyPath, IsWow64(GetCurrentProcess()));
}

bool IsWow64(HANDLE process)
{
    using IsWow64ProcessFunction = BOOL(WINAPI*)(HANDLE, PBOOL);
    UniqueLibrary kernel32(LoadLibraryW(L"Kernel32.dll"));
    if (!kernel32)
        return false;
    auto isWow64Process = reinterpret_cast<IsWow64ProcessFunction>(
        reinterpret_cast<void*>(GetProcAddress(kernel32.Get(), "IsWow64Process")));
    BOOL wow64 = FALSE;
    return isWow64Process != nullptr && isWow64Process(process, &wow64) && wow64;
}
