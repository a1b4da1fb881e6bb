#include "run_junit.h"

#include "exit_status.h"

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

// The file a step belongs to: the load goes with the first, the delete with the last.
std::size_t fileOf(std::int64_t step, const std::vector<ScenarioStep>& steps,
                   const std::vector<std::string>& files) {
    if (files.empty())
        return 0;
    if (step <= 0 || steps.empty())
        return 0;
    if (step > static_cast<std::int64_t>(steps.size()))
        return files.size() - 1;
    const std::string& file = steps[static_cast<std::size_t>(step - 1)].file;
    for (std::size_t i = 0; i < files.size(); ++i)
        if (files[i] == file)
            return i;
    return 0;
}

// The number of the first step from `file` (1..), or 0 when it has none.
std::int64_t firstStepOf(const std::string& file, const std::vector<ScenarioStep>& steps) {
    for (std::size_t i = 0; i < steps.size(); ++i)
        if (steps[i].file == file)
            return static_cast<std::int64_t>(i + 1);
    return 0;
}

std::string caseName(const std::string& file) {
    std::string name = file.substr(file.find_last_of('/') + 1);
    std::size_t dot = name.rfind(".scenario");
    return dot == std::string::npos ? name : name.substr(0, dot);
}

} // namespace

std::string stepName(std::int64_t step, const std::vector<ScenarioStep>& steps) {
    if (step <= 0)
        return "the load (load_vesk_client_script)";
    if (step > static_cast<std::int64_t>(steps.size()))
        return "the delete";
    const ScenarioStep& s = steps[static_cast<std::size_t>(step - 1)];
    return "step " + std::to_string(step) + " (" + s.file + ":" + std::to_string(s.line) + ": " +
           s.verb + (s.rest.empty() ? "" : " " + s.rest) + ")";
}

void sendStepBegun(int fd, std::int64_t step) {
    send(fd, 'S', std::to_string(step));
}
void sendTranscriptLine(int fd, const std::string& line) {
    send(fd, 'L', line);
}

void RunRecorder::take(const char* bytes, std::size_t size) {
    pending_.append(bytes, size);
    for (;;) {
        if (pending_.size() < 9)
            return;
        std::uint64_t length = 0;
        std::memcpy(&length, pending_.data() + 1, 8);
        if (pending_.size() - 9 < length)
            return;
        std::string body = pending_.substr(9, length);
        if (pending_[0] == 'S')
            beginStep(std::strtoll(body.c_str(), nullptr, 10));
        else
            lines_.push_back({step_, body});
        pending_.erase(0, 9 + length);
    }
}

JUnitSuite RunRecorder::suite(const std::string& library, const std::vector<std::string>& files,
                              const std::vector<ScenarioStep>& steps, const ChildEnd& end,
                              int status, double seconds) const {
    JUnitSuite suite{"panel-host run " + library, seconds, {}};
    std::string className = "panel-host.run." + caseName(library);
    for (const std::string& file : files)
        suite.cases.push_back({caseName(file), className, 0, {}, {}, {}, "", ""});
    if (suite.cases.empty())
        return suite;
    for (const Line& line : lines_) {
        JUnitCase& c = suite.cases[fileOf(line.step, steps, files)];
        c.systemOut += line.text + "\n";
        bool failed = line.text.rfind("FAILED ", 0) == 0;
        bool breach = line.text.rfind("BREACH: ", 0) == 0;
        if ((failed || breach) && !c.failure) {
            c.failure = line.text;
            c.details = failed ? line.text : line.text + "\nin " + stepName(line.step, steps);
        }
    }
    if (status == cannotLoad || status == badInput) {
        for (JUnitCase& c : suite.cases)
            c.error = "the library could not be loaded: " + library;
        return suite;
    }
    if (end.kind == ChildEnd::finished) {
        // A failed step ends the run: files whose steps never began were not played.
        for (std::size_t i = 0; i < suite.cases.size(); ++i) {
            std::int64_t first = firstStepOf(files[i], steps);
            if (first > 0 && begun_.count(first) == 0)
                suite.cases[i].skipped = "not played: the run stopped before it";
        }
        return suite;
    }
    // The run stopped: the file it stopped in has the error, the ones after it were not played.
    std::size_t stopped = fileOf(end.step, steps, files);
    suite.cases[stopped].error =
        "the script " + end.describe() + " in " + stepName(end.step, steps);
    suite.cases[stopped].details = *suite.cases[stopped].error;
    for (std::size_t i = stopped + 1; i < suite.cases.size(); ++i)
        suite.cases[i].skipped = "not played: the run stopped in " + caseName(files[stopped]);
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
