// Declarative Python classes and functions over native objects.
//
// A binding file states its class in one place: the constructor's text
// signature, then each method and getter with its text signature. The
// signature doubles as the parameter list, and the constness of a method's
// native parameter decides its borrow: `const Native&` borrows shared,
// `Native&` exclusively.
//
//   ModuleItem& union_find_decoder_class() {
//       static ClassSpec spec = ClassSpec::of<construct>("UnionFindDecoder(check_to_qubits, n_qubits)")
//           .method<decode>("decode($self, syndrome)")
//           .getter<&UnionFindDecoder::n_qubits>("n_qubits");
//       return spec;
//   }
#pragma once

#include <cstring>
#include <deque>
#include <memory>
#include <new>
#include <stdexcept>
#include <string>
#include <thread>
#include <type_traits>
#include <vector>

#include "module/args.h"
#include "module/borrow.h"
#include "module/errors.h"
#include "module/object_repr.h"
#include "module/python.h"
#include "module/signature.h"
#include "module/values.h"

namespace vornex::py {

// The Python object: a handle to native state, its borrow counter and the
// thread that created it.
template <class Native>
struct Instance {
    PyObject_HEAD
    Native* native;
    BorrowFlag borrow;
    std::thread::id owner;
};

// The type object created for Native in the loaded module.
template <class Native>
struct TypeSlot {
    static inline PyTypeObject* type = nullptr;
};

// Set for classes whose objects belong to the thread that created them (they
// drive per-thread native state, such as a current device context): the
// type path named in the errors of use or release on another thread.
template <class Native>
struct ThreadBinding {
    static inline const char* type_path = nullptr;
};

// Refuses use of a thread-bound object off its creating thread.
template <class Native>
void require_owner_thread(const Instance<Native>* instance) {
    const char* path = ThreadBinding<Native>::type_path;
    if (path != nullptr && instance->owner != std::this_thread::get_id())
        raise(panic_exception_type(), std::string(path) + " is unsendable, but sent to another thread");
}

// Parameter list of each bound callable, set when its class or function is
// added to the module. One native function serves one signature: binding it
// twice under different signatures would silently parse one caller's
// arguments by the other's, so that fails the import instead.
template <auto Fn>
struct SignatureSlot {
    static inline const Signature* signature = nullptr;

