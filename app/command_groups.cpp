#include "app/command_groups.h"

#include <cwchar>
#include <string>

#include "accounts/groups.h"
#include "accounts/lifecycle_rules.h"
#include "accounts/lookup.h"
#include "app/command_mode.h"
#include "platform/sid.h"
#include "platform/text_win.h"

namespace {

std::wstring Quoted(const wchar_t* text)
{
    return L"\"" + std::wstring(text) + L"\"";
}

// Names come from places users can write: shown, never obeyed.
std::wstring Shown(const std::wstring& text)
{
    return EscapeControls(text.c_str()).Text();
}

// A SID or a RID names a group or an account that exists; it is never a
// new group's name, which would make a look-alike of what it names.
bool LooksLikeReference(const wchar_t* name)
{
    return name[0] == L'#' || _wcsnicmp(name, L"S-1-", 4) == 0;
}

}  // namespace

std::wstring GroupNameRefusal(const wchar_t* name)
{
    const NewAccountNameProblem problem = CheckNewGroupName(name);
    std::wstring why = NameProblemText(problem, kMaxGroupNameLength);
    if (problem == NewAccountNameProblem::None) {
        if (!LooksLikeReference(name))
            return L"";
        why = L"it would read as a SID or a RID (#1001)";
    }
    return L"the name " + Shown(Quoted(name)) + L" cannot be used: " + why + L"; nothing was changed";
}

namespace {

// The description given, or a refusal (said) when it cannot be kept.
bool DescriptionUsable(CommandRun& run, const wchar_t* description)
{
    if (description == nullptr || IsUsableGroupDescription(description))
        return true;
    run.Say(L"the description holds a control character or is longer than 256 characters; nothing was changed");
    return false;
}

// A name is taken by an account or another group (they share one set of names).
bool NameTaken(CommandRun& run, const wchar_t* name, const LocalGroup* self)
{
    LocalGroup other;
    const bool group = FindLocalGroup(name, other) && (self == nullptr || !EqualsNoCase(other.sid.Text(), self->sid.Text()));
    if (!group && !AccountExists(name))
        return false;
    run.Say(L"an account or group named " + Shown(Quoted(name)) + L" already exists; nothing was changed");
    return true;
}

// The system's answer to a change as the exit code, said when it failed.
int Outcome(CommandRun& run, NET_API_STATUS status, const std::wstring& what)
{
    switch (status) {
    case NERR_Success: return kExitDone;
    case NERR_UserExists:
    case NERR_GroupExists:
    case ERROR_ALIAS_EXISTS:
        run.Say(L"the name is taken by an account or another group; nothing was changed");
        return kExitRefused;
    case ERROR_SPECIAL_ACCOUNT:
        run.Say(L"the system keeps its own groups; nothing was changed");
        return kExitRefused;
    default:
        run.Say(what + L" could not be done; nothing was changed");
        return kExitFailed;
    }
}

bool RefuseBuiltin(CommandRun& run, const LocalGroup& group, const wchar_t* verb)
{
    if (!IsBuiltinGroupSid(group.sid.Text()))
        return false;
    run.Say(Shown(Quoted(group.name.Text())) + L" is one of the system's own groups (" + group.sid.Text() +
            L"), which is never " + verb + L"; nothing was changed");
    return true;
}

}  // namespace

int GroupCreate(CommandRun& run)
{
    const wchar_t* name = run.Argument(0);
    const wchar_t* description = run.Parsed().Value(L"--description");
    if (!DescriptionUsable(run, description))
        return kExitUsage;
    LocalGroup group;
    if (!LooksLikeReference(name) && FindLocalGroup(name, group)) {
        if (description != nullptr && wcscmp(group.description.Text(), description) != 0) {
            run.Say(L"the group " + Shown(Quoted(group.name.Text())) + L" exists with the description " +
                    Shown(Quoted(group.description.Text())) + L" (change it with \"group set\"); nothing was changed");
            return kExitRefused;
        }
        run.Say(L"the group " + Shown(Quoted(group.name.Text())) + L" already exists; nothing to change");
        return kExitDone;
    }
    const std::wstring refusal = GroupNameRefusal(name);
    if (!refusal.empty()) {
        run.Say(refusal);
        return kExitRefused;
    }
    if (NameTaken(run, name, nullptr))
        return kExitRefused;
    const std::wstring text = L"group " + Quoted(name) + L" created" +
                              (description != nullptr && *description != L'\0' ? L": " + Quoted(description) : L"");
    const NET_API_STATUS status = run.DryRun() ? NERR_Success : CreateLocalGroup(name, description);
    if (status == NERR_Success)
        run.Change(text, name, L"group", L"absent", L"present");
    return Outcome(run, status, L"making the group");
}

