#include <gtest/gtest.h>

#include <algorithm>
#include <iterator>

#include <windows.h>
#include <sddl.h>

#include <string>
#include <vector>

#include "platform/files.h"
#include "platform/registry.h"
#include "platform/security.h"
#include "test_support.h"

namespace {

constexpr wchar_t kAdmins[] = L"S-1-5-32-544";
constexpr wchar_t kSystem[] = L"S-1-5-18";
constexpr wchar_t kUsers[] = L"S-1-5-32-545";
constexpr wchar_t kEveryone[] = L"S-1-1-0";
constexpr wchar_t kTrustedInstaller[] = L"S-1-5-80-956008885-3418522649-1831038044-1853292631-2271478464";
constexpr wchar_t kPackages[] = L"S-1-15-2-1";
constexpr wchar_t kRestrictedPackages[] = L"S-1-15-2-2";

// Owner and allowed ACEs of a key, read by its object name.
bool ReadKeySecurity(const wchar_t* objectName, std::wstring& owner, std::vector<Ace>& aces)
{
    PACL dacl = nullptr;
    PSID ownerSid = nullptr;
    LocalSecurityDescriptor descriptor;
    if (GetNamedSecurityInfoW(objectName, SE_REGISTRY_KEY, DACL_SECURITY_INFORMATION | OWNER_SECURITY_INFORMATION,
                              &ownerSid, nullptr, &dacl, nullptr, descriptor.Put()) != ERROR_SUCCESS)
        return false;
    owner = SidString(ownerSid);
    aces = Aces(dacl);
    return true;
}

LocalSid Sid(const wchar_t* text)
{
    LocalSid sid;
    SidFromName(sid, text);
    return sid;
}

}  // namespace

TEST(SidFromName, ConvertsSidStringsAndLooksUpNames)
{
    struct Case {
        const wchar_t* input;
        const wchar_t* sid;   // null: no valid SID
    } const cases[] = {
        {L"S-1-5-32-545", kUsers},
        {L"S-1-5-18", kSystem},
        {L"Users", kUsers},
        // The prefix test is case-sensitive: this goes to the account lookup, which knows no such name.
        {L"s-1-5-32-545", nullptr},
        {L"S-1-bogus", nullptr},
        {nullptr, nullptr},
    };
    for (const Case& c : cases) {
        LocalSid sid;
        SidFromName(sid, c.input);
        const bool valid = sid && IsValidSid(sid.Get());
        EXPECT_EQ(c.sid != nullptr, valid) << Show(c.input);
        if (c.sid != nullptr && valid) {
            EXPECT_EQ(c.sid, SidString(sid.Get())) << Show(c.input);
        }
    }
}

TEST(AddAllowedAce, KeepsCanonicalOrderAndRejectsInvalidSids)
{
    LocalAcl acl;
    ASSERT_TRUE(NewAcl(acl));
    PACL p = acl.Get();
    LocalSid admins = Sid(kAdmins), system = Sid(kSystem), users = Sid(kUsers), everyone = Sid(kEveryone);
    ASSERT_TRUE(AddAllowedAce(&p, admins.Get(), GENERIC_ALL, 0));
    ASSERT_TRUE(AddAllowedAce(&p, system.Get(), GENERIC_READ, INHERITED_ACE));
    // An explicit inheritable ACE goes between the explicit and the inherited one ...
    ASSERT_TRUE(AddAllowedAce(&p, users.Get(), GENERIC_READ, 3));
    // ... an inherited one at the end.
    ASSERT_TRUE(AddAllowedAce(&p, everyone.Get(), GENERIC_READ, 0x10));
    const std::vector<Ace> expected = {
        {kAdmins, GENERIC_ALL, 0}, {kUsers, GENERIC_READ, 3}, {kSystem, GENERIC_READ, INHERITED_ACE},
        {kEveryone, GENERIC_READ, 0x10}};
    EXPECT_EQ(expected, Aces(p));

    // Into an ACL with only inherited ACEs, an explicit one goes first.
    LocalAcl inherited;
    ASSERT_TRUE(NewAcl(inherited));
    PACL q = inherited.Get();
    ASSERT_TRUE(AddAllowedAce(&q, system.Get(), GENERIC_READ, INHERITED_ACE));
    ASSERT_TRUE(AddAllowedAce(&q, admins.Get(), GENERIC_ALL, 2));
    EXPECT_EQ(std::vector<Ace>({{kAdmins, GENERIC_ALL, 2}, {kSystem, GENERIC_READ, INHERITED_ACE}}), Aces(q));

    LocalSid zeroed(LocalAlloc(LPTR, 68));   // what a failed lookup leaves
    EXPECT_FALSE(AddAllowedAce(&p, zeroed.Get(), GENERIC_ALL, 0));
    EXPECT_FALSE(AddAllowedAce(&p, nullptr, GENERIC_ALL, 0));
    EXPECT_EQ(4u, p->AceCount);
}

