// Guard for the process's one-time set-up steps (NumPy table, exception class, owner type).
#pragma once

#include "python.hpp"

#include <atomic>
#include <mutex>
#include <thread>

namespace ventaroxi {

// A mutex taken with the interpreter lock held. A thread that finds the step already
// running elsewhere releases the interpreter lock while it waits, so the thread inside
// may run Python code (an import switches threads) without the two deadlocking. The
// thread inside may also call back into the module (an import it runs calls a module
// function): that call must not wait for the step it is part of, so taking the mutex
// on the thread that holds it fails at once instead.
class OneTimeMutex {
public:
    // True once the mutex is taken; false, without waiting, on the thread that holds it.
    [[nodiscard]] bool lock()
    {
        if (!mutex_.try_lock()) {
            // Only this thread stores its own id, so the comparison cannot be fooled
            // by another thread's store.
            if (owner_.load(std::memory_order_relaxed) == std::this_thread::get_id()) {
                return false;
            }
            Py_BEGIN_ALLOW_THREADS
            mutex_.lock();
            Py_END_ALLOW_THREADS
        }
        owner_.store(std::this_thread::get_id(), std::memory_order_relaxed);
        return true;
    }
    void unlock()
    {
        owner_.store(std::thread::id(), std::memory_order_relaxed);
        mutex_.unlock();
    }

private:
    std::mutex mutex_;
    std::atomic<std::thread::id> owner_{};
};

// Holds a OneTimeMutex for a scope, if it could be taken (see OneTimeMutex::lock).
class OneTimeLock {
public:
    explicit OneTimeLock(OneTimeMutex& mutex) : mutex_(mutex), held_(mutex.lock()) {}
    ~OneTimeLock()
    {
        if (held_) {
            mutex_.unlock();
        }
    }
    OneTimeLock(const OneTimeLock&) = delete;
    OneTimeLock& operator=(const OneTimeLock&) = delete;

    // False when this thread is already inside the step: the caller must not run it.
    [[nodiscard]] bool held() const { return held_; }

private:
    OneTimeMutex& mutex_;
    bool held_;
};

}  // namespace ventaroxi
