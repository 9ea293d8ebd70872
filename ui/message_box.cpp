// Message boxes and message tips.
#include "ui/message_box.h"

#include <commctrl.h>

#include <algorithm>
#include <vector>

#include "platform/machine.h"
#include "ui/drawing.h"
#include "ui/drawing_rules.h"

using Gdiplus::ARGB;

namespace {

constexpr ARGB kTipCornerColour = 0xFF6060FF;
constexpr int kBandHeight = 40;
constexpr int kBandFromBottom = 45;
constexpr int kOutlineArc = 12;

constexpr int kThemedWidth = 355;
constexpr int kThemedInset = 4;
constexpr int kThemedInnerWidth = 346;
constexpr int kThemedButtonsFromBottom = 37;
constexpr int kPlainButtonsFromBottom = 35;
constexpr int kPlainInset = 4;

// How long the box waits for the opening click's release before it looks again.
constexpr DWORD kReleaseLook = 50;

constexpr int kTipOffsetX = 24;
constexpr int kTipOffsetY = 16;
constexpr int kTipMinimumWidth = 200;
constexpr int kTipMinimumHeight = 75;
constexpr int kTipCornerLegs = 32;
constexpr int kTipTitleHeight = 20;

// The plain box's frame: rounded like its outline, the body one pixel
// short of the right and bottom edges so that the black shows there too.
DialogLook PlainBoxLook(int width, int height)
{
    DialogLook look;
    look.className = L"_WINDOW_MsgBoxClass";
    look.width = width;
    look.height = height;
    const int innerWidth = width - 2 * kPlainInset - 1;
    look.fills = {
        DialogFill{0, 0, width, height, kOpaqueBlack, kOutlineArc},
        DialogFill{kPlainInset, kPlainInset, innerWidth, height - 2 * kPlainInset - 1, kOpaqueWhite, kOutlineArc},
        DialogFill{kPlainInset, height - kBandFromBottom, innerWidth, kBandHeight, kBandColour, 0},
    };
    return look;
}


// Closes the tip at the operator's first action on it. The toolkit still
// sees the message first, so a click on the tip becomes the owner's event.
LRESULT CALLBACK TipCloser(HWND window, UINT message, WPARAM wParam, LPARAM lParam, UINT_PTR id, DWORD_PTR data)
{
    auto* closed = reinterpret_cast<bool*>(data);
    switch (message) {
    case WM_MOUSEACTIVATE:
        return MA_NOACTIVATE;   // a click must reach the tip, not make it the active window
    case WM_ACTIVATE:
    case WM_NCACTIVATE:
    case WM_NCLBUTTONDOWN:
    case WM_NCLBUTTONUP:
    case WM_NCLBUTTONDBLCLK:
    case WM_CONTEXTMENU:
    case WM_SYSCOMMAND:
    case WM_LBUTTONDOWN:
    case WM_LBUTTONUP:
    case WM_LBUTTONDBLCLK:
    case WM_RBUTTONDOWN:
    case WM_RBUTTONUP:
    case WM_RBUTTONDBLCLK: {
        LRESULT result = DefSubclassProc(window, message, wParam, lParam);
        if (!*closed) {
            *closed = true;
            ShowWindow(window, SW_HIDE);
        }
        return result;
    }
    case WM_NCDESTROY:
        RemoveWindowSubclass(window, TipCloser, id);
        break;
    default:
        break;
    }
    return DefSubclassProc(window, message, wParam, lParam);
}

// Labels of a tip let clicks through to the tip itself.
void LetClicksThrough(const UiWindow& tip, int32_t label)
{
    if (const ControlEntry* control = tip.Control(label))
        SetWindowLongW(control->handle, GWL_STYLE, GetWindowLongW(control->handle, GWL_STYLE) & ~SS_NOTIFY);
}

// The text's extent in the 96-DPI units the tip is laid out in.
LineExtent MeasureText(const UiWindow& window, HWND control, const wchar_t* text)
{
    SIZE size{};
    HDC dc = GetDC(control);
    if (dc == nullptr)
        return LineExtent{};
    auto font = reinterpret_cast<HFONT>(SendMessageW(control, WM_GETFONT, 0, 0));
    HGDIOBJ previous = SelectObject(dc, font != nullptr ? font : GetStockObject(DEFAULT_GUI_FONT));
    GetTextExtentPoint32W(dc, text, static_cast<int>(TextLength(text)), &size);
    SelectObject(dc, previous);
    ReleaseDC(control, dc);
    return LineExtent{MulDiv(size.cx, kDesignDpi, window.Dpi()), MulDiv(size.cy, kDesignDpi, window.Dpi())};
}

}  // namespace

