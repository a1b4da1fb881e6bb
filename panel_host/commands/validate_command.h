// panel-host validate: drives a script the way a strict host would, through
// sessions drawn from a seed; every failure is shrunk and saved as a scenario
// that `panel-host run` replays. With --compare, two libraries get the same
// sessions and must answer alike.
#ifndef VALIDATE_COMMAND_H
#define VALIDATE_COMMAND_H

#include <CLI/CLI.hpp>

#include <cstdint>
#include <string>

struct ValidateOptions {
    std::string library;
    std::uint64_t seed = 1;
    int sessions = 10000000;    // an upper bound; the run's time ends it first unless given
    bool sessionsGiven = false; // --sessions given: every session is played, for reproducible runs
    int steps = 100;
    int level = 1;
    bool levelGiven = false; // without --level, sessions are spread over every level
    std::string compare;
    std::string outFolder = "validate-failures";
    std::string jsonFile;
    int hangTimeoutMs = 5000;
    int maxShrunk = 5;        // failures shrunk and saved; the rest are only listed
    int jobs = 0;             // batches played at once; 0: one a core
    std::string shard;        // "K/N": only the K-th of N equal parts of the sessions
    std::string layoutFile;   // the panel to drive, over the one the script shows
    std::string junitFile;    // a JUnit report: a test case a kind of failure
    std::string coverageFile; // the blocks of the script's code that ran
    bool blind = false;       // every session drawn on its own, no guidance
    double seconds = 60;      // the whole run's wall-clock bound, shrinking included; 0: none
};

CLI::App* addValidateCommand(CLI::App& app, ValidateOptions& options);
int validate(const ValidateOptions& options);

#endif
