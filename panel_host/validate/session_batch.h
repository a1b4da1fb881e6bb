// Runs validate sessions in child processes, many to a child for speed. A
// session that crashes, aborts, exits or hangs ends its child; it is recorded
// as failed at the step the child reached, and a new child takes the rest.
#ifndef SESSION_BATCH_H
#define SESSION_BATCH_H

#include "session_runner.h"

#include <functional>
#include <string>
#include <vector>

using SessionLines = std::vector<std::string>;

struct BatchSettings {
    SessionSettings session;
    int hangTimeoutMs = 5000; // a step without progress for this long is a hang
    // When the run's time is up: the session in progress is stopped and no
    // more start; neither counts as played.
    ChildProcess::Deadline deadline = ChildProcess::noDeadline;
    // Faults named by function and line where the script's symbols can be
    // read. Each batch child would start its own symbolizer, so the search
    // and the shrinking go without; a failure's final runs ask for them.
    bool sourcePlaces = false;
    // The child's channel checked as each step begins; otherwise after each
    // session, and a session found to have broken it is played again alone,
    // step by step, to name the step (a system call a step saved in the search).
    bool channelEachStep = false;
};

// One outcome per session, in order; fewer than `sessions` only when the
// deadline came first. `onDone` hears the count done so far.
std::vector<SessionOutcome> runSessionBatch(const BatchSettings& settings,
                                            const std::vector<SessionLines>& sessions,
                                            const std::function<void(size_t done)>& onDone);

#endif
