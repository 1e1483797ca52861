#!/usr/bin/python3
"""examples/bench.sh on four simulated buses, as the README's recipe runs it.

gpak-sim with a chip at control code 1 on each of buses 1 to 4 (virtual
time) runs the script with the built gpakcfg. Four boards are programmed,
each takes its own serial number from the counter file into its EEPROM at
0xF0, and every line of the one log parses (the checks of run_log_check.py)
and tells the same; a second run on the same boards keeps their numbers; a
bus where no chip is stops that fixture alone. Command lines the bench
cannot use are refused with 125 before any board is touched. The kill
sweep stops runs with SIGKILL, SIGTERM or SIGHUP to the whole process group
at instants spread over a run, the counter carried on: it always holds a
number that never went down, no number is taken twice nor is on two
boards, every board that holds a number has it in the log, and a bench
ended by SIGTERM or SIGHUP has waited for its runs. With --stations, two
stations take their numbers from one sequence of a PostgreSQL server of
the test's own at once. Exits 77 (skipped) where gpak-sim has no --chip,
the programs run under a user-mode emulator or (--stations) there is no
PostgreSQL server, 1 on any problem.
"""

import glob
import os
import shutil
import signal
import subprocess
import sys
import tempfile
import time
# No __pycache__ of the modules imported below in the source tree.
sys.dont_write_bytecode = True
sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "support"))
from launch import (  # noqa: E402  pylint: disable=wrong-import-position
    emulator, fresh_work, launcher_argv, parser_for)

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
from run_log_check import parse_log  # noqa: E402  pylint: disable=wrong-import-position

SKIP = 77
SERIAL_AT = 0xF0
BUSES = (1, 2, 3, 4)


def file_image(path):
    """The 256 bytes of a hex record file of 16-byte data records."""
    image = bytearray(256)
    with open(path, encoding="ascii") as f:
        for line in f:
            if line.startswith(":") and line[7:9] == "00":
                addr = int(line[3:7], 16)
                image[addr:addr + 16] = bytes.fromhex(line[9:41])
    return bytes(image)


class Fixtures:
    def __init__(self, args, name="bench"):
        self.args = args
        self.emulator = emulator()
        self.state = os.path.join(args.work, name + ".state")
        self.counter = os.path.join(args.work, name + "-serial.txt")
        self.log = os.path.join(args.work, name + ".log")
        self.trace = None
        self.image = file_image(args.example)
        self.problems = []

    def expect(self, ok, problem):
        if not ok:
            self.problems.append(problem)

    def argv(self, command, buses=BUSES):
        chips = [item for bus in buses for item in ("--chip", "%d:1" % bus)]
        return launcher_argv(self.emulator, self.args.gpak_sim, self.state, command, sim=chips,
                             trace=self.trace)

    def env(self):
        return dict(os.environ, GPAKCFG=self.args.gpakcfg)

    def bench_command(self, buses, options=None):
        if options is None:
            options = ["-s", self.counter]
        return [self.args.script] + options + ["-l", self.log, self.args.example] + \
            [str(bus) for bus in buses]

    def bench(self, buses, options=None):
        return subprocess.run(self.argv(self.bench_command(buses, options)), capture_output=True,
                              check=False, env=self.env())

    def set_counter(self, text):
        with open(self.counter, "w", encoding="ascii") as f:
            f.write(text)

    def read_counter(self):
        with open(self.counter, encoding="ascii") as f:
            return f.read()

    def serials_on_boards(self):
        """node -> the serial number its EEPROM holds with the file, or None:
        the chips as the state file holds them after the run."""
        eeproms, node, rows = {}, None, None
        with open(self.state, encoding="ascii") as f:
            for line in f:
                words = line.split()
                if words[:1] == ["chip"]:
                    node = words[2]
                elif words == ["eeprom"]:
                    rows = eeproms.setdefault(node, [])
                elif rows is not None and len(words) == 17 and len(rows) < 16:
                    rows.append(bytes.fromhex("".join(words[1:])))
                else:
                    rows = None
        held = {}
        for node, rows in eeproms.items():
            read = b"".join(rows)
            same = read[:SERIAL_AT] + read[SERIAL_AT + 4:] == \
                self.image[:SERIAL_AT] + self.image[SERIAL_AT + 4:]
            held[node] = int.from_bytes(read[SERIAL_AT:SERIAL_AT + 4], "big") if same else None
        return held

    def records(self, before=0):
        records, problems = parse_log(self.log)
        self.problems += problems
        return records[before:]


