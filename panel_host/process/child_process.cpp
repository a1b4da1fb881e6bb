#include "child_process.h"

#include "script_sandbox.h"

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <iostream>
#include <new>
#include <unistd.h>

#if !defined(_WIN32)
#include <cerrno>
#include <csignal>
#include <fcntl.h>
#include <poll.h>
#if defined(__linux__)
#include <sys/prctl.h>
#endif
#include <sys/ioctl.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>
#if defined(__linux__)
#include <sys/syscall.h>
#endif
#endif

bool writeAll(int fd, const std::string& bytes) {
    for (std::size_t done = 0; done < bytes.size();) {
        ssize_t wrote = write(fd, bytes.data() + done, bytes.size() - done);
        if (wrote < 0 && errno == EINTR)
            continue;
        if (wrote <= 0)
            return false;
        done += static_cast<std::size_t>(wrote);
    }
    return true;
}

std::string ChildEnd::describe() const {
    switch (kind) {
    case finished:
        return "finished";
    case exited:
        return "ended the process with exit status " + std::to_string(exitCode);
    case signalled: {
#if defined(_WIN32)
        return "was ended by signal " + std::to_string(signal);
#else
        const char* name = strsignal(signal);
        return (signal == SIGABRT ? "aborted" : "crashed") + std::string(" with signal ") +
               std::to_string(signal) + " (" + (name ? name : "unknown") + ")";
#endif
    }
    case timedOut:
        return "did not finish a step within " + std::to_string(timeoutMs) + " ms";
    case outOfTime:
        return "was stopped when the run's time ran out";
    case failedToStart:
        return "could not be started in a child process";
    case lostChannel:
        return "closed or replaced the descriptor panel-host's child talks through (" +
               std::to_string(channel) + ")";
    }
    return "ended";
}

#if defined(_WIN32)

void ChildProgress::checkChannel(bool) {}
ScriptPrints takePrinted() {
    return {};
}
int childChannel::keep(int fd) {
    return fd;
}
int childChannel::broken(bool) {
    return -1;
}

ChildEnd ChildProcess::run(const Body& body, int, const Output&, Deadline, Prints) {
    ChildProgress progress;
    ChildEnd end;
    end.exitCode = body(progress, -1);
    end.session = progress.session;
    end.step = progress.step;
    return end;
}

#else

