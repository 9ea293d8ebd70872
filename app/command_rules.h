// The command mode's decisions that need no system call: the exit codes,
// reading the arguments against a verb table, and writing JSON and CSV.
// Kept apart so that every case can be tested on any host.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

// What a command's exit code tells the script that ran it.
enum CommandExit : int {
    kExitDone = 0,            // done; for a check: nothing found
    kExitFound = 1,           // a check found something to mend
    kExitUsage = 2,           // the command line makes no sense, or --yes was needed or refused
    kExitRefused = 3,         // a guard refused it; nothing was changed
    kExitFailed = 4,          // failed or partly done
    kExitNeedsElevation = 5,  // not run as an elevated administrator
    kExitNoSuchAccount = 6,   // the account named does not exist; nothing was changed
    // Done, and the computer must restart for it to take effect: the
    // installers' convention, which deployment engines act on themselves.
    kExitRestartNeeded = 3010,
};

// The version of the JSON documents' shape (resources/command-line.schema.json):
// raised whenever a member changes its meaning or type.
inline constexpr int kCommandSchemaVersion = 1;

struct CommandExitEntry {
    int code;
    const wchar_t* meaning;
};
// Every exit code with its meaning, in order, for `help` and the README.
extern const CommandExitEntry kCommandExits[8];

// One option a verb takes. `choices` is "a|b|c" for a closed set, null for
// any value; a flag takes no value.
struct CommandOption {
    const wchar_t* name;        // "--type"
    bool takesValue;
    const wchar_t* choices;
};

// How a verb is written: its words ("password set"), its arguments and
// options, and whether it changes the machine (then --dry-run is taken)
// or destroys something (then --yes is taken too).
struct CommandSyntax {
    const wchar_t* words;
    const wchar_t* arguments;   // "NAME FILE", for help; empty: none
    int minArguments;
    int maxArguments;
    const CommandOption* options;
    size_t optionCount;
    bool changes;
    bool destructive;
};

// The options every verb takes: --json, --help, --verbose; --dry-run and
// --yes as above.
struct ParsedCommand {
    int verb = -1;                                   // index into the table; -1 none matched
    std::vector<std::wstring> arguments;
    std::vector<std::pair<std::wstring, std::wstring>> options;   // flags with an empty value
    bool json = false;
    bool dryRun = false;
    bool yes = false;
    bool help = false;
    bool verbose = false;
    std::wstring error;                              // why the line was refused

    bool Has(const wchar_t* option) const;
    // The value of the option, or `fallback` when it was not given.
    const wchar_t* Value(const wchar_t* option, const wchar_t* fallback = nullptr) const;
};

// The table row whose words the first arguments are (the longest match,
// letter case aside), or -1. `consumed` gets the number of words.
int MatchVerb(int count, const wchar_t* const* arguments, const CommandSyntax* table, size_t rows, int* consumed);

// What the arguments after the program's path ask for: the window (none,
// or a switch of the tools, which begin with a slash), a command of the
// table (letter case aside, common options and help switches before it
// allowed), or something that is neither: a command line mistyped, which
// is answered with the usage wherever someone can read it.
enum class LineKind { Window, Command, Unknown };
LineKind ClassifyCommandLine(int count, const wchar_t* const* arguments, const CommandSyntax* table, size_t rows);

// Reads the arguments after the program's path. The common options may also
// stand before the verb, and "--help", "-h", "-?" and "/?" alone ask for the
// verb "help". `json` and `verbose` are set whenever they are anywhere on the
// line, even when the line is refused, so that every outcome answers in the
// form asked for. False with `error` set for
// a line that is refused (exit 2): an unknown verb or option, a value
// missing or outside its choices, too few or too many arguments, an option
// the verb does not take, or a password on the command line, which every
// other process of the machine can read.
bool ParseCommand(int count, const wchar_t* const* arguments, const CommandSyntax* table, size_t rows,
                  ParsedCommand& parsed);

// Whether an argument carries a password ("--password=...", "--password",
// "/password:...", "-p"): refused before anything else is looked at.
bool LooksLikePasswordArgument(const wchar_t* argument);

// One JSON document in plain ASCII. Texts come as UTF-16 (a wchar_t of 32
// bits is taken as a code point); control characters, quotes, backslashes,
// unpaired surrogates and every character beyond ASCII are escaped, so any
// account name gives valid JSON that reads the same whatever code page the
// reader decodes it with.
class JsonWriter {
public:
    JsonWriter& BeginObject() { return Open('{'); }
    JsonWriter& EndObject() { return Close('}'); }
    JsonWriter& BeginArray() { return Open('['); }
    JsonWriter& EndArray() { return Close(']'); }
    JsonWriter& Key(const char* key);
    JsonWriter& String(const wchar_t* text);
    JsonWriter& String(const std::wstring& text) { return String(text.c_str()); }
    JsonWriter& Number(int64_t value);
    JsonWriter& Unsigned(uint64_t value);
    JsonWriter& Bool(bool value);
    JsonWriter& Null();
    // Key and value in one.
    JsonWriter& Field(const char* key, const wchar_t* value) { return Key(key).String(value); }
    JsonWriter& Field(const char* key, const std::wstring& value) { return Key(key).String(value); }
    JsonWriter& Field(const char* key, bool value) { return Key(key).Bool(value); }
    JsonWriter& Field(const char* key, int value) { return Key(key).Number(value); }
    JsonWriter& Field(const char* key, int64_t value) { return Key(key).Number(value); }
    JsonWriter& Field(const char* key, uint32_t value) { return Key(key).Unsigned(value); }
    JsonWriter& Field(const char* key, uint64_t value) { return Key(key).Unsigned(value); }

