"""CUDABatchDecoder: construction texts, the probe, and the whole fallback
machine against a stand-in driver library loaded in a child interpreter."""
import os
import shutil
import subprocess
import sys
import textwrap

import numpy as np
import pytest

import vornex_decoder_v3 as vx

@pytest.mark.parametrize("checks, n_qubits", [
    ([], None),
    ([[0], []], None),
    ([[0, 1], [1, 2]], 0),
    ([[0, 1], [1, 2]], 2),
    ([[0, 1]], 2**32),
])
def test_bad_codes_are_runtime_errors(checks, n_qubits):
    # The native tests check their texts and that they come before the driver's.
    with pytest.raises(RuntimeError):
        vx.CUDABatchDecoder(checks, n_qubits)


def test_arguments_convert_like_the_rest_of_the_family():
    with pytest.raises(TypeError):
        vx.CUDABatchDecoder("01", None)
    with pytest.raises(OverflowError):
        vx.CUDABatchDecoder([[-1]], None)


def test_probe_and_construction_without_a_usable_gpu():
    assert vx.cuda_is_available() is vx.CUDABatchDecoder.is_available()
    for probe, name in ((vx.cuda_is_available, "cuda_is_available"), (vx.CUDABatchDecoder.is_available, "is_available")):
        with pytest.raises(TypeError, match=rf"^{name}\(\) takes 0 positional arguments but 1 was given$"):
            probe(1)
    if vx.cuda_is_available():
        pytest.skip("a GPU is present")
    with pytest.raises(RuntimeError):
        vx.CUDABatchDecoder([[0, 1], [1, 2]], None)


# A driver whose device launches fail unless FAKE_CUDA_LAUNCH=ok; device
# memory is host memory, and every other call succeeds.
FAKE_DRIVER = r"""
#include <stdlib.h>
#include <string.h>
typedef unsigned long long dptr;
int cuInit(unsigned f) { return 0; }
int cuDeviceGetCount(int* n) { *n = 1; return 0; }
int cuDeviceGet(int* d, int o) { *d = o; return 0; }
int cuDeviceGetName(char* s, int n, int d) { strncpy(s, "Stand-in GPU", n); return 0; }
int cuDeviceComputeCapability(int* a, int* b, int d) {
    const char* cc = getenv("FAKE_CUDA_CC");
    *a = cc ? cc[0] - '0' : 8; *b = cc ? cc[2] - '0' : 6; return 0;
}
int cuCtxCreate_v2(void** c, unsigned f, int d) { *c = (void*)16; return 0; }
int cuCtxDestroy_v2(void* c) { return 0; }
static void* current;
int cuCtxSetCurrent(void* c) { current = c; return 0; }
int cuCtxSynchronize(void) { return 0; }
int cuModuleLoadDataEx(void** m, const void* p, unsigned n, int* o, void** v) { *m = (void*)32; return 0; }
int cuModuleUnload(void* m) { return 0; }
int cuModuleGetFunction(void** f, void* m, const char* name) { *f = (void*)48; return 0; }
int cuMemAlloc_v2(dptr* p, size_t n) { *p = (dptr)calloc(n, 1); return *p ? 0 : 2; }
int cuMemFree_v2(dptr p) { free((void*)p); return 0; }
int cuMemcpyHtoD_v2(dptr d, const void* s, size_t n) { memcpy((void*)d, s, n); return 0; }
int cuMemcpyDtoH_v2(void* d, dptr s, size_t n) { memcpy(d, (void*)s, n); return 0; }
int cuLaunchKernel(void* f, unsigned a, unsigned b, unsigned c, unsigned d, unsigned e, unsigned g,
                   unsigned sh, void* st, void** p, void** x) {
    const char* mode = getenv("FAKE_CUDA_LAUNCH");
    return mode && strcmp(mode, "ok") == 0 ? 0 : 719;
}
int cuGetErrorName(int c, const char** s) { *s = "CUDA_ERROR_LAUNCH_FAILED"; return 0; }
int cuGetErrorString(int c, const char** s) { *s = "unspecified launch failure"; return 0; }
int cuDevicePrimaryCtxRetain(void** c, int d) { *c = (void*)16; return 0; }
int cuDevicePrimaryCtxRelease_v2(int d) { return 0; }
int cuDevicePrimaryCtxReset_v2(int d) { return 0; }
int cuCtxGetCurrent(void** c) { *c = current; return 0; }
int cuDriverGetVersion(int* v) { *v = 13000; return 0; }
int cuMemGetInfo_v2(size_t* f, size_t* t) { *f = (size_t)1 << 32; *t = (size_t)1 << 33; return 0; }
int cuStreamCreate(void** s, unsigned f) { *s = (void*)64; return 0; }
int cuStreamDestroy_v2(void* s) { return 0; }
int cuStreamSynchronize(void* s) { return 0; }
int cuMemcpyHtoDAsync_v2(dptr d, const void* s, size_t n, void* st) { memcpy((void*)d, s, n); return 0; }
int cuMemcpyDtoHAsync_v2(void* d, dptr s, size_t n, void* st) { memcpy(d, (void*)s, n); return 0; }
int cuMemHostAlloc(void** p, size_t n, unsigned f) { *p = malloc(n ? n : 1); return *p ? 0 : 2; }
int cuMemFreeHost(void* p) { free(p); return 0; }
"""

