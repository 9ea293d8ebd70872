#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "ui/drawing_rules.h"
#include "tests/narrow.h"

namespace {
}  // namespace

TEST(PlainBoxButtonPlaces, SpreadsTheButtonsOverTheWidth)
{
    struct Case {
        int width, count;
        std::vector<int> expected;
    } cases[] = {
        {400, 3, {40, 160, 280}},
        {360, 3, {30, 140, 250}},
        {360, 2, {66, 212}},
        {400, 2, {80, 240}},
        {360, 1, {225}},
        {450, 1, {315}},
        {360, 0, {}},
        {360, 4, {}},
    };
    for (const Case& c : cases) {
        int places[3] = {-1, -1, -1};
        int written = PlainBoxButtonPlaces(c.width, c.count, places);
        ASSERT_EQ(static_cast<int>(c.expected.size()), written) << c.count << " buttons in " << c.width;
        for (int i = 0; i < written; ++i)
            EXPECT_EQ(c.expected[static_cast<size_t>(i)], places[i])
                << "button " << i << " of " << c.count << " in " << c.width;
    }
}

TEST(PlainBoxWidth, NarrowRequestsGetTheDefaultWidth)
{
    struct Case {
        int requested, expected;
    } cases[] = {{100, 360}, {159, 360}, {0, 360}, {-5, 360}, {160, 160}, {450, 450}};
    for (const Case& c : cases)
        EXPECT_EQ(c.expected, PlainBoxWidth(c.requested)) << "asked for " << c.requested;
}

TEST(PlainBoxButtons, EachKindHasItsButtonsAndResults)
{
    struct Case {
        int kind;
        std::vector<std::string> texts;
        std::vector<int> results;
    } cases[] = {
        {0, {"OK"}, {1}},
        {1, {"Yes", "No"}, {1, 0}},
        {2, {"OK", "Cancel"}, {1, -1}},
        {3, {"Yes", "No", "Cancel"}, {1, 0, -1}},
        {4, {}, {}},
        {-1, {}, {}},
    };
    for (const Case& c : cases) {
        BoxButtons buttons = PlainBoxButtons(c.kind);
        ASSERT_EQ(static_cast<int>(c.texts.size()), buttons.count) << "kind " << c.kind;
        for (int i = 0; i < buttons.count; ++i) {
            EXPECT_EQ(c.texts[static_cast<size_t>(i)], Narrow(buttons.buttons[i].text)) << "kind " << c.kind;
            EXPECT_EQ(c.results[static_cast<size_t>(i)], buttons.buttons[i].result) << "kind " << c.kind;
        }
    }
}

TEST(FreePopupSlot, TakesTheFirstFreeSlotOrNone)
{
    bool live[kPopupSlots] = {};
    EXPECT_EQ(0, FreePopupSlot(live));
    live[0] = live[1] = live[3] = true;
    EXPECT_EQ(2, FreePopupSlot(live));
    for (bool& slot : live)
        slot = true;
    EXPECT_EQ(-1, FreePopupSlot(live)) << "all 48 are taken";
    live[47] = false;
    EXPECT_EQ(47, FreePopupSlot(live));
}

TEST(EndsMessageTip, ControlIdsClicksClosingAndLowCodes)
{
    struct Case {
        int32_t code;
        bool ends;
    } cases[] = {
        {1, true},    {42, true},   {-1, true},   {-5, true},   {-6, true},   {-7, true},
        {-9, true},   {-10, true},  {-12, true},  {-13, true},  {-17, true},  {-18, true},
        {-19, true},  {-21, true},  {-25, true},  {-27, true},  {-28, true},  {-29, true},
        {-31, true},  {-300, true}, {0, false},   {-2, false},  {-3, false},  {-4, false},
        {-8, false},  {-11, false}, {-14, false}, {-15, false}, {-16, false}, {-20, false},
        {-22, false}, {-24, false}, {-26, false},
    };
    for (const Case& c : cases)
        EXPECT_EQ(c.ends, EndsMessageTip(c.code)) << "event " << c.code;
}

