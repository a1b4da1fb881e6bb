// The guards of a library built with -fsanitize-coverage=trace-pc-guard: the
// compiler's two callbacks live in the program (exported, so a library that
// carries guards binds to them as it loads), and this says which guards of a
// module have run since it was loaded. Called on the thread that calls the
// script; the books are plain arrays with no constructor.
#ifndef COVERAGE_GUARDS_H
#define COVERAGE_GUARDS_H

#include "script_route.h"

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

// The guards of the library at `path` and those that ran; nothing when it
// carries none (built without guards).
std::optional<CodeCoverage> guardCoverage(const std::string& path);

// The constants that code built with -fsanitize-coverage=trace-cmp compared
// against (and a switch's cases), in the order first seen, at most 256; the
// compiler's compare callbacks are exported beside the guards'.
std::vector<std::uint32_t> tracedCompares();

// From now on, also both operands of each traced compare, each pair once
// (until forgetTracedComparePairs), a few a compare site; those kept since it
// was called last by takeTracedComparePairs.
void startPairingTracedCompares();
std::vector<std::pair<std::int64_t, std::int64_t>> takeTracedComparePairs();
void forgetTracedComparePairs();

// How often each guard ran since the last startCountingGuardHits(), 255 at
// most: (guard number, count), for guards of every module in this process.
void startCountingGuardHits();
std::vector<std::pair<std::uint32_t, std::uint8_t>> guardHitCounts();

#endif
