// What a session's process sends its worker, and a worker its parent, on any
// bytes: an outcome frame (a native script runs in that process and could
// write anything) is read or refused, a comparison read back stays within its
// bounds; features are read or refused; and replacements made from any steps
// and comparisons name a step that exists and say truly where the operand
// put in ends.
#include "input_to_state.h"
#include "outcome_frames.h"
#include "session_features.h"

#include <cstdint>
#include <cstdlib>
#include <string>
#include <vector>

namespace {

// The input's lines: steps up to an empty line, then comparisons as
// "KIND STEP LEFT<tab>RIGHT".
void replaceFrom(const std::string& text) {
    std::vector<std::string> steps;
    std::vector<Comparison> comparisons;
    bool inSteps = true;
    std::size_t at = 0;
    while (at <= text.size() && steps.size() < 64 && comparisons.size() < 64) {
        std::size_t end = text.find('\n', at);
        std::string line = text.substr(at, end == std::string::npos ? std::string::npos : end - at);
        at = end == std::string::npos ? text.size() + 1 : end + 1;
        if (inSteps && line.empty()) {
            inSteps = false;
        } else if (inSteps) {
            steps.push_back(line);
        } else if (line.size() >= 4) {
            std::size_t tab = line.find('\t', 4);
            Comparison c;
            c.kind = static_cast<Comparison::Kind>((line[0] - '0') & 3);
            c.step = (line[2] & 7) - 1;
            c.left =
                line.substr(4, tab == std::string::npos ? 64 : std::min<std::size_t>(tab - 4, 64));
            c.right = tab == std::string::npos ? "" : line.substr(tab + 1, 64);
            comparisons.push_back(c);
        }
    }
    for (const Replacement& r : replacementsFor(steps, comparisons, 64))
        if (r.step < 0 || static_cast<std::size_t>(r.step) >= steps.size() ||
            r.tried > r.line.size() || r.line == steps[static_cast<std::size_t>(r.step)])
            std::abort();
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string bytes(reinterpret_cast<const char*>(data), size);
    SessionOutcome outcome;
    if (decodeOutcome(bytes, outcome))
        for (const Comparison& c : outcome.comparisons)
            if (c.left.size() > Comparison::maxOperand || c.right.size() > Comparison::maxOperand ||
                c.kind > Comparison::conversion || c.step < -1)
                std::abort();
    std::vector<SessionFeatures> features;
    if (decodeFeatures(bytes, features))
        for (const SessionFeatures& f : features)
            if (f.replacements.size() > maxReplacements)
                std::abort();
    replaceFrom(bytes);
    return 0;
}
