// The health check's dialog, on the dialogs' shared frame and loop. The
// check and the mends read and change the machine on a worker thread; the
// dialog's thread only shows what they report.
#include "app/health_check_dialog.h"

#include <windows.h>
#include <commdlg.h>

#include <atomic>

#include "app/command_rules.h"
#include "platform/handles.h"
#include "platform/text.h"
#include "platform/tree_walk.h"
#include "ui/dialog.h"
#include "ui/drawing.h"
#include "ui/message_box.h"
#include "ui/worker.h"

namespace {

// The dialog's own sizes and colours, in a namespace named for it: the
// dialogs are compiled together, in one unity batch.
namespace health_check {

constexpr int kWidth = 720;
constexpr int kHeight = 470;
constexpr int kBandTop = 384;
constexpr int kTrackWidth = 680;
constexpr int32_t kGreen = RGB(0, 144, 0);
constexpr int32_t kRed = RGB(255, 0, 0);
constexpr int32_t kBlack = RGB(0, 0, 0);
constexpr int32_t kBand = RGB(0xF0, 0xF0, 0xFF);   // kBandColour as a GDI colour
constexpr int32_t kTrack = RGB(0xD4, 0xD4, 0xE4);
constexpr int32_t kFill = RGB(0x2E, 0x6D, 0xA4);
constexpr LONG kListStyle = WS_VISIBLE | WS_BORDER | LVS_REPORT | LVS_SHOWSELALWAYS | LVS_SINGLESEL;

}  // namespace health_check

std::wstring EvidenceText(const Finding& finding)
{
    std::wstring text;
    for (const Evidence& e : finding.evidence)
        text += (text.empty() ? L"" : L"; ") + e.name + L": " + e.value;
    return text;
}

// ---- The worker ----

// What the worker reports to the dialog's thread: the step texts point
// into the check's own table or into the findings the dialog holds.
struct Progress {
    std::atomic<uint32_t> done{0};
    std::atomic<uint32_t> total{1};
    std::atomic<const wchar_t*> step{L""};
    HWND wake = nullptr;   // not owned: the dialog, woken at each step
    void Report(uint32_t d, uint32_t t, const wchar_t* what)
    {
        step = what != nullptr ? what : L"";
        total = t > 0 ? t : 1;
        done = d;
        PostMessageW(wake, WM_NULL, 0, 0);
    }
};

struct CheckJob {
    Progress progress;
    std::vector<Finding> findings;
};

DWORD WINAPI CheckWorker(void* parameter)
{
    auto& job = *static_cast<CheckJob*>(parameter);
    job.findings = RunHealthCheck(HealthCheckOptions{}, [&](uint32_t done, uint32_t total, const wchar_t* step) {
        job.progress.Report(done, total, step);
    });
    return 0;
}

struct MendJob {
    Progress progress;
    std::vector<const Finding*> findings;   // not owned
    std::vector<MendOutcome> outcomes;
};

DWORD WINAPI MendWorker(void* parameter)
{
    auto& job = *static_cast<MendJob*>(parameter);
    const uint32_t total = static_cast<uint32_t>(job.findings.size());
    for (uint32_t i = 0; i < total; ++i) {
        job.progress.Report(i, total, job.findings[i]->summary.c_str());
        job.outcomes.push_back(MendFinding(*job.findings[i]));
    }
    job.progress.Report(total, total, L"");
    return 0;
}

// ---- The dialog ----

struct CheckControls {
    int32_t close = 0;
    int32_t list = 0;
    int32_t details = 0;
    int32_t status = 0;
    int32_t track = 0;
    int32_t fill = 0;
    int32_t checkAgain = 0;
    int32_t mendTicked = 0;
    int32_t mendSafe = 0;
    int32_t exportList = 0;
    int32_t closeButton = 0;
};

struct CheckSession {
    UiDialog* dialog = nullptr;   // not owned
    CheckControls ids;
    std::vector<Finding> findings;
    std::vector<std::wstring> results;   // beside the findings
    std::vector<bool> mended;
    // A close asked for while the worker ran (the program's or the
    // dialog's): the dialog goes once the worker has ended.
    bool closeAsked = false;
};

void ReportCheck(CheckSession& session, const std::wstring& text, int32_t colour)
{
    session.dialog->SetColour(session.ids.status, colour, health_check::kBand);
    session.dialog->SetText(session.ids.status, text.c_str());
}

void ShowCheckProgress(CheckSession& session, const Progress& progress, const wchar_t* doing)
{
    const uint32_t done = progress.done, total = progress.total;
    std::wstring text = std::wstring(doing) + L" " + std::to_wstring(done < total ? done + 1 : total) + L" of " +
                        std::to_wstring(total);
    const wchar_t* step = progress.step;
    if (step != nullptr && *step != L'\0')
        text += std::wstring(L": ") + step;
    ReportCheck(session, text, health_check::kBlack);
    if (HWND fill = session.dialog->ControlHandle(session.ids.fill)) {
        int width = static_cast<int>(static_cast<uint64_t>(health_check::kTrackWidth) * (done < total ? done : total) / total);
        SetWindowPos(fill, nullptr, 0, 0, session.dialog->Scale(width > 0 ? width : 1), session.dialog->Scale(6),
                     SWP_NOMOVE | SWP_NOZORDER | SWP_NOACTIVATE);
        ShowWindow(fill, width > 0 ? SW_SHOWNA : SW_HIDE);
    }
}

void ShowTrack(CheckSession& session, bool shown)
{
    session.dialog->SetState(session.ids.track, shown ? StateFlags::Show : StateFlags::Hide);
    session.dialog->SetState(session.ids.fill, StateFlags::Hide);
}

void EnableButtons(CheckSession& session, bool enabled)
{
    const uint32_t state = enabled ? StateFlags::Enable : StateFlags::Disable;
    for (int32_t id : {session.ids.checkAgain, session.ids.mendTicked, session.ids.mendSafe, session.ids.exportList})
        session.dialog->SetState(id, state);
    if (enabled && session.findings.empty()) {
        for (int32_t id : {session.ids.mendTicked, session.ids.mendSafe, session.ids.exportList})
            session.dialog->SetState(id, StateFlags::Disable);
    }
}

// Texts off the machine may hold anything: a row shows no control character.
std::wstring Printable(std::wstring text)
{
    for (wchar_t& c : text) {
        if (c < L' ')
            c = L' ';
    }
    return text;
}

std::wstring SeverityTitle(Severity severity)
{
    std::wstring text = SeverityText(severity);
    if (!text.empty())
        text[0] = static_cast<wchar_t>(towupper(text[0]));
    return text;
}

void SetFindingResult(CheckSession& session, int row, const std::wstring& text)
{
    std::wstring shown = Printable(text);
    LVITEMW cell{};
    cell.iSubItem = 3;
    cell.pszText = shown.data();
    SendMessageW(session.dialog->ControlHandle(session.ids.list), LVM_SETITEMTEXTW, row, reinterpret_cast<LPARAM>(&cell));
}

bool Ticked(CheckSession& session, int row)
{
    UINT state = static_cast<UINT>(
        SendMessageW(session.dialog->ControlHandle(session.ids.list), LVM_GETITEMSTATE, row, LVIS_STATEIMAGEMASK));
    return (state >> 12) == 2;
}

void Untick(CheckSession& session, int row)
{
    LVITEMW item{};
    item.stateMask = LVIS_STATEIMAGEMASK;
    item.state = INDEXTOSTATEIMAGEMASK(1);
    SendMessageW(session.dialog->ControlHandle(session.ids.list), LVM_SETITEMSTATE, row, reinterpret_cast<LPARAM>(&item));
}

void FillList(CheckSession& session)
{
    UiWindow& dialog = *session.dialog;
    HWND list = dialog.ControlHandle(session.ids.list);
    SendMessageW(list, WM_SETREDRAW, FALSE, 0);
    dialog.DeleteAllItems(session.ids.list);
    for (const Finding& f : session.findings) {
        std::wstring row = SeverityTitle(f.severity) + L"\t" + Printable(f.summary) + L"\t" +
                           Printable(EvidenceText(f)) + L"\t" + (f.mendable ? L"" : L"Mend by hand");
        dialog.AddListItem(session.ids.list, row.c_str(), L"\t");
    }
    SendMessageW(list, WM_SETREDRAW, TRUE, 0);
    InvalidateRect(list, nullptr, TRUE);
    session.results.assign(session.findings.size(), std::wstring());
    session.mended.assign(session.findings.size(), false);
    dialog.SetText(session.ids.details, L"");
}

std::wstring Summary(const std::vector<Finding>& findings)
{
    if (findings.empty())
        return L"Nothing was found: the accounts, profiles, rights and sign-in of this computer look right.";
    uint32_t counts[3] = {};
    for (const Finding& f : findings)
        ++counts[static_cast<int>(f.severity)];
    std::wstring text = std::to_wstring(findings.size()) + (findings.size() == 1 ? L" finding:" : L" findings:");
    const wchar_t* names[3][2] = {{L"problem", L"problems"}, {L"risk", L"risks"}, {L"note", L"notes"}};
    bool first = true;
    for (int i = 0; i < 3; ++i) {
        if (counts[i] == 0)
            continue;
        text += (first ? L" " : L", ") + std::to_wstring(counts[i]) + L" " + names[i][counts[i] == 1 ? 0 : 1];
        first = false;
    }
    return text + L".";
}

// Runs the job on a worker while the dialog keeps painting; false when no
// thread could be started.
bool RunJob(CheckSession& session, LPTHREAD_START_ROUTINE routine, void* job, Progress& progress, const wchar_t* doing)
{
    WorkerWatch watch;
    watch.owner = &session.dialog->Owner();
    watch.window = session.dialog;
    watch.onEvent = [&](int32_t event) {
        session.closeAsked |= event == EventCode::Close ||
                              (event > 0 && (event == session.ids.close || event == session.ids.closeButton));
        ShowCheckProgress(session, progress, doing);
    };
    DWORD unused = 0;
    return RunWorker(routine, job, watch, &unused);
}

// False when the dialog is to close.
bool RunCheck(CheckSession& session)
{
    EnableButtons(session, false);
    ShowTrack(session, true);
    CheckJob job;
    job.progress.wake = session.dialog->Handle();
    ShowCheckProgress(session, job.progress, L"Checking");
    const bool ran = RunJob(session, CheckWorker, &job, job.progress, L"Checking");
    ShowTrack(session, false);
    if (!ran) {
        ReportCheck(session, L"The check could not be started.", health_check::kRed);
    } else {
        session.findings = std::move(job.findings);
        FillList(session);
        ReportCheck(session, Summary(session.findings), session.findings.empty() ? health_check::kGreen : health_check::kBlack);
    }
    EnableButtons(session, true);
    return !session.closeAsked;
}

// False when the dialog is to close.
bool Mend(CheckSession& session, const std::vector<int>& rows)
{
    MendJob job;
    job.progress.wake = session.dialog->Handle();
    for (int row : rows)
        job.findings.push_back(&session.findings[row]);
    EnableButtons(session, false);
    ShowTrack(session, true);
    ShowCheckProgress(session, job.progress, L"Mending");
    const bool ran = RunJob(session, MendWorker, &job, job.progress, L"Mending");
    ShowTrack(session, false);
    uint32_t mended = 0;
    for (size_t i = 0; i < job.outcomes.size(); ++i) {
        const int row = rows[i];
        session.results[row] = job.outcomes[i].text;
        session.mended[row] = job.outcomes[i].mended;
        mended += job.outcomes[i].mended ? 1 : 0;
        SetFindingResult(session, row, job.outcomes[i].text);
        if (job.outcomes[i].mended)
            Untick(session, row);
    }
    if (!ran)
        ReportCheck(session, L"The mending could not be started; nothing was changed.", health_check::kRed);
    else
        ReportCheck(session, L"Mended " + std::to_wstring(mended) + L" of " + std::to_wstring(rows.size()) +
                            L". \"Check again\" shows the computer as it is now.",
               mended == rows.size() ? health_check::kGreen : health_check::kRed);
    EnableButtons(session, true);
    return !session.closeAsked;
}

// False when the dialog is to close.
bool MendTicked(CheckSession& session)
{
    std::vector<int> rows;
    uint32_t weighty = 0;
    for (size_t row = 0; row < session.findings.size(); ++row) {
        if (session.mended[row] || !Ticked(session, static_cast<int>(row)))
            continue;
        rows.push_back(static_cast<int>(row));
        const Finding& f = session.findings[row];
        weighty += f.mendable && !f.safeToMend ? 1 : 0;
    }
    if (rows.empty()) {
        ReportCheck(session, L"Tick the findings to mend first.", health_check::kRed);
        return true;
    }
    // Deleting a profile or an account is not undone: asked once for all.
    if (weighty > 0) {
        std::wstring question = std::to_wstring(weighty) + (weighty == 1 ? L" of the ticked findings deletes or changes "
                                                                         : L" of the ticked findings delete or change ");
        question += L"more than a setting (a profile, an account, automatic sign-in). Each says what in the list.\r\n\r\n"
                    L"Do you want to mend the ticked findings?";
        if (ThemedMessageBox(question.c_str(), BoxKind::YesNo, 170, session.dialog->Owner()) != 1)
            return true;
    }
    return Mend(session, rows);
}

// False when the dialog is to close.
bool MendSafe(CheckSession& session)
{
    std::vector<int> rows;
    for (size_t row = 0; row < session.findings.size(); ++row) {
        if (!session.mended[row] && session.findings[row].mendable && session.findings[row].safeToMend)
            rows.push_back(static_cast<int>(row));
    }
    if (rows.empty()) {
        ReportCheck(session, L"No finding is safe to mend without asking.", health_check::kBlack);
        return true;
    }
    return Mend(session, rows);
}

bool ChooseExportFile(HWND owner, std::wstring& path, ExportFormat& format)
{
    constexpr DWORD kFileCapacity = 2048;
    wchar_t file[kFileCapacity + 1] = L"health-check.csv";
    OPENFILENAMEW dialog{};
    dialog.lStructSize = sizeof(dialog);
    dialog.hwndOwner = owner;
    dialog.lpstrFilter = L"CSV file (*.csv)\0*.csv\0JSON file (*.json)\0*.json\0\0";
    dialog.nFilterIndex = 1;
    dialog.lpstrFile = file;
    dialog.nMaxFile = kFileCapacity;
    dialog.lpstrTitle = L"Save the health check's findings";
    dialog.lpstrDefExt = L"csv";
    dialog.Flags = OFN_NOCHANGEDIR | OFN_OVERWRITEPROMPT | OFN_PATHMUSTEXIST | OFN_EXPLORER | OFN_ENABLESIZING;
    if (!GetSaveFileNameW(&dialog) || file[0] == L'\0')
        return false;
    path = file;
    // The name's ending decides; the chosen type only when it says nothing.
    const size_t dot = path.find_last_of(L'.');
    const std::wstring ending = dot != std::wstring::npos ? path.substr(dot) : std::wstring();
    format = EqualsNoCase(ending.c_str(), L".json")  ? ExportFormat::Json
             : EqualsNoCase(ending.c_str(), L".csv") ? ExportFormat::Csv
             : dialog.nFilterIndex == 2              ? ExportFormat::Json
                                                     : ExportFormat::Csv;
    return true;
}

// The chosen folder is usually one the operator's own programs can write:
// a link planted at the name is never written through.
bool WriteReportFile(const std::wstring& path, const std::string& content)
{
    return WriteFileAtPath(path.c_str(), content.data(), content.size()) == PlacedFile::Written;
}

void ExportToFile(CheckSession& session)
{
    std::wstring path;
    ExportFormat format = ExportFormat::Csv;
    if (!ChooseExportFile(session.dialog->Handle(), path, format))
        return;
    if (WriteReportFile(path, ExportFindings(session.findings, session.results, format)))
        ReportCheck(session, L"The list was saved to " + path, health_check::kGreen);
    else
        ReportCheck(session, L"The list could not be saved to " + path, health_check::kRed);
}

void ShowFindingDetails(CheckSession& session)
{
    const int row = session.dialog->GetSelectedItem(session.ids.list);
    if (row < 0 || static_cast<size_t>(row) >= session.findings.size()) {
        session.dialog->SetText(session.ids.details, L"");
        return;
    }
    const Finding& f = session.findings[row];
    std::wstring text = Printable(f.summary) + L"\r\n" + Printable(f.mendText);
    session.dialog->SetText(session.ids.details, text.c_str());
}

void AddCheckControls(CheckSession& session)
{
    UiDialog& dialog = *session.dialog;
    CheckControls& ids = session.ids;
    int32_t heading = dialog.AddLabel(L"Check this computer", 68, 20, 584, 25, WS_VISIBLE | SS_CENTER);
    dialog.SetFont(heading, 16.0, 800, 0, L"Arial");
    ids.close = AddCloseButton(dialog, 678, 10, 32, 32, kOpaqueBlack);
    int32_t introduction = dialog.AddLabel(
        L"What is quietly wrong with this computer's accounts, profiles, rights, groups and automatic sign-in. "
        L"Tick the findings to mend, or mend every safe one at once; the others say what to do by hand.",
        20, 58, 680, 36, -1);
    dialog.SetFont(introduction, 10.0, 400, 0, L"Arial");

    ids.list = dialog.AddListView(L" Severity| Finding| Evidence| Result", 10, 100, 700, 226, health_check::kListStyle,
                                  LVS_EX_FULLROWSELECT | LVS_EX_CHECKBOXES | LVS_EX_DOUBLEBUFFER | LVS_EX_INFOTIP);
    const int widths[] = {80, 270, 172, 154};
    for (int column = 0; column < 4; ++column)
        dialog.SetColumnWidth(ids.list, column, widths[column]);
    dialog.NameList(ids.list, L"Findings");
    ids.details = dialog.AddLabel(L"", 20, 334, 680, 44, -1);

    ids.status = dialog.AddLabel(L"", 20, health_check::kBandTop + 8, 680, 18, -1);
    dialog.SetColour(ids.status, health_check::kBlack, health_check::kBand);
    ids.track = dialog.AddLabel(L"", 20, health_check::kBandTop + 30, health_check::kTrackWidth, 6, -1);
    dialog.SetColour(ids.track, -1, health_check::kTrack);
    ids.fill = dialog.AddLabel(L"", 20, health_check::kBandTop + 30, 1, 6, -1);
    dialog.SetColour(ids.fill, -1, health_check::kFill);
    // The bar lies over its track: drawn after it.
    SetWindowPos(dialog.ControlHandle(ids.fill), HWND_TOP, 0, 0, 0, 0, SWP_NOMOVE | SWP_NOSIZE | SWP_NOACTIVATE);

    struct Button {
        int32_t* id;
        const wchar_t* text;
        int x, width;
        const wchar_t* tip;
    } const buttons[] = {
        {&ids.checkAgain, L"Check &again", 20, 110, L"Check the computer again, as it is now"},
        {&ids.mendTicked, L"&Mend ticked", 140, 110, L"Mend the ticked findings, each through the operation that owns it"},
        {&ids.mendSafe, L"Mend all &safe findings", 260, 170, L"Mend every finding that is safe to mend without asking"},
        {&ids.exportList, L"&Export...", 440, 100, L"Save the list as a CSV or JSON file"},
        {&ids.closeButton, L"Close", 600, 100, L"Close this window"},
    };
    for (const Button& b : buttons) {
        *b.id = dialog.AddButton(b.text, b.x, health_check::kBandTop + 44, b.width, 26, -1);
        dialog.SetTip(*b.id, b.tip);
    }
    ShowTrack(session, false);
}

}  // namespace

