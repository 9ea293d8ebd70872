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
#include "tests/win/main_window_screen.h"
#include "tests/win/screen_capture.h"
#include "tests/win/test_owner.h"
#include "tests/win/test_support.h"

using namespace harness;

namespace {

class SaveChanges : public OwnerWindowTest {
protected:
    void SetUp() override
    {
        Reset();
        OwnerWindowTest::SetUp();
        GetGroupNames(groups_);
    }
    static void Reset()
    {
        std::wstring error;
        ASSERT_TRUE(sandbox::ResetMachine(sandbox::ScenarioPath(L"default"), &error)) << Show(error);
    }

    // Answers the question, then notes the summary and closes it.
    SettingsOutcome Apply(const AccountSettingsChoice& choice, const wchar_t* answer, std::wstring* summary)
    {
        std::thread person([&] {
            if (AnswerBox(answer) == L"(no box)" || std::wstring(answer) == L"No")
                return;
            *summary = AnswerBox(L"OK");
        });
        SettingsOutcome outcome = ApplyAccountSettings(dialogOwner_, choice, groups_, nullptr);
        person.join();
        return outcome;
    }

    GroupNames groups_;
};

}  // namespace

TEST_F(SaveChanges, ChoicesAreAppliedUnderTheOwnersLock)
{
    StoredAccount before = Stored(L"jokafor");
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
        Reset();
        dialogOwner_.locks = dialogOwner_.unlocks = 0;
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
        EXPECT_EQ(1, dialogOwner_.locks) << c.what;
        EXPECT_EQ(1, dialogOwner_.unlocks) << c.what;
        EXPECT_EQ(std::wstring(c.summary), summary) << c.what;
        StoredAccount after = Stored(L"jokafor");
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
    SettingsOutcome none = ApplyAccountSettings(dialogOwner_, empty, groups_, nullptr);
    EXPECT_FALSE(none.confirmed);
    EXPECT_EQ(0, dialogOwner_.locks) << "nothing is asked, nothing locked";
    EXPECT_EQ(nullptr, FindWindowW(L"Vantrell_MsgBox", nullptr));
}
