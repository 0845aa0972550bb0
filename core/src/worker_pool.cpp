// The one piece of process-wide mutable state in quarlen. Everything else is
// a value owned by a call; this is not, because starting threads on every
// call would cost more than the work they share on small portfolios. So the
// threads are started on first use and kept: one pool per process,
// synchronized internally, reached only through run_indexed.
//
// fork() copies only the calling thread, so the threads are stopped just
// before a fork (after any pass in flight has finished) and started again,
// in parent and child alike, when the next pass needs them. Nothing is held
// across the fork, and the process forks with no thread of ours running.
//
// At exit the threads are stopped and joined, and later passes run on their
// caller.
#include "core/src/worker_pool.hpp"

#include <pthread.h>

#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <cstdlib>
#include <exception>
#include <mutex>
#include <string_view>
#include <system_error>
#include <thread>
#include <vector>

namespace quarlen {

namespace {

// More threads than this only add contention for the index.
constexpr std::size_t kMostThreads = 256;

std::size_t threads_from_environment() {
    const char* text = std::getenv("QUARLEN_THREADS");
    if (text != nullptr && *text != '\0') {
        char* end = nullptr;
        const unsigned long long value = std::strtoull(text, &end, 10);
        if (*end == '\0' && value >= 1 && std::string_view(text).find('-') == std::string_view::npos)
            return value < kMostThreads ? static_cast<std::size_t>(value) : kMostThreads;
    }
    const unsigned cores = std::thread::hardware_concurrency();
    return cores == 0 ? 1 : (cores < kMostThreads ? cores : kMostThreads);
}

// One call of run_indexed, living on the caller's stack while it runs.
struct Job {
    Job(const std::function<void(std::size_t)>& work, std::size_t size) : task(&work), count(size) {}

    const std::function<void(std::size_t)>* task;
    std::size_t count;
    std::atomic<std::size_t> next{0};
    std::atomic<bool> failed{false};
    std::exception_ptr error;  // the first exception; written under the pool's mutex
};

class WorkerPool {
public:
    explicit WorkerPool(std::size_t threads) : threads_(threads) {}

    std::size_t threads() const noexcept { return threads_; }

    // Runs the job on the workers and the calling thread; false (nothing
    // run) when the workers are taken by another caller, cannot be started,
    // or were shut down at exit.
    bool try_run(Job& job) {
        const std::unique_lock<std::mutex> one_caller(caller_mutex_, std::try_to_lock);
        if (!one_caller.owns_lock() || closed_ || !start_workers()) return false;
        {
            const std::lock_guard<std::mutex> lock(mutex_);
            job_ = &job;
            ++generation_;
        }
        wake_.notify_all();
        take_tasks(job);
        // Every index is claimed; wait for the workers still running one. A
        // worker that wakes only now finds no job and goes back to sleep.
        std::unique_lock<std::mutex> lock(mutex_);
        job_ = nullptr;
        done_.wait(lock, [this] { return active_ == 0; });
        return true;
    }

    // Waits for a pass in flight to end and stops the workers; until
    // after_fork, no pass can start.
    void before_fork() {
        caller_mutex_.lock();
        stop_workers();
    }
    void after_fork() { caller_mutex_.unlock(); }

    void close() {
        const std::lock_guard<std::mutex> one_caller(caller_mutex_);
        stop_workers();
        closed_ = true;
    }

private:
    // With caller_mutex_ held.
    bool start_workers() {
        if (!workers_.empty()) return true;
        try {
            workers_.reserve(threads_ - 1);
            for (std::size_t n = 1; n < threads_; ++n) workers_.emplace_back([this] { work(); });
            return true;
        } catch (const std::system_error&) {
            stop_workers();  // the process allows no more threads: run on the caller
            return false;
        }
    }

    // With caller_mutex_ held, so no job is in flight.
    void stop_workers() {
        {
            const std::lock_guard<std::mutex> lock(mutex_);
            stopping_ = true;
        }
        wake_.notify_all();
        for (std::thread& worker : workers_) worker.join();
        workers_.clear();
        const std::lock_guard<std::mutex> lock(mutex_);
        stopping_ = false;
    }

    void work() {
        std::unique_lock<std::mutex> lock(mutex_);
        std::uint64_t seen = generation_;
        for (;;) {
            wake_.wait(lock, [&] { return stopping_ || generation_ != seen; });
            if (stopping_) return;
            seen = generation_;
            Job* job = job_;
            if (job == nullptr) continue;
            ++active_;
            lock.unlock();
            take_tasks(*job);
            lock.lock();
            if (--active_ == 0) done_.notify_all();
        }
    }

    void take_tasks(Job& job) {
        while (!job.failed.load(std::memory_order_relaxed)) {
            const std::size_t index = job.next.fetch_add(1, std::memory_order_relaxed);
            if (index >= job.count) return;
            try {
                (*job.task)(index);
            } catch (...) {
                const std::lock_guard<std::mutex> lock(mutex_);
                if (!job.error) job.error = std::current_exception();
                job.failed.store(true, std::memory_order_relaxed);
            }
        }
    }

    const std::size_t threads_;
    std::mutex caller_mutex_;  // one job at a time; guards workers_ and closed_
    std::vector<std::thread> workers_;
    bool closed_ = false;
    std::mutex mutex_;  // guards what follows
    std::condition_variable wake_;
    std::condition_variable done_;
    Job* job_ = nullptr;
    std::uint64_t generation_ = 0;
    std::size_t active_ = 0;  // workers inside the current job
    bool stopping_ = false;
};

std::atomic<WorkerPool*> g_pool{nullptr};

// This process's pool, made on first use (its threads start with the first
// pass). Should two threads make one at once, the first to publish it wins.
WorkerPool& pool() {
    WorkerPool* current = g_pool.load(std::memory_order_acquire);
    if (current != nullptr) return *current;
    auto* fresh = new WorkerPool(threads_from_environment());
    if (g_pool.compare_exchange_strong(current, fresh, std::memory_order_acq_rel)) return *fresh;
    delete fresh;
    return *current;
}

void before_fork() {
    if (WorkerPool* current = g_pool.load(std::memory_order_acquire)) current->before_fork();
}

void after_fork() {
    if (WorkerPool* current = g_pool.load(std::memory_order_acquire)) current->after_fork();
}

// Registers the fork handlers when the library loads, and stops the threads
// at exit. The pool itself stays allocated: a daemon thread the interpreter
// did not stop may still be inside a portfolio call, and it must find the
// pool's locks where they were.
struct ProcessHooks {
    ProcessHooks() { pthread_atfork(before_fork, after_fork, after_fork); }
    ~ProcessHooks() {
        if (WorkerPool* current = g_pool.load(std::memory_order_acquire)) current->close();
    }
} g_process_hooks;

}  // namespace

std::size_t worker_thread_count() { return pool().threads(); }

void run_indexed(std::size_t count, const std::function<void(std::size_t)>& task) {
    Job job(task, count);
    if (count > 1) {
        WorkerPool& workers = pool();
        if (workers.threads() > 1 && workers.try_run(job)) {
            if (job.error) std::rethrow_exception(job.error);
            return;
        }
    }
    for (std::size_t index = 0; index < count; ++index) task(index);
}

}  // namespace quarlen
