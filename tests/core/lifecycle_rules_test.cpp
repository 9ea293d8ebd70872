#include "tests/narrow.h"
#include "accounts/lifecycle_rules.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <random>
#include <string>
#include <utility>
#include <vector>

TEST(CheckNewAccountName, RefusalsInTheirOrder)
{
    using P = NewAccountNameProblem;
    struct { const wchar_t* name; P problem; } const cases[] = {
        {L"", P::Empty},                        {nullptr, P::Empty},
        {L"Alice Smith", P::None},              {L"a.b-c_d", P::None},
        {L"a+b", P::ForbiddenCharacter},        {L"a\\b", P::ForbiddenCharacter},
        {L"[x]", P::ForbiddenCharacter},        {L"x?", P::ForbiddenCharacter},
        {L"12345678901234567890", P::None},     // 20 characters
        {L"123456789012345678901", P::TooLong},  // 21
        {L"12345678901234567890+", P::ForbiddenCharacter},   // the forbidden characters are checked first
        {L".", P::OnlyDotsOrBlanks},            {L" . ", P::OnlyDotsOrBlanks},
        {L"a,b", P::RefusedCharacter},          {L"a@b", P::RefusedCharacter},
        {L"a\x1F", P::RefusedCharacter},        {L"a\x7F", P::RefusedCharacter},
        {L"ab\u202Eexe", P::RefusedCharacter},   {L"\u2066ab", P::RefusedCharacter},
    };
    for (const auto& c : cases)
        EXPECT_EQ(c.problem, CheckNewAccountName(c.name)) << Narrow(c.name);
}

// A group's name follows the accounts' rules with its own limit; a
// description is refused only for its length or a control character.
// Every refusal says why, each in its own words: a reason added to the rules
// without its text would refuse a name with an empty "cannot be used: ".
TEST(CheckNewAccountName, EveryRefusalIsToldWhy)
{
    EXPECT_EQ(L"", NameProblemText(NewAccountNameProblem::None, 20));
    std::vector<std::wstring> told;
    for (int p = 1; p <= static_cast<int>(NewAccountNameProblem::Reserved); ++p) {
        const std::wstring why = NameProblemText(static_cast<NewAccountNameProblem>(p), 20);
        EXPECT_FALSE(why.empty()) << p;
        EXPECT_EQ(told.end(), std::find(told.begin(), told.end(), why)) << Narrow(why);
        told.push_back(why);
    }
    EXPECT_EQ(L"it is longer than 256 characters", NameProblemText(NewAccountNameProblem::TooLong, 256));
    EXPECT_NE(std::wstring::npos,
              NameProblemText(NewAccountNameProblem::ForbiddenCharacter, 20).find(kForbiddenNameCharacters));
}

TEST(CheckNewGroupName, AccountRulesWithTheGroupsLimit)
{
    using P = NewAccountNameProblem;
    const std::wstring longest(256, L'g');
    struct { std::wstring name; P problem; } const cases[] = {
        {L"Lab", P::None}, {longest, P::None}, {longest + L"g", P::TooLong}, {L"a,b", P::RefusedCharacter},
        {L"x?", P::ForbiddenCharacter}, {L"..", P::OnlyDotsOrBlanks}, {L"BRENWICK_temp_admin", P::Reserved},
    };
    for (const auto& c : cases)
        EXPECT_EQ(c.problem, CheckNewGroupName(c.name.c_str())) << Narrow(c.name.c_str());
    EXPECT_TRUE(IsUsableGroupDescription(std::wstring(256, L'd').c_str()));
    EXPECT_FALSE(IsUsableGroupDescription(std::wstring(257, L'd').c_str()));
    EXPECT_FALSE(IsUsableGroupDescription(L"two\nlines"));
}

TEST(ComposeTemporaryPassword, EveryKindFromUnbiasedBytes)
{
    // A counter as the random source: every byte value in turn.
    std::vector<uint8_t> bytes;
    for (int round = 0; round < 8; ++round) {
        for (int b = 0; b < 256; ++b)
            bytes.push_back(static_cast<uint8_t>((b * 37 + round * 11) & 0xFF));
    }
    wchar_t password[kTemporaryPasswordLength + 1];
    size_t used = ComposeTemporaryPassword(bytes.data(), bytes.size(), password);
    ASSERT_NE(0u, used);
    EXPECT_GE(used, kTemporaryPasswordLength);
    EXPECT_EQ(kTemporaryPasswordLength, TextLength(password)) << Narrow(password);
    EXPECT_TRUE(HasEveryCharacterKind(password)) << Narrow(password);
}

