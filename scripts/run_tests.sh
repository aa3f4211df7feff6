#!/usr/bin/env bash
# Installs what is needed, builds everything and runs every test:
# the native GoogleTest suite and C programs, the same suite under
# AddressSanitizer + UndefinedBehaviorSanitizer, and the Python tests
# against the wheel installed into the scripts' virtual environment
# (scripts/venv.sh).
set -euo pipefail
cd "$(dirname "$0")/.."
ROOT=$(pwd)
JOBS=${JOBS:-2}

scripts/install_deps.sh
source scripts/venv.sh

# The wheel is built as on a machine without the system development packages:
# their CMake configs are out of reach, so oneTBB and nlohmann-json come from
# the PyPI build requirements.
APT_CONFIGS=$(ls -d /usr/lib/*/cmake/TBB /usr/lib/cmake/TBB /usr/share/cmake/nlohmann_json \
    /usr/lib/*/cmake/nlohmann_json 2>/dev/null | paste -sd ';' || true)
echo "== wheel (CMake configs out of reach: ${APT_CONFIGS:-none})"
CMAKE_ARGS="-DCMAKE_IGNORE_PATH=$APT_CONFIGS" scripts/build_module.sh

echo "== native tests"
cmake -S . -B build/test -G Ninja -DCMAKE_BUILD_TYPE=Release \
    -DVORNEX_BUILD_MODULE=OFF -DVORNEX_BUILD_BENCH=OFF >/dev/null
cmake --build build/test -j"$JOBS"
ctest --test-dir build/test --output-on-failure

echo "== native tests under AddressSanitizer + UBSan"
cmake -S . -B build/asan -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DVORNEX_SANITIZE=ON \
    -DVORNEX_BUILD_MODULE=OFF -DVORNEX_BUILD_BENCH=OFF >/dev/null
cmake --build build/asan -j"$JOBS"
ASAN_OPTIONS=detect_leaks=1 UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1 \
    ctest --test-dir build/asan --output-on-failure

echo "== Python tests against the module built with AddressSanitizer + UBSan"
cmake -S . -B build/pyasan -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DVORNEX_SANITIZE=ON \
    -DVORNEX_BUILD_TESTS=OFF -DVORNEX_BUILD_BENCH=OFF >/dev/null
cmake --build build/pyasan -j"$JOBS" --target vornex_decoder_v3
# The interpreter itself is not instrumented, so the runtimes are preloaded;
# leak checks stay off because the interpreter keeps memory until exit.
(cd /tmp && LD_PRELOAD="$(gcc -print-file-name=libasan.so) $(gcc -print-file-name=libubsan.so)" \
    ASAN_OPTIONS=detect_leaks=0 UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1 PYTHONPATH="$ROOT/build/pyasan" \
    "$PYTHON" -m pytest -q -p no:cacheprovider -c "$ROOT/pyproject.toml" --rootdir "$ROOT" "$ROOT/tests/python")

echo "== Python tests against the installed module"
# Run from outside the source tree so that the installed module is imported.
cd /tmp
"$PYTHON" -m pytest -q -p no:cacheprovider -c "$ROOT/pyproject.toml" --rootdir "$ROOT" "$ROOT/tests/python"

# The module is built against NumPy 2 and must also load under NumPy 1.x.
# NumPy 1.x has no wheels past Python 3.12, so the check stops there.
if "$PYTHON" -c 'import sys; sys.exit(0 if sys.version_info < (3, 13) else 1)'; then
    echo "== Python tests under NumPy 1.x"
    NUMPY1=/tmp/vornex-numpy1
    rm -rf "$NUMPY1"
    "$PYTHON" -m pip install -q --disable-pip-version-check --target "$NUMPY1" "numpy<2"
    PYTHONPATH="$NUMPY1" "$PYTHON" -m pytest -q -p no:cacheprovider -c "$ROOT/pyproject.toml" --rootdir "$ROOT" \
        "$ROOT/tests/python"
fi

# The oldest supported interpreter, where the machine has it (pyenv images do).
PY310=$(ls -d "${PYENV_ROOT:-$HOME/.pyenv}"/versions/3.10*/bin/python 2>/dev/null | head -n 1 || true)
[ -n "$PY310" ] || PY310=$(command -v python3.10 || true)
if [ -n "$PY310" ] && "$PY310" -c 'import sys' 2>/dev/null; then
    echo "== Python tests under Python 3.10"
    [ -x "$ROOT/build/venv310/bin/python" ] || "$PY310" -m venv "$ROOT/build/venv310"
    PY310="$ROOT/build/venv310/bin/python"
    "$PY310" -m pip install -q --disable-pip-version-check numpy scipy pytest networkx stim sinter pymatching
    cmake -S "$ROOT" -B "$ROOT/build/py310" -G Ninja -DCMAKE_BUILD_TYPE=Release -DPython_EXECUTABLE="$PY310" \
        -DVORNEX_BUILD_TESTS=OFF -DVORNEX_BUILD_BENCH=OFF >/dev/null
    cmake --build "$ROOT/build/py310" -j"$JOBS"
    PYTHONPATH="$ROOT/build/py310:$ROOT/python" "$PY310" -m pytest -q -p no:cacheprovider -c "$ROOT/pyproject.toml" \
        --rootdir "$ROOT" "$ROOT/tests/python"
fi
