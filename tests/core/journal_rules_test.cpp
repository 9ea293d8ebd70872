#include "repair/journal_rules.h"
#include "tests/narrow.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace {

std::string ShowJournalText(const std::wstring& text) { return Narrow(text); }
std::string ShowJournalText(const wchar_t* text) { return text == nullptr ? "(none)" : Narrow(text); }

constexpr wchar_t kRoot[] = L"C:\\Users";

RepairJournal Midway()
{
    RepairJournal journal;
    journal.account = L"pweber";
    journal.flags = 3;
    journal.oldSid = L"S-1-5-21-1-2-3-1010";
    journal.oldProfile = L"C:\\Users\\pweber";
    journal.newSid = L"S-1-5-21-1-2-3-1011";
    journal.newProfile = L"C:\\Users\\pweber.OFFICE";
    journal.stepsDone = 6;
    journal.tries = 2;
    journal.hiveCount = 1;
    journal.marks = JournalMark::PackagesEmptied | JournalMark::ClassesOldRemoved;
    return journal;
}

// Replaces the value of `key` in a formatted journal.
std::wstring WithValue(const RepairJournal& journal, const std::wstring& key, const std::wstring& value)
{
    std::wstring text;
    EXPECT_TRUE(FormatJournal(journal, text));
    size_t at = text.find(key + L"=");
    EXPECT_NE(std::wstring::npos, at) << ShowJournalText(key);
    size_t end = text.find(L"\r\n", at);
    return text.substr(0, at) + key + L"=" + value + text.substr(end);
}

TEST(RepairJournalText, WrittenAndReadBackUnchanged)
{
    RepairJournal info;
    info.account = L"R\u00e9ne Okafor-Lindqv ~";   // the longest name
    info.oldSid = L"S-1-5-21-9-8-7-1001";
    info.oldProfile = L"C:\\Users\\R\u00e9ne";
    info.stepsDone = 2;
    RepairJournal ended = Midway();
    ended.stepsDone = kRepairStepCount;
    ended.flags = 7;
    ended.tries = kMaxStepTries;
    ended.hiveCount = 2;
    ended.marks = JournalMark::All;
    ended.outcome = RepairOutcome::Repaired;
    for (const RepairJournal& journal : {info, Midway(), ended}) {
        std::wstring text, problem;
        ASSERT_TRUE(FormatJournal(journal, text));
        RepairJournal read;
        ASSERT_TRUE(ParseJournal(text.c_str(), kRoot, read, problem)) << ShowJournalText(problem) << "\n" << ShowJournalText(text);
        EXPECT_EQ(journal.account, read.account);
        EXPECT_EQ(journal.flags, read.flags);
        EXPECT_EQ(journal.oldSid, read.oldSid);
        EXPECT_EQ(journal.oldProfile, read.oldProfile);
        EXPECT_EQ(journal.newSid, read.newSid);
        EXPECT_EQ(journal.newProfile, read.newProfile);
        EXPECT_EQ(journal.stepsDone, read.stepsDone);
        EXPECT_EQ(journal.tries, read.tries);
        EXPECT_EQ(journal.hiveCount, read.hiveCount);
        EXPECT_EQ(journal.marks, read.marks);
        EXPECT_EQ(journal.outcome, read.outcome);
    }
    RepairJournal broken = Midway();
    broken.oldProfile = L"C:\\Users\\pweber\r\nStepsDone=11";   // a line break in a value is not written
    std::wstring text;
    EXPECT_FALSE(FormatJournal(broken, text));
}

