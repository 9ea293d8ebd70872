// The toolkit's controls: creation, state, text, fonts, colours, tips and
// the lock that the application puts around its questions. The list views
// are in ui/list_views.cpp.
#include "ui/controls.h"

#include <cstddef>
#include <new>
#include <string>

#include "ui/window.h"

namespace {

constexpr int kFieldHeight = 20;      // edit fields and drop-down lists
constexpr int kDropDownHeight = 200;  // room for the dropped list
constexpr int kCheckPartSize = 18;
constexpr int kCheckLabelWidth = 582;
constexpr int kTipWidth = 400;

SIZE TextExtent(HWND control, HFONT font, const wchar_t* text)
{
    SIZE size{};
    HDC dc = GetDC(control);
    if (dc == nullptr)
        return size;
    HGDIOBJ previous = SelectObject(dc, font != nullptr ? font : GetStockObject(DEFAULT_GUI_FONT));
    GetTextExtentPoint32W(dc, text, static_cast<int>(TextLength(text)), &size);
    SelectObject(dc, previous);
    ReleaseDC(control, dc);
    return size;
}

void FillDropDown(HWND combo, const wchar_t* itemsText)
{
    SendMessageW(combo, CB_RESETCONTENT, 0, 0);
    StringList items;
    items.Split(itemsText, L"\n");
    for (uint32_t i = 0; i < items.Count(); ++i)
        SendMessageW(combo, CB_ADDSTRING, 0, reinterpret_cast<LPARAM>(items[i]));
}

// A 32-bit bitmap given to a static control may be replaced by a copy that
// the control makes; whatever it holds other than `ours` is released here.
void ClearStaticImage(HWND control, HBITMAP ours, HBITMAP alsoOurs = nullptr)
{
    auto held = reinterpret_cast<HBITMAP>(SendMessageW(control, STM_SETIMAGE, IMAGE_BITMAP, 0));
    if (held != nullptr && held != ours && held != alsoOurs)
        DeleteObject(held);
}

// The words of a control's text as a screen reader says them: without the
// "&" that marks the access key.
std::wstring Spoken(const wchar_t* text)
{
    std::wstring words;
    for (; text != nullptr && *text != L'\0'; ++text) {
        if (*text == L'&' && *++text == L'\0')
            break;
        words += *text;
    }
    return words;
}

}  // namespace

ControlEntry* UiWindow::Entry(int32_t id)
{
    if (id == ControlId::Last)
        id = LastControlId();
    if (id < 1 || static_cast<uint32_t>(id) >= used_)
        return nullptr;
    ControlEntry& entry = controls_[id];
    if (entry.id == 0 || !IsWindow(entry.handle))
        return nullptr;
    return &entry;
}

const ControlEntry* UiWindow::Control(int32_t id) const { return const_cast<UiWindow*>(this)->Entry(id); }

HWND UiWindow::ControlHandle(int32_t id) const
{
    const ControlEntry* control = Control(id);
    return control != nullptr ? control->handle : nullptr;
}

const ControlEntry* UiWindow::ControlFromHandle(HWND handle) const
{
    if (handle == nullptr || handle == window_)
        return nullptr;
    auto id = static_cast<int32_t>(GetWindowLongW(handle, GWL_ID));
    const ControlEntry* entry = Control(id);
    return entry != nullptr && entry->handle == handle ? entry : nullptr;
}

ControlEntry* UiWindow::NewEntry()
{
    if (window_ == nullptr)
        return nullptr;
    uint32_t capacity = ControlTableCapacityFor(used_, static_cast<uint32_t>(controls_.size()));
    if (capacity != controls_.size()) {
        try {
            controls_.resize(capacity);
        } catch (const std::bad_alloc&) {
            return nullptr;
        }
    }
    controls_[used_] = ControlEntry{};
    return &controls_[used_];
}

FontRequest UiWindow::NextFont() const
{
    FontRequest request;
    request.size = fontSize_;
    request.weight = fontWeight_;
    request.attributes = fontAttributes_;
    wcscpy_s(request.faceName, faceName_);
    return request;
}

