// BenchmarkSuite: latency report of the weighted matching decoder.
#include "evaluation/benchmark.h"
#include "module/binding.h"
#include "module/released_work.h"
#include "module/registry.h"

namespace vornex::py {
namespace {

PyObject* run(const BenchmarkSuite& suite, const Args& args) {
    return py_str(unwrap(with_progress(args[0], [&](ProgressSink* progress) { return suite.run(progress); })));
}

}  // namespace

ModuleItem& benchmark_suite_class() {
    static ClassSpec spec = ClassSpec::of<construct_with<BenchmarkSuite, &BenchmarkSuite::create>>(
                                    "BenchmarkSuite(check_to_qubits, n_qubits, n_samples, seed)")
                                .method<run>("run($self, *, progress=None)");
    return spec;
}

}  // namespace vornex::py
