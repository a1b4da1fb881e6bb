// Input-to-state replacement, as compare-guided fuzzers make it: where one
// operand of a comparison the script made in a step is a value that step
// sent (a whole field of the step, or the text a number was read from), the
// same step with the other operand in its place. For numbers also
// one more and one less (ordering tests); for a prefix test the prefix put
// before the original text, and alone. Computed where the session was played,
// from its steps and the comparisons its route saw.
#ifndef INPUT_TO_STATE_H
#define INPUT_TO_STATE_H

#include "script_route.h"

#include <cstddef>
#include <functional>
#include <string>
#include <vector>

struct Replacement {
    int step = 0;     // which step of the session (startup lines not counted)
    std::string line; // that step with an operand in place of its value
    // Where the operand put in ends in `line`: what comes before (the step up
    // to its value, and the operand) says what was tried, whatever follows.
    std::size_t tried = 0;
};

// Whether a replacement is worth playing (a step the panel can take, not
// tried before in the run): given the new step line and that line up to the
// end of the operand put in.
using WorthTrying = std::function<bool(const std::string& line, const std::string& tried)>;

// At most `limit` replacements worth trying, a few from each comparison,
// those of the first comparisons first, each step line once.
std::vector<Replacement> replacementsFor(const std::vector<std::string>& steps,
                                         const std::vector<Comparison>& comparisons,
                                         std::size_t limit, const WorthTrying& worthTrying = {});

#endif
