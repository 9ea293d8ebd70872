// "Save changes" as an operation on plain data: the panel's choices in, the
// failure bits out, over an owner window of the test's own.
#include <gtest/gtest.h>

#include <windows.h>
#include <lm.h>

#include <string>
#include <thread>
#include <vector>

#include "accounts/account_settings.h"
#include "accounts/groups.h"
#include "platform/machine.h"
#include "sandbox/sandbox.h"
#include "tests/win/screen_capture.h"
#include "tests/win/test_owner.h"
#include "tests/win/test_support.h"

using namespace harness;

namespace {

struct Stored {
    bool found = false;
    DWORD privilege = 0;
    DWORD flags = 0;
    std::wstring fullName;
};

Stored Read(const wchar_t* name)
{
    Stored stored;
    LPBYTE buffer = nullptr;
    if (machine::NetUserGetInfo(nullptr, name, 3, &buffer) == NERR_Success && buffer != nullptr) {
        const auto* record = reinterpret_cast<USER_INFO_3*>(buffer);
        stored.found = true;
        stored.privilege = record->usri3_priv;
        stored.flags = record->usri3_flags;
        stored.fullName = record->usri3_full_name != nullptr ? record->usri3_full_name : L"";
    }
    if (buffer != nullptr)
        machine::NetApiBufferFree(buffer);
    return stored;
}

class SaveChanges : public ::testing::Test {
protected:
    static void SetUpTestSuite() { StartGdiplusForTests(); }
    void SetUp() override
    {
        std::wstring error;
        ASSERT_TRUE(sandbox::ResetMachine(sandbox::ScenarioPath(L"default"), &error)) << Show(error);
        ASSERT_NE(nullptr, main_.CreateUiWindow(L"Vantrell_SettingsOwner", L"Main", 750, 550, -1, -1, -1, -1,
                                                nullptr));
        main_.ShowUiWindow(SW_SHOW);
        SetForegroundWindow(main_.Handle());
        GetGroupNames(groups_);
    }
    void TearDown() override { main_.DestroyUiWindow(); }

    // Answers the question, then notes the summary and closes it.
    SettingsOutcome Apply(const AccountSettingsChoice& choice, const wchar_t* answer, std::wstring* summary)
    {
        std::thread person([&] {
            HWND question = WaitForWindow(L"Vantrell_MsgBox");
            if (question == nullptr || AnswerBox(answer).empty() || std::wstring(answer) == L"No")
                return;
            *summary = AnswerBox(L"OK");
        });
        SettingsOutcome outcome = ApplyAccountSettings(owner_, choice, groups_, nullptr);
        person.join();
        return outcome;
    }

    UiWindow main_;
    TestOwner owner_{main_};
    GroupNames groups_;
};

}  // namespace

TEST_F(SaveChanges, ChoicesAreAppliedUnderTheOwnersLock)
{
    Stored before = Read(L"jokafor");
    ASSERT_TRUE(before.found);
    struct Case {
        const char* what;
        const wchar_t* answer;
        bool confirmed;
        uint32_t failures;
        DWORD privilege;
        bool disabled;
        const wchar_t* fullName;
        const wchar_t* summary;
    } const cases[] = {
        {"answered No", L"No", false, 0, 1, false, L"James Okafor", L""},
        {"answered Yes", L"Yes", true, 0, 2, true, L"Jim Okafor", L"The selected settings were successfully applied."},
    };
    for (const Case& c : cases) {
        std::wstring error;
        ASSERT_TRUE(sandbox::ResetMachine(sandbox::ScenarioPath(L"default"), &error)) << Show(error);
        owner_.locks = owner_.unlocks = 0;
        AccountSettingsChoice choice;
        choice.accountName = L"jokafor";
        choice.displayName = L"Jim Okafor";
        choice.privilege = 2;
        choice.flags.disabled = true;
        choice.flags.neverExpires = true;
        std::wstring summary;
        SettingsOutcome outcome = Apply(choice, c.answer, &summary);
        EXPECT_EQ(c.confirmed, outcome.confirmed) << c.what;
        EXPECT_EQ(c.failures, outcome.failures) << c.what;
        EXPECT_EQ(1, owner_.locks) << c.what;
        EXPECT_EQ(1, owner_.unlocks) << c.what;
        EXPECT_EQ(std::wstring(c.summary), summary) << c.what;
        Stored after = Read(L"jokafor");
        EXPECT_EQ(c.privilege, after.privilege) << c.what;
        EXPECT_EQ(c.disabled, (after.flags & UF_ACCOUNTDISABLE) != 0) << c.what;
        EXPECT_EQ(std::wstring(c.fullName), after.fullName) << c.what;
    }
}

// (An account gone before saving is reported by the main window's test.)
TEST_F(SaveChanges, AnEmptyNameAsksNothing)
{
    AccountSettingsChoice empty;
    empty.accountName = L"";
    SettingsOutcome none = ApplyAccountSettings(owner_, empty, groups_, nullptr);
    EXPECT_FALSE(none.confirmed);
    EXPECT_EQ(0, owner_.locks) << "nothing is asked, nothing locked";
    EXPECT_EQ(nullptr, FindWindowW(L"Vantrell_MsgBox", nullptr));
}
