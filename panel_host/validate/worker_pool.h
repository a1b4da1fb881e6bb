// Runs pieces of work in several worker processes at once. Each worker is
// forked while the caller has one thread, and plays its pieces one after the
// other, forking children of its own as a single-threaded program would: no
// fork ever happens beside another thread that might hold a lock. Results come
// back as bytes by piece, so their order never depends on who finished first.
#ifndef WORKER_POOL_H
#define WORKER_POOL_H

#include <cstddef>
#include <functional>
#include <optional>
#include <string>
#include <vector>

// work(0) .. work(count - 1), at most `jobs` at a time, each worker taking
// the next piece when it is free; a piece's result is nothing when its worker
// ended before sending it. `onPiece` hears each piece as it arrives, in the
// caller's process. jobs <= 1 runs every piece here.
std::vector<std::optional<std::string>>
runInWorkers(std::size_t count, int jobs, const std::function<std::string(std::size_t)>& work,
             const std::function<void(std::size_t)>& onPiece);

#endif
