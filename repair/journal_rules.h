// The fix run's journal and the decisions that make each step of a repair
// safe to repeat after a power cut: what the journal holds, how it is
// written and read back (every value checked), and what a step does when it
// finds its work already done. No system call here, so that every case can
// be tested on any host.
#pragma once

#include <cstdint>
#include <string>

// The repair's steps in the order they run; the journal counts the steps
// completed. The hand-over is last: after it the clean-up run takes over.
enum class RepairStep : uint32_t {
    AccountInfo = 0,    // old SID, old folder, taskbar pins and picture saved
    DeleteOld,          // the old account deleted, its folder kept
    CreateNew,          // the account made anew; pins carried over
    ProfileEntry,       // the new SID's profile entry names the old folder
    Permissions,        // the old folder's permissions given to the new SID
    DataFolders,        // store-app data and system app data
    ClassesHive,        // UsrClass.dat
    UserHive,           // NTUSER.DAT
    FreshFolder,        // the fresh profile folder removed
    Picture,            // the picture carried over
    HandOver,           // automatic sign-in and clean-up shortcuts
    Count,
};
inline constexpr uint32_t kRepairStepCount = static_cast<uint32_t>(RepairStep::Count);

// A step that has not been completed after this many runs ends the repair.
inline constexpr uint32_t kMaxStepTries = 3;

// The operator's name of a step, for the log ("delete the old account").
const wchar_t* RepairStepName(RepairStep step);
// The power-cut point passed right after the step's journal entry
// ("step 4 done", numbered as the operator's documentation numbers them).
const wchar_t* RepairStepPoint(RepairStep step);

// How a repair ended; Running while it has not.
enum class RepairOutcome : uint32_t {
    Running = 0,
    Repaired = 1,       // both hives in place; handed over to the repaired account
    NotRepaired = 2,    // the account was made anew but a hive is missing; handed over to it
    Failed = 3,         // ended before the account could sign in; the clean-up runs in the temporary account
};

// Work inside a step that must not be done twice.
struct JournalMark {
    static constexpr uint32_t PackagesEmptied = 1;     // the old store-app data removed for the fresh one
    static constexpr uint32_t PackagesMoved = 2;
    static constexpr uint32_t AppDataEmptied = 4;      // the old system app data removed for the fresh one
    static constexpr uint32_t AppDataMoved = 8;        // with it the fresh UsrClass.dat
    static constexpr uint32_t ClassesOldRemoved = 16;  // the old UsrClass.* files removed
    static constexpr uint32_t UserOldRemoved = 32;     // the old NTUSER.* files removed
    static constexpr uint32_t CreationStarted = 64;    // the new account is being added: one of that name is ours
    static constexpr uint32_t CleanupSignIn = 128;     // the clean-up put the automatic sign-in back
    static constexpr uint32_t CleanupEnded = 256;      // the clean-up wrote the log's end line
    // Keeping the settings: the fresh profile's hive file holds the old
    // one's content, its keys given to the new SID (the old file untouched).
    static constexpr uint32_t UserSettingsKept = 512;
    static constexpr uint32_t ClassesSettingsKept = 1024;
    static constexpr uint32_t All = 2047;
};

struct RepairJournal {
    std::wstring account;
    uint32_t flags = 0;           // FixFlags
    std::wstring oldSid, oldProfile;
    std::wstring newSid, newProfile;
    uint32_t stepsDone = 0;       // 0 .. kRepairStepCount
    uint32_t tries = 0;           // runs that started the step after the completed ones
    uint32_t hiveCount = 0;       // 0 .. 2
    uint32_t marks = 0;           // JournalMark bits
    RepairOutcome outcome = RepairOutcome::Running;

    bool Done(RepairStep step) const { return stepsDone > static_cast<uint32_t>(step); }
};

// "key=value" lines, CR LF after each. False when a value could not be
// written back unchanged (a line break in it).
bool FormatJournal(const RepairJournal& journal, std::wstring& text);

// Reads a journal's text and checks every value: the account a plausible
// user name; the flags 0 to 7; SIDs plain SID strings, the new one unlike
// the old; folders normalised and strictly inside `profilesRoot`; the
// numbers in range; the values a completed step must have left present.
// False, with the reason in `problem`, when anything is off: such a journal
// is not acted on.
bool ParseJournal(const wchar_t* text, const wchar_t* profilesRoot, RepairJournal& journal, std::wstring& problem);

// What the deletion of the old account does with what the machine shows.
enum class OldAccountAction {
    Delete,          // it exists with the journaled SID
    AlreadyGone,     // no account of that name: an earlier run deleted it
    Refuse,          // an account of that name with another SID: never delete it
};
OldAccountAction DecideOldAccount(bool exists, const wchar_t* existingSid, const wchar_t* journaledOldSid);

// What the creation does with what the machine shows. An account of that
// name with a new SID is reused when it is an administrator, or when the
// journal says an earlier run had begun adding it (a creation cut before
// it set the type); it is then completed.
enum class NewAccountAction {
    Create,          // no account of that name yet
    Reuse,           // made by an earlier run
    Refuse,          // the old account (same SID), or one this repair did not begin to make
};
NewAccountAction DecideNewAccount(bool exists, const wchar_t* existingSid, const wchar_t* oldSid, bool administrator,
                                  bool creationStarted);

// What putting a hive file in place still has to do, from what the disk
// and the journal show: whether the fresh copy is still there (in the fresh
// profile or waiting beside the old one), whether the old files were already
// removed, and whether the fresh copy came along with its whole folder.
enum class HiveAction {
    RemoveOldThenMove,   // nothing done yet
    Move,                // the old files are gone; the fresh copy still waits
    Placed,              // the fresh copy is at its place: an earlier run moved it
    RemoveOldOnly,       // the fresh profile has no such file: the old one goes, as a fresh sign-in makes one
};
HiveAction DecideHiveAction(bool freshExists, bool oldRemoved, bool movedWithFolder);

// True when the two folders (normalised plain paths) are really two: not
// equal, and neither inside the other. Only then may one be deleted while
// the other must be kept.
bool AreSeparateFolders(const wchar_t* first, const wchar_t* second);

// PendingFileRenameOperations as the registry holds it (pairs of terminated
// texts, `units` long; the system writes "\??\C:\..." and "!" before a
// destination that may be replaced) already lists a rename of `source` onto
// `destination` (plain "C:\..." paths, compared without regard to case):
// registering it again would do it twice.
bool RenameIsPending(const wchar_t* list, uint32_t units, const wchar_t* source, const wchar_t* destination);

// What the set-up tells the operator when it finds the journal of a repair
// that has not ended (the journal goes with its clean-up): which account,
// and what lets that repair finish.
std::wstring RepairUnderWayText(const RepairJournal& journal);