TEST(ReadAce, AcceptsAllowedAndDeniedTypesOnly)
{
    // Object entries need the directory-service revision of the ACL.
    LocalAcl acl(static_cast<PACL>(LocalAlloc(LPTR, kAclBufferSize)));
    ASSERT_TRUE(InitializeAcl(acl.Get(), kAclBufferSize, ACL_REVISION_DS));
    LocalSid users = Sid(kUsers);
    ASSERT_TRUE(AddAccessDeniedAceEx(acl.Get(), ACL_REVISION, INHERITED_ACE, GENERIC_WRITE, users.Get()));
    ASSERT_TRUE(AddAccessAllowedAceEx(acl.Get(), ACL_REVISION, 0, GENERIC_READ, users.Get()));
    GUID type = {1, 2, 3, {4, 5, 6, 7, 8, 9, 10, 11}};
    // Written out by hand: Wine has no AddAccessAllowedObjectAce.
    BYTE objectAce[sizeof(ACCESS_ALLOWED_OBJECT_ACE) + SECURITY_MAX_SID_SIZE] = {};
    auto* object = reinterpret_cast<ACCESS_ALLOWED_OBJECT_ACE*>(objectAce);
    object->Header.AceType = ACCESS_ALLOWED_OBJECT_ACE_TYPE;
    object->Header.AceSize = static_cast<WORD>(44 + GetLengthSid(users.Get()));
    object->Mask = GENERIC_READ;
    object->Flags = ACE_OBJECT_TYPE_PRESENT | ACE_INHERITED_OBJECT_TYPE_PRESENT;
    object->ObjectType = type;
    object->InheritedObjectType = type;
    ASSERT_TRUE(CopySid(GetLengthSid(users.Get()), &object->SidStart, users.Get()));
    ASSERT_TRUE(AddAce(acl.Get(), ACL_REVISION_DS, MAXDWORD, objectAce, object->Header.AceSize));
    ASSERT_TRUE(AddAuditAccessAceEx(acl.Get(), ACL_REVISION_DS, 0, GENERIC_READ, users.Get(), TRUE, TRUE));

    const DWORD sidLength = GetLengthSid(users.Get());
    struct Case {
        DWORD index;
        bool ok, allowed, marked;
        DWORD size, revision;
    } const cases[] = {
        {0, true, false, true, 12 + sidLength - 4, ACL_REVISION},
        {1, true, true, false, 12 + sidLength - 4, ACL_REVISION},
        {2, true, true, false, 48 + sidLength - 4, ACL_REVISION_DS},
        {3, false, false, false, 0, 0},   // audit entries are never read
        {4, false, false, false, 0, 0},
    };
    for (const Case& c : cases) {
        AceInfo info;
        EXPECT_EQ(c.ok, ReadAce(acl.Get(), c.index, info)) << "index " << c.index;
        if (!c.ok)
            continue;
        EXPECT_EQ(c.allowed, info.allowed) << "index " << c.index;
        EXPECT_EQ(c.marked, info.inheritanceMarked) << "index " << c.index;
        EXPECT_EQ(c.size, info.size) << "index " << c.index;
        EXPECT_EQ(c.revision, info.revision) << "index " << c.index;
        EXPECT_EQ(kUsers, SidString(info.sid)) << "index " << c.index;
    }
    EXPECT_FALSE(ReadAce(nullptr, 0, *std::make_unique<AceInfo>()));
}

