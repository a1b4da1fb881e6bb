#include "line_coverage.h"

namespace {

// Stand-ins for libraries the platform provides: built beside the panel for
// tests, never the panel's code.
const char* const platformStandIns[] = {"include/", "vesk_string/", "win32_runtime/"};

} // namespace

std::uint64_t LineCoverage::lines() const {
    std::uint64_t total = 0;
    for (const auto& [file, lines] : files)
        total += lines.size();
    return total;
}

std::uint64_t LineCoverage::reachedLines() const {
    std::uint64_t reached = 0;
    for (const auto& [file, lines] : files)
        for (const auto& [line, hits] : lines)
            reached += hits > 0 ? 1 : 0;
    return reached;
}

bool isPanelSource(const std::string& file) {
    if (file.empty() || file[0] == '/' || file.find("..") != std::string::npos)
        return false;
    for (const char* standIn : platformStandIns)
        if (file.rfind(standIn, 0) == 0)
            return false;
    return true;
}

bool addModuleLines(LineCoverage& coverage, SymbolizerProcess& symbolizer,
                    const std::string& module, const std::string& path,
                    const std::vector<std::uint32_t>& units, const std::vector<bool>& ran) {
    std::vector<SymbolizerProcess::Query> queries;
    queries.reserve(units.size());
    for (std::uint32_t address : units)
        queries.push_back({&path, address});
    std::optional<std::vector<SymbolizerProcess::Frames>> answers = symbolizer.lookup(queries);
    if (!answers)
        return false;
    bool contributed = false;
    for (std::size_t i = 0; i < units.size(); ++i) {
        const SymbolizerProcess::Frames& frames = (*answers)[i];
        if (frames.empty() || frames.front().line == 0 || !isPanelSource(frames.front().file))
            continue;
        contributed = true;
        std::uint64_t& hits = coverage.files[frames.front().file][frames.front().line];
        if (i < ran.size() && ran[i])
            ++hits;
    }
    if (contributed)
        coverage.modules.push_back(module);
    return true;
}

std::string lcovTracefile(const LineCoverage& coverage, const std::string& testName) {
    std::string text;
    for (const auto& [file, lines] : coverage.files) {
        text += "TN:" + testName + "\nSF:" + file + "\n";
        std::uint64_t reached = 0;
        for (const auto& [line, hits] : lines) {
            text += "DA:" + std::to_string(line) + "," + std::to_string(hits) + "\n";
            reached += hits > 0 ? 1 : 0;
        }
        text += "LF:" + std::to_string(lines.size()) + "\nLH:" + std::to_string(reached) +
                "\nend_of_record\n";
    }
    return text;
}