std::string ExportFindings(const std::vector<Finding>& findings, const std::vector<std::wstring>& results,
                           ExportFormat format)
{
    auto result = [&](size_t i) { return i < results.size() ? results[i] : std::wstring(); };
    if (format == ExportFormat::Csv) {
        std::wstring text = CsvLine({L"severity", L"id", L"summary", L"evidence", L"mendable", L"safe to mend", L"result"});
        for (size_t i = 0; i < findings.size(); ++i) {
            const Finding& f = findings[i];
            // CsvLine quotes each field itself.
            text += CsvLine({SeverityText(f.severity), f.id, f.summary, EvidenceText(f), f.mendable ? L"yes" : L"no",
                             f.safeToMend ? L"yes" : L"no", result(i)});
        }
        return ToUtf8(text.c_str());
    }
    JsonWriter json;
    json.BeginArray();
    for (size_t i = 0; i < findings.size(); ++i) {
        const Finding& f = findings[i];
        json.BeginObject().Field("severity", SeverityText(f.severity)).Field("id", f.id).Field("summary", f.summary);
        json.Key("evidence").BeginArray();
        for (const Evidence& e : f.evidence)
            json.BeginObject().Field("name", e.name).Field("value", e.value).EndObject();
        json.EndArray();
        json.Field("mendable", f.mendable).Field("safeToMend", f.safeToMend).Field("mend", f.mendText);
        json.Field("result", result(i)).EndObject();
    }
    json.EndArray();
    return json.Text() + "\n";
}

