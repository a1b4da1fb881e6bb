// A command text from a script, taken apart as a strict host reads it.
#ifndef HOST_COMMAND_H
#define HOST_COMMAND_H

#include <optional>
#include <string>
#include <vector>

struct HostCommand {
    std::string keyword;            // "PS", "TP", ...
    std::vector<std::string> texts; // the quoted fields, in order ("RC": its extra text)
    std::vector<int> numbers;       // the integer fields, in order ("RC": the flag last)
    bool add = false;               // "RR" with 'ADD'
};

// Parses one command; on failure returns nothing and says why.
std::optional<HostCommand> parseHostCommand(const std::string& text, std::string& why);

#endif
