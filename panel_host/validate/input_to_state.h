// Input-to-state replacement, as compare-guided fuzzers make it: where one
// operand of a comparison the script made is a value that a step of the
// session sent (a whole field of the step, or the text a number was read
// from), the same step with the other operand in its place. For numbers also
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

// Whether a replacement was tried before in the run: given the line up to
// the end of the operand put in.
using TriedBefore = std::function<bool(const std::string& tried)>;

// At most `limit` replacements not tried before, a few from each comparison,
// those of the first comparisons first, each step line once.
std::vector<Replacement> replacementsFor(const std::vector<std::string>& steps,
                                         const std::vector<Comparison>& comparisons,
                                         std::size_t limit, const TriedBefore& triedBefore = {});

#endif
