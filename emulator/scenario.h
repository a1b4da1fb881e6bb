// Scenarios: line-based scripts of what an operator and the studio do, and
// what the panel must send in answer (docs/scenarios.md).
#ifndef SCENARIO_H
#define SCENARIO_H

#include <string>
#include <vector>

struct ScenarioStep {
    std::string file;
    int line = 0;
    std::string verb;               // press, pick, event, revertive, route, param, tick, wait, expect, close
    std::vector<std::string> words; // the words after the verb
    std::string rest;               // the text after the verb, as written
};

// Reads steps from text; a bad line gives false and "file:line: why" in error.
bool parseScenario(const std::string& file, const std::string& text,
                   std::vector<ScenarioStep>& steps, std::string& error);
bool readScenario(const std::string& path, std::vector<ScenarioStep>& steps, std::string& error);

class PanelHost;

// Plays steps on an open panel; failed expectations are written to the
// transcript. Returns the number of failed expectations; stops at the first.
int playScenario(PanelHost& host, const std::vector<ScenarioStep>& steps);

#endif
