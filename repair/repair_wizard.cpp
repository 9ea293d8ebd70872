#include "repair/repair_wizard.h"

#include <windows.h>
#include <commctrl.h>
#include <lm.h>
#include <shlobj.h>

#include <algorithm>
#include <string>
#include <vector>

#include "accounts/account_lifecycle.h"
#include "accounts/account_list.h"
#include "accounts/lookup.h"
#include "accounts/pictures.h"
#include "platform/files.h"
#include "platform/machine.h"
#include "platform/text_win.h"
#include "repair/carry_limits.h"
#include "repair/profile_mend.h"
#include "repair/repair_rules.h"
#include "repair/repair_setup.h"
#include "repair/repair_tool.h"
#include "resources/resource_ids.h"
#include "ui/drawing.h"
#include "platform/images.h"
#include "ui/message_box.h"
#include "ui/worker.h"

namespace {

constexpr int kTileIconSize = 48;
constexpr uint32_t kMinimumUserId = 1000;
constexpr Gdiplus::ARGB kWizardSpinnerColour = 0xFF000000;
constexpr int32_t kWarningColour = 0x0000B0;   // COLORREF: a dark red
// The warnings sit between the account row and the options.
constexpr int kWarningsTop = 284;
constexpr int kOptionsTop = 318;
constexpr int kOptionsPitch = 28;

const wchar_t* const kTypeWords[] = {L"Guest ", L"Standard ", L"Administrator "};

struct Wizard {
    RepairTool& tool;
    RepairWizardIds ids;
    std::vector<int32_t> page1;
    std::vector<int32_t> page2;
    WString userName;
    int32_t warnings = 0;
    int32_t note = 0;
    int32_t caption = 0;
    int32_t spinner = 0;
    int32_t preparing = 0;
};

bool Listable(const AccountRecord& user)
{
    if ((user.flags & UF_ACCOUNTDISABLE) || user.rid < kMinimumUserId ||
        EqualsNoCase(user.name.c_str(), kTempAccountName) || EqualsNoCase(user.name.c_str(), L"defaultuser0"))
        return false;
    return true;
}

void AddUserRow(RepairTool& tool, int32_t listId, const AccountRecord& user)
{
    WString sid, profile;
    if (!GetAccountSidAndProfile(user.name.c_str(), sid, &profile))
        return;
    HWND list = tool.ControlHandle(listId);
    const wchar_t* title = !user.fullName.empty() ? user.fullName.c_str() : user.name.c_str();
    WString type(user.privilege <= 2 ? kTypeWords[user.privilege] : L"");
    type.Append(L"User Account");
    // No separator: a full name may hold any character.
    int row = tool.AddListItem(listId, title, L"");
    if (row < 0)
        return;
    SetListCellText(list, row, 1, user.name.c_str());
    SetListCellText(list, row, 2, type.Text());
    SetListCellText(list, row, 3, sid.Text());
    SetListCellText(list, row, 4, profile.Text());
    // The account's picture for its tile, or null: the default image stays.
    UniqueBitmap picture = LoadAccountPictureBitmap(user.name.c_str(), tool.site.osVersion, tool.Scale(kTileIconSize),
                                                    kWindowBackgroundArgb);
    int image = picture ? tool.AddListImage(listId, picture.Get(), kTileIconSize) : -1;
    tool.SetItemImage(listId, row, image >= 0 ? image : 0);
    SetListTileColumn(list, row, 2, tool.site.osVersion);
}

void SetStates(RepairTool& tool, const std::vector<int32_t>& ids, uint32_t flags)
{
    for (int32_t id : ids)
        tool.SetState(id, flags);
}

void ShowDiagnosis(Wizard& wizard);

void ShowPage(Wizard& wizard, bool second)
{
    RepairTool& tool = wizard.tool;
    SendMessageW(tool.Handle(), WM_SETREDRAW, FALSE, 0);
    SetStates(tool, second ? wizard.page1 : wizard.page2, StateFlags::Hide | StateFlags::Disable);
    SetStates(tool, second ? wizard.page2 : wizard.page1, StateFlags::Show | StateFlags::Enable);
    if (second && tool.site.osVersion < 6.2)
        tool.SetState(wizard.ids.storeOption, StateFlags::Disable);
    if (!second && tool.GetSelectedItem(wizard.ids.list) < 0)
        tool.SetState(wizard.ids.fixUserButton, StateFlags::Disable);
    if (!second)
        ShowDiagnosis(wizard);
    SendMessageW(tool.Handle(), WM_SETREDRAW, TRUE, 0);
    RedrawWindow(tool.Handle(), nullptr, nullptr, RDW_INVALIDATE | RDW_ERASE | RDW_ALLCHILDREN | RDW_UPDATENOW);
}

int32_t AddIconButton(RepairTool& tool, const wchar_t* text, int x, int y, int width, int height, HBITMAP image,
                      int imageSize)
{
    int32_t id = tool.AddButton(text, x, y, width, height, -1);
    if (image != nullptr)
        tool.SetButtonImage(id, image, tool.Scale(imageSize), tool.Scale(imageSize));
    return id;
}

void BuildPages(Wizard& wizard, HBITMAP toolIcon, HBITMAP refreshImage, HBITMAP backImage)
{
    RepairTool& tool = wizard.tool;
    RepairWizardIds& ids = wizard.ids;

    tool.SetFont(0, 10.0, 800, 0, L"Arial");
    ids.list = tool.AddListView(L"Account name|User name|Account type|User SID|Profile path", 10, 90, 330, 400,
                                WS_VISIBLE | WS_BORDER | LVS_SINGLESEL | LVS_SHOWSELALWAYS,
                                LVS_EX_DOUBLEBUFFER);
    tool.NameList(ids.list, L"User accounts", {0, 2});
    if (HWND list = tool.ControlHandle(ids.list)) {
        SendMessageW(list, LVM_SETVIEW, LV_VIEW_TILE, 0);
        LVTILEVIEWINFO tiles{};
        tiles.cbSize = sizeof tiles;
        tiles.dwMask = LVTVIM_TILESIZE | LVTVIM_COLUMNS;
        tiles.dwFlags = LVTVIF_FIXEDSIZE;
        tiles.sizeTile = SIZE{tool.Scale(330 - 6) - GetSystemMetrics(SM_CXVSCROLL), tool.Scale(56)};
        tiles.cLines = 2;
        SendMessageW(list, LVM_SETTILEVIEWINFO, 0, reinterpret_cast<LPARAM>(&tiles));
        if (UniqueIcon icon = LoadAccountIcon(tool.Scale(kTileIconSize))) {
            tool.SetListIcon(ids.list, -1, icon.Get(), tool.Scale(kTileIconSize));
            tool.SetListIcon(ids.list, -1, icon.Get(), tool.Scale(kTileIconSize));
        }
    }
    FillRepairAccountList(tool, ids.list);

    int32_t guide = tool.AddLabel(L"Please select the account to repair from the list to the left: Brenwick "
                                  L"examines it and proposes the least it must change.",
                                  360, 90, 330, 66, -1);
    tool.SetFont(guide, 11.0, 700, 0, L"Arial");
    tool.SetFont(0, 9.0, 400, 0, L"Arial");
    ids.diagnosisLabel = tool.AddLabel(L"", 360, 160, 330, 124, -1);
    tool.SetFont(0, 10.0, 400, 0, L"Arial");
    ids.mendButton = AddIconButton(tool, L"  &Mend in place (no restart)", 375, 290, 300, 38, toolIcon, 32);
    tool.SetFont(ids.mendButton, 11.0, 700, 0, L"Arial");
    tool.SetState(ids.mendButton, StateFlags::Disable);
    ids.fixUserButton = AddIconButton(tool, L"  &Fix selected user (next step)", 375, 336, 300, 40, toolIcon, 32);
    tool.SetFont(ids.fixUserButton, 12.0, 700, 0, L"Arial");
    tool.SetState(ids.fixUserButton, StateFlags::Disable);
    ids.refreshButton = AddIconButton(tool, L"  &Refresh the user list", 420, 392, 210, 32, refreshImage, 24);
    wizard.page1 = {ids.list, guide, ids.diagnosisLabel, ids.mendButton, ids.fixUserButton, ids.refreshButton};

    int32_t note = wizard.note = tool.AddLabel(
        L"Note: When you click \"Fix selected account now\", Brenwick will reboot the PC and work from a temporary "
        L"account. Once the selected account is repaired, it will reboot again and delete the temporary account. "
        L"You may need to select the privacy settings for new accounts. Please be patient to achieve the best "
        L"success rate.\r\n\r\nPlease select the desired options below, but keep in mind that, the more stuff you "
        L"keep, the less likely your problem will be solved.",
        20, 90, 660, 160, -1);
    tool.SetFont(note, 12.0, 400, 0, L"Arial");
    tool.SetFont(0, 10.0, 700, 0, L"Arial");
    int32_t caption = wizard.caption = tool.AddLabel(L"Selected account:", 20, 260, 150, 20, -1);
    tool.SetColour(caption, 0x70A0A0, -1);
    ids.accountLabel = tool.AddLabel(L"", 170, 260, 510, 20, -1);
    tool.SetColour(ids.accountLabel, 0x70A0FF, -1);
    tool.SetFont(0, 10.0, 400, 0, L"Arial");
    ids.storeOption = tool.AddCheckControl(L" &Keep Windows store apps' package data from the old account", 45,
                                           kOptionsTop, tool.tickImage.Get(), tool.boxImage.Get());
    ids.appDataOption = tool.AddCheckControl(L" Keep Windows system &appdata from the old account", 45,
                                             kOptionsTop + kOptionsPitch, tool.tickImage.Get(), tool.boxImage.Get());
    ids.settingsOption = tool.AddCheckControl(L" Keep the account's &settings from the old account", 45,
                                              kOptionsTop + 2 * kOptionsPitch, tool.tickImage.Get(),
                                              tool.boxImage.Get());
    tool.SetFont(0, 9.0, 400, 0, L"Arial");
    wizard.warnings = tool.AddLabel(L"", 20, kWarningsTop, 660, kOptionsTop - kWarningsTop - 2, -1);
    tool.SetColour(wizard.warnings, kWarningColour, -1);
    tool.SetFont(0, 10.0, 400, 0, L"Arial");
    ids.backButton = AddIconButton(tool, L"  &Back to the users list", 45, 424, 260, 32, backImage, 24);
    ids.fixNowButton = AddIconButton(tool, L"  Fix selected account &now", 375, 420, 300, 40, toolIcon, 32);
    tool.SetFont(ids.fixNowButton, 12.0, 700, 0, L"Arial");
    // A check control is two controls: the box and its label.
    wizard.page2 = {note,          caption,           ids.accountLabel,  wizard.warnings, ids.storeOption,
                    ids.storeOption + 1, ids.appDataOption, ids.appDataOption + 1, ids.settingsOption,
                    ids.settingsOption + 1, ids.backButton, ids.fixNowButton};
    SetStates(tool, wizard.page2, StateFlags::Hide | StateFlags::Disable);
}

// The set-up failed: the operator is told why and may try again.
void ShowFailure(Wizard& wizard, const wchar_t* text)
{
    RepairTool& tool = wizard.tool;
    PlainMessageBox(tool, text, 0, 160, 0);
    if (wizard.spinner != 0)
        tool.DeleteControl(wizard.spinner);
    if (wizard.preparing != 0)
        tool.DeleteControl(wizard.preparing);
    wizard.spinner = wizard.preparing = 0;
    tool.SetState(wizard.ids.backButton, StateFlags::Show);
    tool.SetState(wizard.ids.fixNowButton, StateFlags::Show);
}

// The wizard's part of a set-up: the question, the busy picture, then the
// set-up itself (ScheduleRepair). False when it failed and the wizard stays.
bool ScheduleFromWizard(Wizard& wizard)
{
    RepairTool& tool = wizard.tool;
    const RepairWizardIds& ids = wizard.ids;
    std::wstring underWay = RepairUnderWayMessage(tool.site.toolFolder.c_str());
    if (!underWay.empty()) {
        PlainMessageBox(tool, underWay.c_str(), 0, 200, 0);
        return false;
    }
    if (PlainMessageBox(tool,
                        L"Brenwick will now reboot your computer to fix the selected user account.\r\n\r\nAre you "
                        L"sure you want to proceed with the repair operation?",
                        1, 150, 0) != 1)
        return false;

    RepairSetupInput input;
    static_cast<RepairSite&>(input) = tool.site;
    input.account = wizard.userName.Text();
    input.fixFlags = ((tool.GetState(ids.storeOption) & StateFlags::Check) ? FixFlags::KeepAppPackages : 0) |
                     ((tool.GetState(ids.appDataOption) & StateFlags::Check) ? FixFlags::KeepSystemAppData : 0) |
                     ((tool.GetState(ids.settingsOption) & StateFlags::Check) ? FixFlags::KeepSettings : 0);
    input.inTempAccount = tool.inTempAccount;
    input.programFile = tool.programFile.Get();

    tool.SetState(ids.backButton, StateFlags::Hide);
    tool.SetState(ids.fixNowButton, StateFlags::Hide);
    UniqueImage blank = NewCanvas(48, 48, tool.Dpi());
    UniqueBitmap pictureBitmap = ToGdiBitmap(blank.Get(), kWindowBackgroundArgb);
    wizard.spinner = tool.AddPicture(pictureBitmap.Release(), 30, 420, 48, 48, -1);
    // A white ring would vanish on the window's white body: the header's black.
    StartSpinner(tool.ControlHandle(wizard.spinner), tool.Scale(48), kWizardSpinnerColour, 70, -1);
    wizard.preparing = tool.AddLabel(L"Preparing to reboot to the temporary account...", 90, 430, 600, 25, -1);
    // Painted now: the set-up below keeps this thread until it has ended.
    RedrawWindow(tool.Handle(), nullptr, nullptr, RDW_INVALIDATE | RDW_ERASE | RDW_ALLCHILDREN | RDW_UPDATENOW);
    DrainWaitingEvents(tool);

    RepairSetupResult result;
    {
        DialogOwner::BusyScope busy(&tool, kBrenwickBlockReason);
        result = ScheduleRepair(input);
    }
    if (result.scheduled)
        return true;
    ShowFailure(wizard, result.message.c_str());
    return false;
}

struct CarryCount {
    WString folder;
    WString sid;
    CarryCounts counts;
};

DWORD WINAPI CountThread(void* parameter)
{
    auto* job = static_cast<CarryCount*>(parameter);
    if (!CountCarryLimits(job->folder.Text(), job->sid.Text(), job->counts))
        job->counts.complete = false;
    return 0;
}

// What the repair cannot carry from the account's profile, one line per
// warning that applies. The profile is walked on a worker; a folder the
// repair would not carry is not walked and the text says the count is short.
std::wstring CarryWarningText(RepairTool& tool, const wchar_t* sid, const wchar_t* storedProfile)
{
    CarryCount job;
    job.sid.Assign(sid);
    if (CheckProfileFolder(storedProfile, sid, job.folder) == ProfileFolderVerdict::Inside) {
        WorkerWatch watch;
        watch.owner = &tool;
        watch.window = &tool;
        DWORD result = 0;
        if (!RunWorker(CountThread, &job, watch, &result))
            job.counts.complete = false;
    } else {
        job.counts.complete = false;
    }
    std::wstring text;
    for (const std::wstring& line : CarryWarnings(job.counts))
        text += (text.empty() ? L"\x2022 " : L"\r\n\x2022 ") + line;
    return text;
}

// The height in pixels `text` takes in `label`'s font, wrapped at the
// label's width; 0 when it cannot be measured.
int TextHeight(HWND label, const ControlEntry& entry, const wchar_t* text)
{
    RECT bounds{0, 0, entry.width, 0};
    WindowDc dc(label);
    if (!dc)
        return 0;
    HGDIOBJ before = SelectObject(dc.Get(), reinterpret_cast<HFONT>(SendMessageW(label, WM_GETFONT, 0, 0)));
    DrawTextW(dc.Get(), text, -1, &bounds, DT_CALCRECT | DT_WORDBREAK | DT_NOPREFIX);
    SelectObject(dc.Get(), before);
    return bounds.bottom;
}

void PlaceControl(const ControlEntry* part, int y, int height)
{
    if (part != nullptr && part->handle != nullptr)
        SetWindowPos(part->handle, nullptr, part->x, y, part->width, height, SWP_NOZORDER | SWP_NOACTIVATE);
}

// The warnings' text, laid out between the note and the buttons: the
// options move down for a longer text as far as the buttons allow, then the
// account's row and the warnings move up into the room the note's text
// leaves; the options never reach the buttons.
void ShowWarnings(Wizard& wizard, const std::wstring& text)
{
    RepairTool& tool = wizard.tool;
    const RepairWizardIds& ids = wizard.ids;
    tool.SetText(wizard.warnings, text.c_str());
    const ControlEntry* note = tool.Control(wizard.note);
    const ControlEntry* caption = tool.Control(wizard.caption);
    const ControlEntry* account = tool.Control(ids.accountLabel);
    const ControlEntry* warnings = tool.Control(wizard.warnings);
    const ControlEntry* back = tool.Control(ids.backButton);
    const ControlEntry* fixNow = tool.Control(ids.fixNowButton);
    const ControlEntry* first = tool.Control(ids.storeOption);
    const int32_t options[] = {ids.storeOption,   ids.storeOption + 1,    ids.appDataOption,
                               ids.appDataOption + 1, ids.settingsOption, ids.settingsOption + 1};
    if (note == nullptr || caption == nullptr || account == nullptr || warnings == nullptr || back == nullptr ||
        fixNow == nullptr || first == nullptr || warnings->handle == nullptr || note->handle == nullptr)
        return;
    int optionsBottom = first->y;
    for (int32_t id : options)
        if (const ControlEntry* part = tool.Control(id))
            optionsBottom = std::max(optionsBottom, part->y + part->height);
    const int gap = tool.Scale(6);
    const int lowest = std::min(back->y, fixNow->y) - tool.Scale(8) - (optionsBottom - first->y);
    const int needed = TextHeight(warnings->handle, *warnings, text.c_str());
    const int optionsTop = std::max(first->y, std::min(lowest, warnings->y + needed + gap));
    // What the options' move leaves short is taken from the note's spare room.
    std::vector<wchar_t> noteText(static_cast<size_t>(GetWindowTextLengthW(note->handle)) + 1, L'\0');
    GetWindowTextW(note->handle, noteText.data(), static_cast<int>(noteText.size()));
    const int noteBottom = note->y + TextHeight(note->handle, *note, noteText.data());
    const int rise = std::max(0, std::min(warnings->y + needed + gap - optionsTop, caption->y - gap - noteBottom));
    PlaceControl(note, note->y, rise > 0 ? caption->y - rise - gap - note->y : note->height);
    PlaceControl(caption, caption->y - rise, caption->height);
    PlaceControl(account, account->y - rise, account->height);
    PlaceControl(warnings, warnings->y - rise, optionsTop - gap - (warnings->y - rise));
    for (int32_t id : options)
        if (const ControlEntry* part = tool.Control(id))
            PlaceControl(part, part->y + optionsTop - first->y, part->height);
}

// The examination of the selected account, shown on the first page; the
// mend in place is offered only when it is what the examination proposes.
void ShowDiagnosis(Wizard& wizard)
{
    RepairTool& tool = wizard.tool;
    const RepairWizardIds& ids = wizard.ids;
    const int row = tool.GetSelectedItem(ids.list);
    WString name = row >= 0 ? ListCellText(tool.ControlHandle(ids.list), row, 1) : WString(L"");
    AccountExamination exam;
    std::wstring problem;
    const bool examined = !name.IsEmpty() && ExamineAccount(name.Text(), exam, problem);
    tool.SetText(ids.diagnosisLabel, examined ? DiagnosisSummary(exam.diagnosis).c_str() : L"");
    tool.SetState(ids.mendButton,
                  examined && exam.diagnosis.recommended == MendKind::InPlace ? StateFlags::Enable
                                                                              : StateFlags::Disable);
}

void MendFromWizard(Wizard& wizard)
{
    RepairTool& tool = wizard.tool;
    const int row = tool.GetSelectedItem(wizard.ids.list);
    WString name = row >= 0 ? ListCellText(tool.ControlHandle(wizard.ids.list), row, 1) : WString(L"");
    if (name.IsEmpty())
        return;
    std::wstring underWay = RepairUnderWayMessage(tool.site.toolFolder.c_str());
    if (!underWay.empty()) {
        PlainMessageBox(tool, underWay.c_str(), 0, 200, 0);
        return;
    }
    if (PlainMessageBox(tool,
                        L"Brenwick will now put the account's profile-list entry and permissions right. The account "
                        L"keeps its SID, its files and its settings, and no restart is needed.\r\n\r\nDo you want "
                        L"to mend it now?",
                        1, 150, 0) != 1)
        return;
    MendReport report;
    bool mended = false;
    {
        DialogOwner::BusyScope busy(&tool, kBrenwickBlockReason);
        mended = MendInPlace(tool.site, name.Text(), false, report);
    }
    std::wstring text = mended ? L"The account was mended in place. It signs in with its own profile again."
                               : L"The account could not be mended in place; what was changed has been put back.";
    if (!report.refusal.empty())
        text = L"The account was not mended: " + report.refusal + L".";
    PlainMessageBox(tool, text.c_str(), 0, 150, 0);
    ShowDiagnosis(wizard);
}

void OpenSecondPage(Wizard& wizard)
{
    RepairTool& tool = wizard.tool;
    int row = tool.GetSelectedItem(wizard.ids.list);
    if (row < 0) {
        tool.SetState(wizard.ids.fixUserButton, StateFlags::Disable);
        return;
    }
    HWND list = tool.ControlHandle(wizard.ids.list);
    WString name = ListCellText(list, row, 1);
    if (name.IsEmpty())
        return;
    wizard.userName.Assign(name.Text());
    WString shown = ListCellText(list, row, 0);
    WString type = ListCellText(list, row, 2);
    shown.Append(L" (", type.Text(), L")");
    tool.SetText(wizard.ids.accountLabel, shown.Text());
    WString sid = ListCellText(list, row, 3);
    WString profile = ListCellText(list, row, 4);
    // The walk may take a while on a large profile: no second click meanwhile.
    tool.SetState(wizard.ids.fixUserButton, StateFlags::Disable);
    ShowWarnings(wizard, CarryWarningText(tool, sid.Text(), profile.Text()));
    tool.SetState(wizard.ids.fixUserButton, StateFlags::Enable);
    ShowPage(wizard, true);
}

}  // namespace

