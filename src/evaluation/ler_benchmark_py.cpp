// LERBenchmark: logical error rates of the hybrid and matching decoders.
#include "evaluation/ler_benchmark.h"
#include "module/binding.h"
#include "module/python_progress.h"
#include "module/registry.h"

namespace vornex::py {
namespace {

std::unique_ptr<LERBenchmark> construct(const Args&) { return std::make_unique<LERBenchmark>(); }

PyObject* run_all(const LERBenchmark& benchmark, const Args& args) {
    PythonProgress progress(args[0]);
    return py_str(unwrap(benchmark.run_all(&progress)));
}

}  // namespace

ModuleItem& ler_benchmark_class() {
    static ClassSpec spec =
        ClassSpec::of<construct>("LERBenchmark()").method<run_all>("run_all($self, *, progress=None)");
    return spec;
}

}  // namespace vornex::py
