#include <gtest/gtest.h>

#include <windows.h>
#include <sddl.h>

#include <cstring>
#include <string>
#include <vector>

#include "platform/key_handover.h"
#include "platform/registry.h"
#include "platform/security.h"
#include "platform/sid.h"
#include "platform/token.h"
#include "test_support.h"

namespace {

// A key of each test's own: the tests run in parallel processes.
std::wstring ScratchSubkey()
{
    const char* name = ::testing::UnitTest::GetInstance()->current_test_info()->name();
    return L"Software\\Vantrell Tests\\registry " + std::wstring(name, name + strlen(name));
}

// Each group starts from an empty scratch key of its own, wiped by the
// platform's own calls rather than by the code under test.
class ScratchKey : public ::testing::Test {
protected:
    void SetUp() override
    {
        scratch_ = ScratchSubkey();
        scratchPath_ = L"HKCU\\" + scratch_;
        WipeKey(HKEY_CURRENT_USER, scratch_);
        ASSERT_EQ(ERROR_SUCCESS, RegCreateKeyExW(HKEY_CURRENT_USER, scratch_.c_str(), 0, nullptr, 0, KEY_ALL_ACCESS, nullptr,
                                                 raw_.Put(), nullptr));
    }
    void TearDown() override
    {
        raw_.Reset();
        WipeKey(HKEY_CURRENT_USER, scratch_);
    }
    std::wstring Path(const wchar_t* below) const { return scratchPath_ + L"\\" + below; }
    std::wstring Sub(const wchar_t* below) const { return scratch_ + L"\\" + below; }
    void Create(const wchar_t* below)
    {
        UniqueRegKey key;
        ASSERT_EQ(ERROR_SUCCESS, RegCreateKeyExW(HKEY_CURRENT_USER, Sub(below).c_str(), 0, nullptr, 0, KEY_ALL_ACCESS,
                                                 nullptr, key.Put(), nullptr));
    }
    bool Exists(const wchar_t* below)
    {
        UniqueRegKey key;
        return RegOpenKeyExW(HKEY_CURRENT_USER, Sub(below).c_str(), 0, KEY_READ, key.Put()) != ERROR_FILE_NOT_FOUND;
    }
    // The raw bytes of a value, read past any conversion of ours.
    std::vector<BYTE> Raw(const wchar_t* below, const wchar_t* name, DWORD* type = nullptr)
    {
        std::vector<BYTE> bytes(65536);
        DWORD size = static_cast<DWORD>(bytes.size());
        if (RegGetValueW(HKEY_CURRENT_USER, Sub(below).c_str(), name, RRF_RT_ANY | RRF_NOEXPAND, type, bytes.data(),
                         &size) != ERROR_SUCCESS)
            return {};
        bytes.resize(size);
        return bytes;
    }
    // A DACL on the key that refuses administrators (and everyone) the given rights.
    void Deny(const wchar_t* below, DWORD rights)
    {
        wchar_t text[128];
        swprintf(text, 128, L"D:P(D;CI;0x%lx;;;WD)(D;CI;0x%lx;;;BA)(A;CI;KA;;;BA)", rights, rights);
        ASSERT_EQ(ERROR_SUCCESS, SetKeySddl(HKEY_CURRENT_USER, Sub(below), text));
        UniqueRegKey probe;
        ASSERT_EQ(ERROR_ACCESS_DENIED, RegOpenKeyExW(HKEY_CURRENT_USER, Sub(below).c_str(), 0, rights, probe.Put()))
            << "the key's DACL must refuse these rights for the check";
    }

    std::wstring scratch_;
    std::wstring scratchPath_;
    UniqueRegKey raw_;
};

std::vector<BYTE> Bytes(std::initializer_list<wchar_t> units)
{
    std::vector<BYTE> bytes;
    for (wchar_t unit : units) {
        bytes.push_back(static_cast<BYTE>(unit & 0xFF));
        bytes.push_back(static_cast<BYTE>(unit >> 8));
    }
    return bytes;
}

}  // namespace

