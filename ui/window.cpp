// The toolkit's window: creation, destruction and the window procedure that
// turns messages into events.
#include "ui/window.h"

#include <windowsx.h>

#include <algorithm>
#include <iterator>
#include <string>

#include "platform/machine.h"
#include "platform/system.h"
#include "resources/resource_ids.h"

static_assert(LVIF_STATE == 0x0008 && LVIS_FOCUSED == 0x0001 && LVIS_SELECTED == 0x0002 &&
                  LVIS_STATEIMAGEMASK == 0xF000,
              "the list-view bits of control_rules.cpp must match the platform's");
static_assert(CBN_SELCHANGE == 1 && CBN_DBLCLK == 2 && CBN_SETFOCUS == 3 && CBN_DROPDOWN == 7 &&
                  CBN_CLOSEUP == 8,
              "the drop-down notifications of control_rules.cpp must match the platform's");

namespace {

constexpr UINT_PTR kSubclassId = 1;
constexpr COLORREF kWindowBackground = 0xFEFEFE;
constexpr DWORD kDefaultWindowStyle = WS_CAPTION | WS_SYSMENU | WS_MINIMIZEBOX;

void InitialiseCommonControls()
{
    static bool done = false;
    if (done)
        return;
    INITCOMMONCONTROLSEX controls{sizeof(controls), ICC_STANDARD_CLASSES | ICC_LISTVIEW_CLASSES |
                                                        ICC_LINK_CLASS | ICC_BAR_CLASSES | ICC_TAB_CLASSES};
    done = InitCommonControlsEx(&controls) != FALSE;
}

RECT CentringArea(HWND parent)
{
    RECT area{};
    if (parent != nullptr && GetWindowRect(parent, &area))
        return area;
    SystemParametersInfoW(SPI_GETWORKAREA, 0, &area, 0);
    return area;
}

HICON CopyParentIcon(HWND parent, WPARAM which, int classIndex)
{
    auto icon = reinterpret_cast<HICON>(SendMessageW(parent, WM_GETICON, which, 0));
    if (icon == nullptr)
        icon = reinterpret_cast<HICON>(GetClassLongPtrW(parent, classIndex));
    return icon != nullptr ? CopyIcon(icon) : nullptr;
}

// The sorted column's cells, read before the sort: Wine's list view hands
// the compare function indices that move while it merges, so a cell read
// during the sort can be another row's. Rows are told apart by the item
// data, set to their index in `cells` just before.
struct SortContext {
    std::vector<WString> cells;
    bool descending;
};

// The DPI a window is shown at. Systems before per-monitor scaling have one
// DPI for every window: the screen's.
int WindowDpi(HWND window)
{
    using DpiForWindow = UINT(WINAPI*)(HWND);
    static const auto dpiForWindow = reinterpret_cast<DpiForWindow>(
        reinterpret_cast<void*>(GetProcAddress(GetModuleHandleW(L"user32.dll"), "GetDpiForWindow")));
    UINT dpi = window != nullptr && dpiForWindow != nullptr ? dpiForWindow(window) : 0;
    if (dpi == 0) {
        if (HDC screen = GetDC(nullptr)) {
            dpi = static_cast<UINT>(GetDeviceCaps(screen, LOGPIXELSX));
            ReleaseDC(nullptr, screen);
        }
    }
    return dpi != 0 ? static_cast<int>(dpi) : kDesignDpi;
}

bool HighContrastTheme()
{
    HIGHCONTRASTW contrast{};
    contrast.cbSize = sizeof(contrast);
    return machine::SystemParametersInfoW(SPI_GETHIGHCONTRAST, sizeof(contrast), &contrast, 0) &&
           (contrast.dwFlags & HCF_HIGHCONTRASTON) != 0;
}

int CALLBACK CompareRows(LPARAM first, LPARAM second, LPARAM context)
{
    auto* sort = reinterpret_cast<const SortContext*>(context);
    const size_t a = static_cast<size_t>(first), b = static_cast<size_t>(second);
    if (a >= sort->cells.size() || b >= sort->cells.size())
        return 0;
    int order = CompareCells(sort->cells[a].Text(), sort->cells[b].Text());
    return sort->descending ? -order : order;
}

}  // namespace

