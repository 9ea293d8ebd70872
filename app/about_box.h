// The small modal box that names the program, shows its version and links
// to its web pages.
#pragma once

class DialogOwner;

// Runs the box over the owner until it is closed.
void ShowAboutBox(DialogOwner& owner);

// The pages the box opens.
extern const wchar_t kProductHomePage[];
extern const wchar_t kMakerHomePage[];
extern const wchar_t kDonationPage[];
