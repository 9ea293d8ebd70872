#include "accounts/personal_folder_rules.h"

#include <string>

#include "platform/file_rules.h"

const PersonalFolder kPersonalFolders[6] = {
    {L"Desktop", 16, L"Desktop", 0.0},
    {L"Documents", 5, L"Personal", 0.0},
    {L"Downloads", kNoCsidl, L"{374DE290-123F-4565-9164-39C4925E467B}", 5.9},
    {L"Music", 13, L"My Music", 0.0},
    {L"Pictures", 39, L"My Pictures", 0.0},
    {L"Video", 14, L"My Video", 0.0},
};

std::vector<int> VisibleFolderRows(double version)
{
    std::vector<int> rows;
    for (int i = 0; i < 6; ++i) {
        if (version > kPersonalFolders[i].minimumVersion || kPersonalFolders[i].minimumVersion == 0.0)
            rows.push_back(i);
    }
    return rows;
}

int FindPersonalFolder(const wchar_t* name)
{
    for (int i = 0; i < 6; ++i) {
        if (name != nullptr && EqualsNoCase(name, kPersonalFolders[i].name))
            return i;
    }
    return -1;
}

namespace {

// The places no personal folder may be taken from or put: numbered as the
// first values of both refusals.
enum class PlaceRule { None, NotAPath, DriveRoot, SystemFolder, ProfilesDirectory, OtherProfile };
static_assert(static_cast<int>(DestinationRefusal::OtherProfile) == static_cast<int>(PlaceRule::OtherProfile));
static_assert(static_cast<int>(SourceRefusal::OtherProfile) == static_cast<int>(PlaceRule::OtherProfile));

PlaceRule CheckPlace(const wchar_t* path, const DestinationFacts& facts)
{
    if (path == nullptr || *path == L'\0')
        return PlaceRule::NotAPath;
    if (IsVolumeRoot(path))
        return PlaceRule::DriveRoot;
    for (const wchar_t* system : facts.systemFolders) {
        if (system != nullptr && *system != L'\0' && IsSameOrBelow(path, system))
            return PlaceRule::SystemFolder;
    }
    // The profiles directory holds every account's folder; the own profile
    // folder holds the account's hives and the other folders. Below the own
    // profile is fine.
    if ((facts.profilesDirectory != nullptr && EqualsNoCase(path, facts.profilesDirectory)) ||
        (facts.ownProfile != nullptr && EqualsNoCase(path, facts.ownProfile)))
        return PlaceRule::ProfilesDirectory;
    for (const wchar_t* other : facts.otherProfiles) {
        if (other == nullptr || *other == L'\0')
            continue;
        // The own profile may lie below an entry such as a profiles
        // directory named as a profile; only a real other profile counts.
        if (facts.ownProfile != nullptr && EqualsNoCase(other, facts.ownProfile))
            continue;
        if (IsSameOrBelow(path, other))
            return PlaceRule::OtherProfile;
    }
    return PlaceRule::None;
}

}  // namespace

DestinationRefusal CheckDestination(const DestinationFacts& facts)
{
    const wchar_t* to = facts.destination;
    if (PlaceRule rule = CheckPlace(to, facts); rule != PlaceRule::None)
        return static_cast<DestinationRefusal>(rule);
    if (!facts.otherProfilesKnown)
        return DestinationRefusal::ProfilesUnknown;
    if (facts.source != nullptr && *facts.source != L'\0') {
        if (IsSameOrBelow(to, facts.source))
            return DestinationRefusal::InsideSource;
        if (IsSameOrBelow(facts.source, to))
            return DestinationRefusal::ContainsSource;
    }
    for (const wchar_t* other : facts.otherFolders) {
        if (other != nullptr && *other != L'\0' && EqualsNoCase(to, other))
            return DestinationRefusal::OtherFolder;
    }
    if (facts.destinationIsLink)
        return DestinationRefusal::Link;
    return DestinationRefusal::None;
}

SourceRefusal CheckSource(const DestinationFacts& facts, bool movingContents)
{
    if (!movingContents)
        return SourceRefusal::None;
    if (PlaceRule rule = CheckPlace(facts.source, facts); rule != PlaceRule::None)
        return static_cast<SourceRefusal>(rule);
    if (!facts.otherProfilesKnown)
        return SourceRefusal::ProfilesUnknown;
    if (facts.sourceHasLink)
        return SourceRefusal::Link;
    // Known-bad places are named above for a clearer message; what decides
    // is whether the place is known to be the account's own.
    const bool inProfile = facts.ownProfile != nullptr && *facts.ownProfile != L'\0' &&
                           IsSameOrBelow(facts.source, facts.ownProfile);
    if (!inProfile && !facts.sourceRecorded && !facts.sourceOwned)
        return SourceRefusal::NotOwnPlace;
    return SourceRefusal::None;
}