UiWindow::UiWindow() : module_(GetModuleHandleW(nullptr)) {}

UiWindow::~UiWindow() { DestroyUiWindow(); }

HWND UiWindow::CreateUiWindow(const wchar_t* className, const wchar_t* title, int clientWidth, int clientHeight,
                              int x, int y, LONG style, LONG exStyle, HWND parent)
{
    if (window_ != nullptr)
        DestroyUiWindow();
    InitialiseCommonControls();

    WNDCLASSEXW windowClass{};
    windowClass.cbSize = sizeof(windowClass);
    auto existing = static_cast<ATOM>(GetClassInfoExW(module_, className, &windowClass));
    classExisted_ = existing != 0;
    if (classExisted_) {
        classAtom_ = existing;
    } else {
        windowClass = WNDCLASSEXW{};
        windowClass.cbSize = sizeof(windowClass);
        windowClass.style = CS_DBLCLKS;
        windowClass.lpfnWndProc = DefWindowProcW;
        windowClass.cbClsExtra = 512;
        windowClass.cbWndExtra = 512;
        windowClass.hInstance = module_;
        windowClass.hCursor = LoadCursorW(nullptr, IDC_ARROW);
        // No class brush: the window erases itself with its own brush, which
        // it owns and may later replace by a picture.
        windowClass.lpszClassName = className;
        classAtom_ = RegisterClassExW(&windowClass);
        if (classAtom_ == 0)
            return nullptr;
    }
    className_.Assign(className);

    DWORD windowStyle = style == kDefaultStyle ? kDefaultWindowStyle : static_cast<DWORD>(style);
    DWORD windowExStyle = exStyle == -1 ? WS_EX_ACCEPTFILES : static_cast<DWORD>(exStyle);
    // A window opens on its parent's screen, or on the main one.
    dpi_ = WindowDpi(parent);
    RECT frame{0, 0, Scale(clientWidth), Scale(clientHeight)};
    AdjustWindowRectEx(&frame, windowStyle, FALSE, windowExStyle);
    int width = frame.right - frame.left;
    int height = frame.bottom - frame.top;
    if (x == -1 && y == -1) {
        RECT area = CentringArea(parent);
        x = area.left + (area.right - area.left) / 2 - width / 2;
        y = area.top + (area.bottom - area.top) / 2 - height / 2;
    }

    window_ = CreateWindowExW(windowExStyle, className, title, windowStyle, x, y, width, height, parent, nullptr,
                              module_, nullptr);
    if (window_ == nullptr) {
        if (!classExisted_)
            UnregisterClassW(className, module_);
        classAtom_ = 0;
        return nullptr;
    }
    parent_ = parent;
    SetWindowSubclass(window_, WindowProcedure, kSubclassId, reinterpret_cast<DWORD_PTR>(this));
    // Centred on a screen of another scale than the one it was measured for.
    if (int shownDpi = WindowDpi(window_); shownDpi != dpi_) {
        RECT client{0, 0, MulDiv(clientWidth, shownDpi, kDesignDpi), MulDiv(clientHeight, shownDpi, kDesignDpi)};
        AdjustWindowRectEx(&client, windowStyle, FALSE, windowExStyle);
        dpi_ = shownDpi;
        SetWindowPos(window_, nullptr, 0, 0, client.right - client.left, client.bottom - client.top,
                     SWP_NOMOVE | SWP_NOZORDER | SWP_NOACTIVATE);
    }

    // The access keys' underlines wait for the Alt key, as in a dialog: the
    // window looks the same to an operator who never uses them.
    SendMessageW(window_, WM_CHANGEUISTATE, MAKEWPARAM(UIS_SET, UISF_HIDEACCEL), 0);

    highContrast_ = HighContrastTheme();
    backgroundBrush_.Reset(CreateSolidBrush(BackgroundColour()));
    if (HDC dc = GetDC(window_)) {
        memoryDc_.Reset(CreateCompatibleDC(dc));
        ReleaseDC(window_, dc);
    }
    GetClientRect(window_, &clientRect_);

    if (parent == nullptr) {
        bigIcon_.Reset(static_cast<HICON>(LoadImageW(module_, MAKEINTRESOURCEW(IDI_PROGRAM), IMAGE_ICON,
                                                     GetSystemMetrics(SM_CXICON), GetSystemMetrics(SM_CYICON), 0)));
        smallIcon_.Reset(static_cast<HICON>(LoadImageW(module_, MAKEINTRESOURCEW(IDI_PROGRAM), IMAGE_ICON,
                                                       GetSystemMetrics(SM_CXSMICON),
                                                       GetSystemMetrics(SM_CYSMICON), 0)));
    } else {
        bigIcon_.Reset(CopyParentIcon(parent, ICON_BIG, GCLP_HICON));
        smallIcon_.Reset(CopyParentIcon(parent, ICON_SMALL, GCLP_HICONSM));
    }
    if (bigIcon_)
        SendMessageW(window_, WM_SETICON, ICON_BIG, reinterpret_cast<LPARAM>(bigIcon_.Get()));
    if (smallIcon_)
        SendMessageW(window_, WM_SETICON, ICON_SMALL, reinterpret_cast<LPARAM>(smallIcon_.Get()));

    fontSize_ = 9.0;
    fontWeight_ = 400;
    fontAttributes_ = 0;
    wcscpy_s(faceName_, L"Arial");
    osVersion_ = GetOsVersionNumber();

    controls_.clear();
    controls_.resize(ControlTableCapacityFor(1, 0));
    used_ = 1;   // entry 0 is never used: ids start at 1
    event_ = UiEvent{};
    event_.window = this;
    return window_;
}