TEST(ParseKeyPath, MapsRootsToPredefinedKeysWithTheirView)
{
    struct Case {
        const wchar_t* path;
        HKEY root;
        DWORD view;
        const wchar_t* subkey;
    } const cases[] = {
        {L"HKLM", HKEY_LOCAL_MACHINE, 0, L""},
        {L"HKLM64\\SOFTWARE\\X", HKEY_LOCAL_MACHINE, KEY_WOW64_64KEY, L"SOFTWARE\\X"},
        {L"hkey_users32\\S-1-5-18", HKEY_USERS, KEY_WOW64_32KEY, L"S-1-5-18"},
        {L"HKCU\\Software", HKEY_CURRENT_USER, 0, L"Software"},
        {L"HKCR\\.txt", HKEY_CLASSES_ROOT, 0, L".txt"},
        {L"HKCC\\System", HKEY_CURRENT_CONFIG, 0, L"System"},
        {L"MACHINE\\SOFTWARE", nullptr, 0, L"MACHINE\\SOFTWARE"},
    };
    for (const Case& c : cases) {
        WString path(c.path);
        DWORD view = 0;
        EXPECT_EQ(c.root, ParseKeyPath(path, &view)) << Show(c.path);
        EXPECT_EQ(c.view, view) << Show(c.path);
        EXPECT_STREQ(c.subkey, path.Text()) << Show(c.path);
    }
    WString unsuffixed(L"HKLM64\\SOFTWARE");
    EXPECT_EQ(nullptr, ParseKeyPath(unsuffixed));
}

TEST(OpenKey, OpensRootsViewsAndRefusesUnknownRoots)
{
    struct { const wchar_t* path; bool opens; } const cases[] = {
        {L"HKLM\\", true},              {L"HKLM32\\SOFTWARE", true}, {L"hkey_users32\\.DEFAULT", true},
        {L"MACHINE\\SOFTWARE", false},  {L"\\\\PC\\HKLM\\SOFTWARE", false},
        {L"HKLM\\SOFTWARE\\Vantrell Tests\\does not exist", false},
    };
    for (const auto& c : cases) {
        UniqueRegKey key(OpenKey(c.path, KEY_READ));
        EXPECT_EQ(c.opens, static_cast<bool>(key)) << Show(c.path);
    }
}

TEST_F(ScratchKey, KeyExistsCountsARefusedKeyAsExisting)
{
    Create(L"present");
    Create(L"locked");
    Deny(L"locked", KEY_QUERY_VALUE | KEY_READ);

    EXPECT_TRUE(KeyExists(Path(L"present").c_str()));
    EXPECT_TRUE(KeyExists(Path(L"locked").c_str()));
    EXPECT_FALSE(KeyExists(Path(L"absent").c_str()));
    EXPECT_FALSE(KeyExists(L"MACHINE\\SOFTWARE"));
    EXPECT_TRUE(KeyExists(L"HKLM"));
}

