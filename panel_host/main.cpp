// panel-host: an emulated panel host that loads a real panel script library
// and plays scenarios against a simulated studio.
#include "exit_status.h"
#include "run_command.h"

#include <CLI/CLI.hpp>

#include <iostream>

#if defined(PANEL_HOST_SERVE)
#include "merge_command.h"
#include "serve_command.h"
#include "validate_command.h"
#endif

int main(int argc, char** argv) {
    CLI::App app{"panel-host: runs a panel script library in an emulated panel host"};
    app.require_subcommand(1);
    // Paths like /work/... are paths, not Windows-style options, under Wine too.
    app.allow_windows_style_options(false);
    app.set_version_flag("--version", std::string("panel-host ") + PANEL_HOST_VERSION);

    RunOptions run;
    CLI::App* runCommand =
        app.add_subcommand("run", "load LIBRARY, play SCENARIOs, print the transcript");
    runCommand
        ->add_option("library", run.library, "the panel script library (PELDAN.so, PELDAN.dll)")
        ->required();
    runCommand->add_option("scenarios", run.scenarios, "scenario files, played in order");
    runCommand->add_option("--studio", run.studioFile, "a studio file over the built-in studio");
    runCommand->add_option("--junit", run.junitFile,
                           "a JUnit XML report for CI: a test case a scenario file");
    runCommand
        ->add_option(
            "--step-timeout", run.stepTimeoutMs,
            "milliseconds a step may take before the script counts as hung (default 10000)")
        ->check(CLI::Range(1, 3600000));

#if defined(PANEL_HOST_SERVE)
    ServeOptions serveOptions;
    CLI::App* serveCommand = addServeCommand(app, serveOptions);
    ValidateOptions validateOptions;
    CLI::App* validateCommand = addValidateCommand(app, validateOptions);
    MergeOptions mergeOptions;
    CLI::App* mergeCommand = addMergeCommand(app, mergeOptions);
#endif

    try {
        app.parse(argc, argv);
    } catch (const CLI::ParseError& e) {
        int code = app.exit(e);
        return code == 0 ? 0 : badInput;
    }
    if (*runCommand)
        return runScenarios(run);
#if defined(PANEL_HOST_SERVE)
    if (*serveCommand)
        return serve(serveOptions);
    if (*validateCommand)
        return validate(validateOptions);
    if (*mergeCommand)
        return mergeReportFiles(mergeOptions);
#endif
    return badInput;
}
