#include "validation_run.h"

#include "corpus_folder.h"
#include "outcome_frames.h"
#include "panel_choice.h"
#include "session_generator.h"
#include "symbolizer_process.h"
#include "worker_pool.h"

#include <algorithm>
#include <chrono>
#include <thread>
#include <unordered_set>

namespace {

double elapsedSince(std::chrono::steady_clock::time_point start) {
    return std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
}

bool cannotLoadIn(const std::vector<SessionOutcome>& outcomes) {
    return !outcomes.empty() && outcomes.front().cannotLoad;
}

} // namespace

ValidationResult ValidationRun::run() {
    auto start = std::chrono::steady_clock::now();
    if (options_.seconds > 0)
        deadline_ = start + std::chrono::duration_cast<std::chrono::steady_clock::duration>(
                                std::chrono::duration<double>(options_.seconds));
    FailureReview review(options_, deadline_, log_);
    ValidationResult::End end = choosePanelToDrive(review);
    if (end != ValidationResult::ran) {
        ValidationResult refused;
        refused.end = end;
        return refused;
    }
    if (failures_.empty())
        startExplorer();
    if (!playCorpus(review) || !playRounds(review)) {
        ValidationResult refused;
        refused.end = ValidationResult::cannotLoad;
        return refused;
    }
    seconds_ = elapsedSince(start);
    log_.endProgress();
    for (size_t i = 0; i < failures_.size(); ++i)
        review.report(failures_[i], static_cast<int>(i) < options_.maxShrunk);
    if (!reach_.symbols.empty()) {
        sourceLines_ = reach_.sourceLines(sharedSymbolizer());
        referenceLines_ = reach_.sourceLines(sharedSymbolizer(), true);
    }
    return result();
}

// The sessions in --corpus not read yet, played as sessions numbered below
// those read before (-1, -2, ...), so that what they reach feeds the search:
// all of them before the first round, then those other runs on the same
// folder added, at the start of each round. False when the library could not
// be loaded at all.
bool ValidationRun::playCorpus(FailureReview& review) {
    if (options_.corpus.empty() || !explorer_ || !failures_.empty())
        return true;
    bool first = !corpusOpened_;
    corpusOpened_ = true;
    if (first)
        makeFolders(options_.corpus);
    CorpusSessions read = readCorpusFolder(options_.corpus, layout_, corpusKnown_);
    int count = static_cast<int>(read.sessions.size());
    corpusSkipped_ += read.skipped;
    (first ? corpusRead_ : corpusPickedUp_) += count;
    if (first)
        log_.note("validate: corpus " + options_.corpus + ": " + std::to_string(count) +
                  " sessions read, " + std::to_string(read.skipped) + " files skipped");
    if (count == 0)
        return true;
    // Numbered from the lowest up, so the folder's first file is the
    // highest of the block: -(before + count) .. -(before + 1).
    std::reverse(read.sessions.begin(), read.sessions.end());
    int before = corpusRead_ + corpusPickedUp_ - count;
    fromCorpus_ = true;
    int played = 0;
    bool ok = runWindow(-(before + count), count, played, review, &read.sessions);
    fromCorpus_ = false;
    return ok;
}

// A session the search kept goes into --corpus too, unless it came from there.
void ValidationRun::keep(const Lines& lines, bool kept) {
    if (!kept || fromCorpus_ || options_.corpus.empty())
        return;
    std::string name = writeCorpusSession(options_.corpus, lines);
    if (!name.empty() && corpusKnown_.insert(name).second)
        ++corpusWritten_;
}

