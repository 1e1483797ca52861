#!/usr/bin/env bash
# completion/test.sh COMPLETION [GPAKCFG [GPAK_SIM]]
#
# The bash completion of gpakcfg and gpak-sim: valid bash, and the words it
# offers for a table of command lines, each completed in a fresh bash as
# bash would call it (COMP_WORDS, COMP_CWORD, COMP_LINE, COMP_POINT), with
# bash-completion's helpers loaded where they are installed and without them.
# With the programs given, every option their own help names is offered.
set -uo pipefail

script=$(cd "$(dirname "$1")" && pwd)/$(basename "$1")
gpakcfg=${2:-}
gpaksim=${3:-}
helpers=/usr/share/bash-completion/bash_completion

passed=0
failed=0
check() { # NAME EXPECTED SEEN
    if [ "$2" == "$3" ]; then
        passed=$((passed + 1))
    else
        echo "FAIL $1"
        echo "    offered:  '$3'"
        echo "    expected: '$2'"
        failed=$((failed + 1))
    fi
}

if ! bash -n "$script"; then
    echo "FAIL $script is not valid bash"
    exit 1
fi

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
mkdir -p "$work/files/saved" "$work/bin"
touch "$work/files/board.hex" "$work/files/chip.state" "$work/files/my notes.txt"
printf '#!/bin/sh\n' > "$work/bin/gpakcfg-demo"
chmod +x "$work/bin/gpakcfg-demo"

# offered MODE LINE: the words offered, sorted and quoted as for the shell,
# for LINE with the cursor at its end. MODE "helpers" loads bash-completion first. LINE is split as
# bash splits it: at blanks, and around '=' (in COMP_WORDBREAKS).
offered() {
    (cd "$work/files" && PATH="$work/bin:$PATH" bash --norc --noprofile -c '
        [ "$1" = helpers ] && . "$2"
        . "$3"
        line=$4
        words=()
        read -ra blank_separated <<< "$line"
        for word in "${blank_separated[@]}"; do
            while [[ $word == *=* ]]; do
                [ -n "${word%%=*}" ] && words+=("${word%%=*}")
                words+=("=")
                word=${word#*=}
            done
            [ -n "$word" ] && words+=("$word")
        done
        [[ $line == *" " || $line == *= ]] && words+=("")
        COMP_WORDS=("${words[@]}")
        COMP_CWORD=$((${#words[@]} - 1))
        COMP_LINE=$line
        COMP_POINT=${#line}
        registered=$(complete -p "${words[0]}")
        function=${registered#*-F }
        "${function%% *}" "${words[0]}" "${words[COMP_CWORD]}" "${words[COMP_CWORD - 1]}"
        ((${#COMPREPLY[@]} == 0)) || printf "%q\n" "${COMPREPLY[@]}" | LC_ALL=C sort | paste -sd " "
    ' _ "$1" "$helpers" "$script" "$2" 2> /dev/null)
}

cases=(
    # command line | the words offered
    "gpakcfg -t |eeprom nvm reg"
    "gpakcfg -t n|nvm"
    "gpakcfg -w board.hex -t e|eeprom"
    "gpakcfg -c |0 1 2 3 4 5 6 7 8 9 a b c d e f"
    "gpakcfg --new-code 1|1"
    "gpakcfg --sk|--skip-identical"
    "gpakcfg -q --l|--list-buses --log"
    "gpakcfg --s|--save --scan --set --skip-identical"
    "gpakcfg -w b|board.hex"
    "gpakcfg -t nvm --verify |board.hex chip.state my\\ notes.txt saved"
    "gpakcfg -t nvm --save=m|my\\ notes.txt"
    "gpakcfg --log |board.hex chip.state my\\ notes.txt saved"
    "gpakcfg --set |"
    "gpak-sim --errno |enxio eremoteio"
    "gpak-sim --adapter i2c|i2c-stub"
    "gpak-sim --code 1|1 10 11 12 13 14 15"
    "gpak-sim --state=c|chip.state"
    "gpak-sim --state chip.state --v|--version --virtual-time"
    "gpak-sim --trace - --n|--nack --no-node"
    "gpak-sim -- gpakcfg -t e|eeprom"
    "gpak-sim --state=chip.state gpakcfg --sa|--save"
    "gpak-sim --code 2 -- gpakcfg -w b|board.hex"
    "gpak-sim -- gpakcfg-d|gpakcfg-demo"
)
modes=(plain)
if [ -f "$helpers" ]; then
    modes+=(helpers)
else
    echo "bash-completion is not installed: completing without its helpers only"
fi
for mode in "${modes[@]}"; do
    for case in "${cases[@]}"; do
        check "$mode: '${case%%|*}'" "${case#*|}" "$(offered "$mode" "${case%%|*}")"
    done
done

# --bus offers the numbers of the machine's /dev/i2c-N: shown with a /dev of
# our own in a private mount namespace, where one can be made.
if unshare -rm true 2> /dev/null; then
    export work helpers script
    for mode in "${modes[@]}"; do
        seen=$(unshare -rm bash -c '
            mount -t tmpfs none /dev && ln -s /proc/self/fd /dev/fd &&
                touch /dev/null /dev/i2c-0 /dev/i2c-11 /dev/i2c-7 || exit
            eval "$1"; offered "$2" "gpakcfg --bus "' _ "$(declare -f offered)" "$mode")
        check "$mode: 'gpakcfg --bus ' with /dev/i2c-0, -7, -11" "0 11 7" "$seen"
    done
else
    echo "no private mount namespace here: --bus numbers not checked"
fi

# Every option that a program's own help names is offered.
for program in "$gpakcfg" "$gpaksim"; do
    [ -n "$program" ] || continue
    name=gpakcfg
    [[ ${program##*/} == gpak-sim* ]] && name=gpak-sim
    help=$("$program" -h) || {
        check "$program -h" "status 0" "status $?"
        continue
    }
    named=$(grep -oE '(^|[][ ,])--?[a-z][a-z-]*' <<< "$help" | sed 's/^[][ ,]//' | sort -u)
    offered_options=" $(offered plain "$name -") "
    for option in $named; do
        check "'$option', named by $name -h, is offered" yes \
            "$([[ $offered_options == *" $option "* ]] && echo yes || echo no)"
    done
done

echo "completion: $passed passed, $failed failed"
[ "$failed" -eq 0 ]