UniqueFont UiWindow::MakeFont(const FontRequest& request) const
{
    // Points at the window's own DPI, not the screen's: a window on a
    // monitor of another scale has text of that scale.
    int height = -static_cast<int>(request.size * dpi_ / 72.0 + 0.5);
    uint32_t attributes = request.attributes;
    return UniqueFont(CreateFontW(height, 0, 0, 0, request.weight, (attributes & FontAttributes::Italic) != 0,
                                  (attributes & FontAttributes::Underline) != 0,
                                  (attributes & FontAttributes::StrikeOut) != 0, DEFAULT_CHARSET,
                                  OUT_DEFAULT_PRECIS, CLIP_DEFAULT_PRECIS, fontQuality_,
                                  DEFAULT_PITCH | FF_DONTCARE, request.faceName));
}

HWND UiWindow::CreateControl(ControlEntry& entry, const wchar_t* windowClass, const wchar_t* text, DWORD style,
                             DWORD exStyle, int x, int y, int width, int height)
{
    if (startGroup_) {
        style |= WS_GROUP;
        startGroup_ = false;
    }
    auto id = static_cast<int32_t>(used_);
    x = Scale(x);
    y = Scale(y);
    width = Scale(width);
    height = Scale(height);
    HWND handle = CreateWindowExW(exStyle, windowClass, text, style, x, y, width, height, window_,
                                  reinterpret_cast<HMENU>(static_cast<INT_PTR>(id)), module_, nullptr);
    if (handle == nullptr)
        return nullptr;

    entry.handle = handle;
    entry.id = id;
    entry.x = x;
    entry.y = y;
    entry.width = width;
    entry.height = height;
    entry.parentWidth = clientRect_.right - clientRect_.left;
    entry.parentHeight = clientRect_.bottom - clientRect_.top;
    entry.behaviour = nextBehaviour_;
    entry.textColour = textColour_;
    entry.backgroundColour = backgroundColour_;
    if (backgroundColour_ >= 0)
        entry.backgroundBrush.Reset(CreateSolidBrush(static_cast<COLORREF>(backgroundColour_)));
    entry.fontRequest = NextFont();
    entry.font = MakeFont(entry.fontRequest);
    SendMessageW(handle, WM_SETFONT, reinterpret_cast<WPARAM>(entry.font.Get()), FALSE);
    ++used_;
    return handle;
}

int32_t UiWindow::AddButton(const wchar_t* text, int x, int y, int width, int height, LONG style)
{
    ControlEntry* entry = NewEntry();
    if (entry == nullptr)
        return 0;
    entry->kind = ControlKind::PushButton;
    DWORD extra = style == kDefaultStyle ? WS_VISIBLE : static_cast<DWORD>(style);
    if (CreateControl(*entry, L"Button", text, WS_CHILD | WS_TABSTOP | extra, 0, x, y, width, height) == nullptr)
        return 0;
    KeepAccessKey(*entry, text);
    return entry->id;
}

int32_t UiWindow::AddCheckBox(const wchar_t* text, int x, int y, int width, int height)
{
    ControlEntry* entry = NewEntry();
    if (entry == nullptr)
        return 0;
    entry->kind = ControlKind::CheckBox;
    if (CreateControl(*entry, L"Button", text, WS_CHILD | WS_VISIBLE | WS_TABSTOP | BS_AUTOCHECKBOX, 0, x, y,
                      width, height) == nullptr)
        return 0;
    KeepAccessKey(*entry, text);
    return entry->id;
}

int32_t UiWindow::AddRadioButton(const wchar_t* text, int x, int y, int width, int height)
{
    ControlEntry* entry = NewEntry();
    if (entry == nullptr)
        return 0;
    entry->kind = ControlKind::CheckBox;
    if (CreateControl(*entry, L"Button", text, WS_CHILD | WS_VISIBLE | WS_TABSTOP | BS_AUTORADIOBUTTON, 0, x, y,
                      width, height) == nullptr)
        return 0;
    KeepAccessKey(*entry, text);
    return entry->id;
}

