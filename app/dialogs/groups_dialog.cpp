// The dialog through which the operator adds the selected account to local
// groups and takes it out of them, built like the program's message boxes.
#include <windows.h>
#include <commctrl.h>

#include <string>
#include <vector>

#include "app/dialogs/account_dialogs.h"
#include "accounts/groups.h"
#include "platform/sid.h"
#include "ui/dialog.h"
#include "ui/message_box.h"
#include "ui/window.h"

namespace {

// The dialog's own sizes and colours, in a namespace named for it: the
// dialogs are compiled together, in one unity batch.
namespace groups {

constexpr int kWidth = 440;
constexpr int kHeight = 330;
constexpr int kBoxHeight = 200;

}  // namespace groups

struct GroupsView {
    int32_t list = 0;
    int32_t choice = 0;
    int32_t add = 0;
    int32_t remove = 0;
    int32_t manage = 0;
    int32_t close = 0;
};

// The groups as the list and the choice show them, in the same order.
struct GroupSides {
    std::vector<std::wstring> member;
    std::vector<std::wstring> other;
    std::vector<std::wstring> memberSids;
};

// Fills the list with the groups the account is in and the choice with the
// others; false (both left empty) when the groups cannot be read.
bool FillGroups(UiDialog& dialog, const GroupsView& ids, const wchar_t* sidText, GroupSides& sides)
{
    sides = GroupSides{};
    dialog.DeleteAllItems(ids.list);
    HWND choice = dialog.ControlHandle(ids.choice);
    SendMessageW(choice, CB_RESETCONTENT, 0, 0);
    std::vector<LocalGroup> groups;
    if (!ReadLocalGroupMemberSids(groups))   // membership by SID: no member is named
        return false;
    for (const LocalGroup& group : groups) {
        bool isMember = false;
        for (const GroupMember& member : group.members)
            isMember = isMember || EqualsNoCase(member.sid.Text(), sidText);
        if (isMember) {
            sides.member.emplace_back(group.name.Text());
            sides.memberSids.emplace_back(group.sid.Text());
            dialog.AddListItem(ids.list, (std::wstring(group.name.Text()) + L"|" + group.sid.Text()).c_str(), L"|");
        } else {
            sides.other.emplace_back(group.name.Text());
            SendMessageW(choice, CB_ADDSTRING, 0, reinterpret_cast<LPARAM>(group.name.Text()));
        }
    }
    SendMessageW(choice, CB_SETCURSEL, 0, 0);
    dialog.SetState(ids.add, sides.other.empty() ? StateFlags::Disable : StateFlags::Enable);
    dialog.SetState(ids.remove, sides.member.empty() ? StateFlags::Disable : StateFlags::Enable);
    return true;
}

}  // namespace

bool GroupsDialog(DialogOwner& owner, HICON accountIcon, const wchar_t* accountName)
{
    LocalSid sid;
    WString sidText;
    if (!AccountNameToSid(accountName, sid, nullptr) || !SidToText(sid.Get(), sidText))
        return false;
    UiDialog dialog(owner);
    if (!dialog.Create(OutlinedLook(groups::kWidth, groups::kHeight, groups::kWidth - 9, groups::kHeight - 8)))
        return false;
    if (accountIcon != nullptr)
        dialog.AddIcon(CopyIcon(accountIcon), 10, 10, 48, 48);   // the control owns its copy
    int32_t heading = dialog.AddLabel(accountName, 68, 20, 352, 25, WS_VISIBLE | SS_CENTER);
    dialog.SetFont(heading, 16.0, 800, 0, L"Arial");

    GroupsView ids;
    dialog.AddFieldLabel(L"&Member of:", 20, 70, 200, 18);
    ids.list = dialog.AddListView(L" Group| SID", 20, 90, 400, 130, WS_VISIBLE | WS_BORDER | WS_TABSTOP | LVS_REPORT |
                                                                       LVS_SINGLESEL | LVS_SHOWSELALWAYS,
                                  LVS_EX_FULLROWSELECT | LVS_EX_DOUBLEBUFFER);
    dialog.SetColumnWidth(ids.list, 0, 170);
    dialog.SetColumnWidth(ids.list, 1, 210);
    dialog.NameList(ids.list, L"Member of", {0});
    ids.remove = dialog.AddButton(L"&Remove from group", 20, 228, 150, 25, kDefaultStyle);
    dialog.SetTip(ids.remove, L"Take the user account out of the selected group.");
    dialog.AddFieldLabel(L"Add to &group:", 20, 268, 100, 18);
    ids.choice = dialog.AddCombo(L"", 120, 265, 200, -1);
    ids.add = dialog.AddButton(L"&Add", 330, 264, 90, 25, kDefaultStyle);
    dialog.SetTip(ids.add, L"Make the user account a member of the chosen group.");
    ids.manage = dialog.AddButton(L"&Local groups...", 20, 298, 150, 25, kDefaultStyle);
    dialog.SetTip(ids.manage, L"Make, rename, describe or delete the computer's local groups.");
    ids.close = dialog.AddButton(L"Close", 330, 298, 90, 25, WS_VISIBLE | WS_TABSTOP | BS_DEFPUSHBUTTON);
    dialog.SetCancel(ids.close);

    GroupSides sides;
    if (!FillGroups(dialog, ids, sidText.Text(), sides))
        ThemedMessageBox(L"Sorry, the local groups could not be read.", BoxKind::Ok, groups::kBoxHeight, owner);
    dialog.Show(ids.close);

    bool changed = false;
    dialog.RunModal([&](int32_t event) {
        if (event == ids.close)
            return DialogStep::Done;
        if (event == ids.manage) {
            // A group deleted takes the account's membership with it.
            changed = LocalGroupsDialog(owner) || changed;
            FillGroups(dialog, ids, sidText.Text(), sides);
            return DialogStep::Stay;
        }
        if (event != ids.add && event != ids.remove)
            return DialogStep::Stay;
        const bool add = event == ids.add;
        const int index = add ? static_cast<int>(SendMessageW(dialog.ControlHandle(ids.choice), CB_GETCURSEL, 0, 0))
                              : dialog.GetSelectedItem(ids.list);
        const std::vector<std::wstring>& names = add ? sides.other : sides.member;
        if (index < 0 || static_cast<size_t>(index) >= names.size())
            return DialogStep::Stay;
        if (!add && IsAdministratorsSid(sides.memberSids[index].c_str()) &&
            RemovesLastAdministrators({accountName})) {
            ThemedMessageBox(L"This is the last administrator account of this computer that can sign in.\r\n"
                             L"It stays a member of this group.",
                             BoxKind::Ok, groups::kBoxHeight, owner);
            return DialogStep::Stay;
        }
        const NET_API_STATUS status = ChangeGroupMembership(names[index].c_str(), sid.Get(), add);
        if (status == NERR_Success)
            changed = true;
        else if (status != ERROR_MEMBER_IN_ALIAS && status != ERROR_MEMBER_NOT_IN_ALIAS)
            ThemedMessageBox(add ? L"Sorry, the user account could not be added to this group."
                                 : L"Sorry, the user account could not be removed from this group.",
                             BoxKind::Ok, groups::kBoxHeight, owner);
        FillGroups(dialog, ids, sidText.Text(), sides);
        return DialogStep::Stay;
    });
    return changed;
}
