#include "host_command.h"

#include <climits>
#include <cstdlib>

namespace {

bool parseInteger(const std::string& token, int& out) {
    size_t digits = token.size() > 0 && token[0] == '-' ? 1 : 0;
    if (token.size() == digits)
        return false;
    if (token[digits] == '0' && token.size() > digits + 1)
        return false; // no leading zeros
    for (size_t i = digits; i < token.size(); ++i)
        if (token[i] < '0' || token[i] > '9')
            return false;
    if (token.size() > 11)
        return false;
    long long value = std::strtoll(token.c_str(), nullptr, 10);
    if (value < INT_MIN || value > INT_MAX || token == "-0")
        return false;
    out = static_cast<int>(value);
    return true;
}

std::vector<std::string> splitOn(const std::string& text, const std::string& separator) {
    std::vector<std::string> pieces;
    size_t start = 0;
    for (size_t at; (at = text.find(separator, start)) != std::string::npos;) {
        pieces.push_back(text.substr(start, at - start));
        start = at + separator.size();
    }
    pieces.push_back(text.substr(start));
    return pieces;
}

// Exactly `count` quoted fields, of which the first is free text: fields
// carry no escaping, so the others (which hold no quote) are taken from the
// right, and the first keeps whatever is left, quotes and all.
bool parseFreeFirst(const std::string& inner, size_t count, std::vector<std::string>& fields) {
    std::vector<std::string> taken(count);
    size_t end = inner.size();
    for (size_t i = count - 1; i > 0; --i) {
        size_t at = end >= 3 ? inner.rfind("' '", end - 3) : std::string::npos;
        if (at == std::string::npos)
            return false;
        taken[i] = inner.substr(at + 3, end - at - 3);
        if (taken[i].find('\'') != std::string::npos)
            return false;
        end = at;
    }
    taken[0] = inner.substr(0, end);
    fields = taken;
    return true;
}

// Quoted fields separated by single spaces: 'a' 'b' 'c'.
bool parseQuoted(const std::string& rest, size_t least, size_t most, bool freeFirst,
                 std::vector<std::string>& fields) {
    if (rest.size() < 2 || rest.front() != '\'' || rest.back() != '\'')
        return false;
    std::string inner = rest.substr(1, rest.size() - 2);
    if (freeFirst && least == most)
        return parseFreeFirst(inner, most, fields);
    std::vector<std::string> pieces = splitOn(inner, "' '");
    if (pieces.size() < least || pieces.size() > most)
        return false;
    for (const std::string& piece : pieces)
        if (piece.find('\'') != std::string::npos)
            return false;
    fields = pieces;
    return true;
}

bool parseNumbers(const std::string& rest, size_t count, std::vector<int>& numbers) {
    std::vector<std::string> tokens = splitOn(rest, " ");
    if (tokens.size() != count)
        return false;
    for (const std::string& token : tokens) {
        int value = 0;
        if (!parseInteger(token, value))
            return false;
        numbers.push_back(value);
    }
    return true;
}

bool parseCrosspoint(const std::string& rest, HostCommand& command) {
    // d s d ',extra' f
    std::vector<std::string> tokens = splitOn(rest, " ");
    if (tokens.size() < 5)
        return false;
    std::string flag = tokens.back();
    std::string extra = rest.substr(0, rest.size() - flag.size() - 1);
    std::vector<std::string> head(tokens.begin(), tokens.begin() + 3);
    for (const std::string& t : head)
        extra = extra.substr(t.size() + 1);
    if (extra.size() < 3 || extra.compare(0, 2, "',") != 0 || extra.back() != '\'')
        return false;
    for (const std::string& t : head) {
        int value = 0;
        if (!parseInteger(t, value))
            return false;
        command.numbers.push_back(value);
    }
    if (flag != "0" && flag != "1")
        return false;
    command.texts.push_back(extra.substr(2, extra.size() - 3));
    command.numbers.push_back(flag == "1" ? 1 : 0);
    return true;
}

bool parseBody(const std::string& keyword, const std::string& rest, HostCommand& command) {
    if (keyword == "PS")
        return parseQuoted(rest, 2, 3, false, command.texts);
    if (keyword == "TP")
        return parseQuoted(rest, 3, 3, true, command.texts);
    if (keyword == "TG")
        return parseQuoted(rest, 3, 3, false, command.texts);
    if (keyword == "CE" || keyword == "CD" || keyword == "XI")
        return parseQuoted(rest, 2, 2, false, command.texts);
    if (keyword == "SD")
        return parseQuoted(rest, 1, 1, true, command.texts);
    if (keyword == "RC")
        return parseCrosspoint(rest, command);
    if (keyword == "RR") {
        const std::string add = " 'ADD'";
        if (rest.size() > add.size() &&
            rest.compare(rest.size() - add.size(), add.size(), add) == 0) {
            command.add = true;
            return parseNumbers(rest.substr(0, rest.size() - add.size()), 3, command.numbers);
        }
        return parseNumbers(rest, 3, command.numbers);
    }
    if (keyword == "RP")
        return parseNumbers(rest, 3, command.numbers);
    if (keyword == "RU")
        return parseNumbers(rest, 1, command.numbers);
    if (keyword == "ET")
        return parseNumbers(rest, 1, command.numbers) ||
               (command.numbers.clear(), parseNumbers(rest, 2, command.numbers));
    return false;
}

} // namespace

std::optional<HostCommand> parseHostCommand(const std::string& text, std::string& why) {
    if (text == "AS")
        return HostCommand{"AS", {}, {}, false};
    if (text.size() < 4 || text[2] != ' ') {
        why = "no keyword and fields";
        return std::nullopt;
    }
    HostCommand command;
    command.keyword = text.substr(0, 2);
    static const char* const known[] = {"PS", "TP", "TG", "CE", "CD", "SD",
                                        "XI", "RC", "RR", "RP", "RU", "ET"};
    bool isKnown = false;
    for (const char* k : known)
        isKnown = isKnown || command.keyword == k;
    if (!isKnown) {
        why = "unknown keyword " + command.keyword;
        return std::nullopt;
    }
    if (!parseBody(command.keyword, text.substr(3), command)) {
        why = "fields do not fit " + command.keyword;
        return std::nullopt;
    }
    return command;
}
