#!/usr/bin/env bash
# Runs every test: the C++ core suite (GoogleTest), the binding tests and the
# end-to-end behave runs in headless Chromium (pytest).
set -euo pipefail
ROOT="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
cd "$ROOT"
bash scripts/setup.sh
source scripts/env.sh

echo "== C++ core tests =="
cmake -S . -B build/core-tests -G Ninja -DTARVO_BUILD_TESTS=ON -DTARVO_BUILD_MODULES=OFF >/dev/null
cmake --build build/core-tests >/dev/null
./build/core-tests/tarvo_core_tests --gtest_brief=1

echo "== Python binding and end-to-end tests =="
.venv/bin/python -m pytest -q "$@"

echo "== End-to-end tests again under behave 1.2.6 =="
E2E_BEHAVE_PATH="$ROOT/build/behave-1.2.6" .venv/bin/python -m pytest -q tests/e2e "$@"
