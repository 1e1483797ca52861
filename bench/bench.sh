#!/usr/bin/env bash
# Benchmarks of gpakcfg against the simulated chip in real time (not a test):
#   1. a read-back run (-t nvm) beside i2ctransfer reading one page, the
#      launcher alone and a --scan of the bus: median wall time and peak
#      memory over RUNS runs;
#   2. a full programming run (-t nvm -w FILE) beside the same bus sequence
#      made by a shell script of i2ctransfer and sleep calls: wall time,
#      the floor of mandated pauses (2 x 1 s + 32 x 10 ms) and the overhead.
#      Then the EEPROM programmed in both transfer shapes: plain I2C (the
#      Pi's adapter) and SMBus (gpak-sim --adapter i2c-stub).
#   3. the production bench: what -q and --log add to a read, --skip-identical
#      on a chip that holds the file, and examples/bench.sh programming the
#      boards of four buses at once against one.
# Usage: bench/bench.sh [BUILD_DIR]   (needs i2c-tools, GNU time and bc)
set -euo pipefail

top=$(cd "$(dirname "$0")/.." && pwd)
build=$(cd "${1:-$top/build}" && pwd)
runs=${RUNS:-21}
sim="$build/gpak-sim"
tool="$build/gpakcfg"
example="$top/examples/demo-config.hex"
gnu_time=/usr/bin/time
# Everything it runs, checked before the first measurement: the program and
# the package it comes in.
missing=()
for need in i2ctransfer:i2c-tools bc:bc awk:mawk flock:util-linux; do
    command -v "${need%%:*}" > /dev/null || missing+=("${need#*:}")
done
[ -x "$gnu_time" ] || missing+=(time)
if [ ${#missing[@]} -gt 0 ]; then
    echo "bench: not installed: ${missing[*]} (apt-get install ${missing[*]})" >&2
    exit 1
fi
for need in "$sim" "$tool"; do
    if [ ! -x "$need" ]; then
        echo "bench: missing $need: build first (cmake --build $build)" >&2
        exit 1
    fi
done
i2ctransfer=$(command -v i2ctransfer)
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

# Sets variable $1 to the clock in nanoseconds, without a fork where bash
# has EPOCHREALTIME (in microseconds), so that measuring costs next to nothing.
stamp() {
    if [ -n "${EPOCHREALTIME:-}" ]; then
        printf -v "$1" '%s000' "${EPOCHREALTIME/[.,]/}"
    else
        printf -v "$1" '%s' "$(date +%s%N)"
    fi
}

# median of the numbers on standard input
median() { sort -n | awk '{ v[NR] = $1 } END { print (NR % 2) ? v[(NR + 1) / 2] : (v[NR / 2] + v[NR / 2 + 1]) / 2 }'; }

# The read-back rows: each command is run RUNS times, the three in turn, so
# that a change of the machine's pace touches them alike; the peak memory
# comes from runs of their own under GNU time, which the wall time would
# otherwise include.
read_back=("$sim" --state "$work/chip" -- "$tool" -t nvm)
one_page=("$sim" --state "$work/chip" -- "$i2ctransfer" -y 1 w1@0x0a 0x10 r16)
launcher=("$sim" --state "$work/chip" -- true)
scan=("$sim" --state "$work/chip" -- "$tool" --scan)
: > "$work/wall.0"
: > "$work/wall.1"
: > "$work/wall.2"
: > "$work/wall.3"
for _ in $(seq "$runs"); do
    for row in 0 1 2 3; do
        case $row in
            0) command=("${read_back[@]}") ;;
            1) command=("${one_page[@]}") ;;
            2) command=("${launcher[@]}") ;;
            3) command=("${scan[@]}") ;;
        esac
        stamp start
        "${command[@]}" > /dev/null 2>&1
        stamp end
        echo "$(((end - start) / 1000))" >> "$work/wall.$row"
    done
done
# row LABEL COMMAND...: the median wall time of its runs and its peak memory.
row=0
print_row() {
    local label=$1
    shift
    "$gnu_time" -f '%M' -o "$work/one" "$@" > /dev/null 2>&1
    printf '  %-44s %8.2f ms %8d KiB\n' "$label" \
        "$(median < "$work/wall.$row" | awk '{ print $1 / 1000 }')" "$(cat "$work/one")"
    row=$((row + 1))
}
echo "Read-back, median of $runs runs each, taken in turn (wall time, peak resident memory):"
print_row "gpak-sim -- gpakcfg -t nvm (16 pages)" "${read_back[@]}"
print_row "gpak-sim -- i2ctransfer (1 page)" "${one_page[@]}"
print_row "gpak-sim -- true (launcher alone)" "${launcher[@]}"
print_row "gpak-sim -- gpakcfg --scan (16 codes)" "${scan[@]}"