bool UiWindow::DestroyUiWindow()
{
    if (window_ == nullptr)
        return false;
    ShowWindow(window_, SW_HIDE);
    for (uint32_t id = used_; id-- > 1;)
        ReleaseControl(controls_[id]);
    tooltip_.Reset();
    backgroundBrush_.Reset();
    backgroundPicture_.Reset();
    memoryDc_.Reset();
    if (menu_) {
        SetMenu(window_, nullptr);
        menu_.Reset();
    }
    accelerators_.Reset();
    cancelId_ = 0;
    focused_ = nullptr;
    RemoveWindowSubclass(window_, WindowProcedure, kSubclassId);
    DestroyWindow(window_);
    window_ = nullptr;
    bigIcon_.Reset();
    smallIcon_.Reset();
    if (classAtom_ != 0 && !classExisted_)
        UnregisterClassW(className_.Text(), module_);

    parent_ = nullptr;
    classAtom_ = 0;
    classExisted_ = false;
    className_.Clear();
    controls_.clear();
    used_ = 0;
    fontSize_ = 9.0;
    fontWeight_ = 400;
    fontAttributes_ = 0;
    wcscpy_s(faceName_, L"Arial");
    textColour_ = backgroundColour_ = -1;
    dpi_ = kDesignDpi;
    nextBehaviour_ = 0;
    startGroup_ = false;
    clientRect_ = RECT{};
    event_ = UiEvent{};
    sink_ = &event_;
    std::fill(std::begin(popups_), std::end(popups_), nullptr);
    popupCount_ = 0;
    mouse_ = POINT{};
    return true;
}

COLORREF UiWindow::BackgroundColour() const { return highContrast_ ? GetSysColor(COLOR_WINDOW) : kWindowBackground; }

bool UiWindow::SetBackgroundPicture(UniqueBitmap picture)
{
    if (window_ == nullptr || !picture)
        return false;
    if (highContrast_)
        return true;
    UniqueBrush brush(CreatePatternBrush(picture.Get()));
    if (!brush)
        return false;
    // The brush goes before the picture it was made of.
    backgroundBrush_ = std::move(brush);
    backgroundPicture_ = std::move(picture);
    InvalidateRect(window_, nullptr, TRUE);
    return true;
}

bool UiWindow::RecordPopup(HWND popup)
{
    bool live[kPopupSlots];
    for (size_t i = 0; i < kPopupSlots; ++i)
        live[i] = popups_[i] != nullptr && IsWindow(popups_[i]);
    int slot = FreePopupSlot(live);
    if (slot < 0)
        return false;
    popups_[slot] = popup;
    popupCount_ = std::max(popupCount_, static_cast<uint32_t>(slot) + 1);
    return true;
}

