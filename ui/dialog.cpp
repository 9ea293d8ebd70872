// The dialogs' shared frame and modal loop, and the common event filter.
#include "ui/dialog.h"

#include "platform/machine.h"
#include "platform/system.h"
#include "ui/drawing.h"

namespace {

constexpr int kBodyInset = 4;
constexpr int kFrameArc = 4;

bool IsHeaderControl(const DialogHeader& header, int32_t code)
{
    return code > 0 && (code == header.closeButton || code == header.minimiseButton || code == header.helpLink ||
                        code == header.versionLink);
}

}  // namespace

DialogLook OutlinedLook(int width, int height, int bodyWidth, int bodyHeight)
{
    DialogLook look;
    look.width = width;
    look.height = height;
    look.fills.push_back(DialogFill{0, 0, width, height, kOpaqueBlack, kFrameArc});
    look.fills.push_back(DialogFill{kBodyInset, kBodyInset, bodyWidth, bodyHeight, kOpaqueWhite, kFrameArc});
    return look;
}

bool PaintDialogLook(UiWindow& window, const DialogLook& look)
{
    UniqueImage background = NewCanvas(look.width, look.height, window.Dpi());
    if (!background)
        return false;
    for (const DialogFill& fill : look.fills) {
        if (!FillRoundRect(background.Get(), fill.x, fill.y, fill.width, fill.height, fill.colour, fill.arc))
            return false;
    }
    return SetWindowBackgroundImage(window, background.Get()) &&
           SetRoundedOutline(window.Handle(), window.Scale(look.width), window.Scale(look.height),
                             window.Scale(look.outlineArc));
}

int32_t FilterDialogEvent(DialogOwner& owner, UiWindow& dialog, PumpMode mode)
{
    int32_t code = PumpEvents(dialog, mode == PumpMode::IfAny ? PumpMode::IfAny : PumpMode::Wait);
    UiWindow& main = owner.OwnerWindow();
    const DialogHeader header = owner.Header();
    UiWindow* source = dialog.Event().window;
    // While a dialog runs, the owner's header stays usable and its clicks
    // land in the owner's own record.
    if (code == EventCode::None && &main != &dialog && main.Event().pending &&
        IsHeaderControl(header, main.Event().code)) {
        code = PumpEvents(main, PumpMode::IfAny);
        source = &main;
    }

    if (code == EventCode::EndSession) {
        if (owner.Busy()) {
            machine::AbortSystemShutdownW(nullptr);
            return EventCode::None;
        }
        return EventCode::Close;
    }
    if (source != &main || !IsHeaderControl(header, code))
        return code;
    if (code == header.closeButton)
        return EventCode::Close;
    if (code == header.minimiseButton) {
        ShowWindow(main.Handle(), SW_MINIMIZE);
        UpdateWindow(main.Handle());
    } else if (code == header.helpLink || code == header.versionLink) {
        OpenPage(code == header.helpLink ? header.helpPage : header.aboutPage);
        // The click activated the owner and raised it over its dialog, which
        // would then sit hidden behind it, unanswerable: bring it back up.
        if (&main != &dialog) {
            SetWindowPos(dialog.Handle(), HWND_TOP, 0, 0, 0, 0, SWP_NOMOVE | SWP_NOSIZE);
            SetForegroundWindow(dialog.Handle());
        }
    }
    // Handled for a dialog: the owner's id means nothing among the dialog's.
    return &main == &dialog ? code : EventCode::None;
}

UiDialog::~UiDialog() { Close(); }

bool UiDialog::Create(const DialogLook& look)
{
    UiWindow& main = owner_.OwnerWindow();
    if (CreateUiWindow(look.className, L"", look.width, look.height, -1, -1, static_cast<LONG>(WS_POPUP), 0,
                       main.Handle()) == nullptr)
        return false;
    SetFont(0, 9.0, 400, 0, L"Arial");
    PaintDialogLook(*this, look);
    CentreWindow(Handle(), main.Handle());
    main.RecordPopup(Handle());
    if (!active_) {
        previous_ = owner_.activeDialog_;
        owner_.activeDialog_ = this;
        active_ = true;
    }
    return true;
}

void UiDialog::Show(int32_t focus)
{
    ShowWindow(Handle(), SW_SHOW);
    UpdateWindow(Handle());
    if (focus != 0)
        SetState(focus, StateFlags::Focus);
}

int32_t UiDialog::NextEvent()
{
    int32_t code = FilterDialogEvent(owner_, *this);
    if (code == EventCode::Close || code == EventCode::QueueFailed)
        return EventCode::Close;
    if (owner_.activeDialog_ != this || Event().window != this)
        return EventCode::None;
    return code;
}

bool UiDialog::RunModal(const std::function<DialogStep(int32_t event)>& onEvent)
{
    for (;;) {
        const int32_t event = NextEvent();
        if (event == EventCode::Close)
            return false;
        if (event != EventCode::None && onEvent(event) == DialogStep::Done)
            return true;
    }
}

void UiDialog::Close()
{
    DestroyUiWindow();
    if (!active_)
        return;
    active_ = false;
    if (owner_.activeDialog_ == this)
        owner_.activeDialog_ = previous_;
    if (previous_ != nullptr)
        previous_->Event().pending = false;
    previous_ = nullptr;
}
