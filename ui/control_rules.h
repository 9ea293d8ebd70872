// The toolkit's decisions that need no window: which half of a state pair
// wins, how a lock range is clamped, which event a list-view or drop-down
// notification becomes, and how two list cells compare when sorting.
#pragma once

#include <cstdint>

// Bits of a state request or query, the same for every control kind.
struct StateFlags {
    static constexpr uint32_t Hide = 1;
    static constexpr uint32_t Show = 2;
    static constexpr uint32_t Check = 4;
    static constexpr uint32_t Uncheck = 8;
    static constexpr uint32_t Indeterminate = 16;
    static constexpr uint32_t Enable = 32;
    static constexpr uint32_t Disable = 64;
    static constexpr uint32_t Focus = 128;
    static constexpr uint32_t Defocus = 256;
};

// Event codes the window procedure reports; positive codes are control ids.
struct EventCode {
    static constexpr int32_t None = 0;
    static constexpr int32_t Resized = -3;
    static constexpr int32_t Close = -5;
    static constexpr int32_t Minimised = -6;
    static constexpr int32_t Restored = -7;
    static constexpr int32_t Maximised = -8;
    static constexpr int32_t LeftButtonDown = -9;
    static constexpr int32_t LeftButtonUp = -10;
    static constexpr int32_t RightButtonDown = -11;
    static constexpr int32_t RightButtonUp = -12;
    static constexpr int32_t DoubleClick = -13;
    static constexpr int32_t RightDoubleClick = -14;
    static constexpr int32_t MouseMoved = -15;
    static constexpr int32_t Wheel = -16;
    static constexpr int32_t MoveBegins = -24;
    static constexpr int32_t Moved = -25;
    static constexpr int32_t EndSession = -31;
    static constexpr int32_t ItemSelected = -45;
    static constexpr int32_t ItemDeselected = -46;
    static constexpr int32_t ItemChecked = -47;
    static constexpr int32_t ItemUnchecked = -48;
    static constexpr int32_t ItemLostFocus = -52;
    static constexpr int32_t ComboSelectionChanged = -65;
    static constexpr int32_t ComboDroppedDown = -66;
    static constexpr int32_t ComboClosedUp = -67;
    static constexpr int32_t ComboFocused = -68;
    static constexpr int32_t ComboDoubleClicked = -69;
    static constexpr int32_t DpiChanged = -70;   // the window moved to a screen of another scale
    static constexpr int32_t QueueFailed = -300;
};

// Control ids with a meaning of their own; a window numbers its controls from 1.
struct ControlId {
    static constexpr int32_t None = -1;   // a record's control that was never made
    static constexpr int32_t Last = -1;   // asked of SetState and GetState: the control created last
};

// The style argument of the control creators that asks for the kind's usual style.
constexpr long kDefaultStyle = -1;

// How a window's event pump (PumpEvents) takes a message.
enum class PumpMode {
    Wait,       // waits for one message and handles it; its event, or EventCode::None
    IfAny,      // handles one waiting message, if any; its event, or EventCode::None
    Dispatch,   // handles one waiting message, if any, leaving its event pending; 1 when it did, else 0
};

// The parts of a state request that take effect: in each pair the first bit wins.
struct StateRequest {
    uint32_t visibility = 0;   // Hide, Show or 0
    uint32_t check = 0;        // Check, Uncheck, Indeterminate or 0
    uint32_t enabling = 0;     // Enable, Disable or 0
    uint32_t focus = 0;        // Focus, Defocus or 0
};
StateRequest ResolveStateFlags(uint32_t flags);

// The ids a lock covers. `empty` when the first id is below 1 or nothing is in use.
struct LockRange {
    int32_t first = 0;
    int32_t last = 0;
    bool empty = true;
};
LockRange ClampLockRange(int32_t first, int32_t last, int32_t lastIdInUse);

// The control table keeps at least two free entries; returns the new capacity
// (unchanged when there is room).
uint32_t ControlTableCapacityFor(uint32_t entriesInUse, uint32_t capacity);

// List-view item change (LVN_ITEMCHANGED) as an event: selection first, then
// the check box, then the loss of focus; 0 when nothing the toolkit reports changed.
int32_t ListItemChangeEvent(uint32_t changedMask, uint32_t oldState, uint32_t newState);

// Drop-down list notification (CBN_*) as an event; 0 for the others.
int32_t ComboNotificationEvent(uint32_t notification);

// The access key that an "&" marks in a control's text: the character after
// it, in capitals; 0 when there is none ("&&" is a plain "&"). Where the
// marking "&" stands, or -1.
wchar_t AccessKeyOf(const wchar_t* text);
int AccessMarkOf(const wchar_t* text);

// Sort order of two list cells: cells that read as numbers (an optional unit
// K, M, G or T with an optional B after them scales by 1024) compare as
// numbers and before texts; texts compare without regard to A-Z case.
int CompareCells(const wchar_t* left, const wchar_t* right);