TEST_F(ScratchKey, ValuesAreWrittenAndReadBackByType)
{
    RegKey key;
    ASSERT_TRUE(key.Open(scratchPath_.c_str(), KEY_ALL_ACCESS));
    const DWORD dword = 0x12345678;
    const ULONGLONG qword = 0x1122334455667788ull;
    struct Case {
        const wchar_t* name;
        DWORD type;
        const void* data;
        std::vector<BYTE> stored;   // what the registry holds afterwards
    } const cases[] = {
        {L"sz", REG_SZ, L"abc", Bytes({L'a', L'b', L'c', 0})},   // size 0 derives 8 bytes
        {L"expand", REG_EXPAND_SZ, L"%WINDIR%", Bytes({L'%', L'W', L'I', L'N', L'D', L'I', L'R', L'%', 0})},
        {L"multi", REG_MULTI_SZ, L"a\nb\nc", Bytes({L'a', 0, L'b', 0, L'c', 0, 0})},
        {L"emptyMulti", REG_MULTI_SZ, L"", Bytes({0, 0})},
        {L"trailing", REG_MULTI_SZ, L"a\n\n", Bytes({L'a', 0, 0})},
        {L"dword", REG_DWORD, &dword, {0x78, 0x56, 0x34, 0x12}},
        {L"qword", REG_QWORD, &qword, {0x88, 0x77, 0x66, 0x55, 0x44, 0x33, 0x22, 0x11}},
        {L"\u00e9t\u00e9 \u65e5\u672c", REG_SZ, L"\u00fcber", Bytes({0xfc, L'b', L'e', L'r', 0})},
        {L"binary", REG_BINARY, L"ignored", {}},   // no rule for the size: written empty
    };
    for (const Case& c : cases) {
        ASSERT_TRUE(key.SetValue(c.name, c.type, c.data, 0)) << Show(c.name);
        DWORD type = 0;
        EXPECT_EQ(c.stored, Raw(L"", c.name, &type)) << Show(c.name);
        EXPECT_EQ(c.type, type) << Show(c.name);
    }

    RegValue value;
    ASSERT_TRUE(key.QueryValue(L"multi", value));
    EXPECT_EQ(static_cast<uint32_t>(REG_MULTI_SZ), value.type);
    EXPECT_EQ(14u, value.size);
    EXPECT_STREQ(L"a\nb\nc", value.Text());
    EXPECT_GE(value.capacity, 18u);
    ASSERT_TRUE(key.QueryValue(L"dword", value));
    EXPECT_EQ(dword, value.Dword());
    EXPECT_EQ(4u, value.size);
    const uint32_t capacity = value.capacity;   // the buffer never shrinks
    EXPECT_GE(capacity, 18u);
    ASSERT_TRUE(key.QueryValue(L"binary", value));
    EXPECT_EQ(0u, value.size);
    EXPECT_EQ(static_cast<uint32_t>(REG_BINARY), value.type);
    EXPECT_EQ(capacity, value.capacity);
    EXPECT_FALSE(key.QueryValue(L"missing", value));
    EXPECT_EQ(0xFFFFFFFFu, value.type);
    EXPECT_EQ(0u, value.size);
    EXPECT_STREQ(L"", value.Text());

    struct { const wchar_t* name; bool ok; const wchar_t* text; } const strings[] = {
        {L"expand", true, L"%WINDIR%"}, {L"multi", true, L"a\nb\nc"}, {L"dword", false, L""}, {L"missing", false, L""},
        {L"\u00e9t\u00e9 \u65e5\u672c", true, L"\u00fcber"},
    };
    for (const auto& c : strings) {
        WString text(L"stale");
        EXPECT_EQ(c.ok, key.QueryString(c.name, text)) << Show(c.name);
        EXPECT_STREQ(c.text, text.Text()) << Show(c.name);
    }
    ASSERT_TRUE(key.SetValue(nullptr, REG_SZ, L"default", 0));
    WString text;
    EXPECT_TRUE(key.QueryString(nullptr, text));
    EXPECT_STREQ(L"default", text.Text());

    RegKey closed;
    EXPECT_FALSE(closed.SetValue(L"x", REG_SZ, L"x", 0));
    EXPECT_FALSE(closed.QueryString(L"sz", text));
}

TEST_F(ScratchKey, WriteDwordCreatesTheKeyAndForceWriteDwordGetsPastARefusal)
{
    RegKey key;
    const DWORD seven = 7;
    EXPECT_TRUE(key.WriteDword(Path(L"new\\only").c_str(), nullptr, nullptr));
    EXPECT_TRUE(Exists(L"new\\only"));
    EXPECT_TRUE(key.WriteDword(Path(L"new").c_str(), L"seven", &seven));
    EXPECT_EQ(std::vector<BYTE>({7, 0, 0, 0}), Raw(L"new", L"seven"));
    EXPECT_FALSE(key.WriteDword(L"MACHINE\\X", L"seven", &seven));

    Create(L"locked");
    Deny(L"locked", KEY_SET_VALUE | KEY_CREATE_SUB_KEY);
    ASSERT_FALSE(key.WriteDword(Path(L"locked").c_str(), L"v", &seven)) << "the key must refuse writing";
    EXPECT_TRUE(key.ForceWriteDword(Path(L"locked").c_str(), L"v", &seven));
    // The DACL the reset leaves is checked where the reset is made, in the security tests.
    EXPECT_EQ(std::vector<BYTE>({7, 0, 0, 0}), Raw(L"locked", L"v"));
    // Wine does not refuse creating a subkey below a parent whose DACL denies
    // it, so the reset of a parent is not reached here.
}

