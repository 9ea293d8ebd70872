#include "repair/repair_rules.h"

namespace {

// The last `width` decimal digits of `value`, zero-padded.
void AppendDigits(wchar_t*& out, uint32_t value, int width)
{
    for (int i = width - 1; i >= 0; --i) {
        out[i] = static_cast<wchar_t>(L'0' + value % 10);
        value /= 10;
    }
    out += width;
}

// What the platform's wcstoul gives for the text after "/fixflag=", wrapped
// into 32 signed bits: WString::ToInt.
int32_t DecimalFlags(const wchar_t* text)
{
    WString number(text);
    return number.ToInt();
}

}  // namespace

WString FormatLogStamp(uint32_t year, uint32_t month, uint32_t day, uint32_t hour, uint32_t minute,
                       uint32_t second, uint32_t milliseconds)
{
    wchar_t stamp[24];
    wchar_t* out = stamp;
    AppendDigits(out, year, 4);
    *out++ = L'/';
    AppendDigits(out, month, 2);
    *out++ = L'/';
    AppendDigits(out, day, 2);
    *out++ = L' ';
    AppendDigits(out, hour, 2);
    *out++ = L':';
    AppendDigits(out, minute, 2);
    *out++ = L':';
    AppendDigits(out, second, 2);
    *out++ = L':';
    AppendDigits(out, milliseconds, 3);
    *out = L'\0';
    return WString(stamp);
}

const wchar_t* LogHeaderText()
{
    return L"\r\n\t************ Brenwick log ************\r\n";
}

WString LogEntryText(const wchar_t* stamp, const wchar_t* text)
{
    WString entry(L"\r\n");
    entry.Append(stamp, L": ", text);
    return entry;
}

WString LogEndText(const wchar_t* stamp)
{
    WString line(L"\r\n\r\n\t*** End of repair operation ");
    line.Append(stamp, L" ***");
    return line;
}

TextFileOpenPlan PlanTextFileOpen(uint32_t mode)
{
    TextFileOpenPlan plan;
    plan.writeAccess = (mode & (TextFileMode::Write | TextFileMode::Truncate)) != 0;
    plan.shareRead = (mode & TextFileMode::Exclusive) == 0;
    if (mode & TextFileMode::Truncate)
        plan.disposition = OpenDisposition::CreateAlways;
    else if (mode & TextFileMode::Write)
        plan.disposition = OpenDisposition::OpenAlways;
    else
        plan.disposition = OpenDisposition::OpenExisting;
    return plan;
}

uint32_t TextFileMark(uint32_t mode, uint8_t bytes[3])
{
    if (mode & TextFileMode::Utf8Mark) {
        bytes[0] = 0xEF;
        bytes[1] = 0xBB;
        bytes[2] = 0xBF;
        return 3;
    }
    if (mode & TextFileMode::Utf16Le) {
        bytes[0] = 0xFF;
        bytes[1] = 0xFE;
        return 2;
    }
    if (mode & TextFileMode::Utf16Be) {
        bytes[0] = 0xFE;
        bytes[1] = 0xFF;
        return 2;
    }
    return 0;
}

uint32_t ModeAfterMark(uint32_t mode, const uint8_t* bytes, uint32_t count, uint32_t* markLength)
{
    uint32_t length = 0;
    uint32_t encoding = 0;
    if (bytes != nullptr && count >= 3 && bytes[0] == 0xEF && bytes[1] == 0xBB && bytes[2] == 0xBF) {
        length = 3;
        encoding = TextFileMode::Utf8Mark;
    } else if (bytes != nullptr && count >= 2 && bytes[0] == 0xFF && bytes[1] == 0xFE) {
        length = 2;
        encoding = TextFileMode::Utf16Le;
    } else if (bytes != nullptr && count >= 2 && bytes[0] == 0xFE && bytes[1] == 0xFF) {
        length = 2;
        encoding = TextFileMode::Utf16Be;
    }
    if (markLength != nullptr)
        *markLength = length;
    if (length == 0)
        return mode;
    return (mode & ~TextFileMode::Encodings) | encoding;
}

