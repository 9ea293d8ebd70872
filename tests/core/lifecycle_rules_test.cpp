#include "tests/narrow.h"
#include "accounts/lifecycle_rules.h"

#include <gtest/gtest.h>

#include <cmath>
#include <random>
#include <set>
#include <string>
#include <vector>

namespace {

const char* Name(ProfileFolderVerdict verdict)
{
    switch (verdict) {
    case ProfileFolderVerdict::Inside: return "Inside";
    case ProfileFolderVerdict::Empty: return "Empty";
    case ProfileFolderVerdict::NotLocalAbsolute: return "NotLocalAbsolute";
    case ProfileFolderVerdict::UnsafeComponent: return "UnsafeComponent";
    case ProfileFolderVerdict::RootUnusable: return "RootUnusable";
    case ProfileFolderVerdict::IsRoot: return "IsRoot";
    case ProfileFolderVerdict::OutsideRoot: return "OutsideRoot";
    case ProfileFolderVerdict::Shared: return "Shared";
    case ProfileFolderVerdict::Missing: return "Missing";
    case ProfileFolderVerdict::ReparsePoint: return "ReparsePoint";
    case ProfileFolderVerdict::ProfileListUnreadable: return "ProfileListUnreadable";
    }
    return "?";
}

}  // namespace

TEST(CheckNewAccountName, RefusalsInTheirOrder)
{
    using P = NewAccountNameProblem;
    struct Case {
        const wchar_t* name;
        P problem;
    } const cases[] = {
        {L"", P::Empty},
        {nullptr, P::Empty},
        {L"alice", P::None},
        {L"Alice Smith", P::None},               // a blank passes
        {L"a.b-c_d", P::None},
        {L"a+b", P::ForbiddenCharacter},
        {L"a\"b", P::ForbiddenCharacter},
        {L"a/b", P::ForbiddenCharacter},
        {L"a\\b", P::ForbiddenCharacter},
        {L"[x]", P::ForbiddenCharacter},
        {L"x:y", P::ForbiddenCharacter},
        {L"x|y", P::ForbiddenCharacter},
        {L"<x>", P::ForbiddenCharacter},
        {L"x=y", P::ForbiddenCharacter},
        {L"x;y", P::ForbiddenCharacter},
        {L"x?", P::ForbiddenCharacter},
        {L"x*", P::ForbiddenCharacter},
        {L"12345678901234567890", P::None},      // 20 characters
        {L"123456789012345678901", P::TooLong},  // 21
        {L"1234567890123456789012345678901234567890", P::TooLong},
        {L"12345678901234567890+", P::ForbiddenCharacter},   // the Part's own check first
        {L".", P::OnlyDotsOrBlanks},
        {L"...", P::OnlyDotsOrBlanks},
        {L" . ", P::OnlyDotsOrBlanks},
        {L"   ", P::OnlyDotsOrBlanks},
        {L"a,b", P::RefusedCharacter},
        {L"a@b", P::RefusedCharacter},
        {L"a\tb", P::RefusedCharacter},
        {L"a\x1F", P::RefusedCharacter},
        {L"a\x7F", P::RefusedCharacter},
    };
    for (const Case& c : cases)
        EXPECT_EQ(c.problem, CheckNewAccountName(c.name)) << Narrow(c.name);
}

TEST(CheckNewAccountName, ListsTheFourteenInOrder)
{
    EXPECT_EQ(std::wstring(L"\"/\\[]:|<>+=;?*"), std::wstring(kForbiddenNameCharacters));
    EXPECT_EQ(14u, TextLength(kForbiddenNameCharacters));
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
    EXPECT_FALSE(HasEveryCharacterKind(L"Aa1"));
    EXPECT_FALSE(HasEveryCharacterKind(L"a1#"));
    EXPECT_FALSE(HasEveryCharacterKind(L"A1#"));
    EXPECT_FALSE(HasEveryCharacterKind(L"Aa#"));
    EXPECT_FALSE(HasEveryCharacterKind(L""));
    EXPECT_FALSE(HasEveryCharacterKind(nullptr));
}