def outcomes(records):
    """serial -> the outcomes of the bench's lines about it, in order."""
    seen = {}
    for record in records:
        if "outcome" in record:
            seen.setdefault(record["serial"], []).append(record["outcome"])
    return seen


def check_round(fixtures, first_serial, before):
    """Four fresh boards, then the same boards again: they keep their numbers."""
    fixtures.set_counter("%d\n" % first_serial)
    done = fixtures.bench(BUSES)
    fixtures.expect(done.returncode == 0, "status %d: %r" % (done.returncode, done.stderr))
    fixtures.expect(done.stderr == b"", "standard error: %r" % done.stderr)
    fixtures.expect(len(done.stdout.splitlines()) == 4, "stdout: %r" % done.stdout)
    fixtures.expect(fixtures.read_counter() == "%d\n" % (first_serial + 4),
                    "the counter did not count 4")
    records = fixtures.records(before)
    runs = [r for r in records if "action" in r]
    fixtures.expect(len(runs) == 8 and all(r["status"] == 0 and r["verified"] for r in runs),
                    "runs: %s" % runs)
    wanted = set(range(first_serial, first_serial + 4))
    fixtures.expect(outcomes(records) == {n: ["taken", "programmed"] for n in wanted},
                    "serial lines: %s" % outcomes(records))
    held = fixtures.serials_on_boards()
    fixtures.expect(set(held.values()) == wanted, "the boards hold %s" % held)

    # Taken a new number each time before.
    again = fixtures.bench(BUSES)
    fixtures.expect(again.returncode == 0 and again.stdout.count(b"it keeps its number") == 4,
                    "a re-run: %d %r %r" % (again.returncode, again.stdout, again.stderr))
    fixtures.expect(fixtures.read_counter() == "%d\n" % (first_serial + 4),
                    "a re-run took numbers")
    records = fixtures.records(before + len(records))
    fixtures.expect(outcomes(records) == {n: ["kept"] for n in wanted}, "re-run: %s" % records)
    fixtures.expect(fixtures.serials_on_boards() == held, "a re-run changed the numbers")
    return len(fixtures.records())


def check_failing_fixture(fixtures, before):
    """No chip on the third fixture's bus: it stops, the others go on."""
    done = fixtures.bench([1, 2, 7, 4])
    fixtures.expect(done.returncode == 3, "status %d, not 3" % done.returncode)
    fixtures.expect(b"bench: fixture 3 (bus 7): the NVM was not programmed" in done.stderr,
                    "stderr: %r" % done.stderr)
    records = fixtures.records(before)
    failed = [r for r in records if r.get("status", 0) != 0]
    fixtures.expect(len(failed) == 1 and failed[0]["node"] == "/dev/i2c-7", "lines: %s" % records)


