// merge-reports on any bytes: a report is read or refused with a reason, a
// report read merges with itself split in two, and nothing it holds makes a
// sum wrap or a conversion undefined (UBSan ends the run on either).
#include "validate_report.h"

#include <cstdint>
#include <cstdlib>
#include <string>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    nlohmann::json j = nlohmann::json::parse(data, data + size, nullptr, false);
    if (j.is_discarded())
        return 0;
    ValidateReport report;
    std::string why;
    if (!readReport(j, report, why))
        return why.empty() ? (std::abort(), 0) : 0;
    ValidateReport again;
    if (!readReport(reportJson(report), again, why))
        std::abort(); // what it writes, it must read back
    ValidateReport first = report, second = report;
    first.shardCount = second.shardCount = 2;
    first.shardIndex = 1;
    second.shardIndex = 2;
    first.firstSession = 0;
    first.endSession = second.firstSession = report.totalSessions / 2;
    second.endSession = report.totalSessions;
    ValidateReport whole;
    if (mergeReports({first, second}, whole, why) && whole.steps != 2 * report.steps)
        std::abort();
    return 0;
}
