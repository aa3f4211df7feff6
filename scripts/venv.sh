# Sourced by the other scripts: they install Python packages into a virtual
# environment of their own, never into the system interpreter (Debian's
# refuses that). The environment is .venv at the repository root, or
# $VORNEX_VENV; it is made once with $PYTHON (python3 by default), and
# PYTHON then names its interpreter.
VORNEX_VENV=${VORNEX_VENV:-"$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)/.venv"}
if [ ! -x "$VORNEX_VENV/bin/python" ]; then
    "${PYTHON:-python3}" -m venv "$VORNEX_VENV"
    "$VORNEX_VENV/bin/python" -m pip install -q --disable-pip-version-check --upgrade pip
fi
PYTHON="$VORNEX_VENV/bin/python"
export VORNEX_VENV PYTHON
