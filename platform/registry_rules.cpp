#include "platform/registry_rules.h"

namespace {

struct RootName {
    const wchar_t* shortName;
    const wchar_t* longName;
    RegistryRoot root;
};

constexpr RootName kRoots[] = {
    {L"HKLM", L"HKEY_LOCAL_MACHINE", RegistryRoot::LocalMachine},
    {L"HKCU", L"HKEY_CURRENT_USER", RegistryRoot::CurrentUser},
    {L"HKCR", L"HKEY_CLASSES_ROOT", RegistryRoot::ClassesRoot},
    {L"HKU", L"HKEY_USERS", RegistryRoot::Users},
    {L"HKCC", L"HKEY_CURRENT_CONFIG", RegistryRoot::CurrentConfig},
};

// How a root of the object-name table depends on the process's view.
enum class View {
    Own,            // the same key in either view
    Native64,       // only nameable when the process sees the 64-bit view itself
    Redirected32,   // the 32-bit view, which a native process reaches through WOW6432Node
};

struct ObjectRoot {
    const wchar_t* shortName;
    const wchar_t* longName;
    View view;
    const wchar_t* objectName;
};

constexpr ObjectRoot kObjectRoots[] = {
    {L"HKLM", L"HKEY_LOCAL_MACHINE", View::Own, L"MACHINE"},
    {L"HKCR", L"HKEY_CLASSES_ROOT", View::Own, L"CLASSES_ROOT"},
    {L"HKCU", L"HKEY_CURRENT_USER", View::Own, L"CURRENT_USER"},
    {L"HKU", L"HKEY_USERS", View::Own, L"USERS"},
    {L"HKLM64", L"HKEY_LOCAL_MACHINE64", View::Native64, L"MACHINE"},
    {L"HKCR64", L"HKEY_CLASSES_ROOT64", View::Native64, L"CLASSES_ROOT"},
    {L"HKLM32", L"HKEY_LOCAL_MACHINE32", View::Redirected32, L"MACHINE"},
};

constexpr wchar_t kSoftware[] = L"\\SOFTWARE";
constexpr wchar_t kSoftwareRedirected[] = L"\\SOFTWARE\\WOW6432Node";

// True when `text` starts with the key-path component(s) `prefix`, ignoring
// case, and the match ends at a backslash or the end: "\SOFTWAREX" is
// another key than "\SOFTWARE".
bool StartsWithComponent(const wchar_t* text, const wchar_t* prefix)
{
    uint32_t i = 0;
    for (; prefix[i] != L'\0'; ++i) {
        if (text[i] == L'\0' || FoldCase(text[i]) != FoldCase(prefix[i]))
            return false;
    }
    return text[i] == L'\0' || text[i] == L'\\';
}

}  // namespace

RegistryRoot ParseKeyPathRoot(WString& path, uint32_t* viewFlags)
{
    const uint32_t length = path.Length();
    if (length == 0)
        return RegistryRoot::None;
    // A root is 3 to 22 characters, suffix included.
    const uint32_t slash = path.Find(L"\\", true, 1, 4, 20);
    uint32_t rootLength = slash != 0 ? slash - 1 : length;

    WString root;
    if (!root.AssignSubstring(path.Text(), 1, static_cast<int>(rootLength)) || !root.Valid())
        return RegistryRoot::None;
    uint32_t view = 0;
    if (viewFlags != nullptr && rootLength >= 2) {
        const wchar_t* tail = root.Text() + rootLength - 2;
        if (tail[0] == L'6' && tail[1] == L'4')
            view = kRegistryView64;
        else if (tail[0] == L'3' && tail[1] == L'2')
            view = kRegistryView32;
        if (view != 0)
            root.Data()[rootLength - 2] = L'\0';
    }

    for (const RootName& name : kRoots) {
        if (EqualsNoCase(root.Text(), name.shortName) || EqualsNoCase(root.Text(), name.longName)) {
            if (viewFlags != nullptr)
                *viewFlags |= view;
            if (slash == 0)
                path.Assign(L"");
            else
                path.EraseLeft(static_cast<int>(slash));
            return name.root;
        }
    }
    return RegistryRoot::None;
}

void MultiStringToText(wchar_t* units, uint32_t unitCount)
{
    if (units == nullptr || unitCount == 0)
        return;
    for (uint32_t i = 0; i + 1 < unitCount; ++i) {
        if (units[i] == L'\0' && units[i + 1] != L'\0')
            units[i] = L'\n';
    }
    units[unitCount - 1] = L'\0';
}

std::vector<wchar_t> TextToMultiString(const wchar_t* text, uint32_t maxUnits)
{
    uint32_t length = 0;
    if (text != nullptr) {
        while (length < maxUnits && text[length] != L'\0')
            ++length;
    }
    // An empty item would end the list for every reader: "a\n\nb" stored as
    // a, an empty item, b reads back as "a" alone. Empty lines are dropped,
    // so what is stored reads back with every non-empty line.
    std::vector<wchar_t> units;
    units.reserve(length + 2);
    for (uint32_t i = 0; i < length; ++i) {
        if (text[i] != L'\n')
            units.push_back(text[i]);
        else if (!units.empty() && units.back() != L'\0')
            units.push_back(L'\0');
    }
    if (units.empty() || units.back() != L'\0')
        units.push_back(L'\0');
    units.push_back(L'\0');
    return units;
}

bool ToSecurityObjectName(WString& path, bool processIsWow64)
{
    // "\\computer\ROOT\..." names another machine's key (or, stripped, the
    // local root itself): never a local object name.
    if (path.Text()[0] == L'\\')
        return false;

    uint32_t slash = path.Find(L"\\", true, 1, 1, 0);
    WString root, rest;
    if (slash == 0) {
        root.Assign(path.Text());
        rest.Assign(L"");
    } else {
        root.AssignSubstring(path.Text(), 1, static_cast<int>(slash - 1));
        rest.Assign(path.Text() + slash - 1);
    }
    if (root.IsEmpty())
        return false;

    for (const ObjectRoot& entry : kObjectRoots) {
        if (!EqualsNoCase(root.Text(), entry.shortName) && !EqualsNoCase(root.Text(), entry.longName))
            continue;
        switch (entry.view) {
        case View::Own:
            break;
        case View::Native64:
            if (processIsWow64)
                return false;
            break;
        case View::Redirected32:
            if (processIsWow64) {
                if (StartsWithComponent(rest.Text(), kSoftwareRedirected))
                    rest.Replace(kSoftwareRedirected, kSoftware, 1, false);
            } else if (StartsWithComponent(rest.Text(), kSoftware)) {
                rest.Replace(kSoftware, kSoftwareRedirected, 1, false);
            }
            break;
        }
        path.Assign(entry.objectName);
        path.Append(rest.Text());
        return true;
    }
    return false;
}