CHILD = r"""
import threading
import numpy as np
import vornex_decoder_v3 as vx

checks, n = [[0, 1], [1, 2], [2, 3], [3, 4]], 5
dec = vx.CUDABatchDecoder(checks, None)
if dec.degraded_reason is not None and dec.degraded_reason.startswith("NVRTC library not found: "):
    print("no nvrtc")
    raise SystemExit
cpu = vx.UnionFindDecoder(checks, None)
assert vx.cuda_is_available() and vx.CUDABatchDecoder.is_available()
assert (dec.n_qubits, dec.n_checks) == (5, 4)
assert dec.device_name == "Stand-in GPU" and dec.compute_capability == (8, 6)
rng = np.random.default_rng(5)

def state():
    return (dec.consecutive_failures, dec.total_failures, dec.is_degraded, dec.gpu_recoveries)

def call(batch):
    s = (rng.random((batch, 4)) < 0.4).astype(np.uint8)
    out = dec.batch_decode(s)
    assert out.dtype == np.uint8 and out.shape == (batch, 5)
    assert np.array_equal(out, cpu.batch_decode(s))

assert dec.batch_decode(np.zeros((0, 4), np.uint8)).shape == (0, 5)
call(3)
assert state() == (0, 0, False, 0)
assert dec.degraded_reason is None
for _ in range(3):
    call(8)
assert state() == (3, 3, True, 0)
assert dec.degraded_reason == "cuLaunchKernel failed: CUDA_ERROR_LAUNCH_FAILED (unspecified launch failure)"
for i in range(9):
    call(40 if i % 2 else 1)
assert state() == (3, 3, True, 0)
call(8)
assert state() == (3, 4, True, 0)

import os
os.environ["FAKE_CUDA_LAUNCH"] = "ok"
for _ in range(9):
    call(8)
assert state() == (3, 4, True, 0)
dec.batch_decode(np.zeros((8, 4), np.uint8))
assert state() == (0, 4, False, 1)
os.environ["FAKE_CUDA_LAUNCH"] = "fail"
call(8)
assert state() == (1, 5, False, 1)
assert dec.reset() is None
assert state() == (0, 0, False, 1)
assert dec.degraded_reason is None

# Shapes are refused with the core's texts; the layout with this class's prefix.
for bad, text in ((np.zeros(5, np.uint8), None), (np.zeros((2, 5), np.uint8), None),
                  (np.zeros((4, 8), np.uint8)[:, ::2],
                   "Invalid syndromes: The given array is not contiguous or is misaligned.")):
    try:
        dec.batch_decode(bad)
    except ValueError as e:
        assert text is None or str(e) == text, str(e)
    else:
        raise AssertionError(bad.shape)

caught = []
def elsewhere():
    for use in (lambda: dec.n_qubits, lambda: dec.reset(),
                lambda: dec.batch_decode(np.zeros((1, 4), np.uint8))):
        try:
            use()
        except vx.PanicException as e:
            caught.append(str(e))
t = threading.Thread(target=elsewhere)
t.start()
t.join()
assert caught == ["vornex_decoder_v3::cuda_python::PyCUDABatchDecoder is unsendable, "
                  "but sent to another thread"] * 3, caught

# Released on another thread: reported as unraisable, native state left alone.
import sys
reported = []
sys.unraisablehook = lambda info: reported.append((type(info.exc_value), str(info.exc_value)))
box = [vx.CUDABatchDecoder([[0, 1], [1, 2], [2, 3], [3, 4]], None)]
t = threading.Thread(target=box.clear)
t.start()
t.join()
assert reported == [(RuntimeError, "vornex_decoder_v3::cuda_python::PyCUDABatchDecoder is unsendable, "
                                   "but is being dropped on another thread")], reported
print("child ok")
"""


