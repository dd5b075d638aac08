#!/usr/bin/env bash
# t83ctl's bash completion, loaded as bash-completion loads it: commands, each command's
# options, the port numbers `t83ctl ports` lists, profiles for --profile and the choices
# of a setting. A stand-in t83ctl lists the ports, so the real program is not needed.
set -uo pipefail
src="$1"
source /usr/share/bash-completion/bash_completion || { echo "bash-completion missing"; exit 1; }
source "$src/packaging/t83ctl.bash-completion"
tmp=$(mktemp -d)
trap 'rm -rf "$tmp"' EXIT
printf '#!/bin/sh\n[ "$1" = ports ] && printf "COM12 /dev/pts/4\\nCOM3  /dev/ttyUSB0 A1234\\n"\n' \
    >"$tmp/t83ctl"
chmod +x "$tmp/t83ctl"
touch "$tmp/lineA.t83profile" "$tmp/notes.txt"
cd "$tmp"
PATH="$tmp:$PATH"
compopt() { :; } # only callable from a completion bash itself started

failures=0
expect() { # command line, completions expected
    local line=$1 want=$2
    COMP_LINE=$line
    COMP_POINT=${#line}
    read -ra COMP_WORDS <<<"$line"
    [[ $line == *" " ]] && COMP_WORDS+=("")
    COMP_CWORD=$((${#COMP_WORDS[@]} - 1))
    COMPREPLY=()
    _t83ctl
    local got="${COMPREPLY[*]}"
    if [[ $got != "$want" ]]; then
        echo "[$line] gave '$got', want '$want'"
        failures=$((failures + 1))
    fi
}
expect "t83ctl s" "save-profile send-file"
expect "t83ctl apply --p" "--port --profile"
expect "t83ctl --port COM1 capture --" "--port --rate --out --timeout --help"
expect "t83ctl read --port " "COM3 COM12"
expect "t83ctl apply --port COM3 --profile " "lineA.t83profile"
expect "t83ctl write --port COM3 typeheat=" "typeheat=普通 typeheat=温补"
expect "t83ctl linktest --port COM3 --ec" "--echo"
((failures == 0)) || exit 1
echo "completion ok"
