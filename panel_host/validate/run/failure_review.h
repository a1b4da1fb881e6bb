// A session that failed, judged, shrunk and saved as a scenario `run` replays:
// what a validate run does with each failure it finds.
#ifndef FAILURE_REVIEW_H
#define FAILURE_REVIEW_H

#include "session_batch.h"
#include "validation_log.h"
#include "validation_options.h"

#include <optional>
#include <string>
#include <vector>

using Lines = std::vector<std::string>;

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

// Steps of a session: its lines less the start-up settings.
int stepCount(const Lines& lines);
// The step at `index` as its line, "the load" (-1) or "the delete" (past the last).
std::string stepLine(const Lines& lines, int index);

// The folder and any of its parents that are missing, as `mkdir -p` makes them.
void makeFolders(const std::string& path);

class FailureReview {
  public:
    // `deadline` bounds the reruns, shrinking included; saving has a short grace past it.
    FailureReview(const ValidationOptions& options, ChildProcess::Deadline deadline,
                  ValidationLog& log)
        : options_(options), deadline_(deadline), log_(log) {}

    // How sessions of `library` are played in this run.
    BatchSettings settingsFor(const std::string& library) const;

    // What failed in one session, if anything: the library itself, the one
    // compared against, or the two not answering alike.
    std::optional<Failure> judged(int session, const Lines& lines, const SessionOutcome& mine,
                                  const SessionOutcome* theirs) const;

    // Tells the failure; when `shrinkIt`, shrinks it and saves the scenario.
    void report(Failure& failure, bool shrinkIt);

  private:
    std::optional<Failure> rerun(int session, const Lines& lines, bool sourcePlaces = false);
    std::optional<Failure> diverges(Failure failure, const SessionOutcome& mine,
                                    const SessionOutcome& theirs) const;
    void shrink(Failure& failure);
    void save(Failure& failure);
    bool timeIsUp() const;
    std::string sessionName(int session, const char* space) const;

    const ValidationOptions& options_;
    ChildProcess::Deadline deadline_;
    ValidationLog& log_;
};

#endif