    static void publish(const Signature* s) {
        if (signature != nullptr && signature != s)
            throw std::logic_error("one native function bound under two signatures: " + signature->name + " and " +
                                   s->name);
        signature = s;
    }
};

template <class F>
struct MethodTraits;
template <class N>
struct MethodTraits<PyObject* (*)(N&, const Args&)> {
    using Native = std::remove_const_t<N>;
    static constexpr Access access = std::is_const_v<N> ? Access::Shared : Access::Exclusive;
};

// Getters are functions of the native object (returning a new reference, or
// a value that converts with py_value) or const member functions whose value
// converts with py_value.
template <class F>
struct GetterTraits;
template <class N, class R>
struct GetterTraits<R (*)(const N&)> {
    using Native = N;
    using Result = R;
};
// A getter inherited from a base shared by several families reads the
// family's own objects: such a base names the family as `Family`.
template <class N>
struct OwnClass {
    using type = N;
};
template <class N>
    requires requires { typename N::Family; }
struct OwnClass<N> {
    using type = typename N::Family;
};
template <class N, class R>
struct GetterTraits<R (N::*)() const> {
    using Native = typename OwnClass<N>::type;
    using Result = R;
};
template <class N, class R>
struct GetterTraits<R (N::*)() const noexcept> {
    using Native = typename OwnClass<N>::type;
    using Result = R;
};

template <auto Fn, class Native>
PyObject* get_value(const Native& native) {
    if constexpr (std::is_member_function_pointer_v<decltype(Fn)>)
        return py_value((native.*Fn)());
    else if constexpr (std::is_same_v<typename GetterTraits<decltype(Fn)>::Result, PyObject*>)
        return Fn(native);
    else
        return py_value(Fn(native));
}

// Getters of integer values (sizes and counts, not flags) are what a class's
// repr shows: cheap to read, and enough to tell two objects apart at a glance.
template <auto Fn>
constexpr bool is_size_getter() {
    using R = std::remove_cvref_t<typename GetterTraits<decltype(Fn)>::Result>;
    return std::is_integral_v<R> && !std::is_same_v<R, bool>;
}

// The size getters of Native's class, in the order the class lists them.
template <class Native>
struct ReprSlot {
    static inline const std::vector<ReprField>* fields = nullptr;
};

template <class F>
struct SetterTraits;
template <class N>
struct SetterTraits<void (*)(N&, PyObject*)> {
    using Native = N;
};

template <class F>
struct ConstructorTraits;
template <class N>
struct ConstructorTraits<std::unique_ptr<N> (*)(const Args&)> {
    using Native = N;
};

// The Python class name of Native ("DetectorGraph"), for messages.
template <class Native>
const char* class_name_of() {
    PyTypeObject* type = TypeSlot<Native>::type;
    if (type == nullptr) return "?";
    const char* dot = std::strrchr(type->tp_name, '.');
    return dot != nullptr ? dot + 1 : type->tp_name;
}

// The native object behind `object` if it is an instance of Native's class;
// TypeError naming the argument otherwise.
template <class Native>
Instance<Native>* instance_arg(PyObject* object, const char* argument) {
    PyTypeObject* type = TypeSlot<Native>::type;
    if (type == nullptr || !PyObject_TypeCheck(object, type)) {
        PyErr_Format(PyExc_TypeError, "argument '%s': expected %s, got %.200s", argument, class_name_of<Native>(),
                     Py_TYPE(object)->tp_name);
        throw_python_error();
    }
    return reinterpret_cast<Instance<Native>*>(object);
}

// A new Python object of `type` (Native's class or a subclass) taking over
// `native`.
template <class Native>
PyObject* adopt_native(PyTypeObject* type, std::unique_ptr<Native> native) {
    PyObject* self = type->tp_alloc(type, 0);
    if (self == nullptr) throw_python_error();
    auto* instance = reinterpret_cast<Instance<Native>*>(self);
    new (&instance->borrow) BorrowFlag();
    new (&instance->owner) std::thread::id(std::this_thread::get_id());
    instance->native = native.release();
    return self;
}

// A new object of Native's own class, for methods that return another
// object of the module (a decoder built by a class method, say).
template <class Native>
PyObject* wrap_native(std::unique_ptr<Native> native) {
    PyTypeObject* type = TypeSlot<Native>::type;
    if (type == nullptr) throw std::logic_error("class not added to the module");
    return adopt_native(type, std::move(native));
}

namespace entry {

template <auto Fn>
PyObject* method(PyObject* self, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames) {
    return boundary<PyObject*>(nullptr, [&]() -> PyObject* {
        using Traits = MethodTraits<decltype(Fn)>;
        auto* instance = reinterpret_cast<Instance<typename Traits::Native>*>(self);
        require_owner_thread(instance);
        BorrowGuard guard(instance->borrow, Traits::access);
        Args bound(*SignatureSlot<Fn>::signature, args, static_cast<size_t>(PyVectorcall_NARGS(nargs)),
                   kwnames);
        return Fn(*instance->native, bound);
    });
}

template <auto Fn>
PyObject* function(PyObject*, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames) {
    return boundary<PyObject*>(nullptr, [&]() -> PyObject* {
        Args bound(*SignatureSlot<Fn>::signature, args, static_cast<size_t>(PyVectorcall_NARGS(nargs)),
                   kwnames);
        return Fn(bound);
    });
}

template <auto Fn>
PyObject* getter(PyObject* self, void*) {
    return boundary<PyObject*>(nullptr, [&]() -> PyObject* {
        auto* instance = reinterpret_cast<Instance<typename GetterTraits<decltype(Fn)>::Native>*>(self);
        require_owner_thread(instance);
        BorrowGuard guard(instance->borrow, Access::Shared);
        return get_value<Fn>(*instance->native);
    });
}

template <auto Fn>
int setter(PyObject* self, PyObject* value, void*) {
    return boundary<int>(-1, [&]() -> int {
        if (value == nullptr) raise(PyExc_TypeError, "can't delete attribute");
        auto* instance = reinterpret_cast<Instance<typename SetterTraits<decltype(Fn)>::Native>*>(self);
        require_owner_thread(instance);
        BorrowGuard guard(instance->borrow, Access::Exclusive);
        Fn(*instance->native, value);
        return 0;
    });
}

template <auto Ctor>
PyObject* construct(PyTypeObject* type, PyObject* args, PyObject* kwargs) {
    return boundary<PyObject*>(nullptr, [&]() -> PyObject* {
        Args bound(*SignatureSlot<Ctor>::signature, args, kwargs);
        return adopt_native(type, Ctor(bound));
    });
}

// A class method building a new object: `cls` is the class it was called on.
template <auto Ctor>
PyObject* class_method(PyObject* cls, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames) {
    return boundary<PyObject*>(nullptr, [&]() -> PyObject* {
        Args bound(*SignatureSlot<Ctor>::signature, args, static_cast<size_t>(PyVectorcall_NARGS(nargs)),
                   kwnames);
        return adopt_native(reinterpret_cast<PyTypeObject*>(cls), Ctor(bound));
    });
}

// A thread-bound object released on another thread is reported as an
// unraisable RuntimeError and its native state is left alone: tearing it
// down there could act on another thread's native context.
// No object is named in the report: the one being released has no
// references left, and handing it to the hook would release it again.
template <class Native>
bool release_on_wrong_thread(const Instance<Native>* instance) {
    const char* path = ThreadBinding<Native>::type_path;
    if (path == nullptr || instance->owner == std::this_thread::get_id()) return false;
    const std::string text = std::string(path) + " is unsendable, but is being dropped on another thread";
    PyObject *type = nullptr, *value = nullptr, *traceback = nullptr;
    PyErr_Fetch(&type, &value, &traceback);  // a release may happen while an exception propagates
    PyErr_SetString(PyExc_RuntimeError, text.c_str());
    PyErr_WriteUnraisable(nullptr);
    PyErr_Restore(type, value, traceback);
    return true;
}

// "UnionFindDecoder(n_qubits=5, n_checks=4)"; the default form when a size
// cannot be read now (the object is borrowed exclusively, or belongs to
// another thread).
template <class Native>
PyObject* repr(PyObject* self) {
    return boundary<PyObject*>(nullptr, [&]() -> PyObject* { return object_repr(self, *ReprSlot<Native>::fields); });
}

template <class Native>
void dealloc(PyObject* self) {
    PyTypeObject* type = Py_TYPE(self);
    auto* instance = reinterpret_cast<Instance<Native>*>(self);
    if (!release_on_wrong_thread(instance)) delete instance->native;
    instance->owner.~id();
    instance->borrow.~BorrowFlag();
    type->tp_free(self);
    Py_DECREF(type);
}

}  // namespace entry

// One item of the module's ordered registry.
class ModuleItem {
public:
    virtual ~ModuleItem() = default;
    // Adds the item to `module`; -1 with a Python exception set on failure.
    virtual int add_to(PyObject* module) = 0;
};

// Entry points of methods: (self or class, arguments, count, keyword names).
using VectorCall = PyObject* (*)(PyObject*, PyObject* const*, Py_ssize_t, PyObject*);

// A callable's signature and how to reach it, kept until the module adds it.
struct CallableEntry {
    Signature signature;
    PyCFunction function = nullptr;
    int flags = 0;
    void (*publish)(const Signature*) = nullptr;
};

class ClassSpec : public ModuleItem {
public:
    // A class whose constructor is `Ctor`: std::unique_ptr<Native> (*)(const Args&).
    template <auto Ctor>
    static ClassSpec of(const std::string& text_signature, const std::string& description = "") {
        using Native = typename ConstructorTraits<decltype(Ctor)>::Native;
        ClassSpec spec;
        spec.constructor_ = {parse_signature(text_signature, description), nullptr, 0,
                             &SignatureSlot<Ctor>::publish};
        spec.basicsize_ = sizeof(Instance<Native>);
        spec.new_ = &entry::construct<Ctor>;
        spec.dealloc_ = &entry::dealloc<Native>;
        spec.publish_type_ = [](PyTypeObject* type) { TypeSlot<Native>::type = type; };
        spec.publish_binding_ = [](const char* path) { ThreadBinding<Native>::type_path = path; };
        spec.repr_ = &entry::repr<Native>;
        spec.publish_repr_fields_ = [](const std::vector<ReprField>* fields) { ReprSlot<Native>::fields = fields; };
        return spec;
    }