namespace {

using Clock = std::chrono::steady_clock;

// The exit status of a child that found its channel broken.
constexpr int channelLostStatus = 121;

// Written only by the supervisor of the script's process, in a page that
// process unmaps before the script runs: how the script's process ended.
struct ChildVerdict {
    std::atomic<bool> scriptEnded{false};
    std::atomic<int> scriptStatus{0};
    std::atomic<pid_t> scriptPid{0};     // as panel-host numbers it; 0 inside a namespace
    std::atomic<pid_t> namespaceInit{0}; // the namespace's first process, as panel-host numbers it
};

// What the supervisor took from the script's prints: written by the
// supervisor while `busy`, read and reset by the script's process once the
// pipe is empty and the supervisor is not busy.
struct PrintedOutput {
    std::atomic<bool> busy{false};
    std::atomic<std::uint64_t> bytes{0};
    std::atomic<std::uint32_t> keptBytes{0};
    char kept[printedKeptBytes];
};

// One page each: progress (the script's process writes it), the verdict
// (it never sees it) and the prints.
constexpr std::size_t sharedPage = 4096;
static_assert(sizeof(ChildProgress) <= sharedPage && sizeof(ChildVerdict) <= sharedPage &&
              sizeof(PrintedOutput) <= sharedPage);

// In the script's process where prints are captured: the page and the pipe's
// end its stdout and stderr write to.
PrintedOutput* printed = nullptr;
int printedPipe = -1;

// Supervisor: takes what is in the pipe, counting all, keeping the first bytes.
bool takePrints(int fd, PrintedOutput& out) {
    char buffer[65536];
    out.busy.store(true);
    ssize_t got = read(fd, buffer, sizeof buffer);
    if (got > 0) {
        std::uint32_t kept = out.keptBytes.load();
        std::size_t room = printedKeptBytes - kept;
        std::size_t copy = std::min(room, static_cast<std::size_t>(got));
        std::memcpy(out.kept + kept, buffer, copy);
        out.keptBytes.store(kept + static_cast<std::uint32_t>(copy));
        out.bytes.fetch_add(static_cast<std::uint64_t>(got));
    }
    out.busy.store(false);
    return got > 0 || (got < 0 && errno == EINTR);
}

struct KeptChannel {
    int fd = -1;
    dev_t device = 0;
    ino_t inode = 0;
};
KeptChannel kept[4];
int keptCount = 0;

ChildEnd endOf(int status, const ChildProgress& progress, const ChildVerdict& verdict) {
    if (verdict.scriptEnded.load())
        status = verdict.scriptStatus.load();
    ChildEnd end;
    end.session = progress.session.load();
    end.step = progress.step.load();
    if (WIFSIGNALED(status)) {
        end.kind = ChildEnd::signalled;
        end.signal = WTERMSIG(status);
    } else {
        end.exitCode = WEXITSTATUS(status);
        end.kind = progress.finished.load() ? ChildEnd::finished : ChildEnd::exited;
        if (end.exitCode == channelLostStatus && progress.channelLost.load() >= 0) {
            end.kind = ChildEnd::lostChannel;
            end.channel = progress.channelLost.load();
        }
    }
    return end;
}

// The script's process first, or the first process of its namespace (whose
// end takes every process in it, and whose parent, the child, ends once they
// are all gone), so that nothing of the script outlives this call; then the
// child itself.
ChildEnd killed(pid_t child, const ChildProgress& progress, const ChildVerdict& verdict,
                ChildEnd::Kind why) {
    int status = 0;
    pid_t first =
        verdict.scriptPid.load() > 0 ? verdict.scriptPid.load() : verdict.namespaceInit.load();
    bool reaped = false;
    if (first > 0) {
        kill(first, SIGKILL);
        for (int wait = 0; wait < 200 && !reaped; ++wait) {
            reaped = waitpid(child, &status, WNOHANG) == child;
            if (!reaped)
                usleep(5000);
        }
    }
    if (!reaped) {
        kill(child, SIGKILL);
        waitpid(child, &status, 0);
    }
    ChildEnd end = endOf(status, progress, verdict);
    end.kind = why;
    return end;
}

// What the child wrote and the parent has not read yet.
void drain(int fd, const ChildProcess::Output& onOutput) {
    fcntl(fd, F_SETFL, fcntl(fd, F_GETFL) | O_NONBLOCK);
    char buffer[65536];
    for (ssize_t got; (got = read(fd, buffer, sizeof buffer)) > 0;)
        if (onOutput)
            onOutput(buffer, static_cast<std::size_t>(got));
}

// A descriptor that becomes readable when `child` ends, so the parent wakes
// at its end instead of polling for it; -1 where the kernel has none (before
// Linux 5.3), and the parent then looks again every few milliseconds.
int exitDescriptor(pid_t child) {
#if defined(__linux__) && defined(SYS_pidfd_open)
    return static_cast<int>(syscall(SYS_pidfd_open, child, 0));
#else
    (void)child;
    return -1;
#endif
}

void dieWithParent() {
#if defined(__linux__)
    prctl(PR_SET_PDEATHSIG, SIGKILL);
#endif
}

// The script's own process: the body, behind its channel.
[[noreturn]] void runScript(const ChildProcess::Body& body, ChildProgress& progress,
                            void* verdictPage, int writeFd, SandboxKind kind, int printsFd,
                            PrintedOutput* prints) {
    dieWithParent();
    munmap(verdictPage, sharedPage);
    keptCount = 0;
    int channel = childChannel::keep(writeFd);
    // Our own buffer for stdout, so that the C library allocates none while
    // a script runs (it would count as the script's block).
    static char stdoutBuffer[BUFSIZ];
    std::setvbuf(stdout, stdoutBuffer, _IOFBF, sizeof stdoutBuffer);
    if (printsFd >= 0) {
        dup2(printsFd, STDOUT_FILENO);
        dup2(printsFd, STDERR_FILENO);
        close(printsFd);
        printed = prints;
        printedPipe = STDOUT_FILENO;
    }
    confineScript(kind);
    int status = body(progress, channel);
    std::cout.flush();
    std::fflush(nullptr);
    progress.finished.store(true);
    _exit(status);
}

// Starts the script's process and reaps everything until it ends: orphans of
// the script come here (this is the namespace's first process, or a
// subreaper), and whatever is left when the script's process ends is ended.
[[noreturn]] void supervise(const ChildProcess::Body& body, ChildProgress& progress,
                            ChildVerdict& verdict, int writeFd, SandboxKind kind, bool hostNumbers,
                            PrintedOutput* prints) {
    int printsPipe[2] = {-1, -1};
    if (prints != nullptr && pipe(printsPipe) != 0)
        prints = nullptr;
    pid_t script = fork();
    if (script == 0) {
        if (prints != nullptr)
            close(printsPipe[0]);
        runScript(body, progress, &verdict, writeFd, kind, printsPipe[1], prints);
    }
    close(writeFd);
    if (prints != nullptr)
        close(printsPipe[1]);
    if (script < 0)
        _exit(1);
    if (hostNumbers)
        verdict.scriptPid.store(script);
    // A subreaper outside any namespace keeps an eye on its parent: if
    // panel-host is gone (killed, interrupted), it ends what the script
    // started rather than leave it to the machine's init.
    pid_t parent = hostNumbers ? getppid() : 0;
    bool reading = prints != nullptr;
    for (;;) {
        if (reading) {
            pollfd wait{printsPipe[0], POLLIN, 0};
            if (poll(&wait, 1, 20) > 0)
                reading = takePrints(printsPipe[0], *prints);
        } else if (parent != 0) {
            usleep(20000);
        }
        int status = 0;
        bool watching = reading || parent != 0;
        pid_t ended = waitpid(-1, &status, watching ? WNOHANG : 0);
        if (ended == script) {
            verdict.scriptStatus.store(status);
            verdict.scriptEnded.store(true);
            break;
        }
        if ((ended < 0 && errno != EINTR) || (parent != 0 && getppid() != parent)) {
            kill(script, SIGKILL);
            break;
        }
    }
    endDescendants();
    _exit(0);
}

[[noreturn]] void runChild(const ChildProcess::Body& body, ChildProgress& progress,
                           ChildVerdict& verdict, PrintedOutput* prints, int readFd, int writeFd,
                           pid_t parent) {
    close(readFd);
#if defined(__linux__)
    // A child whose parent is gone (killed, interrupted) must not run on,
    // least of all a script stuck in a loop.
    dieWithParent();
    if (getppid() != parent)
        _exit(1);
#else
    (void)parent;
#endif
    SandboxKind kind = sandboxKind();
    if (kind == SandboxKind::pidNamespace && enterScriptNamespaces()) {
        pid_t first = fork();
        if (first == 0) {
            dieWithParent();
            mountNamespaceProc();
            supervise(body, progress, verdict, writeFd, kind, false, prints);
        }
        close(writeFd);
        if (first > 0)
            verdict.namespaceInit.store(first);
        int status = 0;
        while (first > 0 && waitpid(first, &status, 0) < 0 && errno == EINTR) {
        }
        _exit(0);
    }
#if defined(__linux__)
    prctl(PR_SET_CHILD_SUBREAPER, 1);
    prctl(PR_SET_PDEATHSIG, 0); // the supervisor ends the script's processes first
#endif
    if (kind == SandboxKind::pidNamespace)
        kind = SandboxKind::seccompFilter; // refused this time: the filter instead
    supervise(body, progress, verdict, writeFd, kind, true, prints);
}

} // namespace

