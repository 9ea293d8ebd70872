#include <gtest/gtest.h>

#include <windows.h>
#include <commctrl.h>

#include <string>
#include <vector>

#include "ui/secret_text.h"
#include "ui/window.h"

namespace {

constexpr const wchar_t* kTestClass = L"Vantrell_TestWindow";

// Each test starts from a fresh, shown window with no controls.
class Toolkit : public ::testing::Test {
protected:
    void SetUp() override
    {
        ASSERT_NE(nullptr, window_.CreateUiWindow(kTestClass, L"Toolkit test", 640, 480, -1, -1, -1, -1, nullptr));
        window_.ShowUiWindow(SW_SHOW);
        SetForegroundWindow(window_.Handle());
        Drain();
    }
    void TearDown() override { window_.DestroyUiWindow(); }

    // Handles every waiting message and collects the events they produced.
    std::vector<int32_t> Drain()
    {
        std::vector<int32_t> events;
        for (int round = 0; round < 200; ++round) {
            if (!window_.Event().pending && PumpEvents(window_, PumpMode::Dispatch) == 0)
                break;
            if (window_.Event().pending)
                events.push_back(PumpEvents(window_, PumpMode::IfAny));
        }
        return events;
    }

    static size_t Count(const std::vector<int32_t>& events, int32_t code)
    {
        size_t n = 0;
        for (int32_t event : events)
            n += event == code;
        return n;
    }

    HWND Handle(int32_t id) const { return window_.Control(id) != nullptr ? window_.Control(id)->handle : nullptr; }

    UiWindow window_;
};

std::wstring ComboItem(HWND combo, int index)
{
    wchar_t text[64] = L"";
    SendMessageW(combo, CB_GETLBTEXT, index, reinterpret_cast<LPARAM>(text));
    return text;
}

void SelectItem(HWND list, int item, bool selected)
{
    LVITEMW state{};
    state.stateMask = LVIS_SELECTED;
    state.state = selected ? LVIS_SELECTED : 0;
    SendMessageW(list, LVM_SETITEMSTATE, item, reinterpret_cast<LPARAM>(&state));
}

std::wstring Cell(HWND list, int item, int column) { return ListCellText(list, item, column).Text(); }

}  // namespace

TEST_F(Toolkit, ControlTableGrowsAndKeepsEveryId)
{
    EXPECT_EQ(512u, window_.ControlCapacity());
    int32_t id = 0;
    for (int i = 1; i <= 513; ++i) {
        id = window_.AddLabel(L"x", (i % 40) * 15, (i / 40) * 15, 14, 14, -1);
        ASSERT_EQ(i, id) << "control " << i;
    }
    EXPECT_GE(window_.ControlCapacity(), 1024u);
    for (int32_t check : {1, 511, 512, 513}) {
        HWND handle = Handle(check);
        ASSERT_NE(nullptr, handle) << "id " << check;
        EXPECT_EQ(check, GetWindowLongW(handle, GWL_ID)) << "id " << check;
        EXPECT_EQ(window_.Control(check), window_.ControlFromHandle(handle)) << "id " << check;
    }
    EXPECT_NE(0u, window_.GetState(512));
    EXPECT_NE(0u, window_.GetState(513));
    EXPECT_EQ(0u, window_.GetState(514));
}

TEST_F(Toolkit, StatePairsLetTheFirstBitWin)
{
    int32_t box = window_.AddCheckBox(L"Option", 10, 10, 200, 20);
    ASSERT_NE(0, box);

    struct Case {
        uint32_t request;
        uint32_t expectedBits;
        uint32_t mask;
    } cases[] = {
        {StateFlags::Check | StateFlags::Uncheck, StateFlags::Check, StateFlags::Check | StateFlags::Uncheck},
        {StateFlags::Uncheck | StateFlags::Indeterminate, StateFlags::Uncheck,
         StateFlags::Uncheck | StateFlags::Indeterminate},
        {StateFlags::Disable, StateFlags::Disable, StateFlags::Enable | StateFlags::Disable},
        {StateFlags::Enable | StateFlags::Disable, StateFlags::Enable, StateFlags::Enable | StateFlags::Disable},
        {StateFlags::Hide | StateFlags::Show, StateFlags::Hide, StateFlags::Hide | StateFlags::Show},
        {StateFlags::Show, StateFlags::Show, StateFlags::Hide | StateFlags::Show},
        {StateFlags::Focus | StateFlags::Defocus, StateFlags::Focus, StateFlags::Focus | StateFlags::Defocus},
        {StateFlags::Defocus, StateFlags::Defocus, StateFlags::Focus | StateFlags::Defocus},
    };
    for (const Case& c : cases) {
        window_.SetState(box, c.request);
        uint32_t state = window_.GetState(box);
        EXPECT_EQ(c.expectedBits, state & c.mask) << "request " << c.request << " gave state " << state;
    }
}

