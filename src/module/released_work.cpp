#include "module/released_work.h"

#include "module/ref.h"

namespace vornex::py {

bool on_main_thread() {
    // The main thread never changes; its id is read once. Without an answer
    // every thread counts as main, which only costs a needless look.
    static const unsigned long main_id = []() -> unsigned long {
        Ref threading = Ref::steal(PyImport_ImportModule("threading"));
        Ref main = threading ? Ref::steal(PyObject_CallMethod(threading.get(), "main_thread", nullptr)) : Ref();
        Ref id = main ? Ref::steal(PyObject_GetAttrString(main.get(), "ident")) : Ref();
        const unsigned long value = id ? PyLong_AsUnsignedLong(id.get()) : 0;
        if (PyErr_Occurred()) {
            PyErr_Clear();
            return 0;
        }
        return value;
    }();
    return main_id == 0 || PyThread_get_thread_ident() == main_id;
}

}  // namespace vornex::py