// Rounds until the sessions or the time run out; false when the library
// could not be loaded at all.
bool ValidationRun::playRounds(FailureReview& review) {
    int round = 0;
    for (int first = firstSession(); failures_.empty() && first < endSession(); ++round) {
        if (timeIsUp()) {
            outOfTime_ = true;
            break;
        }
        if (round > 0 && !playCorpus(review))
            return false; // what other runs on the folder added since
        int count = std::min(roundSize(round), endSession() - first);
        int played = 0;
        if (!runWindow(first, count, played, review))
            return false;
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
    return true;
}

bool ValidationRun::timeIsUp() const {
    return std::chrono::steady_clock::now() >= deadline_;
}

// Blind: windows of a few batches a worker, judged in session order
// however the workers finish. Guided: rounds of a size of their own, so
// the corpus grows alike for any number of workers; small at first, so
// that feedback comes early.
int ValidationRun::roundSize(int round) const {
    if (!explorer_)
        return sessionBatchSize * jobs() * 4;
    return sessionBatchSize << std::min(round, 3);
}

void ValidationRun::startExplorer() {
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
    explorer_ =
        std::make_unique<SessionExplorer>(settings, layout_, std::move(dictionary),
                                          [this](int session) { return sessionLines(session); });
    log_.note("validate: guided search, dictionary of " + std::to_string(fromLibrary) +
              " words from the layout and the library");
}

// The panel the sessions press and pick on; a run that could draw no
// control step would say nothing of the script, so it does not run.
ValidationResult::End ValidationRun::choosePanelToDrive(FailureReview& review) {
    PanelChoice choice;
    std::string why;
    if (!choosePanel(options_.library, options_.layoutFile, options_.hangTimeoutMs, choice, why,
                     deadline_)) {
        log_.note("panel-host: " + why);
        return ValidationResult::badInput;
    }
    if (choice.cannotLoad) {
        log_.note("panel-host: " + choice.source);
        return ValidationResult::cannotLoad;
    }
    if (const std::optional<SessionOutcome>& failed = choice.failedBeforeSteps) {
        // Reported as any failure: the session, saved, replays it.
        if (std::optional<Failure> failure = review.judged(0, probeLines(), *failed, nullptr)) {
            failure->played = failure->lines;
            failures_.push_back(*failure);
        }
        log_.note("validate: " + choice.source);
        return ValidationResult::ran;
    }
    layout_ = choice.layout;
    layoutFile_ = choice.file;
    if (layout_.controls.empty()) {
        log_.note("panel-host: validate has no panel to drive: " +
                  (choice.file.empty() ? choice.source : choice.file + " has no controls") +
                  "; no control step can be drawn (give one with --layout FILE)");
        return ValidationResult::noPanel;
    }
    log_.note("validate: panel " + layout_.panel + " from " + choice.source + ": " + choice.file +
              " (" + std::to_string(layout_.controls.size()) + " controls)");
    return ValidationResult::ran;
}

// The sessions of this shard: [firstSession, endSession) of the whole run's.
int ValidationRun::firstSession() const {
    return shardStart(options_.shardIndex - 1);
}
int ValidationRun::endSession() const {
    return shardStart(options_.shardIndex);
}

// Shards are whole batches, so each session shares its child process with
// the same sessions as in the unsplit run: a script's leftover state meets
// it alike either way.
int ValidationRun::shardStart(int k) const {
    long long batch = sessionBatchSize;
    long long batches = (options_.sessions + batch - 1) / batch;
    long long start = batches * k / options_.shardCount * batch;
    return static_cast<int>(std::min<long long>(start, options_.sessions));
}

int ValidationRun::jobs() const {
    if (options_.jobs > 0)
        return options_.jobs;
    unsigned cores = std::thread::hardware_concurrency();
    return cores == 0 ? 1 : static_cast<int>(cores);
}

// Without --level, sessions are drawn at every level, half of them at
// level 1: longer texts and stranger bytes come into every run. Their
// budget stays level 1's: a tighter wall-clock budget would fail a sound
// script on a busy machine, so it is asked for with --level.
int ValidationRun::levelOf(int session) const {
    static const int spread[] = {1, 2, 1, 3, 1, 4, 1, 5};
    return options_.levelGiven ? options_.level : spread[session % 8];
}

Lines ValidationRun::sessionLines(int session) const {
    SessionPlan plan{options_.seed, session, options_.steps, levelOf(session)};
    GeneratedSession generated = generateSession(plan, layout_, 7);
    Lines lines = generated.startup;
    lines.push_back("startup level " + std::to_string(options_.levelGiven ? plan.level : 1));
    lines.insert(lines.end(), generated.steps.begin(), generated.steps.end());
    return lines;
}

// Plays one batch on the library and, when comparing, on the reference;
// runs in a worker process, so its outcomes come back as bytes.
std::string ValidationRun::playBatch(const BatchResult& batch, const FailureReview& review) const {
    std::vector<Lines> drawn;
    for (int s = batch.first; batch.lines.empty() && s < batch.first + batch.count; ++s)
        drawn.push_back(sessionLines(s));
    const std::vector<Lines>& sessions = batch.lines.empty() ? drawn : batch.lines;
    // Blind, a session that passes is judged without its commands, and
    // one that fails is played again for its expect lines.
    BatchSettings settings = review.settingsFor(options_.library);
    settings.session.recordCommands = !options_.blind;
    std::vector<SessionOutcome> mine = runSessionBatch(settings, sessions, nullptr);
    std::vector<SessionOutcome> theirs;
    if (!options_.compare.empty() && !cannotLoadIn(mine))
        theirs = runSessionBatch(review.settingsFor(options_.compare), sessions, nullptr);
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
        if (mine[i].failed || (other && (other->failed || other->transcript != mine[i].transcript)))
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
void ValidationRun::takeBatch(const std::optional<std::string>& bytes, BatchResult& batch) const {
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
Lines ValidationRun::linesOf(const BatchResult& batch, size_t i) const {
    return batch.lines.empty() ? sessionLines(batch.first + static_cast<int>(i)) : batch.lines[i];
}

// False, and says why, when the library could not be loaded at all.
bool ValidationRun::loaded(const std::vector<SessionOutcome>& outcomes) {
    if (!cannotLoadIn(outcomes))
        return true;
    log_.endProgress();
    log_.note("panel-host: " + outcomes.front().message);
    return false;
}

// Plays sessions first .. first + count - 1 and judges them in order;
// `played` is how many were judged: fewer than `count` only when the
// run's time stopped sessions under way.
bool ValidationRun::runWindow(int first, int count, int& played, FailureReview& review,
                              const std::vector<Lines>* given) {
    std::vector<BatchResult> batches(
        (static_cast<size_t>(count) + static_cast<size_t>(sessionBatchSize) - 1) /
        static_cast<size_t>(sessionBatchSize));
    for (size_t b = 0; b < batches.size(); ++b) {
        batches[b].first = first + static_cast<int>(b * static_cast<size_t>(sessionBatchSize));
        batches[b].count =
            std::min(first + count, batches[b].first + sessionBatchSize) - batches[b].first;
        for (int s = batches[b].first; explorer_ && s < batches[b].first + batches[b].count; ++s)
            batches[b].lines.push_back(given ? (*given)[static_cast<size_t>(s - first)]
                                             : explorer_->session(s));
    }
    std::vector<std::optional<std::string>> outcomes = runInWorkers(
        batches.size(), jobs(), [&](size_t b) { return playBatch(batches[b], review); },
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
            bool failed = judge(batch, i, other, review);
            if (explorer_ && i < batch.features.size())
                keep(batch.lines[i], explorer_->offer(batch.lines[i], batch.features[i], failed));
        }
        played += static_cast<int>(judged);
        if (judged < static_cast<size_t>(batch.count))
            break; // later sessions, even if some were played, come after a gap
    }
    return true;
}

// True when the session failed, on either library or by their answering apart.
bool ValidationRun::judge(const BatchResult& batch, size_t i, const SessionOutcome* theirs,
                          const FailureReview& review) {
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
    if (std::optional<Failure> failure = review.judged(session, lines, mine, theirs)) {
        failure->played = lines;
        failures_.push_back(*failure);
    }
    return true;
}

// Hears sessions finished on any worker.
void ValidationRun::showProgress(int moreDone) {
    sessionsDone_ += moreDone;
    log_.progress(sessionsDone_, options_.sessionsGiven ? endSession() - firstSession() : 0);
}

ValidateReport ValidationRun::report() const {
    ValidateReport report;
    report.library = options_.library;
    report.compare = options_.compare;
    report.seed = options_.seed;
    report.level = options_.levelGiven ? options_.level : 0; // 0: spread over every level
    report.stepsPerSession = options_.steps;
    report.totalSessions = options_.sessions;
    report.shardIndex = options_.shardIndex;
    report.shardCount = options_.shardCount;
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
            f.shrunkSteps < 0 ? ReportedFailure{f.session, f.step, f.kind, f.message, "", -1, -1}
                              : ReportedFailure{f.session, f.foundStep, f.kind, f.foundMessage,
                                                f.scenarioFile, f.shrunkSteps, f.step});
    return report;
}

ValidationResult ValidationRun::result() const {
    ValidationResult result;
    result.report = report();
    for (const Failure& f : failures_) // where each failed as generated, for people
        result.failedSteps.push_back(stepLine(f.played, f.shrunkSteps < 0 ? f.step : f.foundStep));
    result.sessionsPlayed = sessionsPlayed_;
    result.sessionsPlanned = endSession() - firstSession();
    // Keys the library itself names are the ones it can answer to.
    for (const std::string& key : reach_.parameterKeys)
        result.namedKeys += libraryWords_.count(key) != 0;
    if (explorer_)
        result.blocksSeen = static_cast<long long>(explorer_->blocksSeen());
    result.corpusRead = corpusRead_;
    result.corpusSkipped = corpusSkipped_;
    result.corpusWritten = corpusWritten_;
    result.corpusPickedUp = corpusPickedUp_;
    return result;
}
