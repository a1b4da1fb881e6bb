#include "failure_scenario.h"

#include "expect_lines.h"

#include <sstream>

std::string failureScenario(const FailureStory& story, const std::vector<std::string>& lines,
                            const SessionOutcome& expectations, int expectUpTo) {
    std::ostringstream out;
    out << "# Found by panel-host validate: seed " << story.seed << ", session " << story.session
        << ", level " << story.level << ".\n";
    out << "# " << story.library << ": " << story.what << "\n";
    if (!story.reference.empty())
        out << "# The expect lines are what " << story.reference << " sent.\n";
    out << "# Replay: panel-host run " << story.library << " THIS_FILE\n";
    int step = 0;
    for (const std::string& line : lines) {
        out << line << "\n";
        if (line.rfind("startup ", 0) == 0)
            continue;
        if (step < expectUpTo && static_cast<size_t>(step) < expectations.records.size()) {
            const StepRecord& record = expectations.records[static_cast<size_t>(step)];
            out << expectLines(record.commands, record.parameter, record.reply);
        }
        ++step;
    }
    return out.str();
}
