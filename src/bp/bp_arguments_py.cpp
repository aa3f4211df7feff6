#include "bp/bp_arguments_py.h"

#include <fstream>
#include <sstream>

#include "module/errors.h"
#include "module/ref.h"

namespace vornex::py {

namespace {

std::string utf8_of(PyObject* text) {
    Py_ssize_t size = 0;
    const char* data = PyUnicode_AsUTF8AndSize(text, &size);
    if (data == nullptr) throw_python_error();
    return std::string(data, static_cast<size_t>(size));
}

}  // namespace

std::string model_text_argument(PyObject* model) {
    if (PyUnicode_Check(model)) return utf8_of(model);
    if (PyObject_HasAttrString(model, "__fspath__")) {
        Ref path = Ref::checked(PyOS_FSPath(model));
        Ref text_path = PyUnicode_Check(path.get()) ? Ref::borrow(path.get())
                                                    : Ref::checked(PyUnicode_DecodeFSDefaultAndSize(
                                                          PyBytes_AsString(path.get()), PyBytes_Size(path.get())));
        const std::string name = utf8_of(text_path.get());
        if (name.find('\0') != std::string::npos) raise(PyExc_ValueError, "model path contains a NUL byte");
        std::ifstream file(name, std::ios::binary);
        std::ostringstream text;
        if (!file || !(text << file.rdbuf())) raise(PyExc_RuntimeError, "IO error: cannot read " + name);
        return text.str();
    }
    Ref text = Ref::checked(PyObject_Str(model));
    return utf8_of(text.get());
}

BpSettings bp_settings_argument(const Args& args, size_t first, BpSettings s) {
    if (auto v = args.get<std::optional<uint64_t>>(first)) s.max_iterations = *v;
    if (auto v = args.get<std::optional<std::string>>(first + 1)) s.method = unwrap(parse_bp_method(*v));
    if (auto v = args.get<std::optional<double>>(first + 2)) s.ms_scaling_factor = *v;
    if (auto v = args.get<std::optional<std::string>>(first + 3)) s.schedule = unwrap(parse_bp_schedule(*v));
    if (auto v = args.get<std::optional<std::string>>(first + 4)) s.stop = unwrap(parse_bp_stop(*v));
    return s;
}

}  // namespace vornex::py
