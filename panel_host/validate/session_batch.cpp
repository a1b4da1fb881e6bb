#include "session_batch.h"

#include "outcome_frames.h"
#include "symbolizer_process.h"

#include <cstdint>
#include <cstring>
#include <dlfcn.h>
#include <unistd.h>

namespace {

// Takes every whole frame off the front of `pending`; the current child's
// outcomes start at `childFirst` (a frame may refer to the outcome before it
// from the same child).
void takeFrames(std::string& pending, std::vector<SessionOutcome>& outcomes, size_t childFirst) {
    std::size_t at = 0;
    std::string body;
    while (takeFrame(pending, at, body)) {
        SessionOutcome outcome;
        const SessionOutcome* previous = outcomes.size() > childFirst ? &outcomes.back() : nullptr;
        if (!decodeOutcome(body, outcome, previous)) {
            outcome.failed = true;
            outcome.kind = outcome.message = "garbled outcome from the session's process";
        }
        outcomes.push_back(std::move(outcome));
    }
    pending.erase(0, at);
}

SessionOutcome endedChild(const ChildEnd& end) {
    SessionOutcome outcome;
    outcome.failed = true;
    std::string how = end.describe();
    outcome.kind = end.kind == ChildEnd::signalled ? how.substr(0, how.find(" (")) : how;
    if (end.kind == ChildEnd::exited)
        outcome.kind = "ended the process";
    outcome.message = "the script " + how;
    outcome.failedStep = static_cast<int>(end.step) - 1; // progress counts the load as 0
    return outcome;
}

} // namespace

std::vector<SessionOutcome> runSessionBatch(const BatchSettings& settings,
                                            const std::vector<SessionLines>& sessions,
                                            const std::function<void(size_t done)>& onDone) {
    std::vector<SessionOutcome> outcomes;
    while (outcomes.size() < sessions.size()) {
        size_t first = outcomes.size();
        std::string pending;
        ChildEnd end = ChildProcess::run(
            [&](ChildProgress& progress, int fd) {
                // A native library stays loaded for the child's sessions, as in a
                // host that shows several panels: each session still gets a new
                // script object, without the loader's cost. A DLL on the
                // emulated route stays loaded as well, rewound between sessions
                // with its translated code kept.
                progress.channelEachStep = settings.channelEachStep;
                progress.begin(static_cast<std::int64_t>(first), 0);
                sharedSymbolizer().setEnabled(settings.sourcePlaces);
                void* resident = dlopen(settings.session.library.c_str(), RTLD_NOW | RTLD_LOCAL);
                ResidentRoute route;
                SessionOutcome previous;
                for (size_t i = first; i < sessions.size(); ++i) {
                    SessionOutcome outcome = runSession(settings.session, sessions[i], progress,
                                                        static_cast<int>(i), &route);
                    progress.checkChannel(true);
                    if (!writeAll(fd, encodeOutcome(outcome, i > first ? &previous : nullptr)))
                        _exit(3); // the parent is gone
                    previous.coverage = std::move(outcome.coverage);
                    if (outcome.cannotLoad || outcome.kind == leftProcessesKind)
                        break;
                }
                route.route.reset();
                if (resident != nullptr)
                    dlclose(resident);
                return 0;
            },
            settings.hangTimeoutMs,
            [&](const char* bytes, size_t size) {
                pending.append(bytes, size);
                takeFrames(pending, outcomes, first);
                if (onDone)
                    onDone(outcomes.size());
            },
            settings.deadline, ChildProcess::Prints::captured);
        if (end.kind == ChildEnd::outOfTime)
            break;
        if (!outcomes.empty() && outcomes.back().cannotLoad)
            break;
        if (end.kind == ChildEnd::lostChannel && !settings.channelEachStep &&
            outcomes.size() < sessions.size()) {
            BatchSettings alone = settings;
            alone.channelEachStep = true;
            std::vector<SessionOutcome> again =
                runSessionBatch(alone, {sessions[outcomes.size()]}, nullptr);
            outcomes.push_back(again.empty() ? endedChild(end) : again.front());
            if (onDone)
                onDone(outcomes.size());
        } else if (end.kind != ChildEnd::finished && outcomes.size() < sessions.size()) {
            outcomes.push_back(endedChild(end));
            if (onDone)
                onDone(outcomes.size());
        }
        bool leftProcesses = !outcomes.empty() && outcomes.back().kind == leftProcessesKind;
        if (end.kind == ChildEnd::finished && outcomes.size() < sessions.size() && !leftProcesses)
            break; // a child that finished without every outcome: nothing more to gain
    }
    return outcomes;
}
