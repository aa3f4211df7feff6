// Shared/exclusive borrow guard of every native object: read-only methods
// borrow shared, state-changing methods exclusively, and a conflicting call
// (re-entrancy, or another thread while the lock is released) is refused.
#pragma once

#include <atomic>

#include "module/errors.h"

namespace vornex::py {

enum class Access { Shared, Exclusive };

class BorrowFlag {
public:
    // Positive: number of shared borrows; -1: exclusively borrowed.
    std::atomic<long> state{0};
};

class BorrowGuard {
public:
    BorrowGuard(BorrowFlag& flag, Access access) : flag_(flag), access_(access) {
        long current = flag_.state.load();
        if (access == Access::Shared) {
            do {
                if (current < 0) raise(PyExc_RuntimeError, "Already mutably borrowed");
            } while (!flag_.state.compare_exchange_weak(current, current + 1));
        } else {
            if (current != 0 || !flag_.state.compare_exchange_strong(current, -1))
                raise(PyExc_RuntimeError, "Already borrowed");
        }
    }
    ~BorrowGuard() {
        if (access_ == Access::Shared)
            flag_.state.fetch_sub(1);
        else
            flag_.state.store(0);
    }
    BorrowGuard(const BorrowGuard&) = delete;
    BorrowGuard& operator=(const BorrowGuard&) = delete;

private:
    BorrowFlag& flag_;
    Access access_;
};

}  // namespace vornex::py
