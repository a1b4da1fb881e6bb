#include "corpus_folder.h"

#include "scenario.h"
#include "text_file.h"

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <dirent.h>
#include <fstream>
#include <sys/stat.h>
#include <unistd.h>

namespace {

// Bounds on what a folder can make a run read: a session file is small.
constexpr std::size_t maxNames = 100000;
constexpr std::size_t maxSessions = 20000;
constexpr long long maxFileBytes = 1024 * 1024;

std::vector<std::string> fileNames(const std::string& folder) {
    std::vector<std::string> names;
    DIR* entries = opendir(folder.c_str());
    if (entries == nullptr)
        return names;
    while (dirent* entry = readdir(entries)) {
        std::string name = entry->d_name;
        if (name.empty() || name[0] == '.')
            continue; // our own temporary files, and anything hidden
        names.push_back(name);
        if (names.size() == maxNames)
            break;
    }
    closedir(entries);
    std::sort(names.begin(), names.end());
    return names;
}

// A control step names a control of the shown panel, as the player checks.
bool playableOn(const ScenarioStep& step, const PanelLayout& layout) {
    if (step.verb == "expect")
        return false; // a session file holds what is played, nothing checked
    if (step.verb != "press" && step.verb != "pick")
        return true;
    const auto& w = step.words;
    std::string panel = w.size() >= 2 && w[w.size() - 2] == "on" ? w.back() : "1";
    return panel == layout.panel && layout.find(w[0]) != nullptr;
}

bool readSession(const std::string& path, const PanelLayout& layout,
                 std::vector<std::string>& lines) {
    struct stat info {};
    std::string text, why;
    if (lstat(path.c_str(), &info) != 0 || !S_ISREG(info.st_mode) || info.st_size > maxFileBytes ||
        !readTextFile(path, text, why))
        return false;
    std::vector<ScenarioStep> steps;
    if (!parseScenario(path, text, steps, why) || steps.empty())
        return false;
    bool acts = false;
    for (const ScenarioStep& step : steps) {
        if (!playableOn(step, layout))
            return false;
        acts = acts || step.verb != "startup";
        lines.push_back(step.rest.empty() ? step.verb : step.verb + " " + step.rest);
    }
    return acts;
}

// FNV-1a over the content: a name that only the same session gets.
std::string hashName(const std::string& content) {
    std::uint64_t hash = 14695981039346656037ull;
    for (unsigned char c : content)
        hash = (hash ^ c) * 1099511628211ull;
    char name[32];
    std::snprintf(name, sizeof name, "%016llx.scenario", static_cast<unsigned long long>(hash));
    return name;
}

} // namespace

CorpusSessions readCorpusFolder(const std::string& folder, const PanelLayout& layout,
                                std::set<std::string>& known) {
    CorpusSessions read;
    for (const std::string& name : fileNames(folder)) {
        if (!known.insert(name).second)
            continue;
        std::vector<std::string> lines;
        if (read.sessions.size() < maxSessions && readSession(folder + "/" + name, layout, lines))
            read.sessions.push_back(std::move(lines));
        else
            ++read.skipped;
    }
    return read;
}

std::string writeCorpusSession(const std::string& folder, const std::vector<std::string>& lines) {
    std::string content;
    for (const std::string& line : lines) {
        if (line.find_first_of(std::string("\r\n\0", 3)) != std::string::npos)
            return ""; // a line a file cannot hold as one
        content += line + "\n";
    }
    std::string name = hashName(content);
    std::string path = folder + "/" + name;
    struct stat info {};
    if (stat(path.c_str(), &info) == 0)
        return name;
    std::string temporary = folder + "/." + hashName(content) + "." + std::to_string(getpid());
    std::ofstream out(temporary, std::ios::binary);
    out << content;
    out.close();
    if (out.fail() || std::rename(temporary.c_str(), path.c_str()) != 0) {
        std::remove(temporary.c_str());
        return "";
    }
    return name;
}