int FillRepairAccountList(RepairTool& tool, int32_t listId)
{
    HWND list = tool.ControlHandle(listId);
    if (list == nullptr)
        return 0;
    SendMessageW(list, LVM_DELETEALLITEMS, 0, 0);
    int rows = 0;
    ForEachAccount([&](const AccountRecord& user) {
        if (Listable(user)) {
            int before = static_cast<int>(SendMessageW(list, LVM_GETITEMCOUNT, 0, 0));
            AddUserRow(tool, listId, user);
            rows += static_cast<int>(SendMessageW(list, LVM_GETITEMCOUNT, 0, 0)) - before;
        }
        return true;
    });
    return rows;
}

int RunRepairWizard(RepairTool& tool)
{
    WString caption(tool.title);
    caption.Append(L" - Setup");
    tool.SetText(tool.headerLabel, caption.Text());
    SetWindowTextW(tool.Handle(), caption.Text());

    UniqueIcon icon(static_cast<HICON>(LoadImageW(tool.instance, MAKEINTRESOURCEW(IDI_REPAIR), IMAGE_ICON, tool.Scale(32),
                                                  tool.Scale(32), 0)));
    UniqueBitmap toolIcon = IconToBitmap(icon.Get(), tool.Scale(32));
    UniqueImage refresh = LoadResourceImage(tool.instance, IMG_REFRESH_BUTTON, tool.Scale(24), tool.Scale(24));
    UniqueImage back = LoadResourceImage(tool.instance, IMG_BACK, tool.Scale(24), tool.Scale(24));
    UniqueBitmap refreshImage = ToGdiBitmap(refresh.Get(), kWindowBackgroundArgb);
    UniqueBitmap backImage = ToGdiBitmap(back.Get(), kWindowBackgroundArgb);

    Wizard wizard{tool, {}, {}, {}, {}, 0, 0, 0};
    wizard.userName.Assign(L"");
    BuildPages(wizard, toolIcon.Get(), refreshImage.Get(), backImage.Get());
    ShowWindow(tool.Handle(), SW_SHOWNORMAL);
    UpdateWindow(tool.Handle());

    for (;;) {
        tool.NextRepairEvent(PumpMode::Wait);
        int32_t event = tool.LastEvent();
        if (event == EventCode::Close || event == EventCode::EndSession || event == EventCode::QueueFailed)
            break;
        if (tool.Event().window != &tool && event > 0)
            continue;
        const RepairWizardIds& ids = wizard.ids;
        if (event == EventCode::ItemSelected) {
            if (tool.GetState(ids.fixUserButton) & StateFlags::Disable)
                tool.SetState(ids.fixUserButton, StateFlags::Enable);
            ShowDiagnosis(wizard);
        } else if (event == EventCode::ItemDeselected) {
            if (tool.GetSelectedItem(ids.list) < 0 && !(tool.GetState(ids.fixUserButton) & StateFlags::Disable))
                tool.SetState(ids.fixUserButton, StateFlags::Disable);
            if (tool.GetSelectedItem(ids.list) < 0)
                ShowDiagnosis(wizard);
        } else if (event == ids.mendButton) {
            MendFromWizard(wizard);
        } else if (event == ids.fixUserButton) {
            OpenSecondPage(wizard);
        } else if (event == ids.refreshButton) {
            FillRepairAccountList(tool, ids.list);
            tool.SetState(ids.fixUserButton, StateFlags::Disable);
            ShowDiagnosis(wizard);
        } else if (event == ids.backButton) {
            wizard.userName.Assign(L"");
            DrainWaitingEvents(tool);
            ShowPage(wizard, false);
        } else if (event == ids.fixNowButton && !wizard.userName.IsEmpty()) {
            if (ScheduleFromWizard(wizard))
                break;
        }
    }
    ShowWindow(tool.Handle(), SW_HIDE);
    UpdateWindow(tool.Handle());
    DrainWaitingEvents(tool);
    return 0;
}
