#!/usr/bin/env bash
# Runs the demo suite under examples/demo: real behave, real headless Chromium,
# pages served on 127.0.0.1 by the suite itself.
set -euo pipefail
ROOT="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
cd "$ROOT"
bash scripts/setup.sh
source scripts/env.sh
cd examples/demo
exec "$ROOT/.venv/bin/python" -m behave "$@"
