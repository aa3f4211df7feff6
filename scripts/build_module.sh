#!/usr/bin/env bash
# Builds the extension module with pip and installs it, with the vornex_tools
# package, the `vornex` command and the sinter extra, into the current Python.
set -euo pipefail
cd "$(dirname "$0")/.."
PYTHON=${PYTHON:-python3}
"$PYTHON" -m pip install -q --disable-pip-version-check --no-build-isolation \
    -Cbuild.verbose=false ".[sinter]"
