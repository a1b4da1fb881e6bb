#include "run_junit.h"

#include "exit_status.h"

#include <algorithm>
#include <cstdlib>
#include <cstring>

namespace {

// A record: its kind ('S' a step begun, 'L' a line), its length (8 bytes), its bytes.
void send(int fd, char kind, const std::string& bytes) {
    if (fd < 0)
        return;
    std::string record(1, kind);
    std::uint64_t size = bytes.size();
    record.append(reinterpret_cast<const char*>(&size), 8);
    record += bytes;
    // Should the parent be gone, the transcript on stdout is what is left.
    writeAll(fd, record);
}

std::string caseName(const std::string& file) {
    std::string name = file.substr(file.find_last_of('/') + 1);
    std::size_t dot = name.rfind(".scenario");
    return dot == std::string::npos ? name : name.substr(0, dot);
}

} // namespace

std::string stepName(std::int64_t step, const ScenarioSteps& steps) {
    if (step <= 0)
        return "the load (load_vesk_client_script)";
    if (step > static_cast<std::int64_t>(steps.size()))
        return "the delete";
    const ScenarioStep s = steps.at(static_cast<std::size_t>(step - 1));
    return "step " + std::to_string(step) + " (" + s.file + ":" + std::to_string(s.line) + ": " +
           s.verb + (s.rest.empty() ? "" : " " + s.rest) + ")";
}

void sendStepBegun(int fd, std::int64_t step) {
    send(fd, 'S', std::to_string(step));
}
void sendTranscriptLine(int fd, const std::string& line) {
    send(fd, 'L', line);
}

RunRecorder::RunRecorder(const std::string& library, const std::vector<std::string>& files,
                         const ScenarioSteps& steps)
    : library_(library), files_(files), steps_(steps), linesLeftOut_(files.size(), 0) {
    std::string className = "panel-host.run." + caseName(library);
    for (const std::string& file : files)
        cases_.push_back({caseName(file), className, 0, {}, {}, {}, "", ""});
}

// The case a step's lines go to: the load goes with the first file, the
// delete with the last.
std::size_t RunRecorder::caseOf(std::int64_t step) const {
    if (cases_.empty() || step <= 0 || steps_.empty())
        return 0;
    if (step > static_cast<std::int64_t>(steps_.size()))
        return cases_.size() - 1;
    std::size_t file = steps_.fileOf(static_cast<std::size_t>(step - 1));
    return file < cases_.size() ? file : 0;
}

void RunRecorder::beginStep(std::int64_t step) {
    step_ = step;
    // The delete comes after a failed step too: it says nothing of the steps skipped.
    if (step <= static_cast<std::int64_t>(steps_.size()))
        lastBegun_ = std::max(lastBegun_, step);
}

void RunRecorder::add(const std::string& line) {
    if (cases_.empty())
        return;
    std::size_t index = caseOf(step_);
    JUnitCase& c = cases_[index];
    if (c.systemOut.size() + line.size() + 1 <= maxCaseOutput)
        c.systemOut += line + "\n";
    else
        ++linesLeftOut_[index];
    bool failed = line.rfind("FAILED ", 0) == 0;
    bool breach = line.rfind("BREACH: ", 0) == 0;
    if ((failed || breach) && !c.failure) {
        c.failure = line;
        c.details = failed ? line : line + "\nin " + stepName(step_, steps_);
    }
}

void RunRecorder::take(const char* bytes, std::size_t size) {
    pending_.append(bytes, size);
    std::size_t at = 0;
    while (pending_.size() - at >= 9) {
        std::uint64_t length = 0;
        std::memcpy(&length, pending_.data() + at + 1, 8);
        if (pending_.size() - at - 9 < length)
            break;
        std::string body = pending_.substr(at + 9, length);
        if (pending_[at] == 'S')
            beginStep(std::strtoll(body.c_str(), nullptr, 10));
        else
            add(body);
        at += 9 + length;
    }
    pending_.erase(0, at);
}

JUnitSuite RunRecorder::suite(const ChildEnd& end, int status, double seconds) const {
    JUnitSuite suite{"panel-host run " + library_, seconds, cases_};
    for (std::size_t i = 0; i < suite.cases.size(); ++i)
        if (linesLeftOut_[i] > 0)
            suite.cases[i].systemOut +=
                "... " + std::to_string(linesLeftOut_[i]) + " more lines, on standard output\n";
    if (suite.cases.empty())
        return suite;
    if (status == cannotLoad || status == badInput) {
        for (JUnitCase& c : suite.cases)
            c.error = "the library could not be loaded: " + library_;
        return suite;
    }
    if (end.kind == ChildEnd::finished) {
        // A failed step ends the run: files whose steps never began were not played.
        for (std::size_t i = 0; i < suite.cases.size(); ++i) {
            std::size_t first = steps_.firstOf(i);
            if (first < steps_.size() && static_cast<std::int64_t>(first + 1) > lastBegun_)
                suite.cases[i].skipped = "not played: the run stopped before it";
        }
        return suite;
    }
    // The run stopped: the file it stopped in has the error, the ones after it were not played.
    std::size_t stopped = caseOf(end.step);
    suite.cases[stopped].error =
        "the script " + end.describe() + " in " + stepName(end.step, steps_);
    suite.cases[stopped].details = *suite.cases[stopped].error;
    for (std::size_t i = stopped + 1; i < suite.cases.size(); ++i)
        suite.cases[i].skipped = "not played: the run stopped in " + caseName(files_[stopped]);
    return suite;
}

JUnitSuite RunRecorder::refused(const std::string& library, const std::vector<std::string>& files,
                                const std::string& file, const std::string& why) {
    JUnitSuite suite{"panel-host run " + library, 0, {}};
    for (const std::string& f : files) {
        JUnitCase c{caseName(f), "panel-host.run." + caseName(library), 0, {}, {}, {}, "", ""};
        if (f == file || file.empty())
            c.error = why;
        else
            c.skipped = "not played: the run was refused";
        suite.cases.push_back(c);
    }
    return suite;
}
