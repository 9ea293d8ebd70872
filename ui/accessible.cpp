// The accessible object of a drawn control, and the subclass that hands it
// out and shows the control's keyboard focus.
#include "ui/accessible.h"

#include <commctrl.h>
#include <oleacc.h>

#include <new>
#include <string>

#include "ui/window.h"

namespace {

constexpr UINT_PTR kAccessibleSubclassId = 0x41;   // beside the toolkit's own subclass of the window
// Where the control keeps what it says, so that a second call can replace it.
constexpr wchar_t kProperty[] = L"Vantrell.DrawnControl";

constexpr long kListItemRole = 0x22;   // ROLE_SYSTEM_LISTITEM

struct DrawnControl {
    std::wstring name;
    DrawnRole role;
    std::shared_ptr<const CheckControlData> check;
    std::vector<int> columns;   // a list's: the cells that name a row
    bool drawsFocus = false;    // a static control, which shows no focus of its own
    int accessMark = -1;        // the character of `name` marked while access keys show
};

// A second underline, below the text's own, under the access key's
// character; the text starts at the control's corner.
void DrawAccessMark(HWND control, const DrawnControl& what)
{
    if (what.accessMark < 0 || static_cast<size_t>(what.accessMark) >= what.name.size() ||
        (SendMessageW(GetParent(control), WM_QUERYUISTATE, 0, 0) & UISF_HIDEACCEL) != 0)
        return;
    HDC dc = GetDC(control);
    if (dc == nullptr)
        return;
    HGDIOBJ oldFont = SelectObject(dc, reinterpret_cast<HFONT>(SendMessageW(control, WM_GETFONT, 0, 0)));
    SIZE before{}, letter{};
    TEXTMETRICW metrics{};
    if (GetTextExtentPoint32W(dc, what.name.c_str(), what.accessMark, &before) &&
        GetTextExtentPoint32W(dc, what.name.c_str() + what.accessMark, 1, &letter) && GetTextMetricsW(dc, &metrics)) {
        const int thickness = metrics.tmHeight >= 30 ? 3 : 2;
        RECT mark{before.cx, metrics.tmHeight, before.cx + letter.cx, metrics.tmHeight + thickness};
        // The colour the link's text has under Wine; on Windows a blue as well.
        FillRect(dc, &mark, GetSysColorBrush(COLOR_HIGHLIGHT));
    }
    SelectObject(dc, oldFont);
    ReleaseDC(control, dc);
}

bool IsSelf(const VARIANT& child) { return child.vt == VT_I4 && child.lVal == CHILDID_SELF; }

constexpr int kSelf = -1;
constexpr int kNoSuchChild = -2;

// Lives as long as a screen reader holds it, which may be longer than the
// control: everything it says is read from the window handle, which then
// simply fails.
class DrawnAccessible final : public IAccessible {
public:
    DrawnAccessible(HWND control, const DrawnControl& what) : control_(control), what_(what) {}

    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID iid, void** out) override
    {
        if (out == nullptr)
            return E_POINTER;
        *out = nullptr;
        if (iid != IID_IUnknown && iid != IID_IDispatch && iid != __uuidof(IAccessible))
            return E_NOINTERFACE;
        *out = static_cast<IAccessible*>(this);
        AddRef();
        return S_OK;
    }
    ULONG STDMETHODCALLTYPE AddRef() override { return static_cast<ULONG>(InterlockedIncrement(&references_)); }
    ULONG STDMETHODCALLTYPE Release() override
    {
        LONG left = InterlockedDecrement(&references_);
        if (left == 0)
            delete this;
        return static_cast<ULONG>(left);
    }

