#include "session_reach.h"

#include <algorithm>
#include <iterator>
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

constexpr std::size_t maxParameterKeys = 64;
// Bytes of one module's code read line by line: every byte is one question to
// the symbolizer (about 25 microseconds), so a larger module is not read.
constexpr std::uint64_t maxLineReadBytes = 1u << 20;

// The key a parameter step names ("return" of "param return=all"), when it
// is a plain identifier.
std::string parameterKey(const std::string& line) {
    if (line.rfind("param ", 0) != 0)
        return "";
    std::string key = line.substr(6, line.find_first_of("=.", 6) - 6);
    if (key.empty() || key.size() > 24)
        return "";
    for (char c : key)
        if (!((c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') ||
              c == '_'))
            return "";
    return key;
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
        std::string key = parameterKey(line);
        if (!key.empty() && parameterKeys.size() < maxParameterKeys)
            parameterKeys.insert(key);
        size_t step = static_cast<size_t>(played - 1);
        if (!key.empty() && step < outcome.records.size() && outcome.records[step].reply &&
            !outcome.records[step].reply->empty() && answeredKeys.size() < maxParameterKeys)
            answeredKeys.insert(key);
    }
    if (!outcome.coverage || outcome.coverage == lastCoverage)
        return;
    lastCoverage = outcome.coverage;
    for (const CodeRange& r : outcome.coverage->code)
        code[r.module].insert({r.offset, r.size});
    for (const CodeRange& r : outcome.coverage->reached)
        blocks[r.module].insert({r.offset, r.size});
    for (const auto& [at, name] : outcome.coverage->exports)
        exports[{at.module, at.offset}] = name;
    for (const SymbolSource& source : outcome.coverage->symbols)
        symbols.emplace(source.module, source);
}

std::vector<ModuleReach> SessionReach::modules(std::size_t gaps) const {
    std::vector<ModuleReach> out;
    for (const auto& [module, ranges] : code) {
        ModuleReach reach{module, 0, 0, 0, {}};
        auto found = blocks.find(module);
        std::vector<std::pair<std::uint64_t, std::uint64_t>> ran; // [begin, end), merged
        if (found != blocks.end()) {
            reach.blocks = found->second.size();
            for (const auto& [offset, size] : found->second) {
                std::uint64_t begin = offset, end = static_cast<std::uint64_t>(offset) + size;
                if (!ran.empty() && begin <= ran.back().second)
                    ran.back().second = std::max(ran.back().second, end);
                else
                    ran.push_back({begin, end});
            }
        }
        std::vector<CodeRange> unreached;
        for (const auto& [offset, size] : ranges) {
            std::uint64_t at = offset, end = static_cast<std::uint64_t>(offset) + size;
            reach.codeBytes += size;
            for (const auto& [b, e] : ran) {
                if (e <= at || b >= end)
                    continue;
                if (b > at)
                    unreached.push_back({module, static_cast<std::uint32_t>(at),
                                         static_cast<std::uint32_t>(b - at)});
                std::uint64_t covered = std::min(e, end) - std::max(b, at);
                reach.reachedBytes += covered;
                at = std::min(e, end);
            }
            if (at < end)
                unreached.push_back(
                    {module, static_cast<std::uint32_t>(at), static_cast<std::uint32_t>(end - at)});
        }
        std::stable_sort(unreached.begin(), unreached.end(),
                         [](const CodeRange& a, const CodeRange& b) { return a.size > b.size; });
        if (unreached.size() > gaps)
            unreached.resize(gaps);
        reach.neverReached = unreached;
        out.push_back(reach);
    }
    return out;
}

void SessionReach::addReferenceCode(const SessionOutcome& outcome) {
    if (!outcome.coverage)
        return;
    auto theirs = [&](const std::string& module) {
        if (referenceModules.count(module) != 0)
            return true;
        if (code.count(module) != 0)
            return false;
        referenceModules.insert(module);
        return true;
    };
    for (const CodeRange& r : outcome.coverage->code)
        if (theirs(r.module))
            code[r.module].insert({r.offset, r.size});
    for (const CodeRange& r : outcome.coverage->reached)
        if (theirs(r.module))
            blocks[r.module].insert({r.offset, r.size});
    for (const auto& [at, name] : outcome.coverage->exports)
        if (theirs(at.module))
            exports[{at.module, at.offset}] = name;
    for (const SymbolSource& source : outcome.coverage->symbols)
        if (theirs(source.module))
            symbols.emplace(source.module, source);
}

std::optional<LineCoverage> SessionReach::sourceLines(SymbolizerProcess& symbolizer,
                                                      bool reference) const {
    LineCoverage lines;
    for (const auto& [module, source] : symbols) {
        if ((referenceModules.count(module) != 0) != reference)
            continue;
        auto codeOf = code.find(module);
        if (codeOf == code.end())
            continue;
        auto ranOf = blocks.find(module);
        auto ranAt = [&](std::uint32_t offset) {
            if (ranOf == blocks.end())
                return false;
            // The last block that starts at or before the offset, if it covers it.
            auto after = ranOf->second.upper_bound({offset, 0xffffffffu});
            return after != ranOf->second.begin() &&
                   static_cast<std::uint64_t>(std::prev(after)->first) + std::prev(after)->second >
                       offset;
        };
        std::vector<std::uint32_t> units;
        std::vector<bool> ran;
        std::uint64_t codeBytes = 0;
        for (const auto& range : codeOf->second)
            codeBytes += range.second;
        if (source.unitAddresses.empty() && codeBytes > maxLineReadBytes)
            continue;
        if (source.unitAddresses.empty()) {
            for (const auto& [offset, size] : codeOf->second)
                for (std::uint64_t at = offset; at < std::uint64_t{offset} + size; ++at) {
                    units.push_back(static_cast<std::uint32_t>(at));
                    ran.push_back(ranAt(static_cast<std::uint32_t>(at)));
                }
        } else {
            for (std::size_t i = 0; i < source.unitAddresses.size(); ++i) {
                units.push_back(source.unitAddresses[i]);
                ran.push_back(ranAt(static_cast<std::uint32_t>(i)));
            }
        }
        addModuleLines(lines, symbolizer, module, source.path, units, ran);
    }
    if (lines.modules.empty())
        return std::nullopt;
    return lines;
}