WString SourceRefusalText(SourceRefusal refusal, const wchar_t* resolved, PlaceOnlyHint hint)
{
    struct Row {
        SourceRefusal refusal;
        const wchar_t* text;
    };
    static const Row rows[] = {
        {SourceRefusal::NotAPath, L"That is not a full folder path on a drive, so its contents can not be moved."},
        {SourceRefusal::DriveRoot, L"That is the root of a drive, whose contents can not be moved as a personal folder."},
        {SourceRefusal::SystemFolder, L"That lies in the Windows, Program Files or ProgramData folders, whose files can not be moved."},
        {SourceRefusal::ProfilesDirectory, L"That is the folder that holds the user profiles, or the profile folder itself, whose files can not be moved."},
        {SourceRefusal::OtherProfile, L"That belongs to another user account, whose files can not be moved."},
        {SourceRefusal::Link, L"The way to it passes through a link to another folder, so its contents can not be moved."},
        {SourceRefusal::NotOwnPlace,
         L"That is not known to be this account's own folder (inside its profile, a place this program moved it to, "
         L"or a folder it owns), so its contents can not be moved."},
        {SourceRefusal::Unreachable, L"That folder could not be opened as itself, so its contents can not be moved."},
        {SourceRefusal::ProfilesUnknown,
         L"The list of this computer's user profiles could not be read whole, so that folder can not be told apart "
         L"from another account's and its contents can not be moved."},
    };
    for (const Row& row : rows) {
        if (row.refusal != refusal)
            continue;
        WString text(L"The folder's current location is\r\n");
        text.Append(resolved != nullptr && *resolved != L'\0' ? resolved : L"(unknown)", L"\r\n\r\n", row.text,
                    hint == PlaceOnlyHint::Window
                        ? L"\r\n\r\nUncheck \"Also move folder contents\" to change only its location."
                        : L"\r\n\r\nAdd --place-only to change only its location.");
        return text;
    }
    return WString(L"");
}

std::vector<WString> FoldersOnTheWay(const wchar_t* path)
{
    std::vector<WString> folders;
    WString normal(path);
    if (!NormalizeFolderPath(normal))
        return folders;
    const std::wstring text(normal.Text());
    // The root ("C:", "\\server\share") is the volume, no folder of it.
    size_t root = 2;
    if (text[0] == L'\\') {
        const size_t share = text.find(L'\\', 2);
        root = share == std::wstring::npos ? text.size() : text.find(L'\\', share + 1);
        if (root == std::wstring::npos)
            root = text.size();
    }
    for (size_t at = text.find(L'\\', root + 1); at != std::wstring::npos; at = text.find(L'\\', at + 1))
        folders.emplace_back(text.substr(0, at).c_str());
    if (text.size() > root)
        folders.emplace_back(text.c_str());
    return folders;
}

const wchar_t* RefusalText(DestinationRefusal refusal)
{
    struct Row {
        DestinationRefusal refusal;
        const wchar_t* text;
    };
    static const Row rows[] = {
        {DestinationRefusal::NotAPath, L"The selected location is not a full folder path.\r\n\r\nPlease choose a folder on a drive."},
        {DestinationRefusal::DriveRoot, L"A personal folder can not be moved to the root of a drive.\r\n\r\nPlease choose or create a folder on that drive."},
        {DestinationRefusal::SystemFolder, L"A personal folder can not be moved into the Windows, Program Files or ProgramData folders.\r\n\r\nPlease choose another location."},
        {DestinationRefusal::ProfilesDirectory, L"A personal folder can not be moved to the folder that holds the user profiles, nor to the profile folder itself.\r\n\r\nPlease choose another location."},
        {DestinationRefusal::OtherProfile, L"The selected location belongs to another user account.\r\n\r\nPlease choose another location."},
        {DestinationRefusal::InsideSource, L"A folder can not be moved into itself.\r\n\r\nPlease choose a location outside the folder."},
        {DestinationRefusal::ContainsSource, L"The selected location contains the folder being moved.\r\n\r\nPlease choose another location."},
        {DestinationRefusal::OtherFolder, L"Another personal folder is already at the selected location.\r\n\r\nTwo personal folders can not share one location."},
        {DestinationRefusal::Link, L"The selected location is a link to another folder.\r\n\r\nPlease choose the real folder instead."},
        {DestinationRefusal::ProfilesUnknown, L"The list of this computer's user profiles could not be read whole, so the selected location can not be told apart from another account's.\r\n\r\nPlease try again later."},
    };
    for (const Row& row : rows) {
        if (row.refusal == refusal)
            return row.text;
    }
    return nullptr;
}