TEST(SplitTipText, TitleAndBodyAroundTheFirstSeparator)
{
    struct Case {
        const wchar_t* text;
        std::string title, body;
    } cases[] = {
        {L"Saved||The settings were saved.", "Saved", "The settings were saved."},
        {L"The settings were saved.", "Information", "The settings were saved."},
        {L"A||b||c", "A", "b||c"},
        {L"||only body", "", "only body"},
        {L"only title||", "only title", ""},
        {L"", "Information", ""},
        {nullptr, "Information", ""},
        {L"one | bar", "Information", "one | bar"},
    };
    for (const Case& c : cases) {
        TipText tip = SplitTipText(c.text);
        EXPECT_EQ(c.title, Narrow(tip.title.Text())) << Narrow(c.text);
        EXPECT_EQ(c.body, Narrow(tip.body.Text())) << Narrow(c.text);
    }
}

TEST(MeasureTip, SizeFollowsTheMeasuredLines)
{
    struct Case {
        std::vector<LineExtent> lines;
        LineExtent title;
        int width, bodyHeight, height;
    } cases[] = {
        // four lines: 45 plus four line heights
        {{{120, 15}, {180, 15}, {60, 15}, {90, 15}}, {40, 19}, 200, 64, 109},
        {{{120, 18}, {100, 20}, {60, 17}, {90, 15}}, {40, 19}, 140, 80, 125},
        {{{300, 16}}, {40, 19}, 320, 16, 61},
        {{{10, 12}}, {20, 19}, 75, 16, 61},                // at least 75 wide, 16 per line
        {{{50, 16}, {50, 16}}, {150, 19}, 195, 32, 77},    // wide enough for the title
        {{}, {20, 19}, 75, 16, 61},
    };
    for (const Case& c : cases) {
        TipSize size = MeasureTip(c.lines.data(), c.lines.size(), c.title);
        EXPECT_EQ(c.width, size.width) << c.lines.size() << " lines";
        EXPECT_EQ(c.bodyHeight, size.bodyHeight) << c.lines.size() << " lines";
        EXPECT_EQ(c.height, size.height) << c.lines.size() << " lines";
    }
}

TEST(SpinnerFrameDelay, HundredMinusSpeedNeverBelowZero)
{
    struct Case {
        int speed, delay;
    } cases[] = {{80, 20}, {0, 100}, {99, 1}, {100, 0}, {150, 0}, {-20, 120}, {INT32_MAX, 0}, {INT32_MIN, INT32_MAX}};
    for (const Case& c : cases)
        EXPECT_EQ(c.delay, SpinnerFrameDelay(c.speed)) << "speed " << c.speed;
}

TEST(SpinnerRing, PenAndArcFollowTheSize)
{
    struct Case {
        int size;
        float pen, origin, extent;
    } cases[] = {
        {28, 28.0f / 6 - 1, (28.0f / 6 - 1) / 2 + 1, 28 - (28.0f / 6 - 1) - 2},
        {60, 9.0f, 5.5f, 49.0f},
        {12, 1.0f, 1.5f, 9.0f},
    };
    for (const Case& c : cases) {
        SpinnerGeometry ring = SpinnerRing(c.size);
        EXPECT_FLOAT_EQ(c.pen, ring.penWidth) << "size " << c.size;
        EXPECT_FLOAT_EQ(c.origin, ring.arcOrigin) << "size " << c.size;
        EXPECT_FLOAT_EQ(c.extent, ring.arcExtent) << "size " << c.size;
        // The ring stays inside the bitmap: the pen's outer half ends before the edge.
        EXPECT_GT(ring.arcOrigin - ring.penWidth / 2, 0.0f) << "size " << c.size;
        EXPECT_LT(ring.arcOrigin + ring.arcExtent + ring.penWidth / 2, static_cast<float>(c.size)) << "size " << c.size;
    }
}

TEST(NextSpinnerAngle, AdvancesFourDegreesAndWraps)
{
    struct Case {
        int angle, next;
    } cases[] = {{280, 284}, {352, 356}, {356, 0}, {358, 2}, {0, 4}};
    for (const Case& c : cases)
        EXPECT_EQ(c.next, NextSpinnerAngle(c.angle)) << "from " << c.angle;

    int angle = kSpinnerFirstAngle;
    for (int frame = 0; frame < 90; ++frame)
        angle = NextSpinnerAngle(angle);
    EXPECT_EQ(kSpinnerFirstAngle, angle) << "90 frames make one turn";
}
