// The toolkit's list views: their creation, rows, cells, images and names
// for screen readers, and the helpers that work on any list's handle.
#include "ui/list_views.h"

#include <cstddef>

#include "ui/window.h"

namespace {

// The list's image list, made on first use and given to both of its views.
HIMAGELIST ListImages(ControlEntry& list, int size)
{
    if (!list.images) {
        list.images.Reset(ImageList_Create(size, size, ILC_COLOR32, 4, 4));
        if (!list.images)
            return nullptr;
        SendMessageW(list.handle, LVM_SETIMAGELIST, LVSIL_SMALL, reinterpret_cast<LPARAM>(list.images.Get()));
        SendMessageW(list.handle, LVM_SETIMAGELIST, LVSIL_NORMAL, reinterpret_cast<LPARAM>(list.images.Get()));
    }
    return list.images.Get();
}

}  // namespace

int32_t UiWindow::AddListView(const wchar_t* columnsText, int x, int y, int width, int height, LONG style,
                              LONG exStyle)
{
    ControlEntry* entry = NewEntry();
    if (entry == nullptr)
        return 0;
    entry->kind = ControlKind::ListView;
    DWORD extra = style == kDefaultStyle ? WS_VISIBLE | LVS_REPORT | LVS_SINGLESEL | LVS_SHOWSELALWAYS
                              : static_cast<DWORD>(style);
    // The toolkit owns the image lists, so the list must not destroy them.
    // A list is always a stop of the Tab key: the keyboard chooses its rows.
    HWND list = CreateControl(*entry, WC_LISTVIEWW, L"", WS_CHILD | WS_TABSTOP | extra | LVS_SHAREIMAGELISTS,
                              WS_EX_CLIENTEDGE, x, y, width, height);
    if (list == nullptr)
        return 0;
    if (exStyle != -1 && exStyle != 0)
        SendMessageW(list, LVM_SETEXTENDEDLISTVIEWSTYLE, static_cast<WPARAM>(exStyle), exStyle);

    StringList titles;
    titles.Split(columnsText, L"|");
    int columnWidth = Scale(titles.Count() > 0 ? (width - 4) / static_cast<int>(titles.Count()) : width);
    for (uint32_t i = 0; columnsText != nullptr && *columnsText != L'\0' && i < titles.Count(); ++i) {
        LVCOLUMNW column{};
        column.mask = LVCF_TEXT | LVCF_WIDTH | LVCF_SUBITEM;
        column.pszText = const_cast<wchar_t*>(titles[i]);
        column.cx = columnWidth;
        column.iSubItem = static_cast<int>(i);
        SendMessageW(list, LVM_INSERTCOLUMNW, i, reinterpret_cast<LPARAM>(&column));
    }
    NameList(entry->id, nullptr);
    return entry->id;
}

int UiWindow::AddListItem(int32_t listId, const wchar_t* rowText, const wchar_t* separator)
{
    ControlEntry* list = Entry(listId);
    if (list == nullptr || list->kind != ControlKind::ListView)
        return -1;
    StringList cells;
    cells.Split(rowText, separator);

    LVITEMW item{};
    item.mask = LVIF_TEXT;
    item.iItem = static_cast<int>(SendMessageW(list->handle, LVM_GETITEMCOUNT, 0, 0));
    item.pszText = const_cast<wchar_t*>(cells[0]);
    auto index = static_cast<int>(SendMessageW(list->handle, LVM_INSERTITEMW, 0, reinterpret_cast<LPARAM>(&item)));
    if (index < 0)
        return -1;
    for (uint32_t column = 1; column < cells.Count(); ++column) {
        SetListCellText(list->handle, index, static_cast<int>(column), cells[column]);
    }
    return index;
}

int UiWindow::GetSelectedItem(int32_t listId)
{
    ControlEntry* list = Entry(listId);
    if (list == nullptr || list->kind != ControlKind::ListView)
        return -1;
    return static_cast<int>(SendMessageW(list->handle, LVM_GETNEXTITEM, static_cast<WPARAM>(-1), LVNI_SELECTED));
}

bool UiWindow::DeleteAllItems(int32_t listId)
{
    ControlEntry* list = Entry(listId);
    return list != nullptr && list->kind == ControlKind::ListView &&
           SendMessageW(list->handle, LVM_DELETEALLITEMS, 0, 0) != 0;
}

bool UiWindow::SetColumnWidth(int32_t listId, int column, int width)
{
    ControlEntry* list = Entry(listId);
    return list != nullptr && list->kind == ControlKind::ListView &&
           SendMessageW(list->handle, LVM_SETCOLUMNWIDTH, column, Scale(width)) != 0;
}

int UiWindow::AddListImage(int32_t listId, HBITMAP bitmap, int size)
{
    ControlEntry* list = Entry(listId);
    if (list == nullptr || list->kind != ControlKind::ListView || bitmap == nullptr)
        return -1;
    HIMAGELIST images = ListImages(*list, size);
    return images != nullptr ? ImageList_Add(images, bitmap, nullptr) : -1;
}

