// What a validate run found and reached, as its JSON report and summary say
// it; shards of one run merge into the report of the whole.
#ifndef VALIDATION_REPORT_H
#define VALIDATION_REPORT_H

#include "session_reach.h"

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

struct ReportedFailure {
    int session = 0;
    int step = 0; // in the session as generated, whether or not it was shrunk
    std::string kind;
    std::string message;  // as it failed in the session as generated
    std::string scenario; // the saved shrunk scenario, empty when not shrunk
    int shrunkSteps = -1; // steps of the shrunk scenario; -1: not shrunk
    int shrunkStep = -1;  // where the shrunk scenario fails
};

struct ValidateReport {
    std::string library;
    std::string compare;
    std::uint64_t seed = 1;
    int level = 1;
    int stepsPerSession = 100;
    int totalSessions = 0; // of the whole run
    int shardIndex = 1;    // 1..shardCount
    int shardCount = 1;
    int firstSession = 0; // this report's sessions: [firstSession, endSession)
    int endSession = 0;
    long long steps = 0;
    double seconds = 0;
    std::vector<ReportedFailure> failures; // by session
    std::string panelLayout;               // the layout driven
    int panelControls = 0;
    SessionReach reach; // steps by kind, controls exercised, the script's code reached
    // The guided search, when there was one (empty `search`: a blind run).
    std::string search;       // "guided" or "blind"
    long long behaviours = 0; // distinct answers of the script seen
    long long corpus = 0;     // sessions kept for showing something new
    long long mutated = 0;    // sessions made by mutating the corpus
    long long dictionary = 0; // words the mutations drew on
    // Input-to-state: sessions with a value swapped for what the script
    // compared it with, and those the corpus kept.
    long long replacements = 0;
    long long replacementsKept = 0;
    bool outOfTime = false; // --time ended the run before its sessions
    // The panel's source lines reached, where the script's symbols could be read.
    std::optional<LineCoverage> sourceLines;
    std::optional<LineCoverage> referenceSourceLines; // the --compare library's
};

#endif
