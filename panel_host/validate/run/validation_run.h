// One validate run: the panel chosen, sessions drawn or mutated in rounds,
// played in batches on every worker, judged in session order, and each
// failure shrunk and saved. Options in, a result out; the log hears the rest.
#ifndef VALIDATION_RUN_H
#define VALIDATION_RUN_H

#include "failure_review.h"
#include "panel_layout.h"
#include "session_explorer.h"
#include "session_features.h"
#include "session_reach.h"
#include "validation_log.h"
#include "validation_options.h"
#include "validation_result.h"

#include <memory>
#include <optional>
#include <set>
#include <string>
#include <vector>

class ValidationRun {
  public:
    ValidationRun(const ValidationOptions& options, ValidationLog& log)
        : options_(options), log_(log) {}

    // Runs to the end of its sessions or its time, shrinking included.
    ValidationResult run();

  private:
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

    ValidationResult::End choosePanelToDrive(FailureReview& review);
    void startExplorer();
    bool playRounds(FailureReview& review);
    int roundSize(int round) const;
    bool runWindow(int first, int count, int& played, FailureReview& review,
                   const std::vector<Lines>* given = nullptr);
    bool playCorpus(FailureReview& review);
    void keep(const Lines& lines, bool kept);
    std::string playBatch(const BatchResult& batch, const FailureReview& review) const;
    void takeBatch(const std::optional<std::string>& bytes, BatchResult& batch) const;
    bool judge(const BatchResult& batch, size_t i, const SessionOutcome* theirs,
               const FailureReview& review);
    bool loaded(const std::vector<SessionOutcome>& outcomes);
    Lines linesOf(const BatchResult& batch, size_t i) const;
    Lines sessionLines(int session) const;
    int levelOf(int session) const;
    int firstSession() const;
    int endSession() const;
    int shardStart(int k) const;
    int jobs() const;
    bool timeIsUp() const;
    void showProgress(int moreDone);
    ValidationResult result() const;
    ValidateReport report() const;

    const ValidationOptions& options_;
    ValidationLog& log_;
    PanelLayout layout_;
    std::string layoutFile_;
    SessionReach reach_;
    // Once the run is over, where symbols were read: the library's, the reference's.
    std::optional<LineCoverage> sourceLines_, referenceLines_;
    std::vector<Failure> failures_;
    long long steps_ = 0;
    double seconds_ = 0;
    std::unique_ptr<SessionExplorer> explorer_;
    std::set<std::string> libraryWords_;
    bool outOfTime_ = false;
    ChildProcess::Deadline deadline_ = ChildProcess::noDeadline; // the whole run's, shrinking too
    int sessionsPlayed_ = 0;
    int sessionsDone_ = 0;
    bool fromCorpus_ = false; // the window under way plays the sessions read from --corpus
    int corpusRead_ = 0, corpusSkipped_ = 0, corpusWritten_ = 0, corpusPickedUp_ = 0;
    std::set<std::string> corpusKnown_; // names in --corpus read or written by this run
    bool corpusOpened_ = false;
};

#endif