int32_t UiWindow::AddCombo(const wchar_t* itemsText, int x, int y, int width, int selected)
{
    ControlEntry* entry = NewEntry();
    if (entry == nullptr)
        return 0;
    entry->kind = ControlKind::DropDownList;
    HWND combo = CreateControl(*entry, L"ComboBox", L"", WS_CHILD | WS_VISIBLE | WS_TABSTOP | WS_VSCROLL |
                               CBS_DROPDOWNLIST, 0, x, y, width, kDropDownHeight);
    if (combo == nullptr)
        return 0;
    entry->height = Scale(kFieldHeight);
    FillDropDown(combo, itemsText);
    SendMessageW(combo, CB_SETCURSEL, selected, 0);
    // The system's proxy would name the list by its value; the label before
    // it says what is chosen there.
    const ControlEntry* label = Entry(entry->id - 1);
    if (label != nullptr && label->kind == ControlKind::Label && label->accessKey != 0) {
        WString words = GetText(label->id);
        ExposeDrawnControl(combo, Spoken(words.Text()).c_str(), DrawnRole::ComboBox);
    }
    return entry->id;
}

int32_t UiWindow::AddLabel(const wchar_t* text, int x, int y, int width, int height, LONG style)
{
    ControlEntry* entry = NewEntry();
    if (entry == nullptr)
        return 0;
    entry->kind = ControlKind::Label;
    // A label shows its text as it is: an account's name or a folder's path
    // may hold an "&", which would otherwise vanish and underline what follows.
    DWORD alignment = (style == kDefaultStyle ? SS_LEFT : static_cast<DWORD>(style)) | SS_NOPREFIX;
    // A drag handle must let the press through to the window, which moves it.
    DWORD notify = (nextBehaviour_ & Behaviour::DragHandle) ? 0 : SS_NOTIFY;
    bool autoWidth = width == -1;
    HWND label = CreateControl(*entry, L"Static", text, WS_CHILD | WS_VISIBLE | notify | alignment, 0, x, y,
                               autoWidth ? 1 : width, autoWidth ? 1 : height);
    if (label == nullptr)
        return 0;
    entry->autoWidth = autoWidth;
    if (autoWidth)
        SetText(entry->id, text);
    return entry->id;
}

int32_t UiWindow::AddFieldLabel(const wchar_t* text, int x, int y, int width, int height)
{
    int32_t id = AddLabel(text, x, y, width, height, kDefaultStyle);
    ControlEntry* entry = Entry(id);
    if (entry == nullptr)
        return 0;
    // The program's own words: the "&" marks the key instead of showing.
    SetWindowLongW(entry->handle, GWL_STYLE, GetWindowLongW(entry->handle, GWL_STYLE) & ~SS_NOPREFIX);
    KeepAccessKey(*entry, text);
    return id;
}

int32_t UiWindow::AddEdit(const wchar_t* text, int x, int y, int width, LONG style)
{
    ControlEntry* entry = NewEntry();
    if (entry == nullptr)
        return 0;
    entry->kind = ControlKind::Edit;
    DWORD extra = style == kDefaultStyle ? WS_VISIBLE | ES_AUTOHSCROLL : static_cast<DWORD>(style);
    if ((extra & ES_READONLY) == 0)
        extra |= WS_TABSTOP;
    return CreateControl(*entry, L"Edit", text, WS_CHILD | extra, WS_EX_CLIENTEDGE, x, y, width, kFieldHeight)
               ? entry->id : 0;
}

int32_t UiWindow::AddIcon(HICON icon, int x, int y, int width, int height)
{
    UniqueIcon owned(icon);
    ControlEntry* entry = NewEntry();
    if (entry == nullptr)
        return 0;
    entry->kind = ControlKind::Icon;
    HWND control = CreateControl(*entry, L"Static", nullptr,
                                 WS_CHILD | WS_VISIBLE | SS_ICON | SS_REALSIZECONTROL | SS_NOTIFY, 0, x, y, width,
                                 height);
    if (control == nullptr)
        return 0;
    entry->icon = std::move(owned);
    SendMessageW(control, STM_SETICON, reinterpret_cast<WPARAM>(entry->icon.Get()), 0);
    return entry->id;
}

