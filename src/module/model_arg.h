// A detector error model passed to a method: the module's own
// DetectorErrorModel (borrowed), model text (str), a path (os.PathLike), or
// a stim.DetectorErrorModel (read through its text). Every family's
// from_detector_error_model takes its model this way.
#pragma once

#include <cstddef>
#include <memory>
#include <optional>

#include "dem/dem_model.h"
#include "module/args.h"
#include "module/borrowed_arg.h"
#include "module/errors.h"

namespace vornex::py {

// Model files larger than this are refused before they are parsed (a d = 25,
// 25-round circuit-level surface-code model is about 20 MB of text).
inline constexpr size_t kMaxModelFileBytes = size_t{1} << 28;

class ModelArg {
public:
    // TypeError naming the argument for any other object; ValueError with the
    // reader's line-numbered text for malformed text, for a file above
    // kMaxModelFileBytes and for an empty model; OSError for a path that
    // cannot be read.
    ModelArg(const Args& args, size_t i);

    const DetectorErrorModel& operator*() const { return borrowed_ ? **borrowed_ : owned_; }
    const DetectorErrorModel* operator->() const { return &**this; }

private:
    std::optional<Borrowed<const DetectorErrorModel>> borrowed_;
    DetectorErrorModel owned_;
};

// The class method from_detector_error_model($type, model) of a family
// whose native side is Native::from_model(const DetectorErrorModel&).
template <class Native>
std::unique_ptr<Native> construct_from_model(const Args& args) {
    ModelArg model(args, 0);
    return std::make_unique<Native>(unwrap(Native::from_model(*model)));
}

// True for an object of stim's type `type_name` (e.g. "Circuit"), recognised
// by its type's name and module so that stim is never imported here.
bool is_stim_object(PyObject* object, const char* type_name);

// Reads and flattens the model in a file; OSError (with the path) when the
// file cannot be read, ValueError for its content or its size.
DetectorErrorModel read_model_file(PyObject* path);

// Flattens model text; ValueError with the reader's text.
DetectorErrorModel read_model_text(PyObject* text);

}  // namespace vornex::py
