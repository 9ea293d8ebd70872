#include "app/apply_plan.h"

#include <windows.h>
#include <gdiplus.h>

#include <memory>
#include <string>
#include <vector>

#include "accounts/account_lifecycle.h"
#include "accounts/account_list.h"
#include "accounts/account_rules.h"
#include "accounts/groups.h"
#include "accounts/health_rules.h"
#include "accounts/lifecycle_rules.h"
#include "accounts/lookup.h"
#include "accounts/password_policy.h"
#include "accounts/passwords.h"
#include "accounts/pictures.h"
#include "app/apply_steps.h"
#include "app/command_groups.h"
#include "app/command_families.h"
#include "app/command_mode.h"
#include "app/command_policy.h"
#include "app/command_profiles.h"
#include "app/desired_state_reader.h"
#include "app/health_check.h"
#include "app/setting_changes.h"
#include "platform/file_rules.h"
#include "platform/files.h"
#include "platform/system.h"
#include "platform/text_win.h"
#include "ui/secret_text.h"

namespace {

// The code that tells most of several: a failure over a refusal over a
// missing account over a usage fault over a finding left, then a restart.
int Worse(int a, int b)
{
    const int order[] = {kExitFailed, kExitRefused, kExitNoSuchAccount, kExitUsage, kExitNeedsElevation, kExitFound,
                         kExitRestartNeeded, kExitDone};
    for (int code : order)
        if (a == code || b == code)
            return code;
    return kExitFailed;
}


// One change of the plan as the output lists it; without a field, only its text.
struct PlannedChange {
    std::wstring text, target, field, before, after;
};

void Record(CommandRun& run, const PlannedChange& change)
{
    if (change.field.empty())
        run.Change(change.text);
    else
        run.Change(change.text, change.target, change.field.c_str(), change.before, change.after);
}

enum class AccountAction { Keep, Create, Delete };

// One account of the document: what it is, what it will be.
struct AccountPlan {
    const DesiredAccount* desired = nullptr;
    AccountAction action = AccountAction::Keep;
    bool exists = false;
    int refusal = kExitDone;       // the account's steps refused: nothing of them is done
    std::wstring why;
    std::wstring sid, profile;     // of an account to be deleted
    std::vector<PlannedChange> lifecycle;   // its creation or deletion
    SettingsPlan settings;         // `is`: as it is, or as its creation makes it
    UniqueImage defaultPicture;    // a new account's, when the document names none
    std::wstring defaultPictureFile;
    // The document's picture when the account's differs from it.
    UniqueImage picture;
    int pictureRefusal = kExitDone;
    std::wstring pictureWhy;

