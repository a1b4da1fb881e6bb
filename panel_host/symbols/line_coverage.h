// Code reached, by source line: each unit of a module's code (a byte of a
// DLL, a guard's block in a native library) is given the innermost source
// line at its address, and a line counts as reached when any of its units
// ran. Only the panel's own sources count: files named relative to the
// source tree, less the stand-ins for the platform's libraries.
#ifndef LINE_COVERAGE_H
#define LINE_COVERAGE_H

#include "symbolizer_process.h"

#include <cstdint>
#include <map>
#include <string>
#include <utility>
#include <vector>

struct LineCoverage {
    // file -> line -> how many of its units ran (0: never reached)
    std::map<std::string, std::map<std::uint32_t, std::uint64_t>> files;
    std::vector<std::string> modules; // whose lines are here, e.g. "PELDAN.dll"

    std::uint64_t lines() const;
    std::uint64_t reachedLines() const;
};

// Whether a source file is the panel's own (see above).
bool isPanelSource(const std::string& file);

// Adds one module's units: units[i] is the address of unit i in the file at
// `path` and ran[i] whether it ran; the module is named in `modules` when any
// of its lines is the panel's. False, with nothing added, when the symbolizer
// gave no answers.
bool addModuleLines(LineCoverage& coverage, SymbolizerProcess& symbolizer,
                    const std::string& module, const std::string& path,
                    const std::vector<std::uint32_t>& units, const std::vector<bool>& ran);

// The lines as an lcov tracefile (TN, SF, DA, LF, LH, end_of_record), for genhtml.
std::string lcovTracefile(const LineCoverage& coverage, const std::string& testName);

#endif
