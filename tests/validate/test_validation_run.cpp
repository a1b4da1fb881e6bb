// validate's run on its own, without the command: options in, a result out,
// and every line people see through the log it is given.
#include "validation_run.h"

#include "shell_command.h"

#include <gtest/gtest.h>

#include <sys/stat.h>

namespace {

struct RecordingLog : ValidationLog {
    std::vector<std::string> notes, findings;
    int lastDone = 0, lastPlanned = -1;
    void note(const std::string& line) override { notes.push_back(line); }
    void finding(const std::string& line) override { findings.push_back(line); }
    void progress(int done, int planned) override {
        lastDone = done;
        lastPlanned = planned;
    }
    void endProgress() override {}
    int count(const std::vector<std::string>& lines, const std::string& part) const {
        int found = 0;
        for (const std::string& line : lines)
            found += line.find(part) != std::string::npos;
        return found;
    }
};

TEST(ValidationRun, GivesItsVerdictAsAResultAndTellsEachFailureThroughTheLog) {
    TemporaryFolder folder;
    ValidationOptions options;
    options.library = PLANTED_CRASH;
    options.sessions = 50;
    options.sessionsGiven = true;
    options.jobs = 1;
    options.maxShrunk = 1;
    options.outFolder = folder.path() + "/found";
    RecordingLog log;
    ValidationResult result = ValidationRun(options, log).run();
    ASSERT_EQ(result.end, ValidationResult::ran);
    ASSERT_FALSE(result.report.failures.empty());
    EXPECT_EQ(result.sessionsPlayed, 50);
    EXPECT_EQ(result.failedSteps.size(), result.report.failures.size());
    EXPECT_EQ(log.count(log.findings, " failed in "),
              static_cast<int>(result.report.failures.size()));
    EXPECT_EQ(log.count(log.findings, "validate:   shrunk from "), 1); // only the first
    struct stat saved {};
    EXPECT_EQ(stat(result.report.failures[0].scenario.c_str(), &saved), 0);
    EXPECT_EQ(log.count(log.notes, "validate: panel 1 from "), 1);
    EXPECT_EQ(log.lastDone, 50);
    EXPECT_EQ(log.lastPlanned, 50);

    RecordingLog missing;
    options.library = folder.path() + "/no-such-library.so";
    EXPECT_EQ(ValidationRun(options, missing).run().end, ValidationResult::cannotLoad);
    EXPECT_EQ(missing.count(missing.notes, "panel-host: "), 1);
    EXPECT_TRUE(missing.findings.empty());
}

} // namespace
