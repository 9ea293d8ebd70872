// The repair tool's decisions that need no system call: the log's texts and
// time stamp, what a text file's mode asks of the file system, the reading
// of the tool's command line and the checks on values read back from the
// state file. Kept apart so that every case can be tested on any host.
#pragma once

#include <cstdint>

#include "accounts/lifecycle_rules.h"
#include "platform/text.h"

// ---------------------------------------------------------------------------
// Fixed names shared by the tool's runs.

inline constexpr const auto& kTempAccountName = kReservedAccountName;
inline constexpr wchar_t kTempAccountFullName[] = L"Brenwick temp account";
inline constexpr wchar_t kToolFolderName[] = L"\\Brenwick";
inline constexpr wchar_t kToolExeName[] = L"\\Brenwick.exe";
inline constexpr wchar_t kStateFileName[] = L"\\Brenwick.ini";
inline constexpr wchar_t kLogFileName[] = L"\\BrenwickLog.txt";

// The tool's switches on the program's command line, spelt in this one
// place: RepairArguments writes them (the set-up's fix run, the clean-up
// shortcuts, the finishing service) and ParseRepairArguments and the run
// mode read them.
inline constexpr wchar_t kRepairSwitch[] = L"/brenwick";
inline constexpr wchar_t kCleanupSwitch[] = L"/cleanup";
inline constexpr wchar_t kCleanupFailedSwitch[] = L"/cleanupfailed";
inline constexpr wchar_t kFinishSwitch[] = L"/finish";
inline constexpr wchar_t kFixUserSwitch[] = L"/fixuser";
inline constexpr wchar_t kFixFlagSwitch[] = L"/fixflag=";
inline constexpr wchar_t kSilentSwitch[] = L"/silent";

// What a run of the tool started by its own command line is to do.
enum class RepairStart {
    FixUser,         // the fix run of `account` with `fixFlags`, in the temporary account
    Cleanup,         // the clean-up, in the repaired account
    CleanupFailed,   // the clean-up of a failed repair, in the temporary account
    Finish,          // the repair's last part, as SYSTEM
};

// The arguments after the program's path that start `start`
// ("/brenwick /cleanup"); the account is quoted.
WString RepairArguments(RepairStart start, const wchar_t* account = nullptr, int32_t fixFlags = 0);

// Options of one repair, carried on the command line as a decimal number.
struct FixFlags {
    static constexpr int32_t KeepAppPackages = 1;
    static constexpr int32_t KeepSystemAppData = 2;
    // The old registry hives kept in place of the fresh ones, their keys
    // given to the new SID.
    static constexpr int32_t KeepSettings = 4;
    static constexpr int32_t All = KeepAppPackages | KeepSystemAppData | KeepSettings;
};

// ---------------------------------------------------------------------------
// The log.

// Flags of WriteLogEntry.
struct LogFlags {
    static constexpr uint32_t Header = 1;
    static constexpr uint32_t NewLog = 2;
    static constexpr uint32_t EndLine = 4;
};

// "YYYY/MM/DD hh:mm:ss:mmm", each field zero-padded to its width; a number
// longer than its width keeps its last digits (year 12024 gives "2024").
WString FormatLogStamp(uint32_t year, uint32_t month, uint32_t day, uint32_t hour, uint32_t minute,
                       uint32_t second, uint32_t milliseconds);

// The header that opens a new log.
const wchar_t* LogHeaderText();
// CR LF, the stamp, ": " and the text.
WString LogEntryText(const wchar_t* stamp, const wchar_t* text);
// The line that closes a log after the clean-up.
WString LogEndText(const wchar_t* stamp);

// ---------------------------------------------------------------------------
// The text file writer's mode word.

struct TextFileMode {
    static constexpr uint32_t Write = 1;
    static constexpr uint32_t Truncate = 2;
    static constexpr uint32_t Exclusive = 4;
    static constexpr uint32_t CreateParents = 8;
    static constexpr uint32_t Append = 16;
    static constexpr uint32_t Utf16Le = 32;
    static constexpr uint32_t Utf16Be = 64;
    static constexpr uint32_t Utf8Mark = 128;
    static constexpr uint32_t Utf8 = 256;
    static constexpr uint32_t Encodings = Utf16Le | Utf16Be | Utf8Mark | Utf8;
};

enum class OpenDisposition { OpenExisting, OpenAlways, CreateAlways };

// What opening a file in a mode asks of the file system.
struct TextFileOpenPlan {
    bool writeAccess = false;
    bool shareRead = true;
    OpenDisposition disposition = OpenDisposition::OpenExisting;
};
TextFileOpenPlan PlanTextFileOpen(uint32_t mode);

// The mark written at the start of an empty file opened for writing: its
// byte count (0, 2 or 3) and bytes. UTF-8 wins over both UTF-16 bits.
uint32_t TextFileMark(uint32_t mode, uint8_t bytes[3]);

// The mode after reading the first `count` (0 to 3) bytes of a non-empty
// file: a recognised mark replaces the encoding bits. `markLength` gets the
// mark's length (0 when none was recognised).
uint32_t ModeAfterMark(uint32_t mode, const uint8_t* bytes, uint32_t count, uint32_t* markLength);

