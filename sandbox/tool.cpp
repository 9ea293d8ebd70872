// The sandbox's own tool: resets the simulated machine to a scenario and
// shows what it holds.
//   sandbox-tool reset <scenario name or .ini path>
//   sandbox-tool show
//   sandbox-tool record
//   sandbox-tool reboot [requested]
//   sandbox-tool signin <user> [password]
//   sandbox-tool powercut [at <point> [passage] | off | pass <point>... | clear]
//   sandbox-tool desktop
#include <windows.h>
#include <lm.h>

#include <cstdio>
#include <string>
#include <vector>

#include "platform/machine.h"
#include "sandbox/profiles.h"
#include "sandbox/sandbox.h"
#include "sandbox/state.h"

namespace {

const wchar_t* TypeName(DWORD privilege)
{
    switch (privilege) {
    case USER_PRIV_ADMIN: return L"administrator";
    case USER_PRIV_USER: return L"standard";
    default: return L"guest";
    }
}

bool Holds(const std::wstring& sid, const wchar_t* right)
{
    for (const std::wstring& held : sandbox::RightsOf(sid)) {
        if (_wcsicmp(held.c_str(), right) == 0)
            return true;
    }
    return false;
}

void Show()
{
    std::wstring scenario = sandbox::MachineString(sandbox::kScenario, L"(none)");
    wprintf(L"scenario: %ls\n", scenario.c_str());
    wprintf(L"domain:   %ls\n", sandbox::DomainSid().c_str());
    bool named = false;
    std::wstring console = sandbox::MachineString(sandbox::kConsoleUser, L"", &named);
    wprintf(L"console:  %ls\n", named ? (console.empty() ? L"(no session)" : console.c_str())
                                      : (sandbox::ProcessUserName() + L" (the running account)").c_str());
    std::wstring session = sandbox::SessionUserName();
    wprintf(L"session:  %ls\n", session.empty() ? L"(sign-in screen)" : session.c_str());
    wprintf(L"elevated: %ls   profile service: %ls   security policy: %ls   web browser: %ls   page size: %lu\n\n",
            sandbox::MachineDword(sandbox::kElevated, 1) ? L"yes" : L"no",
            sandbox::MachineDword(sandbox::kProfileService, 1) ? L"present" : L"absent",
            sandbox::MachineDword(sandbox::kSecurityPolicy, 1) ? L"available" : L"refused",
            sandbox::MachineDword(sandbox::kWebBrowser, 1) ? L"installed" : L"none",
            static_cast<unsigned long>(sandbox::MachineDword(sandbox::kPageSize, 0)));
    wprintf(L"%-5ls %-20ls %-24ls %-13ls %-8ls %ls\n", L"RID", L"name", L"full name", L"type", L"password",
            L"flags");
    for (const sandbox::Account& a : sandbox::Accounts()) {
        std::wstring sid = sandbox::AccountSid(a.rid);
        std::wstring flags;
        if (a.flags & UF_ACCOUNTDISABLE) flags += L"disabled ";
        if (a.flags & UF_LOCKOUT) flags += L"locked-out ";
        if (a.flags & UF_DONT_EXPIRE_PASSWD) flags += L"never-expires ";
        if (a.flags & UF_PASSWD_CANT_CHANGE) flags += L"cannot-change ";
        if (a.flags & UF_PASSWD_NOTREQD) flags += L"not-required ";
        if (a.passwordExpired) flags += L"expired ";
        if (Holds(sid, L"SeDenyInteractiveLogonRight")) flags += L"hidden ";
        if (a.unreadable) flags += L"unreadable ";
        std::wstring profile = sandbox::ProfileFolderOf(sid);
        if (!profile.empty()) flags += L"profile=" + profile + L" ";
        if (!a.picture.empty()) flags += L"picture ";
        wprintf(L"%-5lu %-20ls %-24ls %-13ls %-8ls %ls\n", static_cast<unsigned long>(a.rid), a.name.c_str(),
                a.fullName.c_str(), TypeName(sandbox::PrivilegeOf(a)), a.hasPassword ? L"set" : L"none",
                flags.c_str());
    }
}

void ShowRecord()
{
    for (const sandbox::RecordedAction& action : sandbox::RecordedActions()) {
        wprintf(L"%ls", action.call.c_str());
        for (const auto& detail : action.details)
            wprintf(L" %ls=\"%ls\"", detail.first.c_str(), detail.second.c_str());
        wprintf(L"\n");
    }
}

int PrintSignIn(const sandbox::RebootOutcome& outcome);

// Restarts the machine, or with "requested" only when the program asked for
// it, and says what the restart did.
int RebootCommand(bool onlyRequested)
{
    sandbox::RebootOutcome outcome;
    if (onlyRequested) {
        if (!sandbox::RebootIfRequested(&outcome)) {
            wprintf(L"no reboot was requested\n");
            return 1;
        }
    } else {
        outcome = sandbox::Reboot(L"sandbox-tool");
    }
    if (outcome.afterPowerCut)
        wprintf(L"the session had ended by a power cut: nothing was closed or written back\n");
    wprintf(L"restarted: %u pending file operation(s) done, %u failed\n", outcome.renamesDone,
            outcome.renamesFailed);
    return PrintSignIn(outcome);
}

// Someone signs in at the sign-in screen with a name and a password.
int SignInCommand(const wchar_t* user, const wchar_t* password)
{
    sandbox::RebootOutcome outcome = sandbox::SignInAtTheScreen(user, password);
    PrintSignIn(outcome);
    return outcome.signedIn ? 0 : 1;
}

int PrintSignIn(const sandbox::RebootOutcome& outcome)
{
    if (!outcome.signedIn) {
        wprintf(L"stopped at the sign-in screen: %ls\n", outcome.signInScreen.c_str());
        return 0;
    }
    wprintf(L"signed in: %ls\n", outcome.account.c_str());
    for (const sandbox::StartedProgram& program : outcome.programs) {
        if (program.started)
            wprintf(L"started:   %ls %ls (process %lu)\n", program.file.c_str(), program.arguments.c_str(),
                    program.processId);
        else
            wprintf(L"not started: %ls: %ls\n", program.shortcut.c_str(), program.error.c_str());
    }
    return 0;
}

// The power cut: without arguments it lists the points passed so far and
// says what is armed and whether a cut happened.
int PowerCutCommand(int argc, wchar_t** argv)
{
    std::wstring what = argc > 2 ? argv[2] : L"";
    if (what == L"at" && (argc == 4 || argc == 5)) {
        unsigned long passage = 1;
        if (argc == 5) {
            wchar_t* end = nullptr;
            passage = wcstoul(argv[4], &end, 10);
            if (end == argv[4] || *end != L'\0' || passage == 0 || passage > 100000) {
                fwprintf(stderr, L"sandbox-tool: the passage is a number from 1, not \"%ls\"\n", argv[4]);
                return 2;
            }
        }
        sandbox::ArmPowerCut(argv[3], static_cast<unsigned>(passage));
        wprintf(L"armed: the power fails at passage %lu of \"%ls\"\n", passage, argv[3]);
        return 0;
    }
    if (what == L"off" && argc == 3) {
        sandbox::DisarmPowerCut();
        wprintf(L"disarmed\n");
        return 0;
    }
    if (what == L"clear" && argc == 3) {
        sandbox::ClearPowerCutPoints();
        sandbox::ForgetPowerCut();
        wprintf(L"cleared the points passed and the last cut\n");
        return 0;
    }
    if (what == L"pass" && argc >= 4) {
        // As a program passes them; the process ends at an armed point.
        for (int i = 3; i < argc; ++i) {
            wprintf(L"passing \"%ls\"\n", argv[i]);
            fflush(stdout);
            machine::PowerCutPoint(argv[i]);
        }
        return 0;
    }
    if (argc != 2)
        return -1;
    std::vector<std::wstring> points = sandbox::PowerCutPointsPassed();
    wprintf(L"%zu point(s) passed\n", points.size());
    for (size_t i = 0; i < points.size(); ++i)
        wprintf(L"%4zu  %ls\n", i + 1, points[i].c_str());
    std::wstring armed;
    unsigned passage = 0;
    if (sandbox::ArmedPowerCut(&armed, &passage))
        wprintf(L"armed:    passage %u of \"%ls\"\n", passage, armed.c_str());
    else
        wprintf(L"armed:    nothing\n");
    sandbox::PowerCut cut;
    if (sandbox::LastPowerCut(&cut))
        wprintf(L"last cut: passage %lu of \"%ls\" in process %lu%ls\n", cut.passage, cut.point.c_str(),
                cut.processId, cut.pending ? L" (no restart since)" : L"");
    else
        wprintf(L"last cut: none\n");
    return 0;
}

// Keeps the prefix's desktop open until the tool is ended. Wine starts the
// desktop's process for the first program that opens a window and hands it
// that program's standard handles; the build's launcher starts it from
// here, with handles that lead nowhere, so that the desktop never holds the
// output of a test that has finished.
int HoldDesktop()
{
    HWND window = CreateWindowExW(0, L"STATIC", L"", WS_POPUP, 0, 0, 0, 0, nullptr, nullptr, nullptr, nullptr);
    if (!window)
        return 1;
    MSG message;
    while (GetMessageW(&message, nullptr, 0, 0) > 0)
        DispatchMessageW(&message);
    DestroyWindow(window);
    return 0;
}

}  // namespace

