#include "host_startup.h"

#include "panel_host.h"

bool gatherStartupStep(const ScenarioStep& step, bool& actionSeen, HostStartup& startup,
                       std::string& error) {
    if (step.verb != "startup") {
        actionSeen = true;
        return true;
    }
    if (actionSeen) {
        error = step.file + ":" + std::to_string(step.line) +
                ": startup steps come before every other step";
        return false;
    }
    const std::string& key = step.words[0];
    if (key == "strict") {
        startup.strict = true;
    } else if (key == "sd-reply") {
        size_t after = step.rest.find("sd-reply") + 8;
        std::string text = after < step.rest.size() ? step.rest.substr(after + 1) : "";
        // "none" is a null reply: the outer optional is set, the inner one empty.
        startup.sdReply.emplace();
        if (text != "none")
            startup.sdReply->emplace(text);
    } else if (key == "ps-reply") {
        startup.psReplyNull = true;
    } else if (key == "level") {
        startup.level = step.words[1][0] - '0';
    } else if (key == "path") {
        startup.emptyPath = true;
    }
    return true;
}

bool gatherStartup(const std::vector<ScenarioStep>& steps, HostStartup& startup,
                   std::string& error) {
    bool actionSeen = false;
    for (const ScenarioStep& step : steps)
        if (!gatherStartupStep(step, actionSeen, startup, error))
            return false;
    return true;
}

int stepBudgetMs(int level) {
    static const int budgets[] = {500, 250, 100, 50, 25};
    return budgets[level < 1 ? 0 : level > 5 ? 4 : level - 1];
}

unsigned long long callInstructionBudget(int level) {
    static const unsigned long long budgets[] = {20000000, 10000000, 5000000, 2000000, 1000000};
    return budgets[level < 1 ? 0 : level > 5 ? 4 : level - 1];
}

long long applyStartup(const HostStartup& startup, PanelHost& host, Studio& studio,
                       ScriptRoute& route) {
    host.setStrict(startup.strict);
    if (startup.sdReply)
        studio.answerEverySd(*startup.sdReply);
    if (startup.psReplyNull)
        studio.answerPsWithNull();
    if (startup.emptyPath)
        route.useEmptyPath();
    if (startup.level == 0)
        return 0;
    // The emulated route counts instructions instead of time, which a loaded
    // machine cannot stretch.
    if (route.limitInstructionsPerCall(callInstructionBudget(startup.level)))
        return 0;
    return stepBudgetMs(startup.level);
}
