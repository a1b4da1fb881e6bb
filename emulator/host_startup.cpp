#include "host_startup.h"

#include "panel_host.h"

bool gatherStartup(const std::vector<ScenarioStep>& steps, HostStartup& startup, std::string& error) {
    bool actionSeen = false;
    for (const ScenarioStep& step : steps) {
        if (step.verb != "startup") {
            actionSeen = true;
            continue;
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
            std::string text = step.rest.substr(step.rest.find("sd-reply") + 9);
            // "none" is a null reply: the outer optional is set, the inner one empty.
            startup.sdReply.emplace();
            if (text != "none")
                startup.sdReply->emplace(text);
        } else if (key == "ps-reply") {
            startup.psReplyNull = true;
        } else if (key == "path") {
            startup.emptyPath = true;
        }
    }
    return true;
}

void applyStartup(const HostStartup& startup, PanelHost& host, Studio& studio, ScriptRoute& route) {
    host.setStrict(startup.strict);
    if (startup.sdReply)
        studio.answerEverySd(*startup.sdReply);
    if (startup.psReplyNull)
        studio.answerPsWithNull();
    if (startup.emptyPath)
        route.useEmptyPath();
}
