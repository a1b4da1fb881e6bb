#include "session_explorer.h"

#include "scenario.h"
#include "step_text.h"
#include "text_file.h"

#include <algorithm>
#include <sstream>

namespace {

bool isInteger(const std::string& word) {
    std::size_t digits = !word.empty() && word[0] == '-' ? 1 : 0;
    return word.size() > digits && word.size() <= 11 &&
           word.find_first_not_of("0123456789", digits) == std::string::npos;
}

// Where the numbers of a step lie: its words that are whole numbers, and what
// follows a '=' when that is one; (start, length) pairs, the verb left out.
// A notification's type is no value of the operator's: only the types a host
// sends with null data are drawn, and another (a control event with no
// record) is no input a real host makes.
std::vector<std::pair<std::size_t, std::size_t>> numbersIn(const std::string& step) {
    std::vector<std::pair<std::size_t, std::size_t>> found;
    if (step.rfind("notify ", 0) == 0)
        return found;
    std::size_t at = step.find(' ');
    while (at != std::string::npos && at < step.size()) {
        std::size_t begin = at + 1, end = step.find(' ', begin);
        std::string word = step.substr(begin, end == std::string::npos ? end : end - begin);
        std::size_t equals = word.find('=');
        if (isInteger(word))
            found.push_back({begin, word.size()});
        else if (equals != std::string::npos && isInteger(word.substr(equals + 1)))
            found.push_back({begin + equals + 1, word.size() - equals - 1});
        at = end;
    }
    return found;
}

bool oneToken(const std::string& word) {
    return !word.empty() && word.find_first_of(" \t") == std::string::npos;
}

// A step the scenario language reads as one step of its own kind: words put
// into a line ("on", a quote) must not turn it into an error of the scenario's.
bool wellFormed(const std::string& line) {
    std::vector<ScenarioStep> parsed;
    std::string error;
    return parseScenario("", line + "\n", parsed, error) && parsed.size() == 1 &&
           line.compare(0, parsed[0].verb.size(), parsed[0].verb) == 0;
}

// Lengths that buffers, tables and length fields have: around the powers of
// two and a little past them, up to the longest text the host hands a script.
const std::size_t textLengths[] = {
    0,    1,    2,    7,    8,    9,    15,   16,    17,    31,    32,    33,           47,   48,
    63,   64,   65,   100,  127,  128,  129,  255,   256,   257,   511,   512,          1023, 1024,
    2047, 2048, 4095, 4096, 4097, 8191, 8192, 16384, 32767, 32768, 65535, maxScriptText};

// A session's bytes past which a mutation that grows a text is not kept: the
// corpus holds thousands of sessions.
constexpr std::size_t maxSessionBytes = 256 * 1024;

std::size_t bytesOf(const std::vector<std::string>& lines) {
    std::size_t total = 0;
    for (const std::string& line : lines)
        total += line.size() + 1;
    return total;
}

// `text` said again and again, or cut, to exactly `length` bytes.
std::string toLength(const std::string& text, std::size_t length) {
    const std::string& unit = text.empty() ? std::string("A") : text;
    std::string out;
    out.reserve(length);
    while (out.size() < length)
        out += unit;
    out.resize(length);
    return out;
}

// The replacement sessions waiting, and the step lines remembered as tried.
constexpr std::size_t maxReplacing = 2048, maxReplaced = 1u << 20;

std::uint64_t hashOf(const std::vector<std::string>& lines) {
    std::uint64_t hash = 0xcbf29ce484222325ULL;
    for (const std::string& line : lines) {
        for (unsigned char c : line)
            hash = (hash ^ c) * 0x100000001b3ULL;
        hash = (hash ^ '\n') * 0x100000001b3ULL;
    }
    return hash;
}

} // namespace

void splitSession(const std::vector<std::string>& lines, std::vector<std::string>& startup,
                  std::vector<std::string>& steps) {
    for (const std::string& line : lines)
        (line.rfind("startup ", 0) == 0 ? startup : steps).push_back(line);
}

SessionExplorer::SessionExplorer(const ExploreSettings& settings, const PanelLayout& layout,
                                 SearchDictionary dictionary, BlindSession blind)
    : settings_(settings), layout_(layout), dictionary_(std::move(dictionary)),
      blind_(std::move(blind)) {
    const std::vector<std::string>& ids = dictionary_.libraryIdentifiers();
    for (size_t i = 0; i < ids.size(); ++i) {
        sweep_.push_back("param " + ids[i]);
        for (size_t j = i >= 3 ? i - 3 : 0; j < ids.size() && j <= i + 3; ++j)
            if (j != i && wellFormed("param " + ids[i] + "=" + ids[j]))
                sweep_.push_back("param " + ids[i] + "=" + ids[j]);
    }
}

