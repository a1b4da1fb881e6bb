#include "merge_command.h"

#include "exit_status.h"
#include "text_file.h"
#include "validate_report.h"

#include <fstream>
#include <iostream>

namespace {

bool readPart(const std::string& path, ValidateReport& report, std::string& why) {
    std::string text;
    if (!readTextFile(path, text, why))
        return false;
    nlohmann::json json = nlohmann::json::parse(text, nullptr, false);
    if (json.is_discarded()) {
        why = path + ": not JSON";
        return false;
    }
    if (!readReport(json, report, why)) {
        why = path + ": not a validate report (" + why + ")";
        return false;
    }
    return true;
}

} // namespace

CLI::App* addMergeCommand(CLI::App& app, MergeOptions& options) {
    CLI::App* command = app.add_subcommand(
        "merge-reports", "merge the --json reports of validate --shard K/N into the whole run's");
    command->add_option("reports", options.parts, "one report of each shard")->required();
    command->add_option("--json", options.jsonFile, "the whole run's report")->required();
    return command;
}

int mergeReportFiles(const MergeOptions& options) {
    std::vector<ValidateReport> parts;
    for (const std::string& path : options.parts) {
        ValidateReport part;
        std::string why;
        if (!readPart(path, part, why)) {
            std::cerr << "panel-host: " << why << "\n";
            return badInput;
        }
        parts.push_back(part);
    }
    ValidateReport whole;
    std::string why;
    if (!mergeReports(parts, whole, why)) {
        std::cerr << "panel-host: cannot merge: " << why << "\n";
        return badInput;
    }
    // The lines reached by the whole run, where the libraries' symbols can be read here.
    if (!whole.reach.symbols.empty()) {
        whole.sourceLines = whole.reach.sourceLines(sharedSymbolizer());
        whole.referenceSourceLines = whole.reach.sourceLines(sharedSymbolizer(), true);
    }
    std::ofstream out(options.jsonFile);
    out << reportJson(whole).dump(2, ' ', false, nlohmann::json::error_handler_t::replace) << "\n";
    out.close();
    if (out.fail()) {
        std::cerr << "panel-host: cannot write " << options.jsonFile << "\n";
        return badInput;
    }
    std::cout << "validate: " << whole.totalSessions << " sessions in " << parts.size()
              << " shards, " << whole.steps << " steps, " << whole.failures.size() << " failures"
              << std::endl;
    return whole.failures.empty() ? passed : failedChecks;
}