int ThemedMessageBox(const wchar_t* text, int kind, int height, DialogOwner& owner)
{
    UiDialog box(owner);
    DialogLook look = OutlinedLook(kThemedWidth, height, kThemedInnerWidth, height - 2 * kThemedInset);
    look.fills.push_back(
        DialogFill{kThemedInset, height - kBandFromBottom, kThemedInnerWidth, kBandHeight, kBandColour, 0});
    if (!box.Create(look))
        return 0;

    box.AddLabel(text, 20, 20, 315, height - 65, kDefaultStyle);
    const LONG defaultButton = WS_VISIBLE | BS_DEFPUSHBUTTON;
    const int buttonY = height - kThemedButtonsFromBottom;
    int32_t first = 0;
    int32_t second = 0;
    if (kind == BoxKind::YesNo) {
        first = box.AddButton(L"&Yes", 55, buttonY, kBoxButtonWidth, kBoxButtonHeight, defaultButton);
        second = box.AddButton(L"&No", 220, buttonY, kBoxButtonWidth, kBoxButtonHeight, kDefaultStyle);
    } else {
        first = box.AddButton(L"OK", 220, buttonY, kBoxButtonWidth, kBoxButtonHeight, defaultButton);
    }
    // Esc answers with the last button: "No", or "OK" when it is alone.
    ACCEL escape{FVIRTKEY, VK_ESCAPE, static_cast<WORD>(second != 0 ? second : first)};
    box.SetAccelerators(UniqueAccelerators(CreateAcceleratorTableW(&escape, 1)));
    box.Show(first);

    int answer = 0;
    box.RunModal([&](int32_t event) {
        if (event <= 0 || (event != first && event != second))
            return DialogStep::Stay;
        answer = event == first ? 1 : 0;
        return DialogStep::Done;
    });
    return answer;
}

int PlainMessageBox(DialogOwner& owner, const wchar_t* text, int kind, int height, int width)
{
    UiWindow& ownerWindow = owner.OwnerWindow();
    BoxButtons kinds = PlainBoxButtons(kind);
    width = PlainBoxWidth(width);
    UiWindow box;
    box.SendEventsTo(&ownerWindow);
    if (IsIconic(ownerWindow.Handle()))
        ShowWindow(ownerWindow.Handle(), SW_RESTORE);
    if (box.CreateUiWindow(L"_WINDOW_MsgBoxClass", L"", width, height, -1, -1, static_cast<LONG>(WS_POPUP), 0,
                           ownerWindow.Handle()) == nullptr)
        return 0;
    box.SetFont(0, 9.0, 800, 0, L"Arial");
    PaintDialogLook(box, PlainBoxLook(width, height));
    CentreWindow(box.Handle(), ownerWindow.Handle());
    ownerWindow.RecordPopup(box.Handle());

    box.SetColour(0, 0, -1);   // black text
    box.AddLabel(text, 20, 20, width - 40, height - 65, kDefaultStyle);
    int places[3] = {};
    int count = PlainBoxButtonPlaces(width, kinds.count, places);
    int32_t ids[3] = {-1, -1, -1};
    for (int i = 0; i < count; ++i) {
        LONG style = i == 0 ? WS_VISIBLE | BS_DEFPUSHBUTTON : -1;
        int32_t id = box.AddButton(kinds.buttons[i].text, places[i], height - kPlainButtonsFromBottom,
                                   kBoxButtonWidth, kBoxButtonHeight, style);
        ids[i] = id != 0 ? id : -1;
    }

    // The click that opened the box must not press one of its buttons: its
    // release is awaited, woken by the mouse's own messages (or, for a press
    // outside this program, by the next look at the button).
    while (GetAsyncKeyState(VK_LBUTTON) & 0x8000) {
        MsgWaitForMultipleObjects(0, nullptr, FALSE, kReleaseLook, QS_MOUSEBUTTON);
        PumpEvents(box, PumpMode::Dispatch);
    }
    ShowWindow(box.Handle(), SW_SHOW);
    UpdateWindow(box.Handle());
    BringWindowToTop(box.Handle());
    SetForegroundWindow(box.Handle());
    SendMessageW(box.Handle(), WM_ACTIVATE, WA_CLICKACTIVE, 0);
    EnableWindow(box.Handle(), TRUE);
    box.Event().pending = false;   // what showing the box produced is no answer
    box.SetState(ids[0], StateFlags::Focus);

    int result = 0;
    for (bool answered = false; !answered;) {
        // The common step of every dialog: the end of the session is refused
        // while the owner is busy and closes the box otherwise.
        int32_t event = FilterDialogEvent(owner, box);
        if (event == EventCode::Close || event == EventCode::QueueFailed)
            break;
        if (box.Event().window != &box)
            continue;   // the owner's own controls answer nothing here
        for (int i = 0; i < count; ++i) {
            if (event == ids[i]) {
                result = kinds.buttons[i].result;
                answered = true;
            }
        }
    }
    box.DestroyUiWindow();
    return result;
}

