#!/usr/bin/env bash
# The bash completion completes options, and folders (not files) after -a, -d and --mount.
#   completion_test.sh COMPLETION-SCRIPT
set -u
source "$1"
scratch=$(mktemp -d)
trap 'rm -rf "$scratch"' EXIT
mkdir -p "$scratch/game disc" "$scratch/gamma"
touch "$scratch/game.txt"
failed=0

# Completes the words of a command line whose last word is being typed.
complete_line() {
    COMP_WORDS=("$@")
    COMP_CWORD=$((${#COMP_WORDS[@]} - 1))
    COMPREPLY=()
    _cscunpack
    printf '%s\n' "${COMPREPLY[@]}" | sort | paste -sd' '
}

expect() {
    local said
    said=$(cd "$scratch" && complete_line "${@:2}")
    if [ "$said" != "$1" ]; then
        echo "completing '${*:2}': '$said', not '$1'"
        failed=1
    fi
}

expect "--list" cscunpack --li
expect "--test --threads --to-stdout" cscunpack --t
expect "game disc gamma" cscunpack -a gam
expect "game disc gamma" cscunpack -l --output-dir gam
expect "game disc gamma" cscunpack --mount gam
expect "--background" cscunpack --ba
expect "game disc gamma" cscunpack --output-dir = gam
expect "--archives=game disc --archives=gamma" cscunpack --archives=gam
expect "" cscunpack -i gam
[ $failed -eq 0 ] && echo "completion: every case completes as it should"
exit $failed
