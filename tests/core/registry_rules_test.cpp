#include "platform/registry_rules.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace {

// Readable in failure messages of both builds, whatever the width of wchar_t.
std::string ShowRegistryText(const wchar_t* text, size_t count)
{
    std::string shown;
    for (size_t i = 0; i < count; ++i) {
        uint32_t unit = static_cast<uint32_t>(text[i]);
        if (unit == 0)
            shown += "\\0";
        else if (unit == L'\n')
            shown += "\\n";
        else if (unit >= 0x20 && unit < 0x7F)
            shown += static_cast<char>(unit);
        else
            shown += "\\u" + std::to_string(unit);
    }
    return shown;
}
std::string ShowRegistryText(const wchar_t* text) { return text == nullptr ? "(null)" : ShowRegistryText(text, TextLength(text)); }

}  // namespace

TEST(ParseKeyPathRoot, RootsSuffixesAndSubkeys)
{
    struct Case {
        const wchar_t* path;
        bool withFlags;
        RegistryRoot root;
        const wchar_t* subkey;   // what the path becomes (unchanged on failure)
        uint32_t view;
    } const cases[] = {
        {L"HKLM\\", true, RegistryRoot::LocalMachine, L"", 0}, {L"HKU\\x", true, RegistryRoot::Users, L"x", 0},
        {L"HKLM", true, RegistryRoot::LocalMachine, L"", 0}, {L"", true, RegistryRoot::None, L"", 0},
        {L"hklm\\SOFTWARE\\X", false, RegistryRoot::LocalMachine, L"SOFTWARE\\X", 0},
        {L"HKEY_LOCAL_MACHINE64\\A", true, RegistryRoot::LocalMachine, L"A", kRegistryView64},
        {L"hkey_users32\\S-1-5-18", true, RegistryRoot::Users, L"S-1-5-18", kRegistryView32},
        {L"HKCU32\\Software", true, RegistryRoot::CurrentUser, L"Software", kRegistryView32},
        {L"HKCR\\.txt", true, RegistryRoot::ClassesRoot, L".txt", 0},
        {L"HKEY_CURRENT_CONFIG\\System", true, RegistryRoot::CurrentConfig, L"System", 0},
        // A suffix is a root name only when the caller takes the view.
        {L"HKLM64\\SOFTWARE", false, RegistryRoot::None, L"HKLM64\\SOFTWARE", 0},
        {L"MACHINE\\SOFTWARE", true, RegistryRoot::None, L"MACHINE\\SOFTWARE", 0},
        {L"\\\\PC\\HKLM\\SOFTWARE", true, RegistryRoot::None, L"\\\\PC\\HKLM\\SOFTWARE", 0},
        {L"HKLM54\\SOFTWARE", true, RegistryRoot::None, L"HKLM54\\SOFTWARE", 0},
        // The separator must stand within the first 23 characters.
        {L"HKEY_LOCAL_MACHINE64XYZ\\A", true, RegistryRoot::None, L"HKEY_LOCAL_MACHINE64XYZ\\A", 0},
    };
    for (const auto& c : cases) {
        WString path(c.path);
        uint32_t view = 0x8;   // bits already set must survive
        RegistryRoot root = ParseKeyPathRoot(path, c.withFlags ? &view : nullptr);
        EXPECT_EQ(c.root, root) << ShowRegistryText(c.path);
        EXPECT_STREQ(c.subkey, path.Text()) << ShowRegistryText(c.path) << " became " << ShowRegistryText(path.Text());
        EXPECT_EQ(0x8u | c.view, view) << ShowRegistryText(c.path);
    }
}

TEST(MultiString, RegistryFormReadsAsLineFeedText)
{
    struct { std::vector<wchar_t> stored; const wchar_t* text; } const cases[] = {
        {{L'a', 0, L'b', 0, L'c', 0, 0}, L"a\nb\nc"},
        {{0, L'a', 0, 0}, L"\na"},           // a leading empty item keeps its place
        {{L'a', 0, 0, L'b', 0, 0}, L"a"},    // an empty item ends the list
        {{L'a', 0, L'b', 0}, L"a\nb"},       // no double terminator: the last unit ends it
        {{L'x', L'y'}, L"x"},
    };
    for (const auto& c : cases) {
        std::vector<wchar_t> units = c.stored;
        MultiStringToText(units.data(), static_cast<uint32_t>(units.size()));
        EXPECT_STREQ(c.text, units.data()) << ShowRegistryText(c.stored.data(), c.stored.size()) << " read as "
                                           << ShowRegistryText(units.data());
    }
}

