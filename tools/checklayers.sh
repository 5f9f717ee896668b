#!/usr/bin/env bash
# Checks that each library folder includes only its own headers and those of the layers below
# it; the linker catches calls into a layer above, this catches header-only uses of one.
# Usage: tools/checklayers.sh [source root]
set -euo pipefail
root=${1:-$(cd "$(dirname "$0")/.." && pwd)}
status=0

# folder: the include prefixes it may use besides its own
layers=(
    "usb/driver:platform/"
    "usb/fx2:platform/ usb/driver/"
    "usb/rpc:platform/ usb/driver/"
    "usb/xmega:platform/ usb/driver/ usb/rpc/"
    "usb/firmware:"
    "discovery/records:"
    "discovery/threading:"
    "discovery/dns:discovery/records/ discovery/threading/"
    "discovery/dnssd:discovery/records/ discovery/threading/ discovery/dns/"
    "framework:platform/ discovery/records/"
    "platform:"
)

for entry in "${layers[@]}"; do
    folder=${entry%%:*}
    allowed="$folder/ ${entry#*:}"
    while IFS= read -r line; do
        file=${line%%:*}
        header=$(sed -E 's/.*#include "([^"]+)".*/\1/' <<<"${line#*:}")
        ok=0
        for prefix in $allowed; do
            [[ $header == "$prefix"* ]] && ok=1
        done
        # A header beside the source (no folder) is its own.
        [[ $header != */* ]] && ok=1
        if [ $ok = 0 ]; then
            echo "$file includes \"$header\", which $folder may not use"
            status=1
        fi
    done < <(cd "$root" && grep -rHE '^[[:space:]]*#[[:space:]]*include[[:space:]]+"' "$folder" \
                 --include='*.h' --include='*.cpp' || true)
done
exit $status
