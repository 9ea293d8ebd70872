#include "repair/repair_tool.h"

#include <windows.h>
#include <lm.h>
#include <shellapi.h>
#include <shlobj.h>

#include "accounts/account_list.h"
#include "accounts/lookup.h"
#include "platform/machine.h"
#include "platform/security.h"
#include "platform/system.h"
#include "platform/text_win.h"
#include "repair/cleanup.h"
#include "repair/fix_session.h"
#include "repair/repair_log.h"
#include "resources/resource_ids.h"
#include "ui/drawing.h"
#include "ui/worker.h"

const wchar_t kBrenwickHomePage[] = L"https://vantrell.invalid/";
const wchar_t kBrenwickHelpPage[] = L"https://vantrell.invalid/brenwick/help/";

namespace {

constexpr int kNotElevated = -4;   // the exit code of the relaunch, which the process entry does
constexpr int kWidth = 700;
constexpr int kHeight = 500;
constexpr int kHeaderHeight = 80;
constexpr int kCheckImageSize = 18;
constexpr DWORD kWakeInterval = 20;
constexpr wchar_t kBlockReason[] = L"Brenwick is working. Please cancel shutdown.";

DWORD WINAPI WakeUpThread(void* window)
{
    HWND target = static_cast<HWND>(window);
    while (IsWindow(target)) {
        PostMessageW(target, WM_NULL, 0, 0);
        Sleep(kWakeInterval);
    }
    return 0;
}

// White body, black header.
UniqueImage PaintFrame()
{
    UniqueImage frame = NewBitmap(kWidth, kHeight);
    if (!frame || !FillRoundRect(frame.Get(), 0, 0, kWidth, kHeight, kWindowBackgroundArgb, 0) ||
        !FillRoundRect(frame.Get(), 0, 0, kWidth, kHeaderHeight, kOpaqueBlack, 0))
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
    if (tool.CreateUiWindow(tool.className, tool.title, kWidth, kHeight, -1, -1, -1, -1, nullptr) == nullptr)
        return false;
    tool.headerImage = PaintFrame();
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
    tool.AddLabel(L"", 0, 0, kWidth, kHeaderHeight, -1);
    tool.SetNextBehaviour(0);
    tool.SetState(-1, StateFlags::Disable);

    HICON logo = static_cast<HICON>(LoadImageW(tool.instance, MAKEINTRESOURCEW(IDI_REPAIR), IMAGE_ICON, 64, 64, 0));
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

    tool.tickImage = DrawCheckImage(true, kCheckImageSize);
    tool.boxImage = DrawCheckImage(false, kCheckImageSize);

    StartWakeUps(tool.Handle());
    return true;
}

bool StartWakeUps(HWND window)
{
    UniqueHandle wake(CreateThread(nullptr, 0, WakeUpThread, window, 0, nullptr));
    return static_cast<bool>(wake);
}

UniqueBitmap DrawCheckImage(bool ticked, int size)
{
    if (size < 8)
        return UniqueBitmap();
    // The box and tick are drawn for 18 pixels and scaled to the size asked.
    const float scale = static_cast<float>(size) / kCheckImageSize;
    UniqueImage image = NewBitmap(size, size);
    int inset = static_cast<int>(scale + 0.5f);
    if (!image || !FillRoundRect(image.Get(), 0, 0, size, size, kOpaqueWhite, 0) ||
        !OutlineRoundRect(image.Get(), inset, inset, size - 2 * inset, size - 2 * inset, kOpaqueBlack, 0,
                          2.0f * scale))
        return UniqueBitmap();
    if (ticked) {
        UniqueGraphics graphics;
        UniquePen pen;
        if (Gdiplus::DllExports::GdipGetImageGraphicsContext(image.Get(), graphics.Put()) == Gdiplus::Ok &&
            Gdiplus::DllExports::GdipCreatePen1(0xFF008000, 2.5f * scale, Gdiplus::UnitPixel, pen.Put()) ==
                Gdiplus::Ok) {
            Gdiplus::DllExports::GdipSetSmoothingMode(graphics.Get(), Gdiplus::SmoothingModeAntiAlias);
            Gdiplus::GpPointF points[3] = {
                {4.0f * scale, 9.0f * scale}, {7.5f * scale, 13.0f * scale}, {14.0f * scale, 4.5f * scale}};
            Gdiplus::DllExports::GdipDrawLines(graphics.Get(), pen.Get(), points, 3);
        }
    }
    return ToGdiBitmap(image.Get(), kOpaqueWhite);
}

namespace {

int RefuseOrRun(RepairTool& tool, const RepairCommand& command)
{
    tool.fixFlags = command.fixFlags;
    tool.fixAccount.Assign(command.fixAccount.Text());
    return command.showCommand;
}

bool BringOpenToolForward(const RepairTool& tool)
{
    for (const wchar_t* suffix : {L" - Fix User Profile", L" - Setup"}) {
        WString caption(tool.title);
        caption.Append(suffix);
        HWND found = FindWindowW(tool.className, caption.Text());
        if (found == nullptr)
            continue;
        // A hidden window is a silent fix run: restoring it would show what
        // was meant to stay hidden, so this start opens its own window.
        if (!IsWindowVisible(found))
            return false;
        ShowWindow(found, SW_RESTORE);
        SetForegroundWindow(found);
        return true;
    }
    return false;
}

}  // namespace

RepairTool::RepairTool() : osVersion(GetOsVersionNumber())
{
    buttonIconMode = osVersion < 5.9 ? 0 : -1;
    for (WString* text : {&fixAccount, &consoleUserName, &consoleUserSid, &consoleUserProfile, &modulePath,
                          &toolFolder, &logPath})
        text->Assign(L"");
}

RepairTool::~RepairTool() = default;

int32_t RepairTool::NextRepairEvent(int mode)
{
    int32_t result = PumpEvents(*this, mode & 1);
    int32_t event = result;
    if (Event().window == this || result == EventCode::EndSession) {
        if (event == closeButton && closeButton > 0) {
            event = EventCode::Close;
        } else if (event == EventCode::EndSession) {
            if (mode & 2)
                SetShutdownBlockReason(Handle(), kBlockReason);
            else
                event = EventCode::Close;
        } else if (event == minimiseButton && minimiseButton > 0) {
            ShowWindow(Handle(), SW_MINIMIZE);
            UpdateWindow(Handle());
        } else if (event == homeLink && homeLink > 0) {
            OpenPage(kBrenwickHomePage);
        } else if (event == helpLink && helpLink > 0) {
            OpenPage(kBrenwickHelpPage);
        }
    }
    lastEvent_ = event;
    return (mode & 1) ? result : 1;
}

void RepairTool::DrainEvents(bool busy)
{
    MSG waiting;
    for (int i = 0; i < 1000 && PeekMessageW(&waiting, nullptr, 0, 0, PM_NOREMOVE); ++i)
        NextRepairEvent(busy ? 3 : 1);
}

WString RepairTool::StatePath() const
{
    WString path(toolFolder.Text());
    path.Append(kStateFileName);
    return path;
}

WString RepairTool::ToolExePath() const
{
    WString path(toolFolder.Text());
    path.Append(kToolExeName);
    return path;
}

int RepairTool::WriteLogEntry(const wchar_t* text, uint32_t flags)
{
    return ::WriteLogEntry(logPath.Text(), text, flags);
}

int RunRepairTool(RepairTool& tool, HINSTANCE instance, const wchar_t* commandLine, int showCommand)
{
    const wchar_t* received = commandLine != nullptr ? commandLine : L"";
    tool.modulePath = ModulePath();

    // The process entry relaunches the tool elevated, once; started here
    // without elevation anyway, the tool does nothing.
    if (!IsElevatedAdministrator())
        return kNotElevated;
    EnablePrivileges();
    tool.instance = instance;
    tool.consoleUserToken = FindConsoleUser(tool.consoleUserName, &tool.consoleUserProfile, &tool.consoleUserSid);

    WString windows;
    FromFolderPath(windows, CSIDL_WINDOWS, nullptr, SHGFP_TYPE_CURRENT);
    if (windows.Length() >= 2)
        tool.toolFolder.AssignSubstring(windows.Text(), 1, 2);
    tool.toolFolder.Append(kToolFolderName);
    tool.logPath.Assign(tool.toolFolder.Text());
    tool.logPath.Append(kLogFileName);

    if (EqualsNoCase(tool.consoleUserName.Text(), kTempAccountName)) {
        UniqueNetBuffer info;
        tool.inTempAccount = machine::NetUserGetInfo(nullptr, tool.consoleUserName.Text(), 11,
                                                     reinterpret_cast<LPBYTE*>(info.Put())) == NERR_Success &&
                             info && static_cast<const USER_INFO_11*>(info.Get())->usri11_priv == USER_PRIV_ADMIN;
    }

    int count = 0;
    UniqueResource<LocalMemoryTraits<LPWSTR*>> arguments(CommandLineToArgvW(received, &count));
    RepairCommandInput input;
    input.inTempAccount = tool.inTempAccount;
    input.consoleUserName = tool.consoleUserName.Text();
    input.showCommand = showCommand;
    RepairCommand command = ParseRepairArguments(arguments ? count : 0, arguments.Get(), input);
    if (command.action == RepairCommandAction::Cleanup) {
        CleanupInput cleanup;
        cleanup.consoleUserName = tool.consoleUserName.Text();
        cleanup.osVersion = tool.osVersion;
        cleanup.toolFolder = tool.toolFolder.Text();
        cleanup.logPath = tool.logPath.Text();
        cleanup.inTempAccount = command.inTempAccount;
        return RunCleanup(cleanup);
    }
    if (command.action == RepairCommandAction::Refused)
        return command.result;
    int show = RefuseOrRun(tool, command);

    if (BringOpenToolForward(tool))
        return 0;
    if (!BuildRepairFrame(tool))
        return 0;
    int result = !tool.fixAccount.IsEmpty() ? RunFixSession(tool, show) : RunRepairWizard(tool);
    tool.headerImage.Reset();
    return result;
}
