#pragma once
// Work split into pieces, done on several threads at once.

#include <cstddef>
#include <functional>

// Runs `work(k)` for every k below `count` on up to `threads` threads, the caller's among them,
// each taking every threads-th piece, and returns when all are done. A thread the system refuses
// leaves its pieces to the caller. Each thread starts with clean vector registers (see
// VectorState.h: threads inherit the state of the one that starts them). When a piece runs out
// of memory the others still finish, then std::bad_alloc is thrown here; `work` throws nothing
// else.
void RunOnThreads(size_t count, unsigned threads, const std::function<void(size_t)>& work);
