// Start-up variations a scenario asks of the host before the panel loads:
// strict checks, what "SD" and "PS" answer, and an empty script path.
#ifndef HOST_STARTUP_H
#define HOST_STARTUP_H

#include "scenario.h"

#include <optional>
#include <string>
#include <vector>

class PanelHost;
class ScriptRoute;
class Studio;

struct HostStartup {
    bool strict = false;
    std::optional<std::optional<std::string>>
        sdReply; // set: every SD gets it (inner nothing: null)
    bool psReplyNull = false;
    bool emptyPath = false;
    int level = 0; // 1 to 5: per-step budgets; 0: none
};

// The budget of one step natively (wall time), and of one call on the
// emulated route (instructions), at a level.
int stepBudgetMs(int level);
unsigned long long callInstructionBudget(int level);

// Reads the `startup` steps, which must all come before the first other step.
bool gatherStartup(const std::vector<ScenarioStep>& steps, HostStartup& startup,
                   std::string& error);
// The same a step at a time; `actionSeen` carries over from step to step.
bool gatherStartupStep(const ScenarioStep& step, bool& actionSeen, HostStartup& startup,
                       std::string& error);

// Applies the settings to a host, its studio and the route before open, and
// gives the step budget a player must keep (0: none, or counted in instructions).
long long applyStartup(const HostStartup& startup, PanelHost& host, Studio& studio,
                       ScriptRoute& route);

#endif
