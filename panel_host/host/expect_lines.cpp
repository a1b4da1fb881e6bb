#include "expect_lines.h"

namespace {

// Whether `expect TEXT` would read back as this exact command: one line, and
// not one of the words `expect` itself gives a meaning.
bool expressible(const std::string& text) {
    if (text.empty() || text.find_first_of("\r\n") != std::string::npos)
        return false;
    std::string first = text.substr(0, text.find(' '));
    return first != "nothing" && first != "reply" && first != "control" && first != "crosspoint" &&
           text.front() != ' ' && text.front() != '\t';
}

} // namespace

std::string expectLines(const std::vector<std::string>& commands, bool parameter,
                        const std::optional<std::string>& reply) {
    std::string out;
    for (const std::string& command : commands) {
        if (!expressible(command))
            return out + "# (a command no expect line can hold)\n";
        out += "expect " + command + "\n";
    }
    out += "expect nothing\n";
    if (!parameter)
        return out;
    if (!reply)
        out += "expect reply none\n";
    else if (*reply != "none" && reply->find_first_of("\r\n") == std::string::npos)
        out += "expect reply " + *reply + "\n";
    return out;
}