int wmain(int argc, wchar_t** argv)
{
    std::wstring command = argc > 1 ? argv[1] : L"";
    if (command == L"reset" && argc == 3) {
        std::wstring scenario = argv[2];
        if (scenario.find(L'\\') == std::wstring::npos && scenario.find(L'/') == std::wstring::npos &&
            scenario.find(L".ini") == std::wstring::npos)
            scenario = sandbox::ScenarioPath(scenario);
        std::wstring error;
        if (!sandbox::ResetMachine(scenario, &error)) {
            fwprintf(stderr, L"sandbox-tool: %ls\n", error.c_str());
            return 1;
        }
        Show();
        return 0;
    }
    if (command == L"show" && argc == 2) {
        Show();
        return 0;
    }
    if (command == L"record" && argc == 2) {
        ShowRecord();
        return 0;
    }
    if (command == L"reboot" && (argc == 2 || (argc == 3 && std::wstring(argv[2]) == L"requested")))
        return RebootCommand(argc == 3);
    if (command == L"signin" && (argc == 3 || argc == 4))
        return SignInCommand(argv[2], argc == 4 ? argv[3] : L"");
    if (command == L"desktop" && argc == 2)
        return HoldDesktop();
    if (command == L"powercut") {
        int result = PowerCutCommand(argc, argv);
        if (result >= 0)
            return result;
    }
    fwprintf(stderr, L"usage: sandbox-tool reset <scenario> | show | record | reboot [requested] |\n"
                     L"                    signin <user> [password] |\n"
                     L"                    powercut [at <point> [passage] | off | pass <point>... | clear] |\n"
                     L"                    desktop\n");
    return 2;
}