int32_t UiWindow::AddPicture(HBITMAP bitmap, int x, int y, int width, int height, LONG style)
{
    UniqueBitmap owned(bitmap);
    ControlEntry* entry = NewEntry();
    if (entry == nullptr)
        return 0;
    entry->kind = ControlKind::Picture;
    DWORD extra = style == kDefaultStyle ? WS_VISIBLE | SS_NOTIFY | SS_REALSIZECONTROL : static_cast<DWORD>(style);
    HWND control = CreateControl(*entry, L"Static", nullptr, WS_CHILD | SS_BITMAP | extra, 0, x, y, width, height);
    if (control == nullptr)
        return 0;
    entry->bitmap = std::move(owned);
    SendMessageW(control, STM_SETIMAGE, IMAGE_BITMAP, reinterpret_cast<LPARAM>(entry->bitmap.Get()));
    return entry->id;
}

int32_t UiWindow::AddLink(const wchar_t* text, int x, int y, int width, int height)
{
    ControlEntry* entry = NewEntry();
    if (entry == nullptr)
        return 0;
    entry->kind = ControlKind::Link;
    HWND link = CreateControl(*entry, WC_LINK, text, WS_CHILD | WS_VISIBLE | WS_TABSTOP, 0, x, y, width, height);
    if (link == nullptr)
        return 0;
    // A screen reader says the words, not the markup around the link part.
    std::wstring words;
    for (bool inTag = false; text != nullptr && *text != L'\0'; ++text) {
        if (*text == L'<' || *text == L'>')
            inTag = *text == L'<';
        else if (!inTag)
            words += *text;
    }
    ExposeDrawnControl(link, words.c_str(), DrawnRole::Link);
    return entry->id;
}

int32_t UiWindow::AddCheckControl(const wchar_t* text, int x, int y, HBITMAP checkedBitmap,
                                  HBITMAP uncheckedBitmap)
{
    auto check = std::make_shared<CheckControlData>();
    check->checkedBitmap = checkedBitmap;
    check->uncheckedBitmap = uncheckedBitmap;

    ControlEntry* image = NewEntry();
    if (image == nullptr)
        return 0;
    image->kind = ControlKind::CheckControl;
    image->check = check;
    HWND imagePart = CreateControl(*image, L"Static", nullptr,
                                   WS_CHILD | WS_VISIBLE | SS_BITMAP | SS_CENTERIMAGE | SS_NOTIFY, 0, x, y,
                                   kCheckPartSize, kCheckPartSize);
    if (imagePart == nullptr)
        return 0;
    check->imagePartId = image->id;
    SendMessageW(imagePart, STM_SETIMAGE, IMAGE_BITMAP, reinterpret_cast<LPARAM>(uncheckedBitmap));

    ControlEntry* label = NewEntry();   // may move the table: `image` is not used below
    if (label == nullptr) {
        DeleteControl(check->imagePartId);
        return 0;
    }
    label->kind = ControlKind::CheckControl;
    label->check = check;
    if (CreateControl(*label, L"Static", text, WS_CHILD | WS_VISIBLE | SS_NOTIFY, 0, x + kCheckPartSize, y,
                      kCheckLabelWidth, kCheckPartSize) == nullptr) {
        DeleteControl(check->imagePartId);
        return 0;
    }
    check->labelPartId = label->id;
    // The label part stands for the whole control: it takes the focus.
    SetWindowLongW(label->handle, GWL_STYLE, GetWindowLongW(label->handle, GWL_STYLE) | WS_TABSTOP);
    label->pressable = true;
    KeepAccessKey(*label, text);
    ExposeDrawnControl(label->handle, Spoken(text).c_str(), DrawnRole::CheckButton, check);
    return check->imagePartId;
}

