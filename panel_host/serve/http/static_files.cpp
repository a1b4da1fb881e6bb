#include "static_files.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

bool endsWith(const std::string& text, const std::string& end) {
    return text.size() >= end.size() &&
           text.compare(text.size() - end.size(), end.size(), end) == 0;
}

bool readWhole(int fd, long long size, std::string& out) {
    out.resize(static_cast<size_t>(size));
    size_t done = 0;
    while (done < out.size()) {
        ssize_t n = read(fd, &out[done], out.size() - done);
        if (n <= 0)
            return false;
        done += static_cast<size_t>(n);
    }
    return true;
}

} // namespace

std::string StaticFiles::relativeFile(const std::string& path) {
    if (path.empty() || path[0] != '/' || path.find('\0') != std::string::npos)
        return {};
    std::string file = path.substr(1);
    if (file.empty() || endsWith(file, "/"))
        file += "index.html";
    size_t start = 0;
    while (start <= file.size()) {
        size_t end = file.find('/', start);
        std::string part = file.substr(start, end == std::string::npos ? end : end - start);
        if (part.empty() || part[0] == '.')
            return {};
        if (end == std::string::npos)
            break;
        start = end + 1;
    }
    return file;
}

std::string StaticFiles::contentType(const std::string& file) {
    static const std::pair<const char*, const char*> types[] = {
        {".html", "text/html"},        {".js", "text/javascript"}, {".mjs", "text/javascript"},
        {".css", "text/css"},          {".svg", "image/svg+xml"},  {".png", "image/png"},
        {".json", "application/json"}, {".ico", "image/x-icon"},   {".txt", "text/plain"},
    };
    for (const auto& [end, type] : types)
        if (endsWith(file, end))
            return type;
    return "application/octet-stream";
}

bool StaticFiles::serve(const std::string& path, HttpResponse& response) const {
    std::string file = relativeFile(path);
    if (file.empty() || root_.empty())
        return false;
    int fd = open((root_ + "/" + file).c_str(), O_RDONLY | O_CLOEXEC | O_NOFOLLOW);
    if (fd < 0)
        return false;
    struct stat info {};
    std::string content;
    bool ok = fstat(fd, &info) == 0 && S_ISREG(info.st_mode) && info.st_size <= maxFileBytes &&
              readWhole(fd, info.st_size, content);
    close(fd);
    if (ok)
        response.set(200, contentType(file), std::move(content));
    return ok;
}
