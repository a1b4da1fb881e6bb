#include "session_shrinker.h"

#include "step_text.h"

#include <algorithm>

namespace {

using Lines = std::vector<std::string>;

bool isStartup(const std::string& line) {
    return line.rfind("startup ", 0) == 0;
}

// Simpler forms of a step, simplest first.
Lines simplerForms(const std::string& step) {
    auto firstWords = [&](int count) {
        size_t at = 0;
        for (int i = 0; i < count && at != std::string::npos; ++i)
            at = step.find(' ', at + 1);
        return at == std::string::npos ? step : step.substr(0, at);
    };
    Lines forms;
    auto shorter = [&](const std::string& head) {
        if (step.size() > head.size() + 9)
            forms.push_back(step.substr(0, head.size() + 9));
    };
    if (step.rfind("revertive ", 0) == 0) {
        forms.push_back(firstWords(3) + " x");
        shorter(firstWords(3));
    } else if (step.rfind("event ", 0) == 0) {
        shorter(firstWords(3));
    } else if (step.rfind("param ", 0) == 0) {
        forms.push_back("param return");
        shorter("param");
    } else if (step.rfind("tick ", 0) == 0) {
        forms.push_back("tick");
    } else if (step.rfind("wait ", 0) == 0) {
        forms.push_back("wait 1000");
    }
    return forms;
}

class Shrinker {
  public:
    Shrinker(const std::function<bool(const Lines&)>& stillFails, const ShrinkLimits& limits)
        : stillFails_(stillFails), limits_(limits), start_(std::chrono::steady_clock::now()) {}

    Lines shrink(Lines lines) {
        Lines startup, steps;
        for (std::string& line : lines)
            (isStartup(line) ? startup : steps).push_back(std::move(line));
        dropChunks(startup, steps);
        dropStartup(startup, steps);
        foldTicks(startup, steps);
        simplify(startup, steps);
        shortenTexts(startup, steps);
        dropChunks(startup, steps); // simpler steps may make others unneeded
        foldTicks(startup, steps);  // and leave ticks side by side that were apart
        Lines out = startup;
        out.insert(out.end(), steps.begin(), steps.end());
        return out;
    }

    int tries() const { return tries_; }

  private:
    bool spent() const {
        auto now = std::chrono::steady_clock::now();
        return tries_ >= limits_.maxTries || now - start_ > limits_.maxTime ||
               now >= limits_.deadline;
    }

    bool fails(const Lines& startup, const Lines& steps) {
        if (spent())
            return false;
        ++tries_;
        Lines candidate = startup;
        candidate.insert(candidate.end(), steps.begin(), steps.end());
        return stillFails_(candidate);
    }

    void dropChunks(const Lines& startup, Lines& steps) {
        if (steps.empty())
            return;
        for (size_t chunk = std::max<size_t>(1, steps.size() / 2); chunk >= 1 && !spent();
             chunk /= 2) {
            for (size_t at = 0; at < steps.size() && !spent();) {
                Lines fewer = steps;
                fewer.erase(fewer.begin() + static_cast<long>(at),
                            fewer.begin() + static_cast<long>(std::min(at + chunk, fewer.size())));
                if (fails(startup, fewer))
                    steps = std::move(fewer);
                else
                    at += chunk;
            }
        }
    }

    void dropStartup(Lines& startup, const Lines& steps) {
        for (size_t at = 0; at < startup.size();) {
            // Strict checks stay: without them most failures are not seen at all.
            if (startup[at] == "startup strict") {
                ++at;
                continue;
            }
            Lines fewer = startup;
            fewer.erase(fewer.begin() + static_cast<long>(at));
            if (fails(fewer, steps))
                startup = std::move(fewer);
            else
                ++at;
        }
    }

    // A run of ticks of timer 1 becomes one `wait`, which lets every running
    // timer tick as it falls due: the shortest wait that still fails, tried
    // from a tenth of a second up.
    void foldTicks(const Lines& startup, Lines& steps) {
        static const int waits[] = {100, 250, 500, 1000, 2000, 3000, 5000, 10000, 30000, 60000};
        for (size_t at = 0; at < steps.size() && !spent(); ++at) {
            size_t end = at;
            while (end < steps.size() && (steps[end] == "tick" || steps[end] == "tick 1"))
                ++end;
            if (end - at < 2)
                continue;
            for (int wait : waits) {
                Lines folded(steps.begin(), steps.begin() + static_cast<long>(at));
                folded.push_back("wait " + std::to_string(wait));
                folded.insert(folded.end(), steps.begin() + static_cast<long>(end), steps.end());
                if (fails(startup, folded)) {
                    steps = std::move(folded);
                    break;
                }
            }
        }
    }

    // Each step's text cut to the shortest length that still fails, by halves.
    void shortenTexts(const Lines& startup, Lines& steps) {
        for (std::string& step : steps) {
            size_t start = textStart(step);
            if (start >= step.size())
                continue;
            const std::string whole = step;
            size_t shortest = step.size() - start, tried = 0;
            while (tried < shortest && !spent()) {
                size_t middle = tried + (shortest - tried) / 2;
                step = whole.substr(0, start + middle);
                if (fails(startup, steps))
                    shortest = middle;
                else
                    tried = middle + 1;
            }
            step = whole.substr(0, start + shortest);
        }
    }

    void simplify(const Lines& startup, Lines& steps) {
        for (std::string& step : steps)
            for (const std::string& form : simplerForms(step)) {
                std::string kept = step;
                step = form;
                if (fails(startup, steps))
                    break;
                step = kept;
            }
    }

    const std::function<bool(const Lines&)>& stillFails_;
    ShrinkLimits limits_;
    std::chrono::steady_clock::time_point start_;
    int tries_ = 0;
};

} // namespace

std::vector<std::string>
shrinkSession(std::vector<std::string> lines,
              const std::function<bool(const std::vector<std::string>&)>& stillFails,
              const ShrinkLimits& limits, int& tries) {
    Shrinker shrinker(stillFails, limits);
    Lines shrunk = shrinker.shrink(std::move(lines));
    tries = shrinker.tries();
    return shrunk;
}
