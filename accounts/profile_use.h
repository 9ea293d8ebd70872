// Every profile of the computer with what its clean-up is judged on (whose
// it is, when it was last used, whether it is in use), and the deletion of
// an unused one through the account deletion's own path and checks.
#pragma once

#include <windows.h>

#include <string>
#include <vector>

#include "accounts/account_lifecycle.h"
#include "accounts/lookup.h"
#include "accounts/profile_list.h"
#include "accounts/profile_use_rules.h"
#include "platform/text.h"

struct ProfileUse {
    WString sid;          // the profile-list entry's name
    WString account;      // the account's name; empty when no account has the SID any more
    WString storedPath;   // "ProfileImagePath" as stored
    WString folder;       // the same, expanded
    bool accountDisabled = false;
    bool accountBuiltin = false;
    ProfileUseFacts facts;
};

// Every profile-list entry, in the list's order; false, with `uses` emptied,
// when the list or the accounts could not be read whole. `consoleSid` marks
// the console user's profile (may be empty).
bool ReadProfileUses(const wchar_t* consoleSid, std::vector<ProfileUse>& uses);

// The same from a profile list and accounts already read whole, each
// account's SID being `machineSid` followed by its RID: the one definition
// of a profile's owner, state and last use, for a reader that has both.
std::vector<ProfileUse> DescribeProfileUses(const std::vector<ProfileListEntry>& entries,
                                            const std::vector<AccountRecord>& accounts,
                                            const std::wstring& machineSid, const wchar_t* consoleSid);

// The current time as FILETIME ticks.
uint64_t NowTicks();

// Whether the profile's hives are loaded under HKEY_USERS now.
bool ProfileHivesLoaded(const wchar_t* sidString);

// What the deletion of one unused profile does: its folder's verdict (read
// without changing anything, so that a dry run says what the run will do)
// and whether the account goes with it, the folder judged against
// `folders` (ProfileFolderSet).
struct ProfileDeletionPlan {
    ProfileFolderVerdict verdict = ProfileFolderVerdict::Empty;
    bool folderGoes = false;      // Inside: the folder is deleted; Missing: only the entry goes
    bool accountGoes = false;
};
ProfileDeletionPlan PlanProfileDeletion(const ProfileUse& use, bool keepAccounts, const ProfileFolderSet& folders);

// Deletes the profile as the plan says: with its account through the
// account deletion, else its hives, folder (leftovers at the restart) and
// entry through the same steps the account deletion takes for them. A
// profile found loaded again is left alone (report.result 0). The folder is
// checked again, against `folders` as read after the operator's yes.
void DeleteUnusedProfile(const ProfileUse& use, const ProfileDeletionPlan& plan, const ProfileFolderSet& folders,
                         AccountDeletionReport& report);

// How the deletion of one profile ended.
enum class ProfileDeletionEnd {
    Gone,            // folder and entry gone, and the account when the plan said so
    GoneAtRestart,   // gone, but some of its files go at the next restart
    AccountStayed,   // the account it was to go with could not be deleted
    LeftAlone,       // found loaded, or no longer inside the profiles folder: nothing done
    FilesLeft,       // some of its files, or its entry, could not be deleted
};

// DeleteUnusedProfile, and what came of it: the one deletion both the
// command line and the window's profile list go through.
ProfileDeletionEnd DeleteProfileAsPlanned(const ProfileUse& use, const ProfileDeletionPlan& plan,
                                          const ProfileFolderSet& folders);