void SessionReach::merge(const SessionReach& other) {
    for (const auto& [kind, count] : other.stepKinds)
        stepKinds[kind] += count;
    controls.insert(other.controls.begin(), other.controls.end());
    for (const std::string& key : other.parameterKeys)
        if (parameterKeys.size() < maxParameterKeys)
            parameterKeys.insert(key);
    for (const std::string& key : other.answeredKeys)
        if (answeredKeys.size() < maxParameterKeys)
            answeredKeys.insert(key);
    for (const auto& [module, ranges] : other.code)
        code[module].insert(ranges.begin(), ranges.end());
    for (const auto& [module, ranges] : other.blocks)
        blocks[module].insert(ranges.begin(), ranges.end());
    exports.insert(other.exports.begin(), other.exports.end());
    symbols.insert(other.symbols.begin(), other.symbols.end());
    referenceModules.insert(other.referenceModules.begin(), other.referenceModules.end());
}

bool SessionReach::decodeSymbolSource(const std::string& line) {
    std::size_t tab = line.find('\t'), second = line.find('\t', tab + 1);
    if (tab == std::string::npos || second == std::string::npos)
        return false;
    SymbolSource source;
    source.module = line.substr(tab + 1, second - tab - 1);
    source.path = line.substr(second + 1);
    std::istringstream addresses(line.substr(1, tab - 1));
    for (long long address = 0; addresses >> address;) {
        if (address < 0 || address > 0xffffffffLL)
            return false;
        source.unitAddresses.push_back(static_cast<std::uint32_t>(address));
    }
    if (!addresses.eof() || source.module.empty() || source.path.empty())
        return false;
    symbols.emplace(source.module, std::move(source));
    return true;
}

std::string SessionReach::encode() const {
    std::string text;
    for (const auto& [kind, count] : stepKinds)
        text += "k " + kind + " " + std::to_string(count) + "\n";
    for (const std::string& control : controls)
        text += "c " + control + "\n";
    for (const std::string& key : parameterKeys)
        text += "p " + key + "\n";
    for (const std::string& key : answeredKeys)
        text += "a " + key + "\n";
    // Module names come last on their lines: a file name may hold spaces.
    auto ranges = [&](char tag, const auto& byModule) {
        for (const auto& [module, set] : byModule)
            for (const auto& [offset, size] : set)
                text += std::string(1, tag) + " " + std::to_string(offset) + " " +
                        std::to_string(size) + " " + module + "\n";
    };
    ranges('x', code);
    ranges('b', blocks);
    for (const auto& [at, name] : exports)
        text += "e " + std::to_string(at.second) + " " + name + "\t" + at.first + "\n";
    // "s ADDRESS... TAB MODULE TAB PATH": neither may hold a tab or a line break.
    for (const auto& [module, source] : symbols) {
        if (source.path.find_first_of("\t\n") != std::string::npos ||
            module.find_first_of("\t\n") != std::string::npos)
            continue;
        text += "s";
        for (std::uint32_t address : source.unitAddresses)
            text += " " + std::to_string(address);
        text += "\t" + module + "\t" + source.path + "\n";
    }
    for (const std::string& module : referenceModules)
        text += "r " + module + "\n";
    return text;
}

bool SessionReach::decode(const std::string& text) {
    std::istringstream in(text);
    for (std::string line; std::getline(in, line);) {
        if (line.rfind("c ", 0) == 0) {
            controls.insert(line.substr(2));
            continue;
        }
        if (line.rfind("r ", 0) == 0) {
            referenceModules.insert(line.substr(2));
            continue;
        }
        if (line.rfind("p ", 0) == 0 || line.rfind("a ", 0) == 0) {
            std::set<std::string>& keys = line[0] == 'p' ? parameterKeys : answeredKeys;
            if (keys.size() < maxParameterKeys)
                keys.insert(line.substr(2));
            continue;
        }
        if (line.rfind("s", 0) == 0 && (line.size() == 1 || line[1] == ' ' || line[1] == '\t')) {
            if (!decodeSymbolSource(line))
                return false;
            continue;
        }
        std::istringstream fields(line);
        std::string tag;
        fields >> tag;
        if (tag == "x" || tag == "b") {
            std::uint32_t offset = 0, size = 0;
            std::string module;
            if (!(fields >> offset >> size) || !std::getline(fields >> std::ws, module) ||
                module.empty())
                return false;
            (tag == "x" ? code : blocks)[module].insert({offset, size});
            continue;
        }
        if (tag == "e") {
            std::uint32_t offset = 0;
            std::string rest;
            if (!(fields >> offset) || !std::getline(fields >> std::ws, rest))
                return false;
            std::size_t tab = rest.find('\t');
            if (tab == std::string::npos)
                return false;
            exports[{rest.substr(tab + 1), offset}] = rest.substr(0, tab);
            continue;
        }
        std::string kind;
        long long count = 0;
        if (!(fields >> kind >> count) || tag != "k" || count < 0 || count > maxStepsInARun)
            return false;
        stepKinds[kind] += count;
    }
    return true;
}
