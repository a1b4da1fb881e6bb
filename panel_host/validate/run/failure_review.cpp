#include "failure_review.h"

#include "failure_scenario.h"
#include "session_shrinker.h"
#include "text_file.h"

#include <chrono>
#include <fstream>
#include <sys/stat.h>

namespace {

constexpr std::chrono::seconds saveGrace{2};

// Comment lines for a saved scenario: what the script printed, its control
// bytes written out, so that nothing it printed can break the file.
std::string printedComment(const ScriptPrints& prints) {
    if (prints.bytes == 0)
        return "";
    std::string text = "# The script printed " + std::to_string(prints.bytes) +
                       " bytes in this session; the first " + std::to_string(prints.kept.size()) +
                       ":\n";
    std::size_t begin = 0;
    while (begin < prints.kept.size()) {
        std::size_t end = prints.kept.find('\n', begin);
        std::size_t stop = end == std::string::npos ? prints.kept.size() : end;
        text += "#   " + visibleText(prints.kept.substr(begin, stop - begin)) + "\n";
        begin = stop + 1;
    }
    return text;
}

} // namespace

int stepCount(const Lines& lines) {
    int steps = 0;
    for (const std::string& line : lines)
        steps += line.rfind("startup ", 0) == 0 ? 0 : 1;
    return steps;
}

namespace {

// The lines up to, and without, step `end`.
Lines beforeStep(const Lines& lines, int end) {
    Lines kept;
    int step = 0;
    for (const std::string& line : lines) {
        bool startup = line.rfind("startup ", 0) == 0;
        if (!startup && step++ >= end)
            break;
        kept.push_back(line);
    }
    return kept;
}

// The level a session's startup line sets (1 when none does).
int levelIn(const Lines& lines) {
    for (const std::string& line : lines)
        if (line.size() == 15 && line.rfind("startup level ", 0) == 0)
            return line[14] - '0';
    return 1;
}

} // namespace

std::string stepLine(const Lines& lines, int index) {
    if (index < 0)
        return "the load";
    int step = 0;
    for (const std::string& line : lines)
        if (line.rfind("startup ", 0) != 0 && step++ == index)
            return line;
    return "the delete";
}

BatchSettings FailureReview::settingsFor(const std::string& library) const {
    BatchSettings settings;
    settings.session.library = library;
    settings.session.keepTranscript = !options_.compare.empty();
    // The guided search's dictionary takes the values the code compares
    // against, and its features how often each block ran.
    settings.session.logCompares = !options_.blind;
    settings.session.countHits = !options_.blind;
    settings.hangTimeoutMs = options_.hangTimeoutMs;
    settings.deadline = deadline_;
    return settings;
}

std::optional<Failure> FailureReview::judged(int session, const Lines& lines,
                                             const SessionOutcome& mine,
                                             const SessionOutcome* theirs) const {
    Failure failure{session, 0, "", "", lines};
    failure.prints = mine.prints;
    if (mine.failed) {
        failure.step = mine.failedStep;
        failure.kind = mine.kind;
        failure.message = mine.message;
        return failure;
    }
    if (theirs != nullptr && theirs->failed) {
        failure.step = theirs->failedStep;
        failure.kind = "reference: " + theirs->kind;
        failure.message =
            options_.compare + " failed where " + options_.library + " did not: " + theirs->message;
        return failure;
    }
    if (theirs != nullptr)
        return diverges(failure, mine, *theirs);
    return std::nullopt;
}

std::optional<Failure> FailureReview::rerun(int session, const Lines& lines, bool sourcePlaces) {
    BatchSettings settings = settingsFor(options_.library);
    settings.sourcePlaces = sourcePlaces;
    std::vector<SessionOutcome> mine = runSessionBatch(settings, {lines}, nullptr);
    if (mine.empty())
        return std::nullopt;
    std::vector<SessionOutcome> theirs;
    if (!options_.compare.empty()) {
        BatchSettings reference = settingsFor(options_.compare);
        reference.sourcePlaces = sourcePlaces;
        theirs = runSessionBatch(reference, {lines}, nullptr);
    }
    return judged(session, lines, mine[0], theirs.empty() ? nullptr : &theirs[0]);
}

std::optional<Failure> FailureReview::diverges(Failure failure, const SessionOutcome& mine,
                                               const SessionOutcome& theirs) const {
    const Lines& a = mine.transcript;
    const Lines& b = theirs.transcript;
    size_t line = 0;
    while (line < a.size() && line < b.size() && a[line] == b[line])
        ++line;
    if (line == a.size() && line == b.size())
        return std::nullopt;
    // The step whose lines hold the first difference; past the last step it is the delete.
    size_t step = 0;
    while (step < mine.records.size() &&
           static_cast<size_t>(mine.records[step].transcriptEnd) <= line)
        ++step;
    failure.step = static_cast<int>(step);
    failure.kind = "divergence";
    failure.message = "the libraries differ at transcript line " + std::to_string(line + 1) + ": " +
                      options_.library + ": " + (line < a.size() ? a[line] : "(nothing)") + " | " +
                      options_.compare + ": " + (line < b.size() ? b[line] : "(nothing)");
    return failure;
}