void UiWindow::ApplyCheck(ControlEntry& entry, uint32_t check)
{
    if (entry.kind == ControlKind::CheckBox) {
        WPARAM value = check == StateFlags::Check     ? BST_CHECKED
                       : check == StateFlags::Uncheck ? BST_UNCHECKED
                                                      : BST_INDETERMINATE;
        SendMessageW(entry.handle, BM_SETCHECK, value, 0);
        return;
    }
    if (entry.kind != ControlKind::CheckControl || check == StateFlags::Indeterminate)
        return;
    CheckControlData& data = *entry.check;
    ControlEntry* image = Entry(data.imagePartId);
    if (image == nullptr)
        return;
    HBITMAP bitmap = check == StateFlags::Check ? data.checkedBitmap : data.uncheckedBitmap;
    ClearStaticImage(image->handle, data.checkedBitmap, data.uncheckedBitmap);
    SendMessageW(image->handle, STM_SETIMAGE, IMAGE_BITMAP, reinterpret_cast<LPARAM>(bitmap));
    RECT behind{image->x, image->y, image->x + image->width, image->y + image->height};
    InvalidateRect(window_, &behind, TRUE);
    data.state = check;
}

uint32_t UiWindow::SetState(int32_t id, uint32_t flags)
{
    ControlEntry* entry = Entry(id);
    if (entry == nullptr)
        return 0;
    id = entry->id;
    StateRequest request = ResolveStateFlags(flags);

    // A two-part check control acts on both parts; its focus goes to the label.
    HWND parts[2] = {entry->handle, nullptr};
    HWND focusTarget = entry->handle;
    if (entry->kind == ControlKind::CheckControl) {
        const ControlEntry* image = Entry(entry->check->imagePartId);
        const ControlEntry* label = Entry(entry->check->labelPartId);
        parts[0] = image != nullptr ? image->handle : nullptr;
        parts[1] = label != nullptr ? label->handle : nullptr;
        focusTarget = parts[1] != nullptr ? parts[1] : parts[0];
    }
    for (HWND part : parts) {
        if (part == nullptr)
            continue;
        if (request.visibility != 0)
            ShowWindow(part, request.visibility == StateFlags::Hide ? SW_HIDE : SW_SHOW);
        if (request.enabling != 0)
            EnableWindow(part, request.enabling == StateFlags::Enable);
    }
    if (request.check != 0)
        ApplyCheck(*entry, request.check);
    if (request.focus == StateFlags::Focus)
        SetFocus(focusTarget);
    else if (request.focus == StateFlags::Defocus)
        SetFocus(window_);
    return GetState(id);
}

uint32_t UiWindow::GetState(int32_t id)
{
    ControlEntry* entry = Entry(id);
    if (entry == nullptr)
        return 0;
    HWND handle = entry->handle;
    HWND focusable = handle;
    if (entry->kind == ControlKind::CheckControl) {
        if (const ControlEntry* label = Entry(entry->check->labelPartId))
            focusable = label->handle;
    }

    // The control's own visibility, whether or not its window is shown yet.
    uint32_t state = (GetWindowLongW(handle, GWL_STYLE) & WS_VISIBLE) ? StateFlags::Show : StateFlags::Hide;
    if (entry->kind == ControlKind::CheckBox) {
        LRESULT check = SendMessageW(handle, BM_GETCHECK, 0, 0);
        state |= check == BST_CHECKED     ? StateFlags::Check
                 : check == BST_UNCHECKED ? StateFlags::Uncheck
                                          : StateFlags::Indeterminate;
    } else if (entry->kind == ControlKind::CheckControl) {
        state |= entry->check->state;
    }
    state |= IsWindowEnabled(handle) ? StateFlags::Enable : StateFlags::Disable;
    state |= GetFocus() == focusable ? StateFlags::Focus : StateFlags::Defocus;
    return state;
}

bool UiWindow::SetText(int32_t id, const wchar_t* text)
{
    ControlEntry* entry = Entry(id);
    if (entry == nullptr)
        return false;
    if (entry->kind == ControlKind::DropDownList) {
        FillDropDown(entry->handle, text);
        SendMessageW(entry->handle, CB_SETCURSEL, static_cast<WPARAM>(-1), 0);
        return true;
    }
    HWND target = entry->handle;
    if (entry->kind == ControlKind::CheckControl) {
        const ControlEntry* label = Entry(entry->check->labelPartId);
        if (label == nullptr)
            return false;
        target = label->handle;
    }
    SendMessageW(target, WM_SETTEXT, 0, reinterpret_cast<LPARAM>(text != nullptr ? text : L""));
    if (entry->autoWidth) {
        SIZE extent = TextExtent(target, entry->font.Get(), text != nullptr ? text : L"");
        entry->width = extent.cx + 10;
        entry->height = extent.cy + 2;
        SetWindowPos(target, nullptr, 0, 0, entry->width, entry->height,
                     SWP_NOMOVE | SWP_NOZORDER | SWP_NOACTIVATE);
    }
    return true;
}