SessionExplorer::Lines SessionExplorer::session(int index) {
    SessionRandom random(settings_.seed * 0x9E3779B97F4A7C15ULL ^
                         (0x5EA2C4ULL + static_cast<std::uint64_t>(index) * 0x100000001B3ULL));
    if (corpus_.empty() || random.chance(static_cast<std::uint32_t>(settings_.blindShare)))
        return blind_(index);
    // Half the rest, while any wait: a value swapped for what it was compared with.
    if (!replacing_.empty() && random.chance(50)) {
        Lines lines = std::move(replacing_.back());
        replacing_.pop_back();
        ++replacementsMade_;
        replacingNow_.insert(hashOf(lines));
        return lines;
    }
    Lines startup, steps;
    splitSession(random.pick(corpus_), startup, steps);
    if (swept_ < sweep_.size()) {
        // The next stretch of the dictionary pass, after the base's steps.
        size_t count = std::min(sweep_.size() - swept_, static_cast<size_t>(settings_.steps));
        steps.resize(std::min(steps.size(), static_cast<size_t>(settings_.steps) / 4));
        steps.insert(steps.end(), sweep_.begin() + static_cast<long>(swept_),
                     sweep_.begin() + static_cast<long>(swept_ + count));
        swept_ += count;
    } else {
        // One to four mutations stacked, as fuzzers do.
        int count = 1 + static_cast<int>(random.below(4));
        for (int i = 0; i < count; ++i)
            steps = mutate(std::move(steps), random);
    }
    ++mutated_;
    startup.insert(startup.end(), steps.begin(), steps.end());
    return startup;
}

bool SessionExplorer::offer(const Lines& lines, const SessionFeatures& features, bool failed) {
    bool fresh = false;
    Lines startup, steps;
    splitSession(lines, startup, steps);
    for (size_t i = 0; i < features.responses.size(); ++i) {
        if (!responses_.insert(features.responses[i]).second)
            continue;
        fresh = true;
        int step = i < features.responseSteps.size() ? features.responseSteps[i] : -1;
        if (step >= 0 && static_cast<size_t>(step) < steps.size() && telling_.size() < 1024 &&
            tellingKnown_.insert(steps[static_cast<size_t>(step)]).second)
            telling_.push_back(steps[static_cast<size_t>(step)]);
    }
    for (std::uint64_t f : features.blocks)
        fresh |= blocks_.insert(f).second;
    for (const std::string& word : features.sentWords) {
        dictionary_.add(word);
        if (isInteger(word) && numbers_.size() < 512 && numbersKnown_.insert(word).second)
            numbers_.push_back(word);
    }
    bool replacement = !replacingNow_.empty() && replacingNow_.erase(hashOf(lines)) > 0;
    // A failing session is a failure to report, not a base to build on.
    if (!failed)
        queueReplacements(startup, steps, features.replacements);
    if (!fresh || failed)
        return false;
    if (replacement)
        ++replacementsKept_;
    if (corpus_.size() < settings_.maxCorpus)
        corpus_.push_back(lines);
    else
        corpus_[features.responses.size() % corpus_.size()] = lines;
    return true;
}

// An operator's step names a control the panel has, and a route names its
// source by number: a control the panel lacks, or a source the studio does
// not know, is the scenario's error, not the script's.
bool SessionExplorer::onOwnControl(const std::string& step) const {
    std::istringstream words(step);
    std::string verb, first, second;
    words >> verb >> first >> second;
    if (verb == "route")
        return isInteger(first) && isInteger(second);
    const std::string* control = verb == "press" || verb == "pick" ? &first
                                 : verb == "event"                 ? &second
                                                                   : nullptr;
    if (control == nullptr)
        return true;
    for (const LayoutControl& c : layout_.controls)
        if (c.id == *control)
            return true;
    return false;
}

bool SessionExplorer::worthReplacing(const std::string& line, const std::string& tried) const {
    return replaced_.count(hashOf({tried})) == 0 && wellFormed(line) && onOwnControl(line);
}

// The newest first: they come of what the search reached last. When too many
// wait, the oldest go.
void SessionExplorer::queueReplacements(const Lines& startup, const Lines& steps,
                                        const std::vector<Replacement>& replacements) {
    for (auto r = replacements.rbegin(); r != replacements.rend(); ++r) {
        if (r->step < 0 || static_cast<size_t>(r->step) >= steps.size() ||
            r->tried > r->line.size() || !worthReplacing(r->line, r->line.substr(0, r->tried)) ||
            replaced_.size() >= maxReplaced)
            continue;
        replaced_.insert(hashOf({r->line.substr(0, r->tried)}));
        Lines lines = startup;
        lines.insert(lines.end(), steps.begin(), steps.end());
        lines[startup.size() + static_cast<size_t>(r->step)] = r->line;
        if (replacing_.size() >= maxReplacing)
            replacing_.pop_front();
        replacing_.push_back(std::move(lines));
    }
}

