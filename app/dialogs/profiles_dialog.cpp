// The dialog that lists every profile of the computer by its last use and
// deletes the ones the operator selects, through the same planned deletion
// the command line's clean-up takes. The deletion runs on a worker thread.
#include <windows.h>
#include <commctrl.h>

#include <string>
#include <vector>

#include "app/dialogs/account_dialogs.h"
#include "accounts/personal_folder_rules.h"
#include "accounts/profile_use.h"
#include "platform/files.h"
#include "platform/text_win.h"
#include "ui/dialog.h"
#include "ui/message_box.h"
#include "ui/window.h"
#include "ui/worker.h"

namespace {

// The dialog's own sizes and colours, in a namespace named for it: the
// dialogs are compiled together, in one unity batch.
namespace profiles {

constexpr int kWidth = 720;
constexpr int kHeight = 420;
constexpr int kSizeColumn = 5;
constexpr int kSidColumn = 6;
constexpr int kBoxHeight = 240;
// Names past this many are counted, not listed: the box has room for a few.
constexpr size_t kNamesShown = 6;

}  // namespace profiles

struct ProfilesView {
    int32_t list = 0;
    int32_t status = 0;
    int32_t remove = 0;
    int32_t sizes = 0;
    int32_t close = 0;
};

// Paths and names come from places users can write: shown, never obeyed.
std::wstring ShownText(const wchar_t* text)
{
    return EscapeControls(text).Text();
}

std::wstring OwnerText(const ProfileUse& use)
{
    return *use.account.Text() == L'\0' ? std::wstring(L"deleted account") : ShownText(use.account.Text());
}

std::wstring RowText(const ProfileUse& use)
{
    const ProfileUseFacts& f = use.facts;
    std::wstring flags;
    for (const wchar_t* flag : ProfileFlagNames(f))
        flags += (flags.empty() ? L"" : L", ") + std::wstring(flag);
    // "|" separates the cells; no name, path or SID can hold one.
    return OwnerText(use) + L"|" + ShownText(use.folder.Text()) + L"|" + (f.lastUse == 0 ? L"?" : LastUseText(f.lastUse)) +
           L"|" + LastUseSourceText(f.source) + L"|" + flags + L"||" + use.sid.Text();
}

// Reads the profiles afresh into the list; false (the list left empty) when
// they cannot be read whole.
bool FillProfiles(UiDialog& dialog, const ProfilesView& ids, const wchar_t* consoleSid, std::vector<ProfileUse>& uses)
{
    dialog.DeleteAllItems(ids.list);
    if (!ReadProfileUses(consoleSid, uses)) {
        dialog.SetText(ids.status, L"The profile list or the accounts could not be read whole.");
        return false;
    }
    for (const ProfileUse& use : uses)
        dialog.AddListItem(ids.list, RowText(use).c_str(), L"|");
    dialog.SetText(ids.status, (std::to_wstring(uses.size()) + L" profiles. Select the ones to delete; a click on a "
                                                                L"column's heading sorts by it.")
                                   .c_str());
    return true;
}

// The SIDs of the selected rows, whatever order the list is sorted in.
std::vector<std::wstring> SelectedSids(UiDialog& dialog, const ProfilesView& ids)
{
    std::vector<std::wstring> sids;
    HWND list = dialog.ControlHandle(ids.list);
    for (int row = -1; (row = static_cast<int>(SendMessageW(list, LVM_GETNEXTITEM, row, LVNI_SELECTED))) >= 0;)
        sids.emplace_back(ListCellText(list, row, profiles::kSidColumn).Text());
    return sids;
}

// Runs the routine on a worker while the dialog and its owner keep
// answering; here when no thread can be had.
void RunOffTheWindow(UiDialog& dialog, LPTHREAD_START_ROUTINE routine, void* job)
{
    WorkerWatch watch;
    watch.owner = &dialog.Owner();
    watch.window = &dialog;
    DWORD unused = 0;
    if (!RunWorker(routine, job, watch, &unused))
        routine(job);
}

// The folders to measure by their SIDs; the worker fills in the sizes. A
// walk of every profile can take long: only on request, off the window's thread.
struct ProfileSizeJob {
    std::vector<std::wstring> sids, folders, sizes;
};

DWORD WINAPI SizeWorker(void* parameter)
{
    auto* job = static_cast<ProfileSizeJob*>(parameter);
    for (const std::wstring& folder : job->folders) {
        uint64_t bytes = 0;
        const bool measured = !folder.empty() && MeasureDirectory(folder.c_str(), bytes);
        job->sizes.emplace_back(measured ? ByteSizeText(bytes).Text() : L"?");
    }
    return 0;
}

void ShowSizes(UiDialog& dialog, const ProfilesView& ids, const std::vector<ProfileUse>& uses)
{
    ProfileSizeJob job;
    for (const ProfileUse& use : uses) {
        job.sids.emplace_back(use.sid.Text());
        job.folders.emplace_back(use.folder.Text());
    }
    dialog.SetText(ids.status, L"Measuring the profiles' folders, please wait...");
    RunOffTheWindow(dialog, SizeWorker, &job);
    HWND list = dialog.ControlHandle(ids.list);
    const int rows = static_cast<int>(SendMessageW(list, LVM_GETITEMCOUNT, 0, 0));
    for (int row = 0; row < rows; ++row) {
        const WString sid = ListCellText(list, row, profiles::kSidColumn);
        for (size_t i = 0; i < job.sids.size() && i < job.sizes.size(); ++i)
            if (EqualsNoCase(job.sids[i].c_str(), sid.Text()))
                SetListCellText(list, row, profiles::kSizeColumn, job.sizes[i].c_str());
    }
    dialog.SetText(ids.status, L"Sizes as measured now; \"?\" where a folder could not be walked whole.");
}

// One profile to delete and what its deletion does; the worker fills `end`.
struct Doomed {
    const ProfileUse* use;
    ProfileDeletionPlan plan;
    ProfileDeletionEnd end = ProfileDeletionEnd::LeftAlone;
};

DWORD WINAPI ProfileDeletionWorker(void* parameter)
{
    // Read again after the yes; once for all of them.
    ProfileFolderSet folders;
    folders.Read();
    for (Doomed& doomed : *static_cast<std::vector<Doomed>*>(parameter))
        doomed.end = DeleteProfileAsPlanned(*doomed.use, doomed.plan, folders);
    return 0;
}

// "a, b, c and 4 more".
std::wstring NameList(const std::vector<std::wstring>& names)
{
    std::wstring text;
    for (size_t i = 0; i < names.size() && i < profiles::kNamesShown; ++i)
        text += (i > 0 ? L", " : L"") + names[i];
    if (names.size() > profiles::kNamesShown)
        text += L" and " + std::to_wstring(names.size() - profiles::kNamesShown) + L" more";
    return text;
}

// What stays and why, then what goes: the selection judged on facts read
// afresh, so that a profile loaded since the list was filled is refused.
// False when nothing is to go.
bool Judge(const std::vector<std::wstring>& sids, const std::vector<ProfileUse>& uses, std::vector<Doomed>& doomed,
           std::wstring& kept)
{
    std::vector<std::wstring> stays;
    ProfileFolderSet folders;
    folders.Read();
    for (const std::wstring& sid : sids) {
        const ProfileUse* found = nullptr;
        for (const ProfileUse& use : uses)
            found = EqualsNoCase(use.sid.Text(), sid.c_str()) ? &use : found;
        if (found == nullptr)
            continue;   // gone meanwhile
        const ProfileKeep keep = WhyProfileMustStay(found->facts);
        const ProfileDeletionPlan plan = PlanProfileDeletion(*found, false, folders);
        if (keep != ProfileKeep::None)
            stays.push_back(OwnerText(*found) + L" (" + ProfileKeepText(keep) + L")");
        else if (!plan.folderGoes)
            stays.push_back(OwnerText(*found) + L" (not inside the profiles folder, shared or a link)");
        else
            doomed.push_back({found, plan});
    }
    kept = stays.empty() ? L"" : L"These profiles stay: " + NameList(stays) + L".";
    return !doomed.empty();
}

std::wstring Question(const std::vector<Doomed>& doomed, const std::wstring& kept)
{
    std::vector<std::wstring> accounts;
    for (const Doomed& d : doomed)
        if (d.plan.accountGoes)
            accounts.emplace_back(ShownText(d.use->account.Text()));
    std::wstring text = doomed.size() == 1 ? std::wstring(L"Delete 1 profile with all its files?")
                                           : L"Delete " + std::to_wstring(doomed.size()) + L" profiles with all their files?";
    if (!accounts.empty())
        text += L"\r\n\r\nThese disabled accounts go with their profiles: " + NameList(accounts) + L".";
    if (!kept.empty())
        text += L"\r\n\r\n" + kept;
    return text;
}

// What the operator is told after the deletion; empty when all went.
std::wstring DeletionOutcome(const std::vector<Doomed>& doomed)
{
    std::vector<std::wstring> left, restart;
    for (const Doomed& d : doomed) {
        if (d.end == ProfileDeletionEnd::GoneAtRestart)
            restart.push_back(OwnerText(*d.use));
        else if (d.end != ProfileDeletionEnd::Gone)
            left.push_back(OwnerText(*d.use) + (d.end == ProfileDeletionEnd::AccountStayed ? L" (its account stayed)"
                                                : d.end == ProfileDeletionEnd::LeftAlone   ? L" (found in use)"
                                                                                           : L" (some files stayed)"));
    }
    std::wstring text;
    if (!left.empty())
        text = L"Sorry, these profiles could not be deleted: " + NameList(left) + L".";
    if (!restart.empty())
        text += (text.empty() ? L"" : L"\r\n\r\n") + std::wstring(L"Some files of these profiles go when the computer "
                                                                  L"restarts: ") +
                NameList(restart) + L".";
    return text;
}

}  // namespace

