// What a session showed of the script's behaviour, as numbers a search can
// compare: the script's answer to each step (the commands it sent, in order,
// normalised so that a label's text counts by its shape, not its letters),
// each answer beside the one before, and the script's code blocks reached
// where the route sees them. Plus the words the script sent, for the
// search's dictionary.
#ifndef SESSION_FEATURES_H
#define SESSION_FEATURES_H

#include "input_to_state.h"
#include "session_runner.h"

#include <cstdint>
#include <string>
#include <vector>

struct SessionFeatures {
    std::vector<std::uint64_t> responses; // a step's kind with the script's answer
    std::vector<std::uint64_t> blocks;    // code blocks reached (emulated route)
    std::vector<std::string> sentWords;   // quoted values the script sent and numbers it compared
    std::vector<int> responseSteps;       // the step each response came from (-1: the session)
    std::vector<Replacement>
        replacements; // a step's value swapped for what the script compared it with
};

// A session's replacements are at most this many.
constexpr std::size_t maxReplacements = 64;

// `worthTrying`: which replacements to make (all when empty).
SessionFeatures sessionFeatures(const std::vector<std::string>& lines,
                                const SessionOutcome& outcome, const WorthTrying& worthTrying = {});

// A command as the search compares it: quoted values reduced to their shape
// (empty, letters, digits, other, bytes beyond ASCII, a length class), runs
// of digits elsewhere to one '#'.
std::string normalisedCommand(const std::string& command);

std::string encodeFeatures(const std::vector<SessionFeatures>& sessions);
bool decodeFeatures(const std::string& text, std::vector<SessionFeatures>& sessions);

#endif
