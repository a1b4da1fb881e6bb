#include "validate_report.h"

#include <algorithm>
#include <cstdint>
#include <limits>
#include <set>
#include <type_traits>

using nlohmann::json;

namespace {

std::vector<std::string> linesOf(const std::string& text) {
    std::vector<std::string> lines;
    for (std::size_t at = 0; at < text.size();) {
        std::size_t end = text.find('\n', at);
        lines.push_back(text.substr(at, end - at));
        at = end == std::string::npos ? text.size() : end + 1;
    }
    return lines;
}

json codeCoverageJson(const SessionReach& reach) {
    json modules = json::array();
    for (const ModuleReach& m : reach.modules()) {
        json gaps = json::array();
        for (const CodeRange& gap : m.neverReached)
            gaps.push_back({{"offset", gap.offset}, {"size", gap.size}});
        modules.push_back({{"module", m.module},
                           {"executableBytes", m.codeBytes},
                           {"reachedBytes", m.reachedBytes},
                           {"blocks", m.blocks},
                           {"neverReached", gaps}});
    }
    return modules;
}

// null where no symbols were read.
json sourceLinesJson(const std::optional<LineCoverage>& lines) {
    if (!lines)
        return nullptr;
    return {{"modules", lines->modules},
            {"lines", lines->lines()},
            {"reached", lines->reachedLines()},
            {"files", lines->files.size()}};
}

} // namespace

json reportJson(const ValidateReport& r) {
    json failures = json::array();
    for (const ReportedFailure& f : r.failures)
        failures.push_back({{"session", f.session},
                            {"step", f.step},
                            {"kind", f.kind},
                            {"message", f.message},
                            {"scenario", f.scenario},
                            {"shrunkSteps", f.shrunkSteps},
                            {"shrunkStep", f.shrunkStep}});
    double rate = r.seconds > 0 ? static_cast<double>(r.steps) / r.seconds : 0;
    return {{"library", r.library},
            {"compare", r.compare},
            {"seed", r.seed},
            {"level", r.level},
            {"stepsPerSession", r.stepsPerSession},
            {"sessions", r.endSession - r.firstSession},
            {"totalSessions", r.totalSessions},
            {"shard",
             {{"index", r.shardIndex},
              {"count", r.shardCount},
              {"firstSession", r.firstSession},
              {"endSession", r.endSession}}},
            {"steps", r.steps},
            {"seconds", r.seconds},
            {"stepsPerSecond", rate},
            {"failures", failures},
            {"panelLayout", r.panelLayout},
            {"panelControls", r.panelControls},
            {"controlsExercised", r.reach.controls.size()},
            {"exercisedControls", r.reach.controls},
            {"stepKinds", r.reach.stepKinds},
            {"parameterKeys", r.reach.parameterKeys},
            {"answeredParameterKeys", r.reach.answeredKeys},
            {"search",
             {{"mode", r.search.empty() ? std::string("blind") : r.search},
              {"behaviours", r.behaviours},
              {"corpus", r.corpus},
              {"mutated", r.mutated},
              {"dictionary", r.dictionary},
              {"replacements", r.replacements},
              {"replacementsKept", r.replacementsKept},
              {"outOfTime", r.outOfTime}}},
            {"codeCoverage", codeCoverageJson(r.reach)},
            {"sourceLines", sourceLinesJson(r.sourceLines)},
            {"referenceSourceLines", sourceLinesJson(r.referenceSourceLines)},
            {"reach", linesOf(r.reach.encode())}};
}

namespace {

// Whether a JSON value holds a T as it is, with no conversion that could
// wrap or be undefined (1e300 into an int, 2^64 - 1 into a long long).
template <class T> bool holds(const json& v) {
    if constexpr (std::is_same_v<T, bool>) {
        return v.is_boolean();
    } else if constexpr (std::is_integral_v<T>) {
        if (v.is_number_unsigned())
            return v.get<std::uint64_t>() <=
                   static_cast<std::uint64_t>(std::numeric_limits<T>::max());
        if (!v.is_number_integer())
            return false;
        long long x = v.get<long long>();
        return x >= static_cast<long long>(std::numeric_limits<T>::min()) &&
               x <= static_cast<long long>(std::numeric_limits<T>::max());
    } else if constexpr (std::is_floating_point_v<T>) {
        return v.is_number();
    } else {
        return true;
    }
}

template <class T> bool field(const json& j, const char* name, T& out, std::string& why) {
    auto found = j.find(name);
    if (found == j.end()) {
        why = std::string("no \"") + name + "\"";
        return false;
    }
    if (!holds<T>(*found)) {
        why = std::string("\"") + name + "\" is not of the right kind";
        return false;
    }
    try {
        out = found->get<T>();
        return true;
    } catch (const json::exception&) {
        why = std::string("\"") + name + "\" is not of the right kind";
        return false;
    }
}

bool readFailure(const json& j, ReportedFailure& f, std::string& why) {
    return j.is_object() && field(j, "session", f.session, why) && field(j, "step", f.step, why) &&
           field(j, "kind", f.kind, why) && field(j, "message", f.message, why) &&
           field(j, "scenario", f.scenario, why) && field(j, "shrunkSteps", f.shrunkSteps, why) &&
           field(j, "shrunkStep", f.shrunkStep, why);
}

bool sameRun(const ValidateReport& a, const ValidateReport& b) {
    return a.library == b.library && a.compare == b.compare && a.seed == b.seed &&
           a.level == b.level && a.stepsPerSession == b.stepsPerSession &&
           a.totalSessions == b.totalSessions && a.shardCount == b.shardCount &&
           a.panelLayout == b.panelLayout && a.panelControls == b.panelControls &&
           a.search == b.search;
}

// The search's figures; a report without them (from before the search) was blind.
bool readSearch(const json& j, ValidateReport& r, std::string& why) {
    auto found = j.find("search");
    r.search = "blind";
    if (found == j.end())
        return true;
    const json& s = *found;
    if (!s.is_object() || !field(s, "mode", r.search, why) ||
        !field(s, "behaviours", r.behaviours, why) || !field(s, "corpus", r.corpus, why) ||
        !field(s, "mutated", r.mutated, why) || !field(s, "dictionary", r.dictionary, why) ||
        !field(s, "outOfTime", r.outOfTime, why)) {
        why = "\"search\": " + (why.empty() ? std::string("not an object") : why);
        return false;
    }
    // Reports from before input-to-state replacement have none.
    if (s.contains("replacements") && (!field(s, "replacements", r.replacements, why) ||
                                       !field(s, "replacementsKept", r.replacementsKept, why))) {
        why = "\"search\": " + why;
        return false;
    }
    return true;
}

} // namespace