TEST_F(ScratchKey, DeletionsOfTreesValuesAndRefusedKeys)
{
    for (const wchar_t* below : {L"tree\\a\\x", L"tree\\a\\y", L"tree\\b", L"tree\\c\\d\\e\\f"})
        Create(below);
    RegKey key;
    EXPECT_TRUE(key.DeleteTree(Path(L"tree\\").c_str()));   // a trailing backslash names the same key
    EXPECT_FALSE(Exists(L"tree"));
    EXPECT_FALSE(key.DeleteTree(Path(L"tree").c_str()));

    Create(L"values");
    RegKey writer;
    ASSERT_TRUE(writer.Open(Path(L"values").c_str(), KEY_SET_VALUE));
    ASSERT_TRUE(writer.SetValue(L"gone", REG_SZ, L"x", 0));
    ASSERT_TRUE(writer.SetValue(L"kept", REG_SZ, L"x", 0));
    EXPECT_TRUE(key.DeleteValueOrTree(Path(L"values").c_str(), L"gone"));
    EXPECT_TRUE(Raw(L"values", L"gone").empty());
    EXPECT_FALSE(Raw(L"values", L"kept").empty());
    EXPECT_FALSE(key.DeleteValueOrTree(Path(L"values").c_str(), L"gone"));
    EXPECT_TRUE(key.DeleteValueOrTree(Path(L"values").c_str(), nullptr));
    EXPECT_FALSE(Exists(L"values"));

    // A root is never deleted as a whole.
    for (const wchar_t* root : {L"HKCU", L"HKCU\\", L"HKEY_CURRENT_USER64"}) {
        EXPECT_FALSE(key.DeleteTree(root)) << Show(root);
        EXPECT_FALSE(key.ForceDelete(root, nullptr)) << Show(root);
    }
    EXPECT_TRUE(Exists(L""));

    // Wine does not check DELETE on a key, but never deletes a key that still
    // has subkeys: a key that cannot be listed cannot be emptied or deleted.
    Create(L"locked\\inner\\deepest");
    Deny(L"locked", KEY_ENUMERATE_SUB_KEYS);
    ASSERT_FALSE(key.DeleteTree(Path(L"locked").c_str())) << "the key must refuse deletion";
    EXPECT_TRUE(Exists(L"locked\\inner"));
    EXPECT_TRUE(key.ForceDelete(Path(L"locked").c_str(), nullptr));
    EXPECT_FALSE(Exists(L"locked"));

    Create(L"lockedValues");
    ASSERT_TRUE(writer.Open(Path(L"lockedValues").c_str(), KEY_SET_VALUE));
    ASSERT_TRUE(writer.SetValue(L"v", REG_SZ, L"x", 0));
    writer.Close();
    Deny(L"lockedValues", KEY_SET_VALUE);
    ASSERT_FALSE(key.DeleteValueOrTree(Path(L"lockedValues").c_str(), L"v"));
    EXPECT_TRUE(key.ForceDelete(Path(L"lockedValues").c_str(), L"v"));
    EXPECT_TRUE(Raw(L"lockedValues", L"v").empty());
}