WString UiWindow::GetText(int32_t id)
{
    WString text;
    ControlEntry* entry = Entry(id);
    if (entry == nullptr) {
        text.SetValid(false);
        return text;
    }
    if (entry->kind == ControlKind::DropDownList) {
        LRESULT selected = SendMessageW(entry->handle, CB_GETCURSEL, 0, 0);
        LRESULT length = selected == CB_ERR ? CB_ERR : SendMessageW(entry->handle, CB_GETLBTEXTLEN, selected, 0);
        if (length == CB_ERR) {
            text.Assign(L"");
            return text;
        }
        if (wchar_t* buffer = text.GetBuffer(static_cast<uint32_t>(length), nullptr, true))
            SendMessageW(entry->handle, CB_GETLBTEXT, selected, reinterpret_cast<LPARAM>(buffer));
        return text;
    }
    HWND source = entry->handle;
    if (entry->kind == ControlKind::CheckControl) {
        if (const ControlEntry* label = Entry(entry->check->labelPartId))
            source = label->handle;
    }
    auto length = static_cast<uint32_t>(SendMessageW(source, WM_GETTEXTLENGTH, 0, 0));
    if (wchar_t* buffer = text.GetBuffer(length, nullptr, true))
        SendMessageW(source, WM_GETTEXT, length + 1, reinterpret_cast<LPARAM>(buffer));
    return text;
}

bool UiWindow::SetFont(int32_t id, double size, int weight, uint32_t attributes, const wchar_t* faceName)
{
    if (faceName == nullptr || *faceName == L'\0')
        faceName = faceName_;
    if (id == 0) {
        fontSize_ = size;
        fontWeight_ = weight;
        fontAttributes_ = attributes;
        if (faceName != faceName_)
            wcsncpy_s(faceName_, faceName, _TRUNCATE);
        return true;
    }
    ControlEntry* entry = Entry(id);
    if (entry == nullptr)
        return false;
    FontRequest request{size, weight, attributes, {}};
    wcsncpy_s(request.faceName, faceName, _TRUNCATE);
    UniqueFont font = MakeFont(request);
    if (!font)
        return false;
    SendMessageW(entry->handle, WM_SETFONT, reinterpret_cast<WPARAM>(font.Get()), TRUE);
    entry->font = std::move(font);   // the old font goes only after the control has let go of it
    entry->fontRequest = request;
    if (entry->autoWidth)
        SetText(entry->id, GetText(entry->id).Text());
    return true;
}

bool UiWindow::SetColour(int32_t id, int32_t textColour, int32_t backgroundColour)
{
    if (id == 0) {
        textColour_ = textColour;
        backgroundColour_ = backgroundColour;
        return true;
    }
    ControlEntry* entry = Entry(id);
    if (entry == nullptr)
        return false;
    entry->textColour = textColour;
    entry->backgroundColour = backgroundColour;
    entry->backgroundBrush.Reset(backgroundColour >= 0 ? CreateSolidBrush(static_cast<COLORREF>(backgroundColour))
                                                       : nullptr);
    InvalidateRect(entry->handle, nullptr, TRUE);
    return true;
}

