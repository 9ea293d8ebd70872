// The dialog in which the operator makes, renames, describes and deletes the
// computer's local groups; the system's own groups keep their names and stay.
#include <windows.h>
#include <commctrl.h>

#include <string>
#include <vector>

#include "app/dialogs/account_dialogs.h"
#include "accounts/groups.h"
#include "accounts/lifecycle_rules.h"
#include "ui/dialog.h"
#include "ui/message_box.h"
#include "ui/window.h"

namespace {

// The dialog's own sizes and colours, in a namespace named for it: the
// dialogs are compiled together, in one unity batch.
namespace local_groups {

constexpr int kWidth = 480;
constexpr int kHeight = 380;
constexpr int kBoxHeight = 200;
constexpr LONG kFieldStyle = WS_VISIBLE | WS_BORDER | WS_TABSTOP | ES_AUTOHSCROLL;

}  // namespace local_groups

struct LocalGroupsView {
    int32_t list = 0;
    int32_t name = 0;
    int32_t description = 0;
    int32_t create = 0;
    int32_t rename = 0;
    int32_t describe = 0;
    int32_t remove = 0;
    int32_t close = 0;
};

// Fills the list with every group, in the system's order; false (the list
// left empty) when they cannot be read.
bool FillLocalGroups(UiDialog& dialog, const LocalGroupsView& ids, std::vector<LocalGroup>& groups)
{
    dialog.DeleteAllItems(ids.list);
    groups.clear();
    if (!ReadLocalGroupMemberSids(groups))   // names and descriptions: no member is named
        return false;
    for (const LocalGroup& group : groups)
        dialog.AddListItem(ids.list, (std::wstring(group.name.Text()) + L"\x1F" + group.description.Text()).c_str(),
                           L"\x1F");
    return true;
}

// The buttons that need a selected group made on this computer follow the selection.
void FollowGroupSelection(UiDialog& dialog, const LocalGroupsView& ids, const std::vector<LocalGroup>& groups)
{
    const int row = dialog.GetSelectedItem(ids.list);
    const bool selected = row >= 0 && static_cast<size_t>(row) < groups.size();
    const bool own = selected && !IsBuiltinGroupSid(groups[row].sid.Text());
    dialog.SetState(ids.rename, own ? StateFlags::Enable : StateFlags::Disable);
    dialog.SetState(ids.remove, own ? StateFlags::Enable : StateFlags::Disable);
    dialog.SetState(ids.describe, selected ? StateFlags::Enable : StateFlags::Disable);
    if (selected) {
        dialog.SetText(ids.name, groups[row].name.Text());
        dialog.SetText(ids.description, groups[row].description.Text());
    }
}

// The operator's text for what the system answered; null for success.
const wchar_t* Failure(NET_API_STATUS status)
{
    switch (status) {
    case NERR_Success: return nullptr;
    case ERROR_INVALID_ACCOUNT_NAME:
        return L"Sorry, this name cannot be used for a group.\r\nNames have at most 256 characters and none of "
               L"these: \" / \\ [ ] : ; | = , + * ? < > @";
    case ERROR_INVALID_PARAMETER:
        return L"Sorry, a description has at most 256 characters and no tabs or line breaks.";
    case NERR_UserExists:
    case NERR_GroupExists:
    case ERROR_ALIAS_EXISTS: return L"Sorry, an account or another group already has this name.";
    case ERROR_SPECIAL_ACCOUNT: return L"The system's own groups keep their names and stay.";
    default: return L"Sorry, the change could not be made.";
    }
}

}  // namespace