void UiWindow::ShowUiWindow(int showCommand)
{
    if (window_ == nullptr)
        return;
    ShowWindow(window_, showCommand);
    UpdateWindow(window_);
}

LRESULT CALLBACK UiWindow::WindowProcedure(HWND window, UINT message, WPARAM wParam, LPARAM lParam, UINT_PTR,
                                           DWORD_PTR self)
{
    bool handled = false;
    LRESULT result = reinterpret_cast<UiWindow*>(self)->HandleMessage(window, message, wParam, lParam, handled);
    return handled ? result : DefSubclassProc(window, message, wParam, lParam);
}

LRESULT UiWindow::HandleMessage(HWND window, UINT message, WPARAM wParam, LPARAM lParam, bool& handled)
{
    switch (message) {
    case kCloseRequestMessage:
    case WM_CLOSE:   // the application decides whether the window closes
        Record(EventCode::Close, window, message, wParam, lParam);
        handled = true;
        return 0;

    case WM_SYSCOMMAND:
        switch (wParam & 0xFFF0) {
        case SC_CLOSE:
            PostMessageW(window, kCloseRequestMessage, 0, 0);
            handled = true;
            return 0;
        case SC_MINIMIZE: Record(EventCode::Minimised, window, message, wParam, lParam); break;
        case SC_RESTORE: Record(EventCode::Restored, window, message, wParam, lParam); break;
        case SC_MAXIMIZE: Record(EventCode::Maximised, window, message, wParam, lParam); break;
        case SC_MOVE: Record(EventCode::MoveBegins, window, message, wParam, lParam); break;
        default: break;
        }
        return 0;

    case WM_CHANGEUISTATE:
    case WM_UPDATEUISTATE:
        if (HIWORD(wParam) & UISF_HIDEACCEL) {
            if (LOWORD(wParam) == UIS_CLEAR)
                ShowAccessKeys(true);
            else if (LOWORD(wParam) == UIS_SET)
                ShowAccessKeys(false);
        }
        return 0;

    case WM_QUERYUISTATE:
        // What the window shows, also where the system keeps no state.
        handled = true;
        return (DefSubclassProc(window, message, wParam, lParam) & ~UISF_HIDEACCEL) |
               (accessKeysShown_ ? 0 : UISF_HIDEACCEL);

    case kAccessKeyMessage:
        handled = true;
        return UseAccessKey(static_cast<wchar_t>(wParam)) ? 1 : 0;

    case WM_COMMAND:
        Record(CommandEvent(wParam, lParam), reinterpret_cast<HWND>(lParam), message, wParam, lParam);
        return 0;

    case WM_NOTIFY: {
        auto* header = reinterpret_cast<const NMHDR*>(lParam);
        Record(NotifyEvent(lParam), header->hwndFrom, message, wParam, lParam);
        return 0;
    }

    case WM_CTLCOLORSTATIC:
    case WM_CTLCOLOREDIT:
    case WM_CTLCOLORBTN: {
        LRESULT brush = ControlColours(reinterpret_cast<HDC>(wParam), reinterpret_cast<HWND>(lParam));
        handled = brush != 0;
        return brush;
    }

    case WM_ERASEBKGND: {
        RECT client;
        GetClientRect(window, &client);
        FillRect(reinterpret_cast<HDC>(wParam), &client, backgroundBrush_.Get());
        // The drawn outline gave way to the theme's colours: the theme's frame
        // keeps a box apart from the window under it.
        if (highContrast_)
            FrameRect(reinterpret_cast<HDC>(wParam), &client, GetSysColorBrush(COLOR_WINDOWFRAME));
        handled = true;
        return 1;
    }

    case WM_SIZE:
        GetClientRect(window, &clientRect_);
        LayOutControls(LOWORD(lParam), HIWORD(lParam));
        Record(EventCode::Resized, window, message, wParam, lParam);
        return 0;

    case WM_ACTIVATE:
        if (LOWORD(wParam) == WA_INACTIVE)
            KeepFocus();
        return 0;

    case WM_SETFOCUS:
        // The window itself got the keyboard (its activation gives it the
        // focus): the control that had it takes it back.
        RestoreFocus();
        return 0;

    case WM_MOVE:
        Record(EventCode::Moved, window, message, wParam, lParam);
        return 0;

    case WM_SETTINGCHANGE:
        if (wParam == SPI_SETHIGHCONTRAST && HighContrastTheme() != highContrast_) {
            highContrast_ = !highContrast_;
            backgroundBrush_.Reset(CreateSolidBrush(BackgroundColour()));
            RedrawWindow(window, nullptr, nullptr, RDW_ERASE | RDW_INVALIDATE | RDW_ALLCHILDREN);
        }
        return 0;

    case WM_DPICHANGED:
        ApplyDpi(HIWORD(wParam), *reinterpret_cast<const RECT*>(lParam));
        Record(EventCode::DpiChanged, window, message, wParam, lParam);
        handled = true;
        return 0;

    case WM_LBUTTONDOWN: {
        POINT point{GET_X_LPARAM(lParam), GET_Y_LPARAM(lParam)};
        const ControlEntry* control = ControlFromHandle(ChildWindowFromPoint(window, point));
        if (control != nullptr && (control->behaviour & Behaviour::DragHandle)) {
            ReleaseCapture();
            SendMessageW(window, WM_NCLBUTTONDOWN, HTCAPTION, 0);
            handled = true;
            return 0;
        }
        Record(EventCode::LeftButtonDown, window, message, wParam, lParam);
        return 0;
    }
    case WM_LBUTTONUP: Record(EventCode::LeftButtonUp, window, message, wParam, lParam); return 0;
    case WM_RBUTTONDOWN: Record(EventCode::RightButtonDown, window, message, wParam, lParam); return 0;
    case WM_RBUTTONUP: Record(EventCode::RightButtonUp, window, message, wParam, lParam); return 0;
    case WM_LBUTTONDBLCLK: Record(EventCode::DoubleClick, window, message, wParam, lParam); return 0;
    case WM_RBUTTONDBLCLK: Record(EventCode::RightDoubleClick, window, message, wParam, lParam); return 0;
    case WM_MOUSEWHEEL: Record(EventCode::Wheel, window, message, wParam, lParam); return 0;
    case WM_MOUSEMOVE:
        mouse_ = POINT{GET_X_LPARAM(lParam), GET_Y_LPARAM(lParam)};
        Record(EventCode::MouseMoved, window, message, wParam, lParam);
        return 0;

    case WM_QUERYENDSESSION:
    case WM_ENDSESSION:
        Record(EventCode::EndSession, window, message, wParam, lParam);
        // The system sends these, which a loop waiting in GetMessageW handles
        // without returning; the posted wake-up lets it see the event at once.
        PostMessageW(window, WM_NULL, 0, 0);
        return 0;

    default:
        return 0;
    }
}