bool UiWindow::SetTip(int32_t id, const wchar_t* text)
{
    ControlEntry* entry = Entry(id);
    if (entry == nullptr)
        return false;
    if (!tooltip_) {
        tooltip_.Reset(CreateWindowExW(WS_EX_TOPMOST, TOOLTIPS_CLASSW, nullptr,
                                       WS_POPUP | TTS_ALWAYSTIP | TTS_NOPREFIX, CW_USEDEFAULT, CW_USEDEFAULT,
                                       CW_USEDEFAULT, CW_USEDEFAULT, window_, nullptr, module_, nullptr));
        if (!tooltip_)
            return false;
        SendMessageW(tooltip_.Get(), TTM_SETMAXTIPWIDTH, 0, Scale(kTipWidth));
    }
    HWND target = entry->handle;
    if (entry->kind == ControlKind::CheckControl) {
        if (const ControlEntry* label = Entry(entry->check->labelPartId))
            target = label->handle;
    }
    TOOLINFOW tool{};
    tool.cbSize = sizeof(tool);
    tool.uFlags = TTF_IDISHWND | TTF_SUBCLASS;
    tool.hwnd = window_;
    tool.uId = reinterpret_cast<UINT_PTR>(target);
    tool.lpszText = const_cast<wchar_t*>(text != nullptr ? text : L"");
    TOOLINFOW existing = tool;
    existing.lpszText = nullptr;
    bool known = SendMessageW(tooltip_.Get(), TTM_GETTOOLINFOW, 0, reinterpret_cast<LPARAM>(&existing)) != 0;
    UINT message = known ? TTM_UPDATETIPTEXTW : TTM_ADDTOOLW;
    return SendMessageW(tooltip_.Get(), message, 0, reinterpret_cast<LPARAM>(&tool)) != 0 || known;
}

bool UiWindow::MakePressable(int32_t id, const wchar_t* name, DrawnRole role)
{
    ControlEntry* entry = Entry(id);
    if (entry == nullptr || !ExposeDrawnControl(entry->handle, Spoken(name).c_str(), role))
        return false;
    LONG style = GetWindowLongW(entry->handle, GWL_STYLE) | WS_TABSTOP;
    if (entry->kind == ControlKind::Label && AccessKeyOf(name) != 0) {
        style &= ~SS_NOPREFIX;
        KeepAccessKey(*entry, name);
    } else {
        entry->accessKey = AccessKeyOf(name);
    }
    SetWindowLongW(entry->handle, GWL_STYLE, style);
    if (entry->kind == ControlKind::Link) {
        // The link presses itself on Enter; its text has no "&" of its own
        // to show, so the key is marked under its letter while keys show.
        MarkAccessKey(entry->handle, AccessMarkOf(name));
        return true;
    }
    entry->pressable = true;
    return true;
}

void UiWindow::ReleaseControl(ControlEntry& entry)
{
    if (entry.id == 0)
        return;
    if (tooltip_) {
        TOOLINFOW tool{};
        tool.cbSize = sizeof(tool);
        tool.hwnd = window_;
        tool.uId = reinterpret_cast<UINT_PTR>(entry.handle);
        SendMessageW(tooltip_.Get(), TTM_DELTOOLW, 0, reinterpret_cast<LPARAM>(&tool));
    }
    if (entry.kind == ControlKind::Picture)
        ClearStaticImage(entry.handle, entry.bitmap.Get());
    else if (entry.kind == ControlKind::CheckControl)
        ClearStaticImage(entry.handle, entry.check->checkedBitmap, entry.check->uncheckedBitmap);
    if (IsWindow(entry.handle))
        DestroyWindow(entry.handle);
    entry = ControlEntry{};   // the font, brush, images and extra data go with it
}

bool UiWindow::DeleteControl(int32_t id)
{
    ControlEntry* entry = Entry(id);
    if (entry == nullptr)
        return false;
    if (entry->kind == ControlKind::CheckControl) {
        std::shared_ptr<CheckControlData> check = entry->check;
        for (int32_t part : {check->labelPartId, check->imagePartId}) {
            if (ControlEntry* member = Entry(part))
                ReleaseControl(*member);
        }
        return true;
    }
    ReleaseControl(*entry);
    return true;
}

