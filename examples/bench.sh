#!/usr/bin/env bash
# Programs boards on several fixtures at once, one I2C bus each: the NVM of
# every board from one configuration file (unless it holds it already), then
# the board's own serial number into its EEPROM. Every gpakcfg run appends
# its line to one log; a fixture stops at its first failure, and the others
# go on.
#
# Serial numbers. Each board takes the next one from a counter file (-s), or
# from a command that prints one (-S), for stations on several machines that
# share a database. A board whose EEPROM holds the EEPROM file with a number
# already (a board programmed again) keeps its number and takes none. The
# number goes into the EEPROM as 4 bytes, most significant first.
#
# The counter file holds the next number (decimal, one line). It is never
# written in place: a new file is written, flushed to the disk and renamed
# over it, under a lock on COUNTER.lock (a file never replaced), so a kill
# or a power cut leaves the old number or the next one. While a number is
# taken but not yet in the log, a second line says so ("taken N"); the next
# board to take a number logs such a one as not used.
#
# The log. Besides gpakcfg's own lines, every number taken shows in it with
# what became of it, as a line of JSON of its own:
#   {"time": "...", "node": "/dev/i2c-1", "serial": 1000, "outcome": "taken"}
# outcome: "taken" (before the board is written), then "programmed" (the
# board holds it), "failed" (it may not, and the number is not used again)
# or "not used" (never written); "kept" for a board that held its number.
# Each line is appended under an exclusive lock (flock) of the log in one
# write, and one that could not be written whole is cut off again.
#
# Checked before any board is touched: the options, the buses (each once),
# the files (by gpakcfg itself), the counter and the log. On SIGINT,
# SIGTERM or SIGHUP no run is started any more: the runs under way end as
# gpakcfg ends them, the numbers they took are logged, and the bench ends
# by the signal.
#
# Standard output: a line for each board programmed. Exit status: 0 when
# every fixture programmed its board; else the number of the first fixture
# (in the order of the BUS arguments) that failed, each failure named on
# standard error; 125 for a usage error or a file, bus or counter that
# cannot be used.
#
# Try it on four simulated buses (gpak-sim, a chip at control code 1 on
# buses 1 to 4):
#   echo 1000 > serial.txt
#   gpak-sim --chip 1:1 --chip 2:1 --chip 3:1 --chip 4:1 -- \
#       ./bench.sh -s serial.txt -l bench.log demo-config.hex 1 2 3 4
set -uo pipefail
export LC_ALL=C

# The usage: on standard output and status 0 when asked for (-h), else on
# standard error and status 125.
usage() {
    if [ "$1" -eq 0 ]; then exec 2>&1; fi
    cat >&2 <<'EOF'
Usage: bench.sh [-e EEPROM_FILE] [-s COUNTER | -S CMD] [-l LOG] [-a ADDR] [-c CODE] FILE BUS...
  FILE         programmed into the NVM of the board on each BUS (a number N
               for /dev/i2c-N, or a path); each bus once
  -e FILE      the EEPROM's contents, into which the serial number is set
               (default: FILE)
  -s COUNTER   the file that holds the next serial number (default: serial.txt)
  -S CMD       a shell command that prints the next serial number, instead
               of a counter: it must never print a number twice, also when
               several fixtures run it at once
  -l LOG       the log of every run, one JSON line each (default: bench.log)
  -a ADDR      where the serial number goes in the EEPROM, 0x00 to 0xFC
               (default: 0xF0)
  -c CODE      the chips' control code (default: 1)
GPAKCFG names the gpakcfg to run (default: gpakcfg).
EOF
    exit "$1"
}

refuse() {
    echo "bench: $*; no board was touched" >&2
    exit 125
}

gpakcfg=${GPAKCFG:-gpakcfg}
eeprom=
counter=
serial_command=
log=bench.log
addr=0xF0
code=1
while getopts e:s:S:l:a:c:h option; do
    case $option in
        e) eeprom=$OPTARG ;;
        s) counter=$OPTARG ;;
        S) serial_command=$OPTARG ;;
        l) log=$OPTARG ;;
        a) addr=$OPTARG ;;
        c) code=$OPTARG ;;
        h) usage 0 ;;
        *) usage 125 ;;
    esac
