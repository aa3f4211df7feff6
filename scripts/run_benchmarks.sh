#!/usr/bin/env bash
# Builds the module and the native benchmarks, installs the peer decoders
# the benchmarks compare against, and runs every benchmark. Figures go to
# standard output; nothing here is a pass/fail test.
set -euo pipefail
cd "$(dirname "$0")/.."

scripts/install_deps.sh
source scripts/venv.sh
"$PYTHON" -m pip install -q --disable-pip-version-check pymatching ldpc scipy stim
scripts/build_module.sh

cmake -S . -B build/bench -G Ninja -DCMAKE_BUILD_TYPE=Release \
    -DVORNEX_BUILD_MODULE=OFF -DVORNEX_BUILD_TESTS=OFF -DVORNEX_BUILD_BENCH=ON >/dev/null
cmake --build build/bench -j"${JOBS:-2}"

# Circuit-level models for the native matching benchmark (written by stim).
export VORNEX_MATCHING_DEMS="${VORNEX_MATCHING_DEMS:-$PWD/build/bench/matching_dems}"
"$PYTHON" bench/write_matching_dems.py "$VORNEX_MATCHING_DEMS"

for native in build/bench/*_bench; do
    echo "== $native"
    "$native"
done
for script in bench/*_bench.py; do
    echo "== $script"
    (cd /tmp && "$PYTHON" "$OLDPWD/$script")
done