TEST_F(Toolkit, HiddenDisabledUncheckedBoxReportsEachHalf)
{
    // A check state given to every control passes over those that have none.
    window_.AddButton(L"Plain", 10, 40, 100, 24, -1);
    int32_t box = window_.AddCheckBox(L"Option", 10, 10, 200, 20);
    window_.SetState(ControlId::Last, StateFlags::Hide | StateFlags::Disable | StateFlags::Uncheck);
    EXPECT_EQ(StateFlags::Hide | StateFlags::Disable | StateFlags::Uncheck | StateFlags::Defocus,
              window_.GetState(box));
    EXPECT_EQ(0u, window_.SetState(99, StateFlags::Show)) << "an unknown id must do nothing";
}

TEST_F(Toolkit, TwoPartCheckControlTogglesWhenItsLabelIsClicked)
{
    int32_t check = window_.AddCheckControl(L" Keep the data", 20, 40, nullptr, nullptr);
    ASSERT_NE(0, check);
    const ControlEntry* label = window_.Control(check + 1);
    ASSERT_NE(nullptr, label);
    EXPECT_EQ(ControlKind::CheckControl, label->kind);
    EXPECT_EQ(38, label->x);
    EXPECT_EQ(StateFlags::Uncheck, window_.GetState(check) & (StateFlags::Check | StateFlags::Uncheck));

    SendMessageW(window_.Handle(), WM_COMMAND, MAKEWPARAM(check + 1, STN_CLICKED),
                 reinterpret_cast<LPARAM>(label->handle));
    EXPECT_EQ(check, PumpEvents(window_, PumpMode::IfAny)) << "the click reports the control's own id";
    EXPECT_EQ(StateFlags::Check, window_.GetState(check) & (StateFlags::Check | StateFlags::Uncheck));
    window_.SetState(check, StateFlags::Indeterminate);
    EXPECT_EQ(StateFlags::Check, window_.GetState(check) & (StateFlags::Check | StateFlags::Uncheck | StateFlags::Indeterminate))
        << "a two-part check has no third state";

    window_.SetState(check, StateFlags::Disable);
    EXPECT_FALSE(IsWindowEnabled(label->handle)) << "disabling acts on both parts";
    EXPECT_STREQ(L" Keep the data", window_.GetText(check).Text());
    EXPECT_TRUE(window_.DeleteControl(check));
    EXPECT_EQ(nullptr, window_.Control(check + 1)) << "deleting removes both parts";
}

TEST(ToolkitClass, ExistingClassIsReusedAndLeftRegistered)
{
    const wchar_t* name = L"Vantrell_SharedClass";
    WNDCLASSEXW info{};
    info.cbSize = sizeof(info);
    UiWindow first;
    ASSERT_NE(nullptr, first.CreateUiWindow(name, L"first", 200, 100, 0, 0, -1, -1, nullptr));
    EXPECT_TRUE(first.RegisteredClass());
    {
        UiWindow second;
        ASSERT_NE(nullptr, second.CreateUiWindow(name, L"second", 200, 100, 0, 0, -1, -1, nullptr));
        EXPECT_FALSE(second.RegisteredClass()) << "the class must not be registered twice";
        EXPECT_TRUE(second.DestroyUiWindow());
        EXPECT_FALSE(second.DestroyUiWindow()) << "there is no window any more";
    }
    EXPECT_TRUE(GetClassInfoExW(GetModuleHandleW(nullptr), name, &info)) << "the second window unregistered it";
    first.DestroyUiWindow();
    EXPECT_FALSE(GetClassInfoExW(GetModuleHandleW(nullptr), name, &info)) << "the first window left it registered";
}

