// panel-host validate: drives a script the way a strict host would, through
// sessions drawn from a seed; every failure is shrunk and saved as a scenario
// that `panel-host run` replays. With --compare, two libraries get the same
// sessions and must answer alike.
#ifndef VALIDATE_COMMAND_H
#define VALIDATE_COMMAND_H

#include "validation_options.h"

#include <CLI/CLI.hpp>

#include <string>

struct ValidateOptions {
    ValidationOptions run;    // what the run does; the shard is read from `shard`
    std::string jsonFile;     // a JSON report for CI
    std::string junitFile;    // a JUnit report: a test case a kind of failure
    std::string coverageFile; // the blocks of the script's code that ran
    std::string shard;        // "K/N": only the K-th of N equal parts of the sessions
};

CLI::App* addValidateCommand(CLI::App& app, ValidateOptions& options);
int validate(const ValidateOptions& options);

#endif
