// run_mcp_server(): the tool server on the process's standard input and output,
// with tools written in Python added to the native ones.
#include <unistd.h>

#include <memory>
#include <string>

#include "module/binding.h"
#include "module/registry.h"
#include "module/released_work.h"
#include "server/mcp_server.h"
#include "server/tools.h"

namespace vornex::py {
namespace {

// Python-level prints made before the server starts must precede its answers.
void flush_python_stdout() {
    PyObject* out = PySys_GetObject("stdout");  // borrowed
    if (out == nullptr || out == Py_None) return;
    Ref result = Ref::steal(PyObject_CallMethod(out, "flush", nullptr));
    if (!result) PyErr_Clear();
}

// The call's progress sink as seen from Python, valid only during the call:
// afterwards a kept reference reports nothing and says stop.
struct SinkSlot {
    ProgressSink* sink = nullptr;
};

PyObject* report_progress(PyObject* capsule, PyObject* args) {
    auto* slot = static_cast<SinkSlot*>(PyCapsule_GetPointer(capsule, nullptr));
    unsigned long long done = 0, total = 0;
    if (slot == nullptr || !PyArg_ParseTuple(args, "KK", &done, &total)) return nullptr;
    return PyBool_FromLong(slot->sink != nullptr && slot->sink->report(done, total));
}

PyMethodDef kReportProgress = {"progress", report_progress, METH_VARARGS,
                               "progress(done, total) -> bool: report progress; False means stop."};

Ref progress_function(SinkSlot* slot) {
    Ref capsule = Ref::checked(PyCapsule_New(slot, nullptr, nullptr));
    return Ref::checked(PyCFunction_New(&kReportProgress, capsule.get()));
}

// The pending exception's text (its type's name when the text is empty);
// clears it.
std::string pending_error_text() {
    PyObject *type = nullptr, *value = nullptr, *traceback = nullptr;
    PyErr_Fetch(&type, &value, &traceback);
    PyErr_NormalizeException(&type, &value, &traceback);
    Ref t = Ref::steal(type), v = Ref::steal(value), tb = Ref::steal(traceback);
    std::string text;
    if (Ref s = Ref::steal(v ? PyObject_Str(v.get()) : nullptr)) {
        Py_ssize_t size = 0;
        if (const char* data = PyUnicode_AsUTF8AndSize(s.get(), &size)) text.assign(data, static_cast<size_t>(size));
    }
    if (text.empty() && t) text = reinterpret_cast<PyTypeObject*>(t.get())->tp_name;
    PyErr_Clear();
    return text;
}

// One call of a Python tool, on the server's answering thread: `call(arguments,
// progress)` returns the output object as JSON text; ValueError means
// arguments outside the schema, any other exception a failed call.
HostedToolOutcome call_python_tool(PyObject* call, const std::string& arguments, ProgressSink& sink) {
    using Kind = HostedToolOutcome::Kind;
    const PyGILState_STATE gil = PyGILState_Ensure();
    HostedToolOutcome outcome;
    SinkSlot slot{&sink};
    try {
        Ref progress = progress_function(&slot);
        Ref result = Ref::checked(PyObject_CallFunction(call, "s#O", arguments.data(),
                                                        static_cast<Py_ssize_t>(arguments.size()), progress.get()));
        Py_ssize_t size = 0;
        const char* data = PyUnicode_Check(result.get()) ? PyUnicode_AsUTF8AndSize(result.get(), &size) : nullptr;
        if (data == nullptr) {
            PyErr_Clear();
            outcome = {Kind::Failure, "the tool's output is not text"};
        } else {
            outcome = {Kind::Output, std::string(data, static_cast<size_t>(size))};
        }
    } catch (const PythonError&) {
        const bool malformed = PyErr_ExceptionMatches(PyExc_ValueError);
        outcome = {malformed ? Kind::Malformed : Kind::Failure, pending_error_text()};
    } catch (const std::exception&) {
        PyErr_Clear();
        outcome = {Kind::Failure, std::string(kOutOfMemoryText)};
    }
    slot.sink = nullptr;
    PyGILState_Release(gil);
    return outcome;
}

// `tools`: (listing, call) pairs, the listing a tool's "tools/list" entry as
// JSON text. The tools hold their calls until the server returns (with the
// interpreter lock, which their last owner is destroyed under).
HostedTools hosted_tools(PyObject* tools) {
    HostedTools hosted;
    if (tools == nullptr || tools == Py_None) return hosted;
    Ref items = Ref::checked(PySequence_Fast(tools, "tools must be a sequence of (listing, call) pairs"));
    for (Py_ssize_t i = 0; i < PySequence_Fast_GET_SIZE(items.get()); ++i) {
        PyObject* pair = PySequence_Fast_GET_ITEM(items.get(), i);
        if (!PyTuple_Check(pair) || PyTuple_GET_SIZE(pair) != 2 || !PyUnicode_Check(PyTuple_GET_ITEM(pair, 0)) ||
            !PyCallable_Check(PyTuple_GET_ITEM(pair, 1)))
            raise(PyExc_TypeError, "tools[" + std::to_string(i) + "] must be a (listing text, callable) pair");
        const std::string text = from_python<std::string>(PyTuple_GET_ITEM(pair, 0));
        nlohmann::json listing = nlohmann::json::parse(text, nullptr, false);
        if (!listing.is_object() || !listing.contains("name") || !listing["name"].is_string())
            raise(PyExc_ValueError, "tools[" + std::to_string(i) + "]: the listing must be a JSON object with a name");
        auto call = std::make_shared<Ref>(Ref::borrow(PyTuple_GET_ITEM(pair, 1)));
        hosted.push_back({std::move(listing), [call](const std::string& arguments, ProgressSink& sink) {
                              return call_python_tool(call->get(), arguments, sink);
                          }});
    }
    return hosted;
}

PyObject* run_mcp_server(const Args& args) {
    const HostedTools hosted = hosted_tools(args[0]);
    flush_python_stdout();
    Status status = ok_status();
    {
        // The lock is released while the server reads and waits, so that the
        // answering thread can run Python tools. A signal that interrupts a
        // read (Ctrl-C) runs its Python handler; an exception from it stops
        // the server and propagates.
        ReleasedInterpreter released;
        status = serve_lines(STDIN_FILENO, STDOUT_FILENO, [&] { return released.signal_raised(); }, ServeLimits{},
                             hosted);
    }
    if (PyErr_Occurred()) throw_python_error();
    unwrap(std::move(status));
    return py_none();
}

}  // namespace

ModuleItem& run_mcp_server_function() {
    return function_item<run_mcp_server>(
        "run_mcp_server(*, tools=None)",
        "Run the MCP server reading JSON-RPC 2.0 from stdin and writing to stdout.\n\n"
        "tools: optional (listing, call) pairs added after the server's own tools: listing is the tool's\n"
        "tools/list entry as JSON text (name, description, inputSchema, outputSchema); call(arguments, progress)\n"
        "gets the call's arguments as JSON text and returns the output object as JSON text. It runs on the\n"
        "server's answering thread; progress(done, total) returns False once the call is cancelled. A ValueError\n"
        "answers the call as invalid params; any other exception becomes an isError result with its text.");
}

}  // namespace vornex::py
