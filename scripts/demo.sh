#!/usr/bin/env bash
# Installs what is needed (the sinter extra included), builds and installs the
# module, decodes a few syndromes with each family, then runs circuit-level
# rotated surface-code memory experiments in a sweep on an embedded Dask
# cluster: a table of logical error rates and a threshold plot
# (build/threshold.png); results stay in build/threshold.csv, and a rerun
# resumes from them.
set -euo pipefail
cd "$(dirname "$0")/.."
ROOT=$(pwd)
scripts/install_deps.sh
source scripts/venv.sh
scripts/build_module.sh
mkdir -p build
# Run from outside the source tree so that the installed package is imported.
cd /tmp
"$PYTHON" "$ROOT/scripts/demo.py"
echo
"$PYTHON" "$ROOT/scripts/threshold_experiment.py" --plot "$ROOT/build/threshold.png" --save "$ROOT/build/threshold.csv"