TEST_F(ScratchKey, CopyKeyTreeCountsKeysAndValues)
{
    RegKey writer;
    ASSERT_TRUE(writer.Open(Path(L"source").c_str(), kCreateKeyAccess));
    ASSERT_TRUE(writer.SetValue(L"one", REG_SZ, L"1", 0));
    // Empty items survive the copy byte for byte.
    const std::vector<BYTE> multi = Bytes({L'a', 0, 0, L'b', 0, 0});
    ASSERT_EQ(ERROR_SUCCESS, RegSetValueExW(writer.Get(), L"multi", 0, REG_MULTI_SZ, multi.data(),
                                            static_cast<DWORD>(multi.size())));
    ASSERT_TRUE(writer.Open(Path(L"source\\\u00e9l\u00e8ve").c_str(), kCreateKeyAccess));
    ASSERT_TRUE(writer.SetValue(L"", REG_BINARY, nullptr, 0));
    writer.Close();

    EXPECT_EQ(5u, CopyKeyTree(Path(L"source").c_str(), Path(L"copy").c_str()));
    EXPECT_EQ(Bytes({L'1', 0}), Raw(L"copy", L"one"));
    EXPECT_EQ(multi, Raw(L"copy", L"multi"));
    DWORD type = 0;
    EXPECT_TRUE(Raw(L"copy\\\u00e9l\u00e8ve", L"", &type).empty());
    EXPECT_EQ(static_cast<DWORD>(REG_BINARY), type);

    // Copying again reuses the keys and counts them again.
    EXPECT_EQ(5u, CopyKeyTree(Path(L"source").c_str(), Path(L"copy").c_str()));
    EXPECT_EQ(0u, CopyKeyTree(Path(L"source").c_str(), Path(L"SOURCE").c_str()));
    EXPECT_EQ(0u, CopyKeyTree(Path(L"absent").c_str(), Path(L"copy2").c_str()));
    EXPECT_FALSE(Exists(L"copy2"));
}

// A multi-string stored without its own terminator (other programs write
// them) keeps its last character; the units read are all of the value.
TEST_F(ScratchKey, MultiStringsWithoutTerminatorKeepTheirLastCharacter)
{
    struct { std::vector<BYTE> bytes; const wchar_t* text; } const cases[] = {
        {Bytes({L'a', L'b', 0, L'c', L'd'}), L"ab\ncd"}, {Bytes({L'x'}), L"x"}, {Bytes({L'a', L'b', 0, L'c', 0, 0}), L"ab\nc"},
        {Bytes({0}), L""},
    };
    for (const auto& c : cases) {
        ASSERT_EQ(ERROR_SUCCESS, RegSetValueExW(raw_.Get(), L"multi", 0, REG_MULTI_SZ, c.bytes.data(),
                                                static_cast<DWORD>(c.bytes.size())));
        RegKey key;
        ASSERT_TRUE(key.Open(scratchPath_.c_str(), KEY_READ));
        RegValue value;
        ASSERT_TRUE(key.QueryValue(L"multi", value));
        EXPECT_EQ(std::wstring(c.text), std::wstring(value.Text())) << "QueryValue of " << Show(c.text);
        WString text;
        ASSERT_TRUE(key.QueryString(L"multi", text));
        EXPECT_EQ(std::wstring(c.text), std::wstring(text.Text())) << "QueryString of " << Show(c.text);
    }
}

// A copy that missed anything must say so: the repair deletes the source
// on the strength of it.
TEST_F(ScratchKey, CopyKeyTreeReportsAnythingNotCopied)
{
    Create(L"source\\readable");
    Create(L"source\\locked");
    Create(L"source\\locked\\below");
    RegKey writer;
    ASSERT_TRUE(writer.Open(Path(L"source").c_str(), KEY_READ | KEY_WRITE));
    const DWORD one = 1;
    ASSERT_TRUE(writer.SetValue(L"value", REG_DWORD, &one, 0));
    writer.Close();
    Deny(L"source\\locked", KEY_READ);
    EXPECT_EQ(0u, CopyKeyTree(Path(L"source").c_str(), Path(L"copy").c_str()))
        << "a subkey that could not be read was reported as copied";
    // What could be copied was copied; the caller decides what to do.
    EXPECT_TRUE(Exists(L"copy\\readable"));
}

// The copy walks with its own stack and relative key handles: a deep tree
// (the registry allows 512 levels) arrives whole.
TEST_F(ScratchKey, CopyKeyTreeCopiesDeepTreesWhole)
{
    std::wstring sub = L"deep";
    for (int level = 0; level < 200; ++level)
        sub += L"\\k";
    Create(sub.c_str());
    EXPECT_EQ(201u, CopyKeyTree(Path(L"deep").c_str(), Path(L"deep copy").c_str()));
    std::wstring copied = L"deep copy" + sub.substr(4);
    EXPECT_TRUE(Exists(copied.c_str()));
}