void UiWindow::Record(int32_t code, HWND handle, UINT message, WPARAM wParam, LPARAM lParam)
{
    if (code == EventCode::None)
        return;
    // A mouse move never hides an event that has not been taken yet.
    UiEvent& event = *sink_;
    if (code == EventCode::MouseMoved && event.pending)
        return;
    event.code = code;
    event.handle = handle;
    event.message = message;
    event.wParam = wParam;
    event.lParam = lParam;
    event.window = this;
    event.pending = true;
}

int32_t UiWindow::CommandEvent(WPARAM wParam, LPARAM lParam)
{
    if (lParam == 0)   // accelerators carry the command id alone
        return HIWORD(wParam) == 1 ? static_cast<int32_t>(LOWORD(wParam)) : EventCode::None;
    ControlEntry* control = Entry(LOWORD(wParam));
    if (control == nullptr || control->handle != reinterpret_cast<HWND>(lParam))
        return EventCode::None;

    UINT notification = HIWORD(wParam);
    switch (control->kind) {
    case ControlKind::DropDownList:
    case ControlKind::ComboWithEdit:
        return ComboNotificationEvent(notification);
    case ControlKind::PushButton:
    case ControlKind::CheckBox:
    case ControlKind::Link:
        return notification == BN_CLICKED ? control->id : EventCode::None;
    case ControlKind::Label:
    case ControlKind::Picture:
    case ControlKind::Icon:
        if (notification == STN_CLICKED)
            return control->id;
        return notification == STN_DBLCLK ? EventCode::DoubleClick : EventCode::None;
    case ControlKind::CheckControl: {
        if (notification != STN_CLICKED && notification != STN_DBLCLK)
            return EventCode::None;
        std::shared_ptr<CheckControlData> check = control->check;
        ControlEntry* image = Entry(check->imagePartId);
        if (image != nullptr)
            ApplyCheck(*image, check->state == StateFlags::Check ? StateFlags::Uncheck : StateFlags::Check);
        return check->imagePartId;
    }
    default:
        return EventCode::None;
    }
}

