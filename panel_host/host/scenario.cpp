#include "scenario.h"

#include "panel_host.h"

#include "text_file.h"

#include <chrono>
#include <sstream>

namespace {

std::vector<std::string> wordsOf(const std::string& text) {
    std::istringstream in(text);
    std::vector<std::string> words;
    for (std::string w; in >> w;)
        words.push_back(w);
    return words;
}

bool isInteger(const std::string& word) {
    int value = 0;
    return wholeNumber(word, value);
}

// A whole number of at least `least`, as the studio file takes for the same thing.
bool isNumberFrom(const std::string& word, int least) {
    int value = 0;
    return wholeNumber(word, value) && value >= least;
}

// A route's source: a name, or a source number (0, no source, and up).
bool isSourceWord(const std::string& word) {
    return !isInteger(word) || isNumberFrom(word, 0);
}
std::string afterWords(const std::string& text, size_t count) {
    size_t at = 0;
    for (size_t i = 0; i < count; ++i) {
        at = text.find_first_not_of(' ', at);
        at = text.find(' ', at);
        if (at == std::string::npos)
            return "";
    }
    return text.substr(at + 1);
}

std::string checkStartupShape(const std::vector<std::string>& w) {
    const char* usage =
        "startup strict | level 1..5 | sd-reply TEXT|none | ps-reply none | path empty";
    if (w.empty())
        return usage;
    if (w[0] == "strict")
        return w.size() == 1 ? "" : usage;
    if (w[0] == "level")
        return w.size() == 2 && w[1].size() == 1 && w[1][0] >= '1' && w[1][0] <= '5' ? "" : usage;
    if (w[0] == "sd-reply")
        return ""; // any text, even none: the reply is the rest of the line
    if (w[0] == "ps-reply" || w[0] == "path")
        return w.size() == 2 && w[1] == (w[0] == "path" ? "empty" : "none") ? "" : usage;
    return usage;
}

// Checks a step's shape; returns why it is wrong, or nothing.
std::string checkShape(const ScenarioStep& s) {
    const auto& w = s.words;
    const std::string& v = s.verb;
    auto onPanel = [&](size_t base) {
        return w.size() == base || (w.size() == base + 2 && w[base] == "on");
    };
    if (v == "press")
        return onPanel(1) ? "" : "press CONTROL [on PANEL]";
    if (v == "pick")
        return onPanel(2) ? "" : "pick CONTROL VALUE [on PANEL]";
    if (v == "event")
        return w.size() >= 2 ? "" : "event PANEL CONTROL [MESSAGE]";
    if (v == "revertive")
        return w.size() >= 2 && isInteger(w[0]) && isInteger(w[1])
                   ? ""
                   : "revertive DEVICE INDEX [TEXT]";
    if (v == "route")
        return w.size() >= 2 && isNumberFrom(w[0], 1) && isSourceWord(afterWords(s.rest, 1))
                   ? ""
                   : "route DESTINATION SOURCE (a destination from 1, a source name or a "
                     "number from 0)";
    if (v == "param" || v == "close" || v == "param-null")
        return v != "param" && !w.empty() ? v + " takes nothing" : "";
    if (v == "notify")
        return w.size() == 1 && isInteger(w[0]) ? "" : "notify TYPE";
    if (v == "startup")
        return checkStartupShape(w);
    if (v == "tick")
        return w.empty() || (w.size() == 1 && isInteger(w[0])) ? "" : "tick [TIMER]";
    if (v == "wait")
        return w.size() == 1 && isInteger(w[0]) && std::stoll(w[0]) >= 0 ? "" : "wait MILLISECONDS";
    if (v == "expect") {
        if (w.empty())
            return "expect needs a command text, 'nothing', 'reply', 'control' or 'crosspoint'";
        if (w[0] == "control")
            return w.size() >= 3 ? "" : "expect control ID enabled|disabled|PROPERTY=VALUE";
        if (w[0] == "crosspoint")
            return w.size() == 3 && isNumberFrom(w[1], 1) &&
                           (isNumberFrom(w[2], 0) || w[2] == "none")
                       ? ""
                       : "expect crosspoint DESTINATION SOURCE";
        return "";
    }
    return "unknown step '" + visibleText(v) + "'";
}

// What of a step the host hands the script as text; expectations hand nothing.
std::size_t handedTextSize(const ScenarioStep& s) {
    if (s.verb == "expect")
        return 0;
    if (s.verb == "revertive" || s.verb == "event")
        return afterWords(s.rest, 2).size();
    return s.rest.size();
}

} // namespace

