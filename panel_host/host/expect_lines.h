// The `expect` lines that hold what a script sent in one step, for scenarios
// written by panel-host itself (validate's shrunk failures, recordings).
#ifndef EXPECT_LINES_H
#define EXPECT_LINES_H

#include <optional>
#include <string>
#include <vector>

// One `expect COMMAND` line a command (as the transcript shows it), then
// `expect nothing`; for a parameter step also its reply. A command no expect
// line can hold (several lines, or a word `expect` gives a meaning) ends the
// list with a comment instead.
std::string expectLines(const std::vector<std::string>& commands, bool parameter,
                        const std::optional<std::string>& reply);

#endif