# The bus sequence of `gpakcfg -t nvm -w FILE` at control code 1, as a
# user without the tool would script it.
script="$work/program.sh"
{
    echo 'set -e'
    echo "t() { \"$i2ctransfer\" -y -a 1 \"\$@\" > /dev/null; }"
    for page in $(seq 0 15); do
        printf 't w2@0x08 0xe3 0x%02x\nsleep 0.01\n' $((0x80 | page))
    done
    echo 't w2@0x08 0xc8 0x02 || true'
    echo 'sleep 1'
    page=0
    while IFS= read -r line && [ "$page" -lt 16 ]; do
        data=${line:9:32}
        if [ "$page" -eq 12 ]; then  # byte 0xCA takes control code 1
            data="${data:0:20}${data:20:1}1${data:22}"
        fi
        printf 't w17@0x02 0x%02x' $((page << 4))
        for i in $(seq 0 2 30); do printf ' 0x%s' "${data:$i:2}"; done
        printf '\nsleep 0.01\n'
        page=$((page + 1))
    done < "$example"
    echo 't w2@0x00 0xc8 0x02 || true'
    echo 'sleep 1'
    for page in $(seq 0 15); do
        printf 't w1@0x0a 0x%02x r16\n' $((page << 4))
    done
} > "$script"

floor=2320
one_run() {
    local start end
    stamp start
    "$@" > /dev/null 2>&1
    stamp end
    echo "scale=3; ($end - $start) / 1000000" | bc
}
prog_runs=${PROGRAM_RUNS:-5}
: > "$work/tool"
: > "$work/linked"
: > "$work/script"
# The same tool with the simulator linked in (as the static ARMv6 build is
# tested): the tool's own overhead, without the launcher's and the preload's.
linked="$build/gpakcfg-simulated"
for _ in $(seq "$prog_runs"); do
    rm -f "$work/chip"
    one_run "$sim" --state "$work/chip" -- "$tool" -t nvm -w "$example" >> "$work/tool"
    if [ -x "$linked" ]; then
        rm -f "$work/chip"
        GPAK_SIM_STATE="$work/chip" one_run "$linked" -t nvm -w "$example" >> "$work/linked"
    fi
    rm -f "$work/chip"
    one_run "$sim" --state "$work/chip" -- bash "$script" >> "$work/script"
done
# The script must have programmed the same bytes as the tool.
"$sim" --state "$work/chip" -- "$tool" -t nvm > "$work/script.dump"
rm -f "$work/chip"
"$sim" --state "$work/chip" -- "$tool" -t nvm -w "$example" > /dev/null
"$sim" --state "$work/chip" -- "$tool" -t nvm > "$work/tool.dump"
cmp -s "$work/script.dump" "$work/tool.dump" || { echo "bench: script programmed other bytes" >&2; exit 1; }