int UiWindow::SetListIcon(int32_t listId, int index, HICON icon, int size)
{
    ControlEntry* list = Entry(listId);
    if (list == nullptr || list->kind != ControlKind::ListView || icon == nullptr)
        return -1;
    if (!list->images && index != -1)
        return -1;   // nothing to replace yet
    HIMAGELIST images = ListImages(*list, size);
    return images != nullptr ? ImageList_ReplaceIcon(images, index, icon) : -1;
}

bool UiWindow::ReplaceListImage(int32_t listId, int index, HBITMAP bitmap)
{
    ControlEntry* list = Entry(listId);
    return list != nullptr && list->images && bitmap != nullptr &&
           ImageList_Replace(list->images.Get(), index, bitmap, nullptr) != FALSE;
}

bool UiWindow::RemoveListImage(int32_t listId, int index)
{
    ControlEntry* list = Entry(listId);
    return list != nullptr && list->images && ImageList_Remove(list->images.Get(), index) != FALSE;
}

bool UiWindow::SetListImageCount(int32_t listId, int count)
{
    ControlEntry* list = Entry(listId);
    return list != nullptr && list->images && count >= 0 &&
           ImageList_SetImageCount(list->images.Get(), static_cast<UINT>(count)) != FALSE;
}

int UiWindow::ListImageCount(int32_t listId) const
{
    const ControlEntry* list = Control(listId);
    return list != nullptr && list->images ? ImageList_GetImageCount(list->images.Get()) : 0;
}

bool UiWindow::SetItemImage(int32_t listId, int item, int imageIndex)
{
    ControlEntry* list = Entry(listId);
    if (list == nullptr || list->kind != ControlKind::ListView)
        return false;
    LVITEMW change{};
    change.mask = LVIF_IMAGE;
    change.iItem = item;
    change.iImage = imageIndex;
    return SendMessageW(list->handle, LVM_SETITEMW, 0, reinterpret_cast<LPARAM>(&change)) != 0;
}

bool UiWindow::NameList(int32_t listId, const wchar_t* name, std::vector<int> columns)
{
    const ControlEntry* list = Control(listId);
    if (list == nullptr || list->kind != ControlKind::ListView)
        return false;
    if (columns.empty()) {
        // Whatever the view shows, a screen reader reads every cell of a row.
        auto header = reinterpret_cast<HWND>(SendMessageW(list->handle, LVM_GETHEADER, 0, 0));
        int count = header != nullptr ? static_cast<int>(SendMessageW(header, HDM_GETITEMCOUNT, 0, 0)) : 0;
        for (int column = 0; column < count; ++column)
            columns.push_back(column);
    }
    return ExposeListRows(list->handle, name, std::move(columns));
}

WString ListCellText(HWND list, int row, int column)
{
    WString text;
    text.Assign(L"");
    if (list == nullptr || row < 0)
        return text;
    // The list copies what fits and says how much it copied: a copy that
    // fills the buffer may have been cut, so it is asked again, larger.
    for (uint32_t capacity = 256; capacity <= (1u << 20); capacity *= 4) {
        wchar_t* buffer = text.GetBuffer(capacity, nullptr, true);
        if (buffer == nullptr)
            return WString(L"");
        LVITEMW cell{};
        cell.iSubItem = column;
        cell.pszText = buffer;
        cell.cchTextMax = static_cast<int>(capacity);
        auto copied = static_cast<uint32_t>(SendMessageW(list, LVM_GETITEMTEXTW, row, reinterpret_cast<LPARAM>(&cell)));
        if (copied + 1 < capacity) {
            text.Length();   // measured afresh: the buffer was written directly
            return text;
        }
    }
    return WString(L"");
}

bool SetListCellText(HWND list, int row, int column, const wchar_t* text)
{
    if (list == nullptr || row < 0)
        return false;
    LVITEMW cell{};
    cell.iSubItem = column;
    cell.pszText = const_cast<wchar_t*>(text != nullptr ? text : L"");
    return SendMessageW(list, LVM_SETITEMTEXTW, row, reinterpret_cast<LPARAM>(&cell)) != FALSE;
}

void SetListTileColumn(HWND list, int row, UINT column, double osVersion)
{
    UINT columns[] = {column};
    int formats[] = {LVCFMT_LEFT};
    LVTILEINFO tile{};
    // Before 6.0 the record ends before the column formats.
    tile.cbSize = osVersion < 6.0 ? static_cast<UINT>(offsetof(LVTILEINFO, piColFmt)) : sizeof(tile);
    tile.iItem = row;
    tile.cColumns = 1;
    tile.puColumns = columns;
    tile.piColFmt = formats;
    SendMessageW(list, LVM_SETTILEINFO, 0, reinterpret_cast<LPARAM>(&tile));
}