void FailureReview::shrink(Failure& failure) {
    failure.foundStep = failure.step;
    failure.foundMessage = failure.message;
    // Steps after the failing one cannot matter.
    Lines lines = beforeStep(failure.lines, failure.step + 1);
    int tries = 0;
    ShrinkLimits limits;
    limits.deadline = deadline_;
    Lines shrunk = shrinkSession(
        lines,
        [&](const Lines& candidate) {
            std::optional<Failure> again = rerun(failure.session, candidate);
            return again && again->kind == failure.kind;
        },
        limits, tries);
    failure.shrinkTries = tries;
    // Where the session failed as found, and where the shrunk one fails
    // now, with their particulars and the places in the source.
    if (std::optional<Failure> found = rerun(failure.session, lines, true);
        found && found->kind == failure.kind && found->step == failure.foundStep)
        failure.foundMessage = found->message;
    if (std::optional<Failure> again = rerun(failure.session, shrunk, true)) {
        failure.step = again->step;
        failure.message = again->message;
    }
    failure.lines = shrunk;
    failure.shrunkSteps = stepCount(shrunk);
}

void FailureReview::save(Failure& failure) {
    bool fromReference = failure.kind == "divergence";
    int expectUpTo = fromReference ? failure.step + 1 : failure.step;
    Lines expected = beforeStep(failure.lines, expectUpTo);
    BatchSettings settings = settingsFor(fromReference ? options_.compare : options_.library);
    // Saving replays the steps once for the expect lines; past the run's time
    // all saves share a short grace, and one that runs out of it is written
    // without them.
    settings.deadline = deadline_ == ChildProcess::noDeadline ? deadline_ : deadline_ + saveGrace;
    std::vector<SessionOutcome> run = runSessionBatch(settings, {expected}, nullptr);
    FailureStory story{options_.library,       fromReference ? options_.compare : "",
                       options_.seed,          failure.session,
                       levelIn(failure.lines), failure.message};
    makeFolders(options_.outFolder);
    failure.scenarioFile = options_.outFolder + "/seed-" + std::to_string(options_.seed) + "-" +
                           sessionName(failure.session, "-") + ".scenario";
    std::ofstream out(failure.scenarioFile, std::ios::binary);
    out << failureScenario(story, failure.lines, run.empty() ? SessionOutcome{} : run[0],
                           expectUpTo)
        << printedComment(run.empty() ? failure.prints : run[0].prints);
    out.close();
    if (out.fail())
        failure.scenarioFile += " (could not be written)";
}

void FailureReview::report(Failure& failure, bool shrinkIt) {
    log_.finding("validate: " + sessionName(failure.session, " ") + " (seed " +
                 std::to_string(options_.seed) + ") failed in " +
                 stepLine(failure.lines, failure.step) + ": " + failure.message);
    if (failure.prints.bytes > 0)
        log_.finding("validate:   the script printed " + std::to_string(failure.prints.bytes) +
                     " bytes in that session (captured, not shown)");
    if (!shrinkIt)
        return;
    int before = stepCount(beforeStep(failure.lines, failure.step + 1));
    shrink(failure);
    save(failure);
    log_.finding("validate:   shrunk from " + std::to_string(before) + " to " +
                 std::to_string(failure.shrunkSteps) + " steps in " +
                 std::to_string(failure.shrinkTries) + " tries" +
                 (timeIsUp() ? " (--time ran out while shrinking)" : "") + ": " +
                 failure.scenarioFile);
    if (failure.kind == "divergence") {
        log_.finding("validate:   " + failure.message);
        for (const std::string& line : beforeStep(failure.lines, failure.step + 1))
            log_.finding("validate:     " + line);
    }
}

// The folder and any of its parents that are missing, as `mkdir -p` makes them.
void makeFolders(const std::string& path) {
    for (std::size_t slash = path.find('/', 1); slash != std::string::npos;
         slash = path.find('/', slash + 1))
        mkdir(path.substr(0, slash).c_str(), 0755);
    mkdir(path.c_str(), 0755);
}

// "session 12", or "corpus session 3" for a session read from --corpus,
// which are numbered -1, -2, ... below the run's own.
std::string FailureReview::sessionName(int session, const char* space) const {
    if (session >= 0)
        return "session" + std::string(space) + std::to_string(session);
    return "corpus" + std::string(space) + "session" + space + std::to_string(-session);
}

bool FailureReview::timeIsUp() const {
    return std::chrono::steady_clock::now() >= deadline_;
}
