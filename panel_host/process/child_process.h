// Runs a piece of panel-host in a child process, so that a script that
// crashes, aborts, exits or hangs ends the child and not panel-host. The child
// reports its progress through shared memory; the parent names the step it
// stopped at and how. Without fork (Windows) the body runs in-process.
#ifndef CHILD_PROCESS_H
#define CHILD_PROCESS_H

#include <atomic>
#include <chrono>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <string>

// Shared between parent and child. Written only by the child.
struct ChildProgress {
    std::atomic<std::uint64_t> beats{0}; // one per step begun
    std::atomic<std::int64_t> session{-1};
    std::atomic<std::int64_t> step{-1};
    std::atomic<bool> finished{false}; // the body returned normally
    std::atomic<int> channelLost{-1};  // the kept descriptor the script closed or replaced
    // The channel checked as each step begins (a system call a step), or only
    // where the body calls checkChannel itself.
    bool channelEachStep = true;

    // Ends the child, blaming the step under way, when the script has closed
    // or replaced a descriptor panel-host talks through; `thorough` compares
    // the files themselves (before an exchange), not only a flag (each step).
    void checkChannel(bool thorough = false);

    void begin(std::int64_t sessionNumber, std::int64_t stepNumber) {
        if (channelEachStep)
            checkChannel();
        session.store(sessionNumber, std::memory_order_relaxed);
        step.store(stepNumber, std::memory_order_relaxed);
        beats.fetch_add(1, std::memory_order_release);
    }
};

struct ChildEnd {
    // outOfTime: the caller's deadline came first, and the child was ended.
    enum Kind {
        finished,
        exited,
        signalled,
        timedOut,
        outOfTime,
        failedToStart,
        lostChannel // the script closed or replaced the child's channel to panel-host
    } kind = finished;
    int exitCode = 0; // finished, exited
    int signal = 0;   // signalled
    std::int64_t session = -1;
    std::int64_t step = -1;
    int timeoutMs = 0; // timedOut
    int channel = -1;  // lostChannel: the descriptor

    // "crashed with signal 11 (Segmentation fault)", "ended the process with exit status 0", ...
    std::string describe() const;
};

// Writes all of `bytes` to `fd` (a pipe to the parent, say), going on after
// interruptions; false when the other end is gone.
bool writeAll(int fd, const std::string& bytes);

// The descriptors a child talks to panel-host through, kept out of a script's
// way: moved above the numbers a script uses, close-on-exec, and checked
// before each step (ChildProgress::begin) and each exchange.
namespace childChannel {
// Moves `fd` to a high number (closing the original) and keeps it; -1 stays -1.
int keep(int fd);
// The first kept descriptor that is closed or is no longer the same file, or
// -1; `thorough` compares the file itself, not only the descriptor's flag.
int broken(bool thorough);
} // namespace childChannel

class ChildProcess {
  public:
    // The body's return value is the child's exit status. It may write to
    // `outputFd`; every chunk reaches `onOutput` in the parent, in order.
    using Body = std::function<int(ChildProgress& progress, int outputFd)>;
    using Output = std::function<void(const char* bytes, std::size_t size)>;

    using Deadline = std::chrono::steady_clock::time_point;
    static constexpr Deadline noDeadline = Deadline::max();

    // What the script prints on stdout and stderr: passed on as it is, or
    // captured by the child's supervisor, counted, and kept up to
    // printedKeptBytes a session (takePrinted), never reaching our output.
    enum class Prints { passedOn, captured };

    // Runs body in a child; a step that makes no progress for stepTimeoutMs
    // (0: no limit) is ended with SIGKILL, and so is the whole child once
    // `deadline` has passed, whatever it is doing.
    static ChildEnd run(const Body& body, int stepTimeoutMs, const Output& onOutput,
                        Deadline deadline = noDeadline, Prints prints = Prints::passedOn);
};

// What a session's script printed, where prints are captured.
struct ScriptPrints {
    std::uint64_t bytes = 0; // everything it printed
    std::string kept;        // the first printedKeptBytes of it
};
constexpr std::size_t printedKeptBytes = 2048;

// In the child, at a session's end: what the script printed since the last
// call, once the supervisor has taken all of it; nothing when not captured.
ScriptPrints takePrinted();

#endif
