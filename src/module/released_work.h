// Native work run with the interpreter lock released, so that other Python
// threads run meanwhile (two threads decoding on two cores take about the
// time of one). The work must touch no Python object; the lock is taken back
// for progress reports and signal handlers, and before anything is
// converted or raised.
//
//   auto predictions = unwrap(without_interpreter([&] { return predict(decoder, bytes); }));
#pragma once

#include <utility>

#include "base/progress.h"
#include "base/worker_pool.h"
#include "module/interpreter_lock.h"
#include "module/python.h"
#include "module/python_progress.h"

namespace vornex::py {

// work() without the lock, for an operation that only reads its object:
// Ctrl-C is looked for between slices of every worker-pool call it makes
// and stops it there (the boundary raises KeyboardInterrupt). What it
// returns (a Result, typically) is unwrapped by the caller, lock held.
template <class Work>
auto without_interpreter(Work&& work) {
    PythonProgress signals(nullptr);
    PollScope scope(&signals);
    ReleasedInterpreter released;
    return std::forward<Work>(work)();
}

// work() without the lock, for an operation that may change its object:
// nothing is stopped from outside it, so only the object's own checks run.
template <class Work>
auto without_interpreter_unpolled(Work&& work) {
    PollScope scope(nullptr);
    ReleasedInterpreter released;
    return std::forward<Work>(work)();
}

// work(sink) without the lock, for a long operation that reports to its own
// sink: `callback` is the caller's progress argument (None, True or a
// callable), reported to and Ctrl-C looked for between the operation's
// chunks.
template <class Work>
auto with_progress(PyObject* callback, Work&& work) {
    PythonProgress progress(callback);
    PollScope scope(nullptr);
    ReleasedInterpreter released;
    return std::forward<Work>(work)(static_cast<ProgressSink*>(&progress));
}

}  // namespace vornex::py