WString ProfileRelativeForm(const wchar_t* path, const wchar_t* profilePath)
{
    WString result(path);
    WString profile(profilePath);
    TrimTrailingBackslashes(profile);
    if (path == nullptr || profile.IsEmpty())
        return result;
    const uint32_t length = profile.Length();
    if (!StartsWithNoCase(path, profile.Text()) || (path[length] != L'\0' && path[length] != L'\\'))
        return result;
    result.Assign(L"%USERPROFILE%");
    result.Append(path + length);
    return result;
}

WString ProfileAbsoluteForm(const wchar_t* stored, const wchar_t* profilePath)
{
    WString result(stored);
    constexpr uint32_t kVariable = 13;   // "%USERPROFILE%"
    WString profile(profilePath);
    TrimTrailingBackslashes(profile);
    if (stored == nullptr || profile.IsEmpty() || !StartsWithNoCase(stored, L"%USERPROFILE%") ||
        (stored[kVariable] != L'\0' && stored[kVariable] != L'\\'))
        return result;
    result.Assign(profile.Text());
    result.Append(stored + kVariable);
    return result;
}

WString GroupDigits(uint64_t value)
{
    std::wstring digits = std::to_wstring(value);
    std::wstring grouped;
    for (size_t i = 0; i < digits.size(); ++i) {
        if (i > 0 && (digits.size() - i) % 3 == 0)
            grouped += L',';
        grouped += digits[i];
    }
    return WString(grouped.c_str());
}

WString ByteSizeText(uint64_t bytes)
{
    if (bytes < 1024) {
        WString text = GroupDigits(bytes);
        text.Append(bytes == 1 ? L" byte" : L" bytes");
        return text;
    }
    const wchar_t* const units[] = {L" KB", L" MB", L" GB", L" TB"};
    double value = static_cast<double>(bytes) / 1024.0;
    int unit = 0;
    while (value >= 1024.0 && unit < 3) {
        value /= 1024.0;
        ++unit;
    }
    // Tenths for small figures, hundredths for gigabytes and above, in
    // integer arithmetic so that the text is the same on every host.
    const int decimals = unit >= 2 ? 2 : 1;
    const uint64_t scale = decimals == 2 ? 100 : 10;
    uint64_t scaled = static_cast<uint64_t>(value * static_cast<double>(scale) + 0.5);
    std::wstring fraction = std::to_wstring(scaled % scale);
    while (fraction.size() < static_cast<size_t>(decimals))
        fraction.insert(fraction.begin(), L'0');
    WString text = GroupDigits(scaled / scale);
    text.Append(L".", fraction.c_str(), units[unit]);
    return text;
}

WString MoveProgressText(uint64_t filesDone, uint64_t filesTotal, uint64_t bytesDone, uint64_t bytesTotal)
{
    // A file that appeared after the count must not show "11 of 10".
    if (filesDone > filesTotal)
        filesTotal = filesDone;
    if (bytesDone > bytesTotal)
        bytesTotal = bytesDone;
    WString text(L"Moving files: ");
    WString a = GroupDigits(filesDone), b = GroupDigits(filesTotal);
    WString c = ByteSizeText(bytesDone), d = ByteSizeText(bytesTotal);
    text.Append(a.Text(), L" of ", b.Text(), L" (", c.Text(), L" of ", d.Text(), L")");
    return text;
}

namespace {

// The value of "KEY:value" when `piece` starts with the key (any case).
bool KeyValue(const wchar_t* piece, const wchar_t* key, WString& value)
{
    if (!StartsWithNoCase(piece, key))
        return false;
    value.Assign(piece + TextLength(key));
    value.Trim();
    return true;
}

bool AllDigits(const wchar_t* text)
{
    if (text == nullptr || *text == L'\0')
        return false;
    for (; *text != L'\0'; ++text) {
        if (*text < L'0' || *text > L'9')
            return false;
    }
    return true;
}

int32_t ToNumber(const wchar_t* text)
{
    int64_t value = 0;
    for (; *text >= L'0' && *text <= L'9'; ++text) {
        value = value * 10 + (*text - L'0');
        if (value > 0x7FFFFFFF)
            return 0x7FFFFFFF;
    }
    return static_cast<int32_t>(value);
}

// Ampersands out, then one quotation mark off each end.
void CleanText(WString& text)
{
    WString stripped = StripAmpersands(text.Text());
    std::wstring value(stripped.Text());
    if (!value.empty() && (value.front() == L'"' || value.front() == L'\''))
        value.erase(value.begin());
    if (!value.empty() && (value.back() == L'"' || value.back() == L'\''))
        value.pop_back();
    text.Assign(value.c_str());
}

}  // namespace