int32_t UiWindow::NotifyEvent(LPARAM lParam)
{
    auto* header = reinterpret_cast<const NMHDR*>(lParam);
    ControlEntry* control = Entry(static_cast<int32_t>(header->idFrom));
    if (control == nullptr || control->handle != header->hwndFrom)
        return EventCode::None;

    if (control->kind == ControlKind::ListView) {
        switch (header->code) {
        case LVN_ITEMCHANGED: {
            auto* change = reinterpret_cast<const NMLISTVIEW*>(lParam);
            return ListItemChangeEvent(change->uChanged, change->uOldState, change->uNewState);
        }
        case NM_DBLCLK:
            return EventCode::DoubleClick;
        case LVN_COLUMNCLICK:
            if (control->behaviour & Behaviour::Sortable)
                SortListView(*control, reinterpret_cast<const NMLISTVIEW*>(lParam)->iSubItem);
            return EventCode::None;
        default:
            return EventCode::None;
        }
    }
    if (control->kind == ControlKind::Link && (header->code == NM_CLICK || header->code == NM_RETURN))
        return control->id;
    return EventCode::None;
}

LRESULT UiWindow::ControlColours(HDC dc, HWND handle)
{
    const ControlEntry* control = ControlFromHandle(handle);
    if (control == nullptr)
        return 0;
    bool edit = control->kind == ControlKind::Edit || control->kind == ControlKind::ComboWithEdit;
    if (edit && control->textColour < 0 && !control->backgroundBrush)
        return 0;   // edit fields keep the system's look unless coloured

    if (highContrast_) {
        // The theme's colours, whatever the program chose for the control.
        SetTextColor(dc, GetSysColor(COLOR_WINDOWTEXT));
        SetBkColor(dc, GetSysColor(COLOR_WINDOW));
        return reinterpret_cast<LRESULT>(backgroundBrush_.Get());
    }
    SetTextColor(dc, control->textColour >= 0 ? static_cast<COLORREF>(control->textColour)
                                              : GetSysColor(COLOR_BTNTEXT));
    if (control->backgroundBrush) {
        SetBkColor(dc, static_cast<COLORREF>(control->backgroundColour));
        return reinterpret_cast<LRESULT>(control->backgroundBrush.Get());
    }
    if (edit) {
        SetBkColor(dc, GetSysColor(COLOR_WINDOW));
        return reinterpret_cast<LRESULT>(GetSysColorBrush(COLOR_WINDOW));
    }
    SetBkColor(dc, kWindowBackground);
    if (control->kind == ControlKind::Link && (GetWindowLongW(handle, GWL_STYLE) & LWS_TRANSPARENT)) {
        // Wine's link control deletes the brush it is given: a stock brush
        // survives that, and a transparent link paints none anyway.
        SetBkMode(dc, TRANSPARENT);
        return reinterpret_cast<LRESULT>(GetStockObject(NULL_BRUSH));
    }
    if (backgroundPicture_) {
        // Line the picture up with the window's own, and let it show through
        // behind the text.
        POINT origin{0, 0};
        MapWindowPoints(handle, window_, &origin, 1);
        SetBrushOrgEx(dc, -origin.x, -origin.y, nullptr);
        if (control->kind == ControlKind::Label)
            SetBkMode(dc, TRANSPARENT);
    }
    return reinterpret_cast<LRESULT>(backgroundBrush_.Get());
}