TEST(ToolkitClass, ClientSizeAndCentring)
{
    UiWindow window;
    ASSERT_NE(nullptr, window.CreateUiWindow(L"Vantrell_SizeClass", L"size", 750, 550, -1, -1, -1, -1, nullptr));
    RECT client;
    GetClientRect(window.Handle(), &client);
    EXPECT_EQ(750, client.right);
    EXPECT_EQ(550, client.bottom);

    RECT area;
    RECT frame;
    SystemParametersInfoW(SPI_GETWORKAREA, 0, &area, 0);
    GetWindowRect(window.Handle(), &frame);
    int areaCentre = (area.left + area.right) / 2;
    int frameCentre = (frame.left + frame.right) / 2;
    EXPECT_LE(std::abs(areaCentre - frameCentre), 1) << "window centred at " << frameCentre << ", area at " << areaCentre;
}

TEST_F(Toolkit, ComboHoldsItsItemsInOrder)
{
    int32_t combo = window_.AddCombo(L"Guest\nStandard user\nAdministrator", 10, 10, 200, 1);
    HWND handle = Handle(combo);
    ASSERT_NE(nullptr, handle);
    ASSERT_EQ(3, SendMessageW(handle, CB_GETCOUNT, 0, 0));
    EXPECT_EQ(L"Guest", ComboItem(handle, 0));
    EXPECT_EQ(L"Standard user", ComboItem(handle, 1));
    EXPECT_EQ(L"Administrator", ComboItem(handle, 2));
    EXPECT_STREQ(L"Standard user", window_.GetText(combo).Text());

    window_.SetText(combo, L"One\nTwo");
    EXPECT_EQ(2, SendMessageW(handle, CB_GETCOUNT, 0, 0));
    EXPECT_EQ(CB_ERR, SendMessageW(handle, CB_GETCURSEL, 0, 0)) << "refilling leaves nothing selected";
    EXPECT_STREQ(L"", window_.GetText(combo).Text());

    SendMessageW(window_.Handle(), WM_COMMAND, MAKEWPARAM(combo, CBN_SELCHANGE), reinterpret_cast<LPARAM>(handle));
    EXPECT_EQ(EventCode::ComboSelectionChanged, PumpEvents(window_, PumpMode::IfAny));
}

TEST_F(Toolkit, ClickAndEnterOnAButtonOrLinkReportItOnce)
{
    int32_t first = window_.AddButton(L"First", 10, 10, 100, 24, -1);
    int32_t second = window_.AddButton(L"Second", 10, 40, 100, 24, -1);
    window_.AddEdit(L"", 10, 70, 100, -1);
    SendMessageW(Handle(first), BM_CLICK, 0, 0);
    EXPECT_EQ(first, PumpEvents(window_, PumpMode::IfAny));
    EXPECT_EQ(0, PumpEvents(window_, PumpMode::IfAny)) << "the event is taken once";
    window_.SetState(second, StateFlags::Focus);
    ASSERT_EQ(Handle(second), GetFocus());

    PostMessageW(Handle(second), WM_KEYDOWN, VK_RETURN, 0x001C0001);
    PostMessageW(Handle(second), WM_KEYUP, VK_RETURN, 0xC01C0001);
    std::vector<int32_t> events = Drain();
    EXPECT_EQ(1u, Count(events, second)) << "events: " << events.size();
    EXPECT_EQ(0u, Count(events, first)) << "Enter must not become a command for id 1";

    // Escape in the edit field must not turn into a command for id 2.
    window_.SetState(3, StateFlags::Focus);
    PostMessageW(Handle(3), WM_KEYDOWN, VK_ESCAPE, 0x00010001);
    events = Drain();
    EXPECT_EQ(0u, Count(events, second));

    int32_t link = window_.AddLink(L"<a>Online help</a>", 10, 100, 150, 18);
    window_.SetState(link, StateFlags::Focus);
    PostMessageW(Handle(link), WM_KEYDOWN, VK_RETURN, 0x001C0001);
    EXPECT_EQ(1u, Count(Drain(), link)) << "Enter on a link reports it once";
}