    template <auto Fn>
    ClassSpec& method(const std::string& text_signature, const std::string& description = "") {
        return add_method(text_signature, description, &entry::method<Fn>, 0, &SignatureSlot<Fn>::publish);
    }

    // Fn: PyObject* (*)(const Args&); called on the class, no instance.
    template <auto Fn>
    ClassSpec& static_method(const std::string& text_signature, const std::string& description = "") {
        return add_method(text_signature, description, &entry::function<Fn>, METH_STATIC,
                          &SignatureSlot<Fn>::publish);
    }

    // Alternative constructor called on the class, e.g.
    // "from_detector_error_model($type, model, *, weights=None)": Ctor is
    // std::unique_ptr<Native> (*)(const Args&), like the class's own
    // constructor; the new object is of the class it was called on.
    template <auto Ctor>
    ClassSpec& class_method(const std::string& text_signature, const std::string& description = "") {
        return add_method(text_signature, description, &entry::class_method<Ctor>, METH_CLASS,
                          &SignatureSlot<Ctor>::publish);
    }

    // Read-only attribute: Fn is PyObject* (*)(const Native&) or a const
    // member function such as &Native::n_qubits.
    // Integer-valued getters also show in the class's repr.
    template <auto Fn>
    ClassSpec& getter(const char* name, const char* description = nullptr) {
        getset_.push_back({name, &entry::getter<Fn>, nullptr, description, nullptr});
        if constexpr (is_size_getter<Fn>()) repr_fields_.push_back({name, &entry::getter<Fn>});
        return *this;
    }

