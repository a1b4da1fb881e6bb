// Shrinks a failing validate session: drops steps and start-up variations, and
// simplifies what is left, as long as it still fails the same way.
#ifndef SESSION_SHRINKER_H
#define SESSION_SHRINKER_H

#include <chrono>
#include <functional>
#include <string>
#include <vector>

struct ShrinkLimits {
    int maxTries = 600;
    std::chrono::seconds maxTime{60};
    // The run's own end, when it has one: no try starts after it.
    std::chrono::steady_clock::time_point deadline = std::chrono::steady_clock::time_point::max();
};

// `lines`: startup lines, then steps. `stillFails` runs a candidate.
std::vector<std::string>
shrinkSession(std::vector<std::string> lines,
              const std::function<bool(const std::vector<std::string>&)>& stillFails,
              const ShrinkLimits& limits, int& tries);

#endif
