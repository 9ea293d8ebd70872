#include "repair/text_file.h"

#include <cstring>

#include "platform/files.h"
#include "platform/text.h"

namespace {

DWORD DispositionOf(OpenDisposition disposition)
{
    switch (disposition) {
    case OpenDisposition::CreateAlways:
        return CREATE_ALWAYS;
    case OpenDisposition::OpenAlways:
        return OPEN_ALWAYS;
    case OpenDisposition::OpenExisting:
        break;
    }
    return OPEN_EXISTING;
}

}  // namespace

HANDLE TextFile::Open(const wchar_t* path, uint32_t mode)
{
    Close();
    if (path == nullptr || *path == L'\0')
        return nullptr;

    if (mode & TextFileMode::CreateParents) {
        WString parent(path);
        uint32_t slash = parent.Find(L"\\", true, -1);
        if (slash > 0) {
            parent.AssignSubstring(path, 1, static_cast<int>(slash) - 1);
            if (parent.Length() > 2 && !CreateDirectoryPath(parent.Text()))
                return nullptr;
        }
    }

    TextFileOpenPlan plan = PlanTextFileOpen(mode);
    file_.Reset(CreateFileW(path, plan.writeAccess ? (GENERIC_READ | GENERIC_WRITE) : GENERIC_READ,
                            plan.shareRead ? FILE_SHARE_READ : 0, nullptr, DispositionOf(plan.disposition), 0,
                            nullptr));
    if (!file_)
        return nullptr;
    mode_ = mode;

    LARGE_INTEGER size{};
    if (!GetFileSizeEx(file_.Get(), &size))
        size.QuadPart = 0;

    if (mode & TextFileMode::Append) {
        if (mode & TextFileMode::Write)
            Seek(0, FILE_END);
        return file_.Get();
    }

    if (size.QuadPart == 0) {
        uint8_t mark[3];
        uint32_t length = TextFileMark(mode, mark);
        DWORD written = 0;
        if (plan.writeAccess && length > 0 && (!WriteBytes(mark, length, &written) || written != length)) {
            Close();
            return nullptr;
        }
        return file_.Get();
    }

    if ((mode & TextFileMode::Truncate) == 0) {
        uint8_t start[3] = {0, 0, 0};
        DWORD read = 0;
        if (!ReadFile(file_.Get(), start, sizeof start, &read, nullptr))
            read = 0;
        uint32_t markLength = 0;
        mode_ = ModeAfterMark(mode_, start, read, &markLength);
        if (plan.writeAccess) {
            // Read the last unit so that the position ends right behind it;
            // a unit that cannot be read still leaves the position at the end.
            bool wide = EncodingOfMode(mode_) == TextEncoding::Utf16Le || EncodingOfMode(mode_) == TextEncoding::Utf16Be;
            int64_t unit = wide && size.QuadPart >= 2 ? 2 : 1;
            uint8_t last[2];
            DWORD got = 0;
            if (Seek(size.QuadPart - unit, FILE_BEGIN) == 0 && size.QuadPart - unit != 0)
                Seek(0, FILE_END);
            else if (!ReadFile(file_.Get(), last, static_cast<DWORD>(unit), &got, nullptr) || got != unit)
                Seek(0, FILE_END);
        } else {
            LARGE_INTEGER position;
            position.QuadPart = markLength;
            SetFilePointerEx(file_.Get(), position, nullptr, FILE_BEGIN);
        }
    }
    return file_.Get();
}

bool TextFile::WriteBytes(const void* bytes, DWORD count, DWORD* written)
{
    *written = 0;
    return WriteFile(file_.Get(), bytes, count, written, nullptr) != FALSE;
}

uint32_t TextFile::Write(const wchar_t* text, int count)
{
    if (!file_ || text == nullptr)
        return 0;
    uint32_t units = count < 1 ? TextLength(text) : static_cast<uint32_t>(count);
    if (units == 0)
        return 0;

    DWORD written = 0;
    switch (EncodingOfMode(mode_)) {
    case TextEncoding::Utf16Le:
        WriteBytes(text, units * sizeof(wchar_t), &written);
        return written;
    case TextEncoding::Utf16Be: {
        UniqueBytes swapped(static_cast<BYTE*>(std::malloc(units * sizeof(wchar_t))));
        if (!swapped)
            return 0;
        for (uint32_t i = 0; i < units; ++i) {
            swapped.Get()[2 * i] = static_cast<BYTE>(text[i] >> 8);
            swapped.Get()[2 * i + 1] = static_cast<BYTE>(text[i] & 0xFF);
        }
        WriteBytes(swapped.Get(), units * sizeof(wchar_t), &written);
        return written;
    }
    case TextEncoding::Utf8:
    case TextEncoding::Ansi: {
        UINT codePage = EncodingOfMode(mode_) == TextEncoding::Utf8 ? CP_UTF8 : CP_ACP;
        // Measured first: a character of the ANSI code page may take two bytes.
        int size = WideCharToMultiByte(codePage, 0, text, static_cast<int>(units), nullptr, 0, nullptr, nullptr);
        if (size <= 0)
            return 0;
        UniqueBytes converted(static_cast<BYTE*>(std::malloc(static_cast<size_t>(size))));
        if (!converted)
            return 0;
        int made = WideCharToMultiByte(codePage, 0, text, static_cast<int>(units),
                                       reinterpret_cast<char*>(converted.Get()), size, nullptr, nullptr);
        if (made <= 0)
            return 0;
        WriteBytes(converted.Get(), static_cast<DWORD>(made), &written);
        return written;
    }
    }
    return 0;
}

uint64_t TextFile::Seek(int64_t offset, DWORD origin)
{
    LARGE_INTEGER distance;
    distance.QuadPart = offset;
    LARGE_INTEGER position{};
    if (!file_ || !SetFilePointerEx(file_.Get(), distance, &position, origin))
        return 0;
    return static_cast<uint64_t>(position.QuadPart);
}

void TextFile::Close()
{
    file_.Reset();
    mode_ = 0;
}
