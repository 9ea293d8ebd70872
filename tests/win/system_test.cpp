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
}

// Wine gives its processes a full administrator token, so the membership
// test must say yes.
TEST(IsElevatedAdministrator, AgreesWithTheTokensElevation)
{
    // The simulated machine answers the membership test; a restart into
    // another account in an earlier test may have left it signed in.
    std::wstring error;
    ASSERT_TRUE(sandbox::ResetMachine(sandbox::ScenarioPath(L"default"), &error)) << Show(error);
    EXPECT_TRUE(IsElevatedAdministrator());
}
