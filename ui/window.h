// The window toolkit: one top-level window with a table of the controls
// created on it, numbered events, and one call that waits for the next event.
#pragma once

#include <windows.h>
#include <commctrl.h>

#include <cstdint>
#include <functional>
#include <memory>
#include <vector>

#include "platform/handles.h"
#include "platform/images.h"
#include "platform/text.h"
#include "ui/accessible.h"
#include "ui/control_rules.h"
#include "ui/controls.h"
#include "ui/drawing_rules.h"
#include "ui/list_views.h"

struct UiEvent {
    int32_t code = EventCode::None;
    HWND handle = nullptr;
    UINT message = 0;
    WPARAM wParam = 0;
    LPARAM lParam = 0;
    UiWindow* window = nullptr;
    bool pending = false;
};

class UiWindow {
public:
    UiWindow();
    virtual ~UiWindow();
    UiWindow(const UiWindow&) = delete;
    UiWindow& operator=(const UiWindow&) = delete;

    // Style -1: caption, system menu and minimise box; extended style -1:
    // WS_EX_ACCEPTFILES. x = y = -1 centres the window over its parent or the
    // work area. The client size, like every position and size the window's
    // calls take, is in 96-DPI units. Returns the window or null.
    HWND CreateUiWindow(const wchar_t* className, const wchar_t* title, int clientWidth, int clientHeight,
                        int x, int y, LONG style, LONG exStyle, HWND parent);
    // False when there was no window.
    bool DestroyUiWindow();
    void ShowUiWindow(int showCommand);

    // Control creators: the new control's id, or 0. A style of
    // kDefaultStyle gives the kind's usual style.
    int32_t AddButton(const wchar_t* text, int x, int y, int width, int height, LONG style);
    int32_t AddCheckBox(const wchar_t* text, int x, int y, int width, int height);
    // An automatic radio button; its check state reads and sets like a check
    // box's. Radio buttons created one after another form one group.
    int32_t AddRadioButton(const wchar_t* text, int x, int y, int width, int height);
    int32_t AddCombo(const wchar_t* itemsText, int x, int y, int width, int selected);
    // A width of -1 sizes the label to its text.
    int32_t AddLabel(const wchar_t* text, int x, int y, int width, int height, LONG style);
    // A label that names the field created right after it: the "&" in its
    // text marks the access key that moves the keyboard to the field, and a
    // drop-down list after it is known to a screen reader by its words.
    int32_t AddFieldLabel(const wchar_t* text, int x, int y, int width, int height);
    int32_t AddEdit(const wchar_t* text, int x, int y, int width, LONG style);
    // The control takes ownership of the icon or bitmap.
    int32_t AddIcon(HICON icon, int x, int y, int width, int height);
    int32_t AddPicture(HBITMAP bitmap, int x, int y, int width, int height, LONG style);
    int32_t AddListView(const wchar_t* columnsText, int x, int y, int width, int height, LONG style, LONG exStyle);
    // The text marks the link part with <a> and </a>.
    int32_t AddLink(const wchar_t* text, int x, int y, int width, int height);
    // The bitmaps stay the caller's.
    int32_t AddCheckControl(const wchar_t* text, int x, int y, HBITMAP checkedBitmap, HBITMAP uncheckedBitmap);

    // ControlId::Last asks for the control created last. Both return 0 for an unknown id.
    uint32_t SetState(int32_t id, uint32_t flags);
    uint32_t GetState(int32_t id);

    bool SetText(int32_t id, const wchar_t* text);
    WString GetText(int32_t id);
    // Id 0 changes the defaults for the controls created next.
    bool SetFont(int32_t id, double size, int weight, uint32_t attributes, const wchar_t* faceName);
    bool SetColour(int32_t id, int32_t textColour, int32_t backgroundColour);
    bool SetTip(int32_t id, const wchar_t* text);
    // A picture or label that acts as a button or link becomes one for the
    // keyboard and for screen readers: a tab stop with a visible focus,
    // pressed by Enter and Space, known by `name` in `role`. An "&" in the
    // name marks its access key; a label then shows the name as its text.
    bool MakePressable(int32_t id, const wchar_t* name, DrawnRole role);
    bool DeleteControl(int32_t id);