int MessageTip(DialogOwner& host, const wchar_t* text, int width, int height)
{
    UiWindow& owner = host.OwnerWindow();
    if (owner.Handle() == nullptr || IsIconic(owner.Handle()))
        return 0;
    TipText parts = SplitTipText(text);

    POINT origin{0, 0};
    ClientToScreen(owner.Handle(), &origin);
    LONG exStyle = GetWindowLongW(owner.Handle(), GWL_EXSTYLE) & WS_EX_TOPMOST;
    UiWindow tip;
    tip.SendEventsTo(&owner);
    if (tip.CreateUiWindow(L"_WndMsgTipClass", L"", std::max(width, kTipMinimumWidth),
                           std::max(height, kTipMinimumHeight), origin.x + owner.Scale(kTipOffsetX), origin.y + owner.Scale(kTipOffsetY),
                           static_cast<LONG>(WS_POPUP), exStyle, owner.Handle()) == nullptr)
        return 0;
    owner.RecordPopup(tip.Handle());
    tip.SetColour(0, 0, -1);

    int32_t body = tip.AddLabel(parts.body.Text(), kTipBodyX, kTipBodyY, 1, 1, kDefaultStyle);
    tip.SetFont(0, 12.0, 800, 0, L"Arial");
    int32_t title = tip.AddLabel(parts.title.Text(), kTipTitleX, 6, 1, kTipTitleHeight, kDefaultStyle);
    LetClicksThrough(tip, body);
    LetClicksThrough(tip, title);

    // The size follows the text as the labels' own fonts draw it.
    std::vector<LineExtent> lines;
    StringList bodyLines;
    bodyLines.Split(parts.body.Text(), L"\r\n");
    HWND bodyHandle = tip.Control(body) != nullptr ? tip.Control(body)->handle : tip.Handle();
    HWND titleHandle = tip.Control(title) != nullptr ? tip.Control(title)->handle : tip.Handle();
    for (uint32_t i = 0; i < bodyLines.Count(); ++i)
        lines.push_back(MeasureText(tip, bodyHandle, bodyLines[i]));
    TipSize size = MeasureTip(lines.data(), lines.size(), MeasureText(tip, titleHandle, parts.title.Text()));
    SetWindowPos(tip.Handle(), nullptr, 0, 0, tip.Scale(size.width), tip.Scale(size.height),
                 SWP_NOMOVE | SWP_NOZORDER | SWP_NOACTIVATE);
    // The body may use the right margin as well: static text can come out a
    // little wider than its measured extent.
    SetWindowPos(bodyHandle, nullptr, 0, 0, tip.Scale(size.width - kTipBodyX - 1), tip.Scale(size.bodyHeight),
                 SWP_NOMOVE | SWP_NOZORDER | SWP_NOACTIVATE);
    SetWindowPos(titleHandle, nullptr, 0, 0, tip.Scale(size.width - kTipTitleX), tip.Scale(kTipTitleHeight),
                 SWP_NOMOVE | SWP_NOZORDER | SWP_NOACTIVATE);

    // A fill's outline reaches one pixel past its right and bottom edges, so
    // the white part is one pixel smaller there to leave the border showing.
    UniqueImage background = NewCanvas(size.width, size.height, tip.Dpi());
    if (background && FillRoundRect(background.Get(), 0, 0, size.width, size.height, kOpaqueBlack, 0) &&
        FillRoundRect(background.Get(), 1, 1, size.width - 3, size.height - 3, kOpaqueWhite, 0) &&
        FillCornerTriangle(background.Get(), kTipCornerLegs, kTipCornerColour))
        SetWindowBackgroundImage(tip, background.Get());

    ACCEL keys[] = {{FVIRTKEY, VK_ESCAPE, static_cast<WORD>(title)}, {FVIRTKEY, VK_RETURN, static_cast<WORD>(body)}};
    tip.SetAccelerators(UniqueAccelerators(CreateAcceleratorTableW(keys, 2)));
    ShowWindow(tip.Handle(), SW_SHOWNOACTIVATE);
    UpdateWindow(tip.Handle());
    bool closed = false;
    SetWindowSubclass(tip.Handle(), TipCloser, 1, reinterpret_cast<DWORD_PTR>(&closed));
    owner.Event().pending = false;   // only what happens from now on ends the tip

    int result = 0;
    UiEvent& event = owner.Event();
    for (;;) {
        int32_t code = FilterDialogEvent(host, tip);
        if (EndsMessageTip(code)) {
            result = 1;
            if (event.window == &tip) {
                // The tip's own keys mean nothing to the owner; its clicks do.
                if (code < 0) {
                    event.window = &owner;
                    event.handle = owner.Handle();
                    event.pending = true;
                }
            } else {
                event.pending = true;
            }
            break;
        }
        if (closed) {
            result = 1;
            break;
        }
        if (!IsWindow(tip.Handle()))
            break;   // gone with its owner
    }
    tip.DestroyUiWindow();
    return result;
}
