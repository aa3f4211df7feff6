#!/usr/bin/env bash
# Installs what is needed, builds and installs the module, and decodes a few
# syndromes with it.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/install_deps.sh
scripts/build_module.sh
cd /tmp && "${PYTHON:-python3}" "$OLDPWD/scripts/demo.py"
