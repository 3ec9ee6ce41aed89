// Guard for the process's one-time set-up steps (NumPy table, exception class, owner type).
#pragma once

#include "python.hpp"

#include <mutex>

namespace ventaroxi {

// A mutex taken with the interpreter lock held. A thread that finds the step already
// running elsewhere releases the interpreter lock while it waits, so the thread inside
// may run Python code (an import switches threads) without the two deadlocking.
class OneTimeMutex {
public:
    void lock()
    {
        if (mutex_.try_lock()) {
            return;
        }
        Py_BEGIN_ALLOW_THREADS
        mutex_.lock();
        Py_END_ALLOW_THREADS
    }
    void unlock() { mutex_.unlock(); }

private:
    std::mutex mutex_;
};

}  // namespace ventaroxi
