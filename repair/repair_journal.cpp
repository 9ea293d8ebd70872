#include "repair/repair_journal.h"

#include <windows.h>

#include <vector>

#include "accounts/account_lifecycle.h"
#include "platform/text_win.h"
#include "platform/handles.h"

namespace {

// Far above any journal this program writes; a bigger file is not ours.
constexpr DWORD kMaxJournalBytes = 64 * 1024;
constexpr wchar_t kByteOrderMark = 0xFEFF;

WString NewCopyPath(const wchar_t* path)
{
    WString copy(path);
    copy.Append(L".new");
    return copy;
}

}  // namespace

bool WriteJournal(const wchar_t* path, const RepairJournal& journal)
{
    std::wstring text;
    if (path == nullptr || !FormatJournal(journal, text))
        return false;
    text.insert(text.begin(), kByteOrderMark);
    WString copy = NewCopyPath(path);
    {
        UniqueFileHandle file(
            CreateFileW(copy.Text(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr));
        if (!file)
            return false;
        DWORD bytes = static_cast<DWORD>(text.size() * sizeof(wchar_t));
        DWORD written = 0;
        // The copy must be on the disk before it replaces the journal.
        if (!WriteFile(file.Get(), text.data(), bytes, &written, nullptr) || written != bytes ||
            !FlushFileBuffers(file.Get()))
            return false;
    }
    return MoveFileExW(copy.Text(), path, MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH) != FALSE;
}

JournalRead ReadJournal(const wchar_t* path, RepairJournal& journal, std::wstring& problem)
{
    journal = RepairJournal{};
    problem.clear();
    if (path == nullptr)
        return JournalRead::Missing;
    UniqueFileHandle file(CreateFileW(path, GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                                      FILE_ATTRIBUTE_NORMAL | FILE_FLAG_OPEN_REPARSE_POINT, nullptr));
    if (!file) {
        DWORD error = GetLastError();
        if (error == ERROR_FILE_NOT_FOUND || error == ERROR_PATH_NOT_FOUND)
            return JournalRead::Missing;
        problem = L"the journal cannot be opened";
        return JournalRead::Invalid;
    }
    LARGE_INTEGER size{};
    if (!GetFileSizeEx(file.Get(), &size) || size.QuadPart < 2 || size.QuadPart > kMaxJournalBytes ||
        size.QuadPart % 2 != 0) {
        problem = L"the journal has an unexpected size";
        return JournalRead::Invalid;
    }
    std::vector<wchar_t> units(static_cast<size_t>(size.QuadPart / 2) + 1, L'\0');
    DWORD read = 0;
    if (!ReadFile(file.Get(), units.data(), static_cast<DWORD>(size.QuadPart), &read, nullptr) ||
        read != static_cast<DWORD>(size.QuadPart) || units[0] != kByteOrderMark) {
        problem = L"the journal cannot be read";
        return JournalRead::Invalid;
    }
    WString root = ProfilesDirectory();
    if (root.IsEmpty()) {
        problem = L"the profiles directory is unknown";
        return JournalRead::Invalid;
    }
    for (size_t i = 1; i + 1 < units.size(); ++i) {
        if (units[i] == L'\0') {
            problem = L"the journal holds a zero character";
            return JournalRead::Invalid;
        }
    }
    return ParseJournal(units.data() + 1, root.Text(), journal, problem) ? JournalRead::Valid : JournalRead::Invalid;
}

bool DeleteJournal(const wchar_t* path)
{
    if (path == nullptr)
        return true;
    WString copy = NewCopyPath(path);
    DeleteFileW(copy.Text());
    return DeleteFileW(path) || GetLastError() == ERROR_FILE_NOT_FOUND;
}

std::wstring DescribeUnfinishedRepair(const RepairJournal& journal, const wchar_t* account, bool accountExists)
{
    std::wstring name = std::wstring(L"The \"") + (account != nullptr ? account : L"") + L"\" account";
    std::wstring folder = journal.oldProfile.empty() ? std::wstring(L"its profile folder") : journal.oldProfile;
    if (!journal.Done(RepairStep::DeleteOld) && accountExists)
        return name + L" was not changed.";
    if (!accountExists)
        return name + L" was deleted but could not be created again; its files are still in " + folder + L".";
    if (!journal.Done(RepairStep::ProfileEntry))
        return name + L" was created again, but its files were not moved into it; they are still in " + folder + L".";
    return name + L" was created again with its files in " + folder + L", but not every step of the repair was done.";
}

WString PictureCopyPath(const wchar_t* toolFolder)
{
    WString path(toolFolder != nullptr ? toolFolder : L"");
    path.Append(L"\\BrenwickPicture");
    return path;
}
