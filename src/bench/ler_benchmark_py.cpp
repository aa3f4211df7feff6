// LERBenchmark: logical error rates of the hybrid and matching decoders.
#include "bench/ler_benchmark.h"
#include "module/binding.h"
#include "module/registry.h"

namespace vornex::py {
namespace {

std::unique_ptr<LERBenchmark> construct(const Args&) { return std::make_unique<LERBenchmark>(); }

}  // namespace

ModuleItem& ler_benchmark_class() {
    static ClassSpec spec =
        ClassSpec::of<construct>("LERBenchmark()").method<plain_method<&LERBenchmark::run_all>>("run_all($self)");
    return spec;
}

}  // namespace vornex::py
