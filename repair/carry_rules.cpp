#include "repair/carry_rules.h"

#include <cwchar>

#include "platform/text.h"

namespace {

bool IsHex(wchar_t c)
{
    return (c >= L'0' && c <= L'9') || (c >= L'a' && c <= L'f') || (c >= L'A' && c <= L'F');
}

// "8-4-4-4-12" hexadecimal digits, without braces.
bool IsGuidName(const wchar_t* name)
{
    static const int kGroups[] = {8, 4, 4, 4, 12};
    const wchar_t* p = name;
    for (int g = 0; g < 5; ++g) {
        for (int i = 0; i < kGroups[g]; ++i, ++p)
            if (!IsHex(*p))
                return false;
        if (g < 4 && *p++ != L'-')
            return false;
    }
    return *p == L'\0';
}

std::wstring Count(uint64_t n)
{
    return std::to_wstring(n);
}

}  // namespace

CarryLoss ClassifyProfileFile(const std::vector<std::wstring>& folders, const wchar_t* name, uint32_t attributes,
                              const wchar_t* sidString)
{
    if (name == nullptr)
        return CarryLoss::None;
    if ((attributes & kEncryptedAttribute) != 0)
        return CarryLoss::EncryptedFile;
    static const wchar_t* const kProtect[] = {L"AppData", L"Roaming", L"Microsoft", L"Protect"};
    if (sidString == nullptr || folders.size() != 5)
        return CarryLoss::None;
    for (size_t i = 0; i < 4; ++i)
        if (!EqualsNoCase(folders[i].c_str(), kProtect[i]))
            return CarryLoss::None;
    return EqualsNoCase(folders[4].c_str(), sidString) && IsGuidName(name) ? CarryLoss::MasterKey : CarryLoss::None;
}

std::vector<std::wstring> CarryWarnings(const CarryCounts& counts)
{
    std::vector<std::wstring> lines;
    if (counts.encryptedFiles > 0)
        lines.push_back(Count(counts.encryptedFiles) +
                        L" encrypted file(s) will not open for the repaired account: they are locked with the old "
                        L"account's own key. Decrypt them before the repair.");
    if (counts.masterKeys > 0)
        lines.push_back(Count(counts.masterKeys) +
                        L" data-protection key(s) of the old account will be lost, and with them the saved "
                        L"passwords of the credential store and of the browsers.");
    lines.push_back(L"Windows will ask again which program opens each type of file.");
    if (!counts.complete)
        lines.push_back(L"Some folders of the profile could not be read: there may be more of the above.");
    return lines;
}
