#include "child_process.h"

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
#include <sys/mman.h>
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
    }
    return "ended";
}

#if defined(_WIN32)

ChildEnd ChildProcess::run(const Body& body, int, const Output&, Deadline) {
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

ChildEnd endOf(int status, const ChildProgress& progress) {
    ChildEnd end;
    end.session = progress.session.load();
    end.step = progress.step.load();
    if (WIFSIGNALED(status)) {
        end.kind = ChildEnd::signalled;
        end.signal = WTERMSIG(status);
    } else {
        end.exitCode = WEXITSTATUS(status);
        end.kind = progress.finished.load() ? ChildEnd::finished : ChildEnd::exited;
    }
    return end;
}

ChildEnd killed(pid_t child, const ChildProgress& progress, ChildEnd::Kind why) {
    int status = 0;
    kill(child, SIGKILL);
    waitpid(child, &status, 0);
    ChildEnd end = endOf(status, progress);
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

[[noreturn]] void runChild(const ChildProcess::Body& body, ChildProgress& progress, int readFd,
                           int writeFd, pid_t parent) {
    close(readFd);
#if defined(__linux__)
    // A child whose parent is gone (killed, interrupted) must not run on,
    // least of all a script stuck in a loop.
    prctl(PR_SET_PDEATHSIG, SIGKILL);
    if (getppid() != parent)
        _exit(1);
#else
    (void)parent;
#endif
    int status = body(progress, writeFd);
    std::cout.flush();
    std::fflush(nullptr);
    progress.finished.store(true);
    _exit(status);
}

} // namespace

ChildEnd ChildProcess::run(const Body& body, int stepTimeoutMs, const Output& onOutput,
                           Deadline deadline) {
    void* shared = mmap(nullptr, sizeof(ChildProgress), PROT_READ | PROT_WRITE,
                        MAP_SHARED | MAP_ANONYMOUS, -1, 0);
    int fds[2];
    if (shared == MAP_FAILED || pipe(fds) != 0) {
        if (shared != MAP_FAILED)
            munmap(shared, sizeof(ChildProgress));
        return ChildEnd{ChildEnd::failedToStart};
    }
    auto* progress = new (shared) ChildProgress;
    std::cout.flush();
    std::fflush(nullptr);
    pid_t parent = getpid();
    pid_t child = fork();
    if (child == 0)
        runChild(body, *progress, fds[0], fds[1], parent);
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
                end = endOf(status, *progress);
                break;
            }
            if (ended >= 0 && wait[1].revents != 0) {
                // Ended but not reaped here: look every few milliseconds, as
                // without the descriptor, rather than wake at once forever.
                close(ended);
                ended = -1;
            }
            if (deadline != noDeadline && Clock::now() >= deadline) {
                end = killed(child, *progress, ChildEnd::outOfTime);
                break;
            }
            std::uint64_t beats = progress->beats.load(std::memory_order_acquire);
            if (beats != lastBeats) {
                lastBeats = beats;
                lastProgress = Clock::now();
            } else if (stepTimeoutMs > 0 &&
                       Clock::now() - lastProgress > std::chrono::milliseconds(stepTimeoutMs)) {
                end = killed(child, *progress, ChildEnd::timedOut);
                end.timeoutMs = stepTimeoutMs;
                break;
            }
        }
        if (ended >= 0)
            close(ended);
    }
    close(fds[0]);
    progress->~ChildProgress();
    munmap(shared, sizeof(ChildProgress));
    return end;
}

#endif