bool UiWindow::SetButtonImage(int32_t buttonId, HBITMAP bitmap, int width, int height)
{
    ControlEntry* button = Entry(buttonId);
    if (button == nullptr || button->kind != ControlKind::PushButton || bitmap == nullptr)
        return false;
    UniqueResource<ImageListTraits> images(ImageList_Create(width, height, ILC_COLOR32, 1, 1));
    if (!images || ImageList_Add(images.Get(), bitmap, nullptr) < 0)
        return false;
    BUTTON_IMAGELIST attach{};
    attach.himl = images.Get();
    attach.margin = RECT{4, 0, 0, 0};
    attach.uAlign = BUTTON_IMAGELIST_ALIGN_LEFT;
    if (!SendMessageW(button->handle, BCM_SETIMAGELIST, 0, reinterpret_cast<LPARAM>(&attach)))
        return false;
    button->images = std::move(images);   // the old list goes only after the button has let go of it
    InvalidateRect(button->handle, nullptr, TRUE);
    return true;
}

bool UiWindow::SetPictureBitmap(int32_t pictureId, UniqueBitmap bitmap)
{
    ControlEntry* picture = Entry(pictureId);
    if (picture == nullptr || picture->kind != ControlKind::Picture || !bitmap)
        return false;
    ClearStaticImage(picture->handle, picture->bitmap.Get());
    picture->pictureSource = nullptr;   // a bitmap set by hand has no source to be drawn from again
    picture->bitmap = std::move(bitmap);
    SendMessageW(picture->handle, STM_SETIMAGE, IMAGE_BITMAP, reinterpret_cast<LPARAM>(picture->bitmap.Get()));
    InvalidateRect(picture->handle, nullptr, TRUE);
    return true;
}

bool UiWindow::SetPictureSource(int32_t pictureId, PictureSource source)
{
    if (!source || !SetPictureBitmap(pictureId, source(*this)))
        return false;
    Entry(pictureId)->pictureSource = std::move(source);
    return true;
}

void UiWindow::SetRedraw(bool on) { SendMessageW(window_, WM_SETREDRAW, on ? TRUE : FALSE, 0); }

LockRecord UiWindow::LockControls(int32_t firstId, int32_t lastId, int32_t exceptId)
{
    LockRecord record;
    LockRange range = ClampLockRange(firstId, lastId, LastControlId());
    if (range.empty || window_ == nullptr)
        return record;
    record.firstId = range.first;
    record.wasEnabled.assign(static_cast<size_t>(range.last - range.first + 1), 0);
    KeepFocus();   // a disabled control may lose the keyboard for good

    bool visible = IsWindowVisible(window_) != FALSE;
    if (visible)
        SetRedraw(false);
    for (int32_t id = range.first; id <= range.last; ++id) {
        const ControlEntry* entry = Entry(id);
        if (entry == nullptr || entry->kind == ControlKind::None || entry->kind == ControlKind::Label ||
            id == exceptId)
            continue;
        if (GetState(id) & StateFlags::Enable) {
            record.wasEnabled[static_cast<size_t>(id - range.first)] = 1;
            SetState(id, StateFlags::Disable);
        }
    }
    if (visible)
        SetRedraw(true);
    RedrawWindow(window_, nullptr, nullptr, RDW_ERASE | RDW_FRAME | RDW_INVALIDATE | RDW_ALLCHILDREN);
    return record;
}

int UiWindow::UnlockControls(const LockRecord& record, int32_t exceptId, ControlKind exceptKind)
{
    if (window_ == nullptr || record.wasEnabled.empty())
        return 0;
    bool visible = IsWindowVisible(window_) != FALSE;
    if (visible)
        SetRedraw(false);
    int enabled = 0;
    for (size_t i = 0; i < record.wasEnabled.size(); ++i) {
        auto id = static_cast<int32_t>(record.firstId + static_cast<int32_t>(i));
        const ControlEntry* entry = Entry(id);
        if (!record.wasEnabled[i] || id == exceptId || entry == nullptr || entry->kind == ControlKind::None ||
            entry->kind == exceptKind)
            continue;
        SetState(id, StateFlags::Enable);
        ++enabled;
    }
    if (visible)
        SetRedraw(true);
    RedrawWindow(window_, nullptr, nullptr, RDW_ERASE | RDW_FRAME | RDW_INVALIDATE | RDW_ALLCHILDREN);
    RestoreFocus();
    return enabled;
}