TEST(MultiString, TextFormWritesItemsWithADoubleTerminator)
{
    struct { const wchar_t* text; uint32_t maxUnits; std::vector<wchar_t> stored; } const cases[] = {
        {L"a\nb\nc", 100, {L'a', 0, L'b', 0, L'c', 0, 0}}, {L"", 100, {0, 0}},
        {L"\n", 100, {0, 0}},                // an empty line alone is an empty list
        // An empty item would end the list for every reader: empty lines go.
        {L"a\n\nb", 100, {L'a', 0, L'b', 0, 0}}, {L"\n\nx\n", 100, {L'x', 0, 0}},
        {L"abcdef", 3, {L'a', L'b', L'c', 0, 0}},   // never read beyond the given size
        {nullptr, 100, {0, 0}},
    };
    for (const auto& c : cases) {
        std::vector<wchar_t> stored = TextToMultiString(c.text, c.maxUnits);
        EXPECT_EQ(c.stored, stored) << ShowRegistryText(c.text) << " stored as " << ShowRegistryText(stored.data(), stored.size());
    }
}

TEST(ToSecurityObjectName, TableForBothViews)
{
    struct { const wchar_t* path; bool wow64; bool ok; const wchar_t* name; } const cases[] = {
        {L"HKLM\\SOFTWARE\\X", false, true, L"MACHINE\\SOFTWARE\\X"},
        {L"hkey_local_machine\\SOFTWARE", true, true, L"MACHINE\\SOFTWARE"},
        {L"HKCR\\.txt", true, true, L"CLASSES_ROOT\\.txt"}, {L"HKU\\S-1-5-18", false, true, L"USERS\\S-1-5-18"},
        {L"HKU", false, true, L"USERS"},
        // Another machine's key, or with the computer stripped the local
        // root: never a local object name.
        {L"\\\\PC\\HKLM\\SOFTWARE", false, false, nullptr}, {L"\\HKLM\\SOFTWARE", false, false, nullptr},
        {L"HKLM64\\SOFTWARE", false, true, L"MACHINE\\SOFTWARE"}, {L"HKLM64\\SOFTWARE", true, false, nullptr},
        {L"HKCR64\\CLSID", false, true, L"CLASSES_ROOT\\CLSID"}, {L"HKCR64\\CLSID", true, false, nullptr},
        {L"HKLM32\\SOFTWARE\\WOW6432Node\\X", true, true, L"MACHINE\\SOFTWARE\\X"},
        {L"HKLM32\\software\\wow6432node", true, true, L"MACHINE\\SOFTWARE"},
        {L"HKLM32\\SOFTWARE\\X", false, true, L"MACHINE\\SOFTWARE\\WOW6432Node\\X"},
        {L"HKEY_LOCAL_MACHINE32\\Software", false, true, L"MACHINE\\SOFTWARE\\WOW6432Node"},
        {L"HKLM32\\SYSTEM\\X", false, true, L"MACHINE\\SYSTEM\\X"},
        // A key merely starting with the same letters is another key.
        {L"HKLM32\\SOFTWAREX", false, true, L"MACHINE\\SOFTWAREX"},
        {L"HKLM32\\SOFTWARE\\WOW6432NodeX", true, true, L"MACHINE\\SOFTWARE\\WOW6432NodeX"},
        {L"HKCC\\X", false, false, nullptr}, {L"HKCU32\\Software", false, false, nullptr},
        {L"\\SOFTWARE", false, false, nullptr}, {L"", false, false, nullptr},
    };
    for (const auto& c : cases) {
        WString path(c.path);
        bool ok = ToSecurityObjectName(path, c.wow64);
        EXPECT_EQ(c.ok, ok) << ShowRegistryText(c.path) << (c.wow64 ? " (WOW64)" : "") << " gave " << ShowRegistryText(path.Text());
        if (c.ok && ok) {
            EXPECT_STREQ(c.name, path.Text()) << ShowRegistryText(c.path) << " gave " << ShowRegistryText(path.Text());
        }
    }
}
