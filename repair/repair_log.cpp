#include "repair/repair_log.h"

#include <string>
#include <vector>

#include "platform/file_handles.h"
#include "platform/handles.h"
#include "repair/text_file.h"

namespace {

constexpr uint32_t kContinueLog = TextFileMode::Write | TextFileMode::Utf8Mark;     // 0x81
constexpr uint32_t kStartLog = TextFileMode::Truncate | TextFileMode::Utf8Mark;     // 0x82

}  // namespace

int WriteLogEntry(const wchar_t* logPath, const wchar_t* text, uint32_t flags, const SYSTEMTIME* time)
{
    TextFile log;
    if (log.Open(logPath, (flags & LogFlags::NewLog) ? kStartLog : kContinueLog) == nullptr)
        return -1;
    SYSTEMTIME now;
    if (time != nullptr)
        now = *time;
    else
        GetLocalTime(&now);
    WString stamp = FormatLogStamp(now.wYear, now.wMonth, now.wDay, now.wHour, now.wMinute, now.wSecond,
                                   now.wMilliseconds);
    if (flags & LogFlags::Header)
        log.Write(LogHeaderText(), 0);
    WString entry = LogEntryText(stamp.Text(), text != nullptr ? text : L"");
    int written = static_cast<int>(log.Write(entry.Text(), 0));
    if (flags & LogFlags::EndLine) {
        WString end = LogEndText(stamp.Text());
        log.Write(end.Text(), 0);
    }
    log.Close();
    return written;
}

bool ReadRepairLog(const wchar_t* logPath, std::wstring& text)
{
    text.clear();
    std::string log;
    WString longPath;
    UniqueFileHandle file;
    if (AbsoluteLongPath(logPath, longPath))
        file.Reset(CreateFileW(longPath.Text(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                               OPEN_EXISTING, FILE_FLAG_OPEN_REPARSE_POINT, nullptr));
    std::vector<char> buffer(65536);
    DWORD got = 0;
    while (file && log.size() < (4u << 20) &&
           ReadFile(file.Get(), buffer.data(), static_cast<DWORD>(buffer.size()), &got, nullptr) && got > 0)
        log.append(buffer.data(), got);
    if (log.empty())
        return false;
    const int units = MultiByteToWideChar(CP_UTF8, 0, log.data(), static_cast<int>(log.size()), nullptr, 0);
    if (units > 0) {
        text.resize(units);
        MultiByteToWideChar(CP_UTF8, 0, log.data(), static_cast<int>(log.size()), &text[0], units);
    }
    if (!text.empty() && text[0] == 0xFEFF)
        text.erase(0, 1);
    return true;
}