TextEncoding EncodingOfMode(uint32_t mode)
{
    // The same order as the mark: UTF-8 first, then the two UTF-16 forms.
    if (mode & (TextFileMode::Utf8Mark | TextFileMode::Utf8))
        return TextEncoding::Utf8;
    if (mode & TextFileMode::Utf16Le)
        return TextEncoding::Utf16Le;
    if (mode & TextFileMode::Utf16Be)
        return TextEncoding::Utf16Be;
    return TextEncoding::Ansi;
}

WString RepairArguments(RepairStart start, const wchar_t* account, int32_t fixFlags)
{
    WString arguments(kRepairSwitch);
    switch (start) {
    case RepairStart::FixUser: {
        WString number;
        number.FromInt32(fixFlags);
        arguments.Append(L" ", kFixUserSwitch, L" \"");
        arguments.Append(account != nullptr ? account : L"", L"\" ", kFixFlagSwitch);
        arguments.Append(number.Text());
        break;
    }
    case RepairStart::Cleanup:
        arguments.Append(L" ", kCleanupSwitch);
        break;
    case RepairStart::CleanupFailed:
        arguments.Append(L" ", kCleanupFailedSwitch);
        break;
    case RepairStart::Finish:
        arguments.Append(L" ", kFinishSwitch);
        break;
    }
    return arguments;
}

RepairCommand ParseRepairArguments(int count, const wchar_t* const* arguments, const RepairCommandInput& input)
{
    RepairCommand command;
    command.fixAccount.Assign(L"");
    int show = input.showCommand;
    if (arguments == nullptr || count < 1) {
        // Nothing could be read: the wizard with the show command as given.
        command.showCommand = show;
        return command;
    }
    for (int i = 0; i < count; ++i) {
        const wchar_t* argument = arguments[i] != nullptr ? arguments[i] : L"";
        if (EqualsNoCase(argument, kCleanupSwitch)) {
            if (!input.inTempAccount) {
                command.action = RepairCommandAction::Cleanup;
                return command;
            }
            continue;   // the temporary account never cleans up after itself
        }
        if (EqualsNoCase(argument, kFinishSwitch)) {
            command.action = RepairCommandAction::Finish;
            return command;
        }
        if (EqualsNoCase(argument, kCleanupFailedSwitch)) {
            // Only where a failed repair planted it: in the temporary account.
            if (input.inTempAccount) {
                command.action = RepairCommandAction::Cleanup;
                command.inTempAccount = true;
                return command;
            }
            continue;
        }
        if (EqualsNoCase(argument, kFixUserSwitch)) {
            if (i + 1 < count) {
                command.fixAccount.Assign(arguments[i + 1] != nullptr ? arguments[i + 1] : L"");
                command.fixAccount.Replace(L"\"", nullptr);
                ++i;
            }
            continue;
        }
        if (StartsWithNoCase(argument, kFixFlagSwitch)) {
            command.fixFlags = DecimalFlags(argument + TextLength(kFixFlagSwitch));
            continue;
        }
        if (EqualsNoCase(argument, kSilentSwitch))
            command.silent = true;
    }
    if (!command.fixAccount.IsEmpty() && !input.inTempAccount) {
        command.action = RepairCommandAction::Refused;
        command.result = -1;
        return command;
    }
    const wchar_t* console = input.consoleUserName != nullptr ? input.consoleUserName : L"";
    if (EqualsNoCase(command.fixAccount.Text(), console)) {
        command.action = RepairCommandAction::Refused;
        command.result = -2;
        return command;
    }
    if (command.silent)
        command.showCommand = 0;
    else
        command.showCommand = (show == 5 || show == 10) ? show : 5;
    return command;
}

