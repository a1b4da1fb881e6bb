#include "serve.h"

#include "panel_server.h"
#include "web_root.h"

#include <csignal>
#include <iostream>

namespace {

PanelServer* running = nullptr;

extern "C" void onStopSignal(int) {
    if (running != nullptr)
        running->stop();
}

} // namespace

CLI::App* addServeCommand(CLI::App& app, ServeOptions& options) {
    CLI::App* command = app.add_subcommand("serve", "run LIBRARY behind a browser panel");
    command->add_option("library", options.library, "the panel script library")->required();
    command->add_option("--port", options.port, "the TCP port (default 8080)")
        ->check(CLI::Range(1, 65535));
    command->add_option("--bind", options.bind, "the address to listen on (default 127.0.0.1)");
    command->add_option("--web-root", options.webRoot,
                        "the folder of the page and its assets (default: the installed page)");
    command->add_option("--studio", options.studioFile, "a studio file over the built-in studio");
    return command;
}

int serve(const ServeOptions& options) {
    std::string webRoot = options.webRoot.empty() ? defaultWebRoot() : options.webRoot;
    if (webRoot.empty()) {
        std::cerr << "panel-host: cannot find the page beside the program; give --web-root\n";
        return 2;
    }
    if (!holdsPage(webRoot)) {
        std::cerr << "panel-host: --web-root " << webRoot << " holds no index.html\n";
        return 2;
    }
    Studio studio;
    std::string error;
    if (!options.studioFile.empty() && !studio.loadStudioFile(options.studioFile, error)) {
        std::cerr << "panel-host: " << error << "\n";
        return 2;
    }
    std::unique_ptr<ScriptRoute> route = openScriptRoute(options.library, error);
    if (!route) {
        std::cerr << "panel-host: " << error << "\n";
        return 3;
    }
    PanelServer server(*route, studio, webRoot);
    if (!server.opened()) {
        std::cerr << "panel-host: the export returned no script\n";
        return 1;
    }
    running = &server;
    std::signal(SIGINT, onStopSignal);
    std::signal(SIGTERM, onStopSignal);
    std::cout << "panel-host: panel 1 at http://" << options.bind << ":" << options.port << "/"
              << std::endl;
    bool listened = server.listen(options.bind, options.port);
    running = nullptr;
    if (!listened) {
        std::cerr << "panel-host: cannot listen on " << options.bind << ":" << options.port << "\n";
        return 2;
    }
    return 0;
}