bool parseScenarioLine(const std::string& file, int number, const std::string& body,
                       ScenarioStep& step, std::string& error) {
    step = ScenarioStep{};
    step.file = file;
    step.line = number;
    size_t space = body.find(' ');
    step.verb = body.substr(0, space);
    step.rest = space == std::string::npos ? "" : body.substr(space + 1);
    step.words = wordsOf(step.rest);
    std::string why = nulByteIn(body);
    if (why.empty())
        why = checkShape(step);
    if (why.empty() && handedTextSize(step) > maxScriptText)
        why = tooLongForScript("the " + step.verb + " text", handedTextSize(step));
    if (!why.empty()) {
        error = file + ":" + std::to_string(number) + ": " + why;
        return false;
    }
    return true;
}

bool parseScenario(const std::string& file, const std::string& text,
                   std::vector<ScenarioStep>& steps, std::string& error) {
    return forEachContentLine(text, [&](int number, const std::string& body) {
        ScenarioStep step;
        if (!parseScenarioLine(file, number, body, step, error))
            return false;
        steps.push_back(std::move(step));
        return true;
    });
}

ScenarioPlayer::ScenarioPlayer(PanelHost& host) : host_(host) {}

bool ScenarioPlayer::play(const ScenarioStep& s) {
    if (s.verb == "expect")
        return expect(s);
    if (s.verb == "startup")
        return true; // applied before the panel was loaded
    if (!host_.isOpen())
        return fail(s, "the panel is closed");
    host_.takeCommands();
    pending_.clear();
    auto start = std::chrono::steady_clock::now();
    std::string refused = act(s);
    long long took = std::chrono::duration_cast<std::chrono::milliseconds>(
                         std::chrono::steady_clock::now() - start)
                         .count();
    pending_ = host_.takeCommands();
    if (refused.empty() && stepBudgetMs_ > 0 && took > stepBudgetMs_)
        refused = "the step took " + std::to_string(took) + " ms, over its budget of " +
                  std::to_string(stepBudgetMs_) + " ms";
    return refused.empty() || fail(s, refused);
}

// An operator can only press or pick what the shown panel has.
std::string ScenarioPlayer::controlMissing(const std::string& panel,
                                           const std::string& control) const {
    const PanelLayout& layout = host_.studio().layout();
    if (layout.controls.empty())
        return "no panel is shown";
    if (panel != layout.panel)
        return "panel " + panel + " is not shown (panel " + layout.panel + " is)";
    return layout.find(control)
               ? ""
               : "no control " + visibleText(control) + " on panel " + visibleText(panel);
}

// Carries out an action; why it cannot be done, or nothing.
std::string ScenarioPlayer::act(const ScenarioStep& s) {
    const auto& w = s.words;
    std::string panel = w.size() >= 2 && w[w.size() - 2] == "on" ? w.back() : "1";
    if (s.verb == "press" || s.verb == "pick") {
        std::string missing = controlMissing(panel, w[0]);
        if (!missing.empty())
            return missing;
    }
    if (s.verb == "press")
        host_.controlEvent(panel, w[0], "button=pressed");
    else if (s.verb == "pick")
        host_.pick(panel, w[0], w[1]);
    else if (s.verb == "event")
        host_.controlEvent(w[0], w[1], afterWords(s.rest, 2));
    else if (s.verb == "revertive")
        host_.revertive(std::stoi(w[0]), std::stoi(w[1]), afterWords(s.rest, 2));
    else if (s.verb == "route")
        return route(std::stoi(w[0]), afterWords(s.rest, 1));
    else if (s.verb == "param")
        reply_ = host_.parameter(s.rest);
    else if (s.verb == "param-null")
        reply_ = host_.parameter(std::nullopt);
    else if (s.verb == "notify")
        host_.notify(std::stoi(w[0]));
    else if (s.verb == "tick")
        host_.timerTick(w.empty() ? 1 : std::stoi(w[0]));
    else if (s.verb == "wait")
        host_.wait(std::stoll(w[0]));
    else if (s.verb == "close")
        host_.close();
    return "";
}