TEST(MergeAcl, FiltersAndCanonicalPlaces)
{
    LocalSid admins = Sid(kAdmins), system = Sid(kSystem), users = Sid(kUsers), everyone = Sid(kEveryone);
    LocalAcl source;
    ASSERT_TRUE(NewAcl(source));
    ASSERT_TRUE(AddAccessDeniedAceEx(source.Get(), ACL_REVISION, 0, GENERIC_WRITE, everyone.Get()));
    ASSERT_TRUE(AddAccessAllowedAceEx(source.Get(), ACL_REVISION, 0, GENERIC_READ, users.Get()));
    ASSERT_TRUE(AddAccessAllowedAceEx(source.Get(), ACL_REVISION, INHERITED_ACE, GENERIC_ALL, system.Get()));
    ASSERT_TRUE(AddAccessDeniedAceEx(source.Get(), ACL_REVISION, INHERITED_ACE, GENERIC_ALL, users.Get()));
    ASSERT_TRUE(AddAccessAllowedAceEx(source.Get(), ACL_REVISION, 0, GENERIC_ALL, admins.Get()));

    struct Case {
        DWORD filter;
        DWORD added;
        std::vector<std::wstring> order;   // SIDs of the merged ACL; the destination starts with admins
    } const cases[] = {
        // Explicit denies first, explicit allows, inherited denies, inherited allows.
        {0, 5, {kEveryone, kAdmins, kUsers, kAdmins, kUsers, kSystem}},
        {kMergeSkipKnownSids, 4, {kEveryone, kAdmins, kUsers, kUsers, kSystem}},
        {kMergeOnlyInherited, 2, {kAdmins, kUsers, kSystem}},
        {kMergeOnlyExplicit, 3, {kEveryone, kAdmins, kUsers, kAdmins}},
        {kMergeOnlyAllowed, 3, {kAdmins, kUsers, kAdmins, kSystem}},
        {kMergeOnlyDenied, 2, {kEveryone, kAdmins, kUsers}},
    };
    for (const Case& c : cases) {
        LocalAcl destination;
        ASSERT_TRUE(NewAcl(destination));
        PACL p = destination.Get();
        ASSERT_TRUE(AddAllowedAce(&p, admins.Get(), GENERIC_ALL, 0));
        EXPECT_EQ(c.added, MergeAcl(&p, source.Get(), c.filter)) << "filter " << c.filter;
        std::vector<std::wstring> order;
        for (const Ace& ace : Aces(p))
            order.push_back(ace.sid);
        EXPECT_EQ(c.order, order) << "filter " << c.filter;
    }

    PACL self = source.Get();
    EXPECT_EQ(0u, MergeAcl(&self, source.Get(), kMergeSkipKnownSids));
    EXPECT_EQ(5u, self->AceCount);
    EXPECT_EQ(0u, MergeAcl(&self, nullptr, 0));
    LocalAcl empty;
    ASSERT_TRUE(NewAcl(empty));
    EXPECT_EQ(0u, MergeAcl(&self, empty.Get(), 0));
}

TEST(PlanSecurityCall, FlagsBecomeTheCallsArguments)
{
    constexpr DWORD D = DACL_SECURITY_INFORMATION, O = OWNER_SECURITY_INFORMATION;
    constexpr DWORD P = PROTECTED_DACL_SECURITY_INFORMATION, U = UNPROTECTED_DACL_SECURITY_INFORMATION;
    struct Case {
        DWORD flags;
        bool owner, canBeTree;
        DWORD information;
        bool tree, keepExplicit, ownerRetry;
    } const cases[] = {
        {0, false, true, D, false, false, false},
        {1, false, true, D, true, false, false},
        {1, false, false, D, false, false, false},   // a plain file is set alone
        {2, false, false, D | U, false, false, false},
        {6, false, false, D | P, false, false, false},   // protected wins
        {5, true, true, D | O | P, true, false, true},
        {8, true, true, O, false, false, false},          // owner only, no retry
        {0x11, true, true, D | O, true, true, true},
        {0xC11 & ~0xC00u, false, true, D, true, true, false},
    };
    for (const Case& c : cases) {
        SecurityCall call = PlanSecurityCall(c.flags, c.owner, c.canBeTree);
        EXPECT_EQ(c.information, call.information) << "flags " << c.flags;
        EXPECT_EQ(c.tree, call.tree) << "flags " << c.flags;
        EXPECT_EQ(c.keepExplicit, call.keepExplicit) << "flags " << c.flags;
        EXPECT_EQ(c.ownerRetry, call.ownerRetry) << "flags " << c.flags;
    }
}

