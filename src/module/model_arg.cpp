#include "module/model_arg.h"

#include <cstdio>
#include <cstring>
#include <memory>
#include <string>
#include <string_view>

#include "dem/dem_reader.h"
#include "module/errors.h"
#include "module/ref.h"

namespace vornex::py {
namespace {

DetectorErrorModel read_text(std::string_view text) { return unwrap(read_detector_error_model(text)); }

}  // namespace

bool is_stim_object(PyObject* object, const char* type_name) {
    PyTypeObject* type = Py_TYPE(object);
    const char* dot = std::strrchr(type->tp_name, '.');
    if (std::strcmp(dot != nullptr ? dot + 1 : type->tp_name, type_name) != 0) return false;
    Ref module = Ref::checked(PyObject_GetAttrString(reinterpret_cast<PyObject*>(type), "__module__"));
    if (!PyUnicode_Check(module.get())) return false;
    const char* name = PyUnicode_AsUTF8(module.get());
    if (name == nullptr) throw_python_error();
    const std::string_view module_name(name);
    return module_name == "stim" || module_name.rfind("stim.", 0) == 0;
}

DetectorErrorModel read_model_text(PyObject* text) {
    Py_ssize_t size = 0;
    const char* data = PyUnicode_AsUTF8AndSize(text, &size);
    if (data == nullptr) throw_python_error();
    return read_text(std::string_view(data, static_cast<size_t>(size)));
}

DetectorErrorModel read_model_file(PyObject* path) {
    PyObject* encoded_raw = nullptr;
    if (!PyUnicode_FSConverter(path, &encoded_raw)) throw_python_error();
    Ref encoded = Ref::steal(encoded_raw);
    const char* name = PyBytes_AS_STRING(encoded.get());
    std::unique_ptr<std::FILE, int (*)(std::FILE*)> file(std::fopen(name, "rb"), &std::fclose);
    std::string text;
    bool failed = file == nullptr;
    if (!failed) {
        // Reads in chunks up to one byte past the bound, so a device or a
        // file that keeps growing ends in an error rather than in memory.
        char buffer[1 << 16];
        size_t n = 0;
        while (text.size() <= kMaxModelFileBytes && (n = std::fread(buffer, 1, sizeof buffer, file.get())) > 0)
            text.append(buffer, n);
        failed = std::ferror(file.get()) != 0;
    }
    if (failed) {
        Ref fspath = Ref::checked(PyOS_FSPath(path));
        PyErr_SetFromErrnoWithFilenameObject(PyExc_OSError, fspath.get());
        throw_python_error();
    }
    if (text.size() > kMaxModelFileBytes) {
        Ref fspath = Ref::checked(PyOS_FSPath(path));
        Ref shown = Ref::checked(PyObject_Repr(fspath.get()));
        PyErr_Format(PyExc_ValueError, "model file %U is larger than the %zu-byte limit of a detector error model",
                     shown.get(), kMaxModelFileBytes);
        throw_python_error();
    }
    return read_text(text);
}

ModelArg::ModelArg(const Args& args, size_t i) {
    PyObject* object = args[i];
    if (TypeSlot<DetectorErrorModel>::type != nullptr && PyObject_TypeCheck(object, TypeSlot<DetectorErrorModel>::type)) {
        borrowed_.emplace(args, i);
    } else if (PyUnicode_Check(object)) {
        owned_ = read_model_text(object);
    } else if (is_stim_object(object, "DetectorErrorModel")) {
        Ref text = Ref::checked(PyObject_Str(object));
        owned_ = read_model_text(text.get());
    } else if (PyObject_HasAttrString(reinterpret_cast<PyObject*>(Py_TYPE(object)), "__fspath__")) {
        owned_ = read_model_file(object);
    } else {
        PyErr_Format(PyExc_TypeError,
                     "argument '%s': expected DetectorErrorModel, model text (str), a path (os.PathLike) or "
                     "stim.DetectorErrorModel, got %.200s",
                     args.name(i), Py_TYPE(object)->tp_name);
        throw_python_error();
    }
    // A decoder of nothing is almost always an empty file or a wrong path
    // variable; building one silently would only move the surprise to the
    // first shot.
    if ((**this).num_detectors == 0 && (**this).num_errors() == 0) {
        raise(PyExc_ValueError, std::string("argument '") + args.name(i) +
                                    "': the detector error model is empty (no error mechanisms and no detectors)");
    }
}

}  // namespace vornex::py
