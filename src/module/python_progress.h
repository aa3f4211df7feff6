// The progress sink of long native calls made from Python: between chunks it
// runs pending signal handlers, so Ctrl-C raises KeyboardInterrupt within a
// chunk's time, and calls the caller's optional progress(done, total) at most
// ten times a second (and once at the end). Either raising stops the call.
// progress=True shows a tqdm bar instead (ImportError when tqdm is missing).
// Reports may come while the call runs with the interpreter lock released
// (module/released_work.h): a report takes the lock for its moment.
#pragma once

#include <chrono>

#include "base/progress.h"
#include "module/interpreter_lock.h"
#include "module/python.h"
#include "module/ref.h"

namespace vornex::py {

// Whether the calling thread is the interpreter's main thread, the only one
// that runs signal handlers. Called with the interpreter lock held.
bool on_main_thread();

class PythonProgress final : public ProgressSink {
public:
    // `callback` may be null or None (no reports, signals only), True (a tqdm
    // bar) or a callable.
    explicit PythonProgress(PyObject* callback)
        : callback_(callback == Py_None ? nullptr : callback), handles_signals_(on_main_thread()) {
        if (callback_ == Py_True) bar_ = Ref::checked(make_tqdm_bar());
    }
    ~PythonProgress() override {
        if (!bar_) return;
        PyObject *type = nullptr, *value = nullptr, *traceback = nullptr;
        PyErr_Fetch(&type, &value, &traceback);  // closing must not hide the call's own error
        PyObject* closed = PyObject_CallMethod(bar_.get(), "close", nullptr);
        if (closed == nullptr) PyErr_Clear();
        Py_XDECREF(closed);
        PyErr_Restore(type, value, traceback);
    }
    PythonProgress(const PythonProgress&) = delete;
    PythonProgress& operator=(const PythonProgress&) = delete;

    bool report(uint64_t done, uint64_t total) override {
        // Off the main thread there is nothing to ask without a callback, and
        // taking the lock would only stall the work.
        if (callback_ == nullptr && !handles_signals_) return true;
        HeldInterpreter held;
        if (PyErr_CheckSignals() < 0) return false;
        if (callback_ == nullptr) return true;
        const auto now = std::chrono::steady_clock::now();
        if (done != total && now - last_call_ < std::chrono::milliseconds(100)) return true;
        last_call_ = now;
        PyObject* result = bar_ ? update_bar(done, total)
                                : PyObject_CallFunction(callback_, "KK", static_cast<unsigned long long>(done),
                                                        static_cast<unsigned long long>(total));
        if (result == nullptr) return false;
        Py_DECREF(result);
        return true;
    }

private:
    static PyObject* make_tqdm_bar() {
        Ref module = Ref::checked(PyImport_ImportModule("tqdm"));
        return PyObject_CallMethod(module.get(), "tqdm", nullptr);
    }

    // A new reference on success, null with the Python error set otherwise.
    PyObject* update_bar(uint64_t done, uint64_t total) {
        PyObject* bar = bar_.get();
        PyObject* n = PyLong_FromUnsignedLongLong(done);
        PyObject* t = PyLong_FromUnsignedLongLong(total);
        const bool set = n != nullptr && t != nullptr && PyObject_SetAttrString(bar, "total", t) == 0 &&
                         PyObject_SetAttrString(bar, "n", n) == 0;
        Py_XDECREF(n);
        Py_XDECREF(t);
        return set ? PyObject_CallMethod(bar, "refresh", nullptr) : nullptr;
    }

    PyObject* callback_;
    bool handles_signals_;  // made on the main thread
    Ref bar_;  // the tqdm bar of progress=True
    std::chrono::steady_clock::time_point last_call_{};
};

}  // namespace vornex::py
