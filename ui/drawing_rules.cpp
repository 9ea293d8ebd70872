#include "ui/drawing_rules.h"

#include <algorithm>
#include <iterator>

#include "ui/control_rules.h"

namespace {

constexpr int kTipMinimumWidth = 75;
constexpr int kTipSideMargin = 20;
constexpr int kTipTitleRightMargin = 10;
constexpr int kTipFrameHeight = 45;   // the title row above the body and the margin below it
constexpr int kSpinnerStep = 4;

// Tip events besides control ids: closing, sizing, clicks, moves and
// anything from -26 down (the session end among them). -1 and -17 to -21
// are codes no window of the toolkit raises today.
constexpr int32_t kTipEndingEvents[] = {-1,
                                        EventCode::Close,
                                        EventCode::Minimised,
                                        EventCode::Restored,
                                        EventCode::LeftButtonDown,
                                        EventCode::LeftButtonUp,
                                        EventCode::RightButtonUp,
                                        EventCode::DoubleClick,
                                        -17,
                                        -18,
                                        -19,
                                        -21,
                                        EventCode::Moved};

}  // namespace

int PlainBoxWidth(int requestedWidth)
{
    return requestedWidth >= kPlainBoxMinimumWidth ? requestedWidth : kPlainBoxDefaultWidth;
}

BoxButtons PlainBoxButtons(int kind)
{
    switch (kind) {
    case 0: return BoxButtons{1, {{L"OK", 1}}};
    case 1: return BoxButtons{2, {{L"Yes", 1}, {L"No", 0}}};
    case 2: return BoxButtons{2, {{L"OK", 1}, {L"Cancel", -1}}};
    case 3: return BoxButtons{3, {{L"Yes", 1}, {L"No", 0}, {L"Cancel", -1}}};
    default: return BoxButtons{};
    }
}

int PlainBoxButtonPlaces(int width, int count, int places[3])
{
    switch (count) {
    case 1:
        places[0] = width - 135;
        return 1;
    case 2: {
        int gap = (width - 2 * kBoxButtonWidth) / 3;
        places[0] = gap;
        places[1] = 2 * gap + kBoxButtonWidth;
        return 2;
    }
    case 3: {
        int gap = (width - 3 * kBoxButtonWidth) / 4;
        places[0] = gap;
        places[1] = 2 * gap + kBoxButtonWidth;
        places[2] = 3 * gap + 2 * kBoxButtonWidth;
        return 3;
    }
    default:
        return 0;
    }
}

int FreePopupSlot(const bool live[kPopupSlots])
{
    for (size_t i = 0; i < kPopupSlots; ++i) {
        if (!live[i])
            return static_cast<int>(i);
    }
    return -1;
}

bool EndsMessageTip(int32_t eventCode)
{
    if (eventCode > 0 || eventCode < -26)
        return true;
    return std::find(std::begin(kTipEndingEvents), std::end(kTipEndingEvents), eventCode) !=
           std::end(kTipEndingEvents);
}

TipText SplitTipText(const wchar_t* text)
{
    TipText tip;
    WString whole(text != nullptr ? text : L"");
    uint32_t separator = whole.Find(L"||", true);
    if (separator == 0) {
        tip.title.Assign(L"Information");
        tip.body.Assign(whole.Text());
        return tip;
    }
    // A count below 1 would mean "to the end", so empty parts are set apart.
    if (separator > 1)
        tip.title.AssignSubstring(whole.Text(), 1, static_cast<int>(separator) - 1);
    else
        tip.title.Assign(L"");
    if (separator + 2 <= whole.Length())
        tip.body.AssignSubstring(whole.Text(), static_cast<int>(separator) + 2, 0);
    else
        tip.body.Assign(L"");
    return tip;
}

TipSize MeasureTip(const LineExtent* lines, size_t lineCount, LineExtent title)
{
    int widest = 0;
    int tallest = kTipMinimumLineHeight;
    for (size_t i = 0; i < lineCount; ++i) {
        widest = std::max(widest, lines[i].width);
        tallest = std::max(tallest, lines[i].height);
    }
    TipSize size;
    // The title must fit as well as the body, or it would be cut off.
    size.width = std::max({kTipMinimumWidth, widest + kTipSideMargin,
                           title.width + kTipTitleX + kTipTitleRightMargin});
    size.bodyHeight = static_cast<int>(std::max<size_t>(lineCount, 1)) * tallest;
    size.height = size.bodyHeight + kTipFrameHeight;
    return size;
}

int SpinnerFrameDelay(int speed)
{
    int64_t delay = 100 - static_cast<int64_t>(speed);
    return static_cast<int>(std::clamp<int64_t>(delay, 0, INT32_MAX));
}

SpinnerGeometry SpinnerRing(int size)
{
    SpinnerGeometry ring;
    ring.penWidth = static_cast<float>(size) / 6.0f - 1.0f;
    ring.arcOrigin = ring.penWidth / 2.0f + 1.0f;
    ring.arcExtent = static_cast<float>(size) - ring.penWidth - 2.0f;
    return ring;
}

int NextSpinnerAngle(int angle) { return (angle + kSpinnerStep) % 360; }