# Where the overhead of one traced run goes: start-up to the first erase
# command (the one-byte reads before it included), the sleeps' overshoot
# past the mandated pauses, and the rest.
rm -f "$work/chip"
stamp start
"$sim" --state "$work/chip" --trace "$work/trace" -- "$tool" -t nvm -w "$example" > /dev/null
stamp end
breakdown=$(awk -v wall_ns=$((end - start)) '
    { t[NR] = $1 * 1000 }
    !e && $3 == "W" && $4 == "e3" { e = NR }
    END {
        # from the first erase command e: 16 erases, reset, 16 page writes,
        # reset, 16 reads; the pause before transfer i is 1 s after a
        # reset, 10 ms otherwise
        for (i = e + 1; i <= e + 34; i++) over += t[i] - t[i - 1] - ((i == e + 17 || i == e + 34) ? 1000 : 10)
        wall = wall_ns / 1e6
        printf "%.2f ms start-up to the first erase command (%d reads before it), %.2f ms sleep overshoot (34 pauses), %.2f ms the rest", t[e], e - 1, over, wall - 2320 - t[e] - over
    }' "$work/trace")

tool_ms=$(median < "$work/tool")
script_ms=$(median < "$work/script")
echo
echo "Programming the NVM (-t nvm -w), median of $prog_runs runs; floor of mandated pauses ${floor} ms:"
printf '  %-44s %8.2f ms, overhead %7.2f ms\n' "gpak-sim -- gpakcfg -t nvm -w FILE" \
    "$tool_ms" "$(echo "$tool_ms - $floor" | bc)"
if [ -s "$work/linked" ]; then
    linked_ms=$(median < "$work/linked")
    printf '  %-44s %8.2f ms, overhead %7.2f ms\n' "gpakcfg-simulated -t nvm -w FILE (no launcher)" \
        "$linked_ms" "$(echo "$linked_ms - $floor" | bc)"
fi
printf '  %-44s %8.2f ms, overhead %7.2f ms\n' "gpak-sim -- bash (i2ctransfer + sleep)" \
    "$script_ms" "$(echo "$script_ms - $floor" | bc)"
echo "  one traced gpakcfg run: $breakdown"

# The two transfer shapes: the EEPROM programmed with the Pi's plain I2C
# messages, and with i2c-stub's SMBus I2C-block and byte-data commands
# (i2c-stub reaches no NVM: nothing answers there at 0x02), in turn.
for _ in $(seq "$prog_runs"); do
    for adapter in bcm2835 i2c-stub; do
        rm -f "$work/chip"
        one_run "$sim" --state "$work/chip" --adapter "$adapter" -- "$tool" -t eeprom -w "$example" \
            >> "$work/eeprom.$adapter"
    done
done
echo
echo "Programming the EEPROM (-t eeprom -w) in each transfer shape, median of $prog_runs runs:"
for adapter in bcm2835 i2c-stub; do
    shape_ms=$(median < "$work/eeprom.$adapter")
    printf '  %-44s %8.2f ms, overhead %7.2f ms\n' "gpak-sim --adapter $adapter -- gpakcfg" \
        "$shape_ms" "$(echo "$shape_ms - $floor" | bc)"
done

# The production bench: what -q and --log add to a run, --skip-identical on
# a chip that holds the file, and examples/bench.sh on four buses at once
# against one bus. The first three with the simulator linked in, so that
# the launcher's start-up does not hide fractions of a millisecond.
if [ -x "$linked" ]; then
    rm -f "$work/chip"
    GPAK_SIM_STATE="$work/chip" "$linked" -t nvm -w "$example" > /dev/null
    : > "$work/plain"
    : > "$work/quiet"
    : > "$work/logged"
    : > "$work/skip"
    : > "$work/cut"
    # A log 100 bytes short of a file-size limit: each line is cut short
    # and taken back (the run fails with "not logged").
    head -c $((64 * 1024 - 100)) /dev/zero | tr '\0' 'x' > "$work/full.log"
    for _ in $(seq "$runs"); do
        for row in plain quiet logged skip cut; do
            limit=unlimited
            case $row in
                plain) extra=() ;;
                quiet) extra=(-q) ;;
                logged) extra=(--log "$work/runs.log") ;;
                skip) extra=(-w "$example" --skip-identical) ;;
                cut) extra=(--log "$work/full.log") limit=64 ;;
            esac
            stamp start
            (ulimit -f "$limit" && GPAK_SIM_STATE="$work/chip" exec "$linked" -t nvm "${extra[@]}") \
                > /dev/null 2>&1 || [ "$row" = cut ]
            stamp end
            echo "$(((end - start) / 1000))" >> "$work/$row"
        done
    done
    GPAK_SIM_STATE="$work/chip" "$linked" -t nvm -w "$example" --skip-identical \
        --log "$work/skip.log" > /dev/null
    grep -q '"skipped": true' "$work/skip.log" || {
        echo "bench: --skip-identical programmed a chip that held the file" >&2
        exit 1
    }
    ms() { median < "$work/$1" | awk '{ print $1 / 1000 }'; }
    echo
    echo "The production bench, gpakcfg-simulated -t nvm, median of $runs runs each, taken in turn:"
    printf '  %-44s %8.2f ms\n' "read" "$(ms plain)"
    printf '  %-44s %8.2f ms (%+.2f ms)\n' "read, -q" "$(ms quiet)" \
        "$(echo "$(ms quiet) - $(ms plain)" | bc)"
    printf '  %-44s %8.2f ms (%+.2f ms)\n' "read, --log FILE" "$(ms logged)" \
        "$(echo "$(ms logged) - $(ms plain)" | bc)"
    printf '  %-44s %8.2f ms (%+.2f ms)\n' "read, --log FILE cut short and taken back" \
        "$(ms cut)" "$(echo "$(ms cut) - $(ms plain)" | bc)"
    printf '  %-44s %8.2f ms\n' "-w FILE --skip-identical, chip holds FILE" "$(ms skip)"
fi

# examples/bench.sh: the NVM and the EEPROM (with a serial number) of one
# board on each bus, in real time, from a fresh chip each time; four buses
# at once against one.
if "$sim" --help 2>&1 | grep -q -- '--chip'; then
    fixtures="$top/examples/bench.sh"
    : > "$work/one_bus"
    : > "$work/four_buses"
    for _ in $(seq "${FIXTURE_RUNS:-3}"); do
        for buses in 1 4; do
            rm -f "$work/chip"
            echo 1 > "$work/serial"
            chips=()
            for bus in $(seq "$buses"); do chips+=(--chip "$bus:1"); done
            stamp start
            GPAKCFG="$tool" "$sim" --state "$work/chip" "${chips[@]}" -- "$fixtures" \
                -s "$work/serial" -l "$work/bench.log" "$example" $(seq "$buses") > /dev/null
            stamp end
            [ "$(cat "$work/serial")" -eq $((buses + 1)) ] || {
                echo "bench: examples/bench.sh did not program $buses boards" >&2
                exit 1
            }
            file=$([ "$buses" -eq 1 ] && echo one_bus || echo four_buses)
            echo "scale=3; ($end - $start) / 1000000" | bc >> "$work/$file"
        done
    done
    one=$(median < "$work/one_bus")
    four=$(median < "$work/four_buses")
    echo
    echo "examples/bench.sh under gpak-sim (NVM and EEPROM of a board per bus), median of ${FIXTURE_RUNS:-3}:"
    printf '  %-44s %8.2f ms\n' "one bus" "$one"
    printf '  %-44s %8.2f ms (%.3f times one bus)\n' "four buses at once" "$four" \
        "$(echo "scale=3; $four / $one" | bc)"
else
    echo
    echo "examples/bench.sh on four buses: skipped, this gpak-sim has no --chip"
fi
