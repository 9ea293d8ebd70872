#include <windows.h>

#include "app/startup.h"

int WINAPI wWinMain(HINSTANCE instance, HINSTANCE, PWSTR commandLine, int showCommand)
{
    return RunProcess(instance, commandLine, showCommand, DefaultStartupActions());
}