TEST_F(ScratchKey, CopyKeyTreeRefusesItsOwnSubtree)
{
    RegKey writer;
    ASSERT_TRUE(writer.Open(Path(L"tree\\child").c_str(), kCreateKeyAccess));
    ASSERT_TRUE(writer.SetValue(L"v", REG_SZ, L"x", 0));
    writer.Close();

    // However the root is spelt, a copy below its source would meet its own
    // output; nothing is created.
    const std::wstring longRoot = L"HKEY_CURRENT_USER\\" + Sub(L"TREE");
    EXPECT_EQ(0u, CopyKeyTree(Path(L"tree").c_str(), Path(L"tree\\child\\copy").c_str()));
    EXPECT_EQ(0u, CopyKeyTree(Path(L"tree").c_str(), (longRoot + L"\\copy").c_str()));
    EXPECT_FALSE(Exists(L"tree\\child\\copy"));
    EXPECT_FALSE(Exists(L"tree\\copy"));
    // A sibling whose name merely starts the same is no subtree.
    EXPECT_EQ(3u, CopyKeyTree(Path(L"tree").c_str(), Path(L"tree2").c_str()));
    EXPECT_TRUE(Exists(L"tree2\\child"));
}

TEST(ToSecurityObjectName, UsesThisProcesssView)
{
    // The test program is 64-bit: no WOW64, so the 64-bit roots are nameable.
    EXPECT_FALSE(IsWow64(GetCurrentProcess()));
    WString path(L"HKLM64\\SOFTWARE");
    EXPECT_TRUE(ToSecurityObjectName(path));
    EXPECT_STREQ(L"MACHINE\\SOFTWARE", path.Text());
    path.Assign(L"HKLM32\\SOFTWARE\\X");
    EXPECT_TRUE(ToSecurityObjectName(path));
    EXPECT_STREQ(L"MACHINE\\SOFTWARE\\WOW6432Node\\X", path.Text());
    path.Assign(L"HKCC\\X");
    EXPECT_FALSE(ToSecurityObjectName(path));
}

namespace {

// A key's owner and DACL as SDDL, set when `sddl` is given; the key itself, never a link's target.
std::wstring KeySddl(const std::wstring& path, const std::wstring& sddl = L"")
{
    UniqueRegKey key;
    PSECURITY_DESCRIPTOR descriptor = nullptr;
    constexpr SECURITY_INFORMATION kBoth = OWNER_SECURITY_INFORMATION | DACL_SECURITY_INFORMATION;
    if (RegOpenKeyExW(HKEY_CURRENT_USER, path.c_str(), REG_OPTION_OPEN_LINK, READ_CONTROL | WRITE_DAC | WRITE_OWNER,
                      key.Put()) != ERROR_SUCCESS)
        return L"(unopened)";
    if (!sddl.empty() &&
        (!ConvertStringSecurityDescriptorToSecurityDescriptorW(sddl.c_str(), SDDL_REVISION_1, &descriptor, nullptr) ||
         RegSetKeySecurity(key.Get(), kBoth | PROTECTED_DACL_SECURITY_INFORMATION, descriptor) != ERROR_SUCCESS))
        return L"(not set)";
    LocalFree(descriptor);
    BYTE buffer[4096];
    DWORD size = sizeof(buffer);
    LPWSTR text = nullptr;
    if (RegGetKeySecurity(key.Get(), kBoth, buffer, &size) != ERROR_SUCCESS ||
        !ConvertSecurityDescriptorToStringSecurityDescriptorW(buffer, SDDL_REVISION_1, kBoth, &text, nullptr))
        return L"(unreadable)";
    std::wstring read = text;
    LocalFree(text);
    return read;
}

// Deletes the link key itself: a deletion by name would act on its target.
void DeleteLinkKey(const std::wstring& path)
{
    using DeleteKey = LONG(NTAPI*)(HANDLE);
    auto remove = reinterpret_cast<DeleteKey>(
        reinterpret_cast<void*>(GetProcAddress(GetModuleHandleW(L"ntdll.dll"), "NtDeleteKey")));
    UniqueRegKey link;
    if (remove != nullptr && RegOpenKeyExW(HKEY_CURRENT_USER, path.c_str(), REG_OPTION_OPEN_LINK, DELETE | KEY_READ,
                                           link.Put()) == ERROR_SUCCESS)
        remove(link.Get());
}

}  // namespace

