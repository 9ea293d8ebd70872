// The health check's verb: `doctor`, its findings and their mends.
#include <algorithm>
#include <string>
#include <vector>

#include "app/command_families.h"
#include "app/command_mode.h"
#include "app/health_check.h"

namespace {

void WriteFinding(CommandRun& run, const Finding& finding)
{
    if (run.Json()) {
        JsonWriter& json = run.Document();
        json.BeginObject().Field("id", finding.id).Field("severity", SeverityText(finding.severity))
            .Field("summary", finding.summary).Field("target", finding.target).Key("evidence").BeginArray();
        for (const Evidence& evidence : finding.evidence)
            json.BeginObject().Field("name", evidence.name).Field("value", evidence.value).EndObject();
        json.EndArray().Field("mend", finding.mendText).Field("mendable", finding.mendable)
            .Field("safe", finding.safeToMend).EndObject();
        return;
    }
    run.Line(std::wstring(SeverityText(finding.severity)) + L"\t" + finding.id + L"\t" + Shown(finding.summary));
    for (const Evidence& evidence : finding.evidence)
        run.Line(L"    " + evidence.name + L": " + Shown(evidence.value));
    if (finding.mendable)
        run.Line(L"    mend" + std::wstring(finding.safeToMend ? L" (safe)" : L"") + L": " + finding.mendText);
}

}  // namespace

int Doctor(CommandRun& run)
{
    const ParsedCommand& p = run.Parsed();
    const bool fixNamed = p.Has(L"--fix");
    const bool fixSafe = p.Has(L"--fix-safe");
    const bool only = p.Has(L"--only");
    if ((fixNamed || only) == p.arguments.empty()) {
        run.Say(fixNamed || only ? L"--fix and --only need the ids of the findings"
                                 : L"finding ids are taken only after --fix or --only");
        return kExitUsage;
    }
    for (const std::wstring& name : p.arguments) {
        FindingKind kind;
        if (!KindOfId(name.substr(0, name.find(L':')).c_str(), kind)) {
            run.Say(L"there is no kind of finding " + Quoted(name.c_str()));
            return kExitUsage;
        }
    }
    // Detection reads what the user may read; a mend is a change.
    if ((fixNamed || fixSafe) && !run.Elevated()) {
        run.Say(L"mending needs an elevated administrator: run it from an elevated prompt; nothing was changed");
        return kExitNeedsElevation;
    }
    HealthCheckOptions options;
    options.elevated = run.Elevated();
    std::vector<std::wstring> leftOut;
    std::vector<Finding> findings = RunHealthCheck(options, nullptr, &leftOut);
    for (const std::wstring& fact : leftOut)
        AdminFactReadable(run, fact);
    const auto named = [&](const Finding& finding) {
        for (const std::wstring& name : p.arguments)
            if (NamesFinding(name, finding))
                return true;
        return false;
    };
    // A detection limited to some findings knows nothing of the others.
    if (only)
        findings.erase(std::remove_if(findings.begin(), findings.end(), [&](const Finding& f) { return !named(f); }),
                       findings.end());
    if (run.Json())
        run.Document().Key("findings").BeginArray();
    for (const Finding& finding : findings)
        WriteFinding(run, finding);
    if (run.Json())
        run.Document().EndArray();

    // The findings a mend was asked for: the exit code speaks of them alone.
    const auto asked = [&](const Finding& finding) {
        return (fixNamed && named(finding)) || (fixSafe && finding.mendable && finding.safeToMend);
    };
    std::vector<const Finding*> chosen;
    for (const Finding& finding : findings)
        if (finding.mendable && asked(finding))
            chosen.push_back(&finding);
    for (const std::wstring& name : p.arguments) {
        bool found = false;
        for (const Finding& finding : findings)
            found = found || NamesFinding(name, finding);
        if (!found)
            run.Say(L"nothing found as " + Quoted(name.c_str()) + L"; nothing to mend");
    }
    if (!chosen.empty() &&
        !run.Confirmed(L"mending", L"Mend " + std::to_wstring(chosen.size()) + L" findings?", L"nothing was mended"))
        return kExitUsage;
    if (run.DryRun())
        for (const Finding* finding : chosen)
            run.Change(finding->id + L" " + finding->target + L": " + finding->mendText);

    std::vector<bool> mended(findings.size(), false);
    uint32_t failed = 0;
    if (!chosen.empty() && !run.DryRun()) {
        if (run.Json())
            run.Document().Key("mended").BeginArray();
        for (const Finding* finding : chosen) {
            MendOutcome outcome = MendFinding(*finding);
            mended[finding - findings.data()] = outcome.mended;
            failed += outcome.mended ? 0 : 1;
            const std::wstring change = finding->id + L" " + finding->target + L": " + finding->mendText;
            if (outcome.mended)
                run.Change(change);
            else
                run.NotDone(change + L" (" + outcome.text + L")");
            if (run.Json())
                run.Document().BeginObject().Field("id", finding->id).Field("target", finding->target)
                    .Field("mended", outcome.mended).Field("text", outcome.text).EndObject();
        }
        if (run.Json())
            run.Document().EndArray();
    }
    if (failed > 0)
        return kExitFailed;
    for (size_t i = 0; i < findings.size(); ++i)
        if (!mended[i] && findings[i].severity != Severity::Note && (!(fixNamed || fixSafe) || asked(findings[i])))
            return kExitFound;
    return kExitDone;
}
