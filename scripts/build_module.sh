#!/usr/bin/env bash
# Builds the wheel (extension module, vornex_tools, the `vornex` command, type
# stubs, C header and library) in pip's isolated build environment, whose
# requirements come from PyPI, and installs it with the sinter extra into the
# scripts' virtual environment (scripts/venv.sh). The wheel stays in build/dist.
set -euo pipefail
cd "$(dirname "$0")/.."
source scripts/venv.sh
rm -rf build/dist
CMAKE_BUILD_PARALLEL_LEVEL=${JOBS:-2} "$PYTHON" -m pip wheel -q --disable-pip-version-check --no-deps \
    -w build/dist -Cbuild.verbose=false .
WHEEL=$(ls build/dist/vornex_decoder_v3-*.whl)
"$PYTHON" -m pip install -q --disable-pip-version-check --force-reinstall --no-deps "$WHEEL"
"$PYTHON" -m pip install -q --disable-pip-version-check "$WHEEL[sinter]"
