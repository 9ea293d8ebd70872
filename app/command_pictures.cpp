// The verbs of account pictures.
#include <windows.h>
#include <gdiplus.h>

#include <string>

#include "accounts/account_list.h"
#include "accounts/lookup.h"
#include "accounts/pictures.h"
#include "app/apply_steps.h"
#include "app/command_families.h"
#include "app/command_mode.h"
#include "platform/system.h"
#include "platform/text_win.h"

namespace {

PictureFit FitOf(const wchar_t* name)
{
    if (name != nullptr && EqualsNoCase(name, L"center"))
        return PictureFit::Center;
    if (name != nullptr && EqualsNoCase(name, L"stretch"))
        return PictureFit::Stretch;
    return PictureFit::Crop;
}

void RecordPictureChange(CommandRun& run, const wchar_t* name, const wchar_t* file)
{
    run.Change(L"picture of " + Quoted(name) + L" from " + Quoted(file), name, L"picture", L"", file);
}

int SetPicture(CommandRun& run, const wchar_t* name, const wchar_t* file, PictureFit fit)
{
    if (!IsLocalFile(run, file))
        return kExitRefused;
    GdiplusSession gdiplus;
    UniqueImage image = LoadPictureFile(file);
    if (!image) {
        run.Say(L"the picture file " + Quoted(file) + L" is not valid; nothing was changed");
        return kExitRefused;
    }
    if (AccountPictureMatches(name, file, image.Get(), fit, GetOsVersionNumber())) {
        run.Say(L"the picture of " + Quoted(name) + L" already is that one; nothing to change");
        return kExitDone;
    }
    if (run.DryRun() || SetAccountPicture(name, image.Get(), fit, GetOsVersionNumber())) {
        RecordPictureChange(run, name, file);
        return kExitDone;
    }
    run.Say(L"the picture could not be changed");
    return kExitFailed;
}

}  // namespace

int PictureSet(CommandRun& run)
{
    AccountDetails details;
    if (!RequireAccount(run, run.Argument(0), details, nullptr))
        return kExitNoSuchAccount;
    return SetPicture(run, run.Argument(0), run.Argument(1), FitOf(run.Parsed().Value(L"--fit")));
}

int PictureDefault(CommandRun& run)
{
    AccountDetails details;
    if (!RequireAccount(run, run.Argument(0), details, nullptr))
        return kExitNoSuchAccount;
    WString file;
    if (!FindDefaultPictureFile(file)) {
        run.Say(L"the default picture " + Quoted(file.Text()) + L" is missing; nothing was changed");
        return kExitFailed;
    }
    return SetPicture(run, run.Argument(0), file.Text(), PictureFit::Crop);
}