TEST(RepairJournalText, EveryValueIsCheckedWhenRead)
{
    struct { const wchar_t* key; const wchar_t* value; } const refused[] = {
        {L"Account", L""},         {L"Account", L"a\\b"},   {L"Account", L"twenty-one-characters"},
        {L"Flags", L"8"},          {L"Flags", L" 1"},       {L"OldSid", L"S-1-5-21-1-2-3-1010\\..\\x"},
        {L"NewSid", L"S-1-5-21-1-2-3-1010"},   // the old one
        {L"OldProfile", L"C:\\Users"},         // the profiles directory itself
        {L"OldProfile", L"C:\\Users\\..\\Windows"}, {L"OldProfile", L"\\\\server\\share\\pweber"},
        {L"NewProfile", L"D:\\Users\\pweber"}, {L"Account", L"a\x1f"}, {L"Account", L"a\x7f"},
        {L"StepsDone", L"12"},     {L"StepsDone", L"99999999999"}, {L"Tries", L"4"},
        {L"HiveCount", L"3"},      {L"Marks", L"2048"},      {L"Outcome", L"4"},
    };
    for (const auto& c : refused) {
        std::wstring text = WithValue(Midway(), c.key, c.value), problem;
        RepairJournal read;
        EXPECT_FALSE(ParseJournal(text.c_str(), kRoot, read, problem)) << ShowJournalText(c.key) << "=" << ShowJournalText(c.value);
        EXPECT_FALSE(problem.empty()) << ShowJournalText(c.key);
    }
    // The midway journal itself passes, so each refusal above is its value's.
    std::wstring good, problem;
    ASSERT_TRUE(FormatJournal(Midway(), good));
    RepairJournal read;
    EXPECT_TRUE(ParseJournal(good.c_str(), kRoot, read, problem)) << ShowJournalText(problem);

    RepairJournal repaired = Midway();
    repaired.stepsDone = kRepairStepCount;
    repaired.outcome = RepairOutcome::Repaired;   // with one hive of two
    std::wstring text;
    ASSERT_TRUE(FormatJournal(repaired, text));
    const std::wstring damaged[] = {
        text,
        L"",
        good.substr(0, good.size() / 2),                   // cut by the power failure
        good + L"Account=other\r\n",                       // twice
        good + L"Extra=1\r\n",                             // unknown
        good + L"no value here\r\n",
    };
    for (const std::wstring& bad : damaged)
        EXPECT_FALSE(ParseJournal(bad.c_str(), kRoot, read, problem)) << ShowJournalText(bad);
    EXPECT_FALSE(ParseJournal(nullptr, kRoot, read, problem));
}

TEST(RepairJournalText, ValuesMustMatchTheStepsDone)
{
    struct { uint32_t stepsDone; bool withOld, withNew; bool accepted; } const cases[] = {
        {0, false, false, true},
        {0, true, false, false},   // the old account's values before their step
        {1, false, false, false},  // information step done without them
        {2, true, false, true}, {2, true, true, false},
        {3, true, false, false},   // creation done without the new values
        {3, true, true, true},
    };
    for (const auto& c : cases) {
        RepairJournal journal = Midway();
        journal.stepsDone = c.stepsDone;
        journal.hiveCount = 0;
        if (!c.withOld) {
            journal.oldSid.clear();
            journal.oldProfile.clear();
        }
        if (!c.withNew) {
            journal.newSid.clear();
            journal.newProfile.clear();
        }
        std::wstring text, problem;
        ASSERT_TRUE(FormatJournal(journal, text));
        RepairJournal read;
        EXPECT_EQ(c.accepted, ParseJournal(text.c_str(), kRoot, read, problem))
            << "steps " << c.stepsDone << " old " << c.withOld << " new " << c.withNew << ": " << ShowJournalText(problem);
    }
}

TEST(RepairSteps, NamesAndPointsAreDistinct)
{
    for (uint32_t i = 0; i < kRepairStepCount; ++i) {
        for (uint32_t j = i + 1; j < kRepairStepCount; ++j) {
            EXPECT_NE(std::wstring(RepairStepName(static_cast<RepairStep>(i))),
                      std::wstring(RepairStepName(static_cast<RepairStep>(j))));
            EXPECT_NE(std::wstring(RepairStepPoint(static_cast<RepairStep>(i))),
                      std::wstring(RepairStepPoint(static_cast<RepairStep>(j))));
        }
    }
}

TEST(RepairDecisions, AccountsAreDeletedOrReusedOnlyWithTheirOwnSid)
{
    const wchar_t* oldSid = L"S-1-5-21-1-2-3-1010";
    struct { bool exists; const wchar_t* existing; const wchar_t* journaled; OldAccountAction expected; } const olds[] = {
        {true, L"s-1-5-21-1-2-3-1010", oldSid, OldAccountAction::Delete},
        {false, L"", oldSid, OldAccountAction::AlreadyGone},
        {true, L"S-1-5-21-1-2-3-1011", oldSid, OldAccountAction::Refuse},   // made anew already
        {true, oldSid, L"", OldAccountAction::Refuse}, {true, nullptr, nullptr, OldAccountAction::Refuse},
    };
    for (const auto& c : olds)
        EXPECT_EQ(c.expected, DecideOldAccount(c.exists, c.existing, c.journaled))
            << c.exists << " " << ShowJournalText(c.existing ? c.existing : L"(null)");

    struct { bool exists; const wchar_t* existing; bool administrator; bool started; NewAccountAction expected; }
    const news[] = {
        {false, L"", false, true, NewAccountAction::Create},
        {true, L"S-1-5-21-1-2-3-1011", true, false, NewAccountAction::Reuse},
        {true, L"S-1-5-21-1-2-3-1011", false, true, NewAccountAction::Reuse},     // cut before its type was set
        {true, oldSid, true, true, NewAccountAction::Refuse},                     // still the old account
        {true, L"S-1-5-21-1-2-3-1011", false, false, NewAccountAction::Refuse},   // not one this repair began
        {true, L"", true, true, NewAccountAction::Refuse},
    };
    for (const auto& c : news)
        EXPECT_EQ(c.expected, DecideNewAccount(c.exists, c.existing, oldSid, c.administrator, c.started))
            << ShowJournalText(c.existing) << " admin " << c.administrator << " started " << c.started;
    EXPECT_EQ(NewAccountAction::Refuse, DecideNewAccount(true, L"S-1-5-21-1-2-3-1011", L"", true, true));
}