TEST(NormaliseLocalPath, ResolvesDotsAndSeparators)
{
    struct Case {
        const wchar_t* path;
        ProfileFolderVerdict verdict;
        const wchar_t* normalised;
    } const cases[] = {
        {L"C:\\Users\\bob", ProfileFolderVerdict::Inside, L"C:\\Users\\bob"},
        {L"c:\\Users\\bob\\", ProfileFolderVerdict::Inside, L"C:\\Users\\bob"},
        {L"C:/Users//bob/./", ProfileFolderVerdict::Inside, L"C:\\Users\\bob"},
        {L"C:\\Users\\..\\Windows", ProfileFolderVerdict::Inside, L"C:\\Windows"},
        {L"C:\\Users\\bob\\..\\..\\..\\..\\Windows", ProfileFolderVerdict::Inside, L"C:\\Windows"},
        {L"C:\\", ProfileFolderVerdict::Inside, L"C:\\"},
        {L"C:\\..", ProfileFolderVerdict::Inside, L"C:\\"},
        {L"\\\\?\\C:\\Users\\bob", ProfileFolderVerdict::Inside, L"C:\\Users\\bob"},
        {L"C:\\Users\\...x", ProfileFolderVerdict::Inside, L"C:\\Users\\...x"},
        {L"", ProfileFolderVerdict::Empty, nullptr},
        {nullptr, ProfileFolderVerdict::Empty, nullptr},
        {L"Users\\bob", ProfileFolderVerdict::NotLocalAbsolute, nullptr},
        {L"C:Users\\bob", ProfileFolderVerdict::NotLocalAbsolute, nullptr},
        {L"\\Users\\bob", ProfileFolderVerdict::NotLocalAbsolute, nullptr},
        {L"\\\\server\\share\\bob", ProfileFolderVerdict::NotLocalAbsolute, nullptr},
        {L"\\\\?\\UNC\\server\\share", ProfileFolderVerdict::NotLocalAbsolute, nullptr},
        {L"\\\\.\\C:\\Users\\bob", ProfileFolderVerdict::NotLocalAbsolute, nullptr},
        {L"1:\\Users", ProfileFolderVerdict::NotLocalAbsolute, nullptr},
        {L"C:\\Users\\*", ProfileFolderVerdict::UnsafeComponent, nullptr},
        {L"C:\\Users\\b?b", ProfileFolderVerdict::UnsafeComponent, nullptr},
        {L"C:\\Users\\bob:stream", ProfileFolderVerdict::UnsafeComponent, nullptr},
        {L"C:\\Users\\bob.", ProfileFolderVerdict::UnsafeComponent, nullptr},
        {L"C:\\Users\\bob ", ProfileFolderVerdict::UnsafeComponent, nullptr},
        {L"C:\\Users\\...", ProfileFolderVerdict::UnsafeComponent, nullptr},
        {L"C:\\Users\\b\x01o", ProfileFolderVerdict::UnsafeComponent, nullptr},
    };
    for (const Case& c : cases) {
        WString normalised(L"(untouched)");
        EXPECT_EQ(c.verdict, NormaliseLocalPath(c.path, normalised))
            << Narrow(c.path) << " gave " << Name(NormaliseLocalPath(c.path, normalised));
        if (c.normalised != nullptr)
            EXPECT_EQ(std::wstring(c.normalised), std::wstring(normalised.Text())) << Narrow(c.path);
        else
            EXPECT_EQ(std::wstring(L"(untouched)"), std::wstring(normalised.Text())) << Narrow(c.path);
    }
}

