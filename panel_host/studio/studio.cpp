#include "studio.h"

#include "text_file.h"

#include <cstdint>
#include <sstream>
#include <unistd.h>

namespace {

const char* const packagerName = "DUD VESK Packager";
const char* const audioRouterName = "DUD Audio Router";

std::string join(const std::vector<std::string>& parts, const char* separator) {
    std::string joined;
    for (size_t i = 0; i < parts.size(); ++i)
        joined += (i > 0 ? separator : "") + parts[i];
    return joined;
}

} // namespace

Studio::Studio() {
    instruments_[packagerName] = packagerDevice_;
    instruments_[audioRouterName] = audioRouterDevice_;
    for (int i = 1; i <= 8; ++i) {
        sourceNames_[i] = "MIC " + std::to_string(i);
        sourceNames_[i + 8] = "OS " + std::to_string(i);
        sourceNames_[i + 16] = "LINE " + std::to_string(i);
    }
    for (int destination = 1; destination <= 32; ++destination)
        audioRoutes_[destination] = destination <= 24 ? destination : 0;
}

bool Studio::loadStudioFile(const std::string& path, std::string& error) {
    std::string text;
    if (!readTextFile(path, text, error)) {
        error = "studio file: " + error;
        return false;
    }
    return parseStudio(text, error, path);
}

bool Studio::parseStudio(const std::string& text, std::string& error, const std::string& file) {
    std::string why;
    return forEachContentLine(text, [&](int number, const std::string& line) {
        why = nulByteIn(line);
        if (!why.empty() || !parseStudioLine(line, why)) {
            error = fileLine(file, number) + ": " + why;
            return false;
        }
        return true;
    });
}

bool Studio::parseStudioLine(const std::string& line, std::string& why) {
    std::istringstream words(line);
    std::string kind, first, second, rest;
    words >> kind >> first;
    int a = 0, b = 0;
    bool ok = false;
    if (!first.empty() && !wholeNumber(first, a)) {
        why = "'" + visibleText(first) + "' is not a whole number";
        return false;
    }
    if (kind == "instrument" && !first.empty() && std::getline(words >> std::ws, rest)) {
        instruments_[rest] = a;
        if (rest == packagerName)
            packagerDevice_ = a;
        if (rest == audioRouterName)
            audioRouterDevice_ = a;
        ok = !rest.empty();
    } else if (kind == "source" && !first.empty() && std::getline(words >> std::ws, rest)) {
        sourceNames_[a] = rest;
        ok = a > 0 && !rest.empty();
    } else if (kind == "route" && !first.empty() && (words >> second)) {
        if (!wholeNumber(second, b)) {
            why = "'" + visibleText(second) + "' is not a whole number";
            return false;
        }
        audioRoutes_[a] = b;
        ok = a > 0 && b >= 0 && !(words >> rest);
        rest.clear();
    }
    if (ok && rest.size() > maxScriptText) {
        why = tooLongForScript("the name", rest.size());
        return false;
    }
    if (!ok)
        why = "expected 'instrument N NAME', 'source N NAME' or 'route DESTINATION SOURCE'";
    return ok;
}

ControlState& Studio::control(const std::string& id) {
    auto found = controls_.find(id);
    if (found == controls_.end()) {
        controlOrder_.push_back(id);
        found = controls_.emplace(id, ControlState{}).first;
    }
    return found->second;
}

void Studio::applyLayout(const PanelLayout& layout) {
    layout_ = layout;
    for (const LayoutControl& c : layout.controls)
        control(c.id).kind = c.kind;
}

CommandOutcome Studio::execute(const HostCommand& c) {
    const std::string& k = c.keyword;
    if (k == "PS")
        return showPanel(c);
    if (k == "TP")
        return putText(c);
    if (k == "TG")
        return getText(c);
    if (k == "CE" || k == "CD") {
        control(c.texts[1]).enabled = k == "CE";
        return {};
    }
    if (k == "SD" && sdReply_)
        return {*sdReply_, true, {"every SD answered with " + sdReply_->value_or("null")}};
    if (k == "SD") {
        auto found = instruments_.find(c.texts[0]);
        if (found == instruments_.end())
            return {std::nullopt, true, {"no instrument named '" + c.texts[0] + "'"}};
        return {std::to_string(found->second), true, {}};
    }
    if (k == "XI")
        return listIds(c);
    if (k == "RC")
        return crosspoint(c);
    if (k == "RR")
        return registerRange(c);
    if (k == "RP")
        return pollRange(c);
    if (k == "RU") {
        size_t before = registered_.size();
        if (c.numbers[0] == audioRouterDevice_)
            registered_.clear();
        return {std::nullopt,
                true,
                {before != registered_.size()
                     ? "audio router: registrations dropped"
                     : "no registrations for device " + std::to_string(c.numbers[0])}};
    }
    if (k == "ET")
        return timer(c);
    return {};
}

