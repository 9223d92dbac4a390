#!/usr/bin/env bash
# Prepares a fresh machine (or refreshes a prepared one) for the demo and the tests:
# Debian packages, a virtual environment in .venv, the Python dependencies and the
# build of the package itself. Safe to run again: each step skips what is in place.
set -euo pipefail
ROOT="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
cd "$ROOT"

# clang, its compiler-rt (sanitizer and libFuzzer run-times) and llvm (the
# symbolizer for readable reports) build the sanitizer and fuzz runs of the tests.
APT_PACKAGES=(chromium clang ffmpeg libclang-rt-dev libgtest-dev libpcre2-dev llvm nlohmann-json3-dev pkg-config)
missing=()
for p in "${APT_PACKAGES[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
done
if [ "${#missing[@]}" -gt 0 ]; then
  echo "[setup] apt-get install ${missing[*]}"
  SUDO=""; [ "$(id -u)" -ne 0 ] && SUDO="sudo"
  $SUDO apt-get update -qq
  DEBIAN_FRONTEND=noninteractive $SUDO apt-get install -y -qq "${missing[@]}" >/dev/null
fi

PY="${PYTHON:-python3}"
if [ ! -x .venv/bin/python ]; then
  echo "[setup] creating .venv"
  "$PY" -m venv .venv
fi
VPY="$ROOT/.venv/bin/python"

STAMP=.venv/.deps-stamp
REQ_HASH="$(sha256sum requirements-dev.txt | cut -d' ' -f1)"
if [ ! -f "$STAMP" ] || [ "$(cat "$STAMP")" != "$REQ_HASH" ]; then
  echo "[setup] installing Python dependencies"
  "$VPY" -m pip install -q --upgrade pip >/dev/null
  "$VPY" -m pip install -q -r requirements-dev.txt
  echo "$REQ_HASH" > "$STAMP"
fi

echo "[setup] building tarvolab_framework"
"$VPY" -m pip install -q --no-build-isolation --no-deps . 

# Playwright cannot download its own browsers here; the framework launches
# Debian's Chromium when TARVO_CHROMIUM_EXECUTABLE names it (see README).
# Video recording needs Playwright's ffmpeg: link Debian's (and Chromium, for plain
# launches) into build/playwright-browsers, which scripts/env.sh points Playwright at.
"$VPY" scripts/playwright_browsers.py --dir "$ROOT/build/playwright-browsers" \
  || echo "[setup] WARNING: build/playwright-browsers not prepared; RECORD_VIDEO=true will fail at page creation" >&2

# behave 1.2.6 beside the venv's current behave: the end-to-end suite runs a second
# time with it first on PYTHONPATH, since projects use either version.
if [ ! -f build/behave-1.2.6/.complete ]; then
  echo "[setup] installing behave 1.2.6 into build/behave-1.2.6"
  rm -rf build/behave-1.2.6
  "$VPY" -m pip install -q --target build/behave-1.2.6 behave==1.2.6
  touch build/behave-1.2.6/.complete
fi
