// The dialog through which the operator creates an account, built like the
// program's message boxes.
#include "app/dialogs/account_dialogs.h"

#include <lm.h>
#include <shlobj.h>

#include "accounts/account_lifecycle.h"
#include "accounts/pictures.h"
#include "app/dialogs/picture_dialog.h"
#include "platform/machine.h"
#include "ui/dialog.h"
#include "ui/drawing.h"
#include "ui/message_box.h"
#include "ui/secret_text.h"
#include "ui/window.h"

namespace {

// The dialog's own sizes and colours, in a namespace named for it: the
// dialogs are compiled together, in one unity batch.
namespace create_account {

constexpr int kWidth = 400;
constexpr int kHeight = 355;
constexpr int kPictureSize = 48;
constexpr LONG kFieldStyle = WS_VISIBLE | WS_BORDER | WS_TABSTOP | ES_AUTOHSCROLL;
constexpr LONG kPasswordStyle = kFieldStyle | ES_PASSWORD;
constexpr LONG kRadioStyle = WS_VISIBLE | WS_TABSTOP | BS_AUTORADIOBUTTON;
constexpr int kFieldLimit = 40;
constexpr int32_t kBusyGreen = RGB(0, 144, 0);
constexpr int32_t kDarkRed = RGB(160, 0, 0);
constexpr int32_t kRed = RGB(255, 0, 0);

}  // namespace create_account

// The common outline and body, and a frame round the picture section.
DialogLook CreationLook()
{
    DialogLook look = OutlinedLook(create_account::kWidth, create_account::kHeight, 391, 347);
    look.fills.push_back({10, 200, 380, 70, kOpaqueBlack, 4});
    look.fills.push_back({13, 203, 374, 64, kOpaqueWhite, 3});
    return look;
}

struct NewAccountControls {
    int32_t name = 0;
    int32_t type = 0;
    int32_t password = 0;
    int32_t again = 0;
    int32_t picture = 0;
    int32_t browse = 0;
    int32_t useDefault = 0;
    int32_t centre = 0;
    int32_t crop = 0;
    int32_t stretch = 0;
    int32_t status = 0;
    int32_t create = 0;
    int32_t cancel = 0;
};

// What the dialog holds while it runs.
struct PictureChoice {
    UniqueImage defaultPicture;
    UniqueImage chosen;
    WString chosenPath;   // empty: the default picture is used
};

void Say(UiWindow& dialog, const NewAccountControls& controls, const wchar_t* text, int32_t colour)
{
    dialog.SetColour(controls.status, colour, -1);
    dialog.SetText(controls.status, text);
    UpdateWindow(dialog.Handle());
}

// The toolkit keeps check states for check boxes; radio buttons are asked directly.
bool IsRadioChecked(UiWindow& dialog, int32_t id)
{
    const ControlEntry* radio = dialog.Control(id);
    return radio != nullptr && SendMessageW(radio->handle, BM_GETCHECK, 0, 0) == BST_CHECKED;
}

PictureFit CurrentFit(UiWindow& dialog, const NewAccountControls& controls)
{
    if (IsRadioChecked(dialog, controls.crop))
        return PictureFit::Crop;
    if (IsRadioChecked(dialog, controls.stretch))
        return PictureFit::Stretch;
    return PictureFit::Center;
}

// The picture control shows a new bitmap: it is made again in its place.
// Without a picture to show, a control that exists keeps what it shows, so
// that the picture on the screen is always the one the account would get.
bool ShowPicture(UiWindow& dialog, NewAccountControls& controls, Gdiplus::GpBitmap* bitmap, PictureFit fit)
{
    int side = dialog.Scale(create_account::kPictureSize);   // drawn at the dialog's scale, not stretched by the control
    UniqueImage square = bitmap != nullptr ? FitPicture(bitmap, side, side, fit) : UniqueImage();
    UniqueBitmap shown = square ? ToGdiBitmap(square.Get(), kWindowBackgroundArgb) : UniqueBitmap();
    if (!shown && controls.picture != 0)
        return false;
    if (controls.picture != 0)
        dialog.DeleteControl(controls.picture);
    controls.picture = dialog.AddPicture(shown.Release(), 125, 210, create_account::kPictureSize, create_account::kPictureSize,
                                         WS_VISIBLE | WS_BORDER | SS_BITMAP);
    // Drawn again from the source when the dialog moves to a screen of another scale.
    return controls.picture != 0 && bitmap != nullptr &&
           SetFittedPicture(dialog, controls.picture, bitmap, create_account::kPictureSize, create_account::kPictureSize, fit);
}

const wchar_t* NameRefusal(NewAccountNameProblem problem)
{
    switch (problem) {
    case NewAccountNameProblem::Empty: return L"The \"Account name\" field is empty.";
    case NewAccountNameProblem::ForbiddenCharacter: return nullptr;   // built with the characters
    case NewAccountNameProblem::TooLong: return L"The user name can not be longer than 20 characters.";
    case NewAccountNameProblem::OnlyDotsOrBlanks: return L"The user name can not consist of dots and blanks only.";
    case NewAccountNameProblem::RefusedCharacter:
        return L"The user name can not have commas, at signs or control characters.";
    case NewAccountNameProblem::Reserved: return L"This name is kept for the profile repair's temporary account.";
    case NewAccountNameProblem::None: break;
    }
    return nullptr;
}

// One press of "Create account": the outcome, NotAdded when a check or the
// account database refused.
CreateOutcome Create(UiWindow& dialog, const NewAccountControls& controls, WString& accountNameOut, PictureChoice& picture,
                     int& type, double osVersion)
{
    Say(dialog, controls, L"Creating the user account, please wait...", create_account::kBusyGreen);
    accountNameOut = dialog.GetText(controls.name);
    NewAccountNameProblem problem = CheckNewAccountName(accountNameOut.Text());
    if (problem == NewAccountNameProblem::ForbiddenCharacter) {
        WString text(L"The user name can not have these characters: ");
        text.Append(kForbiddenNameCharacters);
        Say(dialog, controls, text.Text(), create_account::kDarkRed);
        return CreateOutcome::NotAdded;
    }
    if (problem != NewAccountNameProblem::None) {
        Say(dialog, controls, NameRefusal(problem), create_account::kDarkRed);
        return CreateOutcome::NotAdded;
    }
    if (IsAccountNameTaken(accountNameOut.Text())) {
        Say(dialog, controls, L"A user account or group with this name already exists.", create_account::kDarkRed);
        return CreateOutcome::NotAdded;
    }
    SecretText password, again;
    ReadSecretField(dialog, controls.password, password);
    ReadSecretField(dialog, controls.again, again);
    // Exactly, as the password dialog compares: a confirmation that ignores
    // case would confirm a password the operator never typed twice.
    if (CompareText(password.Text(), again.Text(), true) != 0) {
        Say(dialog, controls, L"The passwords you specified are not equal.", create_account::kDarkRed);
        return CreateOutcome::NotAdded;
    }
    LRESULT selected = SendMessageW(dialog.Control(controls.type)->handle, CB_GETCURSEL, 0, 0);
    type = selected >= 0 && selected <= 2 ? static_cast<int>(selected) : 1;

    CreateReport report;
    CreateAccount(accountNameOut.Text(), nullptr, static_cast<uint32_t>(type),
                  *password.Text() != L'\0' ? password.Text() : nullptr, &report);
    if (report.outcome == CreateOutcome::NotAdded) {
        Say(dialog, controls, L"Sorry, the user account could not be created.", create_account::kDarkRed);
        return CreateOutcome::NotAdded;
    }
    Gdiplus::GpBitmap* chosen = !picture.chosenPath.IsEmpty() && picture.chosen ? picture.chosen.Get()
                                                                                 : picture.defaultPicture.Get();
    SetAccountPicture(accountNameOut.Text(), chosen, CurrentFit(dialog, controls), osVersion);
    return report.outcome;
}

void BrowseNewPicture(UiWindow& dialog, NewAccountControls& controls, PictureChoice& picture)
{
    WString path, start;
    if (GetUserPicturesFolder(start))
        start.Append(L"Default Pictures");
    if (!ChoosePictureFile(path, start.Text(), dialog.Handle()))
        return;
    UniqueImage loaded = LoadPictureFile(path.Text());
    if (loaded && ShowPicture(dialog, controls, loaded.Get(), CurrentFit(dialog, controls))) {
        picture.chosen = std::move(loaded);
        picture.chosenPath = std::move(path);
        return;
    }
    Say(dialog, controls, L"The picture file you selected is not valid.", create_account::kRed);
}

}  // namespace