def check_refusals(fixtures):
    """Command lines refused (125) before any board is touched."""
    work = fixtures.args.work
    bad = os.path.join(work, "no-colon.hex")
    with open(fixtures.args.example, encoding="ascii") as f:
        lines = f.read().split("\n")
    lines[15] = lines[15][1:]
    with open(bad, "w", encoding="ascii") as f:
        f.write("\n".join(lines))
    link = os.path.join(work, "bus-link")
    if not os.path.islink(link):
        os.symlink("/dev/i2c-2", link)
    counter = fixtures.counter
    rows = [
        # The same bus twice programmed one board three times before.
        ([1, "/dev/i2c-1"], None, "", b"bus /dev/i2c-1: the same bus as 1"),
        ([2, 3, link], None, "", b"the same bus as 2"),
        (BUSES, ["-s", counter, "-a", "0xFD"], "", b"-a 0xFD"),
        (BUSES, ["-s", counter, "-a", "F0x"], "", b"-a F0x"),
        (BUSES, ["-s", counter, "-e", bad], "", b":16: a record without its ':'"),
        (BUSES, ["-s", counter, "-e", bad + ".none"], "", b"Config file open error"),
        (BUSES, ["-s", counter, "-c", "g"], "", b"-c g: the control code is one hex digit"),
        (BUSES, None, "12ab\n", b"no serial number"),
        (BUSES, None, "12\ntaken x\n", b"no serial number"),
        (BUSES, ["-s", counter, "-S", "echo 1"], "", b"-s and -S"),
        (BUSES, ["-s", counter + ".none"], "", b"no counter file"),
    ]
    fixtures.trace = os.path.join(work, "refused.trace")
    for buses, options, counter_text, message in rows:
        fixtures.set_counter(counter_text or "500\n")
        size = os.path.getsize(fixtures.log) if os.path.exists(fixtures.log) else 0
        if os.path.exists(fixtures.trace):
            os.remove(fixtures.trace)
        done = fixtures.bench(buses, options)
        sent = b""
        if os.path.exists(fixtures.trace):
            with open(fixtures.trace, "rb") as f:
                sent = f.read()
        fixtures.expect(done.returncode == 125 and message in done.stderr and
                        b"no board was touched" in done.stderr and sent == b"" and
                        fixtures.read_counter() == (counter_text or "500\n") and
                        os.path.getsize(fixtures.log) == size,
                        "refused %s %s: %d %r, trace %r" % (buses, options, done.returncode,
                                                            done.stderr, sent[:80]))
    fixtures.trace = None


def run_killed(fixtures, at, sig):
    """A bench on fresh or earlier boards, its process group sent sig at `at` s."""
    process = subprocess.Popen(fixtures.argv(fixtures.bench_command(BUSES)),
                               stdout=subprocess.DEVNULL, stderr=subprocess.PIPE,
                               env=fixtures.env(), start_new_session=True)
    try:
        process.wait(timeout=at)
    except subprocess.TimeoutExpired:
        os.killpg(process.pid, sig)
    try:
        _, stderr = process.communicate(timeout=60)
    except subprocess.TimeoutExpired:
        os.killpg(process.pid, signal.SIGKILL)
        _, stderr = process.communicate()
        fixtures.problems.append("a bench sent %s did not end" % sig)
    return process.returncode, stderr


