// BenchmarkSuite: latency report of the weighted matching decoder.
#include "bench/benchmark.h"
#include "module/binding.h"
#include "module/registry.h"

namespace vornex::py {
namespace {

std::unique_ptr<BenchmarkSuite> construct(const Args& args) {
    auto checks = args.get<CheckList>(0);
    auto n_qubits = args.get<std::optional<uint64_t>>(1);
    auto n_samples = args.get<std::optional<uint64_t>>(2);
    auto seed = args.get<std::optional<uint64_t>>(3);
    return std::make_unique<BenchmarkSuite>(unwrap(BenchmarkSuite::create(std::move(checks), n_qubits, n_samples, seed)));
}

PyObject* run(const BenchmarkSuite& suite, const Args&) { return py_str(unwrap(suite.run())); }

}  // namespace

ModuleItem& benchmark_suite_class() {
    static ClassSpec spec = ClassSpec::of<construct>("BenchmarkSuite(check_to_qubits, n_qubits, n_samples, seed)")
                                .method<run>("run($self)");
    return spec;
}

}  // namespace vornex::py
