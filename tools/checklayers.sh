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
    # One pass per folder: file and header of every quoted include, checked against the
    # allowed prefixes. A header named without a folder is the source's own neighbour.
    (cd "$root" && grep -rHE '^[[:space:]]*#[[:space:]]*include[[:space:]]+"' "$folder" \
        --include='*.h' --include='*.cpp' || true) |
        awk -v folder="$folder" -v allowed="$allowed" '
            BEGIN { n = split(allowed, prefixes, " ") }
            {
                file = substr($0, 1, index($0, ":") - 1)
                header = $0
                sub(/^[^"]*"/, "", header)
                sub(/".*$/, "", header)
                if (index(header, "/") == 0)
                    next
                for (i = 1; i <= n; ++i)
                    if (index(header, prefixes[i]) == 1)
                        next
                printf "%s includes \"%s\", which %s may not use\n", file, header, folder
                bad = 1
            }
            END { exit bad }' || status=1
done
exit $status