bool LocalGroupsDialog(DialogOwner& owner)
{
    UiDialog dialog(owner);
    if (!dialog.Create(OutlinedLook(local_groups::kWidth, local_groups::kHeight, local_groups::kWidth - 9, local_groups::kHeight - 8)))
        return false;
    int32_t heading = dialog.AddLabel(L"Local groups", 20, 15, 440, 25, WS_VISIBLE | SS_CENTER);
    dialog.SetFont(heading, 16.0, 800, 0, L"Arial");

    LocalGroupsView ids;
    ids.list = dialog.AddListView(L" Group| Description", 20, 50, 440, 170,
                                  WS_VISIBLE | WS_BORDER | WS_TABSTOP | LVS_REPORT | LVS_SINGLESEL | LVS_SHOWSELALWAYS,
                                  LVS_EX_FULLROWSELECT | LVS_EX_DOUBLEBUFFER);
    dialog.SetColumnWidth(ids.list, 0, 170);
    dialog.SetColumnWidth(ids.list, 1, 250);
    dialog.NameList(ids.list, L"Local groups", {0});
    dialog.AddFieldLabel(L"&Name:", 20, 235, 90, 18);
    ids.name = dialog.AddEdit(L"", 115, 232, 345, local_groups::kFieldStyle);
    dialog.AddFieldLabel(L"D&escription:", 20, 265, 90, 18);
    ids.description = dialog.AddEdit(L"", 115, 262, 345, local_groups::kFieldStyle);
    SendMessageW(dialog.ControlHandle(ids.name), EM_LIMITTEXT, kMaxGroupNameLength, 0);
    SendMessageW(dialog.ControlHandle(ids.description), EM_LIMITTEXT, kMaxGroupDescriptionLength, 0);
    ids.create = dialog.AddButton(L"&Create group", 20, 300, 100, 25, kDefaultStyle);
    dialog.SetTip(ids.create, L"Make a new local group with this name and description.");
    ids.rename = dialog.AddButton(L"&Rename", 130, 300, 100, 25, kDefaultStyle);
    dialog.SetTip(ids.rename, L"Give the selected group this name; its members and SID stay.");
    ids.describe = dialog.AddButton(L"&Save description", 240, 300, 110, 25, kDefaultStyle);
    ids.remove = dialog.AddButton(L"&Delete", 360, 300, 100, 25, kDefaultStyle);
    dialog.SetTip(ids.remove, L"Delete the selected group; its members lose the membership.");
    ids.close = dialog.AddButton(L"Close", 360, 340, 100, 25, WS_VISIBLE | WS_TABSTOP | BS_DEFPUSHBUTTON);
    dialog.SetCancel(ids.close);

    std::vector<LocalGroup> groups;
    if (!FillLocalGroups(dialog, ids, groups))
        ThemedMessageBox(L"Sorry, the local groups could not be read.", BoxKind::Ok, local_groups::kBoxHeight, owner);
    FollowGroupSelection(dialog, ids, groups);
    dialog.Show(ids.name);

    bool changed = false;
    dialog.RunModal([&](int32_t event) {
        if (event == ids.close)
            return DialogStep::Done;
        if (event == EventCode::ItemSelected || event == EventCode::ItemDeselected) {
            FollowGroupSelection(dialog, ids, groups);
            return DialogStep::Stay;
        }
        if (event != ids.create && event != ids.rename && event != ids.describe && event != ids.remove)
            return DialogStep::Stay;
        const int row = dialog.GetSelectedItem(ids.list);
        const bool selected = row >= 0 && static_cast<size_t>(row) < groups.size();
        if (event != ids.create && !selected)
            return DialogStep::Stay;
        const WString name = dialog.GetText(ids.name);
        const WString description = dialog.GetText(ids.description);
        NET_API_STATUS status = NERR_Success;
        if (event == ids.create) {
            status = CreateLocalGroup(name.Text(), description.Text());
        } else if (event == ids.rename) {
            status = RenameLocalGroup(groups[row].name.Text(), name.Text());
        } else if (event == ids.describe) {
            status = SetLocalGroupDescription(groups[row].name.Text(), description.Text());
        } else {
            const std::wstring question = L"Delete the group \"" + std::wstring(groups[row].name.Text()) +
                                          L"\"?\r\nIts members lose the membership, and its SID is never made again.";
            if (ThemedMessageBox(question.c_str(), BoxKind::YesNo, local_groups::kBoxHeight, owner) != 1)
                return DialogStep::Stay;
            status = DeleteLocalGroup(groups[row].name.Text());
        }
        if (const wchar_t* failure = Failure(status))
            ThemedMessageBox(failure, BoxKind::Ok, local_groups::kBoxHeight, owner);
        else
            changed = true;
        FillLocalGroups(dialog, ids, groups);
        FollowGroupSelection(dialog, ids, groups);
        return DialogStep::Stay;
    });
    return changed;
}
