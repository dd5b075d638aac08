#!/usr/bin/env bash
# The layer check must fail on a forbidden include: plant one in a copy of the tree, and
# a widget header in the engine.
set -euo pipefail
src="$1"
tmp=$(mktemp -d)
trap 'rm -rf "$tmp"' EXIT
for d in protocol serial link records ui config tools sim scripts; do cp -r "$src/$d" "$tmp/"; done
fresh() { rm -rf "$tmp/link"; cp -r "$src/link" "$tmp/"; }
"$tmp/scripts/check-layers" "$tmp" >/dev/null || { echo "the clean copy fails"; exit 1; }
printf '#include "app/appcontext.h"\n' >>"$tmp/link/commcontrol.cpp"
if "$tmp/scripts/check-layers" "$tmp" >/dev/null; then
    echo "a planted include in link/ went unnoticed"
    exit 1
fi
fresh
printf '#include <QPainter>\n' >>"$tmp/link/commcontrol.cpp"
if "$tmp/scripts/check-layers" "$tmp" >/dev/null; then
    echo "a widget or GUI header planted in the engine went unnoticed"
    exit 1
fi
echo "planted includes found"
