// The small text-file writer of the repair tool: the log and the state file
// are written through it. The mode word's bits are TextFileMode's
// (repair/repair_rules.h).
#pragma once

#include <windows.h>

#include <cstdint>

#include "platform/handles.h"
#include "repair/repair_rules.h"

class TextFile {
public:
    TextFile() = default;
    TextFile(const TextFile&) = delete;
    TextFile& operator=(const TextFile&) = delete;

    // The open handle, or null on failure (the object is then closed and its
    // mode cleared). A handle the object still holds is closed first. A
    // non-empty file opened for writing is continued at its end; opened for
    // reading only, the position is just after a recognised mark.
    HANDLE Open(const wchar_t* path, uint32_t mode);

    // Bytes written in the file's encoding, 0 on failure. A count below 1
    // writes the whole terminated text; an empty text writes nothing.
    uint32_t Write(const wchar_t* text, int count);

    // The new position, 0 on failure. Origin as SetFilePointerEx takes it.
    uint64_t Seek(int64_t offset, DWORD origin);

    void Close();
    HANDLE Handle() const { return file_.Get(); }
    uint32_t Mode() const { return mode_; }

private:
    bool WriteBytes(const void* bytes, DWORD count, DWORD* written);

    UniqueFileHandle file_;
    uint32_t mode_ = 0;
};
