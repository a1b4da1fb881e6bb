#include "text_file.h"

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
