#!/bin/busybox sh
# /init of the test initramfs that tests/pi/run boots on the emulated Pi Zero.
# It runs a fixed series of gpakcfg commands against the I2C memories on
# /dev/i2c-1 and prints each one between "@@" marker lines that tests/pi/run
# reads back from the console, then powers the machine off.

export PATH=/bin:/sbin:/usr/bin:/usr/sbin
/bin/busybox --install -s
mount -t proc proc /proc
mount -t sysfs sysfs /sys
mount -t devtmpfs devtmpfs /dev

# The I2C controller driver is built into the kernel; only the character
# device interface that gpakcfg opens is a module.
if ! insmod /lib/i2c-dev.ko || [ ! -c /dev/i2c-1 ]; then
    echo "@@ FATAL /dev/i2c-1 is missing"
    poweroff -f
fi

echo "@@ KERNEL $(uname -r)"
echo "@@ ADAPTER $(cat /sys/bus/i2c/devices/i2c-1/name)"

# Kernel messages would otherwise land in the middle of the tool's output;
# the ones logged during the commands are printed after them instead.
echo 1 > /proc/sys/kernel/printk
dmesg -c > /dev/null

# Guest clock in nanoseconds (/proc/uptime only has 10 ms steps).
clock_ns() {
    sed -n 's/^now at \([0-9]*\) nsecs$/\1/p;3q' /proc/timer_list
}

# Prints what a gpakcfg command printed and its status. Standard output and
# standard error are kept apart so that the host can tell which stream each
# line went to.
report() { # STATUS OUT ERR ARGS...
    status=$1 out=$2 err=$3
    shift 3
    echo "@@ BEGIN gpakcfg $*"
    echo "@@ STDOUT"
    cat "$out"
    # A last line without its line break still ends before the next marker.
    [ -n "$(tail -c 1 "$out")" ] && echo
    echo "@@ STDERR"
    cat "$err"
    [ -n "$(tail -c 1 "$err")" ] && echo
    echo "@@ END status $status"
}

# Runs one gpakcfg command, with the guest's clock before and after it.
run() {
    echo "@@ CLOCK gpakcfg $* start $(clock_ns)"
    gpakcfg "$@" > /tmp/stdout 2> /tmp/stderr
    status=$?
    echo "@@ CLOCK gpakcfg $* end $(clock_ns)"
    report $status /tmp/stdout /tmp/stderr "$@"
}

# Runs one gpakcfg command and sends it SIGINT one second in, as Ctrl-C
# would (in the foreground: a background job would have SIGINT ignored).
interrupted() {
    ( sleep 1; kill -INT $(pidof gpakcfg) ) &
    run "$@"
    wait
}

# Runs two gpakcfg commands at once on the bus; their arguments are
# separated by "--".
together() {
    a=""
    while [ "$1" != "--" ]; do a="$a $1"; shift; done
    shift
    gpakcfg $a > /tmp/a.out 2> /tmp/a.err &
    pid_a=$!
    gpakcfg "$@" > /tmp/b.out 2> /tmp/b.err &
    pid_b=$!
    wait $pid_a
    status_a=$?
    wait $pid_b
    status_b=$?
    report $status_a /tmp/a.out /tmp/a.err $a
    report $status_b /tmp/b.out /tmp/b.err "$@"
}

# Control code 1: registers at 0x08, NVM at 0x0A, EEPROM at 0x0B; NVM pages
# are written at 0x02, which is also the NVM at control code 0. Nothing
# answers at control codes 3 and 5. Bus 0 has memories at 0x08 and 0x0B. Every
# transfer to 0x00 reaches every memory on its bus (a general call), and is
# acknowledged there, as a chip at control code 0 would acknowledge it.
run -t eeprom -w /data/sample.hex
run --scan
# Something answers at 0x00, which would take the pages written at 0x02:
# an NVM run at control code 1 stops before its erase.
run -t nvm -w /data/sample.hex --no-verify
# At control code 0 the NVM is written and read back at 0x02.
run -t nvm -c 0 -w /data/sample.hex
run -t nvm -c 0
run -t reg -c 5
# Nothing answers at control code 3: the run stops before its erase.
run -t eeprom -c 3 -w /data/sample.hex
interrupted -t nvm -c 0 -w /data/other.hex
together -c 0 -t nvm -w /data/sample.hex -- -c 0 -t nvm -w /data/other.hex
run -c 0 -t nvm --verify /data/sample.hex
run -c 0 -t nvm --verify /data/other.hex
# The other bus: its own chip at control code 1.
run --bus 0 -t eeprom -w /data/other.hex
run -t eeprom --verify /data/sample.hex
run -t eeprom --verify /data/other.hex
run -t eeprom --save /tmp/saved.hex
run -t eeprom -w /tmp/saved.hex
echo "@@ SAVED"
cat /tmp/saved.hex
echo "@@ END SAVED"
run --bus 7 -t nvm -w /data/sample.hex

echo "@@ DMESG"
dmesg
echo "@@ DONE"
poweroff -f
