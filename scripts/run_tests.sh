#!/usr/bin/env bash
# Installs what is needed, builds everything and runs every test: the wheel,
# the native GoogleTest suite, fuzz seeds and C programs together with the
# Python tests under AddressSanitizer + UndefinedBehaviorSanitizer, then the
# Python tests against the wheel installed into the scripts' virtual
# environment (scripts/venv.sh).
set -euo pipefail
cd "$(dirname "$0")/.."
ROOT=$(pwd)
JOBS=${JOBS:-2}
# Each stage line carries the seconds since the start, to keep the run short.
stage() { echo "== $* [${SECONDS}s]"; }

scripts/install_deps.sh
source scripts/venv.sh

# The wheel is built as on a machine without the system development packages:
# their CMake configs are out of reach, so oneTBB and nlohmann-json come from
# the PyPI build requirements.
APT_CONFIGS=$(ls -d /usr/lib/*/cmake/TBB /usr/lib/cmake/TBB /usr/share/cmake/nlohmann_json \
    /usr/lib/*/cmake/nlohmann_json 2>/dev/null | paste -sd ';' || true)
stage "wheel (CMake configs out of reach: ${APT_CONFIGS:-none})"
CMAKE_ARGS="-DCMAKE_IGNORE_PATH=$APT_CONFIGS" scripts/build_module.sh

# One sanitizer build serves both the native suite and the Python tests: the
# optimised build of the same code is the wheel above, tested further down.
# Its module is built for the oldest supported interpreter where the machine
# has one (pyenv images do), and its tests run under NumPy 1.x, so Python 3.10
# and NumPy 1.x are covered without another build or another run of the suite.
PY310=$(ls -d "${PYENV_ROOT:-$HOME/.pyenv}"/versions/3.10*/bin/python 2>/dev/null | head -n 1 || true)
[ -n "$PY310" ] || PY310=$(command -v python3.10 || true)
ASAN_PYTHON="$PYTHON"
if [ -n "$PY310" ] && "$PY310" -c 'import sys' 2>/dev/null; then
    [ -x "$ROOT/build/venv310/bin/python" ] || "$PY310" -m venv "$ROOT/build/venv310"
    ASAN_PYTHON="$ROOT/build/venv310/bin/python"
    "$ASAN_PYTHON" -m pip install -q --disable-pip-version-check \
        numpy scipy pytest networkx tqdm stim sinter pymatching ldpc matplotlib mcp dask distributed
fi
# The module builds against NumPy 2's headers, which make it load under both
# majors; the tests then import NumPy 1.x from here, where it has wheels.
NUMPY1=/tmp/vornex-numpy1
rm -rf "$NUMPY1"
NUMPY1_PATH=""
if "$ASAN_PYTHON" -c 'import sys; sys.exit(0 if sys.version_info < (3, 13) else 1)'; then
    "$ASAN_PYTHON" -m pip install -q --disable-pip-version-check --target "$NUMPY1" "numpy<2"
    NUMPY1_PATH="$NUMPY1:"
fi

stage "native tests under AddressSanitizer + UBSan"
# -O1 and line tables, as the sanitizers' own guidance has it: reports keep
# their lines, and the build (the longest step of this run) stays short.
cmake -S . -B build/asan -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DCMAKE_CXX_FLAGS_RELWITHDEBINFO="-O1 -g1 -DNDEBUG" \
    -DCMAKE_C_FLAGS_RELWITHDEBINFO="-O1 -g1 -DNDEBUG" -DVORNEX_SANITIZE=ON \
    -DVORNEX_BUILD_TESTS=ON -DVORNEX_BUILD_BENCH=OFF -DPython_EXECUTABLE="$ASAN_PYTHON" >/dev/null
cmake --build build/asan -j"$JOBS"
ASAN_OPTIONS=detect_leaks=1 UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1 \
    ctest --test-dir build/asan --output-on-failure

stage "Python tests under AddressSanitizer + UBSan ($(PYTHONPATH="$NUMPY1_PATH" "$ASAN_PYTHON" -c \
    'import sys, numpy; print("Python", sys.version.split()[0], "NumPy", numpy.__version__)'))"
# The interpreter itself is not instrumented, so the runtimes are preloaded;
# leak checks stay off because the interpreter keeps memory until exit.
(cd /tmp && LD_PRELOAD="$(gcc -print-file-name=libasan.so) $(gcc -print-file-name=libubsan.so)" \
    ASAN_OPTIONS=detect_leaks=0 UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1 \
    PYTHONPATH="$NUMPY1_PATH$ROOT/build/asan:$ROOT/python" \
    "$ASAN_PYTHON" -m pytest -q -p no:cacheprovider -c "$ROOT/pyproject.toml" --rootdir "$ROOT" "$ROOT/tests/python")

stage "Python tests against the installed module"
# Run from outside the source tree so that the installed module is imported.
cd /tmp
"$PYTHON" -m pytest -q -p no:cacheprovider -c "$ROOT/pyproject.toml" --rootdir "$ROOT" "$ROOT/tests/python"

stage "all tests passed"