// No recipe gives Everyone or Users more than reading (and, for a tree, running).
TEST(BuildRecipeDacl, RowsByRecipeAndVersion)
{
    constexpr DWORD GA = GENERIC_ALL, GR = GENERIC_READ, GE = GENERIC_EXECUTE;
    LocalSid account = Sid(L"S-1-5-21-1-2-3-1001");
    struct Case {
        SecurityRecipe recipe;
        double version;
        bool withAccount;
        std::vector<Ace> aces;
    } const cases[] = {
        {SecurityRecipe::Folder, 10.0, true,
         {{kAdmins, GA, 3}, {kSystem, GA, 3}, {kPackages, GR, 3}, {kRestrictedPackages, GR, 3},
          {L"S-1-5-21-1-2-3-1001", GA, 3}}},
        {SecurityRecipe::Folder, 6.1, false, {{kAdmins, GA, 3}, {kSystem, GA, 3}}},
        {SecurityRecipe::Tree, 10.0, false,
         {{kAdmins, GA, 3}, {kSystem, GA, 3}, {kUsers, GR | GE, 3}, {kTrustedInstaller, GA, 3},
          {kPackages, GR, 3}, {kRestrictedPackages, GR, 3}}},
        {SecurityRecipe::Tree, 6.0, false,
         {{kAdmins, GA, 3}, {kSystem, GA, 3}, {kUsers, GR | GE, 3}, {kTrustedInstaller, GA, 3}}},
        {SecurityRecipe::Tree, 5.1, false, {{kAdmins, GA, 3}, {kSystem, GA, 3}, {kUsers, GR | GE, 3}}},
        {SecurityRecipe::Key, 10.0, false,
         {{kAdmins, GA, 2}, {kSystem, GA, 2}, {kEveryone, GR, 2}, {kUsers, GR, 2}, {L"S-1-5-12", GR, 2},
          {kTrustedInstaller, GA, 2}}},
        {SecurityRecipe::Key, 6.0, false,
         {{kAdmins, GA, 2}, {kSystem, GA, 2}, {kEveryone, GR, 2}, {kUsers, GR, 2}, {L"S-1-5-12", GR, 2},
          {kTrustedInstaller, GA, 2}}},
        {SecurityRecipe::Key, 5.3, false,
         {{kAdmins, GA, 2}, {kSystem, GA, 2}, {kEveryone, GR, 2}, {kUsers, GR, 2}, {L"S-1-5-12", GR, 2}}},
        {SecurityRecipe::TakeOver, 10.0, true, {{kSystem, GA, 3}, {kAdmins, GA, 3}}},
        {SecurityRecipe::TakeOverFile, 10.0, false, {{kSystem, GA, 0}, {kAdmins, GA, 0}}},
    };
    for (const Case& c : cases) {
        LocalAcl dacl;
        ASSERT_TRUE(BuildRecipeDacl(c.recipe, c.version, c.withAccount ? account.Get() : nullptr, dacl))
            << "recipe " << static_cast<int>(c.recipe) << " version " << c.version;
        EXPECT_EQ(c.aces, Aces(dacl.Get())) << "recipe " << static_cast<int>(c.recipe) << " version " << c.version;
        EXPECT_TRUE(IsValidAcl(dacl.Get()));
    }
}

