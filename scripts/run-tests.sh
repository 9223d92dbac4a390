#!/usr/bin/env bash
# Runs every test: the C++ core suite (GoogleTest), again under AddressSanitizer
# and UndefinedBehaviorSanitizer, the fuzz targets for a bounded time, the binding
# tests and the end-to-end behave runs in headless Chromium (pytest).
set -euo pipefail
ROOT="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
cd "$ROOT"
bash scripts/setup.sh
source scripts/env.sh

echo "== C++ core tests =="
cmake -S . -B build/core-tests -G Ninja -DTARVO_BUILD_TESTS=ON -DTARVO_BUILD_MODULES=OFF >/dev/null
cmake --build build/core-tests >/dev/null
./build/core-tests/tarvo_core_tests --gtest_brief=1

echo "== C++ core tests under AddressSanitizer and UndefinedBehaviorSanitizer =="
# A second build with clang: the same tests with every sanitizer report fatal,
# and the libFuzzer targets of fuzz/ against the same instrumented core.
CC=clang CXX=clang++ cmake -S . -B build/core-tests-asan -G Ninja -DTARVO_BUILD_TESTS=ON \
  -DTARVO_BUILD_MODULES=OFF -DTARVO_BUILD_FUZZERS=ON >/dev/null
cmake --build build/core-tests-asan >build/core-tests-asan/build.log 2>&1 \
  || { tail -n 60 build/core-tests-asan/build.log; exit 1; }
ASAN_OPTIONS=detect_leaks=1:abort_on_error=1 UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1 \
  ./build/core-tests-asan/tarvo_core_tests --gtest_brief=1

echo "== Fuzz targets: kept regression inputs, then ${TARVO_FUZZ_SECONDS:-20} s each =="
bash fuzz/run.sh build/core-tests-asan "${TARVO_FUZZ_SECONDS:-20}"

echo "== Python binding and end-to-end tests =="
.venv/bin/python -m pytest -q "$@"

echo "== End-to-end tests again under behave 1.2.6 =="
# The wheel test installs its own behave: once is enough.
E2E_BEHAVE_PATH="$ROOT/build/behave-1.2.6" .venv/bin/python -m pytest -q -m "not wheel" tests/e2e "$@"
