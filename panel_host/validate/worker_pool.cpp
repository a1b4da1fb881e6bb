#include "worker_pool.h"

#include "child_process.h"

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <csignal>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <new>
#include <poll.h>
#include <sys/mman.h>
#include <sys/prctl.h>
#include <sys/wait.h>
#include <unistd.h>

namespace {

// The next piece no worker has taken, in memory the workers share: a worker
// takes one when it is free, so a slow piece holds up only its own worker.
struct PieceCounter {
    std::atomic<std::size_t> next{0};
};
static_assert(std::atomic<std::size_t>::is_always_lock_free, "shared between processes");

[[noreturn]] void beWorker(PieceCounter& counter, std::size_t count, int fd,
                           const std::function<std::string(std::size_t)>& work) {
    prctl(PR_SET_PDEATHSIG, SIGKILL);
    for (std::size_t i = counter.next.fetch_add(1); i < count; i = counter.next.fetch_add(1)) {
        std::string result = work(i);
        // A piece crosses as its index and its size (8 bytes each), then its bytes.
        std::uint64_t header[2] = {i, result.size()};
        std::string piece(reinterpret_cast<const char*>(header), sizeof header);
        if (!writeAll(fd, piece + result))
            _exit(3); // the caller is gone
    }
    _exit(0); // nothing of the caller's (buffers, destructors) runs twice
}

struct Worker {
    pid_t pid = -1;
    int fd = -1;
    std::string pending;
};

// Takes every whole piece off the front of a worker's pending bytes.
void takePieces(Worker& worker, std::size_t count, std::vector<std::optional<std::string>>& out,
                const std::function<void(std::size_t)>& onPiece) {
    for (;;) {
        std::uint64_t header[2];
        if (worker.pending.size() < sizeof header)
            return;
        std::memcpy(header, worker.pending.data(), sizeof header);
        if (worker.pending.size() - sizeof header < header[1])
            return;
        if (header[0] < count && !out[header[0]]) {
            out[header[0]] = worker.pending.substr(sizeof header, header[1]);
            if (onPiece)
                onPiece(header[0]);
        }
        worker.pending.erase(0, sizeof header + header[1]);
    }
}

} // namespace

std::vector<std::optional<std::string>>
runInWorkers(std::size_t count, int jobs, const std::function<std::string(std::size_t)>& work,
             const std::function<void(std::size_t)>& onPiece) {
    std::vector<std::optional<std::string>> out(count);
    std::size_t workers =
        std::min<std::size_t>(count, jobs < 1 ? 1 : static_cast<std::size_t>(jobs));
    void* shared = workers <= 1 ? MAP_FAILED
                                : mmap(nullptr, sizeof(PieceCounter), PROT_READ | PROT_WRITE,
                                       MAP_SHARED | MAP_ANONYMOUS, -1, 0);
    if (shared == MAP_FAILED) {
        for (std::size_t i = 0; i < count; ++i) {
            out[i] = work(i);
            if (onPiece)
                onPiece(i);
        }
        return out;
    }
    auto* counter = new (shared) PieceCounter;
    std::fflush(nullptr); // a worker must not write the caller's buffered output again
    std::vector<Worker> pool(workers);
    for (std::size_t k = 0; k < workers; ++k) {
        int fds[2];
        if (pipe(fds) != 0)
            break;
        pid_t pid = fork();
        if (pid == 0) {
            close(fds[0]);
            for (std::size_t j = 0; j < k; ++j)
                close(pool[j].fd);
            beWorker(*counter, count, fds[1], work);
        }
        close(fds[1]);
        if (pid < 0) {
            close(fds[0]);
            break;
        }
        pool[k].pid = pid;
        pool[k].fd = fds[0];
    }
    for (;;) {
        std::vector<pollfd> open;
        for (const Worker& worker : pool)
            if (worker.fd >= 0)
                open.push_back({worker.fd, POLLIN, 0});
        if (open.empty())
            break;
        if (poll(open.data(), open.size(), -1) < 0 && errno != EINTR)
            break;
        for (Worker& worker : pool) {
            if (worker.fd < 0)
                continue;
            auto ready = std::find_if(open.begin(), open.end(),
                                      [&](const pollfd& p) { return p.fd == worker.fd; });
            if (ready == open.end() || ready->revents == 0)
                continue;
            char buffer[65536];
            ssize_t got = read(worker.fd, buffer, sizeof buffer);
            if (got < 0 && errno == EINTR)
                continue;
            if (got <= 0) {
                close(worker.fd);
                worker.fd = -1;
                continue;
            }
            worker.pending.append(buffer, static_cast<std::size_t>(got));
            takePieces(worker, count, out, onPiece);
        }
    }
    for (const Worker& worker : pool)
        if (worker.pid > 0) {
            int status = 0;
            while (waitpid(worker.pid, &status, 0) < 0 && errno == EINTR) {
            }
        }
    // Pieces no worker took (none could be started, or every one ended
    // early) are played here; a piece taken by a worker that ended before
    // sending it stays without a result.
    std::size_t taken = std::min(counter->next.load(), count);
    counter->~PieceCounter();
    munmap(shared, sizeof(PieceCounter));
    for (std::size_t i = taken; i < count; ++i) {
        out[i] = work(i);
        if (onPiece)
            onPiece(i);
    }
    return out;
}
