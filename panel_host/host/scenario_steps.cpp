#include "scenario_steps.h"

#include "host_startup.h"
#include "text_file.h"

#include <algorithm>

bool ScenarioSteps::read(const std::string& path, std::string& error) {
    std::string text;
    if (!readTextFile(path, text, error)) {
        error = "scenario: " + error;
        return false;
    }
    return add(path, std::move(text), error);
}

bool ScenarioSteps::add(const std::string& file, std::string text, std::string& error) {
    // readTextFile bounds a file well below 4 GiB, so offsets fit 32 bits.
    if (text.size() > static_cast<std::size_t>(maxTextFileBytes)) {
        error =
            file + " is larger than " + std::to_string(maxTextFileBytes / (1024 * 1024)) + " MiB";
        return false;
    }
    auto fileIndex = static_cast<std::uint32_t>(names_.size());
    std::size_t before = places_.size();
    ScenarioStep step;
    bool ok = forEachContentLineAt(text, [&](int number, std::size_t begin, std::size_t length) {
        if (!parseScenarioLine(file, number, text.substr(begin, length), step, error))
            return false;
        places_.push_back({fileIndex, static_cast<std::uint32_t>(number),
                           static_cast<std::uint32_t>(begin), static_cast<std::uint32_t>(length)});
        return true;
    });
    if (!ok) {
        places_.resize(before);
        return false;
    }
    names_.push_back(file);
    texts_.push_back(std::move(text));
    return true;
}

ScenarioStep ScenarioSteps::at(std::size_t index) const {
    const Place& place = places_[index];
    ScenarioStep step;
    std::string ignored; // every line was checked when its file was added
    parseScenarioLine(names_[place.file], static_cast<int>(place.line),
                      texts_[place.file].substr(place.begin, place.length), step, ignored);
    return step;
}

bool ScenarioSteps::isStartup(std::size_t index) const {
    const Place& place = places_[index];
    const std::string& text = texts_[place.file];
    static const std::string verb = "startup";
    return place.length >= verb.size() && text.compare(place.begin, verb.size(), verb) == 0 &&
           (place.length == verb.size() || text[place.begin + verb.size()] == ' ');
}

std::size_t ScenarioSteps::firstOf(std::size_t file) const {
    auto found = std::lower_bound(places_.begin(), places_.end(), file,
                                  [](const Place& p, std::size_t f) { return p.file < f; });
    return found != places_.end() && found->file == file
               ? static_cast<std::size_t>(found - places_.begin())
               : places_.size();
}

bool gatherStartup(const ScenarioSteps& steps, HostStartup& startup, std::string& error) {
    bool actionSeen = false;
    for (std::size_t i = 0; i < steps.size(); ++i) {
        // Past the first action only a misplaced startup step matters.
        if (actionSeen && !steps.isStartup(i))
            continue;
        if (!gatherStartupStep(steps.at(i), actionSeen, startup, error))
            return false;
    }
    return true;
}