TEST(RepairDecisions, AHiveAlreadyMovedIsRecognised)
{
    struct { bool fresh, removed, withFolder; HiveAction expected; } const cases[] = {
        {true, false, true, HiveAction::RemoveOldThenMove}, {true, true, false, HiveAction::Move},
        {false, true, false, HiveAction::Placed}, {false, false, true, HiveAction::Placed},
        {false, false, false, HiveAction::RemoveOldOnly},
    };
    for (const auto& c : cases)
        EXPECT_EQ(c.expected, DecideHiveAction(c.fresh, c.removed, c.withFolder))
            << c.fresh << c.removed << c.withFolder;

    struct { const wchar_t* first; const wchar_t* second; bool separate; } const folders[] = {
        {L"C:\\Users\\pweber.OFFICE", L"C:\\Users\\pweber", true},
        {L"C:\\USERS\\PWEBER", L"C:\\Users\\pweber", false},
        {L"C:\\Users\\pweber\\Documents", L"C:\\Users\\pweber", false},
        {L"C:\\Users\\pweber", L"C:\\Users\\pweber\\Documents", false},
        {L"C:\\Users\\pweber2", L"C:\\Users\\pweber", true}, {L"", L"C:\\Users\\pweber", false},
        {L"C:\\Users\\pweber", L"", false}, {nullptr, L"C:\\Users\\pweber", false},
        {L"C:\\Users\\pweber", nullptr, false},
    };
    for (const auto& c : folders)
        EXPECT_EQ(c.separate, AreSeparateFolders(c.first, c.second)) << ShowJournalText(c.first) << " / " << ShowJournalText(c.second);
}

std::vector<wchar_t> MultiString(const std::vector<std::wstring>& parts)
{
    std::vector<wchar_t> list;
    for (const std::wstring& part : parts) {
        list.insert(list.end(), part.begin(), part.end());
        list.push_back(L'\0');
    }
    list.push_back(L'\0');
    return list;
}

TEST(RepairDecisions, ARenameRegisteredTwiceIsFound)
{
    std::vector<wchar_t> list = MultiString({L"\\??\\C:\\Users\\pweber\\ntuser.dat.LOG1", L"",
                                             L"\\??\\C:\\Users\\pweber\\Brenwick new NTUSER.DAT",
                                             L"!\\??\\C:\\Users\\pweber\\NTUSER.DAT"});
    const uint32_t units = static_cast<uint32_t>(list.size());
    const wchar_t* source = L"C:\\Users\\pweber\\Brenwick new NTUSER.DAT";
    EXPECT_TRUE(RenameIsPending(list.data(), units, L"c:\\users\\PWEBER\\brenwick new ntuser.dat",
                                L"C:\\Users\\pweber\\ntuser.dat"));
    EXPECT_FALSE(RenameIsPending(list.data(), units, source, L"C:\\Users\\pweber\\UsrClass.dat"));
    // A deletion (empty destination) is not a rename.
    EXPECT_FALSE(RenameIsPending(list.data(), units, L"C:\\Users\\pweber\\ntuser.dat.LOG1", L""));
    EXPECT_FALSE(RenameIsPending(list.data(), 0, source, L"C:\\Users\\pweber\\NTUSER.DAT"));
    EXPECT_FALSE(RenameIsPending(nullptr, 10, source, L"C:\\Users\\pweber\\NTUSER.DAT"));
    // A list cut in the middle of a pair.
    std::vector<wchar_t> cut = MultiString({L"\\??\\C:\\Users\\pweber\\Brenwick new NTUSER.DAT"});
    EXPECT_FALSE(RenameIsPending(cut.data(), static_cast<uint32_t>(cut.size()), source, L"C:\\Users\\pweber\\NTUSER.DAT"));
}

}  // namespace