WString StripAmpersands(const wchar_t* text)
{
    std::wstring kept;
    for (const wchar_t* p = text; p != nullptr && *p != L'\0'; ++p) {
        if (*p != L'&')
            kept += *p;
    }
    return WString(kept.c_str());
}

bool SplitClassNN(const wchar_t* classNN, WString& className, int32_t& number)
{
    std::wstring text(classNN != nullptr ? classNN : L"");
    size_t digits = text.size();
    while (digits > 0 && text[digits - 1] >= L'0' && text[digits - 1] <= L'9')
        --digits;
    if (digits == 0 || digits == text.size())
        return false;
    number = ToNumber(text.c_str() + digits);
    className.Assign(text.substr(0, digits).c_str());
    return number > 0;
}

ChildPattern ParseChildPattern(const wchar_t* pattern)
{
    ChildPattern result;
    WString trimmed(pattern);
    trimmed.Trim();
    std::wstring text(trimmed.Text());
    if (text.empty())
        return result;

    if (text.size() >= 2 && text.front() == L'[' && text.back() == L']') {
        // ";;" is a semicolon inside a value; a single ";" ends a property.
        std::vector<std::wstring> pieces(1);
        const std::wstring inner = text.substr(1, text.size() - 2);
        for (size_t i = 0; i < inner.size(); ++i) {
            if (inner[i] == L';' && i + 1 < inner.size() && inner[i + 1] == L';') {
                pieces.back() += L';';
                ++i;
            } else if (inner[i] == L';') {
                pieces.emplace_back();
            } else {
                pieces.back() += inner[i];
            }
        }
        for (const std::wstring& raw : pieces) {
            WString piece(raw.c_str());
            piece.Trim();
            if (piece.Length() <= 3)
                continue;
            WString value;
            if (KeyValue(piece.Text(), L"CLASSNN:", value)) {
                result.classNN = std::move(value);
            } else if (KeyValue(piece.Text(), L"CLASS:", value)) {
                result.className = std::move(value);
            } else if (KeyValue(piece.Text(), L"INSTANCE:", value)) {
                result.instance = ToNumber(value.Text());
            } else if (KeyValue(piece.Text(), L"TEXT:", value)) {
                result.text = std::move(value);
                CleanText(result.text);
            } else if (KeyValue(piece.Text(), L"ID:", value)) {
                result.hasId = AllDigits(value.Text());
                result.id = result.hasId ? ToNumber(value.Text()) : 0;
            }
        }
    } else if (AllDigits(text.c_str())) {
        result.hasId = true;
        result.id = ToNumber(text.c_str());
    } else {
        result.text.Assign(text.c_str());
        CleanText(result.text);
        result.classNN.Assign(text.c_str());
        result.textOrClassNN = true;
    }
    if (result.instance < 1)
        result.instance = 1;
    WString ignoredClass;
    int32_t ignoredNumber = 0;
    if (!result.classNN.IsEmpty() && !result.textOrClassNN &&
        !SplitClassNN(result.classNN.Text(), ignoredClass, ignoredNumber))
        return ChildPattern();   // "CLASSNN:Edit" without a number names no window
    result.valid = !result.className.IsEmpty() || !result.text.IsEmpty() || !result.classNN.IsEmpty() || result.hasId;
    return result;
}

bool ChildMatches(const ChildPattern& pattern, const ChildFacts& facts)
{
    if (!pattern.valid)
        return false;
    if (pattern.hasId && facts.id != pattern.id)
        return false;
    if (TextLength(pattern.className.Text()) != 0 && !EqualsNoCase(pattern.className.Text(), facts.className))
        return false;

    WString shown = StripAmpersands(facts.text);
    const bool textMatches = EqualsNoCase(pattern.text.Text(), shown.Text());
    bool classNNMatches = false;
    WString nnClass;
    int32_t nnNumber = 0;
    if (SplitClassNN(pattern.classNN.Text(), nnClass, nnNumber))
        classNNMatches = EqualsNoCase(nnClass.Text(), facts.className) && facts.classOrdinal == nnNumber;

    if (pattern.textOrClassNN)
        return textMatches || classNNMatches;
    if (TextLength(pattern.text.Text()) != 0 && !textMatches)
        return false;
    if (TextLength(pattern.classNN.Text()) != 0 && !classNNMatches)
        return false;
    return true;
}
