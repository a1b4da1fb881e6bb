#include "failure_scenario.h"

#include <sstream>

namespace {

// Whether `expect TEXT` would read back as this exact command: one line, and
// not one of the words `expect` itself gives a meaning.
bool expressible(const std::string& text) {
    if (text.empty() || text.find_first_of("\r\n") != std::string::npos)
        return false;
    std::string first = text.substr(0, text.find(' '));
    return first != "nothing" && first != "reply" && first != "control" && first != "crosspoint" &&
           text.front() != ' ' && text.front() != '\t';
}

void writeExpectations(std::ostream& out, const StepRecord& record) {
    for (const std::string& command : record.commands) {
        if (!expressible(command)) {
            out << "# (a command no expect line can hold)\n";
            return;
        }
        out << "expect " << command << "\n";
    }
    out << "expect nothing\n";
    if (!record.parameter)
        return;
    if (!record.reply)
        out << "expect reply none\n";
    else if (*record.reply != "none" && record.reply->find_first_of("\r\n") == std::string::npos)
        out << "expect reply " << *record.reply << "\n";
}

} // namespace

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
        if (step < expectUpTo && static_cast<size_t>(step) < expectations.records.size())
            writeExpectations(out, expectations.records[static_cast<size_t>(step)]);
        ++step;
    }
    return out.str();
}