SessionExplorer::Lines SessionExplorer::mutate(Lines steps, SessionRandom& random) {
    // Each mutation as often as it stands here.
    using Mutation = Lines (SessionExplorer::*)(Lines, SessionRandom&);
    static const Mutation mutations[] = {
        &SessionExplorer::insertFresh,    &SessionExplorer::insertFresh,
        &SessionExplorer::eraseRun,       &SessionExplorer::eraseRun,
        &SessionExplorer::repeatRun,      &SessionExplorer::repeatRun,
        &SessionExplorer::insertTicks,    &SessionExplorer::insertTicks,
        &SessionExplorer::splice,         &SessionExplorer::insertTelling,
        &SessionExplorer::insertTelling,  &SessionExplorer::dictionaryStep,
        &SessionExplorer::dictionaryStep, &SessionExplorer::dictionaryStep,
        &SessionExplorer::resizeText,     &SessionExplorer::resizeText,
        &SessionExplorer::swapNumber,     &SessionExplorer::swapNumber,
    };
    constexpr auto kinds = static_cast<std::uint32_t>(sizeof mutations / sizeof mutations[0]);
    Lines before = steps;
    steps = (this->*mutations[random.below(kinds)])(std::move(steps), random);
    if (bytesOf(steps) > maxSessionBytes && bytesOf(steps) > bytesOf(before))
        steps = std::move(before);
    steps.erase(std::remove_if(steps.begin(), steps.end(),
                               [](const std::string& step) { return !wellFormed(step); }),
                steps.end());
    if (steps.empty())
        steps.push_back("tick");
    if (steps.size() > static_cast<size_t>(settings_.maxSteps))
        steps.resize(static_cast<size_t>(settings_.maxSteps));
    return steps;
}

// Steps from a blind session of its own, put in at one place.
SessionExplorer::Lines SessionExplorer::insertFresh(Lines steps, SessionRandom& random) {
    Lines startup, fresh;
    splitSession(blind_(1000000 + static_cast<int>(random.below(1000000))), startup, fresh);
    if (fresh.empty())
        return steps;
    size_t count =
        1 + random.below(std::min<std::uint32_t>(8, static_cast<std::uint32_t>(fresh.size())));
    size_t from = random.below(static_cast<std::uint32_t>(fresh.size() - count + 1));
    size_t at = random.below(static_cast<std::uint32_t>(steps.size() + 1));
    steps.insert(steps.begin() + static_cast<long>(at), fresh.begin() + static_cast<long>(from),
                 fresh.begin() + static_cast<long>(from + count));
    return steps;
}

SessionExplorer::Lines SessionExplorer::eraseRun(Lines steps, SessionRandom& random) {
    if (steps.size() < 2)
        return steps;
    size_t count =
        1 + random.below(std::min<std::uint32_t>(16, static_cast<std::uint32_t>(steps.size() - 1)));
    size_t at = random.below(static_cast<std::uint32_t>(steps.size() - count + 1));
    steps.erase(steps.begin() + static_cast<long>(at),
                steps.begin() + static_cast<long>(at + count));
    return steps;
}

// A run of one to three steps, said again two to sixteen times.
SessionExplorer::Lines SessionExplorer::repeatRun(Lines steps, SessionRandom& random) {
    if (steps.empty())
        return steps;
    size_t count =
        1 + random.below(std::min<std::uint32_t>(3, static_cast<std::uint32_t>(steps.size())));
    size_t at = random.below(static_cast<std::uint32_t>(steps.size() - count + 1));
    Lines run(steps.begin() + static_cast<long>(at), steps.begin() + static_cast<long>(at + count));
    int times = 2 + static_cast<int>(random.below(15));
    for (int i = 1; i < times; ++i)
        steps.insert(steps.begin() + static_cast<long>(at + count), run.begin(), run.end());
    return steps;
}

// Ticks in a row: what a timer's count (a flash that runs out) needs.
SessionExplorer::Lines SessionExplorer::insertTicks(Lines steps, SessionRandom& random) {
    static const int runs[] = {15, 15, 16, 14, 20, 30, 5, 1};
    int count = runs[random.below(8)];
    size_t at = random.below(static_cast<std::uint32_t>(steps.size() + 1));
    steps.insert(steps.begin() + static_cast<long>(at), static_cast<size_t>(count), "tick");
    return steps;
}

// A step that drew a new answer somewhere, tried in another session's state.
SessionExplorer::Lines SessionExplorer::insertTelling(Lines steps, SessionRandom& random) {
    if (telling_.empty())
        return dictionaryStep(std::move(steps), random);
    size_t at = random.below(static_cast<std::uint32_t>(steps.size() + 1));
    steps.insert(steps.begin() + static_cast<long>(at), random.pick(telling_));
    return steps;
}

