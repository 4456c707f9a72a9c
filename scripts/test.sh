#!/usr/bin/env bash
# Installs the dependencies, configures, builds and runs every test.
# Usage: scripts/test.sh [preset]   (dev by default; asan, tsan, release)
set -euo pipefail

preset="${1:-dev}"
cd "$(dirname "$0")/.."

bash scripts/install-deps.sh
cmake --preset "$preset"
cmake --build --preset "$preset" --parallel "$(nproc)"
ctest --preset "$preset" --parallel "$(nproc)"
