// Reads a whole text file, for the layout, studio and scenario readers.
#ifndef TEXT_FILE_H
#define TEXT_FILE_H

#include <cstddef>
#include <string>

// Scenario, studio and layout files are small; anything bigger is a mistake.
constexpr long long maxTextFileBytes = 16LL * 1024 * 1024;

// The longest text an input may have the host hand a script: a parameter
// message, a revertive's or a control event's text, a source or instrument
// name, a control's id. One number for every route: a native script takes
// any length, the DLL's runtime reads texts up to 1 MiB and its records sit
// in a few MiB, so a longer text is refused as bad input before anything is
// played, never left to end one route and not the other.
constexpr std::size_t maxScriptText = 64 * 1024;

// "... is N bytes long; a text the host hands a script is at most 65536 bytes"
std::string tooLongForScript(const std::string& what, std::size_t size);

// False, with the reason, when the file cannot be opened or read, is not a
// regular file (a directory, a FIFO, a device) or is larger than the limit.
bool readTextFile(const std::string& path, std::string& text, std::string& why);

// A whole decimal number in 32 bits: an optional sign and digits, nothing
// after them ("12x", "1e3", "0x7" and "13.9" are not numbers).
bool wholeNumber(const std::string& word, int& value);

// The text as a message may quote it: each control byte written as \xNN, so
// that a NUL or an escape in a file or a request is named, never hidden.
std::string visibleText(const std::string& text);

// Why a line from a file cannot be used whole, or nothing: a NUL would end
// the text at that byte wherever it is handed on as a C string.
std::string nulByteIn(const std::string& line);

// Where a file's line is, for messages: "FILE:N", or "line N" for a text that
// came from no file.
std::string fileLine(const std::string& file, int number);

// Calls take(number, begin, length) for each line of `text` that is neither
// blank nor a '#' comment, its content being text.substr(begin, length) with
// leading blanks left out; LF, CRLF and a lone CR each end a line. Stops at
// the first false and returns it. Nothing is copied, so a long file costs
// nothing more here.
template <class Take> bool forEachContentLineAt(const std::string& text, Take take) {
    size_t begin = 0;
    for (int number = 1; begin <= text.size(); ++number) {
        size_t end = text.find_first_of("\r\n", begin);
        size_t stop = end == std::string::npos ? text.size() : end;
        size_t next = end == std::string::npos ? text.size() + 1 : end + 1;
        if (end != std::string::npos && text[end] == '\r' && next < text.size() &&
            text[next] == '\n')
            ++next;
        size_t start = text.find_first_not_of(" \t", begin);
        if (start < stop && text[start] != '#' && !take(number, start, stop - start))
            return false;
        begin = next;
    }
    return true;
}

// The same, with each line given as a string: take(number, line).
template <class Take> bool forEachContentLine(const std::string& text, Take take) {
    return forEachContentLineAt(text, [&](int number, size_t begin, size_t length) {
        return take(number, text.substr(begin, length));
    });
}

#endif
