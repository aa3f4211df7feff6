// LERBenchmark: logical error rates of the hybrid and matching decoders.
#include "evaluation/ler_benchmark.h"
#include "module/binding.h"
#include "module/released_work.h"
#include "module/registry.h"

namespace vornex::py {
namespace {

std::unique_ptr<LERBenchmark> construct(const Args&) { return std::make_unique<LERBenchmark>(); }

PyObject* run_all(const LERBenchmark& benchmark, const Args& args) {
    return py_str(
        unwrap(with_progress(args[0], [&](ProgressSink* progress) { return benchmark.run_all(progress); })));
}

}  // namespace

ModuleItem& ler_benchmark_class() {
    static ClassSpec spec =
        ClassSpec::of<construct>("LERBenchmark()").method<run_all>("run_all($self, *, progress=None)");
    return spec;
}

}  // namespace vornex::py
