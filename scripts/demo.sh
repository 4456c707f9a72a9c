#!/usr/bin/env bash
# Installs the dependencies, builds the tool and takes the guided tour
# against the embedded emulated device.
# Usage: scripts/demo.sh [preset]   (release by default; dev, asan)
set -euo pipefail

preset="${1:-release}"
cd "$(dirname "$0")/.."

bash scripts/install-deps.sh
cmake --preset "$preset"
# The tour needs only the tool; the test suite is left to scripts/test.sh.
cmake --build --preset "$preset" --target zeqctl --parallel "$(nproc)"
"build/$preset/bin/zeqctl" demo
