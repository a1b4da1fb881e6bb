// An invariant of a fuzz target: a violation names its line and stops the run.
#ifndef FUZZ_REQUIRE_H
#define FUZZ_REQUIRE_H

#include <cstdio>
#include <cstdlib>

#define require(condition)                                                                     \
    do {                                                                                       \
        if (!(condition)) {                                                                    \
            std::fprintf(stderr, "invariant broken at %s:%d: %s\n", __FILE__, __LINE__,       \
                         #condition);                                                          \
            std::abort();                                                                      \
        }                                                                                      \
    } while (0)

#endif
