// The small modal box that names the program, shows its version and links
// to its web pages.
#pragma once

class UiWindow;

// Runs the box over the main window until it is closed.
void ShowAboutBox(UiWindow& mainWindow);

// The pages the box opens.
extern const wchar_t kProductHomePage[];
extern const wchar_t kMakerHomePage[];
extern const wchar_t kDonationPage[];
