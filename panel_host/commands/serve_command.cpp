#include "serve_command.h"

#include "exit_status.h"
#include "open_script_route.h"
#include "panel_server.h"
#include "web_root.h"

#include <atomic>
#include <csignal>
#include <cstdlib>
#include <iostream>
#include <sys/resource.h>
#include <thread>

namespace {

// Set by the signal handler; a watcher thread stops the server, since stopping
// takes locks that a handler may not.
std::atomic<bool> stopRequested{false};

extern "C" void onStopSignal(int) {
    stopRequested = true;
}

// Off loopback anyone on the network could reach the panel: a token is then
// required, from --token, PANEL_HOST_TOKEN, or made up here and printed.
bool chooseToken(const ServeOptions& options, std::string& token) {
    token = options.token;
    if (token.empty())
        if (const char* fromEnvironment = std::getenv("PANEL_HOST_TOKEN"))
            token = fromEnvironment;
    if (token.empty() && !isLoopback(options.bind))
        token = newToken();
    return isLoopback(options.bind) || !token.empty();
}

// Every connection is a descriptor: take what the system allows, so that a
// crowd of slow clients meets the server's own limits, not the process's.
void raiseDescriptorLimit() {
    rlimit limit{};
    if (getrlimit(RLIMIT_NOFILE, &limit) == 0 && limit.rlim_cur < limit.rlim_max) {
        limit.rlim_cur = limit.rlim_max;
        setrlimit(RLIMIT_NOFILE, &limit);
    }
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
    command->add_option("--record", options.recordFile,
                        "write the operator's session as a scenario that panel-host run replays");
    command->add_option(
        "--token", options.token,
        "the token requests must carry (default off loopback: PANEL_HOST_TOKEN, or a new one)");
    // The HTTP server's limits, each with its default.
    struct Limit {
        const char* option;
        int* value;
        const char* help;
        int most;
    };
    ServerLimits& limits = options.limits;
    const Limit limitOptions[] = {
        {"--header-timeout", &limits.headerSeconds,
         "seconds from a request line to the end of its headers (default 5)", 3600},
        {"--body-timeout", &limits.bodySeconds,
         "seconds from the headers to the end of the answer (default 10)", 3600},
        {"--keep-alive", &limits.keepAliveSeconds,
         "seconds a connection may stay idle between requests (default 5)", 3600},
        {"--per-address", &limits.perAddress,
         "connections at once from one address, event streams aside (default 16)", 10000},
    };
    for (const Limit& limit : limitOptions)
        command->add_option(limit.option, *limit.value, limit.help)
            ->check(CLI::Range(1, limit.most));
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
    std::string studioOption = options.studioFile.empty() ? "" : " --studio " + options.studioFile;
    ServerSettings settings{options.bind,
                            options.port,
                            webRoot,
                            "",
                            options.recordFile,
                            "# Recorded by panel-host serve from " + options.library + ".\n" +
                                "# Replay: panel-host run " + options.library + studioOption +
                                " THIS_FILE\n",
                            options.limits};
    if (!chooseToken(options, settings.token)) {
        std::cerr << "panel-host: cannot make a token; give --token\n";
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
    raiseDescriptorLimit();
    PanelServer server(*route, studio, settings);
    if (!server.recordingError().empty()) {
        std::cerr << "panel-host: --record: " << server.recordingError() << "\n";
        return 2;
    }
    if (!server.opened()) {
        std::cerr << "panel-host: the export returned no script\n";
        return 1;
    }
    if (!server.bind(error)) {
        std::cerr << "panel-host: " << error << "\n";
        return 2;
    }
    std::signal(SIGINT, onStopSignal);
    std::signal(SIGTERM, onStopSignal);
    std::string address =
        options.bind.find(':') != std::string::npos ? "[" + options.bind + "]" : options.bind;
    std::cout << "panel-host: panel 1 at http://" << address << ":" << options.port << "/"
              << (settings.token.empty() ? "" : "?token=" + settings.token) << std::endl;
    std::thread watcher([&server] {
        while (!stopRequested)
            std::this_thread::sleep_for(std::chrono::milliseconds(20));
        server.stop();
    });
    bool served = server.serve(error);
    stopRequested = true;
    watcher.join();
    if (!served) {
        std::cerr << "panel-host: " << error << "\n";
        return 2;
    }
    if (!server.recordingError().empty()) {
        std::cerr << "panel-host: --record: " << server.recordingError() << "\n";
        return 2;
    }
    return 0;
}
