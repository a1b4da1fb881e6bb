#include "validate_command.h"

#include "text_file.h"

#include "exit_status.h"
#include "failure_scenario.h"
#include "junit_report.h"
#include "outcome_frames.h"
#include "panel_choice.h"
#include "panel_layout.h"
#include "script_sandbox.h"
#include "session_batch.h"
#include "session_explorer.h"
#include "session_features.h"
#include "session_generator.h"
#include "session_reach.h"
#include "session_shrinker.h"
#include "text_file.h"
#include "validate_output.h"
#include "validate_report.h"
#include "worker_pool.h"

#include <nlohmann/json.hpp>

#include <chrono>
#include <cstdio>
#include <fstream>
#include <iostream>
#include <memory>
#include <set>
#include <sys/stat.h>
#include <thread>
#include <unistd.h>
#include <unordered_set>

namespace {

using Lines = std::vector<std::string>;
constexpr size_t batchSize = 50;
constexpr std::chrono::seconds saveGrace{2};

struct Failure {
    int session = 0;
    int step = 0;
    std::string kind;
    std::string message;
    Lines lines;
    std::string scenarioFile;
    int shrunkSteps = -1;
    int shrinkTries = 0;
    // Where and how the session as generated failed, kept through shrinking.
    int foundStep = 0;
    std::string foundMessage;
    Lines played;        // the session as it was played, before shrinking
    ScriptPrints prints; // what the script printed in the failing session
};

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

int stepCount(const Lines& lines) {
    int steps = 0;
    for (const std::string& line : lines)
        steps += line.rfind("startup ", 0) == 0 ? 0 : 1;
    return steps;
}

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

// The folder and any of its parents that are missing, as `mkdir -p` makes them.
void makeFolders(const std::string& path) {
    for (std::size_t slash = path.find('/', 1); slash != std::string::npos;
         slash = path.find('/', slash + 1))
        mkdir(path.substr(0, slash).c_str(), 0755);
    mkdir(path.c_str(), 0755);
}

// The level a session's startup line sets (1 when none does).
int levelIn(const Lines& lines) {
    for (const std::string& line : lines)
        if (line.size() == 15 && line.rfind("startup level ", 0) == 0)
            return line[14] - '0';
    return 1;
}

std::string stepLine(const Lines& lines, int index) {
    if (index < 0)
        return "the load";
    int step = 0;
    for (const std::string& line : lines)
        if (line.rfind("startup ", 0) != 0 && step++ == index)
            return line;
    return "the delete";
}

class Validation {
  public:
    explicit Validation(const ValidateOptions& options) : options_(options) {}

    int run() {
        auto start = std::chrono::steady_clock::now();
        if (options_.seconds > 0)
            deadline_ = start + std::chrono::duration_cast<std::chrono::steady_clock::duration>(
                                    std::chrono::duration<double>(options_.seconds));
        if (int status = choosePanelToDrive())
            return status;
        if (failures_.empty())
            startExplorer();
        int round = 0;
        for (int first = firstSession(); failures_.empty() && first < endSession(); ++round) {
            if (timeIsUp()) {
                outOfTime_ = true;
                break;
            }
            int count = std::min(roundSize(round), endSession() - first);
            int played = 0;
            if (!runWindow(first, count, played))
                return cannotLoad;
            first += count;
            sessionsPlayed_ += played;
            if (played < count) {
                outOfTime_ = true; // the deadline stopped sessions under way
                break;
            }
            // A run bounded by time alone has done its work once it found a
            // failure: what time is left goes to shrinking it.
            if (!options_.sessionsGiven && !failures_.empty())
                break;
        }
        seconds_ = elapsedSince(start);
        endProgress();
        for (size_t i = 0; i < failures_.size(); ++i)
            report(failures_[i], static_cast<int>(i) < options_.maxShrunk);
        return finish();
    }

    bool timeIsUp() const { return std::chrono::steady_clock::now() >= deadline_; }

    static double elapsedSince(std::chrono::steady_clock::time_point start) {
        return std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    }

    // Blind: windows of a few batches a worker, judged in session order
    // however the workers finish. Guided: rounds of a size of their own, so
    // the corpus grows alike for any number of workers; small at first, so
    // that feedback comes early.
    int roundSize(int round) const {
        if (!explorer_)
            return static_cast<int>(batchSize) * jobs() * 4;
        return static_cast<int>(batchSize) << std::min(round, 3);
    }

