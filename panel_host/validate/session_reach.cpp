#include "session_reach.h"

#include <sstream>

namespace {

std::vector<std::string> wordsOf(const std::string& line, std::size_t most) {
    std::vector<std::string> words;
    std::istringstream in(line);
    for (std::string word; words.size() < most && in >> word;)
        words.push_back(word);
    return words;
}

// The control a step sends an event to on the shown panel, if any.
std::string controlOf(const std::vector<std::string>& w, const PanelLayout& layout) {
    if ((w[0] == "press" || w[0] == "pick") && w.size() >= 2)
        return w[1];
    if (w[0] == "event" && w.size() >= 3 && w[1] == layout.panel)
        return w[2];
    return "";
}

} // namespace

void SessionReach::add(const std::vector<std::string>& lines, const SessionOutcome& outcome,
                       const PanelLayout& layout) {
    long long played = 0;
    long long limit =
        outcome.failed ? outcome.failedStep + 1 : static_cast<long long>(lines.size());
    for (const std::string& line : lines) {
        if (line.rfind("startup ", 0) == 0)
            continue;
        if (played++ >= limit)
            break;
        std::vector<std::string> w = wordsOf(line, 3);
        if (w.empty())
            continue;
        ++stepKinds[w[0]];
        std::string control = controlOf(w, layout);
        if (!control.empty() && layout.find(control) != nullptr)
            controls.insert(control);
    }
}

void SessionReach::merge(const SessionReach& other) {
    for (const auto& [kind, count] : other.stepKinds)
        stepKinds[kind] += count;
    controls.insert(other.controls.begin(), other.controls.end());
}

std::string SessionReach::encode() const {
    std::string text;
    for (const auto& [kind, count] : stepKinds)
        text += "k " + kind + " " + std::to_string(count) + "\n";
    for (const std::string& control : controls)
        text += "c " + control + "\n";
    return text;
}

bool SessionReach::decode(const std::string& text) {
    std::istringstream in(text);
    for (std::string line; std::getline(in, line);) {
        if (line.rfind("c ", 0) == 0) {
            controls.insert(line.substr(2));
            continue;
        }
        std::istringstream fields(line);
        std::string tag, kind;
        long long count = 0;
        if (!(fields >> tag >> kind >> count) || tag != "k" || count < 0)
            return false;
        stepKinds[kind] += count;
    }
    return true;
}
