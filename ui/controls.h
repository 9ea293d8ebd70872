// The controls a window of the toolkit creates: their kinds, behaviour and
// font flags, the table entry each one has and what a lock records.
// UiWindow's control calls (ui/window.h) are implemented in ui/controls.cpp,
// its list views' in ui/list_views.cpp.
#pragma once

#include <windows.h>
#include <commctrl.h>

#include <cstdint>
#include <functional>
#include <memory>
#include <vector>

#include "platform/handles.h"
#include "platform/text.h"
#include "ui/control_rules.h"

// Kinds of controls; the numbers are stored in the table and compared.
enum class ControlKind : int32_t {
    None = 0,
    PushButton = 3,
    CheckBox = 4,
    DropDownList = 5,
    ComboWithEdit = 6,
    Icon = 11,
    Edit = 12,
    Label = 13,
    ListView = 15,
    Picture = 19,
    TabControl = 25,
    ToolbarButton = 28,
    Link = 31,
    LinkCheckControl = 34,
    CheckControl = 35,
    GroupedCheckControl = 36,
};

// Behaviour flags of a control, taken from the window's default at creation.
struct Behaviour {
    static constexpr uint32_t Sortable = 0x0001;       // list view: a header click sorts (each row's item data is
                                                       // then its place before the sort)
    static constexpr uint32_t FollowRight = 0x0010;    // on resize: keep the distance to the right edge
    static constexpr uint32_t FollowBottom = 0x0020;   // on resize: keep the distance to the bottom edge
    static constexpr uint32_t StretchWidth = 0x0040;   // on resize: grow with the window's width
    static constexpr uint32_t StretchHeight = 0x0080;  // on resize: grow with the window's height
    static constexpr uint32_t OwnPainting = 0x0800;    // subclassed by the toolkit for its own painting
    static constexpr uint32_t DragHandle = 0x1000;     // pressing it moves the whole window
};

// Font attribute flags for SetFont and the window's font defaults.
struct FontAttributes {
    static constexpr uint32_t Italic = 1;
    static constexpr uint32_t Underline = 2;
    static constexpr uint32_t StrikeOut = 4;
};

struct ImageListTraits {
    using Type = HIMAGELIST;
    static Type Invalid() { return nullptr; }
    static void Close(Type h) { ImageList_Destroy(h); }
};

// The two halves of a two-part check control share this record.
struct CheckControlData {
    int32_t imagePartId = 0;
    int32_t labelPartId = 0;
    HBITMAP checkedBitmap = nullptr;     // not owned
    HBITMAP uncheckedBitmap = nullptr;   // not owned
    uint32_t state = StateFlags::Uncheck;
};

// What a control's font was asked for, so that it can be made again at another DPI.
struct FontRequest {
    double size = 9.0;
    int weight = 400;
    uint32_t attributes = 0;
    wchar_t faceName[32] = L"Arial";
};

class UiWindow;

// Draws a picture control's bitmap from its source at the window's DPI.
using PictureSource = std::function<UniqueBitmap(const UiWindow&)>;

struct ControlEntry {
    ControlKind kind = ControlKind::None;
    HWND handle = nullptr;               // owned: destroyed with the entry
    int32_t id = 0;                      // non-zero marks the entry as in use
    UniqueBrush backgroundBrush;
    int32_t textColour = -1;             // negative: the system button-text colour
    int32_t backgroundColour = -1;       // negative: the window's background
    int x = 0, y = 0, width = 0, height = 0;    // pixels at the window's DPI
    int parentWidth = 0, parentHeight = 0;
    uint32_t behaviour = 0;
    bool autoWidth = false;              // a label sized to its text
    bool pressable = false;              // a drawn control that Enter and Space press, as a click
    wchar_t accessKey = 0;               // Alt with it presses the control, or moves to a label's field
    int accessMark = -1;                 // where the "&" stands in the text while the keys show
    UniqueFont font;
    FontRequest fontRequest;
    UniqueBitmap bitmap;                 // picture controls
    PictureSource pictureSource;         // how the bitmap is drawn again at another DPI, if it can be
    UniqueIcon icon;                     // icon controls
    std::shared_ptr<CheckControlData> check;
    UniqueResource<ImageListTraits> images;   // list views and buttons: created on first use
};

// What LockControls disabled, so that UnlockControls enables exactly that.
struct LockRecord {
    int32_t firstId = 0;
    std::vector<uint8_t> wasEnabled;
};