    // List views.
    int AddListItem(int32_t listId, const wchar_t* rowText, const wchar_t* separator);
    int GetSelectedItem(int32_t listId);
    bool DeleteAllItems(int32_t listId);
    bool SetColumnWidth(int32_t listId, int column, int width);
    // What a screen reader calls the list, and the columns whose texts,
    // joined, name a row (none: every column).
    bool NameList(int32_t listId, const wchar_t* name, std::vector<int> columns = {});
    // Adds a picture to the list's image list (created on first use); the
    // image's index, or -1. The bitmap stays the caller's.
    int AddListImage(int32_t listId, HBITMAP bitmap, int size);
    // Puts an icon at `index`, or adds it when the index is -1; the image's
    // index or -1. The icon stays the caller's.
    int SetListIcon(int32_t listId, int index, HICON icon, int size);
    bool ReplaceListImage(int32_t listId, int index, HBITMAP bitmap);
    bool RemoveListImage(int32_t listId, int index);
    // Grows the image list with blank images, or drops those from `count` on.
    bool SetListImageCount(int32_t listId, int count);
    int ListImageCount(int32_t listId) const;
    bool SetItemImage(int32_t listId, int item, int imageIndex);
    // A picture control shows `bitmap` from now on; the control owns it and
    // releases the one it showed before.
    bool SetPictureBitmap(int32_t pictureId, UniqueBitmap bitmap);
    // A picture control shows what `source` draws, now and again whenever
    // the window's DPI changes: drawn from its source at the new scale,
    // never a small bitmap stretched. False when nothing was drawn.
    bool SetPictureSource(int32_t pictureId, PictureSource source);
    // A push button's picture, shown left of its text through an image list
    // that the button keeps. The bitmap stays the caller's.
    bool SetButtonImage(int32_t buttonId, HBITMAP bitmap, int width, int height);

    LockRecord LockControls(int32_t firstId, int32_t lastId, int32_t exceptId);
    int UnlockControls(const LockRecord& record, int32_t exceptId, ControlKind exceptKind);

    // Defaults for the controls created next.
    void SetNextBehaviour(uint32_t flags) { nextBehaviour_ = flags; }
    void StartNewGroup() { startGroup_ = true; }

    // The window keeps the picture and paints its background with it. In
    // high contrast the picture gives way to the system's window colour.
    bool SetBackgroundPicture(UniqueBitmap picture);
    // A high-contrast theme is on: the window and its controls show the
    // system's colours, not the program's own.
    bool HighContrast() const { return highContrast_; }
    // The colour (GDI) the window's background shows where no picture covers it.
    COLORREF BackgroundColour() const;
    void SetAccelerators(UniqueAccelerators accelerators) { accelerators_ = std::move(accelerators); }
    // Esc presses this control (0: none) unless the accelerators take it.
    void SetCancel(int32_t id) { cancelId_ = id; }
    int32_t CancelId() const { return cancelId_; }

    // Popups (boxes and tips) opened over this window: a new one takes the
    // first slot that is empty or whose window is gone. False when all
    // slots are taken; the popup is then not recorded.
    bool RecordPopup(HWND popup);
    uint32_t PopupCount() const { return popupCount_; }
    HWND Popup(uint32_t slot) const { return slot < kPopupSlots ? popups_[slot] : nullptr; }

    // From now on this window's events go to `owner`'s event record, so that
    // the owner's loop sees them; null gives the window its own record again.
    void SendEventsTo(UiWindow* owner) { sink_ = owner != nullptr ? &owner->Event() : &event_; }

    HWND Handle() const { return window_; }
    HINSTANCE Module() const { return module_; }
    // The window's DPI, and a length of 96-DPI units in its pixels.
    int Dpi() const { return dpi_; }
    int Scale(int length) const { return MulDiv(length, dpi_, kDesignDpi); }
    UiEvent& Event() { return *sink_; }
    const ControlEntry* Control(int32_t id) const;
    // The control's window, or null when there is no such control.
    HWND ControlHandle(int32_t id) const;
    int32_t LastControlId() const { return static_cast<int32_t>(controls_.empty() ? 0 : used_ - 1); }
    uint32_t ControlCapacity() const { return static_cast<uint32_t>(controls_.size()); }
    HACCEL Accelerators() const { return accelerators_.Get(); }
    bool RegisteredClass() const { return classAtom_ != 0 && !classExisted_; }
    POINT MousePosition() const { return mouse_; }

