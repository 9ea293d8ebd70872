#include "ui/control_rules.h"

#include "platform/text.h"

namespace {

// The list view's state bits (commctrl.h), repeated here to keep this file
// free of the platform; the window code checks that they agree.
constexpr uint32_t kItemChangedState = 0x0008;   // LVIF_STATE
constexpr uint32_t kItemFocused = 0x0001;        // LVIS_FOCUSED
constexpr uint32_t kItemSelected = 0x0002;       // LVIS_SELECTED
constexpr uint32_t kStateImageMask = 0xF000;     // LVIS_STATEIMAGEMASK

uint32_t FirstOf(uint32_t flags, uint32_t a, uint32_t b, uint32_t c = 0)
{
    if (flags & a)
        return a;
    if (flags & b)
        return b;
    if (c != 0 && (flags & c))
        return c;
    return 0;
}

// Reads a cell as a number; false when it is not one.
bool ReadNumber(const wchar_t* text, double& value)
{
    if (text == nullptr)
        return false;
    const wchar_t* p = text;
    while (*p == L' ')
        ++p;
    bool negative = false;
    if (*p == L'-' || *p == L'+')
        negative = *p++ == L'-';
    if (!IsDigit(*p))
        return false;
    double number = 0;
    while (IsDigit(*p))
        number = number * 10 + (*p++ - L'0');
    if (*p == L'.' || *p == L',') {
        double scale = 0.1;
        for (++p; IsDigit(*p); ++p, scale /= 10)
            number += (*p - L'0') * scale;
    }
    while (*p == L' ')
        ++p;
    static const wchar_t kUnits[] = L"KMGT";
    for (int i = 0; kUnits[i] != L'\0'; ++i) {
        if (FoldCase(*p) == FoldCase(kUnits[i])) {
            for (int k = 0; k <= i; ++k)
                number *= 1024;
            ++p;
            break;
        }
    }
    if (FoldCase(*p) == L'b')
        ++p;
    while (*p == L' ')
        ++p;
    if (*p != L'\0')
        return false;
    value = negative ? -number : number;
    return true;
}

}  // namespace

StateRequest ResolveStateFlags(uint32_t flags)
{
    StateRequest request;
    request.visibility = FirstOf(flags, StateFlags::Hide, StateFlags::Show);
    request.check = FirstOf(flags, StateFlags::Check, StateFlags::Uncheck, StateFlags::Indeterminate);
    request.enabling = FirstOf(flags, StateFlags::Enable, StateFlags::Disable);
    request.focus = FirstOf(flags, StateFlags::Focus, StateFlags::Defocus);
    return request;
}

LockRange ClampLockRange(int32_t first, int32_t last, int32_t lastIdInUse)
{
    LockRange range;
    if (first < 1 || lastIdInUse < 1 || first > lastIdInUse)
        return range;
    if (last < first || last > lastIdInUse)
        last = lastIdInUse;
    range.first = first;
    range.last = last;
    range.empty = false;
    return range;
}

uint32_t ControlTableCapacityFor(uint32_t entriesInUse, uint32_t capacity)
{
    if (capacity == 0)
        capacity = 512;
    while (capacity - entriesInUse < 2 || capacity < entriesInUse)
        capacity *= 2;
    return capacity;
}

int32_t ListItemChangeEvent(uint32_t changedMask, uint32_t oldState, uint32_t newState)
{
    if ((changedMask & kItemChangedState) == 0)
        return EventCode::None;
    bool wasSelected = (oldState & kItemSelected) != 0;
    bool isSelected = (newState & kItemSelected) != 0;
    if (isSelected && !wasSelected)
        return EventCode::ItemSelected;
    if (wasSelected && !isSelected)
        return EventCode::ItemDeselected;

    // State image 1 is the empty check box, 2 the ticked one.
    uint32_t oldImage = (oldState & kStateImageMask) >> 12;
    uint32_t newImage = (newState & kStateImageMask) >> 12;
    if (oldImage != 0 && newImage != oldImage) {
        if (newImage == 2)
            return EventCode::ItemChecked;
        if (newImage == 1)
            return EventCode::ItemUnchecked;
    }
    if ((oldState & kItemFocused) && !(newState & kItemFocused))
        return EventCode::ItemLostFocus;
    return EventCode::None;
}

int32_t ComboNotificationEvent(uint32_t notification)
{
    switch (notification) {
    case 1: return EventCode::ComboSelectionChanged;   // CBN_SELCHANGE
    case 7: return EventCode::ComboDroppedDown;        // CBN_DROPDOWN
    case 8: return EventCode::ComboClosedUp;           // CBN_CLOSEUP
    case 3: return EventCode::ComboFocused;            // CBN_SETFOCUS
    case 2: return EventCode::ComboDoubleClicked;      // CBN_DBLCLK
    default: return EventCode::None;
    }
}

int CompareCells(const wchar_t* left, const wchar_t* right)
{
    double a = 0;
    double b = 0;
    bool leftIsNumber = ReadNumber(left, a);
    bool rightIsNumber = ReadNumber(right, b);
    if (leftIsNumber && rightIsNumber)
        return a < b ? -1 : (a > b ? 1 : 0);
    if (leftIsNumber != rightIsNumber)
        return leftIsNumber ? -1 : 1;
    return CompareText(left ? left : L"", right ? right : L"", false);
}

int AccessMarkOf(const wchar_t* text)
{
    for (int i = 0; text != nullptr && text[i] != L'\0'; ++i) {
        if (text[i] != L'&')
            continue;
        if (text[i + 1] != L'&')
            return text[i + 1] != L'\0' ? i : -1;
        ++i;
    }
    return -1;
}

wchar_t AccessKeyOf(const wchar_t* text)
{
    int mark = AccessMarkOf(text);
    if (mark < 0)
        return 0;
    wchar_t key = text[mark + 1];
    return key >= L'a' && key <= L'z' ? static_cast<wchar_t>(key - L'a' + L'A') : key;
}
