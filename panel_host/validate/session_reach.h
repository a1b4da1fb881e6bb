// What validate's sessions reached of a panel: how many steps of each kind
// were played, and which of the panel's controls received an event.
#ifndef SESSION_REACH_H
#define SESSION_REACH_H

#include "line_coverage.h"
#include "panel_layout.h"
#include "session_runner.h"

#include <cstdint>
#include <map>
#include <memory>
#include <optional>
#include <set>
#include <string>
#include <vector>

// How much of one module's code the sessions ran.
struct ModuleReach {
    std::string module;
    std::uint64_t codeBytes = 0;    // executable bytes
    std::uint64_t reachedBytes = 0; // of them, in blocks that ran
    std::size_t blocks = 0;
    std::vector<CodeRange> neverReached; // the largest runs of code no block covered
};

// More steps than any run can play (10,000,000 sessions of 100,000 steps): a
// count read from a report past this is refused, so sums of parts never wrap.
constexpr long long maxStepsInARun = 10000000LL * 100000LL;

struct SessionReach {
    std::map<std::string, long long> stepKinds; // verb -> steps played
    std::set<std::string> controls;             // ids of the panel's controls that got an event
    std::set<std::string> parameterKeys;        // keys of the parameter messages sent (bounded)
    std::set<std::string> answeredKeys;         // of them, those the script replied to with a text
    // The script's code, where the route sees it: module -> (offset, size).
    std::map<std::string, std::set<std::pair<std::uint32_t, std::uint32_t>>> code, blocks;
    std::map<std::pair<std::string, std::uint32_t>, std::string>
        exports;                                 // (module, offset) -> name
    std::map<std::string, SymbolSource> symbols; // module -> where its source lines are read
    std::set<std::string> referenceModules;      // modules of the --compare library
    // The coverage add() took last: sessions of one child share it, and
    // taking it again would change nothing.
    std::shared_ptr<const CodeCoverage> lastCoverage;

    // Per module, what ran of its code, with its `gaps` largest unreached runs.
    std::vector<ModuleReach> modules(std::size_t gaps = 5) const;
    // The panel's source lines and those reached, over every module of the
    // library (or of the reference) whose lines can be read; nothing when none
    // can (no symbols, no symbolizer).
    std::optional<LineCoverage> sourceLines(SymbolizerProcess& symbolizer,
                                            bool reference = false) const;

    // Counts the steps of `lines` that `outcome` played (all of them, or up to
    // and with the failing one).
    void add(const std::vector<std::string>& lines, const SessionOutcome& outcome,
             const PanelLayout& layout);
    void merge(const SessionReach& other);
    // The code the reference library (--compare) ran in the same session, kept
    // apart by module; a module the library itself has is left to it.
    void addReferenceCode(const SessionOutcome& outcome);

    // As text, one "k VERB COUNT" or "c ID" line each; false for text that is not.
    std::string encode() const;
    bool decode(const std::string& text);

  private:
    bool decodeSymbolSource(const std::string& line);
};

#endif
