// Objects of the module passed as arguments to another class's method (a
// graph to a network, a network to its trainer): the native object behind
// the argument, borrowed for as long as the helper lives. The constness of
// Native decides the borrow, as for methods: `Borrowed<const DetectorGraph>`
// shares it, `Borrowed<GNNPredecoder>` holds it exclusively.
//
//   PyObject* forward(const GNNPredecoder& net, const Args& args) {
//       Borrowed<const DetectorGraph> graph(args, 0);
//       return py_value(unwrap(net.forward(*graph)));
//   }
#pragma once

#include <deque>
#include <type_traits>
#include <vector>

#include "module/args.h"
#include "module/borrow.h"
#include "module/class_def.h"
#include "module/convert.h"
#include "module/errors.h"

namespace vornex::py {

template <class Native>
class Borrowed {
public:
    using Object = std::remove_const_t<Native>;
    static constexpr Access kAccess = std::is_const_v<Native> ? Access::Shared : Access::Exclusive;

    // TypeError "argument '<argument>': expected <Class>, got <type>" for
    // anything but an instance of Native's class.
    Borrowed(PyObject* object, const char* argument)
        : instance_(instance_arg<Object>(object, argument)), guard_(instance_->borrow, kAccess) {}
    Borrowed(const Args& args, size_t i) : Borrowed(args[i], args.name(i)) {}

    Native& operator*() const { return *instance_->native; }
    Native* operator->() const { return instance_->native; }

private:
    Instance<Object>* instance_;
    BorrowGuard guard_;
};

// Every item of a sequence argument borrowed as above; a failure on any item
// gets the parameter's note.
template <class Native>
class BorrowedItems {
public:
    BorrowedItems(const Args& args, size_t i) {
        try {
            SequenceItems items(args[i]);
            for (Py_ssize_t k = 0; k < items.size(); ++k) {
                Borrowed<Native>& item = borrows_.emplace_back(items[k], args.name(i));
                pointers_.push_back(&*item);
            }
        } catch (const PythonError&) {
            add_argument_note(args.name(i));
            throw;
        }
    }

    // The native objects in sequence order.
    const std::vector<Native*>& get() const { return pointers_; }

private:
    std::deque<Borrowed<Native>> borrows_;  // a deque: guards never move
    std::vector<Native*> pointers_;
};

}  // namespace vornex::py
