// BenchmarkSuite: latency report of the weighted matching decoder.
#include "bench/benchmark.h"
#include "module/binding.h"
#include "module/registry.h"

namespace vornex::py {
ModuleItem& benchmark_suite_class() {
    static ClassSpec spec = ClassSpec::of<construct_with<BenchmarkSuite, &BenchmarkSuite::create>>(
                                    "BenchmarkSuite(check_to_qubits, n_qubits, n_samples, seed)")
                                .method<plain_method<&BenchmarkSuite::run>>("run($self)");
    return spec;
}

}  // namespace vornex::py
