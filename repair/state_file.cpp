#include "repair/state_file.h"

#include <windows.h>

#include "platform/text_win.h"
#include "repair/text_file.h"

namespace {

constexpr uint32_t kValueCapacity = 2048;

}  // namespace

bool CreateStateFile(const wchar_t* path)
{
    TextFile file;
    bool made = file.Open(path, TextFileMode::Truncate | TextFileMode::Utf8Mark) != nullptr;
    file.Close();
    return made;
}

bool WriteStateNumber(const wchar_t* path, const wchar_t* section, const wchar_t* key, uint32_t value)
{
    WString text;
    text.FromUInt32(value);
    return WriteStateText(path, section, key, text.Text());
}

bool WriteStateText(const wchar_t* path, const wchar_t* section, const wchar_t* key, const wchar_t* value)
{
    return WritePrivateProfileStringW(section, key, value, path) != FALSE;
}

WString ReadStateText(const wchar_t* path, const wchar_t* section, const wchar_t* key)
{
    WString text;
    if (!ReadIniString(text, path, section, key, nullptr, kValueCapacity))
        text.Assign(L"");
    return text;
}

SavedValue ReadStateValue(const wchar_t* path, const wchar_t* section, SavedValueKind kind)
{
    WString text = ReadStateText(path, section, SavedValueKey(kind));
    return CheckSavedValue(kind, text.Text());
}
