// The change-picture dialog, on the dialogs' shared frame and loop.
#include "app/dialogs/picture_dialog.h"

#include <commdlg.h>

#include <memory>

#include "accounts/picture_files.h"
#include "accounts/pictures.h"
#include "ui/dialog.h"
#include "ui/window.h"

namespace gp = Gdiplus::DllExports;
using Gdiplus::Ok;

bool ChoosePictureFile(WString& path, const wchar_t* startFolder, HWND owner)
{
    constexpr DWORD kFileCapacity = 2048;
    wchar_t file[kFileCapacity + 1] = {};
    OPENFILENAMEW dialog{};
    // The structure's own size on this platform; a 32-bit size would be refused.
    dialog.lStructSize = sizeof(dialog);
    dialog.hwndOwner = owner;
    dialog.lpstrFilter = L"Pictures\0*.bmp;*.jpg;*.png;*.tiff;*.jpeg;*.gif\0\0";
    dialog.lpstrFile = file;
    dialog.nMaxFile = kFileCapacity;
    dialog.lpstrInitialDir = startFolder;
    dialog.lpstrTitle = L"Select user picture file";
    dialog.lpstrDefExt = L"bmp";   // the dialog adds the dot itself
    dialog.Flags = OFN_NOCHANGEDIR | OFN_FILEMUSTEXIST | OFN_EXPLORER | OFN_ENABLESIZING;
    if (!GetOpenFileNameW(&dialog) || file[0] == L'\0')
        return false;
    return path.Assign(file);
}

namespace {

bool ShowDrawn(UiWindow& window, int32_t pictureControl, Gdiplus::GpBitmap* bitmap,
               std::function<UniqueImage(Gdiplus::GpBitmap*, const UiWindow&)> draw)
{
    Gdiplus::GpImage* copy = nullptr;
    if (bitmap == nullptr || gp::GdipCloneImage(bitmap, &copy) != Ok || copy == nullptr)
        return false;
    // The caller's bitmap may go before the control does.
    auto source = std::make_shared<UniqueImage>(static_cast<Gdiplus::GpBitmap*>(copy));
    return window.SetPictureSource(pictureControl, [source, draw](const UiWindow& shown) {
        UniqueImage drawn = draw(source->Get(), shown);
        return drawn ? ToGdiBitmap(drawn.Get(), 0) : UniqueBitmap();
    });
}

}  // namespace

bool SetPictureImage(UiWindow& window, int32_t pictureControl, Gdiplus::GpBitmap* bitmap, int width, int height)
{
    return ShowDrawn(window, pictureControl, bitmap, [width, height](Gdiplus::GpBitmap* source, const UiWindow& shown) {
        return ScaledCopy(source, shown.Scale(width), shown.Scale(height));
    });
}

bool SetFittedPicture(UiWindow& window, int32_t pictureControl, Gdiplus::GpBitmap* bitmap, int width, int height,
                      PictureFit fit)
{
    return ShowDrawn(window, pictureControl, bitmap,
                     [width, height, fit](Gdiplus::GpBitmap* source, const UiWindow& shown) {
                         return FitPicture(source, shown.Scale(width), shown.Scale(height), fit);
                     });
}

namespace {

// The dialog's own sizes and colours, in a namespace named for it: the
// dialogs are compiled together, in one unity batch.
namespace picture {

constexpr int kWidth = 400;
constexpr int kHeight = 350;
constexpr int kPreviewSize = 128;
constexpr int kHeadingSize = 48;
constexpr int32_t kGreen = RGB(0, 144, 0);
constexpr int32_t kRed = RGB(255, 0, 0);
constexpr wchar_t kNotValid[] = L"The picture file you selected is not valid.";

}  // namespace picture

struct PictureControls {
    int32_t preview = 0;
    int32_t center = 0;
    int32_t crop = 0;
    int32_t stretch = 0;
    int32_t browse = 0;
    int32_t useDefault = 0;
    int32_t status = 0;
    int32_t change = 0;
    int32_t cancel = 0;
};

// What the operator has picked so far.
struct Choice {
    UniqueImage current;   // the account's picture when the dialog opened; may be null
    UniqueImage chosen;    // the file chosen with "Browse...", decoded
    WString chosenPath;    // empty while the current picture is the one to set
};

PictureFit ReadFit(UiWindow& dialog, const PictureControls& controls)
{
    if ((dialog.GetState(controls.crop) & StateFlags::Check) != 0)
        return PictureFit::Crop;
    if ((dialog.GetState(controls.stretch) & StateFlags::Check) != 0)
        return PictureFit::Stretch;
    return PictureFit::Center;
}

void ReportPicture(UiWindow& dialog, const PictureControls& controls, const wchar_t* text, int32_t colour)
{
    dialog.SetColour(controls.status, colour, -1);
    dialog.SetText(controls.status, text);
    UpdateWindow(dialog.Handle());
}

bool ShowFitted(UiWindow& dialog, const PictureControls& controls, Gdiplus::GpBitmap* image, PictureFit fit)
{
    return SetFittedPicture(dialog, controls.preview, image, picture::kPreviewSize, picture::kPreviewSize, fit);
}

// A file that does not load or cannot be fitted changes nothing: the
// earlier choice, if any, stays chosen and previewed.
void Browse(UiWindow& dialog, const PictureControls& controls, Choice& choice, const wchar_t* startFolder)
{
    WString path;
    if (!ChoosePictureFile(path, startFolder, dialog.Handle()))
        return;
    UniqueImage loaded = LoadPictureFile(path.Text());
    if (!loaded || !ShowFitted(dialog, controls, loaded.Get(), ReadFit(dialog, controls))) {
        if (choice.chosen)
            ShowFitted(dialog, controls, choice.chosen.Get(), ReadFit(dialog, controls));
        ReportPicture(dialog, controls, picture::kNotValid, picture::kRed);
        return;
    }
    choice.chosen = std::move(loaded);
    choice.chosenPath.Assign(path.Text());
    ReportPicture(dialog, controls, L"", picture::kGreen);
}

// True when the dialog is done.
bool Change(UiWindow& dialog, const PictureControls& controls, Choice& choice, const wchar_t* accountName, double osVersion)
{
    dialog.SetState(controls.change, StateFlags::Disable);
    dialog.SetState(controls.cancel, StateFlags::Disable);
    ReportPicture(dialog, controls, L"Changing the user account picture, please wait...", picture::kGreen);
    Gdiplus::GpBitmap* image = !choice.chosenPath.IsEmpty() ? choice.chosen.Get() : choice.current.Get();
    if (SetAccountPicture(accountName, image, ReadFit(dialog, controls), osVersion))
        return true;
    ReportPicture(dialog, controls, L"Sorry, the user picture could not be changed this time.", picture::kRed);
    dialog.SetState(controls.change, StateFlags::Enable);
    dialog.SetState(controls.cancel, StateFlags::Enable);
    return false;
}

}  // namespace

