#!/usr/bin/python3
"""examples/bench.sh on four simulated buses, as the README's recipe runs it.

gpak-sim with a chip at control code 1 on each of buses 1 to 4 (virtual
time) runs the script with the built gpakcfg: four boards are programmed,
each takes its own serial number from the counter file into its EEPROM at
0xF0, and every line of the one log parses (the checks of run_log_check.py)
and tells the same. A second run on the same chips skips their NVM and
gives the next four numbers; a third, with a bus where no chip is, stops
that fixture alone and exits with its number. Exits 77 (skipped) where
gpak-sim has no --chip or the programs run under a user-mode emulator, 1
on any problem.
"""

import os
import subprocess
import sys
sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "support"))
from launch import (  # noqa: E402  pylint: disable=wrong-import-position
    emulator, fresh_work, launcher_argv, parser_for)

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
from run_log_check import parse_log  # noqa: E402  pylint: disable=wrong-import-position

SKIP = 77
SERIAL_AT = 0xF0


class Fixtures:
    def __init__(self, args):
        self.args = args
        self.emulator = emulator()
        self.state = os.path.join(args.work, "chips.state")
        self.counter = os.path.join(args.work, "serial.txt")
        self.log = os.path.join(args.work, "bench.log")
        self.problems = []

    def expect(self, ok, problem):
        if not ok:
            self.problems.append(problem)

    def sim(self, command, buses=(1, 2, 3, 4)):
        chips = [item for bus in buses for item in ("--chip", "%d:1" % bus)]
        argv = launcher_argv(self.emulator, self.args.gpak_sim, self.state, command, sim=chips)
        env = dict(os.environ, GPAKCFG=self.args.gpakcfg)
        return subprocess.run(argv, capture_output=True, check=False, env=env)

    def bench(self, buses):
        return self.sim([self.args.script, "-s", self.counter, "-l", self.log, self.args.example] +
                        [str(bus) for bus in buses])

    def serial_on(self, bus):
        """The serial number the EEPROM on bus holds, read by a run of its own."""
        read_log = os.path.join(self.args.work, "read.log")
        done = self.sim([self.args.gpakcfg, "-q", "--bus", str(bus), "-t", "eeprom", "--log",
                         read_log])
        records, problems = parse_log(read_log)
        self.problems += problems
        self.expect(done.returncode == 0 and records, "bus %d cannot be read" % bus)
        return int(records[-1]["read"][SERIAL_AT * 2:SERIAL_AT * 2 + 8], 16) if records else -1

    def new_records(self, before):
        records, problems = parse_log(self.log)
        self.problems += problems
        return records[before:]


def check_round(fixtures, first_serial, skipped, before):
    """A run of the four fixtures: the boards, the numbers, the log."""
    with open(fixtures.counter, "w", encoding="ascii") as f:
        f.write("%d\n" % first_serial)
    done = fixtures.bench([1, 2, 3, 4])
    fixtures.expect(done.returncode == 0, "status %d: %r" % (done.returncode, done.stderr))
    fixtures.expect(done.stderr == b"", "standard error: %r" % done.stderr)
    fixtures.expect(len(done.stdout.splitlines()) == 4, "stdout: %r" % done.stdout)
    with open(fixtures.counter, encoding="ascii") as f:
        fixtures.expect(f.read() == "%d\n" % (first_serial + 4), "the counter did not count 4")
    records = fixtures.new_records(before)
    fixtures.expect(len(records) == 8, "%d lines for four boards, not 8" % len(records))
    serials = {}
    for record in records:
        fixtures.expect(record["status"] == 0 and record["verified"] is True,
                        "a failed run: %s" % record)
        if record["memory"] == "nvm":
            fixtures.expect(record["skipped"] is skipped, "NVM skipped: %s" % record["skipped"])
        elif record["set"]:
            serial = int(record["set"][0]["bytes"], 16)
            serials[record["node"]] = serial
            fixtures.expect(record["set"][0]["addr"] == SERIAL_AT, "set at %s" % record["set"])
            fixtures.expect(record["read"][SERIAL_AT * 2:SERIAL_AT * 2 + 8] == "%08x" % serial,
                            "the EEPROM read back lacks %d" % serial)
    wanted = set(range(first_serial, first_serial + 4))
    fixtures.expect(set(serials.values()) == wanted, "serial numbers %s" % serials)
    for bus in (1, 2, 3, 4):
        on_chip = fixtures.serial_on(bus)
        fixtures.expect(on_chip == serials.get("/dev/i2c-%d" % bus),
                        "bus %d holds %d, its line says %s" %
                        (bus, on_chip, serials.get("/dev/i2c-%d" % bus)))
    return len(records) + before


def check_failing_fixture(fixtures, before):
    """No chip on the third fixture's bus: it stops, the others go on."""
    with open(fixtures.counter, "w", encoding="ascii") as f:
        f.write("7\n")
    done = fixtures.bench([1, 2, 7, 4])
    fixtures.expect(done.returncode == 3, "status %d, not 3" % done.returncode)
    fixtures.expect(b"bench: fixture 3 (bus 7): the NVM was not programmed" in done.stderr,
                    "stderr: %r" % done.stderr)
    with open(fixtures.counter, encoding="ascii") as f:
        fixtures.expect(f.read() == "10\n", "a number taken for the failed fixture")
    records = fixtures.new_records(before)
    failed = [r for r in records if r["status"] != 0]
    fixtures.expect(len(records) == 7 and len(failed) == 1 and
                    failed[0]["node"] == "/dev/i2c-7", "lines: %s" % records)


def main():
    parser = parser_for(__doc__)
    parser.add_argument("--script", required=True)
    parser.add_argument("--example", required=True)
    args = parser.parse_args()
    if emulator():
        # The script starts gpakcfg itself, which a user-mode emulator would
        # have to run: the native build proves it.
        print("bench script: skipped, the programs run under a user-mode emulator here")
        return SKIP
    help_text = subprocess.run([args.gpak_sim, "--help"], capture_output=True, check=False)
    if b"--chip" not in help_text.stdout + help_text.stderr:
        print("bench script: skipped, this gpak-sim has one bus only (no --chip)")
        return SKIP
    fresh_work(args.work)
    fixtures = Fixtures(args)
    lines = check_round(fixtures, 1000, False, 0)
    lines = check_round(fixtures, 2000, True, lines)
    check_failing_fixture(fixtures, lines)
    for problem in fixtures.problems:
        print("PROBLEM " + problem)
    print("bench script: %d problems" % len(fixtures.problems))
    return 1 if fixtures.problems else 0


if __name__ == "__main__":
    sys.exit(main())
