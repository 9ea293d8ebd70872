#include "app/about_box.h"

#include "platform/handles.h"
#include "resources/resource_ids.h"
#include "vantrell_version.h"
#include "platform/system.h"
#include "ui/dialog.h"
#include "ui/drawing.h"
#include "platform/images.h"
#include "ui/message_box.h"
#include "ui/window.h"

const wchar_t kProductHomePage[] = L"https://vantrell.invalid/vantrell/";
const wchar_t kMakerHomePage[] = L"https://vantrell.invalid/";
const wchar_t kDonationPage[] = L"https://vantrell.invalid/vantrell/donate/";

namespace {

// The dialog's own sizes and colours, in a namespace named for it: the
// dialogs are compiled together, in one unity batch.
namespace about {

constexpr int kWidth = 400;
constexpr int kHeight = 300;

}  // namespace about

// A picture that opens a page when clicked: a link to the keyboard and to screen readers.
int32_t AddPagePicture(UiDialog& box, UniqueBitmap picture, int x, int y, int width, int height, const wchar_t* tip)
{
    if (!picture)
        return 0;
    int32_t id = box.AddPicture(picture.Release(), x, y, width, height, -1);
    if (const ControlEntry* control = box.Control(id))
        SetHandCursor(control->handle);
    box.SetTip(id, tip);
    box.MakePressable(id, tip, DrawnRole::Link);
    return id;
}

}  // namespace

void ShowAboutBox(DialogOwner& owner)
{
    UiDialog box(owner);
    DialogLook look = OutlinedLook(about::kWidth, about::kHeight, 392, 292);
    look.fills.push_back(DialogFill{4, 256, 392, 40, kBandColour, 0});
    if (!box.Create(look))
        return;

    UniqueIcon programIcon(static_cast<HICON>(
        LoadImageW(GetModuleHandleW(nullptr), MAKEINTRESOURCEW(IDI_PROGRAM), IMAGE_ICON, box.Scale(48), box.Scale(48),
                   LR_DEFAULTCOLOR)));
    int32_t icon =
        AddPagePicture(box, IconToBitmap(programIcon.Get(), box.Scale(48)), 20, 20, 48, 48, L"Vantrell");
    box.AddLabel(L"Vantrell", 88, 18, 300, 25, -1);
    box.AddLabel(L"Version " VANTRELL_VERSION_WIDE, 88, 48, 300, 25, -1);
    box.SetFont(0, 10.0, 800, 0, L"Arial");
    int32_t maker = box.AddLink(L"By the Vantrell team: <a>vantrell.invalid</a>", 88, 80, 300, 20);
    box.SetFont(0, 9.0, 400, 0, L"Arial");
    box.AddLabel(L"Vantrell is free software, currently only supported by donations. If you like this program and "
                 L"want to support its future development, you can donate by clicking the button below. Thanks in "
                 L"advance. Any amount is appreciated.",
                 10, 110, 380, 60, -1);
    UniqueImage donateImage = LoadResourceImage(GetModuleHandleW(nullptr), IMG_BUTTON, box.Scale(147), box.Scale(47));
    int32_t donate =
        AddPagePicture(box, ToGdiBitmap(donateImage.Get(), kOpaqueWhite), 126, 190, 147, 47, L"Donate");
    int32_t ok = box.AddButton(L"OK", 270, 265, 80, 25, WS_VISIBLE | WS_TABSTOP | BS_DEFPUSHBUTTON);

    ACCEL escape{FVIRTKEY, VK_ESCAPE, static_cast<WORD>(ok)};
    box.SetAccelerators(UniqueAccelerators(CreateAcceleratorTableW(&escape, 1)));
    box.Show(ok);

    // A message that carries no event is no reason to close: only the
    // program's end, a broken queue or "OK" (Esc included) end the box.
    box.RunModal([&](int32_t event) {
        if (event == ok)
            return DialogStep::Done;
        if (event == icon)
            OpenPage(kProductHomePage);
        else if (event == maker)
            OpenPage(kMakerHomePage);
        else if (event == donate)
            OpenPage(kDonationPage);
        return DialogStep::Stay;
    });
}
