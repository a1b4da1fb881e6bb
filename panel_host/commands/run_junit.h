// panel-host run --junit: the run's transcript, as the child played it, turned
// into one JUnit test case a scenario file. The child tells where each step
// begins and sends each transcript line; the parent attributes lines to files.
#ifndef RUN_JUNIT_H
#define RUN_JUNIT_H

#include "child_process.h"
#include "junit_report.h"
#include "scenario.h"

#include <cstdint>
#include <set>
#include <string>
#include <vector>

// A step of the run, for people: 0 is the load, the scenario steps follow, and
// the delete comes last ("step 3 (take.scenario:7: press Take)").
std::string stepName(std::int64_t step, const std::vector<ScenarioStep>& steps);

// In the child: records on the output descriptor (-1: none are sent).
void sendStepBegun(int fd, std::int64_t step);
void sendTranscriptLine(int fd, const std::string& line);

class RunRecorder {
  public:
    // In the parent: bytes from the child, in order.
    void take(const char* bytes, std::size_t size);
    // A line the parent writes itself, or, where the script runs in-process
    // (no fork on Windows), every line and step as it happens.
    void add(const std::string& line) { lines_.push_back({step_, line}); }
    void beginStep(std::int64_t step) {
        step_ = step;
        begun_.insert(step);
    }

    // A run refused before it started: the file at fault has the error.
    static JUnitSuite refused(const std::string& library, const std::vector<std::string>& files,
                              const std::string& file, const std::string& why);

    // One case a file; `end` and `status` say how the run ended.
    JUnitSuite suite(const std::string& library, const std::vector<std::string>& files,
                     const std::vector<ScenarioStep>& steps, const ChildEnd& end, int status,
                     double seconds) const;

  private:
    struct Line {
        std::int64_t step; // 0 the load, 1.. the steps, steps + 1 the delete
        std::string text;
    };
    std::string pending_;
    std::int64_t step_ = 0;
    std::set<std::int64_t> begun_; // steps that began
    std::vector<Line> lines_;
};

#endif