// The keys of a tree given from one SID to another: the owner and each entry
// naming the old SID change, other entries and keys stay, and a link key is
// neither changed nor followed to the key it leads to.
TEST_F(ScratchKey, HandKeysOverGivesOwnersAndEntriesButNeverFollowsALink)
{
    EnablePrivileges();
    const std::wstring oldSid = L"S-1-5-21-7-8-9-1107", newSid = L"S-1-5-21-7-8-9-1112";
    const std::wstring target = scratch_ + L" target";
    DeleteLinkKey(Sub(L"Out"));
    WipeKey(HKEY_CURRENT_USER, target);
    UniqueRegKey targetKey, link;
    ASSERT_EQ(ERROR_SUCCESS, RegCreateKeyExW(HKEY_CURRENT_USER, target.c_str(), 0, nullptr, 0, KEY_ALL_ACCESS, nullptr,
                                             targetKey.Put(), nullptr));
    ASSERT_EQ(ERROR_SUCCESS, RegCreateKeyExW(HKEY_CURRENT_USER, Sub(L"Out").c_str(), 0, nullptr, REG_OPTION_CREATE_LINK,
                                             KEY_ALL_ACCESS | KEY_CREATE_LINK, nullptr, link.Put(), nullptr));
    WString user;
    ASSERT_TRUE(ProcessUserSidText(user));
    const std::wstring linkTarget = L"\\Registry\\User\\" + std::wstring(user.Text()) + L"\\" + target;
    ASSERT_EQ(ERROR_SUCCESS, RegSetValueExW(link.Get(), L"SymbolicLinkValue", 0, REG_LINK,
                                            reinterpret_cast<const BYTE*>(linkTarget.data()),
                                            static_cast<DWORD>(linkTarget.size() * sizeof(wchar_t))));
    auto owned = [](const std::wstring& sid) {
        return L"O:" + sid + L"D:P(A;CI;KA;;;" + sid + L")(D;;KW;;;BG)(A;CI;KA;;;BA)";
    };
    auto shared = [](const std::wstring& sid) { return L"O:BAD:P(A;CI;KR;;;" + sid + L")(A;CI;KA;;;BA)"; };
    // Each key: its security before, and after the hand-over.
    const struct {
        std::wstring key, before, after;
    } keys[] = {
        {scratch_, owned(oldSid), owned(newSid)},
        {Sub(L"Mine"), owned(oldSid), owned(newSid)},
        {Sub(L"Mine\\Deeper"), owned(oldSid), owned(newSid)},
        {Sub(L"Shared"), shared(oldSid), shared(newSid)},
        {target, owned(oldSid), owned(oldSid)},   // reached only through the link: never touched
    };
    for (const auto& k : keys) {
        UniqueRegKey made;
        RegCreateKeyExW(HKEY_CURRENT_USER, k.key.c_str(), 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, made.Put(), nullptr);
        ASSERT_EQ(Narrow(k.before), Narrow(KeySddl(k.key, k.before)));
    }
    LocalSid from, to;
    ASSERT_TRUE(SidFromText(oldSid.c_str(), from) && SidFromText(newSid.c_str(), to));
    KeyHandover counts;
    EXPECT_TRUE(HandKeysOver(raw_.Get(), from.Get(), to.Get(), counts));
    EXPECT_EQ("5 4 1 0", std::to_string(counts.keys) + " " + std::to_string(counts.changed) + " " +
                             std::to_string(counts.links) + " " + std::to_string(counts.refused))
        << "keys looked at, changed, links left alone, refused";
    for (const auto& k : keys)
        EXPECT_EQ(Narrow(k.after), Narrow(KeySddl(k.key))) << Narrow(k.key);
    link.Reset();
    DeleteLinkKey(Sub(L"Out"));
    targetKey.Reset();
    WipeKey(HKEY_CURRENT_USER, target);
}