TEST(ApplySecurity, SetsARegistryKeysDaclEndToEnd)
{
    constexpr wchar_t kSub[] = L"Software\\Vantrell Tests\\security";
    constexpr wchar_t kPath[] = L"HKCU\\Software\\Vantrell Tests\\security";
    RegDeleteTreeW(HKEY_CURRENT_USER, kSub);
    ASSERT_EQ(ERROR_SUCCESS, RegWrite(HKEY_CURRENT_USER, kSub, L"v", L"x"));

    LocalAcl dacl;
    ASSERT_TRUE(NewAcl(dacl));
    PACL p = dacl.Get();
    LocalSid admins = Sid(kAdmins), users = Sid(kUsers);
    ASSERT_TRUE(AddAllowedAce(&p, admins.Get(), KEY_ALL_ACCESS, 0));
    ASSERT_TRUE(AddAllowedAce(&p, users.Get(), KEY_READ, 0));
    ASSERT_TRUE(ApplySecurity(&p, kPath, SE_REGISTRY_KEY, kApplyProtected, admins.Get()));

    std::wstring owner;
    std::vector<Ace> aces;
    ASSERT_TRUE(ReadKeySecurity(L"CURRENT_USER\\Software\\Vantrell Tests\\security", owner, aces));
    EXPECT_EQ(std::vector<Ace>({{kAdmins, KEY_ALL_ACCESS, 0}, {kUsers, KEY_READ, 0}}), aces);
    EXPECT_EQ(kAdmins, owner);

    // Roots without an object name are refused before any call; so is a missing DACL.
    EXPECT_FALSE(ApplySecurity(&p, L"HKCC\\System", SE_REGISTRY_KEY, 0, nullptr));
    PACL none = nullptr;
    EXPECT_FALSE(ApplySecurity(&none, kPath, SE_REGISTRY_KEY, 0, nullptr));
    // The registry key is as it was.
    ASSERT_TRUE(ReadKeySecurity(L"CURRENT_USER\\Software\\Vantrell Tests\\security", owner, aces));
    EXPECT_EQ(std::vector<Ace>({{kAdmins, KEY_ALL_ACCESS, 0}, {kUsers, KEY_READ, 0}}), aces);
    RegDeleteTreeW(HKEY_CURRENT_USER, kSub);
}

// The reset must keep what the key allowed before: it reads the DACL
// before it writes anything.
TEST(ResetKeySecurity, KeepsTheGrantsTheKeyHadBefore)
{
    constexpr wchar_t kSub[] = L"Software\\Vantrell Tests\\reset keeps";
    constexpr wchar_t kPath[] = L"HKCU\\Software\\Vantrell Tests\\reset keeps";
    constexpr wchar_t kObject[] = L"CURRENT_USER\\Software\\Vantrell Tests\\reset keeps";
    struct { const char* what; const wchar_t* sddl; } const cases[] = {   // the key's DACL before the reset
        {"readable", L"D:P(A;CI;KA;;;BA)(A;CI;KR;;;LS)"},
        {"refusing all but LocalService and Everyone's read-control", L"D:P(A;CI;KR;;;LS)(A;;RC;;;WD)"},
        {"refusing writes to everyone", L"D:P(D;CI;0x6;;;WD)(D;CI;0x6;;;BA)(A;CI;KA;;;BA)"},
    };
    LocalAcl recipe;
    ASSERT_TRUE(BuildRecipeDacl(SecurityRecipe::Key, 10.0, nullptr, recipe));
    for (const auto& c : cases) {
        WipeKey(HKEY_CURRENT_USER, kSub);
        ASSERT_EQ(ERROR_SUCCESS, RegWrite(HKEY_CURRENT_USER, kSub, L"v", L"x"));
        ASSERT_EQ(ERROR_SUCCESS, SetKeySddl(HKEY_CURRENT_USER, kSub, c.sddl));
        std::wstring owner;
        std::vector<Ace> before, after;
        ASSERT_TRUE(ReadKeySecurity(kObject, owner, before)) << c.what;
        // The key recipe, owned by Administrators, followed by every grant the key had (its denials go).
        std::vector<Ace> expected = Aces(recipe.Get());
        std::copy_if(before.begin(), before.end(), std::back_inserter(expected),
                     [](const Ace& ace) { return ace.allowed; });

        EXPECT_TRUE(ResetKeySecurity(kPath)) << c.what;
        ASSERT_TRUE(ReadKeySecurity(kObject, owner, after)) << c.what;
        EXPECT_EQ(expected, after) << c.what;
        EXPECT_EQ(kAdmins, owner) << c.what;
        EXPECT_TRUE(UniqueRegKey(OpenKey(kPath, KEY_SET_VALUE))) << c.what;
    }
    RegDeleteTreeW(HKEY_CURRENT_USER, kSub);
    EXPECT_FALSE(ResetKeySecurity(L"HKCU"));
    EXPECT_FALSE(ResetKeySecurity(L"MACHINE\\SOFTWARE"));
}

