#include <gtest/gtest.h>

#include <windows.h>

#include "platform/system.h"
#include "sandbox/sandbox.h"
#include "tests/win/test_support.h"

// The test prefix is set to Windows 10 and the test program carries the
// product's manifest, so the settled number must be 10.0.
TEST(GetOsVersionNumber, ReadsWindows10ThroughTheManifest)
{
    EXPECT_DOUBLE_EQ(10.0, GetOsVersionNumber());

    OSVERSIONINFOEXW info{};
    info.dwOSVersionInfoSize = sizeof(info);
    info.dwMajorVersion = 10;
    DWORDLONG conditions = VerSetConditionMask(0, VER_MAJORVERSION, VER_GREATER_EQUAL);
    EXPECT_TRUE(VerifyVersionInfoW(&info, VER_MAJORVERSION, conditions))
        << "the system itself does not report version 10";
}

// Wine gives its processes a full administrator token, so the membership
// test must say yes, and agree with the token's own elevation flag.
TEST(IsElevatedAdministrator, AgreesWithTheTokensElevation)
{
    // The simulated machine answers the membership test; a restart into
    // another account in an earlier test may have left it signed in.
    std::wstring error;
    ASSERT_TRUE(sandbox::ResetMachine(sandbox::ScenarioPath(L"default"), &error)) << Show(error);
    HANDLE token = nullptr;
    ASSERT_TRUE(OpenProcessToken(GetCurrentProcess(), TOKEN_QUERY, &token));
    TOKEN_ELEVATION elevation{};
    DWORD size = 0;
    BOOL queried = GetTokenInformation(token, TokenElevation, &elevation, sizeof(elevation), &size);
    CloseHandle(token);
    ASSERT_TRUE(queried);
    EXPECT_EQ(elevation.TokenIsElevated != 0, IsElevatedAdministrator()) << "elevated: " << elevation.TokenIsElevated;
    EXPECT_TRUE(IsElevatedAdministrator());
}