    const std::string& Text() const { return text_; }

private:
    void Separate();
    JsonWriter& Open(char bracket);
    JsonWriter& Close(char bracket);
    std::string text_;
    std::vector<bool> first_;   // per open container: no element written yet
    bool afterKey_ = false;
};

// Appends `text` as a quoted JSON string.
void AppendJsonString(std::string& out, const wchar_t* text);

// UTF-8 of UTF-16 text (or of code points where wchar_t has 32 bits); an
// unpaired surrogate becomes U+FFFD.
std::string ToUtf8(const wchar_t* text);

// One field of a CSV line: quoted when it holds a comma, a quote, a line
// break or leading or trailing blanks, quotes doubled. A field that a
// spreadsheet would take for a formula (= + - @ at the start) is quoted and
// led by an apostrophe, so that a full name cannot run as one.
std::wstring CsvField(const wchar_t* text);
// The fields joined with commas, ended by CR LF.
std::wstring CsvLine(const std::vector<std::wstring>& fields);

// A JSON value as read: the texts in UTF-16 (code points where wchar_t has
// 32 bits).
struct JsonValue {
    enum class Kind { Null, Bool, Number, String, Array, Object };
    Kind kind = Kind::Null;
    bool boolean = false;
    double number = 0;
    std::wstring text;
    std::vector<JsonValue> items;
    std::vector<std::pair<std::wstring, JsonValue>> members;

    // The member of an object, or null when there is none.
    const JsonValue* Member(const wchar_t* name) const;
};

// Reads one JSON document of UTF-8 text (a byte-order mark before it is
// dropped). False with `error` set for anything that is not exactly one
// valid document, nested no deeper than 64 levels, or that repeats a member.
bool ParseJson(const std::string& text, JsonValue& value, std::wstring& error);

struct AccountSetting;
// A value asked for one account setting (app/account_setting_rules.h), as
// its option spells it.
struct SettingValue {
    const AccountSetting* setting;
    std::wstring value;
    bool operator==(const SettingValue& other) const { return setting == other.setting && value == other.value; }
};

// The state of the machine a desired-state document asks for
// (resources/desired-state.schema.json): what it leaves out stays as it is.
struct DesiredAccount {
    std::wstring name;
    bool present = true;
    bool keepFiles = false;   // absent: the profile folder stays
    // The settings asked for, each a row of the table of account settings
    // with its value as the option spells it: {hidden, "yes"}.
    std::vector<SettingValue> settings;
    std::wstring picture;     // a picture file, as `picture set` takes it; empty: left as it is
};
// A local group's members as a document asks for them: those to be in it
// and those to be out of it; a member named in neither stays as it is.
struct DesiredGroup {
    std::wstring group;                  // its name or SID
    bool present = true;                 // false: a group made on this computer is deleted
    bool descriptionGiven = false;
    std::wstring description;
    // "exactMembers": `members` is the whole membership, every other
    // member is taken out (never the last administrator that can sign in).
    bool exact = false;
    std::vector<std::wstring> members;   // each a name, a SID or a RID ("#1001")
    std::vector<std::wstring> absent;
};
// The password and lock-out policy: the settings a document gives, each
// with its value as the policy keeps it (accounts/password_policy_rules.h).
struct DesiredPolicy {
    bool given = false;
    std::vector<std::pair<size_t, uint32_t>> values;   // index into kPolicySettings, value
};
// The profiles' clean-up, as `profiles clean` takes it, run on each apply.
struct DesiredProfiles {
    bool given = false;
    uint32_t unusedForDays = 0;          // 1 to 36500
    std::vector<std::wstring> exclude;   // names, SIDs or folder names of profiles kept
    bool keepAccounts = false;
};
struct DesiredState {
    std::vector<DesiredAccount> accounts;
    std::vector<DesiredGroup> groups;
    DesiredProfiles profiles;
    DesiredPolicy policy;
    bool autoLogonGiven = false;
    std::wstring autoLogon;          // empty: no automatic sign-in
    std::vector<std::wstring> mend;  // finding ids, as `doctor --fix` takes them
};

// Reads a desired-state document. False with `error` naming the first fault:
// another schemaVersion, a member it does not know, a value of the wrong
// kind or outside its choices, an account named twice.
bool ReadDesiredState(const JsonValue& document, DesiredState& state, std::wstring& error);
