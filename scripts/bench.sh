#!/usr/bin/env bash
# Builds the release preset and runs the service benchmarks: each library path
# against its hand-made baseline in the same run, printed as ratios, then the
# peak memory figures. Not part of CI; expect a few minutes on 2 cores.
# Usage: scripts/bench.sh
set -euo pipefail
cd "$(dirname "$0")/.."

bash scripts/install-deps.sh
cmake --preset release

# ---- Services ----
# Ratios against a baseline in the same run: the device call against a plain
# easy handle; every list reply step against a RapidJSON DOM parse of the same
# text; the photo table fetched over HTTPS and filled through the photo
# service against a plain easy handle fetching the same bytes; the album
# members body against a hand-written writer. Then each list reply step's
# peak heap beyond the records it returns, against the reply's size.
cmake --build --preset release --parallel "$(nproc)" --target services_bench services_bench_memory
build/release/bench/services/bin/services_bench
build/release/bench/services/bin/services_bench_memory
