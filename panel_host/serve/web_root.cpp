#include "web_root.h"

#include <climits>
#include <sys/stat.h>
#include <unistd.h>

bool holdsPage(const std::string& folder) {
    struct stat info {};
    return !folder.empty() && stat((folder + "/index.html").c_str(), &info) == 0 &&
           S_ISREG(info.st_mode);
}

namespace {

std::string programFolder() {
    char path[PATH_MAX];
    ssize_t length = readlink("/proc/self/exe", path, sizeof path - 1);
    if (length <= 0)
        return {};
    std::string program(path, static_cast<size_t>(length));
    size_t slash = program.rfind('/');
    return slash == std::string::npos ? std::string() : program.substr(0, slash);
}

} // namespace

std::string defaultWebRoot() {
    std::string folder = programFolder();
    if (!folder.empty()) {
        std::string installed = folder + "/" + PANEL_HOST_PAGE_FROM_PROGRAM;
        if (holdsPage(installed))
            return installed;
    }
    if (holdsPage(PANEL_HOST_SOURCE_PAGE))
        return PANEL_HOST_SOURCE_PAGE;
    return {};
}
