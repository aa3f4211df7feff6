// The progress sink of long native calls made from Python: between chunks it
// runs pending signal handlers, so Ctrl-C raises KeyboardInterrupt within a
// chunk's time, and calls the caller's optional progress(done, total) at most
// ten times a second (and once at the end). Either raising stops the call.
#pragma once

#include <chrono>

#include "code/progress.h"
#include "module/python.h"

namespace vornex::py {

class PythonProgress final : public ProgressSink {
public:
    // `callback` may be null or None (no reports, signals only).
    explicit PythonProgress(PyObject* callback) : callback_(callback == Py_None ? nullptr : callback) {}

    bool report(uint64_t done, uint64_t total) override {
        if (PyErr_CheckSignals() < 0) return false;
        if (callback_ == nullptr) return true;
        const auto now = std::chrono::steady_clock::now();
        if (done != total && now - last_call_ < std::chrono::milliseconds(100)) return true;
        last_call_ = now;
        PyObject* result = PyObject_CallFunction(callback_, "KK", static_cast<unsigned long long>(done),
                                                 static_cast<unsigned long long>(total));
        if (result == nullptr) return false;
        Py_DECREF(result);
        return true;
    }

private:
    PyObject* callback_;
    std::chrono::steady_clock::time_point last_call_{};
};

}  // namespace vornex::py