# A device too old for every installed compiler: a working CPU decoder that
# says why, instead of an exception.
OLD_DEVICE_CHILD = r"""
import numpy as np
import vornex_decoder_v3 as vx

checks = [[0, 1], [1, 2], [2, 3], [3, 4]]
dec = vx.CUDABatchDecoder(checks, None)
assert dec.compute_capability == (3, 0)
assert dec.is_degraded
reason = dec.degraded_reason
if reason.startswith("NVRTC library not found: "):
    print("no nvrtc")
    raise SystemExit
assert reason.startswith("No installed NVRTC builds a kernel this device loads: "), reason
assert "builds for no architecture up to compute_30" in reason, reason
s = (np.random.default_rng(1).random((64, 4)) < 0.4).astype(np.uint8)
assert np.array_equal(dec.batch_decode(s), vx.UnionFindDecoder(checks, None).batch_decode(s))
assert (dec.consecutive_failures, dec.total_failures, dec.gpu_recoveries) == (0, 0, 0)
dec.reset()
assert dec.is_degraded and dec.degraded_reason == reason
print("child ok")
"""


def run_with_stand_in_driver(tmp_path, child_source, **env_extra):
    compiler = shutil.which("cc") or shutil.which("gcc")
    if compiler is None:
        pytest.skip("no C compiler to build the stand-in driver")
    source = tmp_path / "fake_cuda.c"
    source.write_text(FAKE_DRIVER)
    # Only under the unversioned name: the compiler library looks for the
    # versioned one itself and must not find this stand-in.
    subprocess.run([compiler, "-shared", "-fPIC", "-o", str(tmp_path / "libcuda.so"), str(source)],
                   check=True)
    env = dict(os.environ)
    env["LD_LIBRARY_PATH"] = str(tmp_path) + os.pathsep + env.get("LD_LIBRARY_PATH", "")
    env["PYTHONPATH"] = os.pathsep.join(p for p in sys.path if p)
    env.update(env_extra)
    child = subprocess.run([sys.executable, "-c", textwrap.dedent(child_source)], env=env, capture_output=True,
                           text=True, timeout=120)
    assert child.returncode == 0, child.stderr
    return child.stdout.strip()


def test_fallback_machine_with_a_failing_device(tmp_path):
    out = run_with_stand_in_driver(tmp_path, CHILD, FAKE_CUDA_LAUNCH="fail")
    if out == "no nvrtc":
        pytest.skip("NVRTC not installed")
    assert out == "child ok"


def test_device_no_compiler_builds_for_runs_on_the_cpu(tmp_path):
    out = run_with_stand_in_driver(tmp_path, OLD_DEVICE_CHILD, FAKE_CUDA_CC="3.0")
    if out == "no nvrtc":
        pytest.skip("NVRTC not installed")
    assert out == "child ok"