// The application decides whether the window closes: the system's close is an event.
TEST_F(Toolkit, MouseMessagesAndTheSystemCloseBecomeTheirEvents)
{
    const struct {
        UINT message;
        WPARAM wParam;
        int32_t event;
    } cases[] = {
        {WM_LBUTTONUP, 0, EventCode::LeftButtonUp},     {WM_RBUTTONDOWN, 0, EventCode::RightButtonDown},
        {WM_RBUTTONUP, 0, EventCode::RightButtonUp},    {WM_LBUTTONDBLCLK, 0, EventCode::DoubleClick},
        {WM_RBUTTONDBLCLK, 0, EventCode::RightDoubleClick}, {WM_MOUSEMOVE, 0, EventCode::MouseMoved},
        {WM_SYSCOMMAND, SC_CLOSE, EventCode::Close},
    };
    for (const auto& c : cases) {
        Drain();
        SendMessageW(window_.Handle(), c.message, c.wParam, MAKELPARAM(30, 40));
        EXPECT_EQ(c.event, PumpEvents(window_, PumpMode::IfAny)) << "message 0x" << std::hex << c.message;
        EXPECT_TRUE(IsWindow(window_.Handle()));
    }
}

TEST_F(Toolkit, LockDisablesAndUnlockRestoresExactlyTheEnabledControls)
{
    int32_t a = window_.AddButton(L"A", 10, 10, 80, 24, -1);
    int32_t b = window_.AddButton(L"B", 10, 40, 80, 24, -1);
    int32_t label = window_.AddLabel(L"Label", 10, 70, 80, 18, -1);
    int32_t box = window_.AddCheckBox(L"Box", 10, 100, 80, 20);
    int32_t off = window_.AddButton(L"Off", 10, 130, 80, 24, -1);
    window_.SetState(off, StateFlags::Disable);

    LockRecord record = window_.LockControls(1, 999, b);
    EXPECT_EQ(1, record.firstId);
    EXPECT_EQ(StateFlags::Disable, window_.GetState(a) & StateFlags::Disable);
    EXPECT_EQ(StateFlags::Enable, window_.GetState(b) & StateFlags::Enable) << "the excepted id stays enabled";
    EXPECT_EQ(StateFlags::Enable, window_.GetState(label) & StateFlags::Enable) << "labels are never locked";
    EXPECT_EQ(StateFlags::Disable, window_.GetState(box) & StateFlags::Disable);

    EXPECT_EQ(2, window_.UnlockControls(record, 0, ControlKind::Label));
    EXPECT_EQ(StateFlags::Enable, window_.GetState(a) & StateFlags::Enable);
    EXPECT_EQ(StateFlags::Enable, window_.GetState(box) & StateFlags::Enable);
    EXPECT_EQ(StateFlags::Disable, window_.GetState(off) & StateFlags::Disable) << "it was disabled before the lock";

    // The unlock's own exceptions: an id and a kind.
    record = window_.LockControls(1, 999, 0);
    EXPECT_EQ(1, window_.UnlockControls(record, a, ControlKind::CheckBox));
    EXPECT_EQ(StateFlags::Enable, window_.GetState(b) & StateFlags::Enable);
    EXPECT_EQ(StateFlags::Disable, window_.GetState(a) & StateFlags::Disable);

    EXPECT_TRUE(window_.LockControls(0, 3, 0).wasEnabled.empty()) << "a first id below 1 locks nothing";
}

