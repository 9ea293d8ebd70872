#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <utility>
#include <vector>

#include "ui/drawing_rules.h"
#include "tests/narrow.h"

TEST(PlainBox, ButtonPlacesWidthAndKinds)
{
    struct { int width, count; std::vector<int> expected; } const places[] = {
        {400, 3, {40, 160, 280}}, {360, 2, {66, 212}}, {450, 1, {315}}, {360, 0, {}}, {360, 4, {}},
    };
    for (const auto& c : places) {
        int got[3] = {-1, -1, -1};
        int written = PlainBoxButtonPlaces(c.width, c.count, got);
        EXPECT_EQ(c.expected, std::vector<int>(got, got + std::max(written, 0))) << c.count << " buttons in " << c.width;
    }
    const std::pair<int, int> widths[] = {{159, 360}, {-5, 360}, {160, 160}, {450, 450}};
    for (auto [requested, expected] : widths)
        EXPECT_EQ(expected, PlainBoxWidth(requested)) << "asked for " << requested;

    struct { int kind; std::vector<int> results; } const kinds[] = {
        {0, {1}}, {1, {1, 0}}, {2, {1, -1}}, {3, {1, 0, -1}}, {4, {}}, {-1, {}},
    };
    for (const auto& c : kinds) {
        BoxButtons buttons = PlainBoxButtons(c.kind);
        std::vector<int> results;
        for (int i = 0; i < buttons.count; ++i)
            results.push_back(buttons.buttons[i].result);
        EXPECT_EQ(c.results, results) << "kind " << c.kind;
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
    EXPECT_EQ(-1, FreePopupSlot(live));
    live[kPopupSlots - 1] = false;
    EXPECT_EQ(static_cast<int>(kPopupSlots) - 1, FreePopupSlot(live));
}

TEST(MessageTip, EndingEventsTextAndSize)
{
    const std::pair<int32_t, bool> events[] = {{1, true},    {0, false},   {-1, true},  {-2, false},
                                               {-24, false}, {-25, true},  {-26, false}, {-27, true}};
    for (auto [code, ends] : events)
        EXPECT_EQ(ends, EndsMessageTip(code)) << "event " << code;

    struct { const wchar_t* text; std::string title, body; } const texts[] = {
        {L"Saved||The settings were saved.", "Saved", "The settings were saved."},
        {L"The settings were saved.", "Information", "The settings were saved."},
        {L"A||b||c", "A", "b||c"}, {L"||only body", "", "only body"}, {L"only title||", "only title", ""},
        {nullptr, "Information", ""}, {L"one | bar", "Information", "one | bar"},
    };
    for (const auto& c : texts) {
        TipText tip = SplitTipText(c.text);
        EXPECT_EQ(c.title + "|" + c.body, Narrow(tip.title.Text()) + "|" + Narrow(tip.body.Text())) << Narrow(c.text);
    }

    struct { std::vector<LineExtent> lines; LineExtent title; int width, bodyHeight, height; } const sizes[] = {
        {{{120, 18}, {100, 20}, {60, 17}, {90, 15}}, {40, 19}, 140, 80, 125},   // the tallest line sets them all
        {{{300, 16}}, {40, 19}, 320, 16, 61},
        {{{10, 12}}, {20, 19}, 75, 16, 61},                // at least 75 wide, 16 per line
        {{{50, 16}, {50, 16}}, {150, 19}, 195, 32, 77},    // wide enough for the title
        {{}, {20, 19}, 75, 16, 61},
    };
    for (const auto& c : sizes) {
        TipSize size = MeasureTip(c.lines.data(), c.lines.size(), c.title);
        EXPECT_EQ(std::vector<int>({c.width, c.bodyHeight, c.height}),
                  std::vector<int>({size.width, size.bodyHeight, size.height})) << c.lines.size() << " lines";
    }
}

TEST(Spinner, DelayRingAndAngle)
{
    const std::pair<int, int> delays[] = {{80, 20}, {100, 0}, {150, 0}, {-20, 120}, {INT32_MIN, INT32_MAX}};
    for (auto [speed, delay] : delays)
        EXPECT_EQ(delay, SpinnerFrameDelay(speed)) << "speed " << speed;

    for (int size : {12, 28, 60}) {
        SpinnerGeometry ring = SpinnerRing(size);
        // The ring stays inside the bitmap with a pixel to spare on each side.
        EXPECT_FLOAT_EQ(1.0f, ring.arcOrigin - ring.penWidth / 2) << "size " << size;
        EXPECT_FLOAT_EQ(size - 1.0f, ring.arcOrigin + ring.arcExtent + ring.penWidth / 2) << "size " << size;
    }
    EXPECT_FLOAT_EQ(9.0f, SpinnerRing(60).penWidth);

    EXPECT_EQ(0, NextSpinnerAngle(356));
    EXPECT_EQ(2, NextSpinnerAngle(358));
    int angle = kSpinnerFirstAngle;
    for (int frame = 0; frame < 90; ++frame) {
        angle = NextSpinnerAngle(angle);
        EXPECT_EQ(frame == 89, angle == kSpinnerFirstAngle) << "90 frames make one turn, frame " << frame;
    }
}