// A step's text grown, cut or repeated to one of the lengths binaries care
// about, or to twice or half its own; or a label's text from the router at
// such a length, where the session has no text to change.
SessionExplorer::Lines SessionExplorer::resizeText(Lines steps, SessionRandom& random) {
    std::vector<std::size_t> withText;
    for (std::size_t i = 0; i < steps.size(); ++i)
        if (textStart(steps[i]) <= steps[i].size())
            withText.push_back(i);
    std::uint32_t lengthCount = 0;
    while (lengthCount < sizeof textLengths / sizeof textLengths[0] &&
           textLengths[lengthCount] <= settings_.maxText)
        ++lengthCount;
    std::size_t length = textLengths[random.below(lengthCount)];
    if (withText.empty() || random.chance(25)) {
        std::string text = toLength(word(random, true), length);
        size_t at = random.below(static_cast<std::uint32_t>(steps.size() + 1));
        steps.insert(steps.begin() + static_cast<long>(at),
                     "revertive " + std::to_string(settings_.audioRouter) + " " +
                         std::to_string(12 + random.below(10)) + " " + text);
        return steps;
    }
    std::string& step = steps[random.pick(withText)];
    std::size_t start = textStart(step);
    std::string text = step.substr(start);
    if (random.chance(25))
        length = random.chance(50) ? std::min(text.size() * 2, settings_.maxText) : text.size() / 2;
    step = step.substr(0, start) + toLength(text, length);
    return steps;
}

// A number in a step (a pick's value, a revertive's index, a key's value)
// swapped for one the script's code compared against: the input-to-state
// step of compare-guided fuzzers, where a value among many is the one a
// branch waits for.
SessionExplorer::Lines SessionExplorer::swapNumber(Lines steps, SessionRandom& random) {
    std::vector<std::size_t> withNumbers;
    for (std::size_t i = 0; i < steps.size(); ++i)
        if (!numbersIn(steps[i]).empty())
            withNumbers.push_back(i);
    if (withNumbers.empty() || numbers_.empty())
        return dictionaryStep(std::move(steps), random);
    std::string& step = steps[random.pick(withNumbers)];
    std::vector<std::pair<std::size_t, std::size_t>> places = numbersIn(step);
    const auto& [start, length] = random.pick(places);
    step.replace(start, length, random.pick(numbers_));
    return steps;
}

SessionExplorer::Lines SessionExplorer::splice(Lines steps, SessionRandom& random) {
    if (corpus_.empty())
        return steps;
    Lines startup, other;
    splitSession(random.pick(corpus_), startup, other);
    size_t keep = random.below(static_cast<std::uint32_t>(steps.size() + 1));
    size_t from = random.below(static_cast<std::uint32_t>(other.size() + 1));
    steps.resize(keep);
    steps.insert(steps.end(), other.begin() + static_cast<long>(from), other.end());
    return steps;
}

const std::string& SessionExplorer::word(SessionRandom& random, bool singleToken) {
    static const std::string fallback = "1";
    const std::vector<std::string>& words = dictionary_.words();
    for (int tries = 0; tries < 8 && !words.empty(); ++tries) {
        const std::string& w = random.pick(words);
        if (!singleToken || oneToken(w))
            return w;
    }
    return fallback;
}

// A step made of dictionary words, in the place of one or beside it.
std::string SessionExplorer::wordStep(SessionRandom& random) {
    std::vector<const LayoutControl*> pickers, all;
    for (const LayoutControl& c : layout_.controls) {
        all.push_back(&c);
        if (c.kind == "selector" || c.kind == "list")
            pickers.push_back(&c);
    }
    switch (random.below(6)) {
    case 0:
        return "param " + word(random, false);
    case 1:
    case 2:
        return "param " + word(random, true) + "=" + word(random, false);
    case 3:
        // Only the panel's own controls: a step on a control it lacks is the
        // scenario's error, not the script's.
        if (!pickers.empty())
            return "pick " + random.pick(pickers)->id + " " + word(random, true);
        return "param " + word(random, true) + "=" + word(random, false);
    case 4:
        return "revertive " + std::to_string(settings_.audioRouter) + " " +
               std::to_string(12 + random.below(10)) + " " + word(random, false);
    default:
        if (!all.empty())
            return "event 1 " + random.pick(all)->id + " " + word(random, true) + "=" +
                   word(random, true);
        return "param " + word(random, false);
    }
}

SessionExplorer::Lines SessionExplorer::dictionaryStep(Lines steps, SessionRandom& random) {
    size_t at = random.below(static_cast<std::uint32_t>(steps.size() + 1));
    if (at < steps.size() && random.chance(50))
        steps[at] = wordStep(random);
    else
        steps.insert(steps.begin() + static_cast<long>(at), wordStep(random));
    return steps;
}