TEST_F(Toolkit, ListViewReportsSelectionAndDeselection)
{
    int32_t list = window_.AddListView(L"Name|Type", 10, 10, 300, 200, -1, LVS_EX_FULLROWSELECT);
    ASSERT_NE(0, list);
    HWND handle = Handle(list);
    EXPECT_EQ(0, window_.AddListItem(list, L"Alice|Administrator", L"|"));
    EXPECT_EQ(1, window_.AddListItem(list, L"Bob|Standard user", L"|"));
    EXPECT_EQ(L"Standard user", Cell(handle, 1, 1));
    // A cell longer than the first buffer is read whole.
    const std::wstring longCell(3000, L'n');
    EXPECT_TRUE(SetListCellText(handle, 1, 0, longCell.c_str()));
    EXPECT_EQ(longCell, ListCellText(handle, 1, 0).Text());
    EXPECT_STREQ(L"", ListCellText(handle, 7, 0).Text()) << "no such row";
    EXPECT_FALSE(SetListCellText(handle, -1, 0, L"x"));
    EXPECT_TRUE(SetListCellText(handle, 1, 0, L"Bob"));
    EXPECT_EQ(2, SendMessageW(reinterpret_cast<HWND>(SendMessageW(handle, LVM_GETHEADER, 0, 0)), HDM_GETITEMCOUNT, 0, 0));
    Drain();

    SelectItem(handle, 0, true);
    EXPECT_EQ(EventCode::ItemSelected, PumpEvents(window_, PumpMode::IfAny));
    EXPECT_EQ(0, window_.GetSelectedItem(list));

    SelectItem(handle, 0, false);
    EXPECT_EQ(EventCode::ItemDeselected, PumpEvents(window_, PumpMode::IfAny));
    EXPECT_EQ(-1, window_.GetSelectedItem(list));

    EXPECT_TRUE(window_.DeleteAllItems(list));
    EXPECT_EQ(0, SendMessageW(handle, LVM_GETITEMCOUNT, 0, 0));
}

TEST_F(Toolkit, SortableListSortsNumbersAsNumbersAndFlipsDirection)
{
    window_.SetNextBehaviour(Behaviour::Sortable);
    int32_t list = window_.AddListView(L"Size|Name", 10, 10, 300, 200, -1, 0);
    window_.SetNextBehaviour(0);
    HWND handle = Handle(list);
    // Enough rows that a sort reading cells while rows move would mix them.
    for (const wchar_t* row : {L"10 KB|b", L"9 KB|c", L"2 MB|a", L"5 TB|f", L"3 MB|d", L"7 GB|e", L"4 MB|g"})
        window_.AddListItem(list, row, L"|");
    auto column = [&](int index) {
        std::wstring cells;
        for (int row = 0; row < 7; ++row)
            cells += Cell(handle, row, index) + L" ";
        return cells;
    };

    NMLISTVIEW click{};
    click.hdr.hwndFrom = handle;
    click.hdr.idFrom = static_cast<UINT_PTR>(list);
    click.hdr.code = LVN_COLUMNCLICK;
    click.iItem = -1;
    click.iSubItem = 0;
    SendMessageW(window_.Handle(), WM_NOTIFY, list, reinterpret_cast<LPARAM>(&click));
    EXPECT_EQ(L"9 KB 10 KB 2 MB 3 MB 4 MB 7 GB 5 TB ", column(0));

    HDITEMW header{};
    header.mask = HDI_FORMAT;
    HWND headerHandle = reinterpret_cast<HWND>(SendMessageW(handle, LVM_GETHEADER, 0, 0));
    SendMessageW(headerHandle, HDM_GETITEMW, 0, reinterpret_cast<LPARAM>(&header));
    EXPECT_TRUE(header.fmt & HDF_SORTUP) << "format " << header.fmt;

    SendMessageW(window_.Handle(), WM_NOTIFY, list, reinterpret_cast<LPARAM>(&click));
    EXPECT_EQ(L"5 TB 7 GB 4 MB 3 MB 2 MB 10 KB 9 KB ", column(0)) << "the second click sorts descending";
    EXPECT_EQ(L"f e g d a b c ", column(1)) << "rows move whole";
    SendMessageW(headerHandle, HDM_GETITEMW, 0, reinterpret_cast<LPARAM>(&header));
    EXPECT_TRUE(header.fmt & HDF_SORTDOWN) << "format " << header.fmt;
}

