#include "accounts/account_rules.h"

bool IsBuiltinForList(uint32_t userId)
{
    return userId >= 1 && userId <= 999;
}

bool IsBuiltinForPanel(uint32_t userId)
{
    return userId < 1000;
}

bool BuildAccountTypeText(WString& text, uint32_t privilege, bool builtin)
{
    static const wchar_t* const kWords[] = {L"Guest ", L"Standard ", L"Administrator "};
    const wchar_t* word = privilege < 3 ? kWords[privilege] : L"";
    text.Clear();
    return text.Append(builtin ? L"Builtin " : L"", word, L"User Account");
}

uint32_t ComposeAccountFlags(uint32_t stored, const AccountFlagChoice& choice)
{
    struct Box {
        bool checked;
        uint32_t flag;
    } const boxes[] = {
        {choice.disabled, kFlagAccountDisabled},
        {choice.lockedOut, kFlagLockedOut},
        {choice.cannotChange, kFlagPasswordCannotChange},
        {choice.notRequired, kFlagPasswordNotRequired},
        {choice.neverExpires, kFlagPasswordNeverExpires},
    };
    uint32_t flags = stored;
    for (const Box& box : boxes)
        flags = box.checked ? (flags | box.flag) : (flags & ~box.flag);
    return flags;
}
