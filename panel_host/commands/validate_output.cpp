#include "validate_output.h"

#include <cstdio>
#include <map>

namespace {

// "PELDAN.dll+0x1a2b", with the export it starts, if any.
std::string place(const SessionReach& reach, const CodeRange& at) {
    char offset[16];
    std::snprintf(offset, sizeof offset, "0x%x", at.offset);
    auto name = reach.exports.find({at.module, at.offset});
    return at.module + "+" + offset + (name == reach.exports.end() ? "" : " " + name->second);
}

std::string baseName(const std::string& path) {
    return path.substr(path.find_last_of('/') + 1);
}

} // namespace

std::string codeReachedText(const SessionReach& reach) {
    std::string text;
    for (const ModuleReach& m : reach.modules()) {
        double share = m.codeBytes == 0 ? 0
                                        : 100.0 * static_cast<double>(m.reachedBytes) /
                                              static_cast<double>(m.codeBytes);
        char percent[16];
        std::snprintf(percent, sizeof percent, "%.1f", share);
        std::string suffix = guardModuleSuffix;
        bool guards = m.module.size() > suffix.size() &&
                      m.module.compare(m.module.size() - suffix.size(), suffix.size(), suffix) == 0;
        std::string unit = guards ? "guards" : "bytes";
        text += "validate: " + m.module + " code reached: " +
                (guards ? std::to_string(m.reachedBytes) + " of " + std::to_string(m.codeBytes) +
                              " guards"
                        : std::to_string(m.blocks) + " blocks, " + std::to_string(m.reachedBytes) +
                              " of " + std::to_string(m.codeBytes) + " executable bytes") +
                " (" + percent + "%)\n";
        if (m.neverReached.empty())
            continue;
        text += "validate:   never reached:";
        for (const CodeRange& gap : m.neverReached)
            text += " " + place(reach, gap) + " (" + std::to_string(gap.size) + " " + unit + ")";
        text += "\n";
    }
    return text;
}

std::string sourceLinesText(const LineCoverage& lines) {
    std::string modules;
    for (const std::string& module : lines.modules)
        modules += (modules.empty() ? "" : ", ") + module;
    char percent[16];
    std::snprintf(percent, sizeof percent, "%.1f",
                  lines.lines() == 0 ? 0.0
                                     : 100.0 * static_cast<double>(lines.reachedLines()) /
                                           static_cast<double>(lines.lines()));
    return "validate: panel source lines reached in " + modules + ": " +
           std::to_string(lines.reachedLines()) + " of " + std::to_string(lines.lines()) + " (" +
           percent + "%)\n";
}

std::string blockListText(const SessionReach& reach) {
    std::string text = "# Blocks of the script's code that validate's sessions ran: place, size "
                       "in bytes.\n";
    for (const auto& [module, blocks] : reach.blocks)
        for (const auto& [offset, size] : blocks)
            text += place(reach, {module, offset, size}) + " " + std::to_string(size) + "\n";
    if (reach.blocks.empty())
        text += "# (this route cannot see the script's code: nothing to list)\n";
    return text;
}

JUnitSuite validateJUnit(const ValidateReport& r, const std::vector<std::string>& failedSteps) {
    JUnitSuite suite{"panel-host validate " + r.library, r.seconds, {}};
    std::string className = "panel-host.validate." + baseName(r.library);
    std::string run =
        "seed " + std::to_string(r.seed) + ", " +
        (r.level == 0 ? std::string("every level") : "level " + std::to_string(r.level)) +
        ", sessions " + std::to_string(r.firstSession) + " to " + std::to_string(r.endSession - 1);
    if (r.failures.empty()) {
        JUnitCase passing{"no failures (" + run + ")", className, r.seconds, {}, {}, {}, "", ""};
        passing.systemOut = std::to_string(r.steps) + " steps, controls exercised " +
                            std::to_string(r.reach.controls.size()) + " of " +
                            std::to_string(r.panelControls) + "\n";
        suite.cases.push_back(passing);
        return suite;
    }
    std::map<std::string, std::size_t> caseOf;
    for (std::size_t i = 0; i < r.failures.size(); ++i) {
        const ReportedFailure& f = r.failures[i];
        auto [at, added] = caseOf.emplace(f.kind, suite.cases.size());
        if (added)
            suite.cases.push_back({f.kind, className, 0, f.message, {}, {}, "", ""});
        JUnitCase& c = suite.cases[at->second];
        std::string where =
            i < failedSteps.size() ? failedSteps[i] : "step " + std::to_string(f.step);
        c.details +=
            "session " + std::to_string(f.session) + " (" + run + "): " + where + ": " + f.message +
            (f.scenario.empty() ? ""
                                : "\n  replay: panel-host run " + r.library + " " + f.scenario) +
            "\n";
    }
    return suite;
}
