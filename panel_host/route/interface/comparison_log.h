// The comparisons a route saw in one session, bounded and each kept once: the
// routes fill it while validate asks for it, validate takes what is new after
// each step and forgets it all before each session. A comparison already satisfied (equal operands,
// a text that already has the prefix) teaches the search nothing and is not kept.
//
// Threads: owned by one route, used on the thread that runs the script.
#ifndef COMPARISON_LOG_H
#define COMPARISON_LOG_H

#include "script_route.h"

#include <cstddef>
#include <string>
#include <string_view>
#include <unordered_set>
#include <utility>
#include <vector>

class ComparisonLog {
  public:
    static constexpr std::size_t maxEntries = 384;

    bool on() const { return on_; }
    void start() { on_ = true; }
    bool full() const { return seen_.size() >= maxEntries; }

    void add(Comparison::Kind kind, std::string_view left, std::string_view right) {
        if (!on_ || full())
            return;
        left = left.substr(0, Comparison::maxOperand);
        right = right.substr(0, Comparison::maxOperand);
        if (kind != Comparison::conversion && satisfied(kind, left, right))
            return;
        std::string key;
        key.reserve(left.size() + right.size() + 3);
        key += static_cast<char>('0' + kind);
        key.append(left);
        key += '\0';
        key.append(right);
        if (seen_.insert(std::move(key)).second)
            entries_.push_back({kind, std::string(left), std::string(right)});
    }

    // What was logged since the last take, in the order first seen.
    std::vector<Comparison> take() { return std::exchange(entries_, {}); }
    void forget() {
        seen_.clear();
        entries_.clear();
    }

  private:
    static bool satisfied(Comparison::Kind kind, std::string_view left, std::string_view right) {
        if (kind == Comparison::prefix)
            return left.substr(0, right.size()) == right;
        return left == right;
    }

    bool on_ = false;
    std::vector<Comparison> entries_;
    std::unordered_set<std::string> seen_;
};

#endif
