// The guards of a library built with -fsanitize-coverage=trace-pc-guard: the
// compiler's two callbacks live in the program (exported, so a library that
// carries guards binds to them as it loads), and this says which guards of a
// module have run since it was loaded. Called on the thread that calls the
// script; the books are plain arrays with no constructor.
#ifndef COVERAGE_GUARDS_H
#define COVERAGE_GUARDS_H

#include "script_route.h"

#include <optional>
#include <string>

// The guards of the library at `path` and those that ran; nothing when it
// carries none (built without guards).
std::optional<CodeCoverage> guardCoverage(const std::string& path);

#endif