int CreateAccountDialog(DialogOwner& owner, WString& accountNameOut, double osVersion)
{
    UiDialog dialog(owner);
    if (!dialog.Create(CreationLook()))
        return kNoAccountCreated;

    PictureChoice picture;
    WString defaultPath;
    // A missing default leaves the picture control empty and the account
    // without a picture unless the operator chooses one.
    if (FindDefaultPictureFile(defaultPath))
        picture.defaultPicture = LoadPictureFile(defaultPath.Text());

    NewAccountControls controls;
    if (UniqueIcon icon = LoadAccountIcon(dialog.Scale(48)))
        dialog.AddIcon(CopyIcon(icon.Get()), 10, 10, 48, 48);   // the control owns its copy
    int32_t heading = dialog.AddLabel(L"Create user account", 68, 20, 312, 25, WS_VISIBLE | SS_CENTER);
    dialog.SetFont(heading, 16.0, 800, 0, L"Arial");
    dialog.AddFieldLabel(L"Account &name:", 20, 72, 160, 18);
    controls.name = dialog.AddEdit(L"", 185, 70, 195, create_account::kFieldStyle);
    dialog.AddFieldLabel(L"Account &type:", 20, 103, 160, 18);
    controls.type = dialog.AddCombo(L"Guest\nStandard user\nAdministrator", 185, 100, 195, 1);
    dialog.AddFieldLabel(L"&Password (optional):", 20, 142, 160, 18);
    controls.password = dialog.AddEdit(L"", 185, 140, 195, create_account::kPasswordStyle);
    dialog.AddFieldLabel(L"Password a&gain (optional):", 20, 172, 160, 18);
    controls.again = dialog.AddEdit(L"", 185, 170, 195, create_account::kPasswordStyle);
    for (int32_t field : {controls.name, controls.password, controls.again}) {
        if (const ControlEntry* entry = dialog.Control(field))
            SendMessageW(entry->handle, EM_LIMITTEXT, create_account::kFieldLimit, 0);
    }
    dialog.AddLabel(L"User picture:", 20, 230, 110, 18, kDefaultStyle);
    ShowPicture(dialog, controls, picture.defaultPicture.Get(), PictureFit::Crop);
    controls.browse = dialog.AddButton(L"&Browse...", 195, 210, 80, 22, kDefaultStyle);
    controls.useDefault = dialog.AddButton(L"&Default", 300, 210, 70, 22, kDefaultStyle);
    dialog.StartNewGroup();
    controls.centre = dialog.AddButton(L"C&enter", 185, 242, 70, 18, create_account::kRadioStyle);
    controls.crop = dialog.AddButton(L"Cr&op", 255, 242, 65, 18, create_account::kRadioStyle);
    controls.stretch = dialog.AddButton(L"&Stretch", 320, 242, 70, 18, create_account::kRadioStyle);
    if (const ControlEntry* crop = dialog.Control(controls.crop))
        SendMessageW(crop->handle, BM_SETCHECK, BST_CHECKED, 0);
    controls.status = dialog.AddLabel(L"", 20, 285, 360, 18, kDefaultStyle);
    dialog.StartNewGroup();
    controls.create = dialog.AddButton(L"&Create account", 55, 318, 120, 25, WS_VISIBLE | WS_TABSTOP | BS_DEFPUSHBUTTON);
    dialog.SetTip(controls.create, L"Create the user account now.");
    controls.cancel = dialog.AddButton(L"Cancel", 255, 318, 80, 25, kDefaultStyle);
    dialog.SetCancel(controls.cancel);
    dialog.SetTip(controls.cancel, L"Cancel this operation.");

    dialog.Show(controls.name);

    int result = kNoAccountCreated;
    dialog.RunModal([&](int32_t event) {
        if (event <= 0)
            return DialogStep::Stay;
        if (event == controls.cancel)
            return DialogStep::Done;
        if (event == controls.browse) {
            BrowseNewPicture(dialog, controls, picture);
        } else if (event == controls.useDefault) {
            if (ShowPicture(dialog, controls, picture.defaultPicture.Get(), CurrentFit(dialog, controls)))
                picture.chosenPath.Clear();
        } else if (event == controls.centre || event == controls.crop || event == controls.stretch) {
            if (!picture.chosenPath.IsEmpty() && picture.chosen)
                ShowPicture(dialog, controls, picture.chosen.Get(), CurrentFit(dialog, controls));
        } else if (event == controls.create) {
            int type = 1;
            CreateOutcome outcome = Create(dialog, controls, accountNameOut, picture, type, osVersion);
            if (outcome == CreateOutcome::NotAdded)
                return DialogStep::Stay;
            result = type;
            if (outcome == CreateOutcome::AddedWithoutProfile)
                ThemedMessageBox(L"The user account was created, but its profile could not be made now.\r\n\r\n"
                                 L"Windows will make it when the account signs in for the first time.",
                                 BoxKind::Ok, 200, owner);
            return DialogStep::Done;
        }
        return DialogStep::Stay;
    });
    // The edit controls' own copies of what was typed go with a blank.
    dialog.SetText(controls.password, L"");
    dialog.SetText(controls.again, L"");
    return result;
}
