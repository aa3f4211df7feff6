#!/usr/bin/env bash
# Installs everything needed to build and test the library on a fresh
# Debian/Ubuntu machine: compilers and libraries with apt-get, Python
# packages with pip. Safe to run again.
set -euo pipefail

PYTHON=${PYTHON:-python3}
SUDO=""
if [ "$(id -u)" -ne 0 ]; then SUDO="sudo"; fi

export DEBIAN_FRONTEND=noninteractive
$SUDO apt-get update -qq
$SUDO apt-get install -y -qq --no-install-recommends \
    build-essential cmake ninja-build python3-dev \
    libtbb-dev nlohmann-json3-dev libgtest-dev libgmock-dev libbenchmark-dev >/dev/null

"$PYTHON" -m pip install -q --disable-pip-version-check \
    "numpy>=1.21" "pytest>=7" "networkx>=3" "scikit-build-core>=0.8" \
    "stim>=1.12" "sinter>=1.12" "matplotlib>=3.5" "pymatching>=2.1"