// A password read again into the same holder leaves nothing of the earlier
// one anywhere in the allocation, and wiping clears all of it.
TEST_F(Toolkit, SecretTextWipesItsWholeAllocation)
{
    int32_t field = window_.AddEdit(L"", 10, 40, 200, WS_VISIBLE | ES_PASSWORD);
    const std::wstring first = L"a long secret typed first";
    window_.SetText(field, first.c_str());
    SecretText secret;
    ASSERT_TRUE(ReadSecretField(window_, field, secret));
    EXPECT_EQ(first, secret.Text());
    const size_t capacity = secret.Capacity();
    EXPECT_EQ(first.size() + 1, capacity);

    window_.SetText(field, L"ab");
    ASSERT_TRUE(ReadSecretField(window_, field, secret));
    EXPECT_STREQ(L"ab", secret.Text());
    ASSERT_EQ(capacity, secret.Capacity()) << "a shorter text keeps the allocation";
    const wchar_t* units = secret.Text();
    for (size_t i = 2; i < capacity; ++i)
        EXPECT_EQ(L'\0', units[i]) << "unit " << i << " still holds the earlier secret";

    secret.Wipe();
    for (size_t i = 0; i < capacity; ++i)
        EXPECT_EQ(L'\0', units[i]) << "unit " << i;
    EXPECT_STREQ(L"", secret.Text());
    EXPECT_FALSE(ReadSecretField(window_, field + 1000, secret));
    EXPECT_STREQ(L"", secret.Text());
}

TEST_F(Toolkit, TextsTipsFontsAndAutoWidthLabels)
{
    int32_t label = window_.AddLabel(L"Tom & Jerry", 10, 10, -1, 18, -1);
    const ControlEntry* entry = window_.Control(label);
    ASSERT_NE(nullptr, entry);
    EXPECT_TRUE(GetWindowLongW(entry->handle, GWL_STYLE) & SS_NOPREFIX) << "an \"&\" in a label is shown as it is";
    window_.SetText(label, L"Hi");
    int narrow = entry->width;
    window_.SetText(label, L"A much longer text than before");
    EXPECT_GT(entry->width, narrow + 50) << "an automatic-width label follows its text";
    RECT rect;
    GetWindowRect(entry->handle, &rect);
    EXPECT_EQ(entry->width, rect.right - rect.left);

    int32_t edit = window_.AddEdit(L"start", 10, 40, 200, -1);
    window_.SetText(edit, L"changed");
    EXPECT_STREQ(L"changed", window_.GetText(edit).Text());
    EXPECT_TRUE(GetWindowLongW(Handle(edit), GWL_STYLE) & WS_TABSTOP);
    int32_t readOnly = window_.AddEdit(L"", 10, 70, 200, WS_VISIBLE | ES_READONLY);
    EXPECT_FALSE(GetWindowLongW(Handle(readOnly), GWL_STYLE) & WS_TABSTOP);

    EXPECT_TRUE(window_.SetTip(edit, L"first tip"));
    EXPECT_TRUE(window_.SetTip(edit, L"second tip")) << "changing a tip";
    EXPECT_TRUE(window_.SetFont(edit, 12.0, 800, FontAttributes::Underline, L"Arial"));
    LOGFONTW font{};
    GetObjectW(reinterpret_cast<HFONT>(SendMessageW(Handle(edit), WM_GETFONT, 0, 0)), sizeof(font), &font);
    EXPECT_EQ(800, font.lfWeight);
    EXPECT_TRUE(font.lfUnderline);
    EXPECT_STREQ(L"Arial", font.lfFaceName);

    EXPECT_TRUE(window_.DeleteControl(edit));
    EXPECT_EQ(nullptr, window_.Control(edit));
    EXPECT_FALSE(window_.SetText(edit, L"gone"));
    EXPECT_FALSE(window_.SetFont(edit, 12.0, 400, 0, L"Arial"));
    EXPECT_FALSE(window_.GetText(edit).Valid());
}

