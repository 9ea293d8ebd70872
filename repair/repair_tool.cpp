#include "repair/repair_tool.h"

#include "platform/machine.h"
#include "platform/system.h"
#include "repair/repair_log.h"
#include "resources/resource_ids.h"
#include "ui/dialog.h"
#include "ui/drawing.h"

const wchar_t kBrenwickHomePage[] = L"https://vantrell.invalid/";
const wchar_t kBrenwickHelpPage[] = L"https://vantrell.invalid/brenwick/help/";
const wchar_t kBrenwickBlockReason[] = L"Brenwick is working. Please cancel shutdown.";

namespace {

constexpr int kToolWidth = 700;
constexpr int kToolHeight = 500;
constexpr int kHeaderHeight = 80;
constexpr int kCheckImageSize = 18;
// Popup, caption, system menu and minimise box; the caption goes once the
// window exists (see BuildRepairFrame).
constexpr LONG kFrameStyle = static_cast<LONG>(WS_POPUP | WS_CAPTION | WS_SYSMENU | WS_MINIMIZEBOX);

// White body, black header.
UniqueImage PaintFrame(int dpi)
{
    UniqueImage frame = NewCanvas(kToolWidth, kToolHeight, dpi);
    if (!frame || !FillRoundRect(frame.Get(), 0, 0, kToolWidth, kToolHeight, kWindowBackgroundArgb, 0) ||
        !FillRoundRect(frame.Get(), 0, 0, kToolWidth, kHeaderHeight, kOpaqueBlack, 0))
        return UniqueImage();
    return frame;
}

void AddHeaderLink(RepairTool& tool, int32_t* id, const wchar_t* text, int x, int y, int width, const wchar_t* tip)
{
    *id = tool.AddLink(text, x, y, width, 18);
    tool.SetTip(*id, tip);
    if (const ControlEntry* control = tool.Control(*id)) {
        SetWindowLongW(control->handle, GWL_STYLE, GetWindowLongW(control->handle, GWL_STYLE) | LWS_TRANSPARENT);
        LITEM item{};
        item.mask = LIF_ITEMINDEX | LIF_STATE;
        item.stateMask = LIS_DEFAULTCOLORS;
        SendMessageW(control->handle, LM_SETITEM, 0, reinterpret_cast<LPARAM>(&item));
    }
}

}  // namespace

bool BuildRepairFrame(RepairTool& tool)
{
    HWND window = tool.CreateUiWindow(tool.className, tool.title, kToolWidth, kToolHeight, -1, -1, kFrameStyle, -1, nullptr);
    if (window == nullptr)
        return false;
    // The caption keeps the window's taskbar button and minimising; the
    // drawn header is the title bar, so the frame gives its room to the client.
    SetWindowLongW(window, GWL_STYLE, GetWindowLongW(window, GWL_STYLE) & ~WS_CAPTION);
    SetWindowPos(window, nullptr, 0, 0, tool.Scale(kToolWidth), tool.Scale(kToolHeight), SWP_NOMOVE | SWP_NOZORDER | SWP_NOACTIVATE | SWP_FRAMECHANGED);
    CentreWindow(window, nullptr);
    tool.headerImage = PaintFrame(tool.Dpi());
    if (tool.headerImage)
        SetWindowBackgroundImage(tool, tool.headerImage.Get());

    HICON big = static_cast<HICON>(LoadImageW(tool.instance, MAKEINTRESOURCEW(IDI_REPAIR), IMAGE_ICON,
                                              GetSystemMetrics(SM_CXICON), GetSystemMetrics(SM_CXICON), 0));
    HICON small = static_cast<HICON>(LoadImageW(tool.instance, MAKEINTRESOURCEW(IDI_REPAIR), IMAGE_ICON,
                                                GetSystemMetrics(SM_CXSMICON), GetSystemMetrics(SM_CXSMICON), 0));
    // The window keeps the icons it is given until it goes; then they go too.
    if (big != nullptr)
        SendMessageW(tool.Handle(), WM_SETICON, ICON_BIG, reinterpret_cast<LPARAM>(big));
    if (small != nullptr)
        SendMessageW(tool.Handle(), WM_SETICON, ICON_SMALL, reinterpret_cast<LPARAM>(small));

    // The header moves the window; disabled, it lets clicks through to
    // the controls on it.
    tool.SetNextBehaviour(Behaviour::DragHandle);
    tool.AddLabel(L"", 0, 0, kToolWidth, kHeaderHeight, -1);
    tool.SetNextBehaviour(0);
    tool.SetState(ControlId::Last, StateFlags::Disable);

    HICON logo = static_cast<HICON>(LoadImageW(tool.instance, MAKEINTRESOURCEW(IDI_REPAIR), IMAGE_ICON, tool.Scale(64),
                                            tool.Scale(64), 0));
    if (logo != nullptr)
        tool.AddIcon(logo, 8, 8, 64, 64);

    tool.headerLabel = tool.AddLabel(L"", 90, 14, 450, 28, -1);
    tool.SetFont(tool.headerLabel, 14.0, 800, 0, L"Arial");
    tool.SetColour(tool.headerLabel, RGB(255, 255, 255), -1);
    tool.minimiseButton = AddMinimiseButton(tool, 640, 5, 20, 20, kOpaqueWhite, tool.headerImage.Get());
    tool.closeButton = AddCloseButton(tool, 670, 5, 20, 20, kOpaqueWhite, tool.headerImage.Get());

    tool.SetFont(0, 11.0, 800, 0, L"Arial");
    AddHeaderLink(tool, &tool.homeLink, L"<a>By the Vantrell team</a>", 90, 50, 200,
                  L"Visit our website");
    AddHeaderLink(tool, &tool.helpLink, L"<a>Online help</a>", 600, 50, 100, L"Go to the online help page now");

    tool.tickImage = DrawCheckImage(true, tool.Scale(kCheckImageSize));
    tool.boxImage = DrawCheckImage(false, tool.Scale(kCheckImageSize));
    return true;
}