def check_kill_sweep(fixtures, runs):
    """Benches stopped at instants spread over a whole run."""
    if os.path.exists(fixtures.state):
        os.remove(fixtures.state)
    fixtures.set_counter("100\n")
    started = time.monotonic()
    whole = fixtures.bench(BUSES)
    length = time.monotonic() - started
    fixtures.expect(whole.returncode == 0, "the unstopped run: %r" % whole.stderr)
    boards = {}  # (boards, node) -> the number the board holds
    generation = 0
    last = 104
    before = len(fixtures.records())
    for i in range(runs):
        if i % 2 == 0:  # new boards; the others are run again
            os.remove(fixtures.state)
            generation += 1
        sig = (signal.SIGKILL, signal.SIGTERM, signal.SIGHUP)[i % 3]
        status, stderr = run_killed(fixtures, length * (i + 0.5) / runs, sig)
        counter = fixtures.read_counter().split("\n")
        number = int(counter[0]) if counter[0].isdigit() else -1
        fixtures.expect(number >= last and all(line.startswith("taken ") for line in counter[1:-1])
                        and counter[-1] == "", "run %d: the counter holds %r" % (i, counter))
        last = max(last, number)
        records = fixtures.records(before)
        if sig != signal.SIGKILL and status != 0:
            # It waited for its runs: every number taken has its outcome.
            open_numbers = [n for n, seen in outcomes(records).items() if seen[-1] == "taken"]
            fixtures.expect(status == -sig and not open_numbers,
                            "run %d (%s): status %d, numbers without an outcome %s, %r" %
                            (i, sig, status, open_numbers, stderr))
        before += len(records)
        for node, serial in fixtures.serials_on_boards().items():
            if serial is not None:
                boards[(generation, node)] = serial
    records = fixtures.records()
    taken = [r["serial"] for r in records if r.get("outcome") == "taken"]
    fixtures.expect(len(taken) == len(set(taken)), "a number taken twice: %s" % sorted(taken))
    fixtures.expect(all(n < last for n in taken), "a number taken at or past the counter")
    held = list(boards.values())
    fixtures.expect(len(held) == len(set(held)), "a number on two boards: %s" % boards)
    fixtures.expect(all(n in taken for n in held),
                    "a board's number not in the log: %s, %s" % (boards, taken))
    fixtures.expect(len(boards) >= runs // 4, "only %d boards got a number" % len(boards))


def postgres_bin():
    found = sorted(glob.glob("/usr/lib/postgresql/*/bin/initdb"))
    return os.path.dirname(found[-1]) if found else None


def check_stations(args, bin_dir):
    """Two stations at once on one sequence of a PostgreSQL server of our own."""
    problems = []
    home = tempfile.mkdtemp(prefix="gpakcfg-pg-")
    as_user = []
    if os.geteuid() == 0:  # the server refuses to run as root
        shutil.chown(home, "postgres")
        as_user = ["runuser", "-u", "postgres", "--"]
    os.chmod(home, 0o755)
    data = os.path.join(home, "data")
    pg_ctl = as_user + [os.path.join(bin_dir, "pg_ctl"), "-D", data]
    try:
        subprocess.run(as_user + [os.path.join(bin_dir, "initdb"), "-D", data, "-U", "postgres",
                                  "--auth=trust", "--no-sync"], check=True, capture_output=True)
        subprocess.run(pg_ctl + ["-w", "-l", os.path.join(home, "server.log"), "-o",
                                 "-k %s -c listen_addresses= -F" % home, "start"],
                       check=True, capture_output=True)
        psql = ["psql", "-h", home, "-U", "postgres", "-Atc"]
        subprocess.run(psql + ["create sequence serials start 7000"], check=True,
                       capture_output=True)
        command = "psql -h %s -U postgres -Atc \"select nextval('serials')\"" % home
        stations = [Fixtures(args, "station%d" % n) for n in (1, 2)]
        running = [subprocess.Popen(s.argv(s.bench_command(BUSES, ["-S", command])),
                                    stdout=subprocess.PIPE, stderr=subprocess.PIPE, env=s.env())
                   for s in stations]
        numbers = []
        for station, process in zip(stations, running):
            out, err = process.communicate(timeout=300)
            station.expect(process.returncode == 0, "a station: %d %r" % (process.returncode, err))
            logged = outcomes(station.records())
            held = station.serials_on_boards()
            station.expect(set(held.values()) == set(logged) and len(logged) == 4 and
                           all(seen == ["taken", "programmed"] for seen in logged.values()),
                           "a station's boards %s, its log %s, %r" % (held, logged, out))
            numbers += logged
            problems += station.problems
        if len(numbers) != 8 or len(set(numbers)) != 8 or min(numbers) < 7000:
            problems.append("the stations' numbers: %s" % sorted(numbers))
    except subprocess.CalledProcessError as error:
        problems.append("the server: %s: %r" % (error.cmd, error.stderr))
    finally:
        subprocess.run(pg_ctl + ["-m", "immediate", "stop"], capture_output=True, check=False)
        shutil.rmtree(home, ignore_errors=True)
    return problems


def main():
    parser = parser_for(__doc__)
    parser.add_argument("--script", required=True)
    parser.add_argument("--example", required=True)
    parser.add_argument("--stations", action="store_true",
                        help="only the two stations on one PostgreSQL sequence")
    parser.add_argument("--kill-runs", type=int, default=24)
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
    if args.stations:
        bin_dir = postgres_bin()
        if bin_dir is None or shutil.which("psql") is None:
            print("bench stations: skipped, no PostgreSQL server here (Debian's postgresql)")
            return SKIP
        problems = check_stations(args, bin_dir)
    else:
        fixtures = Fixtures(args)
        lines = check_round(fixtures, 1000, 0)
        check_failing_fixture(fixtures, lines)
        check_refusals(fixtures)
        sweep = Fixtures(args, "sweep")
        check_kill_sweep(sweep, args.kill_runs)
        problems = fixtures.problems + sweep.problems
    for problem in problems:
        print("PROBLEM " + problem)
    print("bench script: %d problems" % len(problems))
    return 1 if problems else 0


if __name__ == "__main__":
    sys.exit(main())