std::string ScenarioPlayer::route(int destination, const std::string& source) {
    int number = isInteger(source) ? std::stoi(source) : host_.studio().sourceByName(source);
    if (number == 0 && !isInteger(source))
        return "no source named '" + visibleText(source) + "' in the studio";
    host_.routeAudio(destination, number);
    return "";
}

bool ScenarioPlayer::expect(const ScenarioStep& s) {
    const auto& w = s.words;
    if (w[0] == "nothing" && w.size() == 1)
        return pending_.empty() ||
               fail(s, "nothing more expected, got " + host_.shown(pending_.front()));
    if (w[0] == "reply")
        return expectReply(s);
    if (w[0] == "control" && w.size() >= 3)
        return expectControl(s);
    if (w[0] == "crosspoint" && w.size() == 3)
        return expectCrosspoint(s);
    if (pending_.empty())
        return fail(s, "expected " + s.rest + ", got nothing");
    std::string next = host_.shown(pending_.front());
    pending_.erase(pending_.begin());
    return next == s.rest || fail(s, "expected " + s.rest + ", got " + next);
}

bool ScenarioPlayer::expectReply(const ScenarioStep& s) {
    std::string wanted = afterWords(s.rest, 1);
    if (wanted == "none")
        return !reply_ || fail(s, "expected no reply, got \"" + *reply_ + "\"");
    if (!reply_)
        return fail(s, "expected reply " + wanted + ", got none");
    return *reply_ == wanted || fail(s, "expected reply " + wanted + ", got " + *reply_);
}

bool ScenarioPlayer::expectControl(const ScenarioStep& s) {
    const auto& controls = host_.studio().controls();
    auto found = controls.find(s.words[1]);
    if (found == controls.end())
        return fail(s, "no control " + visibleText(s.words[1]));
    const std::string what = afterWords(s.rest, 2);
    if (what == "enabled" || what == "disabled") {
        bool enabled = found->second.enabled;
        return enabled == (what == "enabled") ||
               fail(s, s.words[1] + " is " + (enabled ? "enabled" : "disabled"));
    }
    size_t equals = what.find('=');
    std::string property = what.substr(0, equals);
    std::string value = equals == std::string::npos ? "" : what.substr(equals + 1);
    auto prop = found->second.properties.find(property);
    std::string actual = prop == found->second.properties.end() ? "(unset)" : prop->second;
    return actual == value || fail(s, s.words[1] + " " + property + " is " + actual);
}

bool ScenarioPlayer::expectCrosspoint(const ScenarioStep& s) {
    const auto& crosspoints = host_.studio().crosspoints();
    auto found = crosspoints.find(std::stoi(s.words[1]));
    std::string actual = found == crosspoints.end() ? "none" : std::to_string(found->second);
    return actual == s.words[2] || fail(s, "destination " + s.words[1] + " has source " + actual);
}

bool ScenarioPlayer::fail(const ScenarioStep& s, const std::string& why) {
    std::ostringstream line;
    line << "FAILED " << s.file << ":" << s.line << ": " << why;
    failures_.push_back(line.str());
    host_.note(line.str());
    return false;
}

int playScenario(PanelHost& host, const std::vector<ScenarioStep>& steps) {
    ScenarioPlayer player(host);
    for (const ScenarioStep& step : steps) {
        if (!player.play(step))
            break;
    }
    return static_cast<int>(player.failures().size());
}