    void startExplorer() {
        SearchDictionary dictionary;
        dictionary.addLayout(layout_);
        dictionary.addLibraryStrings(options_.library);
        const std::vector<std::string>& ids = dictionary.libraryIdentifiers();
        libraryWords_.insert(ids.begin(), ids.end());
        if (options_.blind)
            return;
        size_t fromLibrary = dictionary.words().size();
        ExploreSettings settings;
        settings.seed = options_.seed;
        settings.steps = options_.steps;
        settings.maxSteps = options_.steps * 2;
        if (options_.levelGiven) // the level's longest text, as its sessions draw them
            settings.maxText = static_cast<size_t>(8) << (2 * options_.level);
        explorer_ = std::make_unique<SessionExplorer>(
            settings, layout_, std::move(dictionary),
            [this](int session) { return sessionLines(session); });
        std::cerr << "validate: guided search, dictionary of " << fromLibrary
                  << " words from the layout and the library\n";
    }

    // The panel the sessions press and pick on; a run that could draw no
    // control step would say nothing of the script, so it does not run.
    int choosePanelToDrive() {
        PanelChoice choice;
        std::string why;
        if (!choosePanel(options_.library, options_.layoutFile, options_.hangTimeoutMs, choice, why,
                         deadline_)) {
            std::cerr << "panel-host: " << why << "\n";
            return badInput;
        }
        if (choice.cannotLoad) {
            std::cerr << "panel-host: " << choice.source << "\n";
            return cannotLoad;
        }
        if (const std::optional<SessionOutcome>& failed = choice.failedBeforeSteps) {
            // Reported as any failure: the session, saved, replays it.
            Failure failure{0, failed->failedStep, failed->kind, failed->message, probeLines()};
            failure.played = failure.lines;
            failures_.push_back(failure);
            std::cerr << "validate: " << choice.source << "\n";
            return 0;
        }
        layout_ = choice.layout;
        layoutFile_ = choice.file;
        if (layout_.controls.empty()) {
            std::cerr << "panel-host: validate has no panel to drive: "
                      << (choice.file.empty() ? choice.source : choice.file + " has no controls")
                      << "; no control step can be drawn (give one with --layout FILE)\n";
            return noPanel;
        }
        std::cerr << "validate: panel " << layout_.panel << " from " << choice.source << ": "
                  << choice.file << " (" << layout_.controls.size() << " controls)\n";
        return 0;
    }

    // The sessions of this shard: [firstSession, endSession) of the whole run's.
    int firstSession() const { return shardStart(shardIndex_ - 1); }
    int endSession() const { return shardStart(shardIndex_); }
    // Shards are whole batches, so each session shares its child process with
    // the same sessions as in the unsplit run: a script's leftover state meets
    // it alike either way.
    int shardStart(int k) const {
        long long batches = (options_.sessions + static_cast<long long>(batchSize) - 1) /
                            static_cast<long long>(batchSize);
        long long start = batches * k / shardCount_ * static_cast<long long>(batchSize);
        return static_cast<int>(std::min<long long>(start, options_.sessions));
    }
    int jobs() const {
        if (options_.jobs > 0)
            return options_.jobs;
        unsigned cores = std::thread::hardware_concurrency();
        return cores == 0 ? 1 : static_cast<int>(cores);
    }
    void setShard(int index, int count) {
        shardIndex_ = index;
        shardCount_ = count;
    }

  private:
    // Without --level, sessions are drawn at every level, half of them at
    // level 1: longer texts and stranger bytes come into every run. Their
    // budget stays level 1's: a tighter wall-clock budget would fail a sound
    // script on a busy machine, so it is asked for with --level.
    int levelOf(int session) const {
        static const int spread[] = {1, 2, 1, 3, 1, 4, 1, 5};
        return options_.levelGiven ? options_.level : spread[session % 8];
    }

    Lines sessionLines(int session) const {
        SessionPlan plan{options_.seed, session, options_.steps, levelOf(session)};
        GeneratedSession generated = generateSession(plan, layout_, 7);
        Lines lines = generated.startup;
        lines.push_back("startup level " + std::to_string(options_.levelGiven ? plan.level : 1));
        lines.insert(lines.end(), generated.steps.begin(), generated.steps.end());
        return lines;
    }