TEST(ComposeTemporaryPassword, BiasedBytesAreSkippedAndShortSourcesRefused)
{
    wchar_t password[kTemporaryPasswordLength + 1];
    // 0xFF lies above the unbiased limit of every kind and of the alphabet.
    std::vector<uint8_t> high(500, 0xFF);
    EXPECT_EQ(0u, ComposeTemporaryPassword(high.data(), high.size(), password));
    EXPECT_EQ(L'\0', password[0]);

    // Enough for the places but not for the shuffle after them.
    std::vector<uint8_t> few(kTemporaryPasswordLength, 3);
    EXPECT_EQ(0u, ComposeTemporaryPassword(few.data(), few.size(), password));
    EXPECT_EQ(L'\0', password[0]);
    EXPECT_EQ(0u, ComposeTemporaryPassword(nullptr, 10, password));

    // One byte for each place and each swap, when none is skipped.
    std::vector<uint8_t> low(1000, 5);
    EXPECT_EQ(2 * kTemporaryPasswordLength - 1, ComposeTemporaryPassword(low.data(), low.size(), password));
    EXPECT_TRUE(HasEveryCharacterKind(password)) << Narrow(password);
}

// Over many passwords, every place holds each kind as often as the places
// do on average: no place keeps the kind it was drawn with.
TEST(ComposeTemporaryPassword, EveryPlaceIsEquallyLikelyToHoldEveryKind)
{
    auto kindOf = [](wchar_t c) {
        return c >= L'A' && c <= L'Z' ? 0 : c >= L'a' && c <= L'z' ? 1 : c >= L'0' && c <= L'9' ? 2 : 3;
    };
    constexpr int kRuns = 4000;
    std::vector<std::vector<int>> counts(kTemporaryPasswordLength, std::vector<int>(4, 0));
    std::mt19937 generator(20240611u);
    for (int run = 0; run < kRuns; ++run) {
        std::vector<uint8_t> bytes(256);
        for (uint8_t& b : bytes)
            b = static_cast<uint8_t>(generator() & 0xFF);
        wchar_t password[kTemporaryPasswordLength + 1];
        ASSERT_NE(0u, ComposeTemporaryPassword(bytes.data(), bytes.size(), password)) << "run " << run;
        ASSERT_TRUE(HasEveryCharacterKind(password)) << Narrow(password);
        for (size_t place = 0; place < kTemporaryPasswordLength; ++place)
            ++counts[place][kindOf(password[place])];
    }
    for (int kind = 0; kind < 4; ++kind) {
        double total = 0;
        for (size_t place = 0; place < kTemporaryPasswordLength; ++place)
            total += counts[place][kind];
        double share = total / (kRuns * static_cast<double>(kTemporaryPasswordLength));
        double spread = 6 * std::sqrt(kRuns * share * (1 - share));
        for (size_t place = 0; place < kTemporaryPasswordLength; ++place)
            EXPECT_NEAR(kRuns * share, counts[place][kind], spread) << "kind " << kind << " at place " << place;
    }
}

TEST(HasEveryCharacterKind, NeedsAllFour)
{
    EXPECT_TRUE(HasEveryCharacterKind(L"Aa1#"));
    for (const wchar_t* missing : {L"Aa1", L"a1#", L"A1#", L"Aa#", static_cast<const wchar_t*>(nullptr)})
        EXPECT_FALSE(HasEveryCharacterKind(missing)) << Narrow(missing);
}

TEST(NormaliseLocalPath, ResolvesDotsAndSeparators)
{
    using V = ProfileFolderVerdict;
    struct { const wchar_t* path; V verdict; const wchar_t* normalised; } const cases[] = {
        {L"z:\\Users\\bob\\", V::Inside, L"Z:\\Users\\bob"}, {L"Z:/Users//bob/./", V::Inside, L"Z:\\Users\\bob"},
        {L"C:\\Users\\bob\\..\\..\\..\\..\\Windows", V::Inside, L"C:\\Windows"}, {L"a:\\..", V::Inside, L"A:\\"},
        {L"\\\\?\\A:\\Users\\bob", V::Inside, L"A:\\Users\\bob"}, {L"C:\\Users\\...x", V::Inside, L"C:\\Users\\...x"},
        {nullptr, V::Empty, nullptr}, {L"Users\\bob", V::NotLocalAbsolute, nullptr},
        {L"C:Users\\bob", V::NotLocalAbsolute, nullptr}, {L"\\Users\\bob", V::NotLocalAbsolute, nullptr},
        {L"\\\\?\\UNC\\server\\share", V::NotLocalAbsolute, nullptr}, {L"@:\\x", V::NotLocalAbsolute, nullptr},
        {L"\\\\.\\C:\\Users\\bob", V::NotLocalAbsolute, nullptr}, {L"[:\\x", V::NotLocalAbsolute, nullptr},
        {L"`:\\x", V::NotLocalAbsolute, nullptr}, {L"{:\\x", V::NotLocalAbsolute, nullptr},
        {L"C:\\Users\\b?b", V::UnsafeComponent, nullptr}, {L"C:\\Users\\bob:stream", V::UnsafeComponent, nullptr},
        {L"C:\\Users\\bob.", V::UnsafeComponent, nullptr}, {L"C:\\Users\\bob ", V::UnsafeComponent, nullptr},
        {L"C:\\Users\\...", V::UnsafeComponent, nullptr}, {L"C:\\Users\\b\x01o", V::UnsafeComponent, nullptr},
    };
    for (const auto& c : cases) {
        WString normalised(L"(untouched)");
        EXPECT_EQ(static_cast<int>(c.verdict), static_cast<int>(NormaliseLocalPath(c.path, normalised))) << Narrow(c.path);
        EXPECT_EQ(Narrow(c.normalised != nullptr ? c.normalised : L"(untouched)"), Narrow(normalised.Text()))
            << Narrow(c.path);
    }
}

