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

# Runs one gpakcfg command. Standard output and standard error are kept
# apart so that the host can tell which stream each line went to.
run() {
    echo "@@ BEGIN gpakcfg $*"
    echo "@@ CLOCK start $(clock_ns) uptime $(cut -d' ' -f1 /proc/uptime)"
    gpakcfg "$@" > /tmp/stdout 2> /tmp/stderr
    status=$?
    echo "@@ CLOCK end $(clock_ns) uptime $(cut -d' ' -f1 /proc/uptime)"
    echo "@@ STDOUT"
    cat /tmp/stdout
    # A last line without its line break still ends before the next marker.
    [ -n "$(tail -c 1 /tmp/stdout)" ] && echo
    echo "@@ STDERR"
    cat /tmp/stderr
    [ -n "$(tail -c 1 /tmp/stderr)" ] && echo
    echo "@@ END status $status"
}

# Control code 1: registers at 0x08, NVM at 0x0A, EEPROM at 0x0B; NVM pages
# are written at 0x02. Nothing answers at control codes 3 and 5.
run -t eeprom -w /data/sample.hex
run -t nvm -w /data/sample.hex
run -t nvm -c 0
run -t reg -c 5
run -t eeprom -c 3 -w /data/sample.hex

echo "@@ DMESG"
dmesg
echo "@@ DONE"
poweroff -f
