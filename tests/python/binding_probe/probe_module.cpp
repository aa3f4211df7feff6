// A test-only extension module exercising the binding layer's templates and
// call forms on a tiny native class, so that keyword-only parameters, class
// methods and the standard methods are checked without touching the public
// module's surface.
#define VORNEX_IMPORT_NUMPY
#include "module/python.h"

#include <cstdint>
#include <memory>
#include <span>
#include <vector>

#include "module/binding.h"

namespace vornex::py {
namespace {

// Corrections are the syndrome bytes themselves, optionally inverted; enough
// to see which arguments reached the native call.
struct Mirror {
    size_t n_checks_ = 0;
    size_t n_qubits() const { return n_checks_; }
    size_t n_checks() const { return n_checks_; }

    Status check_syndrome_length(size_t length) const {
        if (length == n_checks_) return ok_status();
        return value_error("length " + std::to_string(length));
    }
    std::vector<uint8_t> decode(std::span<const uint8_t> syndrome, bool invert) const {
        std::vector<uint8_t> out(syndrome.begin(), syndrome.end());
        if (invert)
            for (auto& b : out) b ^= 1;
        return out;
    }
    Result<std::vector<uint8_t>> batch_decode(std::span<const uint8_t> rows, size_t n_shots) const {
        if (n_shots == 3) return runtime_error("three shots refused");
        return std::vector<uint8_t>(rows.begin(), rows.end());
    }
    uint64_t scaled(uint64_t value, uint64_t scale) const { return value * scale; }
    uint64_t offset(uint64_t value, uint64_t by = 1) const { return value + by; }
    bool same_size(const Mirror& other) const { return other.n_checks_ == n_checks_; }
};

std::unique_ptr<Mirror> construct(const Args& args) {
    return std::make_unique<Mirror>(Mirror{args.get<uint64_t>(0)});
}

// A class method: the new object is built from another's size, doubled.
std::unique_ptr<Mirror> doubled(const Args& args) {
    Borrowed<const Mirror> other(args, 0);
    const uint64_t extra = args.get<std::optional<uint64_t>>(1).value_or(0);
    return std::make_unique<Mirror>(Mirror{2 * other->n_checks_ + extra});
}

PyObject* same_size(const Mirror& mirror, const Args& args) {
    Borrowed<const Mirror> other(args, 0);
    return py_bool(mirror.same_size(*other));
}

PyObject* all_same_size(const Mirror& mirror, const Args& args) {
    BorrowedItems<const Mirror> others(args, 0);
    bool same = true;
    for (const Mirror* other : others.get()) same = same && mirror.same_size(*other);
    return py_bool(same);
}

ModuleItem& mirror_class() {
    static ClassSpec spec =
        ClassSpec::of<construct>("Mirror(n_checks)")
            .class_method<doubled>("doubled($type, other, *, extra=None)")
            .method<decode_method<&Mirror::decode, "Bad syndrome: ", Syndrome::LengthFirst>>(
                "decode($self, syndrome, *, invert)")
            .method<batch_method<&Mirror::batch_decode, "Bad syndromes: ">>("batch_decode($self, syndromes)")
            .method<plain_method<&Mirror::scaled>>("scaled($self, value, *, scale=2)")
            // Bound with fewer parameters than the native call takes.
            .method<plain_method<&Mirror::offset>>("offset($self, value)")
            .method<same_size>("same_size($self, other)")
            .method<all_same_size>("all_same_size($self, others)")
            .getter<&Mirror::n_checks>("n_checks");
    return spec;
}

int exec_module(PyObject* module) {
    return boundary<int>(-1, [&]() -> int {
        if (PyArray_ImportNumPyAPI() < 0) return -1;
        set_panic_exception_type(PyExc_RuntimeError);
        return mirror_class().add_to(module);
    });
}

PyModuleDef_Slot module_slots[] = {
    {Py_mod_exec, reinterpret_cast<void*>(&exec_module)},
    {0, nullptr},
};

PyModuleDef module_def = {
    PyModuleDef_HEAD_INIT, "vornex_binding_probe", nullptr, 0, nullptr, module_slots, nullptr, nullptr, nullptr,
};

}  // namespace
}  // namespace vornex::py

PyMODINIT_FUNC PyInit_vornex_binding_probe() { return PyModuleDef_Init(&vornex::py::module_def); }
