#include <gtest/gtest.h>

#include "ui/control_rules.h"

#include <utility>

TEST(ResolveStateFlags, FirstOfEachPairWins)
{
    StateRequest r = ResolveStateFlags(StateFlags::Uncheck | StateFlags::Indeterminate | StateFlags::Show | StateFlags::Hide);
    EXPECT_EQ(StateFlags::Uncheck, r.check);
    EXPECT_EQ(StateFlags::Hide, r.visibility);
    r = ResolveStateFlags(StateFlags::Indeterminate | StateFlags::Disable | StateFlags::Enable | StateFlags::Defocus |
                          StateFlags::Focus);
    EXPECT_EQ(StateFlags::Indeterminate, r.check);
    EXPECT_EQ(StateFlags::Enable, r.enabling);
    EXPECT_EQ(StateFlags::Focus, r.focus);
    r = ResolveStateFlags(0);
    EXPECT_EQ(0u, r.visibility | r.check | r.enabling | r.focus);
}

TEST(ClampLockRange, BringsTheRangeIntoTheTable)
{
    struct { int32_t first, last, inUse; bool empty; int32_t expectedFirst, expectedLast; } const cases[] = {
        {1, 5, 10, false, 1, 5},   {0, 5, 10, true, 0, 0},      // a first id below 1 locks nothing
        {3, 99, 10, false, 3, 10}, {3, 2, 10, false, 3, 10},    // beyond the table, below the first
        {11, 12, 10, true, 0, 0},  {1, 1, 0, true, 0, 0},       {10, 11, 10, false, 10, 10},   // the last id in use
    };
    for (const auto& c : cases) {
        LockRange range = ClampLockRange(c.first, c.last, c.inUse);
        EXPECT_EQ(c.empty, range.empty) << c.first << ".." << c.last << " of " << c.inUse;
        if (!c.empty) {
            EXPECT_EQ(std::pair(c.expectedFirst, c.expectedLast), std::pair(range.first, range.last)) << c.first << ".." << c.last;
        }
    }
    EXPECT_EQ(512u, ControlTableCapacityFor(1, 0));
    EXPECT_EQ(512u, ControlTableCapacityFor(510, 512));   // doubles when fewer than two entries are free
    EXPECT_EQ(1024u, ControlTableCapacityFor(511, 512));
    EXPECT_EQ(2048u, ControlTableCapacityFor(1023, 1024));
}

TEST(ListItemChangeEvent, SelectionCheckBoxAndFocus)
{
    constexpr uint32_t state = 0x8, focused = 0x1, selected = 0x2;
    constexpr uint32_t unticked = 1u << 12, ticked = 2u << 12;
    struct { uint32_t mask, oldState, newState; int32_t expected; } const cases[] = {
        {state, focused, selected | focused, EventCode::ItemSelected},
        {state, selected | focused, focused, EventCode::ItemDeselected},
        {state, unticked, ticked, EventCode::ItemChecked}, {state, ticked, unticked, EventCode::ItemUnchecked},
        {state, 0, unticked, EventCode::None},   // the list giving the item its box
        {state, focused, 0, EventCode::ItemLostFocus},
        {0x1, 0, selected, EventCode::None},     // a text change, not a state change
        {state, selected, selected, EventCode::None},
    };
    for (const auto& c : cases)
        EXPECT_EQ(c.expected, ListItemChangeEvent(c.mask, c.oldState, c.newState))
            << "old " << c.oldState << " new " << c.newState;
    // CBN_SELCHANGE, CBN_DBLCLK, CBN_SETFOCUS, CBN_DROPDOWN, CBN_CLOSEUP and one not passed on.
    const std::pair<uint32_t, int32_t> combo[] = {{1, -65}, {2, -69}, {3, -68}, {7, -66}, {8, -67}, {4, 0}};
    for (auto [notification, event] : combo)
        EXPECT_EQ(event, ComboNotificationEvent(notification)) << "notification " << notification;
}

TEST(CompareCells, NumbersAsNumbersTextsWithoutCase)
{
    struct { const wchar_t* left; const wchar_t* right; int expected; } const cases[] = {
        {L"9", L"10", -1},        {L"2 MB", L"900 KB", 1}, {L"1.5 GB", L"1536 MB", 0}, {L"-3", L"2", -1},
        {L"12kb", L"12 KB", 0},   {L"7", L"apple", -1},    // numbers before texts
        {L"Bob", L"alice", 1},    {L"ADMIN", L"admin", 0},
        {L"10 apples", L"9 apples", -1},                   // not numbers: compared as text
        {L"", L"a", -1},          {nullptr, L"", 0},
    };
    for (const auto& c : cases) {
        int order = CompareCells(c.left, c.right);
        EXPECT_EQ(c.expected, (order > 0) - (order < 0)) << (c.left ? c.left : L"(null)") << L" vs " << c.right;
    }
}