ScriptPrints takePrinted() {
    ScriptPrints taken;
    if (printed == nullptr)
        return taken;
    std::fflush(stdout);
    std::fflush(stderr);
    // Everything written is in the pipe or with the supervisor; wait until
    // it has taken all of it (a second at most: a supervisor gone is no reason to hang).
    for (int wait = 0; wait < 20000; ++wait) {
        int waiting = 0;
        if (ioctl(printedPipe, FIONREAD, &waiting) != 0 || (waiting == 0 && !printed->busy.load()))
            break;
        usleep(50);
    }
    std::uint32_t kept = std::min<std::uint32_t>(printed->keptBytes.load(), printedKeptBytes);
    taken.bytes = printed->bytes.load();
    taken.kept.assign(printed->kept, kept);
    printed->bytes.store(0);
    printed->keptBytes.store(0);
    return taken;
}

void ChildProgress::checkChannel(bool thorough) {
    int lost = childChannel::broken(thorough);
    if (lost < 0)
        return;
    channelLost.store(lost);
    _exit(channelLostStatus);
}

int childChannel::keep(int fd) {
    if (fd < 0 || keptCount == static_cast<int>(sizeof kept / sizeof kept[0]))
        return fd;
    // Well above the descriptors a script opens or replaces, and below the
    // usual limit of 1024.
    int high = fcntl(fd, F_DUPFD_CLOEXEC, 700);
    if (high < 0)
        return fd;
    close(fd);
    struct stat info {};
    fstat(high, &info);
    kept[keptCount++] = {high, info.st_dev, info.st_ino};
    return high;
}

