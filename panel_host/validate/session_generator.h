// Sessions for `panel-host validate`: start-up variations and a run of steps
// drawn from a panel's layout, written as scenario lines so that any session
// can be replayed, shrunk and saved as it is. The same seed, session number,
// length and level give the same lines on every machine.
#ifndef SESSION_GENERATOR_H
#define SESSION_GENERATOR_H

#include "panel_layout.h"

#include <cstdint>
#include <string>
#include <vector>

// splitmix64: small, fast, and the same everywhere (no library distributions).
class SessionRandom {
  public:
    explicit SessionRandom(std::uint64_t seed) : state_(seed) {}
    std::uint64_t next();
    // Uniform in [0, bound); bound > 0.
    std::uint32_t below(std::uint32_t bound);
    bool chance(std::uint32_t percent) { return below(100) < percent; }
    template <class T> const T& pick(const std::vector<T>& from) {
        return from[below(static_cast<std::uint32_t>(from.size()))];
    }

  private:
    std::uint64_t state_;
};

struct SessionPlan {
    std::uint64_t seed = 1;
    int session = 0;
    int steps = 100;
    int level = 1; // 1 to 5: longer texts, more ticks, stranger bytes
};

struct GeneratedSession {
    std::vector<std::string> startup; // `startup ...` lines
    std::vector<std::string> steps;   // one scenario line each
};

// Draws a session for a panel with this layout (its controls and items) and
// the audio router device the studio answers for.
GeneratedSession generateSession(const SessionPlan& plan, const PanelLayout& layout,
                                 int audioRouterDevice);

#endif
