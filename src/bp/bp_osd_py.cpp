// BPOSDDecoder: min-sum BP with OSD post-processing, and with keyword-only
// settings the configurable engine. Decodes reuse the object's workspaces,
// so they hold the object exclusively; batches and predictions share it.
#include "bp/bp_arguments_py.h"
#include "bp/bp_osd_family.h"
#include "module/binding.h"
#include "module/model_arg.h"
#include "module/registry.h"

namespace vornex::py {
namespace {

// Keyword settings shared by the constructor and the class method, starting
// at argument `first`: max_iter, bp_method, ms_scaling_factor, schedule,
// stop, osd_method, osd_order; omitted ones keep the values in `defaults`.
BpOsdSettings settings_from(const Args& args, size_t first,
                            BpOsdSettings defaults = BpOsdOptions::defined_bp_osd_settings()) {
    BpOsdSettings s = defaults;
    s.bp = bp_settings_argument(args, first, s.bp);
    if (auto v = args.get<std::optional<std::string>>(first + 5)) s.osd.method = unwrap(parse_osd_method(*v));
    if (auto v = optional_count(args, first + 6)) s.osd.order = *v;
    return s;
}

std::unique_ptr<BpOsdFamily> construct(const Args& args) {
    warn_if_check_matrix(args);
    auto checks = args.get<CheckList>(0);
    auto n_qubits = args.get<std::optional<uint64_t>>(1);
    const double error_rate = args.get<double>(2);
    BpOsdOptions options;
    options.error_channel = args.get<std::optional<std::vector<double>>>(3);
    options.settings = settings_from(args, 4);
    return std::make_unique<BpOsdFamily>(
        unwrap(BpOsdFamily::create(std::move(checks), n_qubits, error_rate, std::move(options))));
}

// The constructor's arguments with the matrix in place of (check_to_qubits,
// n_qubits): n_qubits is its column count.
std::unique_ptr<BpOsdFamily> from_matrix(const Args& args) {
    CheckMatrix matrix = read_check_matrix(args[0], args.name(0));
    const double error_rate = args.get<double>(1);
    BpOsdOptions options;
    options.error_channel = args.get<std::optional<std::vector<double>>>(2);
    options.settings = settings_from(args, 3);
    return std::make_unique<BpOsdFamily>(
        unwrap(BpOsdFamily::create(std::move(matrix.checks), matrix.n_columns, error_rate, std::move(options))));
}

std::unique_ptr<BpOsdFamily> from_detector_error_model(const Args& args) {
    ModelArg model(args, 0);
    return std::make_unique<BpOsdFamily>(unwrap(BpOsdFamily::from_model(
        *model, settings_from(args, 1, BpOsdOptions::model_bp_osd_settings()))));
}

}  // namespace

ModuleItem& bp_osd_decoder_class() {
    using D = BpOsdFamily;
    static ClassSpec spec =
        ClassSpec::of<construct>(
            "BPOSDDecoder(check_to_qubits, n_qubits, error_rate, *, error_channel=None, max_iter=50, "
            "bp_method='minimum_sum', ms_scaling_factor=1.0, schedule='parallel', stop='posterior', "
            "osd_method='osd_0', osd_order=0)")
            .class_method<from_matrix>(
                "from_check_matrix($type, check_matrix, error_rate, *, error_channel=None, max_iter=50, "
                "bp_method='minimum_sum', ms_scaling_factor=1.0, schedule='parallel', stop='posterior', "
                "osd_method='osd_0', osd_order=0)",
                kFromCheckMatrixDoc)
            .class_method<from_detector_error_model>(
                "from_detector_error_model($type, model, *, max_iter=50, bp_method='minimum_sum', "
                "ms_scaling_factor=0.625, schedule='parallel', stop='syndrome', osd_method='osd_cs', osd_order=7)")
            .method<decode_method<&D::decode, "Invalid syndrome: ">>("decode($self, syndrome)")
            .method<decode_method<&D::decode_timed, "Invalid syndrome: ">>(
                "decode_timed($self, syndrome, max_latency_ms)")
            .method<decode_method<&D::bp_decode, "Invalid syndrome: ">>("bp_decode($self, syndrome, max_iterations)")
            .method<batch_method<&D::batch_decode, "Invalid syndromes: ">>("batch_decode($self, syndromes)")
            .method<predict_observables_method<D>>(kPredictSignature)
            .method<predict_observables_batch_method<D>>(kPredictBatchSignature)
            .getter<&D::n_qubits>("n_qubits")
            .getter<&D::n_checks>("n_checks")
            .getter<&D::num_observables>("num_observables");
    return spec;
}

}  // namespace vornex::py