// "\\computer\ROOT" is no local key: stripped of the computer it would name
// the local root, whose whole tree the reset would re-permission.
TEST(ResetKeySecurity, RefusesMachinePrefixesAndUnknownRoots)
{
    constexpr wchar_t kSub[] = L"Software\\Vantrell Tests\\machine prefix";
    ASSERT_EQ(ERROR_SUCCESS, RegWrite(HKEY_CURRENT_USER, kSub, L"v", L"x"));
    LocalAcl dacl;
    ASSERT_TRUE(BuildRecipeDacl(SecurityRecipe::TakeOver, 10.0, nullptr, dacl));
    for (const wchar_t* path : {L"\\\\PC\\HKCU\\Software\\Vantrell Tests\\machine prefix", L"\\\\PC\\HKLM",
                                L"\\HKCU\\Software\\Vantrell Tests\\machine prefix", L"NOROOT\\Software"}) {
        EXPECT_FALSE(ResetKeySecurity(path)) << Show(path);
        PACL acl = dacl.Get();
        EXPECT_FALSE(ApplySecurity(&acl, path, SE_REGISTRY_KEY, kApplyTree, nullptr)) << Show(path);
    }
    RegDeleteTreeW(HKEY_CURRENT_USER, kSub);
}

// Wine keeps no DACL on files; what can be seen is that the calls succeed
// on files and folders and refuse what cannot work.
TEST(FileSecurity, RecipesAndCopiesSucceedOnFiles_WineKeepsNoFileDacls)
{
    const std::wstring folder = TestFolder(L"security");
    const std::wstring file = folder + L"\\file.txt";
    const std::wstring other = folder + L"\\other.txt";
    for (const std::wstring& path : {file, other}) {
        UniqueFileHandle handle(CreateFileW(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr));
        ASSERT_TRUE(handle) << Show(path);
    }
    LocalSid account = Sid(kUsers);
    EXPECT_TRUE(ResetFolderSecurity(folder.c_str(), account.Get()));
    EXPECT_TRUE(ResetFolderSecurity(file.c_str(), nullptr));
    EXPECT_TRUE(ResetTreeSecurity(folder.c_str()));
    EXPECT_TRUE(ResetTreeSecurity(file.c_str()));

    EXPECT_FALSE(CopySecurity(file.c_str(), other.c_str(), 0x11));   // neither owner nor DACL asked for
    EXPECT_FALSE(CopySecurity(file.c_str(), (folder + L"\\missing").c_str(), 0xC00));
    EXPECT_FALSE(CopySecurity((folder + L"\\missing").c_str(), other.c_str(), 0xC00));
    EXPECT_TRUE(CopySecurity(file.c_str(), other.c_str(), 0xC00));
    EXPECT_TRUE(CopySecurity(file.c_str(), other.c_str(), kCopyDacl)) << "a DACL alone is copied, without the owner";
    EXPECT_TRUE(CopySecurity(folder.c_str(), folder.c_str(), 0xC11));

    // A file hard-linked into a tree is another place's file too: the tree
    // pass and the take-over leave it as it is, and the pass says so.
    const std::wstring tree = folder + L"\\tree", linked = tree + L"\\linked.txt", own = tree + L"\\own.txt";
    ASSERT_TRUE(WriteTextFile(own, "own"));
    ASSERT_TRUE(CreateHardLinkW(linked.c_str(), other.c_str(), nullptr)) << GetLastError();
    LocalAcl dacl;
    ASSERT_TRUE(BuildRecipeDacl(SecurityRecipe::TakeOver, 6.1, nullptr, dacl));
    PACL acl = dacl.Get();
    TreeSecuritySkips skips;
    EXPECT_TRUE(ApplySecurity(&acl, tree.c_str(), SE_FILE_OBJECT, kApplyTree, account.Get(), &skips));
    ASSERT_EQ(1u, skips.hardLinked.size());
    EXPECT_NE(std::string::npos, Narrow(skips.hardLinked[0].Text()).find("\\tree\\linked.txt"))
        << Narrow(skips.hardLinked[0].Text());
    EXPECT_TRUE(skips.refused.empty());
    EXPECT_FALSE(TakeOverEntryItself(linked.c_str(), dacl.Get(), account.Get()));
    EXPECT_TRUE(TakeOverEntryItself(own.c_str(), dacl.Get(), account.Get()));
}