SavedValue CheckSavedValue(SavedValueKind kind, const wchar_t* text)
{
    SavedValue saved;
    if (text == nullptr || *text == L'\0')
        return saved;
    saved.present = true;
    uint64_t number = 0;
    uint32_t digits = 0;
    for (const wchar_t* p = text; *p != L'\0'; ++p, ++digits) {
        if (*p < L'0' || *p > L'9' || digits >= 10)
            return saved;
        number = number * 10 + static_cast<uint64_t>(*p - L'0');
    }
    if (number > 0xFFFFFFFFull)
        return saved;
    uint32_t value = static_cast<uint32_t>(number);
    bool allowed = false;
    switch (kind) {
    case SavedValueKind::UserPriv:
        allowed = value <= 2;
        break;
    case SavedValueKind::UacState:
        saved.absent = value == kPolicyValueAbsent;
        allowed = value <= 5 || saved.absent;
        break;
    case SavedValueKind::LuaState:
        saved.absent = value == kPolicyValueAbsent;
        allowed = value <= 1 || saved.absent;
        break;
    case SavedValueKind::UacUserState:
        saved.absent = value == kPolicyValueAbsent;
        allowed = value <= 3 || saved.absent;
        break;
    case SavedValueKind::AadState:
        // Whatever number the store policy held is written back.
        saved.absent = value == kAadStateAbsent;
        allowed = true;
        break;
    }
    saved.valid = allowed;
    saved.value = allowed ? value : 0;
    return saved;
}

PolicyRestore DecidePolicyRestore(const SavedValue& saved, bool currentPresent, uint32_t current)
{
    if (!saved.valid)
        return PolicyRestore::Leave;
    if (saved.absent)
        return currentPresent ? PolicyRestore::Delete : PolicyRestore::Leave;
    return currentPresent && current == saved.value ? PolicyRestore::Leave : PolicyRestore::Write;
}

const wchar_t* SavedValueKey(SavedValueKind kind)
{
    switch (kind) {
    case SavedValueKind::UserPriv:
        return L"UserPriv";
    case SavedValueKind::UacState:
        return L"UACState";
    case SavedValueKind::LuaState:
        return L"LUAState";
    case SavedValueKind::AadState:
        return L"AADState";
    case SavedValueKind::UacUserState:
        return L"UACUserState";
    }
    return L"";
}

namespace {

// Without their leading backslash, as a listing names them; the journal's
// names as repair/repair_journal.cpp makes them.
const wchar_t* const kToolFolderFiles[] = {
    kToolExeName + 1, kStateFileName + 1, kLogFileName + 1,
    L"BrenwickJournal.txt", L"BrenwickJournal.txt.new", L"BrenwickPicture", L"BrenwickFixRun.lock",
    // The old hive being given to the new SID, and the logs the registry keeps beside a loaded hive.
    L"BrenwickKeep.dat", L"BrenwickKeep.dat.LOG1", L"BrenwickKeep.dat.LOG2",
};

}  // namespace

bool IsToolFolderFileName(const wchar_t* name)
{
    for (const wchar_t* own : kToolFolderFiles) {
        if (EqualsNoCase(name, own))
            return true;
    }
    return false;
}

bool MayReuseToolFolder(bool trustedOwner, const ToolFolderEntry* entries, uint32_t count)
{
    if (!trustedOwner || (entries == nullptr && count != 0))
        return false;
    for (uint32_t i = 0; i < count; ++i) {
        const ToolFolderEntry& entry = entries[i];
        if (entry.name == nullptr || entry.isFolder || entry.isLink || !entry.trustedOwner ||
            !IsToolFolderFileName(entry.name))
            return false;
    }
    return true;
}

bool IsPlausibleLogonName(const wchar_t* name, uint32_t maxLength)
{
    static const wchar_t kRefused[] = L"\"/\\[]:;|=,+*?<>";
    uint32_t length = TextLength(name);
    if (length == 0 || length > maxLength)
        return false;
    for (const wchar_t* p = name; *p != L'\0'; ++p) {
        if (*p < 0x20 || *p == 0x7F)
            return false;
        for (const wchar_t* r = kRefused; *r != L'\0'; ++r)
            if (*p == *r)
                return false;
    }
    return true;
}