    // Looks a child up by its window handle; null unless it is one of ours.
    const ControlEntry* ControlFromHandle(HWND handle) const;

private:
    static LRESULT CALLBACK WindowProcedure(HWND window, UINT message, WPARAM wParam, LPARAM lParam,
                                            UINT_PTR subclassId, DWORD_PTR self);
    LRESULT HandleMessage(HWND window, UINT message, WPARAM wParam, LPARAM lParam, bool& handled);
    int32_t CommandEvent(WPARAM wParam, LPARAM lParam);
    int32_t NotifyEvent(LPARAM lParam);
    void Record(int32_t code, HWND handle, UINT message, WPARAM wParam, LPARAM lParam);
    LRESULT ControlColours(HDC dc, HWND control);
    // Alt with `key`: presses the control whose access key it is, or moves
    // to the field a label names; false when no usable control has it.
    bool UseAccessKey(wchar_t key);
    // The control's text marks its access key with "&" only while the
    // window shows the keys: the system's own controls do not all hide an
    // underline at the window's word, so the text itself carries none.
    void KeepAccessKey(ControlEntry& entry, const wchar_t* text);
    void ShowAccessKeys(bool shown);
    void LayOutControls(int width, int height);
    void SortListView(ControlEntry& list, int column);

    ControlEntry* Entry(int32_t id);
    ControlEntry* NewEntry();
    HWND CreateControl(ControlEntry& entry, const wchar_t* windowClass, const wchar_t* text, DWORD style,
                       DWORD exStyle, int x, int y, int width, int height);
    UniqueFont MakeFont(const FontRequest& request) const;
    FontRequest NextFont() const;
    // Moves, sizes and re-fonts every control for a new DPI; the window takes `frame`.
    void ApplyDpi(int dpi, const RECT& frame);
    void ApplyCheck(ControlEntry& entry, uint32_t check);
    void ReleaseControl(ControlEntry& entry);
    void SetRedraw(bool on);
    // The keyboard focus, when one of the window's controls has it, is
    // remembered so that the control gets it back once the window is active
    // and the control usable again, as the dialog manager does.
    void KeepFocus();
    void RestoreFocus();

    HINSTANCE module_ = nullptr;                 // not owned
    HWND window_ = nullptr;
    HWND parent_ = nullptr;                      // not owned
    ATOM classAtom_ = 0;
    bool classExisted_ = false;
    WString className_;
    std::vector<ControlEntry> controls_;
    uint32_t used_ = 0;                          // entries in use, entry 0 included

    int dpi_ = kDesignDpi;
    bool highContrast_ = false;
    bool accessKeysShown_ = false;               // since the operator pressed Alt
    double fontSize_ = 9.0;
    int fontWeight_ = 400;
    uint32_t fontAttributes_ = 0;
    wchar_t faceName_[32] = L"Arial";
    BYTE fontQuality_ = DEFAULT_QUALITY;
    int32_t textColour_ = -1;
    int32_t backgroundColour_ = -1;
    uint32_t nextBehaviour_ = 0;
    bool startGroup_ = false;

    UniqueBrush backgroundBrush_;
    UniqueBitmap backgroundPicture_;             // the pattern of backgroundBrush_, when there is one
    UniqueMemoryDc memoryDc_;
    RECT clientRect_{};
    UniqueAccelerators accelerators_;
    int32_t cancelId_ = 0;
    HWND focused_ = nullptr;                     // not owned: see KeepFocus
    UniqueMenu menu_;
    UniqueWindow tooltip_;
    UniqueIcon bigIcon_;
    UniqueIcon smallIcon_;
    UiEvent event_;
    UiEvent* sink_ = &event_;                    // not owned: where events are recorded
    HWND popups_[kPopupSlots] = {};              // not owned
    uint32_t popupCount_ = 0;
    POINT mouse_{};
    double osVersion_ = 10.0;
};

// Takes one message as `mode` says. A pending event is returned at once,
// except by PumpMode::Dispatch.
int32_t PumpEvents(UiWindow& window, PumpMode mode);

// Handles the messages that were waiting when it is called and drops the
// events they raise; true when one of them was a close request. What arrives
// meanwhile (the operator's input, messages sent by other threads) is left to
// the caller's loop with its event, so that a click on a window that has just
// appeared is never lost, however long the waiting messages take.
bool DrainWaitingEvents(UiWindow& window);

// The private message that a Close command becomes, reported as EventCode::Close.
constexpr UINT kCloseRequestMessage = 3246;
// The private message that marks the end of what DrainWaitingEvents handles.
constexpr UINT kDrainMarkerMessage = 3247;
// The private message that asks a window to use the access key in wParam;
// non-zero when it did.
constexpr UINT kAccessKeyMessage = 3248;
