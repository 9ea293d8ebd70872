// The sandbox tool run as a process of its own: what one process of the
// simulated machine did must be seen by another.
#pragma once

#include <windows.h>

#include <string>

#include "platform/handles.h"
#include "tests/win/test_support.h"

#ifdef VANTRELL_SANDBOX_TOOL

struct ToolRun {
    DWORD exitCode = STILL_ACTIVE;   // when it did not start or end within a minute
    DWORD processId = 0;
    std::string output;              // standard output and error together
};

// Runs the tool with `arguments`; its output goes through a file, so that a
// tool that writes much never waits on a pipe nobody reads yet.
inline ToolRun RunSandboxTool(const std::wstring& arguments)
{
    ToolRun run;
    // A name of this call's own: tests run side by side, and a tool the
    // power cut ended may not have let go of an earlier file yet.
    static LONG calls = 0;
    const std::wstring outputPath = TempFile((L"vantrell-sandbox-tool-" + std::to_wstring(GetCurrentProcessId()) + L"-" +
                                              std::to_wstring(InterlockedIncrement(&calls)) + L".txt").c_str());
    SECURITY_ATTRIBUTES inherit{sizeof(inherit), nullptr, TRUE};
    UniqueFileHandle output(CreateFileW(outputPath.c_str(), GENERIC_WRITE, FILE_SHARE_READ, &inherit, CREATE_ALWAYS,
                                        0, nullptr));
    if (!output)
        return run;
    STARTUPINFOW startup{};
    startup.cb = sizeof(startup);
    startup.dwFlags = STARTF_USESTDHANDLES;
    startup.hStdOutput = startup.hStdError = output.Get();
    PROCESS_INFORMATION process{};
    std::wstring commandLine = L"\"" VANTRELL_SANDBOX_TOOL L"\" " + arguments;
    if (!StartProgram(commandLine, TRUE, CREATE_NO_WINDOW, startup, process))
        return run;
    UniqueHandle thread(process.hThread);
    UniqueHandle tool(process.hProcess);
    run.processId = process.dwProcessId;
    WaitForSingleObject(tool.Get(), 60000);
    GetExitCodeProcess(tool.Get(), &run.exitCode);
    output.Reset();
    run.output = ReadTextFile(outputPath);
    DeleteFileW(outputPath.c_str());
    return run;
}

#endif
