// Reads a whole text file, for the layout, studio and scenario readers.
#ifndef TEXT_FILE_H
#define TEXT_FILE_H

#include <string>

// Scenario, studio and layout files are small; anything bigger is a mistake.
constexpr long long maxTextFileBytes = 16LL * 1024 * 1024;

// False, with the reason, when the file cannot be opened or read, is not a
// regular file (a directory, a FIFO, a device) or is larger than the limit.
bool readTextFile(const std::string& path, std::string& text, std::string& why);

// Calls take(number, line) for each line that is neither blank nor a '#'
// comment, with leading blanks and a trailing CR removed; stops at the first
// false and returns it.
template <class Take> bool forEachContentLine(const std::string& text, Take take) {
    size_t begin = 0;
    for (int number = 1; begin <= text.size(); ++number) {
        size_t end = text.find('\n', begin);
        std::string line =
            text.substr(begin, end == std::string::npos ? std::string::npos : end - begin);
        begin = end == std::string::npos ? text.size() + 1 : end + 1;
        if (!line.empty() && line.back() == '\r')
            line.pop_back();
        size_t start = line.find_first_not_of(" \t");
        if (start == std::string::npos || line[start] == '#')
            continue;
        if (!take(number, line.substr(start)))
            return false;
    }
    return true;
}

#endif
