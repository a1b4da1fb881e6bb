// Runs pieces of work on several threads at once. Each piece is given its
// index, so results land where the caller keeps them and their order never
// depends on which thread finished first.
#ifndef WORKER_POOL_H
#define WORKER_POOL_H

#include <cstddef>
#include <functional>

// Calls work(0) .. work(count - 1), at most `jobs` at a time, and returns when
// all are done. `work` runs on pool threads and must only touch its own piece.
void runInParallel(std::size_t count, int jobs, const std::function<void(std::size_t)>& work);

#endif