CommandOutcome Studio::showPanel(const HostCommand& c) {
    PanelLayout layout;
    std::string error;
    std::string fileName = c.texts[1].substr(c.texts[1].find_last_of('/') + 1);
    std::string file = c.texts[1];
    bool found = readPanelLayout(file, layout, error);
    if (!found && !panelFolder_.empty() && access(c.texts[1].c_str(), F_OK) != 0)
        found = readPanelLayout(file = panelFolder_ + "/" + fileName, layout, error);
    if (!found) {
        std::string why = "panel " + c.texts[0] + " not shown: " + error;
        return {std::nullopt, false, {why}, why};
    }
    applyLayout(layout);
    shownLayoutFile_ = file;
    return {psReplyNull_ ? std::nullopt : std::optional<std::string>("OK"),
            false,
            {"panel " + c.texts[0] + " shown with " + std::to_string(layout.controls.size()) +
             " controls"}};
}

CommandOutcome Studio::putText(const HostCommand& c) {
    const std::string& text = c.texts[0];
    size_t equals = text.find('=');
    std::string property = equals == std::string::npos ? text : text.substr(0, equals);
    std::string value = equals == std::string::npos ? "" : text.substr(equals + 1);
    ControlState& target = control(c.texts[2]);
    target.properties[property] = value;
    if (property == "index")
        target.operatorPick.clear();
    return {};
}

CommandOutcome Studio::getText(const HostCommand& c) {
    const ControlState& state = control(c.texts[1]);
    const std::string& property = c.texts[2];
    if (property == "all") {
        std::vector<std::string> all;
        for (const auto& [name, value] : state.properties)
            all.push_back(name + "=" + value);
        return {join(all, " "), true, {}};
    }
    auto found = state.properties.find(property);
    return {property + "=" + (found == state.properties.end() ? "" : found->second), true, {}};
}

CommandOutcome Studio::listIds(const HostCommand& c) {
    std::vector<std::string> ids;
    for (const std::string& id : controlOrder_)
        if (id.compare(0, c.texts[1].size(), c.texts[1]) == 0)
            ids.push_back(id);
    return {join(ids, ","), true, {}};
}

CommandOutcome Studio::crosspoint(const HostCommand& c) {
    int device = c.numbers[0], source = c.numbers[1], destination = c.numbers[2];
    if (device != packagerDevice_)
        return {std::nullopt, true, {"no router with device number " + std::to_string(device)}};
    crosspoints_[destination] = source;
    return {std::nullopt,
            true,
            {"packager: source " + std::to_string(source) + " routed to destination " +
             std::to_string(destination)}};
}

bool Studio::registeredDestination(int destination) const {
    for (const auto& [first, last] : registered_)
        if (destination >= first && destination <= last)
            return true;
    return false;
}

CommandOutcome Studio::registerRange(const HostCommand& c) {
    if (c.numbers[0] != audioRouterDevice_)
        return {std::nullopt, true, {"no revertives from device " + std::to_string(c.numbers[0])}};
    if (!c.add)
        registered_.clear();
    registered_.push_back({c.numbers[1], c.numbers[2]});
    return {std::nullopt,
            true,
            {"audio router: destinations " + std::to_string(c.numbers[1]) + " to " +
             std::to_string(c.numbers[2]) + " registered"}};
}

CommandOutcome Studio::pollRange(const HostCommand& c) {
    if (c.numbers[0] != audioRouterDevice_)
        return {std::nullopt, true, {"no revertives from device " + std::to_string(c.numbers[0])}};
    int queued = 0;
    for (int d = c.numbers[1]; d <= c.numbers[2] && queued < 1024; ++d, ++queued)
        pending_.push_back({audioRouterDevice_, d, audioSourceName(audioSourceOf(d))});
    return {std::nullopt, true, {"audio router: " + std::to_string(queued) + " revertives queued"}};
}

CommandOutcome Studio::timer(const HostCommand& c) {
    int id = c.numbers[0];
    if (c.numbers.size() == 2 && c.numbers[1] > 0) {
        timers_[id] = Timer{c.numbers[1], now_ + c.numbers[1]};
        return {std::nullopt,
                true,
                {"timer " + std::to_string(id) + " started, every " + std::to_string(c.numbers[1]) +
                 " ms"}};
    }
    bool wasRunning = timers_.erase(id) != 0;
    return {std::nullopt,
            true,
            {"timer " + std::to_string(id) + (wasRunning ? " stopped" : " was not running")}};
}

bool Studio::routeAudio(int destination, int source, std::string& note) {
    audioRoutes_[destination] = source;
    note = "audio router: destination " + std::to_string(destination) + " now has '" +
           audioSourceName(source) + "'";
    if (!registeredDestination(destination))
        return false;
    pending_.push_back({audioRouterDevice_, destination, audioSourceName(source)});
    return true;
}

int Studio::sourceByName(const std::string& name) const {
    for (const auto& [index, sourceName] : sourceNames_)
        if (sourceName == name)
            return index;
    return 0;
}

std::string Studio::audioSourceName(int source) const {
    auto found = sourceNames_.find(source);
    return found == sourceNames_.end() ? "---" : found->second;
}

int Studio::audioSourceOf(int destination) const {
    auto found = audioRoutes_.find(destination);
    return found == audioRoutes_.end() ? 0 : found->second;
}

std::optional<int> Studio::nextTick(long long until) {
    std::optional<int> soonest;
    long long due = until + 1;
    for (const auto& [id, t] : timers_)
        if (t.due < due) {
            due = t.due;
            soonest = id;
        }
    if (!soonest)
        return std::nullopt;
    now_ = due;
    timers_[*soonest].due += timers_[*soonest].period;
    return soonest;
}
