// Lets other Python threads run while a long computation touches no Python
// object. The interpreter lock (or, on a free-threaded build, this thread's
// attachment to the interpreter) is given up on construction and taken back
// on destruction, so a C++ exception leaving the computation re-acquires it
// before the boundary's catch turns the exception into a Python error.
#pragma once

#include "python/pyref.hpp"

namespace quarlen::py {

class ReleasedLock {
public:
    ReleasedLock() noexcept : saved_(PyEval_SaveThread()) {}
    ~ReleasedLock() { PyEval_RestoreThread(saved_); }
    ReleasedLock(const ReleasedLock&) = delete;
    ReleasedLock& operator=(const ReleasedLock&) = delete;

private:
    PyThreadState* saved_;
};

// Runs `work` with the lock released when `release` is set, holding it
// otherwise. `work` must not touch any Python object.
template <class Work>
auto run_released_if(bool release, Work&& work) {
    if (!release) return work();
    const ReleasedLock released;
    return work();
}

}  // namespace quarlen::py
