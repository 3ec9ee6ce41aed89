// The process's one-time set-up steps (NumPy table, exception class, owner type): each is
// made on first use, under a lock, and kept for the life of the process.
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

// An object made on the first call that needs it and kept for the life of the process: the
// check without the lock serves every later call; the check under the lock lets only the
// first of racing threads make it.
template <class Object>
class CreatedOnce {
public:
    // The object, made by `create` (which returns nullptr with an error set when it fails,
    // and a later call tries again). Code that the creation runs on this same thread and
    // that asks for the object gets `refuse()` instead, which sets an error and returns
    // nullptr. The object's reference, if it has one, is the process's.
    template <class Create, class Refuse>
    Object* get(Create create, Refuse refuse)
    {
        if (Object* made = object_.load(std::memory_order_acquire)) {
            return made;
        }
        const OneTimeLock guard(mutex_);
        if (!guard.held()) {
            return refuse();
        }
        if (Object* made = object_.load(std::memory_order_acquire)) {
            return made;
        }
        Object* made = create();
        if (made != nullptr) {
            object_.store(made, std::memory_order_release);
        }
        return made;
    }

    // The object if it has been made, else nullptr.
    Object* made() const { return object_.load(std::memory_order_acquire); }

private:
    OneTimeMutex mutex_;
    std::atomic<Object*> object_{nullptr};
};

}  // namespace ventaroxi
