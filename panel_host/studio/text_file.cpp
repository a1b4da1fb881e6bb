#include "text_file.h"

#include <cstdint>
#include <cstdio>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

// Windows (the MinGW build under Wine) has no FIFOs to guard against, and must
// not translate line ends.
#if !defined(O_NONBLOCK)
#define O_NONBLOCK 0
#endif
#if !defined(O_BINARY)
#define O_BINARY 0
#endif

bool readTextFile(const std::string& path, std::string& text, std::string& why) {
    // Non-blocking, so that a FIFO named by mistake cannot stall the open; the
    // checks below refuse it anyway.
    int fd = ::open(path.c_str(), O_RDONLY | O_NONBLOCK | O_BINARY);
    if (fd < 0) {
        why = "cannot open " + path;
        return false;
    }
    struct stat info {};
    bool ok = fstat(fd, &info) == 0;
    if (ok && !S_ISREG(info.st_mode)) {
        why = path + " is not a regular file";
        ok = false;
    } else if (ok && info.st_size > maxTextFileBytes) {
        why = path + " is larger than " + std::to_string(maxTextFileBytes / (1024 * 1024)) + " MiB";
        ok = false;
    }
    text.clear();
    char buffer[65536];
    while (ok) {
        ssize_t got = ::read(fd, buffer, sizeof buffer);
        if (got == 0)
            break;
        if (got < 0 || text.size() + static_cast<size_t>(got) > maxTextFileBytes) {
            why = got < 0 ? "cannot read " + path : path + " grew past the size limit";
            ok = false;
        } else {
            text.append(buffer, static_cast<size_t>(got));
        }
    }
    ::close(fd);
    return ok;
}

std::string tooLongForScript(const std::string& what, std::size_t size) {
    return what + " is " + std::to_string(size) +
           " bytes long; a text the host hands a script is at most " +
           std::to_string(maxScriptText) + " bytes";
}

bool wholeNumber(const std::string& word, int& value) {
    std::size_t digits = !word.empty() && (word[0] == '-' || word[0] == '+') ? 1 : 0;
    if (word.size() == digits || word.size() > 11 ||
        word.find_first_not_of("0123456789", digits) != std::string::npos)
        return false;
    long long number = std::stoll(word);
    if (number < INT32_MIN || number > INT32_MAX)
        return false;
    value = static_cast<int>(number);
    return true;
}

std::string visibleText(const std::string& text) {
    std::string shown;
    for (unsigned char c : text) {
        if (c >= 0x20 && c != 0x7f) {
            shown += static_cast<char>(c);
            continue;
        }
        char escape[5];
        std::snprintf(escape, sizeof escape, "\\x%02x", c);
        shown += escape;
    }
    return shown;
}

std::string nulByteIn(const std::string& line) {
    std::size_t at = line.find('\0');
    if (at == std::string::npos)
        return "";
    return "the line holds a NUL byte (\\x00) at column " + std::to_string(at + 1) +
           ", which no text handed to a script can hold";
}

std::string fileLine(const std::string& file, int number) {
    return (file.empty() ? "line " : file + ":") + std::to_string(number);
}