    // No type library: screen readers call the interface directly.
    HRESULT STDMETHODCALLTYPE GetTypeInfoCount(UINT* count) override
    {
        if (count != nullptr)
            *count = 0;
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE GetTypeInfo(UINT, LCID, ITypeInfo**) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE GetIDsOfNames(REFIID, LPOLESTR*, UINT, LCID, DISPID*) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE Invoke(DISPID, REFIID, LCID, WORD, DISPPARAMS*, VARIANT*, EXCEPINFO*, UINT*) override
    {
        return E_NOTIMPL;
    }

    HRESULT STDMETHODCALLTYPE get_accParent(IDispatch** parent) override
    {
        if (parent == nullptr)
            return E_POINTER;
        *parent = nullptr;
        return CreateStdAccessibleObject(control_, OBJID_WINDOW, IID_IDispatch, reinterpret_cast<void**>(parent));
    }
    HRESULT STDMETHODCALLTYPE get_accChildCount(long* count) override
    {
        if (count == nullptr)
            return E_POINTER;
        *count = IsList() ? static_cast<long>(SendMessageW(control_, LVM_GETITEMCOUNT, 0, 0)) : 0;
        return S_OK;
    }
    // Rows are simple elements: they have no object of their own.
    HRESULT STDMETHODCALLTYPE get_accChild(VARIANT child, IDispatch** object) override
    {
        if (object != nullptr)
            *object = nullptr;
        return Row(child) >= 0 ? S_FALSE : E_INVALIDARG;
    }
    HRESULT STDMETHODCALLTYPE get_accName(VARIANT child, BSTR* name) override
    {
        int row = Row(child);
        if (row < 0)
            return Text(child, name, what_.name.c_str());
        std::wstring said;
        for (int column : what_.columns) {
            WString cell = ListCellText(control_, row, column);
            if (cell.IsEmpty())
                continue;
            said += (said.empty() ? L"" : L", ");
            said += cell.Text();
        }
        return Answer(name, said.c_str());
    }
    HRESULT STDMETHODCALLTYPE get_accValue(VARIANT child, BSTR* value) override
    {
        if (what_.role != DrawnRole::ComboBox)
            return Text(child, value, nullptr);
        wchar_t choice[256] = L"";
        GetWindowTextW(control_, choice, ARRAYSIZE(choice));
        return Text(child, value, choice);
    }
    HRESULT STDMETHODCALLTYPE get_accDescription(VARIANT child, BSTR* text) override
    {
        return Text(child, text, nullptr);
    }
    HRESULT STDMETHODCALLTYPE get_accRole(VARIANT child, VARIANT* role) override
    {
        int row = kNoSuchChild;
        if (HRESULT refused = Begin(child, role, row); refused != S_OK)
            return refused;
        role->vt = VT_I4;
        role->lVal = row >= 0 ? kListItemRole : static_cast<long>(what_.role);
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE get_accState(VARIANT child, VARIANT* state) override
    {
        int row = kNoSuchChild;
        if (HRESULT refused = Begin(child, state, row); refused != S_OK)
            return refused;
        if (row >= 0) {
            auto rowState = static_cast<UINT>(SendMessageW(control_, LVM_GETITEMSTATE, static_cast<WPARAM>(row),
                                                           LVIS_SELECTED | LVIS_FOCUSED | LVIS_STATEIMAGEMASK));
            long flags = STATE_SYSTEM_SELECTABLE | STATE_SYSTEM_FOCUSABLE;
            if ((rowState & LVIS_STATEIMAGEMASK) == INDEXTOSTATEIMAGEMASK(2))   // a ticked check box
                flags |= STATE_SYSTEM_CHECKED;
            if (rowState & LVIS_SELECTED)
                flags |= STATE_SYSTEM_SELECTED;
            if ((rowState & LVIS_FOCUSED) && GetFocus() == control_)
                flags |= STATE_SYSTEM_FOCUSED;
            state->vt = VT_I4;
            state->lVal = flags;
            return S_OK;
        }
        long flags = STATE_SYSTEM_FOCUSABLE;
        if (GetFocus() == control_)
            flags |= STATE_SYSTEM_FOCUSED;
        if (!IsWindowEnabled(control_))
            flags |= STATE_SYSTEM_UNAVAILABLE;
        if (!IsWindowVisible(control_))
            flags |= STATE_SYSTEM_INVISIBLE;
        if (what_.role == DrawnRole::Link)
            flags |= STATE_SYSTEM_LINKED;
        if (what_.check != nullptr && what_.check->state == StateFlags::Check)
            flags |= STATE_SYSTEM_CHECKED;
        if (what_.role == DrawnRole::ComboBox)
            flags |= SendMessageW(control_, CB_GETDROPPEDSTATE, 0, 0) ? STATE_SYSTEM_EXPANDED : STATE_SYSTEM_COLLAPSED;
        state->vt = VT_I4;
        state->lVal = flags;
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE get_accHelp(VARIANT child, BSTR* help) override { return Text(child, help, nullptr); }
    HRESULT STDMETHODCALLTYPE get_accHelpTopic(BSTR* file, VARIANT, long* topic) override
    {
        if (file != nullptr)
            *file = nullptr;
        if (topic != nullptr)
            *topic = 0;
        return S_FALSE;
    }
    HRESULT STDMETHODCALLTYPE get_accKeyboardShortcut(VARIANT child, BSTR* keys) override
    {
        return Text(child, keys, nullptr);
    }
    HRESULT STDMETHODCALLTYPE get_accFocus(VARIANT* focus) override
    {
        if (focus == nullptr)
            return E_POINTER;
        VariantInit(focus);
        if (GetFocus() != control_)
            return S_FALSE;
        focus->vt = VT_I4;
        focus->lVal = CHILDID_SELF;
        if (IsList())
            focus->lVal = ChildOfRow(ListNext(LVNI_FOCUSED), CHILDID_SELF);
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE get_accSelection(VARIANT* selection) override
    {
        if (selection == nullptr)
            return E_POINTER;
        VariantInit(selection);
        long selected = IsList() ? ChildOfRow(ListNext(LVNI_SELECTED), CHILDID_SELF) : CHILDID_SELF;
        if (selected == CHILDID_SELF)
            return S_FALSE;
        selection->vt = VT_I4;
        selection->lVal = selected;
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE get_accDefaultAction(VARIANT child, BSTR* action) override
    {
        const wchar_t* verb = what_.role == DrawnRole::Link       ? L"Jump"
                              : what_.role == DrawnRole::ComboBox ? L"Open"
                              : what_.check != nullptr            ? L"Check"
                                                                  : L"Press";
        if (what_.check != nullptr && what_.check->state == StateFlags::Check)
            verb = L"Uncheck";
        return Text(child, action, verb);
    }
    HRESULT STDMETHODCALLTYPE accSelect(long, VARIANT) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE accLocation(long* left, long* top, long* width, long* height, VARIANT child) override
    {
        RECT frame{};
        if (left == nullptr || top == nullptr || width == nullptr || height == nullptr)
            return E_POINTER;
        int row = Row(child);
        if (row == kNoSuchChild)
            return E_INVALIDARG;
        if (row >= 0) {
            frame.left = LVIR_BOUNDS;
            if (!SendMessageW(control_, LVM_GETITEMRECT, static_cast<WPARAM>(row), reinterpret_cast<LPARAM>(&frame)))
                return E_FAIL;
            MapWindowPoints(control_, nullptr, reinterpret_cast<POINT*>(&frame), 2);
        } else if (!GetWindowRect(control_, &frame)) {
            return E_FAIL;
        }
        *left = frame.left;
        *top = frame.top;
        *width = frame.right - frame.left;
        *height = frame.bottom - frame.top;
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE accNavigate(long, VARIANT, VARIANT* end) override
    {
        if (end != nullptr)
            VariantInit(end);
        return S_FALSE;
    }
    HRESULT STDMETHODCALLTYPE accHitTest(long x, long y, VARIANT* hit) override
    {
        if (hit == nullptr)
            return E_POINTER;
        VariantInit(hit);
        RECT frame{};
        if (!GetWindowRect(control_, &frame) || !PtInRect(&frame, POINT{x, y}))
            return S_FALSE;
        hit->vt = VT_I4;
        hit->lVal = CHILDID_SELF;
        if (IsList()) {
            LVHITTESTINFO test{};
            test.pt = POINT{x, y};
            ScreenToClient(control_, &test.pt);
            hit->lVal = ChildOfRow(static_cast<int>(SendMessageW(control_, LVM_HITTEST, 0, reinterpret_cast<LPARAM>(&test))),
                                   CHILDID_SELF);
        }
        return S_OK;
    }
    // As a click: the window reports the control's event.
    HRESULT STDMETHODCALLTYPE accDoDefaultAction(VARIANT child) override
    {
        if (!IsSelf(child))
            return E_INVALIDARG;
        if (!IsWindowEnabled(control_) || !IsWindowVisible(control_))
            return E_FAIL;
        if (what_.role == DrawnRole::ComboBox)
            return PostMessageW(control_, CB_SHOWDROPDOWN, TRUE, 0) ? S_OK : E_FAIL;
        auto id = static_cast<WORD>(GetDlgCtrlID(control_));
        return PostMessageW(GetParent(control_), WM_COMMAND, MAKEWPARAM(id, STN_CLICKED),
                            reinterpret_cast<LPARAM>(control_))
                   ? S_OK
                   : E_FAIL;
    }
    HRESULT STDMETHODCALLTYPE put_accName(VARIANT, BSTR) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE put_accValue(VARIANT, BSTR) override { return E_NOTIMPL; }

private:
    ~DrawnAccessible() = default;

    bool IsList() const { return what_.role == DrawnRole::List; }

    // The common start of a question about `child`: the answer emptied and
    // the child's row found; anything but S_OK refuses the question.
    HRESULT Begin(const VARIANT& child, VARIANT* answer, int& row) const
    {
        if (answer == nullptr)
            return E_POINTER;
        VariantInit(answer);
        row = Row(child);
        return row == kNoSuchChild ? E_INVALIDARG : S_OK;
    }

    // kSelf, a row of a list, or kNoSuchChild.
    int Row(const VARIANT& child) const
    {
        if (IsSelf(child))
            return kSelf;
        if (child.vt != VT_I4 || !IsList() || child.lVal < 1 ||
            child.lVal > static_cast<long>(SendMessageW(control_, LVM_GETITEMCOUNT, 0, 0)))
            return kNoSuchChild;
        return static_cast<int>(child.lVal - 1);
    }
    int ListNext(UINT which) const
    {
        return static_cast<int>(SendMessageW(control_, LVM_GETNEXTITEM, static_cast<WPARAM>(-1), which));
    }
    static long ChildOfRow(int row, long otherwise) { return row >= 0 ? row + 1 : otherwise; }

    // S_FALSE with no text where the control has none to give.
    static HRESULT Text(const VARIANT& child, BSTR* out, const wchar_t* text)
    {
        if (out == nullptr)
            return E_POINTER;
        *out = nullptr;
        if (!IsSelf(child))
            return E_INVALIDARG;
        return Answer(out, text);
    }
    static HRESULT Answer(BSTR* out, const wchar_t* text)
    {
        if (out == nullptr)
            return E_POINTER;
        *out = nullptr;
        if (text == nullptr)
            return S_FALSE;
        *out = SysAllocString(text);
        return *out != nullptr ? S_OK : E_OUTOFMEMORY;
    }

    LONG references_ = 1;
    HWND control_;        // not owned
    DrawnControl what_;
};

LRESULT CALLBACK DrawnControlProcedure(HWND control, UINT message, WPARAM wParam, LPARAM lParam, UINT_PTR id,
                                       DWORD_PTR data)
{
    auto* what = reinterpret_cast<DrawnControl*>(data);
    switch (message) {
    case WM_GETOBJECT:
        if (static_cast<LONG>(lParam) == OBJID_CLIENT) {
            auto* object = new (std::nothrow) DrawnAccessible(control, *what);
            if (object == nullptr)
                break;
            LRESULT result = LresultFromObject(__uuidof(IAccessible), wParam, object);
            object->Release();   // the result holds its own reference
            return result;
        }
        break;
    case WM_SETFOCUS:
    case WM_KILLFOCUS:
        if (what->drawsFocus)
            InvalidateRect(control, nullptr, TRUE);
        break;
    case WM_PAINT: {
        LRESULT result = DefSubclassProc(control, message, wParam, lParam);
        DrawAccessMark(control, *what);
        if (GetFocus() == control && what->drawsFocus) {
            // Drawn over what the control painted, inside its edge.
            RECT client{};
            GetClientRect(control, &client);
            if (HDC dc = GetDC(control)) {
                DrawFocusRect(dc, &client);
                ReleaseDC(control, dc);
            }
        }
        return result;
    }
    case WM_NCDESTROY:
        RemoveWindowSubclass(control, DrawnControlProcedure, id);
        RemovePropW(control, kProperty);
        delete what;
        break;
    default:
        break;
    }
    return DefSubclassProc(control, message, wParam, lParam);
}

bool Expose(HWND control, DrawnControl* what)
{
    if (control == nullptr || what == nullptr) {
        delete what;
        return false;
    }
    wchar_t className[16] = L"";
    GetClassNameW(control, className, ARRAYSIZE(className));
    what->drawsFocus = _wcsicmp(className, L"Static") == 0;
    // A second call replaces what the first said.
    auto* earlier = static_cast<DrawnControl*>(GetPropW(control, kProperty));
    if (!SetPropW(control, kProperty, what)) {
        delete what;
        return false;
    }
    if (!SetWindowSubclass(control, DrawnControlProcedure, kAccessibleSubclassId, reinterpret_cast<DWORD_PTR>(what))) {
        if (earlier != nullptr)
            SetPropW(control, kProperty, earlier);
        else
            RemovePropW(control, kProperty);
        delete what;
        return false;
    }
    delete earlier;
    return true;
}

}  // namespace

bool ExposeDrawnControl(HWND control, const wchar_t* name, DrawnRole role, std::shared_ptr<const CheckControlData> check)
{
    return Expose(control, new (std::nothrow) DrawnControl{name != nullptr ? name : L"", role, std::move(check), {}});
}

bool MarkAccessKey(HWND control, int position)
{
    auto* what = control != nullptr ? static_cast<DrawnControl*>(GetPropW(control, kProperty)) : nullptr;
    if (what == nullptr)
        return false;
    what->accessMark = position;
    return true;
}

bool ExposeListRows(HWND list, const wchar_t* name, std::vector<int> columns)
{
    return Expose(list, new (std::nothrow)
                            DrawnControl{name != nullptr ? name : L"", DrawnRole::List, nullptr, std::move(columns)});
}
