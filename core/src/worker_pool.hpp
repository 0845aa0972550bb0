// Worker threads for work made of many independent pieces (the portfolio's
// sizing passes). The threads are started once per process, on first use.
#pragma once

#include <cstddef>
#include <functional>

namespace quarlen {

// Calls task(i) once for every i in [0, count), spread over the process's
// worker threads and the calling thread, and returns once every call has
// returned. The calls must not depend on one another; each should write only
// its own result. If a call throws, no further index is started and the
// first exception is rethrown here, after the calls already running are done.
//
// Runs everything on the calling thread when the process has one thread to
// give (QUARLEN_THREADS=1), when the workers are busy with another caller's
// work, when the system refuses new threads, or after the threads were shut
// down at exit.
void run_indexed(std::size_t count, const std::function<void(std::size_t)>& task);

// How many threads run_indexed spreads over, the caller included: the
// environment variable QUARLEN_THREADS (a whole number >= 1; other values
// are ignored) when it is set, otherwise the machine's cores. Read once, when
// the pool is first needed.
std::size_t worker_thread_count();

}  // namespace quarlen
