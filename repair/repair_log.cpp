#include "repair/repair_log.h"

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
