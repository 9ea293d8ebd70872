// The console companion: a console program of the same base name as the
// window program (vantrell.com beside vantrell.exe). cmd and PowerShell pick
// the .com before the .exe, so "vantrell list" starts this; it starts the
// window program with the same arguments and its own standard handles,
// waits for it and ends with its exit code. A console program makes cmd
// wait and owns the console the prompt for a password is read from.
#include <windows.h>

#include <string>

int wmain()
{
    wchar_t path[32768];
    DWORD length = GetModuleFileNameW(nullptr, path, ARRAYSIZE(path));
    if (length == 0 || length >= ARRAYSIZE(path) - 4)
        return 4;
    std::wstring program(path, length);
    const size_t dot = program.find_last_of(L'.');
    const size_t slash = program.find_last_of(L'\\');
    if (dot == std::wstring::npos || (slash != std::wstring::npos && dot < slash))
        return 4;
    // Only the program beside this one, by its full path: never one found on the search path.
    program.replace(dot, std::wstring::npos, L".exe");

    // The arguments as given, behind the program's quoted path.
    const wchar_t* line = GetCommandLineW();
    bool quoted = false;
    while (*line != L'\0' && (quoted || (*line != L' ' && *line != L'\t'))) {
        if (*line == L'"')
            quoted = !quoted;
        ++line;
    }
    std::wstring commandLine = L"\"" + program + L"\"" + line;

    STARTUPINFOW startup = {};
    startup.cb = sizeof(startup);
    startup.dwFlags = STARTF_USESTDHANDLES;
    startup.hStdInput = GetStdHandle(STD_INPUT_HANDLE);
    startup.hStdOutput = GetStdHandle(STD_OUTPUT_HANDLE);
    startup.hStdError = GetStdHandle(STD_ERROR_HANDLE);
    PROCESS_INFORMATION process = {};
    if (!CreateProcessW(program.c_str(), &commandLine[0], nullptr, nullptr, TRUE, 0, nullptr, nullptr, &startup,
                        &process)) {
        DWORD written = 0;
        const char message[] = "the program beside this one could not be started\r\n";
        WriteFile(GetStdHandle(STD_ERROR_HANDLE), message, sizeof(message) - 1, &written, nullptr);
        return 4;
    }
    CloseHandle(process.hThread);
    // Ctrl+C reaches both processes; this one waits for the other's answer.
    SetConsoleCtrlHandler(nullptr, TRUE);
    WaitForSingleObject(process.hProcess, INFINITE);
    DWORD exitCode = 4;
    GetExitCodeProcess(process.hProcess, &exitCode);
    CloseHandle(process.hProcess);
    return static_cast<int>(exitCode);
}
