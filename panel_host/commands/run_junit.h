// panel-host run --junit: the run's transcript, as the child played it, turned
// into one JUnit test case a scenario file. The child tells where each step
// begins and sends each transcript line; the parent attributes lines to files
// as they arrive, keeping a bounded part of each file's transcript, so memory
// stays flat however long the run (the whole transcript is on standard output).
#ifndef RUN_JUNIT_H
#define RUN_JUNIT_H

#include "child_process.h"
#include "junit_report.h"
#include "scenario_steps.h"

#include <cstdint>
#include <string>
#include <vector>

// A step of the run, for people: 0 is the load, the scenario steps follow, and
// the delete comes last ("step 3 (take.scenario:7: press Take)").
std::string stepName(std::int64_t step, const ScenarioSteps& steps);

// In the child: records on the output descriptor (-1: none are sent).
void sendStepBegun(int fd, std::int64_t step);
void sendTranscriptLine(int fd, const std::string& line);

class RunRecorder {
  public:
    // The transcript kept for one file's case; past it, lines are only counted.
    static constexpr std::size_t maxCaseOutput = 4u << 20;

    RunRecorder(const std::string& library, const std::vector<std::string>& files,
                const ScenarioSteps& steps);

    // In the parent: bytes from the child, in order.
    void take(const char* bytes, std::size_t size);
    // A line the parent writes itself, or, where the script runs in-process
    // (no fork on Windows), every line and step as it happens.
    void add(const std::string& line);
    void beginStep(std::int64_t step);

    // A run refused before it started: the file at fault has the error.
    static JUnitSuite refused(const std::string& library, const std::vector<std::string>& files,
                              const std::string& file, const std::string& why);

    // One case a file; `end` and `status` say how the run ended.
    JUnitSuite suite(const ChildEnd& end, int status, double seconds) const;

  private:
    std::size_t caseOf(std::int64_t step) const;

    std::string library_;
    std::vector<std::string> files_;
    const ScenarioSteps& steps_;
    std::vector<JUnitCase> cases_;
    std::vector<long long> linesLeftOut_; // by case
    std::string pending_;
    std::int64_t step_ = 0;
    std::int64_t lastBegun_ = -1; // scenario steps begin in order: each up to it began
};

#endif