enum class TextEncoding { Utf16Le, Utf16Be, Utf8, Ansi };
TextEncoding EncodingOfMode(uint32_t mode);

// ---------------------------------------------------------------------------
// The command line.

struct RepairCommandInput {
    bool inTempAccount = false;
    const wchar_t* consoleUserName = nullptr;   // null or empty: unknown
    int showCommand = 5;
};

enum class RepairCommandAction {
    Window,    // open the tool's window with `showCommand`
    Cleanup,   // "/cleanup" outside the temporary account, or "/cleanupfailed" inside
               // it: run the clean-up now
    Refused,   // end the run with `result` (-1 or -2)
    Finish,    // "/finish": the repair's last part, run as SYSTEM by the service manager at a start
};

struct RepairCommand {
    RepairCommandAction action = RepairCommandAction::Window;
    int result = 0;            // Refused: -1 or -2
    int showCommand = 5;       // Window: 0 (silent), 5 or 10
    WString fixAccount;        // empty for the wizard
    int32_t fixFlags = 0;
    bool silent = false;
    // The clean-up after a repair that ended before the account could sign
    // in: it runs in the temporary account and removes that account too.
    bool inTempAccount = false;
};

// Scans the split arguments from the first. Failing to split gives a null
// argument list, which keeps the show command as given.
RepairCommand ParseRepairArguments(int count, const wchar_t* const* arguments, const RepairCommandInput& input);

// ---------------------------------------------------------------------------
// Values read back from the state file.

enum class SavedValueKind { UserPriv, UacState, LuaState, AadState, UacUserState };

// 4321 in "AADState": the store policy value did not exist and is deleted again.
inline constexpr uint32_t kAadStateAbsent = 4321;
// 4294967295 (-1) in "UACState", "UACUserState" or "LUAState": the set-up found no such
// policy value (or no policy key), and the value is deleted again.
inline constexpr uint32_t kPolicyValueAbsent = 0xFFFFFFFF;

struct SavedValue {
    bool present = false;   // the key had a text
    bool valid = false;     // present and allowed for its kind
    bool absent = false;    // valid, and says the value did not exist before the repair
    uint32_t value = 0;     // meaningful only when valid
};

// Only plain decimal digits count as a number (no sign, no blanks, at most
// ten digits, at most 4294967295); the number must then be allowed for the
// kind: UserPriv 0 to 2; UacState 0 to 5, UacUserState 0 to 3 and LuaState
// 0 or 1, each also kPolicyValueAbsent; AadState any number, kAadStateAbsent meaning absent.
// A null or empty text is absent.
SavedValue CheckSavedValue(SavedValueKind kind, const wchar_t* text);

// What the clean-up does with one policy value, from what was saved and
// what the machine holds now. Nothing valid saved (a missing key or
// section, a value out of range): it stays as it is, never rewritten from
// what the repair set.
enum class PolicyRestore { Leave, Write, Delete };
PolicyRestore DecidePolicyRestore(const SavedValue& saved, bool currentPresent, uint32_t current);

// The key name of a kind in the state file.
const wchar_t* SavedValueKey(SavedValueKind kind);

// ---------------------------------------------------------------------------
// A folder found where the tool folder belongs.

// One entry of such a folder, as listed.
struct ToolFolderEntry {
    const wchar_t* name = nullptr;
    bool isFolder = false;
    bool isLink = false;
    bool trustedOwner = false;   // owned by SYSTEM or the Administrators
};

// True for the names of the files the tool itself writes into its folder:
// the copy of the program, the state file, the log, the journal (and the
// new copy that replaces it) and the kept account picture.
bool IsToolFolderFileName(const wchar_t* name);

// Whether a folder found in place may be used as it is. Its owner must be
// SYSTEM or the Administrators (nobody else can have made it), and it may
// hold nothing but the tool's own files, each owned by SYSTEM or the
// Administrators: those are what an earlier set-up left. A sub-folder, a
// link, a foreign name or a file a user owns means that somebody else could
// write there, and whatever they left (a library beside the program, which
// the elevated program would load) must not be taken over.
bool MayReuseToolFolder(bool trustedOwner, const ToolFolderEntry* entries, uint32_t count);

// ---------------------------------------------------------------------------
// The earlier automatic sign-in, kept in the state file across the repair.

inline constexpr wchar_t kPrevLogonUserKey[] = L"PrevLogonUser";
inline constexpr wchar_t kPrevLogonDomainKey[] = L"PrevLogonDomain";
inline constexpr wchar_t kPrevAutoLogonKey[] = L"PrevAutoLogon";
// "1" once a clean-up has put the earlier sign-in back (or found none to put
// back): a clean-up run again must leave the automatic sign-in alone.
inline constexpr wchar_t kLogonRestoredKey[] = L"LogonRestored";

// A user or domain name as Winlogon may hold it: 1 to `maxLength` units, no
// control character and none of " / \ [ ] : ; | = , + * ? < >.
bool IsPlausibleLogonName(const wchar_t* name, uint32_t maxLength);