void HealthCheckDialog(DialogOwner& owner)
{
    UiDialog dialog(owner);
    DialogLook look = OutlinedLook(health_check::kWidth, health_check::kHeight, health_check::kWidth - 9, health_check::kHeight - 8);
    look.fills.push_back({4, health_check::kBandTop, health_check::kWidth - 9, health_check::kHeight - 8 - health_check::kBandTop + 4, kBandColour, 0});
    if (!dialog.Create(look))
        return;
    CheckSession session;
    session.dialog = &dialog;
    AddCheckControls(session);
    dialog.SetCancel(session.ids.closeButton);
    dialog.Show(session.ids.closeButton);
    if (!RunCheck(session))
        return;
    dialog.RunModal([&](int32_t event) {
        if (event == session.ids.close || event == session.ids.closeButton)
            return DialogStep::Done;
        bool open = true;
        if (event == EventCode::ItemSelected || event == EventCode::ItemDeselected)
            ShowFindingDetails(session);
        else if (event == session.ids.checkAgain)
            open = RunCheck(session);
        else if (event == session.ids.mendTicked)
            open = MendTicked(session);
        else if (event == session.ids.mendSafe)
            open = MendSafe(session);
        else if (event == session.ids.exportList)
            ExportToFile(session);
        return open ? DialogStep::Stay : DialogStep::Done;
    });
}
