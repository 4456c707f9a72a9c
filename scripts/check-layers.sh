#!/usr/bin/env bash
# Fails when a source file includes a header from a layer above its own, or
# from a neighbour on its own layer: dependencies run one way, bottom to top.
#   0 platform/           the client's facilities and shared constants
#   1 core/  curlppx/     the device request; the transfer engine
#   2 context/            request strategy and synchronous context
#   3 host/               the generic HTTP service, built on the context
#   4 services/           the device services
#   5 emulator/           the emulated device
#   6 tools/              the command-line tool, which embeds the emulator
# Tests, benchmarks and fuzz targets sit above everything and are not checked.
# Usage: scripts/check-layers.sh [source root]
set -euo pipefail
cd "${1:-$(dirname "$0")/..}"

rank() {
  case "$1" in
    platform) echo 0 ;;
    core | curlppx) echo 1 ;;
    context) echo 2 ;;
    host) echo 3 ;;
    services) echo 4 ;;
    emulator) echo 5 ;;
    tools) echo 6 ;;
    *) echo "" ;;
  esac
}

status=0
for layer in platform core curlppx context host services emulator tools; do
  [ -d "$layer" ] || continue
  own=$(rank "$layer")
  while IFS=: read -r file line include; do
    target=${include#*\"}
    target=${target%%/*}
    theirs=$(rank "$target")
    if [ -n "$theirs" ] && [ "$target" != "$layer" ] && [ "$theirs" -ge "$own" ]; then
      echo "$file:$line: $layer/ includes \"${include#*\"}: $target/ is not below it"
      status=1
    fi
  done < <(grep -rnE '^\s*#\s*include\s*"' --include='*.h' --include='*.cpp' "$layer" || true)
done
[ "$status" -eq 0 ] && echo "layers: every include points down"
exit "$status"