TEST(CheckProfileFolderPath, OnlyStrictlyInsideTheProfilesDirectory)
{
    using V = ProfileFolderVerdict;
    struct { const wchar_t* path; const wchar_t* root; V verdict; } const cases[] = {
        {L"c:\\users\\BOB\\", L"C:\\Users", V::Inside}, {L"C:\\Users\\bob\\deeper", L"C:\\Users\\", V::Inside},
        {L"C:\\Users\\x\\..\\bob", L"C:\\Users", V::Inside}, {L"C:\\Users\\", L"C:\\Users", V::IsRoot},
        {L"C:\\Users\\bob\\..", L"C:\\Users", V::IsRoot}, {L"C:\\", L"C:\\Users", V::OutsideRoot},
        {L"C:\\Users\\bob\\..\\..\\Windows", L"C:\\Users", V::OutsideRoot},
        {L"C:\\Usersbob", L"C:\\Users", V::OutsideRoot},   // begins with, not merely contains
        {L"D:\\Users\\bob", L"C:\\Users", V::OutsideRoot},
        {L"C:\\Data\\C:\\Users\\bob", L"C:\\Users", V::UnsafeComponent},
        {L"C:\\Data\\Users\\bob", L"C:\\Users", V::OutsideRoot},   // contains the root's text
        {L"\\\\server\\Users\\bob", L"C:\\Users", V::NotLocalAbsolute}, {L"", L"C:\\Users", V::Empty},
        {L"C:\\Users\\bob", L"", V::RootUnusable}, {L"C:\\Users\\bob", L"C:\\", V::RootUnusable},
        {L"C:\\Users\\bob", L"Users", V::RootUnusable}, {L"C:\\A\\bob", L"c:\\a", V::Inside},   // the shortest root
    };
    for (const auto& c : cases) {
        WString normalised;
        ProfileFolderVerdict verdict = CheckProfileFolderPath(c.path, c.root, normalised);
        EXPECT_EQ(static_cast<int>(c.verdict), static_cast<int>(verdict)) << Narrow(c.path) << " in " << Narrow(c.root);
        if (verdict == ProfileFolderVerdict::Inside)
            EXPECT_TRUE(IsStrictlyBelow(normalised.Text(), c.root)) << Narrow(normalised.Text());
        else
            EXPECT_TRUE(normalised.IsEmpty()) << Narrow(normalised.Text());
    }

    EXPECT_TRUE(IsStrictlyBelow(L"C:\\Users\\bob", L"C:\\"));
    EXPECT_FALSE(IsStrictlyBelow(L"C:\\Users\\", L"C:\\Users"));
    EXPECT_FALSE(IsStrictlyBelow(L"C:\\Users\\bob", L""));
    EXPECT_FALSE(IsStrictlyBelow(nullptr, L"C:\\Users"));
}

TEST(IsPlainSidString, DigitsAndDashesAfterThePrefix)
{
    const std::wstring longest = L"S-1-5" + std::wstring(179, L'1'), tooLong = longest + L"1";   // 184, 185
    const std::pair<const wchar_t*, bool> cases[] = {
        {L"S-1-5-21-1-2-3-1001", true}, {L"S-1-5", true}, {L"S-1-5-21-1-2-3-1001_Classes", false}, {L"S-1-", false},
        {L"S-1-5-21\\..\\x", false}, {L"s-1-5-21-1", false}, {L"S-1-5--1", false}, {L"S-1-5-", false}, {nullptr, false},
        {L"S-1-5-18", true}, {longest.c_str(), true}, {tooLong.c_str(), false},
    };
    for (auto [text, plain] : cases)
        EXPECT_EQ(plain, IsPlainSidString(text)) << Narrow(text);
}
