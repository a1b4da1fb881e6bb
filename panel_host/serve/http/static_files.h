// The page's files, read from one folder. Only plain files inside it are
// served: no "..", no hidden names, nothing over 16 MiB.
#ifndef STATIC_FILES_H
#define STATIC_FILES_H

#include "http_exchange.h"

#include <string>

class StaticFiles {
  public:
    static constexpr long long maxFileBytes = 16LL * 1024 * 1024;

    explicit StaticFiles(std::string root) : root_(std::move(root)) {}
    // Fills `response` and returns true when `path` names a file of the folder.
    bool serve(const std::string& path, HttpResponse& response) const;

    // The folder-relative file for a request path ("/" is index.html); empty when refused.
    static std::string relativeFile(const std::string& path);
    static std::string contentType(const std::string& file);

  private:
    std::string root_;
};

#endif