TEST(EnablePrivileges, TurnsOnTheBackupAndRestorePrivileges)
{
    ASSERT_TRUE(EnablePrivileges());
    UniqueHandle token;
    ASSERT_TRUE(OpenProcessToken(GetCurrentProcess(), TOKEN_QUERY, token.Put()));
    for (const wchar_t* name : {L"SeBackupPrivilege", L"SeRestorePrivilege", L"SeTakeOwnershipPrivilege"}) {
        LUID luid{};
        ASSERT_TRUE(LookupPrivilegeValueW(nullptr, name, &luid));
        PRIVILEGE_SET set{1, PRIVILEGE_SET_ALL_NECESSARY, {{luid, 0}}};
        BOOL held = FALSE;
        ASSERT_TRUE(PrivilegeCheck(token.Get(), &set, &held));
        EXPECT_TRUE(held) << Show(name);
    }
}

TEST(VariableSizeLookups, AccountNamesAndSidsWriteTheirOutputsOnlyOnSuccess)
{
    struct Case {
        const wchar_t* name;
        const wchar_t* sid;   // null: the lookup fails
    } const cases[] = {
        {L"Users", kUsers},
        {L"Administrators", kAdmins},
        {L"No Such Account Vantrell", nullptr},
        {nullptr, nullptr},
    };
    for (const Case& c : cases) {
        // Outputs that hold something already: a failure must leave them so.
        LocalSid sid;
        ASSERT_TRUE(WellKnownSid(sid, WinWorldSid));
        WString domain(L"untouched");
        bool found = AccountNameToSid(c.name, sid, &domain);
        EXPECT_EQ(c.sid != nullptr, found) << Show(c.name);
        if (c.sid != nullptr) {
            EXPECT_EQ(c.sid, SidString(sid.Get())) << Show(c.name);
            EXPECT_STREQ(L"BUILTIN", domain.Text()) << Show(c.name) << " domain " << Show(domain.Text());
        } else {
            EXPECT_EQ(L"S-1-1-0", SidString(sid.Get())) << Show(c.name) << ": the SID was replaced";
            EXPECT_STREQ(L"untouched", domain.Text()) << Show(c.name);
        }
    }

    struct Back {
        const wchar_t* sid;
        const wchar_t* name;   // null: the lookup fails
    } const backs[] = {
        {kUsers, L"Users"},
        {kAdmins, L"Administrators"},
        {L"S-1-5-21-1-2-3-4242", nullptr},
    };
    for (const Back& b : backs) {
        LocalSid sid;
        ASSERT_TRUE(SidFromName(sid, b.sid)) << Show(b.sid);
        WString name(L"untouched"), domain(L"untouched");
        bool found = SidToAccountName(sid.Get(), name, &domain);
        EXPECT_EQ(b.name != nullptr, found) << Show(b.sid);
        EXPECT_STREQ(b.name != nullptr ? b.name : L"untouched", name.Text()) << Show(b.sid);
        EXPECT_STREQ(b.name != nullptr ? L"BUILTIN" : L"untouched", domain.Text()) << Show(b.sid);
    }
    WString name(L"untouched");
    EXPECT_FALSE(SidToAccountName(nullptr, name, nullptr));
    EXPECT_STREQ(L"untouched", name.Text());
}

TEST(VariableSizeLookups, TokenInformationComesInABlockOfItsOwnSize)
{
    UniqueHandle token;
    ASSERT_TRUE(OpenProcessToken(GetCurrentProcess(), TOKEN_QUERY, token.Put()));
    UniqueBytes user;
    ASSERT_TRUE(QueryTokenInformation(token.Get(), TokenUser, user));
    PSID sid = reinterpret_cast<TOKEN_USER*>(user.Get())->User.Sid;
    EXPECT_TRUE(IsValidSid(sid));
    EXPECT_EQ(0u, SidString(sid).rfind(L"S-1-5-", 0)) << Show(SidString(sid));

    // A class whose size depends on the token.
    UniqueBytes groups;
    ASSERT_TRUE(QueryTokenInformation(token.Get(), TokenGroups, groups));
    EXPECT_GE(reinterpret_cast<TOKEN_GROUPS*>(groups.Get())->GroupCount, 1u);

    // A failure leaves the caller's block as it was.
    BYTE* before = groups.Get();
    EXPECT_FALSE(QueryTokenInformation(nullptr, TokenGroups, groups));
    EXPECT_EQ(before, groups.Get());
}
