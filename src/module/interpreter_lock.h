// Scopes of the interpreter lock: held for a moment by native work that
// runs without it (a progress report), or released around native work.
#pragma once

#include "module/python.h"

namespace vornex::py {

// Takes a lock state on construction and gives it back on destruction.
template <class State, State (*Take)(), void (*Give)(State)>
class LockScope {
public:
    LockScope() : state_(Take()) {}
    ~LockScope() { Give(state_); }
    LockScope(const LockScope&) = delete;
    LockScope& operator=(const LockScope&) = delete;

protected:
    State state_;
};

// Holds the interpreter lock for its lifetime, whether or not the thread
// held it before.
using HeldInterpreter = LockScope<PyGILState_STATE, &PyGILState_Ensure, &PyGILState_Release>;

// Releases the interpreter lock (taken on this thread) for its lifetime.
class ReleasedInterpreter : public LockScope<PyThreadState*, &PyEval_SaveThread, &PyEval_RestoreThread> {
public:
    // Takes the lock back for a moment to run pending signal handlers; true
    // when one raised (the exception is left set for the caller).
    bool signal_raised() {
        PyEval_RestoreThread(state_);
        const bool raised = PyErr_CheckSignals() < 0;
        state_ = PyEval_SaveThread();
        return raised;
    }
};

}  // namespace vornex::py
