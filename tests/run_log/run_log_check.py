#!/usr/bin/python3
"""The --log line of gpakcfg, read by a JSON parser nobody here wrote.

The built gpakcfg runs under gpak-sim (virtual time) with --log: reads,
writes with --set, a --skip-identical re-run, verifies that pass and fail,
a page write that fails, a missing bus, a refused command line, and files
whose names hold a quote, a backslash, control characters, UTF-8 and a
byte that is not UTF-8. Every line of the log must parse with Python's
json module (strict: no raw control character), hold every member in its
order and type, agree with the run (its exit status, its --set values, the
chip it read) and give the file's name back byte for byte; -q must leave
standard output empty and change nothing else. Exits 1 on any problem.
"""

import datetime
import json
import os
import re
import subprocess
import sys
# No __pycache__ of the modules imported below in the source tree.
sys.dont_write_bytecode = True
sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "support"))
from launch import (  # noqa: E402  pylint: disable=wrong-import-position
    emulator, fresh_work, launcher_argv, parser_for)

FIELDS = ["time", "version", "node", "code", "new_code", "chips", "memory", "action", "file",
          "set", "sent", "read", "read_complete", "skipped", "verified", "differing",
          "first_difference", "status", "error", "duration_ms", "signal"]
# The lines examples/bench.sh adds: what became of each serial number.
BENCH_FIELDS = ["time", "node", "serial", "outcome"]
OUTCOMES = ("taken", "programmed", "failed", "not used", "kept")
HEX_IMAGE = re.compile(r"^[0-9a-f]{512}$")
TIME = re.compile(r"^\d{4}-\d\d-\d\dT\d\d:\d\d:\d\d\.\d{3}Z$")


def problems_of(record):
    """What is wrong with one parsed line, as a list of texts."""
    problems = []
    if list(record) == BENCH_FIELDS:
        if not (TIME.match(record["time"]) and isinstance(record["serial"], int) and
                0 <= record["serial"] <= 0xFFFFFFFF and record["outcome"] in OUTCOMES and
                (record["node"] is None or isinstance(record["node"], str))):
            problems.append("a bench line %s" % record)
        return problems
    if list(record) != FIELDS:
        return ["members %s, not %s" % (list(record), FIELDS)]

    def want(name, ok):
        if not ok:
            problems.append("%s is %r" % (name, record[name]))

    want("time", isinstance(record["time"], str) and TIME.match(record["time"]))
    want("version", isinstance(record["version"], str) and record["version"])
    want("node", isinstance(record["node"], str) and record["node"])
    scan = record["action"] == "scan"
    want("code", (record["code"] is None) if scan else
         (isinstance(record["code"], int) and 0 <= record["code"] <= 15))
    want("chips", (record["chips"] is None) if not scan else
         (isinstance(record["chips"], list) and record["chips"] == sorted(set(record["chips"])) and
          all(isinstance(c, int) and 0 <= c <= 15 for c in record["chips"])))
    want("new_code", record["new_code"] is None or 0 <= record["new_code"] <= 15)
    want("memory", record["memory"] in ("reg", "nvm", "eeprom") or
         (record["memory"] is None and record["action"] == "scan"))
    want("action", record["action"] in ("read", "write", "verify", "scan"))
    want("file", record["file"] is None or isinstance(record["file"], str))
    want("set", isinstance(record["set"], list) and all(
        list(item) == ["addr", "bytes"] and 0 <= item["addr"] <= 255 and
        re.match(r"^([0-9a-f]{2})+$", item["bytes"]) for item in record["set"]))
    for name in ("sent", "read"):
        want(name, record[name] is None or HEX_IMAGE.match(record[name]))
    for name in ("read_complete", "skipped"):
        want(name, isinstance(record[name], bool))
    want("status", record["status"] in (0, 1))
    want("error", (record["error"] is None) if record["status"] == 0 else
         (isinstance(record["error"], str) and record["error"].startswith("gpakcfg: ") and
          "\n" not in record["error"]))
    want("duration_ms", isinstance(record["duration_ms"], (int, float)) and
         0 <= record["duration_ms"] < 600000)
    want("signal", record["signal"] is None or record["signal"].startswith("SIG"))
    verified = record["verified"]
    if verified is None:
        want("differing", record["differing"] is None)
        want("first_difference", record["first_difference"] is None)
    elif record["sent"] is None or record["read"] is None:
        problems.append("verified without sent and read")
    else:
        sent = bytes.fromhex(record["sent"])
        read = bytes.fromhex(record["read"])
        differing = [i for i in range(256) if sent[i] != read[i]]
        want("verified", verified == (not differing))
        want("differing", record["differing"] == len(differing))
        want("first_difference",
             record["first_difference"] == (differing[0] if differing else None))
    return problems


