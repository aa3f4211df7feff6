#!/usr/bin/env bash
# Installs everything needed to build and test the library on a fresh
# Debian/Ubuntu machine: compilers and libraries with apt-get, Python
# packages with pip into the scripts' virtual environment (scripts/venv.sh).
# Safe to run again.
set -euo pipefail

SUDO=""
if [ "$(id -u)" -ne 0 ]; then SUDO="sudo"; fi

export DEBIAN_FRONTEND=noninteractive
$SUDO apt-get update -qq
$SUDO apt-get install -y -qq --no-install-recommends \
    build-essential cmake ninja-build python3-dev python3-venv \
    libtbb-dev nlohmann-json3-dev libgtest-dev libgmock-dev libbenchmark-dev >/dev/null

source "$(dirname "$0")/venv.sh"
"$PYTHON" -m pip install -q --disable-pip-version-check \
    "numpy>=1.21" "pytest>=7" "networkx>=3" "tqdm>=4" "scipy>=1.8" "scikit-build-core>=0.11" \
    "stim>=1.12" "sinter>=1.12" "matplotlib>=3.5" "pymatching>=2.1" "mcp>=1.2" \
    "dask>=2023.1" "distributed>=2023.1"
