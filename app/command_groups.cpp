#include "app/command_groups.h"

#include <algorithm>
#include <cwchar>
#include <string>

#include "accounts/groups.h"
#include "accounts/lifecycle_rules.h"
#include "accounts/lookup.h"
#include "app/command_families.h"
#include "app/command_mode.h"
#include "platform/sid.h"
#include "platform/text_win.h"

namespace {

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
    if (!run.Confirmed(L"deleting a group", L"Delete the group " + Shown(Quoted(name)) + L"? Its SID cannot be made again.",
                       L"not deleted"))
        return kExitUsage;
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

namespace {

// A group member as the output names it: by name, or by its SID alone
// when it resolves to nothing.
std::wstring MemberText(const GroupMember& member)
{
    return member.name.Text()[0] != L'\0' ? std::wstring(member.name.Text()) : std::wstring(member.sid.Text());
}

// The group named on the command line, or the refusal.
bool RequireGroup(CommandRun& run, const wchar_t* nameOrSid, LocalGroup& group)
{
    if (FindLocalGroup(nameOrSid, group))
        return true;
    run.Say(L"there is no local group " + Quoted(nameOrSid));
    return false;
}


// `group add` and `group remove`: every member is resolved and every guard
// passed before the first change, so that a refusal changes nothing.
int ChangeGroup(CommandRun& run, bool add)
{
    LocalGroup group;
    if (!RequireGroup(run, run.Argument(0), group))
        return kExitNoSuchAccount;
    struct Wanted {
        LocalSid sid;
        GroupMember member;
    };
    std::vector<Wanted> changes;
    std::vector<std::wstring> leaving;
    for (size_t i = 1; i < run.Parsed().arguments.size(); ++i) {
        // A member given as the group lists it (by its SID, or by the name
        // its SID resolved to) is one already, found without a lookup of
        // its own.
        const bool listedAsIs = std::any_of(group.members.begin(), group.members.end(), [&](const GroupMember& m) {
            return EqualsNoCase(m.sid.Text(), run.Argument(i)) ||
                   (m.name.Text()[0] != L'\0' && EqualsNoCase(m.name.Text(), run.Argument(i)));
        });
        if (add && listedAsIs)
            continue;
        Wanted wanted;
        if (!ResolveGroupMember(run.Argument(i), wanted.sid, wanted.member)) {
            run.Say(L"there is no account or group " + Quoted(run.Argument(i)) + L"; nothing was changed");
            return kExitNoSuchAccount;
        }
        const auto same = [&](const GroupMember& m) { return EqualsNoCase(m.sid.Text(), wanted.member.sid.Text()); };
        const bool isMember = std::any_of(group.members.begin(), group.members.end(), same);
        const bool listed = std::any_of(changes.begin(), changes.end(), [&](const Wanted& w) { return same(w.member); });
        if (isMember == add || listed)
            continue;
        if (!add && wanted.member.name.Text()[0] != L'\0')
            leaving.push_back(wanted.member.name.Text());
        changes.push_back(std::move(wanted));
    }
    if (!leaving.empty() && IsAdministratorsSid(group.sid.Text()) && RemovesLastAdministrators(leaving)) {
        run.Say(L"this would take the last administrator account of this computer that can sign in out of " +
                Quoted(group.name.Text()) + L"; nothing was changed");
        return kExitRefused;
    }
    if (changes.empty()) {
        run.Say(L"nothing to change");
        return kExitDone;
    }
    bool failed = false;
    for (Wanted& wanted : changes) {
        const std::wstring member = MemberText(wanted.member);
        const std::wstring text = Quoted(member.c_str()) + (add ? L" added to " : L" removed from ") +
                                  Quoted(group.name.Text());
        NET_API_STATUS status = run.DryRun() ? NERR_Success : ChangeGroupMembership(group.name.Text(), wanted.sid.Get(), add);
        if (status == NERR_Success) {
            run.Change(text, group.name.Text(), L"members", add ? L"" : member, add ? member : L"");
        } else if (status != ERROR_MEMBER_IN_ALIAS && status != ERROR_MEMBER_NOT_IN_ALIAS) {
            run.NotDone(text);
            if (status == ERROR_NO_SUCH_MEMBER || status == ERROR_INVALID_MEMBER)
                run.Say(Quoted(member.c_str()) + L" cannot be a member of a local group");
            failed = true;
        }
    }
    return failed ? kExitFailed : kExitDone;
}

}  // namespace

int ListGroups(CommandRun& run)
{
    // Only the members' count is shown: none is named.
    std::vector<LocalGroup> groups;
    if (!ReadLocalGroupMemberSids(groups)) {
        run.Say(L"the local groups could not be read");
        return kExitFailed;
    }
    if (!CsvOrJsonChosen(run))
        return kExitUsage;
    if (run.Parsed().Has(L"--csv")) {
        std::vector<std::vector<std::wstring>> rows;
        for (const LocalGroup& group : groups)
            rows.push_back({group.name.Text(), group.sid.Text(), std::to_wstring(group.members.size())});
        WriteCsvTable(run, {L"name", L"sid", L"memberCount"}, rows);
        return kExitDone;
    }
    if (run.Json())
        run.Document().Key("groups").BeginArray();
    for (LocalGroup& group : groups) {
        const uint64_t count = group.members.size();
        if (run.Json())
            run.Document().BeginObject().Field("name", group.name.Text()).Field("sid", group.sid.Text())
                .Field("memberCount", count).Field("description", group.description.Text()).EndObject();
        else
            run.Line(Shown(group.name.Text()) + L"\t" + group.sid.Text() + L"\t" + std::to_wstring(count));
    }
    if (run.Json())
        run.Document().EndArray();
    return kExitDone;
}

int ShowGroup(CommandRun& run)
{
    LocalGroup group;
    if (!CsvOrJsonChosen(run))
        return kExitUsage;
    if (!RequireGroup(run, run.Argument(0), group))
        return kExitNoSuchAccount;
    if (run.Parsed().Has(L"--csv")) {
        // A member that names nothing has an empty name.
        std::vector<std::vector<std::wstring>> rows;
        for (const GroupMember& member : group.members)
            rows.push_back({group.name.Text(), member.name.Text(), member.sid.Text()});
        WriteCsvTable(run, {L"group", L"member", L"sid"}, rows);
        return kExitDone;
    }
    if (!run.Json()) {
        run.Line(Shown(group.name.Text()) + L"\t" + group.sid.Text());
        if (group.description.Text()[0] != L'\0')
            run.Line(L"description: " + Shown(group.description.Text()));
        for (const GroupMember& member : group.members)
            run.Line(L"  " + Shown(MemberText(member)) + L"\t" + member.sid.Text());
        return kExitDone;
    }
    JsonWriter& json = run.Document();
    json.Key("group").BeginObject().Field("name", group.name.Text()).Field("sid", group.sid.Text())
        .Field("description", group.description.Text());
    json.Key("members").BeginArray();
    for (const GroupMember& member : group.members) {
        json.BeginObject().Key("name");
        member.name.Text()[0] != L'\0' ? json.String(member.name.Text()) : json.Null();
        json.Field("sid", member.sid.Text()).EndObject();
    }
    json.EndArray().EndObject();
    return kExitDone;
}


int GroupAdd(CommandRun& run)
{
    return ChangeGroup(run, true);
}

int GroupRemove(CommandRun& run)
{
    return ChangeGroup(run, false);
}