void UiWindow::LayOutControls(int width, int height)
{
    constexpr uint32_t kLayoutFlags =
        Behaviour::FollowRight | Behaviour::FollowBottom | Behaviour::StretchWidth | Behaviour::StretchHeight;
    for (uint32_t id = 1; id < used_; ++id) {
        const ControlEntry& control = controls_[id];
        if (control.id == 0 || (control.behaviour & kLayoutFlags) == 0)
            continue;
        int dx = width - control.parentWidth;
        int dy = height - control.parentHeight;
        int x = control.x + ((control.behaviour & Behaviour::FollowRight) ? dx : 0);
        int y = control.y + ((control.behaviour & Behaviour::FollowBottom) ? dy : 0);
        int w = control.width + ((control.behaviour & Behaviour::StretchWidth) ? dx : 0);
        int h = control.height + ((control.behaviour & Behaviour::StretchHeight) ? dy : 0);
        MoveWindow(control.handle, x, y, w > 0 ? w : 0, h > 0 ? h : 0, TRUE);
    }
}

void UiWindow::ApplyDpi(int dpi, const RECT& frame)
{
    if (dpi <= 0 || dpi == dpi_)
        return;
    int previous = dpi_;
    dpi_ = dpi;
    auto rescale = [&](int& length) { length = MulDiv(length, dpi, previous); };
    SetRedraw(false);
    for (uint32_t id = 1; id < used_; ++id) {
        ControlEntry& control = controls_[id];
        if (control.id == 0)
            continue;
        for (int* length : {&control.x, &control.y, &control.width, &control.height, &control.parentWidth,
                            &control.parentHeight})
            rescale(*length);
        MoveWindow(control.handle, control.x, control.y, control.width, control.height, FALSE);
        if (UniqueFont font = MakeFont(control.fontRequest)) {
            SendMessageW(control.handle, WM_SETFONT, reinterpret_cast<WPARAM>(font.Get()), FALSE);
            control.font = std::move(font);
        }
        if (control.pictureSource) {
            PictureSource source = control.pictureSource;
            SetPictureSource(static_cast<int32_t>(id), std::move(source));
        }
    }
    // The window takes the size the system suggests; the resize then lays
    // out the controls that follow its edges.
    SetWindowPos(window_, nullptr, frame.left, frame.top, frame.right - frame.left, frame.bottom - frame.top,
                 SWP_NOZORDER | SWP_NOACTIVATE);
    SetRedraw(true);
    RedrawWindow(window_, nullptr, nullptr, RDW_ERASE | RDW_FRAME | RDW_INVALIDATE | RDW_ALLCHILDREN);
}

void UiWindow::KeepFocus()
{
    HWND focus = GetFocus();
    if (focus != nullptr && focus != window_ && IsChild(window_, focus))
        focused_ = focus;
}

void UiWindow::RestoreFocus()
{
    HWND focus = GetFocus();
    if (focused_ == nullptr || (focus != nullptr && focus != window_) || GetActiveWindow() != window_)
        return;
    if (IsChild(window_, focused_) && IsWindowVisible(focused_) && IsWindowEnabled(focused_))
        SetFocus(focused_);
}

void UiWindow::SortListView(ControlEntry& list, int column)
{
    // Old list views cannot sort rows that are shown in groups.
    if (osVersion_ < 6.0 && SendMessageW(list.handle, LVM_ISGROUPVIEWENABLED, 0, 0))
        return;
    auto header = reinterpret_cast<HWND>(SendMessageW(list.handle, LVM_GETHEADER, 0, 0));
    if (header == nullptr)
        return;

    HDITEMW item{};
    item.mask = HDI_FORMAT;
    SendMessageW(header, HDM_GETITEMW, column, reinterpret_cast<LPARAM>(&item));
    SortContext sort{{}, (item.fmt & HDF_SORTUP) != 0};
    const int rows = static_cast<int>(SendMessageW(list.handle, LVM_GETITEMCOUNT, 0, 0));
    for (int row = 0; row < rows; ++row) {
        sort.cells.push_back(ListCellText(list.handle, row, column));
        LVITEMW tag{};
        tag.mask = LVIF_PARAM;
        tag.iItem = row;
        tag.lParam = row;
        SendMessageW(list.handle, LVM_SETITEMW, 0, reinterpret_cast<LPARAM>(&tag));
    }
    SendMessageW(list.handle, LVM_SORTITEMS, reinterpret_cast<WPARAM>(&sort), reinterpret_cast<LPARAM>(CompareRows));

    int columns = static_cast<int>(SendMessageW(header, HDM_GETITEMCOUNT, 0, 0));
    for (int i = 0; i < columns; ++i) {
        HDITEMW other{};
        other.mask = HDI_FORMAT;
        SendMessageW(header, HDM_GETITEMW, i, reinterpret_cast<LPARAM>(&other));
        other.fmt &= ~(HDF_SORTUP | HDF_SORTDOWN);
        if (i == column)
            other.fmt |= sort.descending ? HDF_SORTDOWN : HDF_SORTUP;
        SendMessageW(header, HDM_SETITEMW, i, reinterpret_cast<LPARAM>(&other));
    }
}