def parse_log(path):
    """Every line of the log at path: (records, problems)."""
    records, problems = [], []
    with open(path, "rb") as f:
        lines = f.read().split(b"\n")
    if lines[-1] != b"":
        problems.append("the log does not end in a line break")
    for number, raw in enumerate(lines[:-1], 1):
        try:
            record = json.loads(raw.decode("utf-8"))  # strict: no raw control characters
        except (UnicodeDecodeError, json.JSONDecodeError) as error:
            problems.append("line %d does not parse: %s: %r" % (number, error, raw[:80]))
            continue
        problems += ["line %d: %s" % (number, p) for p in problems_of(record)]
        records.append(record)
    return records, problems


class Bench:
    """gpakcfg under gpak-sim with --log, one chip for all runs."""

    def __init__(self, args):
        self.emulator = emulator()
        self.args = args
        self.state = os.path.join(args.work, "chip.state")
        self.log = os.path.join(args.work, "runs.log")
        self.problems = []

    def run(self, args, sim=(), quiet=True, stdin=None):
        """Runs gpakcfg ARGS --log LOG, with the file stdin on standard input;
        returns (process, the new records)."""
        before = os.path.getsize(self.log) if os.path.exists(self.log) else 0
        argv = launcher_argv(self.emulator, self.args.gpak_sim, self.state,
                             [self.args.gpakcfg] + list(args) + ["--log", self.log], sim=sim)
        started = datetime.datetime.now(datetime.timezone.utc)
        def launch(argv):
            with open(stdin or os.devnull, "rb") as given:
                return subprocess.run(argv, stdin=given, capture_output=True, check=False)
        done = launch(argv + (["-q"] if quiet else []))
        ended = datetime.datetime.now(datetime.timezone.utc)
        loud = launch(argv) if quiet else None
        if os.path.exists(self.log):
            with open(self.log, "rb") as f:
                f.seek(before)
                new = f.read().count(b"\n")
        else:
            new = 0
        records, problems = parse_log(self.log) if new else ([], [])
        self.problems += problems
        records = records[-new:] if new else []
        if quiet:
            self.expect(done.stdout == b"", args, "stdout with -q: %r" % done.stdout[:80])
            self.expect(done.stderr == loud.stderr and done.returncode == loud.returncode, args,
                        "-q changed stderr or status: %r" % done.stderr)
            records = records[:len(records) // 2]  # the loud run's line comes second
        said = [line for line in done.stderr.decode("utf-8", "surrogateescape").split("\n")
                if line.startswith("gpakcfg: ")]
        for record in records:
            self.expect(record["status"] == done.returncode, args, "status %d, exit %d" %
                        (record["status"], done.returncode))
            # Why it failed: the first line it said, as it said it.
            self.expect(record["error"] == (said[0] if said and done.returncode else None), args,
                        "error %r, standard error %r" % (record["error"], done.stderr[:200]))
            when = datetime.datetime.strptime(record["time"], "%Y-%m-%dT%H:%M:%S.%f%z")
            self.expect(started - datetime.timedelta(seconds=1) <= when <= ended, args,
                        "time %s outside the run" % record["time"])
        return done, records

    def expect(self, ok, args, problem):
        if not ok:
            self.problems.append("%s: %s" % (" ".join(map(str, args)), problem))

    def one(self, args, sim=(), stdin=None, **want):
        """A run that must log one line holding want; returns it."""
        done, records = self.run(args, sim, stdin=stdin)
        self.expect(len(records) == 1, args, "%d lines, not 1" % len(records))
        if len(records) != 1:
            return None
        for name, value in want.items():
            self.expect(records[0][name] == value, args,
                        "%s is %r, not %r" % (name, records[0][name], value))
        return records[0]


def check_runs(bench, example):
    """The runs of an ordinary day on one chip, each with its line."""
    bench.one(["-t", "nvm"], action="read", file=None, sent=None, set=[], status=0,
              read_complete=True, verified=None, skipped=False, signal=None, memory="nvm",
              code=1, node="/dev/i2c-1", new_code=None, chips=None, error=None)
    # A scan names the chips that answered, and no code of -c.
    bench.one(["--scan"], action="scan", code=None, chips=[1], memory=None, status=0)
    bench.one(["--scan"], ["--absent"], chips=[], status=1)
    # The file on standard input, logged as given.
    bench.one(["-t", "eeprom", "-w", "-"], stdin=example, action="write", file="-", status=0,
              verified=True)
    serial = ["--set", "0xF0=0001E240"]
    written = bench.one(["-t", "eeprom", "-w", example] + serial, action="write", file=example,
                        set=[{"addr": 0xF0, "bytes": "0001e240"}], status=0, verified=True,
                        skipped=False, memory="eeprom")
    if written:
        bench.expect(written["sent"][0xF0 * 2:0xF4 * 2] == "0001e240", serial, "sent lacks it")
        bench.expect(written["read"] == written["sent"], serial, "the chip does not hold it")
    again = bench.one(["-t", "eeprom", "-w", example, "--skip-identical"] + serial,
                      skipped=True, verified=True, status=0)
    if written and again:
        bench.expect(again["read"] == written["read"], serial, "the skipped run read otherwise")
    bench.one(["-t", "eeprom", "--verify", example] + serial, action="verify", verified=True)
    bench.one(["-t", "eeprom", "--verify", example], action="verify", verified=False,
              first_difference=0xF0, differing=4, status=1)
    bench.one(["-t", "eeprom", "-w", example], ["--nack", "0x0b:0x50"], status=1,
              verified=None, read_complete=False)
    bench.one(["-t", "eeprom", "-w", example], ["--no-node"], status=1, sent=None, read=None)
    done, records = bench.run(["-t", "eeprom", "-w", example, "--set", "0xF0=00", "-z"])
    bench.expect(done.returncode == 255 and not records, ["-z"], "a refused run logged")


def check_names(bench, example):
    """File names that JSON must escape come back byte for byte."""
    names = [b'quote"d.hex', b"back\\slash.hex", b"tab\tnew\nline\x01\x1f\x7f.hex",
             "utf-8 \u00e9\u20ac\U0001f600.hex".encode(), b"latin-1 \xe9\xff.hex",
             b"cut \xe2\x82.hex", b"surrogate \xed\xa0\x80.hex", b"overlong \xc0\xaf.hex"]
    with open(example, "rb") as f:
        content = f.read()
    for name in names:
        path = os.path.join(os.fsencode(bench.args.work), name)
        with open(path, "wb") as f:
            f.write(content)
        record = bench.one(["-t", "eeprom", "--verify", path])
        if record:
            bench.expect(os.fsencode(record["file"]) == path, [name],
                         "file %r gives back %r" % (record["file"], os.fsencode(record["file"])))
    with open(bench.log, "rb") as f:
        text = f.read()
    bench.expect(all(b >= 0x20 for line in text.split(b"\n") for b in line), ["log"],
                 "a raw control character in the log")


def check_cut_short(bench):
    """A line the file-size limit cuts short is now taken back, not left to
    break the next line: the run says "not logged" and ends 1."""
    if bench.emulator:
        return  # the limit is set by sh, which a cross build's simulator cannot run
    size = os.path.getsize(bench.log)
    blocks = size // 1024 + 1  # room for a part of a line, never a whole one
    command = ["sh", "-c", 'ulimit -f %d; exec "$0" "$@"' % blocks, bench.args.gpakcfg, "-q",
               "-t", "nvm", "--log", bench.log]
    done = subprocess.run(launcher_argv(bench.emulator, bench.args.gpak_sim, bench.state, command),
                          capture_output=True, check=False)
    bench.expect(done.returncode == 1 and b"not logged: File too large (the part written was "
                 b"taken back)" in done.stderr and os.path.getsize(bench.log) == size,
                 ["ulimit -f"], "%d %r, the log %d bytes, not %d" %
                 (done.returncode, done.stderr, os.path.getsize(bench.log), size))
    bench.one(["-t", "nvm"], status=0)  # and the next line parses


def main():
    parser = parser_for(__doc__)
    parser.add_argument("--example", required=True)
    args = parser.parse_args()
    fresh_work(args.work)
    bench = Bench(args)
    check_runs(bench, args.example)
    check_names(bench, args.example)
    check_cut_short(bench)
    records, problems = parse_log(bench.log)
    bench.problems += problems
    for problem in bench.problems:
        print("PROBLEM " + problem)
    print("run log: %d lines parsed, %d problems" % (len(records), len(bench.problems)))
    return 1 if bench.problems else 0


if __name__ == "__main__":
    sys.exit(main())