    // Read-write attribute: Set is void (*)(Native&, PyObject* value).
    template <auto Get, auto Set>
    ClassSpec& property(const char* name) {
        getset_.push_back({name, &entry::getter<Get>, &entry::setter<Set>, nullptr, nullptr});
        if constexpr (is_size_getter<Get>()) repr_fields_.push_back({name, &entry::getter<Get>});
        return *this;
    }

    // Adds groups of members several classes share (module/member_groups.h),
    // in order, e.g. `.with(check_matrix_constructor<D>, size_getters<D>)`:
    // each binding then states only how its class differs.
    template <class... AddMembers>
    ClassSpec& with(AddMembers... add) {
        (add(*this), ...);
        return *this;
    }

    // Binds every object to the thread that created it; `type_path` names
    // the type in the errors of use or release on another thread.
    ClassSpec& bound_to_thread(const char* type_path) {
        bind_thread_ = type_path;
        return *this;
    }

    int add_to(PyObject* module) override;

private:
    ClassSpec() = default;

    // A vectorcall entry point taking keywords; `binding` adds
    // METH_STATIC or METH_CLASS.
    ClassSpec& add_method(const std::string& text_signature, const std::string& description,
                          VectorCall function, int binding, void (*publish)(const Signature*)) {
        methods_.push_back({parse_signature(text_signature, description),
                            reinterpret_cast<PyCFunction>(reinterpret_cast<void (*)()>(function)),
                            METH_FASTCALL | METH_KEYWORDS | binding, publish});
        return *this;
    }

    CallableEntry constructor_;
    const char* bind_thread_ = nullptr;
    void (*publish_binding_)(const char*) = nullptr;
    std::vector<CallableEntry> methods_;
    std::vector<PyGetSetDef> getset_;
    std::vector<ReprField> repr_fields_;
    size_t basicsize_ = 0;
    newfunc new_ = nullptr;
    destructor dealloc_ = nullptr;
    reprfunc repr_ = nullptr;
    void (*publish_repr_fields_)(const std::vector<ReprField>*) = nullptr;
    void (*publish_type_)(PyTypeObject*) = nullptr;

    // Filled by add_to; must outlive the type object, so they live here.
    std::string qualified_name_;
    std::vector<PyMethodDef> method_defs_;
    std::vector<PyGetSetDef> getset_defs_;
    std::vector<PyType_Slot> slots_;
    PyType_Spec type_spec_{};
};

class FunctionSpec : public ModuleItem {
public:
    // A module function: Fn is PyObject* (*)(const Args&).
    template <auto Fn>
    static FunctionSpec of(const std::string& text_signature, const std::string& description = "") {
        FunctionSpec spec;
        spec.entry_ = {parse_signature(text_signature, description),
                       reinterpret_cast<PyCFunction>(reinterpret_cast<void (*)()>(&entry::function<Fn>)),
                       METH_FASTCALL | METH_KEYWORDS,
                       &SignatureSlot<Fn>::publish};
        return spec;
    }

    int add_to(PyObject* module) override;

private:
    FunctionSpec() = default;
    CallableEntry entry_;
    PyMethodDef defs_[2]{};
};

// The module function Fn as its registry item, made once:
//   ModuleItem& cuda_is_available_function() { return function_item<is_available>("cuda_is_available()"); }
template <auto Fn>
ModuleItem& function_item(const char* text_signature, const char* description = "") {
    static FunctionSpec spec = FunctionSpec::of<Fn>(text_signature, description);
    return spec;
}

}  // namespace vornex::py