void ChangePictureDialog(DialogOwner& owner, const wchar_t* accountName, const wchar_t* fullName, double osVersion)
{
    Choice choice;
    WString startFolder;
    if (GetUserPicturesFolder(startFolder))
        startFolder.Append(L"Default Pictures");
    WString currentPath;
    choice.current = FindAccountPicture(accountName, currentPath, osVersion) ? LoadPictureFile(currentPath.Text())
                                                                             : GenericAccountPicture(osVersion);

    UiDialog dialog(owner);
    if (!dialog.Create(OutlinedLook(picture::kWidth, picture::kHeight, 391, 342)))
        return;

    PictureControls controls;
    int32_t heading = dialog.AddPicture(nullptr, 10, 10, picture::kHeadingSize, picture::kHeadingSize, kDefaultStyle);
    if (choice.current)
        SetPictureImage(dialog, heading, choice.current.Get(), picture::kHeadingSize, picture::kHeadingSize);
    int32_t title = dialog.AddLabel(fullName != nullptr ? fullName : L"", 68, 20, 312, 25, WS_VISIBLE | SS_CENTER);
    dialog.SetFont(title, 16.0, 800, 0, L"Arial");
    dialog.AddLabel(L"Note: You are about to change this user account's picture.", 20, 70, 360, 20, kDefaultStyle);
    controls.preview =
        dialog.AddPicture(nullptr, 20, 120, picture::kPreviewSize, picture::kPreviewSize, WS_VISIBLE | WS_BORDER | SS_REALSIZECONTROL);
    if (choice.current)
        SetPictureImage(dialog, controls.preview, choice.current.Get(), picture::kPreviewSize, picture::kPreviewSize);
    dialog.AddLabel(L"If the source image is not squared:", 180, 130, 200, 18, kDefaultStyle);
    dialog.StartNewGroup();
    controls.center = dialog.AddRadioButton(L"C&enter", 170, 160, 70, 18);
    controls.crop = dialog.AddRadioButton(L"Cr&op", 245, 160, 65, 18);
    controls.stretch = dialog.AddRadioButton(L"&Stretch", 315, 160, 70, 18);
    dialog.SetState(controls.crop, StateFlags::Check);
    dialog.StartNewGroup();
    controls.browse = dialog.AddButton(L"&Browse...", 170, 200, 80, 22, kDefaultStyle);
    controls.useDefault = dialog.AddButton(L"&Default", 310, 200, 70, 22, kDefaultStyle);
    controls.status = dialog.AddLabel(L"", 20, 270, 360, 18, kDefaultStyle);
    controls.change = dialog.AddButton(L"&Change picture", 55, 313, 120, 25, kDefaultStyle);
    dialog.SetTip(controls.change, L"Change the user picture now.");
    controls.cancel = dialog.AddButton(L"Cancel", 255, 313, 80, 25, WS_VISIBLE | WS_TABSTOP | BS_DEFPUSHBUTTON);
    dialog.SetCancel(controls.cancel);
    dialog.SetTip(controls.cancel, L"Cancel changing the user picture.");

    dialog.Show(controls.cancel);

    dialog.RunModal([&](int32_t event) {
        if (event <= 0)
            return DialogStep::Stay;
        if (event == controls.cancel)
            return DialogStep::Done;
        if (event == controls.browse) {
            Browse(dialog, controls, choice, startFolder.Text());
        } else if (event == controls.useDefault) {
            if (choice.current &&
                SetPictureImage(dialog, controls.preview, choice.current.Get(), picture::kPreviewSize, picture::kPreviewSize))
                choice.chosenPath.Clear();
        } else if (event == controls.center || event == controls.crop || event == controls.stretch) {
            if (!choice.chosenPath.IsEmpty() && choice.chosen)
                ShowFitted(dialog, controls, choice.chosen.Get(), ReadFit(dialog, controls));
        } else if (event == controls.change && Change(dialog, controls, choice, accountName, osVersion)) {
            return DialogStep::Done;
        }
        return DialogStep::Stay;
    });
}