    bool Refused() const { return refusal != kExitDone; }
    bool WillExist() const
    {
        return exists ? !(action == AccountAction::Delete && !Refused()) : action == AccountAction::Create && !Refused();
    }
    // The type this run gives the account, which moves it to that type's
    // group and out of the other two; -1 when its type stays.
    int NewType() const
    {
        if (!WillExist() || (exists && settings.will.privilege == settings.is.privilege))
            return -1;
        return static_cast<int>(settings.will.privilege);
    }
};

// One member of a group to be added or taken out.
struct MemberStep {
    std::wstring shown;   // as the output names it
    std::wstring name;    // as the document names it: an account this run makes is found by it then
    LocalSid sid;         // empty: the account is made by this run
    bool add = true;
};

struct GroupPlan {
    const DesiredGroup* desired = nullptr;
    DesiredGroup exact;   // with exactMembers: the document's, and every other member to be taken out
    LocalGroup group;
    int refusal = kExitDone;
    std::wstring why;
    bool create = false, remove = false, describe = false;
    std::vector<PlannedChange> lifecycle;   // made or deleted, described
    std::vector<MemberStep> steps;
};

enum class AutoLogonAction { Keep, Clear, Set };

struct AutoLogonPlan {
    AutoLogonAction action = AutoLogonAction::Keep;
    int refusal = kExitDone;
    std::wstring why;
    PlannedChange change;
    bool secretOnly = false;   // the same account: only its password is stored anew
};

// The outcome of one resource.
struct ResourceOutcome {
    const wchar_t* kind;
    std::wstring target;
    bool changed;
    int exitCode;
};

// The whole plan, in the order it is carried out.
struct ApplyPlan {
    // First, so that it ends after the pictures it loaded.
    std::unique_ptr<GdiplusSession> gdiplus;
    const DesiredState* state = nullptr;
    std::vector<AccountPlan> accounts;
    std::vector<GroupPlan> groups;
    PasswordPolicy policyIs, policyWill;
    int policyRefusal = kExitDone;
    std::wstring policyWhy;
    AutoLogonPlan autoLogon;
    std::vector<std::wstring> goneSids;   // profiles the accounts' deletions take care of
    // One pass over the accounts, made when a RID or a group needs it and
    // shared by all: no account changes before the plan is carried out.
    std::unique_ptr<MemberNames> names;
    const MemberNames& Names()
    {
        if (!names)
            names = std::make_unique<MemberNames>();
        return *names;
    }
};

// The document's account of that name, or null.
AccountPlan* FindPlanned(ApplyPlan& plan, const std::wstring& name)
{
    for (AccountPlan& account : plan.accounts)
        if (EqualsNoCase(account.desired->name.c_str(), name.c_str()))
            return &account;
    return nullptr;
}

void Refuse(AccountPlan& account, int code, const std::wstring& why)
{
    account.refusal = code;
    account.why = why;
    account.lifecycle.clear();
    account.settings.changes.clear();
}

void PlanDeletion(AccountPlan& account, const AccountDetails& details)
{
    const std::wstring& name = account.desired->name;
    if (!account.exists) {
        account.why = L"there is no local account " + Quoted(name) + L"; nothing to delete";
        return;
    }
    account.action = AccountAction::Delete;
    if (details.builtin || details.console)
        return Refuse(account, kExitRefused,
                      details.builtin ? L"a built-in account cannot be deleted"
                                      : L"the account signed in at the console cannot be deleted");
    if (details.privilege == kPrivilegeAdministrator && IsLastAdministrator(name.c_str()))
        return Refuse(account, kExitRefused,
                      L"this is the last administrator account of this computer that can sign in; it stays");
    account.lifecycle.push_back({L"account " + Quoted(name) + L" deleted", name, L"account",
                                 TypeName(details.privilege), L"absent"});
    if (!account.desired->keepFiles && !account.profile.empty())
        account.lifecycle.push_back({L"profile folder " + Quoted(account.profile) + L" deleted", name, L"profile",
                                     account.profile, L""});
}

// A new account: its name checked, its settings as CreateAccount makes
// them (a standard account whose password never expires, its full name
// when it differs from the name), then the document's over them.
void PlanCreation(ApplyPlan& plan, AccountPlan& account)
{
    const DesiredAccount& desired = *account.desired;
    const wchar_t* name = desired.name.c_str();
    account.action = AccountAction::Create;
    const NewAccountNameProblem problem = CheckNewAccountName(name);
    if (problem != NewAccountNameProblem::None) {
        return Refuse(account, kExitRefused, L"the name " + Quoted(name) + L" cannot be used: " +
                                                 NameProblemText(problem, kMaxAccountNameLength));
    }
    // Every verb reads "#1001" as a RID and "S-1-..." as a SID: an account
    // so named could never be named again.
    if (name[0] == L'#' || wcsncmp(name, L"S-1-", 4) == 0)
        return Refuse(account, kExitRefused, L"the name " + Quoted(name) + L" cannot be used: it reads as a RID or a "
                                             L"SID, which name accounts that exist");
    if (IsAccountNameTaken(name))
        return Refuse(account, kExitRefused, L"a group named " + Quoted(name) + L" already exists; nothing was changed");
    AccountSettingValues made;
    made.flags = kFlagPasswordNeverExpires;
    for (const SettingValue& value : desired.settings)
        if (value.setting == &SettingRow(SettingId::Type) || value.setting == &SettingRow(SettingId::FullName))
            value.setting->write(made, value.value.c_str());
    if (!FullNameChanged(made.fullName.c_str(), L"", name))
        made.fullName.clear();
    account.settings = PlanAccountSettings(name, made, false, false, desired.settings, true);
    if (account.settings.refusal != kExitDone)
        return Refuse(account, account.settings.refusal, account.settings.why);
    account.lifecycle.push_back({std::wstring(TypeName(made.privilege)) + L" account " + Quoted(name) + L" created",
                                 name, L"account", L"absent", TypeName(made.privilege)});
    account.lifecycle.push_back({L"profile of " + Quoted(name) + L" made", L"", L"", L"", L""});
    if (!desired.picture.empty())
        return;
    WString file;
    if (!FindDefaultPictureFile(file))
        return;
    if (!plan.gdiplus)
        plan.gdiplus = std::make_unique<GdiplusSession>();
    account.defaultPicture = LoadPictureFile(file.Text());
    account.defaultPictureFile = file.Text();
    if (account.defaultPicture)
        account.lifecycle.push_back({L"picture of " + Quoted(name) + L" from " + Quoted(file.Text()), L"", L"", L"",
                                     L""});
}

void PlanPicture(ApplyPlan& plan, AccountPlan& account)
{
    const DesiredAccount& desired = *account.desired;
    if (desired.picture.empty() || !account.WillExist())
        return;
    if (!plan.gdiplus)
        plan.gdiplus = std::make_unique<GdiplusSession>();
    UniqueImage image = LoadPictureFile(desired.picture.c_str());
    if (!image) {
        account.pictureRefusal = kExitRefused;
        account.pictureWhy = L"the picture file " + Quoted(desired.picture) + L" is not valid; nothing was changed";
        return;
    }
    if (account.exists && AccountPictureMatches(desired.name.c_str(), desired.picture.c_str(), image.Get(),
                                                PictureFit::Crop, GetOsVersionNumber()))
        return;
    account.picture = std::move(image);
}

void PlanAccounts(ApplyPlan& plan, const wchar_t* console)
{
    for (const DesiredAccount& desired : plan.state->accounts) {
        plan.accounts.emplace_back();
        AccountPlan& account = plan.accounts.back();
        account.desired = &desired;
        AccountDetails details;
        account.exists = ReadAccountDetails(desired.name.c_str(), console, details);
        if (account.exists) {
            account.settings.name = desired.name;
            account.settings.is = account.settings.will = SettingValuesOf(details);
        }
        if (!desired.present) {
            WString sid, profile;
            if (account.exists)
                GetAccountSidAndProfile(desired.name.c_str(), sid, &profile);
            account.sid = sid.Text();
            account.profile = profile.Text();
            PlanDeletion(account, details);
            if (account.action == AccountAction::Delete && !account.Refused() && !account.sid.empty())
                plan.goneSids.push_back(account.sid);
            continue;
        }
        if (!account.exists) {
            PlanCreation(plan, account);
        } else {
            account.settings = PlanAccountSettings(desired.name.c_str(), account.settings.is, details.builtin,
                                                   details.console, desired.settings, true);
            account.refusal = account.settings.refusal;
            account.why = account.settings.why;
        }
        PlanPicture(plan, account);
    }
}

// The group's index among Guests, Users and Administrators, the groups of
// the account types; -1 for any other group.
int TypeGroup(const wchar_t* sid)
{
    const wchar_t* const sids[] = {L"S-1-5-32-546", L"S-1-5-32-545", L"S-1-5-32-544"};
    for (int i = 0; i < 3; ++i)
        if (EqualsNoCase(sid, sids[i]))
            return i;
    return -1;
}

// With exactMembers, every member the document does not list is to be
// taken out: those the group has, and those the account steps move into
// it when it is a type's group.
void ExpandExactMembers(ApplyPlan& plan, GroupPlan& planned, int typeGroup)
{
    DesiredGroup& exact = planned.exact;
    exact = *planned.desired;
    std::vector<std::wstring> listedSids;
    for (const std::wstring& name : exact.members) {
        LocalSid sid;
        GroupMember member;
        if (ResolveGroupMember(name.c_str(), sid, member))
            listedSids.emplace_back(member.sid.Text());
    }
    const auto listed = [&](const wchar_t* name, const wchar_t* sid) {
        for (const std::wstring& one : listedSids)
            if (EqualsNoCase(one.c_str(), sid))
                return true;
        for (const std::wstring& one : exact.members)
            if (name[0] != L'\0' && EqualsNoCase(one.c_str(), name))
                return true;
        return false;
    };
    for (const GroupMember& member : planned.group.members)
        if (!listed(member.name.Text(), member.sid.Text()))
            exact.absent.emplace_back(member.sid.Text());
    for (const AccountPlan& account : plan.accounts)
        if (typeGroup >= 0 && account.NewType() == typeGroup && !listed(account.desired->name.c_str(), L""))
            exact.absent.push_back(account.desired->name);
}

// The group made, deleted or described as the document asks; false when
// nothing more is to be planned for it.
bool PlanGroupItself(GroupPlan& planned, bool found)
{
    const DesiredGroup& desired = *planned.desired;
    LocalGroup& group = planned.group;
    const std::wstring name = found ? group.name.Text() : desired.group;
    const auto refuse = [&](int code, const std::wstring& why) {
        planned.refusal = code;
        planned.why = why;
        return false;
    };
    if (!found && !desired.present)
        return false;   // gone already
    if (!found && (desired.group[0] == L'#' || _wcsnicmp(desired.group.c_str(), L"S-1-", 4) == 0))
        return refuse(kExitNoSuchAccount, L"there is no local group " + Quoted(desired.group) +
                                              L" (a group is made only by its name)");
    if (!found) {
        const std::wstring refusal = GroupNameRefusal(desired.group.c_str());
        if (!refusal.empty() || AccountExists(desired.group.c_str()))
            return refuse(kExitRefused, !refusal.empty() ? refusal : L"an account is named " + Quoted(desired.group) +
                                                                        L"; no group was made");
        planned.create = true;
        group.name.Assign(desired.group.c_str());
        group.description.Assign(desired.description.c_str());
        planned.lifecycle.push_back({L"group " + Quoted(name) + L" created", name, L"group", L"absent", L"present"});
    } else if (!desired.present) {
        if (IsBuiltinGroupSid(group.sid.Text()))
            return refuse(kExitRefused, Quoted(name) + L" is one of the system's own groups, which is never deleted");
        planned.remove = true;
        planned.lifecycle.push_back({L"group " + Quoted(name) + L" deleted", name, L"group", L"present", L"absent"});
        return false;
    }
    if (!IsUsableGroupDescription(desired.description.c_str()))
        return refuse(kExitUsage, L"the description of group " + Quoted(name) + L" holds a control character or is "
                                  L"longer than 256 characters; nothing was changed");
    if (found && desired.descriptionGiven && desired.description != group.description.Text()) {
        planned.describe = true;
        planned.lifecycle.push_back({L"description of group " + Quoted(name) + L" to " + Quoted(desired.description),
                                     name, L"description", group.description.Text(), desired.description});
    }
    return true;
}

void PlanGroup(ApplyPlan& plan, GroupPlan& planned, const MemberNames& names)
{
    LocalGroup& group = planned.group;
    if (!PlanGroupItself(planned, FindLocalGroup(planned.desired->group.c_str(), group, &names)))
        return;
    const int typeGroup = TypeGroup(group.sid.Text());
    if (planned.desired->exact)
        ExpandExactMembers(plan, planned, typeGroup);
    const DesiredGroup& desired = planned.desired->exact ? planned.exact : *planned.desired;
    std::vector<std::wstring> leaving;
    for (bool add : {true, false}) {
        for (const std::wstring& name : add ? desired.members : desired.absent) {
            // A member given as the group lists it (by its SID, by the
            // name its SID resolved to, or by its RID) is found without a
            // lookup of its own: a document that keeps a thousand members
            // costs one read.
            WString ridName;
            const std::wstring& key = names.ResolveRid(name.c_str(), ridName) == AccountReference::Found
                                          ? std::wstring(ridName.Text())
                                          : name;
            const GroupMember* listed = nullptr;
            for (const GroupMember& m : group.members)
                if (EqualsNoCase(m.sid.Text(), key.c_str()) ||
                    (m.name.Text()[0] != L'\0' && EqualsNoCase(m.name.Text(), key.c_str())))
                    listed = &m;
            AccountPlan* account = listed != nullptr ? FindPlanned(plan, listed->name.Text()) : nullptr;
            if (account == nullptr)
                account = FindPlanned(plan, key);
            const bool moved = account != nullptr && (account->NewType() >= 0 || !account->WillExist());
            if (add && listed != nullptr && !(moved && typeGroup >= 0) && (account == nullptr || account->WillExist()))
                continue;
            MemberStep step;
            step.add = add;
            step.name = name;
            GroupMember member;
            const bool onPaper = account != nullptr && !account->exists && account->WillExist();
            const bool resolved = !onPaper && (account == nullptr || account->WillExist()) &&
                                  ResolveGroupMember(name.c_str(), step.sid, member);
            if (!resolved && !onPaper) {
                if (!add && account != nullptr && !account->WillExist())
                    continue;   // its membership goes with it
                planned.refusal = kExitNoSuchAccount;
                planned.why = L"there is no account or group " + Quoted(name) + L"; nothing was changed";
                planned.steps.clear();
                return;
            }
            if (account == nullptr && resolved)
                account = FindPlanned(plan, member.name.Text());
            step.shown = onPaper ? name : member.name.Text()[0] != L'\0' ? member.name.Text() : member.sid.Text();
            // What the account steps will have made of its membership.
            bool isMember = false;
            if (account != nullptr && typeGroup >= 0 && account->NewType() >= 0)
                isMember = account->NewType() == typeGroup;
            else if (!onPaper)
                for (const GroupMember& m : group.members)
                    isMember = isMember || EqualsNoCase(m.sid.Text(), member.sid.Text());
            bool twice = false;
            for (const MemberStep& earlier : planned.steps)
                twice = twice || EqualsNoCase(earlier.shown.c_str(), step.shown.c_str());
            if (isMember == add || twice)
                continue;
            if (!add && !onPaper && member.name.Text()[0] != L'\0')
                leaving.push_back(member.name.Text());
            planned.steps.push_back(std::move(step));
        }
    }
    if (!leaving.empty() && IsAdministratorsSid(group.sid.Text()) && RemovesLastAdministrators(leaving)) {
        planned.refusal = kExitRefused;
        planned.why = L"this would take the last administrator account of this computer that can sign in out of " +
                      Quoted(group.name.Text()) + L"; nothing was changed";
        planned.steps.clear();
    }
}

void PlanAutoLogon(ApplyPlan& plan, const wchar_t* console)
{
    const DesiredState& state = *plan.state;
    AutoLogonPlan& autoLogon = plan.autoLogon;
    if (!state.autoLogonGiven)
        return;
    const WString before = GetAutoLogonUserName();
    const bool configured = IsAutoLogonConfigured();
    // Off is off: the system leaves the last user's name behind on its own.
    if (state.autoLogon.empty()) {
        if (configured) {
            autoLogon.action = AutoLogonAction::Clear;
            autoLogon.change = {L"automatic sign-in cleared", L"autologon", L"account", before.Text(), L""};
        }
        return;
    }
    // Its password is renewed with `autologon set`; asking for it on every
    // run would need it on every run's standard input.
    const std::wstring& name = state.autoLogon;
    if (IsAutoLogonAccount(name.c_str()))
        return;
    autoLogon.action = AutoLogonAction::Set;
    AccountSettingValues will;
    const AccountPlan* account = FindPlanned(plan, name);
    AccountDetails details;
    if (account != nullptr && account->WillExist())
        will = account->settings.will;
    else if (account == nullptr && ReadAccountDetails(name.c_str(), console, details))
        will = SettingValuesOf(details);
    else {
        autoLogon.refusal = kExitNoSuchAccount;
        autoLogon.why = L"there is no local account " + Quoted(name);
        return;
    }
    if ((will.flags & (kFlagAccountDisabled | kFlagLockedOut)) != 0 || will.hidden) {
        autoLogon.refusal = kExitRefused;
        autoLogon.why = L"a disabled, locked-out or hidden account cannot sign in automatically; nothing was changed";
        return;
    }
    autoLogon.secretOnly = configured && EqualsNoCase(before.Text(), name.c_str());
    autoLogon.change = {L"automatic sign-in as " + Quoted(name), L"autologon", autoLogon.secretOnly ? L"password" : L"account",
                        configured ? before.Text() : L"", name};
}

int CarryOutDeletion(CommandRun& run, const AccountPlan& account)
{
    const wchar_t* name = account.desired->name.c_str();
    AccountDeletionReport report;
    if (!DeleteAccountOrSay(run, name, account.desired->keepFiles, report))
        return kExitFailed;
    Record(run, account.lifecycle[0]);
    if (account.lifecycle.size() < 2)
        return kExitDone;
    PlannedChange folderGone = account.lifecycle[1];
    if (report.result == kDeleteScheduled) {
        folderGone.text += L" at the next restart: " + std::to_wstring(report.folderTally.scheduled) +
                           L" of its entries in use wait for it, files first, then their folders";
        Record(run, folderGone);
        return kExitRestartNeeded;
    }
    if (report.folderVerdict == ProfileFolderVerdict::Missing) {
        run.Say(L"the profile folder " + Quoted(account.profile) + L" was already gone");
        return kExitDone;
    }
    if (report.folderVerdict != ProfileFolderVerdict::Inside && report.folderVerdict != ProfileFolderVerdict::Empty) {
        run.NotDone(folderGone.text + L": it was kept because it does not lie inside the profiles folder, is shared "
                                      L"or is a link");
        return kExitFailed;
    }
    if (report.folderResult == kDeleteFailed) {
        const DeleteTally& tally = report.folderTally;
        run.NotDone(folderGone.text + L": " + std::to_wstring(tally.failed) +
                    L" of its entries could be neither deleted nor left for the next restart" +
                    (tally.scheduled > 0 ? L" (" + std::to_wstring(tally.scheduled) + L" others wait for it)" : L""));
        return kExitFailed;
    }
    Record(run, folderGone);
    return kExitDone;
}

// Makes the account as planned; `added` whether it now exists.
int CarryOutCreation(CommandRun& run, const AccountPlan& account, bool& added)
{
    const wchar_t* name = account.desired->name.c_str();
    const AccountSettingValues& made = account.settings.is;
    CreateReport report;
    CreateAccount(name, made.fullName.empty() ? nullptr : made.fullName.c_str(), made.privilege, nullptr, &report);
    added = report.outcome != CreateOutcome::NotAdded;
    if (!added) {
        run.Say(L"the account could not be created; nothing was changed");
        return kExitFailed;
    }
    Record(run, account.lifecycle[0]);
    int code = kExitDone;
    if (report.outcome == CreateOutcome::AddedWithProfile) {
        Record(run, account.lifecycle[1]);
    } else {
        run.NotDone(account.lifecycle[1].text + L" (it will be made at the account's first sign-in)");
        code = kExitFailed;
    }
    if (account.lifecycle.size() > 2) {
        if (SetAccountPicture(name, account.defaultPicture.Get(), PictureFit::Crop, GetOsVersionNumber())) {
            Record(run, account.lifecycle[2]);
        } else {
            run.NotDone(account.lifecycle[2].text);
            code = kExitFailed;
        }
    }
    return code;
}

// The account's own steps: its creation or deletion, then its settings.
int CarryOutAccount(CommandRun& run, const AccountPlan& account)
{
    if (account.Refused()) {
        run.Say(account.why);
        return account.refusal;
    }
    if (!account.why.empty())
        run.Say(account.why);
    if (run.DryRun())
        for (const PlannedChange& change : account.lifecycle)
            Record(run, change);
    if (account.action == AccountAction::Delete)
        return run.DryRun() ? kExitDone : CarryOutDeletion(run, account);
    int code = kExitDone;
    if (account.action == AccountAction::Create && !run.DryRun()) {
        bool added = false;
        code = CarryOutCreation(run, account, added);
        if (!added)
            return code;
    }
    if (!account.settings.changes.empty())
        code = Worse(code, CarryOutSettings(run, account.settings));
    return code;
}

int CarryOutPicture(CommandRun& run, const AccountPlan& account)
{
    if (account.pictureRefusal != kExitDone) {
        run.Say(account.pictureWhy);
        return account.pictureRefusal;
    }
    const std::wstring& name = account.desired->name;
    const std::wstring& file = account.desired->picture;
    const PlannedChange change{L"picture of " + Quoted(name) + L" from " + Quoted(file), name, L"picture", L"", file};
    if (run.DryRun() ||
        SetAccountPicture(name.c_str(), account.picture.Get(), PictureFit::Crop, GetOsVersionNumber())) {
        Record(run, change);
        return kExitDone;
    }
    run.NotDone(change.text);
    run.Say(L"the picture could not be changed");
    return kExitFailed;
}

int CarryOutGroup(CommandRun& run, GroupPlan& planned)
{
    if (planned.refusal != kExitDone) {
        run.Say(planned.why);
        return planned.refusal;
    }
    const wchar_t* group = planned.group.name.Text();
    for (const PlannedChange& change : planned.lifecycle) {
        NET_API_STATUS status = NERR_Success;
        if (!run.DryRun() && planned.create)
            status = CreateLocalGroup(group, planned.group.description.Text());
        else if (!run.DryRun() && planned.remove)
            status = DeleteLocalGroup(group);
        else if (!run.DryRun() && change.field == L"description")
            status = SetLocalGroupDescription(group, planned.desired->description.c_str());
        if (status != NERR_Success) {
            run.NotDone(change.text);
            return kExitFailed;   // nothing of its members is done
        }
        Record(run, change);
    }
    bool failed = false;
    for (MemberStep& step : planned.steps) {
        const std::wstring text = Quoted(step.shown) + (step.add ? L" added to " : L" removed from ") + Quoted(group);
        const PlannedChange change{text, group, L"members", step.add ? L"" : step.shown, step.add ? step.shown : L""};
        if (run.DryRun()) {
            Record(run, change);
            continue;
        }
        GroupMember made;
        // An account this run made is found by its name now that it exists.
        if (!step.sid && !ResolveGroupMember(step.name.c_str(), step.sid, made)) {
            run.NotDone(text);
            failed = true;
            continue;
        }
        const NET_API_STATUS status = ChangeGroupMembership(group, step.sid.Get(), step.add);
        if (status == NERR_Success) {
            Record(run, change);
        } else if (status != ERROR_MEMBER_IN_ALIAS && status != ERROR_MEMBER_NOT_IN_ALIAS) {
            run.NotDone(text);
            if (status == ERROR_NO_SUCH_MEMBER || status == ERROR_INVALID_MEMBER)
                run.Say(Quoted(step.shown) + L" cannot be a member of a local group");
            failed = true;
        }
    }
    return failed ? kExitFailed : kExitDone;
}

int CarryOutAutoLogon(CommandRun& run, const AutoLogonPlan& autoLogon, const std::wstring& name)
{
    if (autoLogon.refusal != kExitDone) {
        run.Say(autoLogon.why);
        return autoLogon.refusal;
    }
    const PlannedChange& change = autoLogon.change;
    const auto record = [&] {
        autoLogon.secretOnly ? run.SecretChange(change.text, change.target, L"password") : Record(run, change);
    };
    if (autoLogon.action == AutoLogonAction::Clear) {
        if (run.DryRun() || SetAutoLogon(L"", nullptr) != AutoLogonResult::Failed) {
            record();
            return kExitDone;
        }
        run.Say(L"the automatic sign-in could not be cleared");
        return kExitFailed;
    }
    // A dry run needs no password: nothing is stored.
    if (run.DryRun()) {
        record();
        return kExitDone;
    }
    SecretText password;
    if (!run.ReadSecret(password, L"Password of the account: ", true))
        return kExitUsage;
    if (SetAutoLogon(name.c_str(), password.Text()) != AutoLogonResult::Failed) {
        record();
        return kExitDone;
    }
    run.Say(L"the automatic sign-in could not be set");
    return kExitFailed;
}

// Reads the machine and makes the plan; nothing is changed.
void MakeApplyPlan(const DesiredState& state, ApplyPlan& plan)
{
    plan.state = &state;
    WString console;
    FindConsoleUser(console, nullptr, nullptr);
    plan.accounts.reserve(state.accounts.size());
    PlanAccounts(plan, console.Text());
    if (!state.groups.empty()) {
        const MemberNames& names = plan.Names();
        plan.groups.reserve(state.groups.size());
        for (const DesiredGroup& desired : state.groups) {
            plan.groups.emplace_back();
            plan.groups.back().desired = &desired;
            PlanGroup(plan, plan.groups.back(), names);
        }
    }
    if (state.policy.given) {
        if (!ReadPasswordPolicy(plan.policyIs)) {
            plan.policyRefusal = kExitFailed;
            plan.policyWhy = L"the password policy could not be read";
        }
        plan.policyWill = plan.policyIs;
        for (const auto& value : state.policy.values)
            plan.policyWill.*kPolicySettings[value.first].value = value.second;
        if (const wchar_t* conflict = plan.policyRefusal == kExitDone ? PolicyConflict(plan.policyWill) : nullptr) {
            plan.policyRefusal = kExitUsage;
            plan.policyWhy = std::wstring(conflict) + L"; nothing of the policy was changed";
        }
    }
    PlanAutoLogon(plan, console.Text());
}

// Carries the plan out, or with a dry run records each change it would
// make; each resource's outcome in the document or, in text, a line for
// each left as it was. The exit code.
int CarryOutApplyPlan(CommandRun& run, ApplyPlan& plan, std::vector<ResourceOutcome>& outcomes, int exitCode)
{
    const DesiredState& state = *plan.state;
    const auto resource = [&](const wchar_t* kind, const std::wstring& target, const auto& step) {
        const size_t before = run.Changes().size();
        const int code = step();
        outcomes.push_back({kind, target, run.Changes().size() > before, code});
        exitCode = Worse(exitCode, code);
    };
    for (const AccountPlan& account : plan.accounts) {
        resource(L"account", account.desired->name, [&] { return CarryOutAccount(run, account); });
        if (account.picture || account.pictureRefusal != kExitDone)
            resource(L"picture", account.desired->name, [&] { return CarryOutPicture(run, account); });
        else if (!account.desired->picture.empty() && account.exists && account.WillExist())
            outcomes.push_back({L"picture", account.desired->name, false, kExitDone});
    }
    for (GroupPlan& group : plan.groups)
        resource(L"group", group.desired->group, [&] { return CarryOutGroup(run, group); });
    if (state.policy.given) {
        resource(L"policy", L"", [&] {
            if (plan.policyRefusal != kExitDone)
                run.Say(plan.policyWhy);
            return plan.policyRefusal != kExitDone || plan.policyIs == plan.policyWill
                       ? plan.policyRefusal
                       : CarryOutPolicy(run, plan.policyIs, plan.policyWill);
        });
    }
    // After the accounts too: one the document keeps may have just been enabled.
    if (state.profiles.given) {
        resource(L"profiles", L"", [&] {
            ProfileCleaning cleaning;
            cleaning.unusedForDays = state.profiles.unusedForDays;
            cleaning.exclude = state.profiles.exclude;
            cleaning.keepAccounts = state.profiles.keepAccounts;
            cleaning.confirmed = true;   // the document is the operator's word
            for (const DesiredAccount& account : state.accounts)
                if (account.present)
                    cleaning.keptAccounts.push_back(account.name);
            cleaning.leftSids = plan.goneSids;
            cleaning.listed = !run.Json();   // its own document is not this one
            return CleanProfilesAs(run, cleaning);
        });
    }
    if (state.autoLogonGiven) {
        resource(L"autoLogon", state.autoLogon, [&] {
            return plan.autoLogon.action == AutoLogonAction::Keep
                       ? kExitDone
                       : CarryOutAutoLogon(run, plan.autoLogon, state.autoLogon);
        });
    }
    if (!state.mend.empty())
        resource(L"mend", L"", [&] { return CarryOutMend(run, state.mend); });
    if (run.Json()) {
        JsonWriter& json = run.Document();
        json.Key("resources").BeginArray();
        for (const ResourceOutcome& outcome : outcomes)
            json.BeginObject().Field("kind", outcome.kind).Field("target", outcome.target)
                .Field("changed", outcome.changed).Field("exitCode", outcome.exitCode).EndObject();
        json.EndArray();
    } else {
        for (const ResourceOutcome& outcome : outcomes)
            if (!outcome.changed && outcome.exitCode == kExitDone)
                run.Line(L"unchanged: " + std::wstring(outcome.kind) + L" " +
                         EscapeControls(outcome.target.c_str()).Text());
    }
    return exitCode;
}

// A document names accounts as every verb does: by name, SID or RID, so
// that one written on another computer means the built-in accounts
// whatever they are called here. Each SID or RID becomes the name it has
// here. One that names nothing here is never made as a name ("#501"
// would be a new account so called): meant absent, it is so already;
// meant present, it is a missing account. Those are taken out of the
// document and their outcome recorded; the exit code of what was refused.
int ResolveDocumentAccounts(CommandRun& run, DesiredState& state, std::vector<ResourceOutcome>& outcomes,
                            ApplyPlan& plan)
{
    int exitCode = kExitDone;
    std::vector<DesiredAccount> kept;
    // The RIDs a document names (an export names the built-in accounts so)
    // are answered from the plan's one pass over the accounts.
    const auto resolve = [&](const std::wstring& text, WString& name) {
        return text[0] == L'#' ? plan.Names().ResolveRid(text.c_str(), name)
                               : ResolveAccountReference(text.c_str(), name);
    };
    for (DesiredAccount& account : state.accounts) {
        WString name;
        switch (resolve(account.name, name)) {
        case AccountReference::Name: break;
        case AccountReference::Found: account.name = name.Text(); break;
        case AccountReference::Absent:
            if (!account.present) {
                outcomes.push_back({L"account", account.name, false, kExitDone});
                continue;
            }
            [[fallthrough]];
        case AccountReference::NotFound:
            if (!account.present) {
                run.Say(L"no such account: \"" + account.name + L"\" is no SID or RID of this computer's accounts");
            } else {
                run.Say(L"no such account: no local account has the SID or RID \"" + account.name +
                        L"\" (a new account is made only by its name)");
            }
            outcomes.push_back({L"account", account.name, false, kExitNoSuchAccount});
            exitCode = Worse(exitCode, kExitNoSuchAccount);
            continue;
        }
        kept.push_back(std::move(account));
    }
    state.accounts = std::move(kept);
    WString name;
    if (state.autoLogonGiven && !state.autoLogon.empty() && resolve(state.autoLogon, name) == AccountReference::Found)
        state.autoLogon = name.Text();
    return exitCode;
}

}  // namespace

int Apply(CommandRun& run)
{
    std::string text;
    const WString full = FullPathName(run.Argument(0));
    if (!full.Valid() || !IsLocalDrivePath(full.Text())) {
        run.Say(L"the file " + Quoted(run.Argument(0)) + L" is not on a drive of this computer (a network or device "
                L"path is never read); nothing was changed");
        return kExitUsage;
    }
    if (!ReadDocumentFile(run.Argument(0), text)) {
        run.Say(L"the file " + Quoted(run.Argument(0)) + L" could not be read (or is larger than 16 MB)");
        return kExitUsage;
    }
    JsonValue document;
    DesiredState state;
    std::wstring error;
    if (!ParseJson(text, document, error) || !ReadDesiredState(document, state, error)) {
        run.Say(L"the file " + Quoted(run.Argument(0)) + L" is no desired state: " + error + L"; nothing was changed");
        return kExitUsage;
    }
    std::vector<ResourceOutcome> outcomes;
    ApplyPlan plan;
    const int resolved = ResolveDocumentAccounts(run, state, outcomes, plan);
    MakeApplyPlan(state, plan);
    return CarryOutApplyPlan(run, plan, outcomes, resolved);
}