bool UiWindow::UseAccessKey(wchar_t key)
{
    const wchar_t marked[] = {L'&', key, L'\0'};
    key = AccessKeyOf(marked);   // in capitals, as the controls keep theirs
    auto usable = [](const ControlEntry* control) {
        return control != nullptr && IsWindowVisible(control->handle) && IsWindowEnabled(control->handle);
    };
    for (int32_t id = 1; key != 0 && id <= LastControlId(); ++id) {
        const ControlEntry* control = Control(id);
        if (!usable(control) || control->accessKey != key)
            continue;
        if (control->kind == ControlKind::Label) {
            // The field the label names is the next stop of the Tab key; a
            // field that is off for now takes nothing.
            for (int32_t next = id + 1; next <= LastControlId(); ++next) {
                const ControlEntry* field = Control(next);
                if (field == nullptr || !IsWindowVisible(field->handle) ||
                    (GetWindowLongW(field->handle, GWL_STYLE) & WS_TABSTOP) == 0)
                    continue;
                if (!IsWindowEnabled(field->handle))
                    return false;
                SetFocus(field->handle);
                if (field->kind == ControlKind::Edit)
                    SendMessageW(field->handle, EM_SETSEL, 0, -1);
                return true;
            }
            return false;
        }
        LONG type = GetWindowLongW(control->handle, GWL_STYLE) & BS_TYPEMASK;
        bool turns = control->kind == ControlKind::CheckBox ||
                     (control->kind == ControlKind::PushButton && type != BS_PUSHBUTTON && type != BS_DEFPUSHBUTTON);
        if (turns) {
            // As the dialog manager does: the box takes the focus and turns.
            SetFocus(control->handle);
            SendMessageW(control->handle, BM_CLICK, 0, 0);
        } else {
            PostMessageW(window_, WM_COMMAND, MAKEWPARAM(control->id, BN_CLICKED),
                         reinterpret_cast<LPARAM>(control->handle));
        }
        return true;
    }
    return false;
}

void UiWindow::KeepAccessKey(ControlEntry& entry, const wchar_t* text)
{
    entry.accessKey = AccessKeyOf(text);
    entry.accessMark = AccessMarkOf(text);
    std::wstring words(text != nullptr ? text : L"");
    if (entry.accessMark >= 0 && !accessKeysShown_)
        words.erase(static_cast<size_t>(entry.accessMark), 1);
    SetWindowTextW(entry.handle, words.c_str());
}

void UiWindow::ShowAccessKeys(bool shown)
{
    if (shown == accessKeysShown_)
        return;
    accessKeysShown_ = shown;
    for (int32_t id = 1; id <= LastControlId(); ++id) {
        ControlEntry* entry = Entry(id);
        if (entry != nullptr && entry->kind == ControlKind::Link && entry->accessKey != 0) {
            // A transparent link paints over what it painted before: the
            // window's own background is painted first, under the mark too.
            RECT frame{};
            GetWindowRect(entry->handle, &frame);
            MapWindowPoints(nullptr, window_, reinterpret_cast<POINT*>(&frame), 2);
            RedrawWindow(window_, &frame, nullptr, RDW_INVALIDATE | RDW_ERASE | RDW_ALLCHILDREN);
        }
        if (entry == nullptr || entry->accessMark < 0)
            continue;
        WString text = GetText(id);
        std::wstring words(text.Text());
        auto mark = static_cast<size_t>(entry->accessMark);
        if (mark > words.size() || (!shown && (mark == words.size() || words[mark] != L'&')))
            continue;   // the text was changed since: it marks nothing
        if (shown)
            words.insert(mark, 1, L'&');
        else
            words.erase(mark, 1);
        SetWindowTextW(entry->handle, words.c_str());
    }
}