done
shift $((OPTIND - 1))
[ $# -ge 2 ] || usage 125
[ $# -le 101 ] || refuse "at most 100 fixtures"
file=$1
shift
eeprom=${eeprom:-$file}
[ -z "$counter" ] || [ -z "$serial_command" ] || refuse "-s and -S: give one source of serial numbers"
[ -n "$serial_command" ] || counter=${counter:-serial.txt}
counter_dir=.
[[ $counter != */* ]] || counter_dir=${counter%/*}/
[[ $addr =~ ^(0[xX])?[0-9A-Fa-f]{1,2}$ ]] && ((16#${addr#0[xX]} <= 0xFC)) ||
    refuse "-a $addr: the serial number's 4 bytes go at 0x00 to 0xFC"
addr_value=$((16#${addr#0[xX]}))
[[ $code =~ ^(0[xX])?[0-9A-Fa-f]$ ]] || refuse "-c $code: the control code is one hex digit, 0 to f"

# --- The buses: each once, under any of its names --------------------------

nodes=()
declare -A seen=()
for bus in "$@"; do
    if [[ $bus =~ ^[0-9]{1,6}$ ]]; then
        node=/dev/i2c-$((10#$bus))
    elif [[ $bus == */* && $bus =~ ^[[:print:]]+$ ]]; then
        node=$bus
    else
        refuse "bus '$bus': a bus number (/dev/i2c-N) or a path"
    fi
    # One bus under two names (a link, another path, a second node of the
    # same device) would be programmed by two fixtures at once.
    same=$(readlink -m -- "$node")
    if kind=$(stat -L -c '%F %t:%T %d:%i' -- "$node" 2>/dev/null); then
        read -r type device inode <<<"${kind/character special file/char}"
        [ "$type" = char ] && same="device $device" || same="file $inode"
    fi
    [ -z "${seen[$same]:-}" ] || refuse "bus $bus: the same bus as ${seen[$same]}: give each bus once"
    seen[$same]=$bus
    nodes+=("$node")
done

# --- The log: bench lines whole or absent ----------------------------------

[ ! -e "$log" ] || [ -f "$log" ] || refuse "-l $log: not a regular file"
: >>"$log" 2>/dev/null || refuse "-l $log: cannot be written"

json_string() {
    local text=${1//\\/\\\\}
    printf '"%s"' "${text//\"/\\\"}"
}

# Appends one line to the log under its lock, in one write; a line written
# in part is cut off again, so that the log ends on a whole line.
append_log() {
    {
        flock 8 || return 1
        local size
        size=$(stat -c %s -- "$log") || return 1
        if ! printf '%s\n' "$1" >&8; then
            truncate -s "$size" -- "$log"
            return 1
        fi
    } 8>>"$log"
}

# The time in UTC, ISO 8601 with milliseconds, as gpakcfg logs it.
now() {
    local clock=${EPOCHREALTIME:-}
    if [ -z "$clock" ]; then
        date -u +%Y-%m-%dT%H:%M:%S.%3NZ
        return
    fi
    local micro=${clock#*[.,]}
    TZ=UTC0 printf '%(%Y-%m-%dT%H:%M:%S)T.%sZ\n' "${clock%[.,]*}" "${micro:0:3}"
}

# log_serial SERIAL OUTCOME NODE: what became of a serial number.
log_serial() {
    local node=null
    [ -z "${3:-}" ] || node=$(json_string "$3")
    append_log "$(printf '{"time": "%s", "node": %s, "serial": %d, "outcome": "%s"}' \
        "$(now)" "$node" "$1" "$2")" && return 0
    echo "bench: $log: not logged: serial number $1 $2" >&2
    return 1
}

# --- Serial numbers ----------------------------------------------------------

is_serial() { [[ $1 =~ ^[0-9]{1,10}$ ]] && ((10#$1 <= 0xFFFFFFFF)); }

# Replaces the counter with NEXT (and "taken N" when given): a new file,
# flushed, renamed over the old one. The directory is flushed too when a
# number is taken, before the number goes into the log; the rename that
# only clears the mark may be lost in a power cut (the mark then stays).
replace_counter() {
    local new=$counter.new
    { printf '%d\n' "$1" && if [ -n "${2:-}" ]; then printf 'taken %d\n' "$2"; fi; } >"$new" &&
        sync -- "$new" && mv -f -- "$new" "$counter" && { [ -z "${2:-}" ] || sync -- "$counter_dir"; }
}

# Reads the counter (under its lock) into next and taken.
read_counter() {
    local line
    next= taken=
    {
        IFS= read -r next || [ -n "$next" ] || return 1
        while IFS= read -r line || [ -n "$line" ]; do
            [[ $line =~ ^taken\ ([0-9]{1,10})$ ]] || return 1
            taken=${BASH_REMATCH[1]}
        done
    } <"$counter" || return 1
    is_serial "$next" && next=$((10#$next))
}

# take_serial NODE: prints the next serial number, logged as taken.
take_serial() {
    if [ -n "$serial_command" ]; then
        local serial
        serial=$(sh -c "$serial_command") || {
            echo "bench: -S '$serial_command' failed" >&2
            return 1
        }
        is_serial "$serial" || {
            echo "bench: -S '$serial_command' printed '$serial', not a serial number" >&2
            return 1
        }
        log_serial "$serial" taken "$1" || return 1
        echo $((10#$serial))
        return 0
    fi
    {
        flock 9 || return 1
        local next taken
        if ! read_counter; then
            echo "bench: $counter: no serial number (0 to 4294967295) in it" >&2
            return 1
        fi
        # Taken by a bench stopped before it logged the number.
        if [ -n "$taken" ]; then
            log_serial "$taken" "not used" || return 1
        fi
        # From here, the number is never given again, and is marked taken
        # until it is in the log.
        ((next < 0xFFFFFFFF)) || { echo "bench: $counter: no serial numbers left" >&2; return 1; }
        replace_counter $((next + 1)) "$next" || return 1
        log_serial "$next" taken "$1" || return 1
        if ! replace_counter $((next + 1)); then
            log_serial "$next" "not used" "$1"
            return 1
        fi
        echo "$next"
    } 9>>"$counter.lock"
}

# --- Checked before the first board -------------------------------------------

# gpakcfg reads the files, the --set value and the control code before it
# takes the bus; a bus that cannot be there stops it with status 1.
check_file() {
    local what=$1 message
    shift
    message=$("$gpakcfg" -q --bus /dev/null/no-bus -c "$code" "$@" 2>&1 >/dev/null)
    case $? in
        1) ;;
        255) [[ $message == gpakcfg:\ * ]] && refuse "${message#gpakcfg: }" || refuse "$what: $message" ;;
        *) refuse "$gpakcfg cannot be run${message:+: $message}" ;;
    esac
}
check_file "$file" -t nvm -w "$file"
check_file "$eeprom" -t eeprom -w "$eeprom" --set "$addr=00000000"
if [ -n "$counter" ]; then
    [ -f "$counter" ] || refuse "$counter: no counter file (echo 1 > $counter)"
    {
        flock 9 && read_counter
    } 9>>"$counter.lock" 2>/dev/null ||
        refuse "$counter: no serial number (0 to 4294967295) in it, or $counter.lock cannot be made"
    { : >"$counter.new" && rm -f -- "$counter.new"; } 2>/dev/null ||
        refuse "$counter: its directory cannot take the new counter file"
fi

# --- The fixtures ---------------------------------------------------------------

# The signal that stops the bench (the first one): no run starts after it.
# The fixtures ignore the signals, so that none cuts their bookkeeping
# short (a number taken but not logged); only their gpakcfg runs take them.
# They learn of one from a pipe, a line for each of them.
stop=
signals=0
exec {stop_pipe}<> <(:)
on_signal() {
    signals=$((signals + 1))
    if [ -z "$stop" ]; then
        stop=$1
        for _ in "${nodes[@]}"; do printf '%s\n' "$stop" >&"$stop_pipe"; done
    fi
}

# Sets stop when the bench is stopping.
stopping() {
    [ -n "$stop" ] && return 0
    read -r -t 0 -u "$stop_pipe" && IFS= read -r -u "$stop_pipe" stop
}

# A gpakcfg run: the one step of a fixture that a signal may end.
run() (
    trap - TERM HUP INT
    exec "$gpakcfg" -q --bus "$node" -c "$code" "$@" {stop_pipe}>&-
)

# One fixture: its board's NVM, then a serial number into its EEPROM.
fixture() {
    local number=$1 bus=$2 node=$3 serial=
    local where="bench: fixture $number (bus $bus)"
    stopped() {
        stopping || return 1
        echo "$where: stopped by SIG$stop $1" >&2
        exit 1
    }
    trap '' TERM HUP INT
    stopped "before the NVM"
    if ! run -t nvm -w "$file" --skip-identical --log "$log"; then
        stopped "during the NVM; no serial number taken"
        if run -t nvm --verify "$file" >/dev/null 2>&1; then
            echo "$where: the NVM holds the file, but its run was not logged ($log); no serial number taken" >&2
        else
            echo "$where: the NVM was not programmed (see $log); no serial number taken" >&2
        fi
        return 1
    fi
    stopped "after the NVM; no serial number taken"

    # A board that holds the EEPROM file with a number already keeps it.
    local table held
    table=$("$gpakcfg" --bus "$node" -c "$code" -t eeprom --verify "$eeprom" 2>/dev/null {stop_pipe}>&-)
    case $? in
        0) ;; # the file alone: no number yet
        1)
            held=$(sed -n 's/^0x[0-9A-F][0-9A-F] | \([0-9a-f]\{32\}\)$/\1/p' <<<"$table" | tr -d '\n')
            held=${held:$((addr_value * 2)):8}
            if [ ${#held} -eq 8 ] && run -t eeprom --verify "$eeprom" --set "$addr=$held" 2>/dev/null; then
                serial=$((16#$held))
                log_serial "$serial" kept "$node" || return 1
                echo "$where: board $serial programmed already; it keeps its number"
                return 0
            fi
            ;;
    esac
    stopped "before the EEPROM; no serial number taken"

    serial=$(take_serial "$node") || { echo "$where: no serial number" >&2; return 1; }
    if stopping; then
        log_serial "$serial" "not used" "$node"
        stopped "before the EEPROM; serial number $serial not used"
    fi
    if run -t eeprom -w "$eeprom" --set "$addr=$(printf '%08X' "$serial")" --log "$log"; then
        log_serial "$serial" programmed "$node" || return 1
        echo "$where: board $serial programmed"
        return 0
    fi
    # What failed: the chip, or only the log.
    if run -t eeprom --verify "$eeprom" --set "$addr=$(printf '%08X' "$serial")" >/dev/null 2>&1; then
        log_serial "$serial" programmed "$node"
        echo "$where: board $serial programmed, but its run was not logged ($log)" >&2
        stopped "after the EEPROM"
        return 1
    fi
    log_serial "$serial" failed "$node"
    stopped "during the EEPROM; serial number $serial not used again"
    echo "$where: serial number $serial was not written (see $log); it is not used again" >&2
    return 1
}

# The status of fixture PID: a signal ends a wait, not the fixture,
# so it is waited for again (127: the wait that was cut short had it).
wait_for() {
    local result=127 got seen
    while :; do
        seen=$signals
        wait "$1"
        got=$?
        if [ "$got" -eq 127 ] && [ "$result" -ne 127 ]; then return "$result"; fi
        result=$got
        [ "$signals" != "$seen" ] || return "$result"
    done
}

pids=()
for signal in TERM HUP INT; do
    trap "on_signal $signal" "$signal"
done
number=0
for bus in "$@"; do
    [ -z "$stop" ] || break
    number=$((number + 1))
    fixture "$number" "$bus" "${nodes[number - 1]}" &
    pids+=($!)
done
status=0
number=0
for pid in "${pids[@]}"; do
    number=$((number + 1))
    if ! wait_for "$pid" && [ "$status" -eq 0 ]; then
        status=$number
    fi
done
if [ -n "$stop" ]; then
    trap - "$stop"
    kill -s "$stop" $$
    exit $((128 + $(kill -l "$stop")))
fi
exit "$status"
