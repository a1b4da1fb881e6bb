// Session outcomes as bytes, to cross from a child process to its parent:
// length-prefixed frames of length-prefixed fields, so any bytes a script
// sent survive, and a frame that does not parse is refused, not trusted.
#ifndef OUTCOME_FRAMES_H
#define OUTCOME_FRAMES_H

#include "session_runner.h"

#include <cstddef>
#include <string>
#include <vector>

// One outcome as a frame: its length (8 bytes), then its fields. The code
// reached only grows while a library stays loaded, so an outcome whose
// coverage is the same as `previous`'s (the one before it in the same
// stream) says so instead of repeating it.
std::string encodeOutcome(const SessionOutcome& outcome, const SessionOutcome* previous = nullptr);
// The fields of one frame (without its length); false when they do not
// parse, or name a previous coverage that `previous` does not have.
bool decodeOutcome(const std::string& bytes, SessionOutcome& outcome,
                   const SessionOutcome* previous = nullptr);

// Any bytes as one frame: their length (8 bytes), then them.
std::string frameOf(const std::string& body);

// The body of the whole frame at `at` (its 8-byte length, then the body),
// moving `at` past it; false when no whole frame is there yet.
bool takeFrame(const std::string& bytes, std::size_t& at, std::string& body);

// Counts (0 to 2^31 - 1) as one frame's body, 4 bytes each; decoding refuses
// a body of another size or a count out of range.
std::string encodeCounts(const std::vector<int>& counts);
bool decodeCounts(const std::string& body, std::vector<int>& counts);

// A list of outcomes: its count, then a frame each; decoding starts at `at`
// and leaves it past the list.
std::string encodeOutcomes(const std::vector<SessionOutcome>& outcomes);
bool decodeOutcomes(const std::string& bytes, std::size_t& at, std::vector<SessionOutcome>& out);

#endif
