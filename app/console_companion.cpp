// The console companion: a console program of the same base name as the
// window program (vantrell.com beside vantrell.exe). cmd and PowerShell pick
// the .com before the .exe, so "vantrell list" starts this; it starts the
// window program with the same arguments and its own standard handles,
// waits for it and ends with its exit code. A console program makes cmd
// wait and owns the console the prompt for a password is read from.
// It only relays, so it uses nothing of the C++ library: the whole program
// stays a few kilobytes.
#include <windows.h>

namespace {

// The longest path and command line the system takes.
constexpr DWORD kLongest = 32768;

int Refuse()
{
    DWORD written = 0;
    const char message[] = "the program beside this one could not be started\r\n";
    WriteFile(GetStdHandle(STD_ERROR_HANDLE), message, sizeof(message) - 1, &written, nullptr);
    return 4;
}

}  // namespace

int wmain()
{
    // On the stack (128 KB of its 2 MB): arrays of static storage would be written out in the file.
    wchar_t program[kLongest];
    wchar_t commandLine[kLongest];
    const DWORD length = GetModuleFileNameW(nullptr, program, kLongest);
    if (length == 0 || length >= kLongest - 4)
        return Refuse();
    DWORD dot = length;
    while (dot > 0 && program[dot - 1] != L'.' && program[dot - 1] != L'\\')
        --dot;
    if (dot == 0 || program[dot - 1] != L'.')
        return Refuse();
    // Only the program beside this one, by its full path: never one found on the search path.
    lstrcpyW(program + dot, L"exe");

    // The arguments as given, behind the program's quoted path.
    const wchar_t* arguments = GetCommandLineW();
    bool quoted = false;
    while (*arguments != L'\0' && (quoted || (*arguments != L' ' && *arguments != L'\t'))) {
        if (*arguments == L'"')
            quoted = !quoted;
        ++arguments;
    }
    const int programLength = lstrlenW(program);
    const int argumentsLength = lstrlenW(arguments);
    if (programLength + argumentsLength + 3 > static_cast<int>(kLongest))
        return Refuse();
    wchar_t* end = commandLine;
    *end++ = L'"';
    lstrcpyW(end, program);
    end += programLength;
    *end++ = L'"';
    lstrcpyW(end, arguments);

    STARTUPINFOW startup = {};
    startup.cb = sizeof(startup);
    startup.dwFlags = STARTF_USESTDHANDLES;
    startup.hStdInput = GetStdHandle(STD_INPUT_HANDLE);
    startup.hStdOutput = GetStdHandle(STD_OUTPUT_HANDLE);
    startup.hStdError = GetStdHandle(STD_ERROR_HANDLE);
    PROCESS_INFORMATION process = {};
    if (!CreateProcessW(program, commandLine, nullptr, nullptr, TRUE, 0, nullptr, nullptr, &startup, &process))
        return Refuse();
    CloseHandle(process.hThread);
    // Ctrl+C reaches both processes; this one waits for the other's answer.
    SetConsoleCtrlHandler(nullptr, TRUE);
    WaitForSingleObject(process.hProcess, INFINITE);
    DWORD exitCode = 4;
    GetExitCodeProcess(process.hProcess, &exitCode);
    CloseHandle(process.hProcess);
    return static_cast<int>(exitCode);
}
