// The text a step hands the script, where the search grows it and the
// shrinker cuts it: a parameter message, a revertive's text, the value of a
// control event's message.
#ifndef STEP_TEXT_H
#define STEP_TEXT_H

#include <cstddef>
#include <string>

// Where the step's text begins (it runs to the end of the line); npos for a
// step without one.
std::size_t textStart(const std::string& step);

#endif
