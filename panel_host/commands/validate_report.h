// validate's JSON report, and the merging of the reports of a run split into
// shards (--shard K/N on several machines) into the report of the whole run.
#ifndef VALIDATE_REPORT_H
#define VALIDATE_REPORT_H

#include "validation_report.h"

#include <nlohmann/json.hpp>

#include <string>
#include <vector>

nlohmann::json reportJson(const ValidateReport& report);
// Reads a report written by reportJson; false with the reason.
bool readReport(const nlohmann::json& json, ValidateReport& report, std::string& why);
// The whole run from its shards: every shard of one run exactly once.
bool mergeReports(std::vector<ValidateReport> parts, ValidateReport& whole, std::string& why);

#endif