TEST_F(Toolkit, DragHandleLabelLetsThePressThrough)
{
    window_.SetNextBehaviour(Behaviour::DragHandle);
    int32_t handle = window_.AddLabel(L"", 0, 0, 640, 80, -1);
    window_.SetNextBehaviour(0);
    EXPECT_FALSE(GetWindowLongW(Handle(handle), GWL_STYLE) & SS_NOTIFY);
    int32_t other = window_.AddLabel(L"click me", 0, 100, 100, 18, -1);
    EXPECT_TRUE(GetWindowLongW(Handle(other), GWL_STYLE) & SS_NOTIFY);
}

TEST_F(Toolkit, RadioButtonsOfOneGroupCheckOneAtATimeAndReportTheirIds)
{
    window_.StartNewGroup();
    int32_t first = window_.AddRadioButton(L"One", 10, 10, 80, 18);
    int32_t second = window_.AddRadioButton(L"Two", 100, 10, 80, 18);
    window_.StartNewGroup();
    int32_t button = window_.AddButton(L"After", 10, 40, 80, 22, -1);
    ASSERT_TRUE(first > 0 && second > 0 && button > 0);
    window_.SetState(first, StateFlags::Check);
    EXPECT_NE(0u, window_.GetState(first) & StateFlags::Check);
    EXPECT_NE(0u, window_.GetState(second) & StateFlags::Uncheck);
    Drain();
    SendMessageW(Handle(second), BM_CLICK, 0, 0);
    std::vector<int32_t> events = Drain();
    EXPECT_EQ(1u, Count(events, second));
    EXPECT_NE(0u, window_.GetState(second) & StateFlags::Check) << "the clicked one is checked";
    EXPECT_NE(0u, window_.GetState(first) & StateFlags::Uncheck) << "the other one of its group is not";
}

TEST_F(Toolkit, PictureControlsAreReplacedInPlace)
{
    // Device bitmaps: the control takes a 32-bit DIB with alpha as a copy of its own.
    auto bitmap = [](int side = 48) {
        HDC screen = GetDC(nullptr);
        UniqueBitmap made(CreateCompatibleBitmap(screen, side, side));
        ReleaseDC(nullptr, screen);
        return made;
    };
    int32_t picture = window_.AddPicture(nullptr, 10, 10, 48, 48, -1);
    ASSERT_GT(picture, 0);
    EXPECT_TRUE(window_.SetPictureBitmap(picture, bitmap()));
    EXPECT_TRUE(window_.SetPictureBitmap(picture, bitmap()));
    EXPECT_EQ(window_.Control(picture)->bitmap.Get(),
              reinterpret_cast<HBITMAP>(SendMessageW(Handle(picture), STM_GETIMAGE, IMAGE_BITMAP, 0)));
    EXPECT_FALSE(window_.SetPictureBitmap(picture, UniqueBitmap()));
    int32_t label = window_.AddLabel(L"not a picture", 10, 70, 100, 18, -1);
    EXPECT_FALSE(window_.SetPictureBitmap(label, bitmap()));

    // Moved to a screen of 150 %: a picture with a source is drawn again at
    // the new size of its control, one set by hand is kept as it is.
    int32_t drawn = window_.AddPicture(nullptr, 70, 10, 48, 48, -1);
    ASSERT_TRUE(window_.SetPictureSource(drawn, [&](const UiWindow& shown) { return bitmap(shown.Scale(48)); }));
    HBITMAP byHand = window_.Control(picture)->bitmap.Get();
    RECT frame{};
    GetWindowRect(window_.Handle(), &frame);
    SendMessageW(window_.Handle(), WM_DPICHANGED, MAKEWPARAM(144, 144), reinterpret_cast<LPARAM>(&frame));
    BITMAP shown{};
    GetObjectW(reinterpret_cast<HBITMAP>(SendMessageW(Handle(drawn), STM_GETIMAGE, IMAGE_BITMAP, 0)), sizeof(shown),
               &shown);
    RECT place{};
    GetClientRect(Handle(drawn), &place);
    EXPECT_EQ((std::vector<LONG>{72, 72, 72, 72}), (std::vector<LONG>{shown.bmWidth, shown.bmHeight, place.right, place.bottom}));
    EXPECT_EQ(byHand, window_.Control(picture)->bitmap.Get());
}