bool readReport(const json& j, ValidateReport& r, std::string& why) {
    if (!j.is_object()) {
        why = "not a JSON object";
        return false;
    }
    json shard;
    json failures;
    json reach;
    if (!field(j, "library", r.library, why) || !field(j, "compare", r.compare, why) ||
        !field(j, "seed", r.seed, why) || !field(j, "level", r.level, why) ||
        !field(j, "stepsPerSession", r.stepsPerSession, why) ||
        !field(j, "totalSessions", r.totalSessions, why) || !field(j, "shard", shard, why) ||
        !field(j, "steps", r.steps, why) || !field(j, "seconds", r.seconds, why) ||
        !field(j, "failures", failures, why) || !field(j, "panelLayout", r.panelLayout, why) ||
        !field(j, "panelControls", r.panelControls, why) || !field(j, "reach", reach, why))
        return false;
    if (!readSearch(j, r, why))
        return false;
    for (long long count : {r.steps, r.behaviours, r.corpus, r.mutated, r.dictionary,
                            r.replacements, r.replacementsKept})
        if (count < 0 || count > maxStepsInARun) {
            why = "a count (" + std::to_string(count) + ") no run can reach";
            return false;
        }
    std::string reachText;
    for (const json& line : reach) {
        if (!line.is_string()) {
            why = "\"reach\" holds something other than texts";
            return false;
        }
        reachText += line.get<std::string>() + "\n";
    }
    r.reach = SessionReach{};
    if (!r.reach.decode(reachText)) {
        why = "\"reach\" does not read";
        return false;
    }
    if (!shard.is_object() || !field(shard, "index", r.shardIndex, why) ||
        !field(shard, "count", r.shardCount, why) ||
        !field(shard, "firstSession", r.firstSession, why) ||
        !field(shard, "endSession", r.endSession, why)) {
        why = "\"shard\": " + (why.empty() ? std::string("not an object") : why);
        return false;
    }
    if (!failures.is_array()) {
        why = "\"failures\" is not a list";
        return false;
    }
    r.failures.clear();
    for (const json& f : failures) {
        ReportedFailure failure;
        if (!readFailure(f, failure, why)) {
            why = "a failure: " + (why.empty() ? std::string("not an object") : why);
            return false;
        }
        r.failures.push_back(failure);
    }
    return true;
}

bool mergeReports(std::vector<ValidateReport> parts, ValidateReport& whole, std::string& why) {
    if (parts.empty()) {
        why = "no reports to merge";
        return false;
    }
    std::sort(parts.begin(), parts.end(), [](const ValidateReport& a, const ValidateReport& b) {
        return a.shardIndex < b.shardIndex;
    });
    const ValidateReport& first = parts.front();
    if (static_cast<int>(parts.size()) != first.shardCount) {
        why = std::to_string(parts.size()) + " reports for a run in " +
              std::to_string(first.shardCount) + " shards";
        return false;
    }
    whole = first;
    whole.failures.clear();
    whole.steps = 0;
    SessionReach reach;
    whole.seconds = 0;
    int expectedStart = 0;
    for (size_t i = 0; i < parts.size(); ++i) {
        const ValidateReport& part = parts[i];
        if (!sameRun(first, part)) {
            why = "shard " + std::to_string(part.shardIndex) + " is of another run (library, " +
                  "seed, level, steps or sessions differ)";
            return false;
        }
        if (part.shardIndex != static_cast<int>(i) + 1 || part.firstSession != expectedStart ||
            part.endSession < part.firstSession) {
            why = "shard " + std::to_string(i + 1) + " is missing, repeated or out of place";
            return false;
        }
        expectedStart = part.endSession;
        whole.steps += part.steps;
        whole.seconds = std::max(whole.seconds, part.seconds); // the parts ran side by side
        whole.failures.insert(whole.failures.end(), part.failures.begin(), part.failures.end());
        reach.merge(part.reach);
        if (i > 0) { // each part searched on its own: its figures add up
            whole.behaviours += part.behaviours;
            whole.corpus += part.corpus;
            whole.mutated += part.mutated;
            whole.replacements += part.replacements;
            whole.replacementsKept += part.replacementsKept;
            whole.dictionary = std::max(whole.dictionary, part.dictionary);
            whole.outOfTime = whole.outOfTime || part.outOfTime;
        }
    }
    if (expectedStart != first.totalSessions) {
        why = "the shards cover " + std::to_string(expectedStart) + " of " +
              std::to_string(first.totalSessions) + " sessions";
        return false;
    }
    std::stable_sort(
        whole.failures.begin(), whole.failures.end(),
        [](const ReportedFailure& a, const ReportedFailure& b) { return a.session < b.session; });
    whole.reach = reach;
    whole.shardIndex = whole.shardCount = 1;
    whole.firstSession = 0;
    whole.endSession = first.totalSessions;
    return true;
}
