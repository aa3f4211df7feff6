// DetectorErrorModel: a flattened detector error model, read from text or a
// file, that every family's from_detector_error_model accepts.
#include <memory>

#include "dem/dem_model.h"
#include "module/binding.h"
#include "module/model_arg.h"
#include "module/registry.h"

namespace vornex::py {
namespace {

std::unique_ptr<DetectorErrorModel> construct(const Args& args) {
    if (!PyUnicode_Check(args[0])) {
        PyErr_Format(PyExc_TypeError, "argument 'text': expected str, got %.200s", Py_TYPE(args[0])->tp_name);
        throw_python_error();
    }
    return std::make_unique<DetectorErrorModel>(read_model_text(args[0]));
}

std::unique_ptr<DetectorErrorModel> from_file(const Args& args) {
    return std::make_unique<DetectorErrorModel>(read_model_file(args[0]));
}

auto num_detectors(const DetectorErrorModel& model) { return model.num_detectors; }
auto num_observables(const DetectorErrorModel& model) { return model.num_observables; }

PyObject* id_tuple(const std::vector<uint32_t>& ids) {
    Ref tuple = Ref::checked(PyTuple_New(static_cast<Py_ssize_t>(ids.size())));
    for (size_t k = 0; k < ids.size(); ++k) PyTuple_SET_ITEM(tuple.get(), static_cast<Py_ssize_t>(k), py_int(ids[k]));
    return tuple.release();
}

// (probability, detectors, observables) per error; repeated targets cancel.
PyObject* errors(const DetectorErrorModel& model, const Args&) {
    Ref list = Ref::checked(PyList_New(static_cast<Py_ssize_t>(model.num_errors())));
    std::vector<uint32_t> detectors, observables;
    for (size_t c = 0; c < model.num_errors(); ++c) {
        column_detectors(model, c, detectors);
        column_observables(model, c, observables);
        PyList_SET_ITEM(list.get(), static_cast<Py_ssize_t>(c),
                        py_tuple(py_float(model.probability[c]), id_tuple(detectors), id_tuple(observables)));
    }
    return list.release();
}

PyObject* detector_coordinates(const DetectorErrorModel& model, const Args&) {
    Ref dict = Ref::checked(PyDict_New());
    for (size_t entry = 0; entry < model.coordinate_detector.size(); ++entry) {
        auto coordinates = model.coordinates_of_entry(entry);
        Ref key = Ref::steal(py_int(model.coordinate_detector[entry]));
        Ref value = Ref::steal(py_value(std::vector<double>(coordinates.begin(), coordinates.end())));
        if (PyDict_SetItem(dict.get(), key.get(), value.get()) < 0) throw_python_error();
    }
    return dict.release();
}

}  // namespace

ModuleItem& detector_error_model_class() {
    using M = DetectorErrorModel;
    static ClassSpec spec =
        ClassSpec::of<construct>("DetectorErrorModel(text)",
                                 "A detector error model read from its text: repeat blocks unrolled, detector "
                                 "shifts applied.")
            .class_method<from_file>("from_file($type, path)", "Read a detector error model from a file.")
            .method<errors>("errors($self)",
                            "Every error mechanism as (probability, detectors, observables), in model order.")
            .method<detector_coordinates>("detector_coordinates($self)",
                                          "Coordinates of the detectors declared with them, by detector.")
            .getter<num_detectors>("num_detectors")
            .getter<num_observables>("num_observables")
            .getter<&M::num_errors>("num_errors");
    return spec;
}

}  // namespace vornex::py
