// run_mcp_server(): the tool server on the process's standard input and output.
#include <unistd.h>

#include "module/binding.h"
#include "module/registry.h"
#include "server/mcp_server.h"

namespace vornex::py {
namespace {

// Python-level prints made before the server starts must precede its answers.
void flush_python_stdout() {
    PyObject* out = PySys_GetObject("stdout");  // borrowed
    if (out == nullptr || out == Py_None) return;
    Ref result = Ref::steal(PyObject_CallMethod(out, "flush", nullptr));
    if (!result) PyErr_Clear();
}

PyObject* run_mcp_server(const Args&) {
    flush_python_stdout();
    // A signal that interrupts a read (Ctrl-C) runs its Python handler; an
    // exception from it stops the server and propagates.
    const Status status = serve_lines(STDIN_FILENO, STDOUT_FILENO, [] { return PyErr_CheckSignals() < 0; });
    if (PyErr_Occurred()) throw_python_error();
    unwrap(Status(status));
    return py_none();
}

}  // namespace

ModuleItem& run_mcp_server_function() {
    return function_item<run_mcp_server>("run_mcp_server()",
                                         "Run the MCP server reading JSON-RPC 2.0 from stdin and writing to stdout.");
}

}  // namespace vornex::py