    BatchSettings settingsFor(const std::string& library) const {
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

    // One batch's outcomes on the library and, when comparing, the reference.
    struct BatchResult {
        int first = 0; // the batch's sessions: first .. first + count - 1
        int count = 0;
        // Guided: mutated in the parent before the workers fork, from what the
        // sessions before taught. Blind: left empty, each session is drawn
        // where the batch is played, so that drawing is shared by the workers.
        std::vector<Lines> lines;
        std::vector<int> steps; // each session's step count, from where it was played
        std::vector<SessionOutcome> mine, theirs;
        std::vector<SessionFeatures> features;
        SessionReach reach;
    };

    // Plays one batch on the library and, when comparing, on the reference;
    // runs in a worker process, so its outcomes come back as bytes.
    std::string playBatch(const BatchResult& batch) const {
        std::vector<Lines> drawn;
        for (int s = batch.first; batch.lines.empty() && s < batch.first + batch.count; ++s)
            drawn.push_back(sessionLines(s));
        const std::vector<Lines>& sessions = batch.lines.empty() ? drawn : batch.lines;
        // Blind, a session that passes is judged without its commands, and
        // one that fails is played again for its expect lines.
        BatchSettings settings = settingsFor(options_.library);
        settings.session.recordCommands = !options_.blind;
        std::vector<SessionOutcome> mine = runSessionBatch(settings, sessions, nullptr);
        std::vector<SessionOutcome> theirs;
        if (!options_.compare.empty() && !cannotLoadIn(mine))
            theirs = runSessionBatch(settingsFor(options_.compare), sessions, nullptr);
        SessionReach reach;
        std::vector<SessionFeatures> features;
        // Replacements the search had not tried when this worker forked, nor this batch made.
        std::unordered_set<std::string> madeHere;
        WorthTrying worthTrying = [&](const std::string& line, const std::string& tried) {
            return explorer_->worthReplacing(line, tried) && madeHere.insert(tried).second;
        };
        for (size_t i = 0; i < mine.size() && i < sessions.size(); ++i) {
            reach.add(sessions[i], mine[i], layout_);
            if (i < theirs.size())
                reach.addReferenceCode(theirs[i]);
            if (explorer_)
                features.push_back(sessionFeatures(sessions[i], mine[i], worthTrying));
        }
        // The parent judges from the reach and the features: the code each
        // session reached (the same, or a little more, session after session)
        // would only cross the pipe again.
        for (std::vector<SessionOutcome>* outcomes : {&mine, &theirs})
            for (SessionOutcome& outcome : *outcomes) {
                outcome.coverage.reset();
                outcome.hits.clear();
                outcome.compared.clear();
                outcome.comparisons.clear();
            }
        // What passed alike needs no step records nor transcripts in the parent.
        for (size_t i = 0; i < mine.size(); ++i) {
            SessionOutcome* other = i < theirs.size() ? &theirs[i] : nullptr;
            if (mine[i].failed ||
                (other && (other->failed || other->transcript != mine[i].transcript)))
                continue;
            mine[i].records.clear();
            mine[i].transcript.clear();
            if (other) {
                other->records.clear();
                other->transcript.clear();
            }
        }
        std::vector<int> steps;
        for (const Lines& lines : sessions)
            steps.push_back(stepCount(lines));
        return encodeOutcomes(mine) + encodeOutcomes(theirs) + frameOf(encodeFeatures(features)) +
               frameOf(encodeCounts(steps)) + reach.encode();
    }

    // A batch's outcomes from its worker; a worker that ended without them
    // fails every session of the batch, so nothing passes unplayed.
    void takeBatch(const std::optional<std::string>& bytes, BatchResult& batch) {
        std::size_t at = 0;
        std::string features, steps;
        if (bytes && decodeOutcomes(*bytes, at, batch.mine) &&
            decodeOutcomes(*bytes, at, batch.theirs) && takeFrame(*bytes, at, features) &&
            decodeFeatures(features, batch.features) && takeFrame(*bytes, at, steps) &&
            decodeCounts(steps, batch.steps) &&
            batch.steps.size() == static_cast<size_t>(batch.count) &&
            batch.reach.decode(bytes->substr(at)))
            return;
        SessionOutcome lost;
        lost.failed = true;
        lost.kind = lost.message = "the worker process ended before reporting the session";
        lost.failedStep = -1;
        batch.mine.assign(static_cast<size_t>(batch.count), lost);
        batch.theirs.clear();
        batch.features.clear();
        batch.steps.clear();
    }

    // A session of the batch as it was played: blind sessions are drawn again
    // here, which only a failure needs.
    Lines linesOf(const BatchResult& batch, size_t i) const {
        return batch.lines.empty() ? sessionLines(batch.first + static_cast<int>(i))
                                   : batch.lines[i];
    }

    static bool cannotLoadIn(const std::vector<SessionOutcome>& outcomes) {
        return !outcomes.empty() && outcomes.front().cannotLoad;
    }

    // False, and says why, when the library could not be loaded at all.
    bool loaded(const std::vector<SessionOutcome>& outcomes) {
        if (!cannotLoadIn(outcomes))
            return true;
        endProgress();
        std::cerr << "panel-host: " << outcomes.front().message << "\n";
        return false;
    }

    // Plays sessions first .. first + count - 1 and judges them in order;
    // `played` is how many were judged: fewer than `count` only when the
    // run's time stopped sessions under way.
    bool runWindow(int first, int count, int& played) {
        std::vector<BatchResult> batches((static_cast<size_t>(count) + batchSize - 1) / batchSize);
        for (size_t b = 0; b < batches.size(); ++b) {
            batches[b].first = first + static_cast<int>(b * batchSize);
            batches[b].count =
                std::min(first + count, batches[b].first + static_cast<int>(batchSize)) -
                batches[b].first;
            for (int s = batches[b].first; explorer_ && s < batches[b].first + batches[b].count;
                 ++s)
                batches[b].lines.push_back(explorer_->session(s));
        }
        std::vector<std::optional<std::string>> outcomes = runInWorkers(
            batches.size(), jobs(), [&](size_t b) { return playBatch(batches[b]); },
            [&](size_t b) { showProgress(batches[b].count); });
        for (size_t b = 0; b < batches.size(); ++b)
            takeBatch(outcomes[b], batches[b]);
        for (BatchResult& batch : batches) {
            reach_.merge(batch.reach);
            if (!loaded(batch.mine) || (!options_.compare.empty() && !loaded(batch.theirs)))
                return false;
            size_t judged = std::min(static_cast<size_t>(batch.count), batch.mine.size());
            if (!options_.compare.empty())
                judged = std::min(judged, batch.theirs.size());
            for (size_t i = 0; i < judged; ++i) {
                const SessionOutcome* other = i < batch.theirs.size() ? &batch.theirs[i] : nullptr;
                bool failed = judge(batch, i, other);
                if (explorer_ && i < batch.features.size())
                    explorer_->offer(batch.lines[i], batch.features[i], failed);
            }
            played += static_cast<int>(judged);
            if (judged < static_cast<size_t>(batch.count))
                break; // later sessions, even if some were played, come after a gap
        }
        return true;
    }

    // True when the session failed, on either library or by their answering apart.
    bool judge(const BatchResult& batch, size_t i, const SessionOutcome* theirs) {
        const SessionOutcome& mine = batch.mine[i];
        int played = mine.failed              ? mine.failedStep + 1
                     : i < batch.steps.size() ? batch.steps[i]
                                              : stepCount(linesOf(batch, i));
        steps_ += played < 0 ? 0 : played;
        bool failed = mine.failed || (theirs != nullptr && theirs->failed) ||
                      (theirs != nullptr && mine.transcript != theirs->transcript);
        if (!failed)
            return false;
        int session = batch.first + static_cast<int>(i);
        Lines lines = linesOf(batch, i);
        if (std::optional<Failure> failure = judged(session, lines, mine, theirs)) {
            failure->played = lines;
            failures_.push_back(*failure);
        }
        return true;
    }

    // What failed in one session, if anything: the library itself, the one
    // compared against, or the two not answering alike.
    std::optional<Failure> judged(int session, const Lines& lines, const SessionOutcome& mine,
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
            failure.message = options_.compare + " failed where " + options_.library +
                              " did not: " + theirs->message;
            return failure;
        }
        if (theirs != nullptr)
            return diverges(failure, mine, *theirs);
        return std::nullopt;
    }

