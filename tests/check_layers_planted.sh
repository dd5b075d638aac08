#!/usr/bin/env bash
# The layer check must fail on a forbidden include: plant one in a copy of the tree.
set -euo pipefail
src="$1"
tmp=$(mktemp -d)
trap 'rm -rf "$tmp"' EXIT
cp -r "$src/serial" "$src/link" "$src/config" "$src/tools" "$src/scripts" "$tmp/"
"$tmp/scripts/check-layers" "$tmp" >/dev/null || { echo "the clean copy fails"; exit 1; }
printf '#include "app/appcontext.h"\n' >>"$tmp/link/commcontrol.cpp"
if "$tmp/scripts/check-layers" "$tmp"; then
    echo "a planted include in link/ went unnoticed"
    exit 1
fi
echo "planted include found"