TEST(CheckProfileFolderPath, OnlyStrictlyInsideTheProfilesDirectory)
{
    struct Case {
        const wchar_t* path;
        const wchar_t* root;
        ProfileFolderVerdict verdict;
    } const cases[] = {
        {L"C:\\Users\\bob", L"C:\\Users", ProfileFolderVerdict::Inside},
        {L"c:\\users\\BOB\\", L"C:\\Users", ProfileFolderVerdict::Inside},
        {L"C:\\Users\\bob\\deeper", L"C:\\Users\\", ProfileFolderVerdict::Inside},
        {L"C:\\Users\\x\\..\\bob", L"C:\\Users", ProfileFolderVerdict::Inside},
        {L"C:\\Users", L"C:\\Users", ProfileFolderVerdict::IsRoot},
        {L"C:\\Users\\", L"C:\\Users", ProfileFolderVerdict::IsRoot},
        {L"C:\\Users\\.", L"C:\\Users", ProfileFolderVerdict::IsRoot},
        {L"C:\\Users\\bob\\..", L"C:\\Users", ProfileFolderVerdict::IsRoot},
        {L"C:\\", L"C:\\Users", ProfileFolderVerdict::OutsideRoot},
        {L"C:\\Windows", L"C:\\Users", ProfileFolderVerdict::OutsideRoot},
        {L"C:\\Users\\..\\Windows", L"C:\\Users", ProfileFolderVerdict::OutsideRoot},
        {L"C:\\Users\\bob\\..\\..\\Windows", L"C:\\Users", ProfileFolderVerdict::OutsideRoot},
        {L"C:\\UsersX\\bob", L"C:\\Users", ProfileFolderVerdict::OutsideRoot},   // begins with, not merely contains
        {L"C:\\Usersbob", L"C:\\Users", ProfileFolderVerdict::OutsideRoot},
        {L"D:\\Users\\bob", L"C:\\Users", ProfileFolderVerdict::OutsideRoot},
        {L"C:\\Data\\C:\\Users\\bob", L"C:\\Users", ProfileFolderVerdict::UnsafeComponent},
        {L"C:\\Data\\Users\\bob", L"C:\\Users", ProfileFolderVerdict::OutsideRoot},   // contains the root's text
        {L"\\\\server\\Users\\bob", L"C:\\Users", ProfileFolderVerdict::NotLocalAbsolute},
        {L"", L"C:\\Users", ProfileFolderVerdict::Empty},
        {L"C:\\Users\\bob", L"", ProfileFolderVerdict::RootUnusable},
        {L"C:\\Users\\bob", L"C:\\", ProfileFolderVerdict::RootUnusable},
        {L"C:\\Users\\bob", L"Users", ProfileFolderVerdict::RootUnusable},
    };
    for (const Case& c : cases) {
        WString normalised;
        ProfileFolderVerdict verdict = CheckProfileFolderPath(c.path, c.root, normalised);
        EXPECT_EQ(c.verdict, verdict) << Narrow(c.path) << " in " << Narrow(c.root) << " gave " << Name(verdict);
        if (verdict == ProfileFolderVerdict::Inside)
            EXPECT_TRUE(IsStrictlyBelow(normalised.Text(), L"C:\\Users")) << Narrow(normalised.Text());
        else
            EXPECT_TRUE(normalised.IsEmpty()) << Narrow(normalised.Text());
    }
}

TEST(IsStrictlyBelow, PrefixThenBackslash)
{
    EXPECT_TRUE(IsStrictlyBelow(L"C:\\Users\\bob", L"C:\\Users"));
    EXPECT_TRUE(IsStrictlyBelow(L"C:\\Users\\bob", L"C:\\"));
    EXPECT_FALSE(IsStrictlyBelow(L"C:\\Users", L"C:\\Users"));
    EXPECT_FALSE(IsStrictlyBelow(L"C:\\Users\\", L"C:\\Users"));
    EXPECT_FALSE(IsStrictlyBelow(L"C:\\Usersbob", L"C:\\Users"));
    EXPECT_FALSE(IsStrictlyBelow(L"C:\\Users\\bob", L""));
    EXPECT_FALSE(IsStrictlyBelow(nullptr, L"C:\\Users"));
}

TEST(IsPlainSidString, DigitsAndDashesAfterThePrefix)
{
    struct Case {
        const wchar_t* text;
        bool plain;
    } const cases[] = {
        {L"S-1-5-21-1-2-3-1001", true},
        {L"S-1-5-18", true},
        {L"S-1-5-21-1-2-3-1001_Classes", false},
        {L"S-1-5-21-1-2-3-1001.bak", false},
        {L"S-1-5-21\\..\\x", false},
        {L"s-1-5-21-1", false},
        {L"S-1-", false},
        {L"S-1-5--1", false},
        {L"S-1-5-", false},
        {L"", false},
        {nullptr, false},
    };
    for (const Case& c : cases)
        EXPECT_EQ(c.plain, IsPlainSidString(c.text)) << Narrow(c.text);
}