    // Runs one session on its own (on both libraries when comparing) and judges it.
    // `sourcePlaces`: a fault names its function and line, where symbols can be read.
    std::optional<Failure> rerun(int session, const Lines& lines, bool sourcePlaces = false) {
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

    // The first transcript line where the two libraries differ, if any.
    std::optional<Failure> diverges(Failure failure, const SessionOutcome& mine,
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
        failure.message = "the libraries differ at transcript line " + std::to_string(line + 1) +
                          ": " + options_.library + ": " +
                          (line < a.size() ? a[line] : "(nothing)") + " | " + options_.compare +
                          ": " + (line < b.size() ? b[line] : "(nothing)");
        return failure;
    }

    ShrinkLimits shrinkLimits() const {
        ShrinkLimits limits;
        limits.deadline = deadline_;
        return limits;
    }

    void shrink(Failure& failure) {
        failure.foundStep = failure.step;
        failure.foundMessage = failure.message;
        // Steps after the failing one cannot matter.
        Lines lines = beforeStep(failure.lines, failure.step + 1);
        int tries = 0;
        Lines shrunk = shrinkSession(
            lines,
            [&](const Lines& candidate) {
                std::optional<Failure> again = rerun(failure.session, candidate);
                return again && again->kind == failure.kind;
            },
            shrinkLimits(), tries);
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

    // Saves the shrunk session with `expect` lines from a run of the steps before the failure.
    void save(Failure& failure) {
        bool fromReference = failure.kind == "divergence";
        int expectUpTo = fromReference ? failure.step + 1 : failure.step;
        Lines expected = beforeStep(failure.lines, expectUpTo);
        BatchSettings settings = settingsFor(fromReference ? options_.compare : options_.library);
        settings.deadline = saveDeadline();
        std::vector<SessionOutcome> run = runSessionBatch(settings, {expected}, nullptr);
        FailureStory story{options_.library,       fromReference ? options_.compare : "",
                           options_.seed,          failure.session,
                           levelIn(failure.lines), failure.message};
        makeFolders(options_.outFolder);
        failure.scenarioFile = options_.outFolder + "/seed-" + std::to_string(options_.seed) +
                               "-session-" + std::to_string(failure.session) + ".scenario";
        std::ofstream out(failure.scenarioFile, std::ios::binary);
        out << failureScenario(story, failure.lines, run.empty() ? SessionOutcome{} : run[0],
                               expectUpTo)
            << printedComment(run.empty() ? failure.prints : run[0].prints);
        out.close();
        if (out.fail())
            failure.scenarioFile += " (could not be written)";
    }

    // Saving a failure replays its steps once for the expect lines; past the
    // run's time all saves share a short grace, and a save that runs out of it
    // is written without them.
    ChildProcess::Deadline saveDeadline() const {
        return deadline_ == ChildProcess::noDeadline ? deadline_ : deadline_ + saveGrace;
    }

    void report(Failure& failure, bool shrinkIt) {
        std::cout << "validate: session " << failure.session << " (seed " << options_.seed
                  << ") failed in " << stepLine(failure.lines, failure.step) << ": "
                  << failure.message << "\n";
        if (failure.prints.bytes > 0)
            std::cout << "validate:   the script printed " << failure.prints.bytes
                      << " bytes in that session (captured, not shown)\n";
        if (!shrinkIt)
            return;
        int before = stepCount(beforeStep(failure.lines, failure.step + 1));
        shrink(failure);
        save(failure);
        std::cout << "validate:   shrunk from " << before << " to " << failure.shrunkSteps
                  << " steps in " << failure.shrinkTries << " tries"
                  << (timeIsUp() ? " (--time ran out while shrinking)" : "") << ": "
                  << failure.scenarioFile << "\n";
        if (failure.kind == "divergence") {
            std::cout << "validate:   " << failure.message << "\n";
            for (const std::string& line : beforeStep(failure.lines, failure.step + 1))
                std::cout << "validate:     " << line << "\n";
        }
        std::cout.flush();
    }

    // Hears sessions finished on any worker; a terminal sees the count.
    void showProgress(int moreDone) {
        sessionsDone_ += moreDone;
        if (!isatty(STDERR_FILENO))
            return;
        if (options_.sessionsGiven)
            std::fprintf(stderr, "\rvalidate: %d/%d sessions", sessionsDone_,
                         endSession() - firstSession());
        else
            std::fprintf(stderr, "\rvalidate: %d sessions", sessionsDone_);
        progressShown_ = true;
    }

    void endProgress() {
        if (progressShown_)
            std::fprintf(stderr, "\n");
        progressShown_ = false;
    }

    int finish() {
        double rate = seconds_ > 0 ? static_cast<double>(steps_) / seconds_ : 0;
        std::fprintf(stderr, "validate: %lld steps in %.2f s, %.0f steps/s\n", steps_, seconds_,
                     rate);
        std::cout << "validate: steps by kind:";
        for (const auto& [kind, count] : reach_.stepKinds)
            std::cout << " " << kind << " " << count;
        std::cout << "\nvalidate: controls exercised " << reach_.controls.size() << " of "
                  << layout_.controls.size() << "\n";
        // Keys the library itself names are the ones it can answer to.
        int named = 0;
        for (const std::string& key : reach_.parameterKeys)
            named += libraryWords_.count(key) != 0;
        std::cout << "validate: parameter keys sent " << reach_.parameterKeys.size() << " ("
                  << named << " named by the library); the script replied to:";
        for (const std::string& key : reach_.answeredKeys)
            std::cout << " " << key;
        std::cout << (reach_.answeredKeys.empty() ? " none\n" : "\n");
        if (explorer_)
            std::cout << "validate: guided search: " << explorer_->behaviours()
                      << " behaviours of the script, " << explorer_->blocksSeen()
                      << " code blocks, a corpus of " << explorer_->corpusSize() << " sessions; "
                      << explorer_->mutated() << " of " << sessionsPlayed_
                      << " sessions made by mutation, " << explorer_->dictionary().words().size()
                      << " dictionary words; " << explorer_->replacementsMade()
                      << " sessions with a value replaced by what the script compared it with ("
                      << explorer_->replacementsKept() << " kept)\n";
        if (outOfTime_) {
            std::cout << "validate: --time " << options_.seconds << " s ran out after "
                      << sessionsPlayed_;
            if (options_.sessionsGiven)
                std::cout << " of " << endSession() - firstSession();
            std::cout << " sessions\n";
        }
        std::cout << "validate: the script ran in child processes with "
                  << sandboxText(sandboxKind()) << "\n";
        std::cout << codeReachedText(reach_);
        if (!reach_.symbols.empty()) {
            sourceLines_ = reach_.sourceLines(sharedSymbolizer());
            referenceLines_ = reach_.sourceLines(sharedSymbolizer(), true);
        }
        // With --compare, the reference's share stands next to the library's.
        for (const std::optional<LineCoverage>* lines : {&sourceLines_, &referenceLines_})
            if (*lines)
                std::cout << sourceLinesText(**lines);
        std::cout << "validate: " << sessionsPlayed_ << " sessions";
        if (shardCount_ > 1)
            std::cout << " (shard " << shardIndex_ << "/" << shardCount_ << ": sessions "
                      << firstSession() << " to " << endSession() - 1 << ")";
        std::cout << ", " << steps_ << " steps, " << failures_.size() << " failures" << std::endl;
        if (!options_.jsonFile.empty() && !writeJson()) {
            std::cerr << "panel-host: cannot write " << options_.jsonFile << "\n";
            return badInput;
        }
        if (!options_.coverageFile.empty() && !writeText(options_.coverageFile, coverageText())) {
            std::cerr << "panel-host: cannot write " << options_.coverageFile << "\n";
            return badInput;
        }
        if (!options_.junitFile.empty() &&
            !writeJUnit(options_.junitFile, validateJUnit(report(), failedSteps()))) {
            std::cerr << "panel-host: cannot write " << options_.junitFile << "\n";
            return badInput;
        }
        if (!failures_.empty())
            return failedChecks;
        if (sessionsPlayed_ == 0) {
            std::cout << "validate: no session was played, so nothing was tested (give more --time)"
                      << std::endl;
            return nothingTested;
        }
        return passed;
    }

    // Where and how each failure's session failed, as generated, for people.
    std::vector<std::string> failedSteps() const {
        std::vector<std::string> where;
        for (const Failure& f : failures_)
            where.push_back(stepLine(f.played, f.shrunkSteps < 0 ? f.step : f.foundStep));
        return where;
    }

    ValidateReport report() const {
        ValidateReport report;
        report.library = options_.library;
        report.compare = options_.compare;
        report.seed = options_.seed;
        report.level = options_.levelGiven ? options_.level : 0; // 0: spread over every level
        report.stepsPerSession = options_.steps;
        report.totalSessions = options_.sessions;
        report.shardIndex = shardIndex_;
        report.shardCount = shardCount_;
        report.firstSession = firstSession();
        report.endSession = outOfTime_ ? firstSession() + sessionsPlayed_ : endSession();
        report.steps = steps_;
        report.seconds = seconds_;
        report.panelLayout = layoutFile_;
        report.panelControls = static_cast<int>(layout_.controls.size());
        report.reach = reach_;
        report.sourceLines = sourceLines_;
        report.referenceSourceLines = referenceLines_;
        report.search = explorer_ ? "guided" : "blind";
        report.outOfTime = outOfTime_;
        if (explorer_) {
            report.behaviours = static_cast<long long>(explorer_->behaviours());
            report.corpus = static_cast<long long>(explorer_->corpusSize());
            report.mutated = static_cast<long long>(explorer_->mutated());
            report.replacements = static_cast<long long>(explorer_->replacementsMade());
            report.replacementsKept = static_cast<long long>(explorer_->replacementsKept());
            report.dictionary = static_cast<long long>(explorer_->dictionary().words().size());
        }
        for (const Failure& f : failures_)
            report.failures.push_back(
                f.shrunkSteps < 0
                    ? ReportedFailure{f.session, f.step, f.kind, f.message, "", -1, -1}
                    : ReportedFailure{f.session, f.foundStep, f.kind, f.foundMessage,
                                      f.scenarioFile, f.shrunkSteps, f.step});
        return report;
    }

    bool writeJson() const {
        std::ofstream out(options_.jsonFile);
        out << reportJson(report()).dump(2, ' ', false, nlohmann::json::error_handler_t::replace)
            << "\n";
        out.close();
        return !out.fail();
    }

    // FILE.info: the lines reached, as an lcov tracefile; any other name: the blocks.
    std::string coverageText() const {
        const std::string info = ".info";
        const std::string& file = options_.coverageFile;
        bool lcov = file.size() > info.size() &&
                    file.compare(file.size() - info.size(), info.size(), info) == 0;
        if (!lcov)
            return blockListText(reach_);
        return sourceLines_ ? lcovTracefile(*sourceLines_, "validate")
                            : std::string(); // nothing to say by line without symbols
    }

    bool writeText(const std::string& path, const std::string& text) const {
        std::ofstream out(path, std::ios::binary);
        out << text;
        out.close();
        return !out.fail();
    }

    const ValidateOptions& options_;
    PanelLayout layout_;
    std::string layoutFile_;
    SessionReach reach_;
    // Once the run is over, where symbols were read: the library's, the reference's.
    std::optional<LineCoverage> sourceLines_, referenceLines_;
    std::vector<Failure> failures_;
    long long steps_ = 0;
    double seconds_ = 0;
    bool progressShown_ = false;
    std::unique_ptr<SessionExplorer> explorer_;
    std::set<std::string> libraryWords_;
    bool outOfTime_ = false;
    ChildProcess::Deadline deadline_ = ChildProcess::noDeadline; // the whole run's, shrinking too
    int sessionsPlayed_ = 0;
    int sessionsDone_ = 0;
    int shardIndex_ = 1;
    int shardCount_ = 1;
};

// Decimal digits only, and small enough that nothing wraps: a number past
// that is out of range, never read modulo 2^32.
bool wholeNumber(const std::string& text, long long& value) {
    if (text.empty() || text.size() > 12 ||
        text.find_first_not_of("0123456789") != std::string::npos)
        return false;
    value = std::stoll(text);
    return true;
}

// "K/N" with 1 <= K <= N <= sessions; false with the reason.
bool parseShard(const std::string& text, int sessions, int& index, int& count, std::string& why) {
    std::size_t slash = text.find('/');
    long long k = 0, n = 0;
    if (slash == std::string::npos || !wholeNumber(text.substr(0, slash), k) ||
        !wholeNumber(text.substr(slash + 1), n)) {
        why = "--shard takes K/N, such as 2/4";
        return false;
    }
    if (n < 1 || k < 1 || k > n) {
        why = "--shard K/N needs 1 <= K <= N";
        return false;
    }
    int batches = static_cast<int>((static_cast<size_t>(sessions) + batchSize - 1) / batchSize);
    if (n > batches) {
        why = "--shard: " + std::to_string(n) + " parts of " + std::to_string(sessions) +
              " sessions would leave some empty (a part is whole batches of " +
              std::to_string(batchSize) + " sessions)";
        return false;
    }
    index = static_cast<int>(k);
    count = static_cast<int>(n);
    return true;
}

// An empty path would name the working folder's parent or the root: refused like any bad value.
const CLI::Validator nonEmptyPath(
    [](std::string& path) { return path.empty() ? std::string("an empty path") : std::string(); },
    "PATH");

} // namespace

CLI::App* addValidateCommand(CLI::App& app, ValidateOptions& options) {
    CLI::App* command =
        app.add_subcommand("validate", "drive LIBRARY through seeded sessions as a strict host");
    command->add_option("library", options.library, "the panel script library")->required();
    command->add_option("--seed", options.seed, "the seed of the sessions (default 1)");
    command
        ->add_option("--sessions", options.sessions,
                     "how many sessions: all are played, whatever the time (default: as many as "
                     "--time allows, ending at the first round with a failure)")
        ->check(CLI::Range(1, 10000000))
        ->each([&options](const std::string&) { options.sessionsGiven = true; });
    command->add_option("--steps", options.steps, "steps a session (default 100)")
        ->check(CLI::Range(1, 100000));
    command
        ->add_option("--level", options.level,
                     "1 to 5: longer texts, stranger bytes, tighter budgets (default: sessions "
                     "spread over every level)")
        ->check(CLI::Range(1, 5))
        ->each([&options](const std::string&) { options.levelGiven = true; });
    command->add_option("--compare", options.compare, "a second library that must answer alike");
    command
        ->add_option("--out", options.outFolder,
                     "where shrunk failures are saved (default validate-failures)")
        ->check(nonEmptyPath);
    command->add_option("--json", options.jsonFile, "a JSON report for CI")->check(nonEmptyPath);
    command
        ->add_option("--coverage-out", options.coverageFile,
                     "write the blocks of the script's code that ran (emulated route); "
                     "FILE.info: the panel's source lines reached, as an lcov tracefile")
        ->check(nonEmptyPath);
    command
        ->add_option("--junit", options.junitFile,
                     "a JUnit XML report for CI: a test case a kind of failure")
        ->check(nonEmptyPath);
    command
        ->add_option("--hang-timeout", options.hangTimeoutMs,
                     "milliseconds without progress that count as a hang (default 5000)")
        ->check(CLI::Range(50, 3600000));
    command
        ->add_option("--jobs", options.jobs,
                     "batches of sessions played at once (default: one a core); the verdict is "
                     "the same for any number")
        ->check(CLI::Range(1, 256));
    command->add_option("--layout", options.layoutFile,
                        "the panel layout to drive (default: the one the script shows with PS, "
                        "else the one beside the library)");
    command->add_flag("--blind", options.blind,
                      "draw every session on its own, without the guided search (as before it; "
                      "shards are then exact parts of the unsplit run)");
    command
        ->add_option("--time", options.seconds,
                     "the whole run's bound in seconds, shrinking included (default 60; 0: none)")
        ->check(CLI::Range(0.0, 1e7));
    command->add_option("--shard", options.shard,
                        "K/N: play only the K-th of N equal parts of the sessions, for splitting "
                        "one run over machines (merge their --json with merge-reports)");
    return command;
}

int validate(const ValidateOptions& options) {
    Validation validation(options);
    if (!options.shard.empty()) {
        int index = 1, count = 1;
        std::string why;
        if (!parseShard(options.shard, options.sessions, index, count, why)) {
            std::cerr << "panel-host: " << why << "\n";
            return badInput;
        }
        validation.setShard(index, count);
    }
    int status = validation.run();
    if (!options.junitFile.empty() && (status == cannotLoad || status == noPanel)) {
        JUnitCase c{"validate", "panel-host.validate", 0, {}, {}, {}, "", ""};
        c.error = status == cannotLoad ? "the library could not be loaded: " + options.library
                                       : "no panel to drive: no control step could be drawn";
        writeJUnit(options.junitFile, JUnitSuite{"panel-host validate " + options.library, 0, {c}});
    }
    return status;
}
