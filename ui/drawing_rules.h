// The message boxes' and the spinner's decisions that need no window: where
// a box's buttons go, which event ends a tip, how a tip's text is cut and
// sized, and the spinner's timing and ring geometry.
#pragma once

#include <cstddef>
#include <cstdint>

#include "platform/text.h"

// Plain boxes narrower than this get the default width instead.
constexpr int kPlainBoxMinimumWidth = 160;
constexpr int kPlainBoxDefaultWidth = 360;
constexpr int kBoxButtonWidth = 80;
constexpr int kBoxButtonHeight = 25;

int PlainBoxWidth(int requestedWidth);

// A plain box kind's buttons, left to right, and what each one answers.
// Kind 4 (the tip) and unknown kinds have no buttons.
struct BoxButton {
    const wchar_t* text;
    int result;
};
struct BoxButtons {
    int count = 0;
    BoxButton buttons[3] = {};
};
BoxButtons PlainBoxButtons(int kind);

// The left edges of `count` (1 to 3) buttons in a box `width` wide; the
// number of places written.
int PlainBoxButtonPlaces(int width, int count, int places[3]);

// The owner's record of the popups opened over it.
constexpr size_t kPopupSlots = 48;
// The first slot that is free (`live[i]` false); -1 when all are taken.
int FreePopupSlot(const bool live[kPopupSlots]);

// True for the operator actions that end a message tip.
bool EndsMessageTip(int32_t eventCode);

// A tip's text: "title||body", or the whole text as the body under the
// title "Information".
struct TipText {
    WString title;
    WString body;
};
TipText SplitTipText(const wchar_t* text);

// The tip's size from its measured body lines and title.
constexpr int kTipBodyX = 10;
constexpr int kTipBodyY = 35;
constexpr int kTipTitleX = 35;
constexpr int kTipMinimumLineHeight = 16;
struct LineExtent {
    int width = 0;
    int height = 0;
};
struct TipSize {
    int width = 0;
    int bodyHeight = 0;
    int height = 0;
};
TipSize MeasureTip(const LineExtent* lines, size_t lineCount, LineExtent title);

// The busy spinner.
int SpinnerFrameDelay(int speed);
struct SpinnerGeometry {
    float penWidth = 0;
    float arcOrigin = 0;   // from the bitmap's top-left corner, both ways
    float arcExtent = 0;   // the bounding square's side
};
SpinnerGeometry SpinnerRing(int size);
constexpr float kSpinnerSweep = 294.0f;
constexpr int kSpinnerFirstAngle = 280;
int NextSpinnerAngle(int angle);
