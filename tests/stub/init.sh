#!/bin/busybox sh
# /init of the test initramfs that tests/stub/run boots on an emulated PC.
# The kernel's own SMBus-only test adapter, i2c-stub, stands in for the
# chip at control code 1 (0x08, 0x0A, 0x0B). The memories are filled with
# i2cset, a fixed series of gpakcfg commands runs against them, and i2cdump
# shows what each left; every one is printed between "@@" marker lines that
# tests/stub/run reads back from the console. Then the machine powers off.

export PATH=/bin:/sbin:/usr/bin:/usr/sbin
/bin/busybox --install -s
mount -t proc proc /proc
mount -t sysfs sysfs /sys
mount -t devtmpfs devtmpfs /dev

insmod /lib/i2c-dev.ko
insmod /lib/i2c-stub.ko chip_addr=0x08,0x0a,0x0b
bus=""
for adapter in /sys/bus/i2c/devices/i2c-*; do
    [ "$(cat "$adapter/name")" = "SMBus stub driver" ] && bus=${adapter##*/i2c-}
done
if [ -z "$bus" ] || [ ! -c "/dev/i2c-$bus" ]; then
    echo "@@ FATAL no i2c-stub adapter with a node"
    poweroff -f
fi
echo "@@ KERNEL $(uname -r)"
echo "@@ BUS $bus"

# Kernel messages would otherwise land in the middle of the tool's output.
echo 1 > /proc/sys/kernel/printk

# Prints what a gpakcfg command printed and its status, standard output
# and standard error kept apart.
run() {
    gpakcfg "$@" > /tmp/stdout 2> /tmp/stderr
    status=$?
    echo "@@ BEGIN gpakcfg $*"
    echo "@@ STDOUT"
    cat /tmp/stdout
    [ -n "$(tail -c 1 /tmp/stdout)" ] && echo
    echo "@@ STDERR"
    cat /tmp/stderr
    [ -n "$(tail -c 1 /tmp/stderr)" ] && echo
    echo "@@ END status $status"
}

# What i2cdump reads at an address, in I2C-block mode.
dump() { # NAME ADDR
    echo "@@ DUMP $1"
    i2cdump -y "$bus" "$2" i
    echo "@@ END DUMP"
}

# The memories as the host filled them in: one i2cset per page.
. /data/fill.sh

b="--bus $bus"
run $b -t reg
run $b -t nvm
run $b -t eeprom
run $b -t eeprom -w /data/sample.hex
dump eeprom 0x0b
dump registers-after-eeprom 0x08
run $b -t reg -w /data/sample.hex
dump registers 0x08
run $b --scan
run --list-buses
# The kernel's dummy driver bound at the EEPROM's address: a run stops
# before its first transfer, unless --force.
echo dummy 0x0b > "/sys/bus/i2c/devices/i2c-$bus/new_device"
run $b -c 1 -t eeprom
run $b -c 1 -t eeprom --force
echo 0x0b > "/sys/bus/i2c/devices/i2c-$bus/delete_device"
run --bus 7 -t reg
# Nothing answers at control code 3: the run stops before its erase.
run $b -t eeprom -c 3 -w /data/sample.hex
# i2c-stub cannot answer at 0x00..0x02, where the NVM is written.
run $b -t nvm -w /data/sample.hex

echo "@@ DONE"
poweroff -f
