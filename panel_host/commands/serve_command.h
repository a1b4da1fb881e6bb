// panel-host serve: the panel in a browser, with the real script library
// behind it and the studio beside it.
#ifndef SERVE_COMMAND_H
#define SERVE_COMMAND_H

#include "server_limits.h"

#include <CLI/CLI.hpp>

#include <string>

struct ServeOptions {
    std::string library;
    std::string bind = "127.0.0.1";
    int port = 8080;
    std::string webRoot;
    std::string studioFile;
    std::string token;
    std::string recordFile;
    ServerLimits limits;
};

CLI::App* addServeCommand(CLI::App& app, ServeOptions& options);
int serve(const ServeOptions& options);

#endif
