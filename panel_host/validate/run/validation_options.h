// What a validate run is asked to do: the library, the sessions, the bounds.
#ifndef VALIDATION_OPTIONS_H
#define VALIDATION_OPTIONS_H

#include <cstdint>
#include <string>

struct ValidationOptions {
    std::string library;
    std::uint64_t seed = 1;
    int sessions = 10000000;    // an upper bound; the run's time ends it first unless given
    bool sessionsGiven = false; // every session is played, for reproducible runs
    int steps = 100;
    int level = 1;
    bool levelGiven = false; // otherwise sessions are spread over every level
    std::string compare;     // a second library that must answer alike
    std::string outFolder = "validate-failures";
    int hangTimeoutMs = 5000;
    int maxShrunk = 5;  // failures shrunk and saved; the rest are only listed
    int jobs = 0;       // batches played at once; 0: one a core
    int shardIndex = 1; // only the shardIndex-th of shardCount equal parts of the sessions
    int shardCount = 1;
    std::string layoutFile; // the panel to drive, over the one the script shows
    bool blind = false;     // every session drawn on its own, no guidance
    double seconds = 60;    // the whole run's wall-clock bound, shrinking included; 0: none
    std::string corpus;     // a folder of sessions to start the guided search from and add to
};

// Sessions go to child processes in batches of this many; a shard is whole batches.
constexpr int sessionBatchSize = 50;

#endif
