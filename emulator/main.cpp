// panel-host: an emulated panel host that loads a real panel script library
// and plays scenarios against a simulated studio.
#include "panel_host.h"
#include "scenario.h"
#include "script_route.h"
#include "studio.h"

#include <CLI/CLI.hpp>

#include <iostream>

#if defined(PANEL_HOST_SERVE)
#include "serve.h"
#endif

namespace {

enum ExitStatus { passed = 0, failedChecks = 1, badInput = 2, cannotLoad = 3 };

int run(const std::string& libraryPath, const std::vector<std::string>& scenarioPaths,
        const std::string& studioPath) {
    std::vector<ScenarioStep> steps;
    std::string error;
    for (const std::string& path : scenarioPaths) {
        if (!readScenario(path, steps, error)) {
            std::cerr << "panel-host: " << error << "\n";
            return badInput;
        }
    }
    Studio studio;
    if (!studioPath.empty() && !studio.loadStudioFile(studioPath, error)) {
        std::cerr << "panel-host: " << error << "\n";
        return badInput;
    }
    std::unique_ptr<ScriptRoute> route = openScriptRoute(libraryPath, error);
    if (!route) {
        std::cerr << "panel-host: " << error << "\n";
        return cannotLoad;
    }
    PanelHost host(studio, [](const std::string& line) { std::cout << line << "\n"; });
    if (!host.open(*route)) {
        std::cout << "panel-host: the script did not start, " << host.breaches().size()
                  << " breaches\n";
        return failedChecks;
    }
    int failures = playScenario(host, steps);
    host.close();
    size_t breaches = host.breaches().size();
    std::cout << "panel-host: " << steps.size() << " steps, " << failures
              << " failed expectations, " << breaches << " breaches\n";
    return failures == 0 && breaches == 0 ? passed : failedChecks;
}

} // namespace

int main(int argc, char** argv) {
    CLI::App app{"panel-host: runs a panel script library in an emulated panel host"};
    app.require_subcommand(1);
    // Paths like /work/... are paths, not Windows-style options, under Wine too.
    app.allow_windows_style_options(false);
    app.set_version_flag("--version", std::string("panel-host ") + PANEL_HOST_VERSION);

    std::string library;
    std::vector<std::string> scenarios;
    std::string studioFile;
    CLI::App* runCommand = app.add_subcommand("run", "load LIBRARY, play SCENARIOs, print the transcript");
    runCommand->add_option("library", library, "the panel script library (PELDAN.so, PELDAN.dll)")
        ->required();
    runCommand->add_option("scenarios", scenarios, "scenario files, played in order");
    runCommand->add_option("--studio", studioFile, "a studio file over the built-in studio");

#if defined(PANEL_HOST_SERVE)
    ServeOptions serveOptions;
    CLI::App* serveCommand = addServeCommand(app, serveOptions);
#endif

    try {
        app.parse(argc, argv);
    } catch (const CLI::ParseError& e) {
        int code = app.exit(e);
        return code == 0 ? 0 : badInput;
    }
    if (*runCommand)
        return run(library, scenarios, studioFile);
#if defined(PANEL_HOST_SERVE)
    if (*serveCommand)
        return serve(serveOptions);
#endif
    return badInput;
}