int GroupDelete(CommandRun& run)
{
    const wchar_t* nameOrSid = run.Argument(0);
    LocalGroup group;
    if (!FindLocalGroup(nameOrSid, group)) {
        LocalSid sid;
        if (_wcsnicmp(nameOrSid, L"S-1-", 4) == 0 && !SidFromName(sid, nameOrSid)) {
            run.Say(L"there is no such group: " + Shown(Quoted(nameOrSid)) + L" is no SID");
            return kExitNoSuchAccount;
        }
        // By name or by SID, a group already gone is what was asked.
        run.Say(L"there is no local group " + Shown(Quoted(nameOrSid)) + L"; nothing to delete");
        return kExitDone;
    }
    if (RefuseBuiltin(run, group, L"deleted"))
        return kExitRefused;
    const wchar_t* name = group.name.Text();
    if (!run.DryRun() && !run.Parsed().yes) {
        if (!run.HasConsoleInput()) {
            run.Say(L"deleting a group needs --yes when no console can answer; nothing was changed");
            return kExitUsage;
        }
        if (!run.Ask((L"Delete the group " + Shown(Quoted(name)) + L"? Its SID cannot be made again.").c_str())) {
            run.Say(L"not deleted");
            return kExitUsage;
        }
    }
    NET_API_STATUS status = run.DryRun() ? NERR_Success : DeleteLocalGroup(name);
    if (status == NERR_GroupNotFound) {
        run.Say(L"the group " + Shown(Quoted(name)) + L" was deleted meanwhile; nothing to delete");
        return kExitDone;
    }
    if (status == NERR_Success)
        run.Change(L"group " + Quoted(name) + L" deleted, with its " + std::to_wstring(group.members.size()) +
                       (group.members.size() == 1 ? L" membership" : L" memberships"),
                   name, L"group", L"present", L"absent");
    return Outcome(run, status, L"deleting the group");
}

int GroupRename(CommandRun& run)
{
    const wchar_t* nameOrSid = run.Argument(0);
    const wchar_t* newName = run.Argument(1);
    LocalGroup group;
    if (!FindLocalGroup(nameOrSid, group)) {
        // Run again after it was done: the new name is there, the old gone.
        LocalGroup renamed;
        if (!LooksLikeReference(nameOrSid) && FindLocalGroup(newName, renamed)) {
            run.Say(L"there is no group " + Shown(Quoted(nameOrSid)) + L" and a group " + Shown(Quoted(newName)) +
                    L" exists: taken as renamed already; nothing to change");
            return kExitDone;
        }
        run.Say(L"there is no local group " + Shown(Quoted(nameOrSid)));
        return kExitNoSuchAccount;
    }
    const std::wstring name = group.name.Text();
    if (name == newName) {
        run.Say(L"the group is named " + Shown(Quoted(newName)) + L" already; nothing to change");
        return kExitDone;
    }
    if (RefuseBuiltin(run, group, L"renamed"))
        return kExitRefused;
    const std::wstring refusal = GroupNameRefusal(newName);
    if (!refusal.empty()) {
        run.Say(refusal);
        return kExitRefused;
    }
    if (NameTaken(run, newName, &group))
        return kExitRefused;
    const NET_API_STATUS status = run.DryRun() ? NERR_Success : RenameLocalGroup(name.c_str(), newName);
    if (status == NERR_Success)
        run.Change(L"group " + Quoted(name.c_str()) + L" renamed to " + Quoted(newName), newName, L"name", name, newName);
    return Outcome(run, status, L"renaming the group");
}

int GroupSet(CommandRun& run)
{
    const wchar_t* description = run.Parsed().Value(L"--description");
    if (description == nullptr) {
        run.Say(L"group set needs --description TEXT (\"\" for none)");
        return kExitUsage;
    }
    if (!DescriptionUsable(run, description))
        return kExitUsage;
    LocalGroup group;
    if (!FindLocalGroup(run.Argument(0), group)) {
        run.Say(L"there is no local group " + Shown(Quoted(run.Argument(0))));
        return kExitNoSuchAccount;
    }
    const wchar_t* name = group.name.Text();
    if (wcscmp(group.description.Text(), description) == 0) {
        run.Say(L"nothing to change");
        return kExitDone;
    }
    const NET_API_STATUS status = run.DryRun() ? NERR_Success : SetLocalGroupDescription(name, description);
    if (status == NERR_Success)
        run.Change(L"description of group " + Quoted(name) + L" to " + Quoted(description), name, L"description",
                   group.description.Text(), description);
    return Outcome(run, status, L"describing the group");
}