RepairTool::RepairTool()
{
    site.osVersion = GetOsVersionNumber();
    for (WString* text : {&fixAccount, &consoleUserName, &consoleUserSid, &consoleUserProfile})
        text->Assign(L"");
}

RepairTool::~RepairTool() = default;

int32_t RepairTool::NextRepairEvent(PumpMode mode)
{
    if (mode != PumpMode::IfAny) {
        WaitRepairEvent(INFINITE);
        return 1;
    }
    lastEvent_ = FilterDialogEvent(*this, *this, PumpMode::IfAny);
    return lastEvent_;
}

int32_t RepairTool::WaitRepairEvent(DWORD timeoutMs)
{
    MSG waiting;
    // Looking serves the messages other threads send, whose events a wait in
    // GetMessageW would sit on until something is posted.
    if (!Event().pending && !PeekMessageW(&waiting, nullptr, 0, 0, PM_NOREMOVE)) {
        DWORD woke = MsgWaitForMultipleObjectsEx(0, nullptr, timeoutMs, QS_ALLINPUT, MWMO_INPUTAVAILABLE);
        // The time, or a message sent from another thread that the look
        // below serves: no event for the loop.
        if (woke != WAIT_OBJECT_0 || !PeekMessageW(&waiting, nullptr, 0, 0, PM_NOREMOVE)) {
            lastEvent_ = EventCode::None;
            return EventCode::None;
        }
    }
    lastEvent_ = FilterDialogEvent(*this, *this);
    return lastEvent_;
}

void RepairTool::Lock()
{
    if (!locked_.wasEnabled.empty())
        Unlock();
    locked_ = LockControls(helpLink + 1, LastControlId(), -1);
}

void RepairTool::Unlock()
{
    UnlockControls(locked_, -1, ControlKind::None);
    locked_ = LockRecord{};
}

DialogHeader RepairTool::Header() const
{
    DialogHeader header;
    header.closeButton = closeButton;
    header.minimiseButton = minimiseButton;
    header.helpLink = helpLink;
    header.versionLink = homeLink;
    header.helpPage = kBrenwickHelpPage;
    header.aboutPage = kBrenwickHomePage;
    return header;
}

int RepairTool::WriteLogEntry(const wchar_t* text, uint32_t flags)
{
    return ::WriteLogEntry(site.logPath.c_str(), text, flags);
}