int childChannel::broken(bool thorough) {
    for (int i = 0; i < keptCount; ++i) {
        // dup2 and dup3 without O_CLOEXEC clear the flag, and a closed
        // descriptor has none to read.
        if (fcntl(kept[i].fd, F_GETFD) != FD_CLOEXEC)
            return kept[i].fd;
        struct stat info {};
        if (thorough && (fstat(kept[i].fd, &info) != 0 || info.st_dev != kept[i].device ||
                         info.st_ino != kept[i].inode))
            return kept[i].fd;
    }
    return -1;
}

ChildEnd ChildProcess::run(const Body& body, int stepTimeoutMs, const Output& onOutput,
                           Deadline deadline, Prints prints) {
    sandboxKind(); // probed here once, before any child needs the answer
    void* shared =
        mmap(nullptr, 3 * sharedPage, PROT_READ | PROT_WRITE, MAP_SHARED | MAP_ANONYMOUS, -1, 0);
    int fds[2];
    if (shared == MAP_FAILED || pipe(fds) != 0) {
        if (shared != MAP_FAILED)
            munmap(shared, 3 * sharedPage);
        return ChildEnd{ChildEnd::failedToStart};
    }
    auto* printedPage = new (static_cast<char*>(shared) + 2 * sharedPage) PrintedOutput;
    auto* progress = new (shared) ChildProgress;
    auto* verdict = new (static_cast<char*>(shared) + sharedPage) ChildVerdict;
    std::cout.flush();
    std::fflush(nullptr);
    pid_t parent = getpid();
    pid_t child = fork();
    if (child == 0)
        runChild(body, *progress, *verdict, prints == Prints::captured ? printedPage : nullptr,
                 fds[0], fds[1], parent);
    close(fds[1]);
    ChildEnd end{ChildEnd::failedToStart};
    if (child > 0) {
        std::uint64_t lastBeats = progress->beats.load();
        Clock::time_point lastProgress = Clock::now();
        bool open = true;
        int status = 0;
        int ended = exitDescriptor(child);
        for (;;) {
            pollfd wait[2] = {{fds[0], POLLIN, 0}, {ended, POLLIN, 0}};
            pollfd* first = open ? &wait[0] : &wait[1];
            nfds_t count = static_cast<nfds_t>((open ? 1 : 0) + (ended >= 0 ? 1 : 0));
            if (count == 0)
                usleep(5000);
            else if (poll(first, count, 20) > 0 && open && wait[0].revents != 0) {
                char buffer[65536];
                ssize_t got = read(fds[0], buffer, sizeof buffer);
                if (got > 0 && onOutput)
                    onOutput(buffer, static_cast<std::size_t>(got));
                open = got > 0 || (got < 0 && errno == EINTR);
            }
            if (waitpid(child, &status, WNOHANG) == child) {
                if (open)
                    drain(fds[0], onOutput); // what it wrote just before it ended
                end = endOf(status, *progress, *verdict);
                break;
            }
            if (ended >= 0 && wait[1].revents != 0) {
                // Ended but not reaped here: look every few milliseconds, as
                // without the descriptor, rather than wake at once forever.
                close(ended);
                ended = -1;
            }
            if (deadline != noDeadline && Clock::now() >= deadline) {
                end = killed(child, *progress, *verdict, ChildEnd::outOfTime);
                break;
            }
            std::uint64_t beats = progress->beats.load(std::memory_order_acquire);
            if (beats != lastBeats) {
                lastBeats = beats;
                lastProgress = Clock::now();
            } else if (stepTimeoutMs > 0 &&
                       Clock::now() - lastProgress > std::chrono::milliseconds(stepTimeoutMs)) {
                end = killed(child, *progress, *verdict, ChildEnd::timedOut);
                end.timeoutMs = stepTimeoutMs;
                break;
            }
        }
        if (ended >= 0)
            close(ended);
    }
    close(fds[0]);
    progress->~ChildProgress();
    verdict->~ChildVerdict();
    printedPage->~PrintedOutput();
    munmap(shared, 3 * sharedPage);
    return end;
}

#endif
