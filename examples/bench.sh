#!/usr/bin/env bash
# Programs boards on several fixtures at once, one I2C bus each: the NVM of
# every board from one configuration file (unless it holds it already), then
# the board's own serial number into its EEPROM. Every gpakcfg run appends
# its line to one log; a fixture stops at its first failure, and the others
# go on.
#
# The serial numbers come from a counter file that holds the next number
# (decimal, one line): each board takes one under a lock, so fixtures that
# finish together never share a number. A board whose EEPROM fails keeps its
# number unused; a board whose NVM fails takes none. The number goes into
# the EEPROM as 4 bytes, most significant first.
#
# Standard output: a line for each board programmed. Exit status: 0 when
# every fixture programmed its board; else the number of the first fixture
# (in the order of the BUS arguments) that failed, each failure named on
# standard error; 125 for a usage error.
#
# Try it on four simulated buses (gpak-sim, a chip at control code 1 on
# buses 1 to 4):
#   echo 1000 > serial.txt
#   gpak-sim --chip 1:1 --chip 2:1 --chip 3:1 --chip 4:1 -- \
#       ./bench.sh -s serial.txt -l bench.log demo-config.hex 1 2 3 4
set -uo pipefail

# The usage: on standard output and status 0 when asked for (-h), else on
# standard error and status 125.
usage() {
    if [ "$1" -eq 0 ]; then exec 2>&1; fi
    cat >&2 <<'EOF'
Usage: bench.sh [-e EEPROM_FILE] [-s COUNTER] [-l LOG] [-a ADDR] [-c CODE] FILE BUS...
  FILE         programmed into the NVM of the board on each BUS (a number N
               for /dev/i2c-N, or a path)
  -e FILE      the EEPROM's contents, into which the serial number is set
               (default: FILE)
  -s COUNTER   the file that holds the next serial number (default: serial.txt)
  -l LOG       the log of every run, one JSON line each (default: bench.log)
  -a ADDR      where the serial number goes in the EEPROM (default: 0xF0)
  -c CODE      the chips' control code (default: 1)
GPAKCFG names the gpakcfg to run (default: gpakcfg).
EOF
    exit "$1"
}

gpakcfg=${GPAKCFG:-gpakcfg}
eeprom=
counter=serial.txt
log=bench.log
addr=0xF0
code=1
while getopts e:s:l:a:c:h option; do
    case $option in
        e) eeprom=$OPTARG ;;
        s) counter=$OPTARG ;;
        l) log=$OPTARG ;;
        a) addr=$OPTARG ;;
        c) code=$OPTARG ;;
        h) usage 0 ;;
        *) usage 125 ;;
    esac
done
shift $((OPTIND - 1))
[ $# -ge 2 ] || usage 125
[ $# -le 101 ] || { echo "bench: at most 100 fixtures" >&2; exit 125; }
file=$1
shift
eeprom=${eeprom:-$file}
[ -f "$counter" ] || { echo "bench: $counter: no counter file (echo 1 > $counter)" >&2; exit 125; }

# Prints the next serial number and counts it, under a lock on the counter
# file. A counter that is not a number stops the fixture rather than give a
# number twice.
take_serial() {
    local serial
    {
        flock 9 || return 1
        IFS= read -r serial <&9 || true
        if ! [[ $serial =~ ^[0-9]{1,10}$ ]] || ((10#$serial > 0xFFFFFFFF)); then
            echo "bench: $counter: '$serial' is no serial number (0 to 4294967295)" >&2
            return 1
        fi
        serial=$((10#$serial))
        printf '%d\n' $((serial + 1)) > "$counter" || return 1
        echo "$serial"
    } 9<> "$counter"
}

# One fixture: its board's NVM, then a serial number into its EEPROM.
fixture() {
    local number=$1 bus=$2 serial
    local where="bench: fixture $number (bus $bus)"
    if ! "$gpakcfg" -q --bus "$bus" -c "$code" -t nvm -w "$file" --skip-identical --log "$log"; then
        echo "$where: the NVM was not programmed (see $log); no serial number taken" >&2
        return 1
    fi
    serial=$(take_serial) || { echo "$where: no serial number" >&2; return 1; }
    if ! "$gpakcfg" -q --bus "$bus" -c "$code" -t eeprom -w "$eeprom" \
        --set "$addr=$(printf '%08X' "$serial")" --log "$log"; then
        echo "$where: serial number $serial was not written (see $log)" >&2
        return 1
    fi
    echo "$where: board $serial programmed"
}

pids=()
number=0
for bus in "$@"; do
    number=$((number + 1))
    fixture "$number" "$bus" &
    pids+=($!)
done
status=0
number=0
for pid in "${pids[@]}"; do
    number=$((number + 1))
    if ! wait "$pid" && [ "$status" -eq 0 ]; then
        status=$number
    fi
done
exit "$status"
