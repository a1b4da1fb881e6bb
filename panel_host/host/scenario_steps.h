// The steps of a run's scenario files, kept as the files' own text and one
// small record a step: a scenario of millions of steps costs little more than
// its bytes, and each step is parsed anew when it is played. Every line is
// checked as the file is added, so a bad one is refused before anything runs.
#ifndef SCENARIO_STEPS_H
#define SCENARIO_STEPS_H

#include "scenario.h"

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

class ScenarioSteps {
  public:
    // Adds the steps of the file at `path`; false with "scenario: ..." or "file:line: why".
    bool read(const std::string& path, std::string& error);
    // Adds the steps of `text`, named `file` in messages.
    bool add(const std::string& file, std::string text, std::string& error);

    std::size_t size() const { return places_.size(); }
    bool empty() const { return places_.empty(); }
    // Step `index` (0..size-1), parsed from its line.
    ScenarioStep at(std::size_t index) const;
    // Which of the added files step `index` came from (0..).
    std::size_t fileOf(std::size_t index) const { return places_[index].file; }
    const std::string& fileName(std::size_t file) const { return names_[file]; }
    std::size_t fileCount() const { return names_.size(); }
    // Whether step `index` is a `startup` step, without parsing it.
    bool isStartup(std::size_t index) const;
    // The first step of file `file`, if it has any; else size().
    std::size_t firstOf(std::size_t file) const;

  private:
    struct Place {
        std::uint32_t file;
        std::uint32_t line;
        std::uint32_t begin; // in the file's text
        std::uint32_t length;
    };
    std::vector<std::string> names_;
    std::vector<std::string> texts_;
    std::vector<Place> places_;
};

// Reads the `startup` steps, which must all come before the first other step.
struct HostStartup;
bool gatherStartup(const ScenarioSteps& steps, HostStartup& startup, std::string& error);

#endif