bool ProfilesDialog(DialogOwner& owner, const wchar_t* consoleSid)
{
    UiDialog dialog(owner);
    if (!dialog.Create(OutlinedLook(profiles::kWidth, profiles::kHeight, profiles::kWidth - 9, profiles::kHeight - 8)))
        return false;
    int32_t heading = dialog.AddLabel(L"Profiles on this computer", 20, 14, 500, 25, kDefaultStyle);
    dialog.SetFont(heading, 14.0, 800, 0, L"Arial");

    ProfilesView ids;
    dialog.AddFieldLabel(L"&Profiles by last use:", 20, 48, 300, 18);
    dialog.SetNextBehaviour(Behaviour::Sortable);
    ids.list = dialog.AddListView(L" Account| Folder| Last use (UTC)| Read from| Flags| Size| SID", 20, 68, 680, 262,
                                  WS_VISIBLE | WS_BORDER | WS_TABSTOP | LVS_REPORT | LVS_SHOWSELALWAYS,
                                  LVS_EX_FULLROWSELECT | LVS_EX_DOUBLEBUFFER);
    dialog.SetNextBehaviour(0);
    const int widths[] = {110, 160, 140, 78, 80, 75, 260};
    for (int i = 0; i < static_cast<int>(ARRAYSIZE(widths)); ++i)
        dialog.SetColumnWidth(ids.list, i, widths[i]);
    dialog.NameList(ids.list, L"Profiles", {0, 1, 2});
    ids.status = dialog.AddLabel(L"", 20, 338, 680, 36, WS_VISIBLE | SS_NOPREFIX);
    ids.remove = dialog.AddButton(L"&Delete selected...", 20, 382, 160, 25, kDefaultStyle);
    dialog.SetTip(ids.remove, L"Delete the selected profiles' folders and entries; a disabled account goes with its "
                              L"profile.");
    ids.sizes = dialog.AddButton(L"Measure &sizes", 190, 382, 130, 25, kDefaultStyle);
    dialog.SetTip(ids.sizes, L"Measure every profile's folder; links inside are not followed.");
    ids.close = dialog.AddButton(L"Close", 610, 382, 90, 25, WS_VISIBLE | WS_TABSTOP | BS_DEFPUSHBUTTON);
    dialog.SetCancel(ids.close);

    std::vector<ProfileUse> uses;
    FillProfiles(dialog, ids, consoleSid, uses);
    dialog.Show(ids.list);

    bool changed = false;
    dialog.RunModal([&](int32_t event) {
        if (event == ids.close)
            return DialogStep::Done;
        if (event == ids.sizes) {
            dialog.SetState(ids.sizes, StateFlags::Disable);
            ShowSizes(dialog, ids, uses);
            dialog.SetState(ids.sizes, StateFlags::Enable);
            return DialogStep::Stay;
        }
        if (event != ids.remove)
            return DialogStep::Stay;
        const std::vector<std::wstring> sids = SelectedSids(dialog, ids);
        if (sids.empty()) {
            ThemedMessageBox(L"Select the profiles to delete first.", BoxKind::Ok, 140, owner);
            return DialogStep::Stay;
        }
        std::vector<ProfileUse> fresh;
        std::vector<Doomed> doomed;
        std::wstring kept;
        if (!ReadProfileUses(consoleSid, fresh)) {
            ThemedMessageBox(L"Sorry, the profile list or the accounts could not be read whole. Nothing was deleted.",
                             BoxKind::Ok, 160, owner);
            return DialogStep::Stay;
        }
        if (!Judge(sids, fresh, doomed, kept)) {
            ThemedMessageBox((kept.empty() ? std::wstring(L"The selected profiles are gone already.")
                                           : kept + L"\r\n\r\nNothing was deleted.")
                                 .c_str(),
                             BoxKind::Ok, profiles::kBoxHeight, owner);
            FillProfiles(dialog, ids, consoleSid, uses);
            return DialogStep::Stay;
        }
        if (ThemedMessageBox(Question(doomed, kept).c_str(), BoxKind::YesNo, profiles::kBoxHeight, owner) != 1)
            return DialogStep::Stay;

        dialog.SetText(ids.status, L"Deleting the profiles, please wait...");
        dialog.SetState(ids.remove, StateFlags::Disable);
        dialog.SetState(ids.close, StateFlags::Disable);
        UpdateWindow(dialog.Handle());
        {
            // The end of the session is refused while files go; a close
            // waits for the worker, it cannot stop halfway.
            DialogOwner::BusyScope busy(&owner, L"Profiles are being deleted.");
            RunOffTheWindow(dialog, ProfileDeletionWorker, &doomed);
        }
        changed = true;
        dialog.SetState(ids.remove, StateFlags::Enable);
        dialog.SetState(ids.close, StateFlags::Enable);
        const std::wstring outcome = DeletionOutcome(doomed);
        FillProfiles(dialog, ids, consoleSid, uses);
        if (!outcome.empty())
            ThemedMessageBox(outcome.c_str(), BoxKind::Ok, profiles::kBoxHeight, owner);
        return DialogStep::Stay;
    });
    return changed;
}
