#!/usr/bin/env bash
# Installs what is missing, builds, and starts Pellworth from the build tree.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
bash "$root/tools/deps.sh"
bash "$root/tools/build.sh"
exec "${BUILD_DIR:-$root/build}/bin/Pellworth" "$@"
