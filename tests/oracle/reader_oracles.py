#!/usr/bin/python3
"""The hex record reader against three readers that nobody here wrote.

srec_cat (srecord), objcopy (binutils) and Python's intelhex write random
256-byte images at several record sizes, with and without address records,
with LF, CR LF and CR line ends; mutations of those files (a flipped digit,
a dropped line, a swapped pair, a duplicated line, a truncated tail, a blank
line) and a few files of our own join them. Each file is read by the three
oracles and programmed into a fresh simulated chip with the built gpakcfg
(-t nvm -w FILE, in virtual time), and:

  - a file gpakcfg takes gives the image all three oracles read, in its
    file section and on the chip afterwards (byte 0xCA with the control
    code in its low nibble);
  - a file that an oracle rejects, or reads with data outside 0..255, with
    a gap, or with one address given two values, is refused: status 255,
    one line "gpakcfg: FILE:LINE: ..." on standard error, an empty trace;
  - the files written by the tools, unchanged, are taken, and a flipped
    digit is refused at its own line.

Then --save: what gpakcfg saves is read by all three oracles as the memory
it read back, srec_cat turns it into those very bytes, and it programs a
fresh chip to the same memory.

Two oracles are given a file with its line ends eased, where the tool
itself, not its reading of records, stands in the way: srec_cat reads LF
and CR LF but not CR alone, so its copy has every line end turned into LF;
objcopy knows a hex file only by a ':' as its very first byte, so its copy
has no blank lines before the first record. Exits 77 (skipped) when a tool
is missing, 1 on any disagreement.
"""

import concurrent.futures
import io
import os
import random
import re
import shutil
import subprocess
import sys
sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "support"))
from launch import (  # noqa: E402  pylint: disable=wrong-import-position
    emulator, fresh_work, launcher_argv, parser_for)

SKIP = 77
CONTROL_CODE = 1  # gpakcfg's default, which the simulated chip answers to


def record(addr, rtype, data):
    """A record line of our own, upper-case digits, no line break."""
    body = [len(data), addr >> 8, addr & 0xFF, rtype] + list(data)
    return ":" + "".join("%02X" % b for b in body) + "%02X" % (-sum(body) & 0xFF)


END = record(0, 1, [])


class Tools:
    def __init__(self, args):
        self.emulator = emulator()
        self.gpakcfg = args.gpakcfg
        self.gpak_sim = args.gpak_sim
        self.work = args.work
        from intelhex import IntelHex  # pylint: disable=import-outside-toplevel

        self.IntelHex = IntelHex

    def run(self, argv, **kwargs):
        return subprocess.run(argv, capture_output=True, check=False, **kwargs)

    # --- the oracles: each returns {address: byte}, or None when it rejects
    # the file, and whether it saw one address with two values.

    def srec_cat(self, path):
        with open(path, "rb") as f:
            text = f.read().replace(b"\r\n", b"\n").replace(b"\r", b"\n")
        lf_path = path + ".lf"
        with open(lf_path, "wb") as f:
            f.write(text)
        done = self.run(["srec_cat", lf_path, "-intel", "-o", "-", "-hexdump"])
        os.remove(lf_path)
        if done.returncode != 0:
            return None, False
        data = {}
        for line in done.stdout.decode("ascii", "replace").splitlines():
            match = re.match(r"^([0-9A-F]{8}): ", line)
            if not match:
                continue
            base = int(match.group(1), 16)
            for i in range(16):
                cell = line[10 + 3 * i : 12 + 3 * i].strip()
                if cell:
                    data[base + i] = int(cell, 16)
        return data, False  # srec_cat itself refuses two values for one address

    def objcopy(self, path):
        with open(path, "rb") as f:
            text = f.read()
        probe_path = path + ".probe"
        with open(probe_path, "wb") as f:
            f.write(text.lstrip(b"\r\n"))
        out = path + ".v"
        done = self.run(["objcopy", "-I", "ihex", "-O", "verilog", probe_path, out])
        os.remove(probe_path)
        if done.returncode != 0:
            return None, False
        data, conflict, addr = {}, False, 0
        with open(out, encoding="ascii") as f:
            for line in f:
                line = line.strip()
                if line.startswith("@"):
                    addr = int(line[1:], 16)
                    continue
                for cell in line.split():
                    value = int(cell, 16)
                    conflict = conflict or data.get(addr, value) != value
                    data[addr] = value
                    addr += 1
        os.remove(out)
        return data, conflict

    def intelhex(self, path):
        try:
            ih = self.IntelHex(path)
        except Exception:  # pylint: disable=broad-except
            return None, False  # its errors name the fault; any of them is a rejection
        return {a: ih[a] for a in ih.addresses()}, False

    # --- gpakcfg on a fresh simulated chip

    def gpakcfg_run(self, name, args):
        state = os.path.join(self.work, name + ".state")
        trace = os.path.join(self.work, name + ".trace")
        for stale in (state, trace):
            if os.path.exists(stale):
                os.remove(stale)
        argv = launcher_argv(self.emulator, self.gpak_sim, state, [self.gpakcfg] + args,
                             trace=trace)
        done = self.run(argv)
        bus = ""
        if os.path.exists(trace):
            with open(trace, encoding="ascii") as f:
                bus = f.read()
        return done, bus, state


def oracle_verdict(data, conflict):
    """('image', 256 bytes) or the reason the file gives no certain image."""
    if data is None:
        return "rejects", None
    if conflict:
        return "two values for one address", None
    addrs = sorted(data)
    if not addrs:
        return "no data", None
    if addrs[-1] > 255:
        return "data outside 0..255", None
    if addrs != list(range(len(addrs))):
        return "a gap", None
    return "image", bytes(data[a] for a in addrs) + bytes(256 - len(addrs))


def tables(out):
    """The hex tables of a run's output, each as 256 bytes."""
    found = []
    lines = out.splitlines()
    for i, line in enumerate(lines):
        if line.startswith("Page |  0 1 2"):
            rows = lines[i + 2 : i + 18]
            found.append(bytes.fromhex("".join(row[7:] for row in rows)))
    return found


# --- the corpus


def split_lines(text):
    return re.split(r"\r\n|\r|\n", text.rstrip("\r\n"))


def join_lines(lines, eol):
    return "".join(line + eol for line in lines)


def written_by_tools(tools, image, name, work):
    """(name, lines) of the files the three tools write for one image."""
    bin_path = os.path.join(work, name + ".bin")
    with open(bin_path, "wb") as f:
        f.write(image)
    made = []

    def tool_file(label, argv):
        out = os.path.join(work, "%s-%s.hex" % (name, label))
        done = tools.run([out if arg == "OUT" else arg for arg in argv])
        if done.returncode != 0:
            raise RuntimeError("%s failed: %s" % (" ".join(argv), done.stderr.decode()))
        with open(out, encoding="ascii", newline="") as f:
            made.append((label, split_lines(f.read())))

    srec = ["srec_cat", bin_path, "-binary", "-o", "OUT", "-intel"]
    for size in (8, 16, 32):
        for address, option in (("linear", []), ("segment", ["-address-length=3"]),
                                ("none", ["-address-length=2"])):
            tool_file("srec-%d-%s" % (size, address), srec + ["-obs=%d" % size] + option)
    tool_file("srec-32-start", srec + ["-execution-start-address=0x1234"])
    objcopy = ["objcopy", "-I", "binary", "-O", "ihex"]
    tool_file("objcopy-16", objcopy + [bin_path, "OUT"])
    tool_file("objcopy-16-start", objcopy + ["--set-start", "0x1234", bin_path, "OUT"])
    ih = tools.IntelHex()
    ih.frombytes(image)
    for size in (1, 8, 16, 32, 255):
        for start in (None, {"EIP": 0x1234}, {"CS": 0x12, "IP": 0x34}):
            if start is not None and size not in (8, 32):
                continue
            ih.start_addr = start
            text = io.StringIO()
            ih.write_hex_file(text, byte_count=size)
            label = "intelhex-%d" % size + ("" if start is None else "-" + "-".join(start))
            made.append((label, split_lines(text.getvalue())))
    return made


def our_own(image):
    """(name, lines, expectation) of files made here, at the edges of the rules."""
    data = [record(a, 0, image[a:a + 16]) for a in range(0, 256, 16)]
    lower = [line.lower() for line in data]
    return [
        ("own-lower-case", lower + [END], "accept"),
        ("own-empty-data-record", data + [record(0x100, 0, []), END], "accept"),
        ("own-end-with-address", data + [record(0x1234, 1, [])], "accept"),
        ("own-short-with-end", data[:5] + [END], "accept"),
        ("own-linear-1", [record(0, 4, [0, 1])] + data + [END], "refuse"),
        ("own-segment-field", [record(0x10, 2, [0, 0])] + data + [END], "refuse"),
        ("own-two-starts", [record(0, 5, [0, 0, 0, 1])] + data + [record(0, 5, [0, 0, 0, 1]), END],
         "refuse"),
        ("own-overlap", data[:3] + [record(0x28, 0, image[0x28:0x38])] + data[3:] + [END],
         "refuse"),
        ("own-beyond", data + [record(0x100, 0, [1, 2]), END], "refuse"),
    ]


def mutations(rng, lines):
    """(kind, lines or text, expected refusal line or None) of one file."""
    found = []
    records = [i for i, line in enumerate(lines) if line.startswith(":")]
    i = rng.choice(records)
    pos = rng.randrange(1, len(lines[i]))
    old = lines[i][pos]
    new = rng.choice([c for c in "0123456789ABCDEFG" if c.upper() != old.upper()])
    flipped = list(lines)
    flipped[i] = lines[i][:pos] + new + lines[i][pos + 1:]
    found.append(("flip", flipped, i + 1))
    i = rng.randrange(len(lines))
    found.append(("drop", lines[:i] + lines[i + 1:], None))
    if len(lines) > 1:
        i = rng.randrange(len(lines) - 1)
        found.append(("swap", lines[:i] + [lines[i + 1], lines[i]] + lines[i + 2:], None))
    i = rng.randrange(len(lines))
    found.append(("duplicate", lines[:i + 1] + lines[i:], None))
    i = rng.randrange(len(lines) + 1)
    found.append(("blank", lines[:i] + [""] + lines[i:], None))
    found.append(("truncate", None, None))  # cut in the text itself, below
    return found


def corpus(tools, rng, images, work):
    """Every file: (path, kind, expectation, expected refusal line)."""
    files = []

    def add(name, text, kind, expect, line=None):
        path = os.path.join(work, name + ".hex")
        with open(path, "w", encoding="latin-1", newline="") as f:
            f.write(text)
        files.append((path, kind, expect, line))

    eols = {"lf": "\n", "crlf": "\r\n", "cr": "\r"}
    for n in range(images):
        image = bytes(rng.randrange(256) for _ in range(256))
        name = "image%d" % n
        for label, lines in written_by_tools(tools, image, name, work):
            for eol_name, eol in eols.items():
                add("%s-%s-%s" % (name, label, eol_name), join_lines(lines, eol), "as written",
                    "accept")
            eol_name, eol = rng.choice(list(eols.items()))
            for kind, mutated, line in mutations(rng, lines):
                text = join_lines(lines, eol)
                if kind == "truncate":
                    text = text[:rng.randrange(1, len(text))]
                else:
                    text = join_lines(mutated, eol)
                add("%s-%s-%s-%s" % (name, label, eol_name, kind), text, kind,
                    "refuse" if kind == "flip" else "oracles", line)
        # objcopy also writes data far above the memory: never taken.
        out = os.path.join(work, name + "-objcopy-high.hex")
        tools.run(["objcopy", "-I", "binary", "-O", "ihex", "--change-addresses", "0x10000",
                   os.path.join(work, name + ".bin"), out])
        with open(out, encoding="ascii", newline="") as f:
            add(name + "-objcopy-high", f.read(), "as written", "refuse")
        for label, lines, expect in our_own(image):
            add("%s-%s" % (name, label), join_lines(lines, rng.choice(list(eols.values()))),
                "our own", expect)
    return files


def judge(tools, item, index):
    path, kind, expect, expected_line = item
    verdicts = {}
    for oracle in ("srec_cat", "objcopy", "intelhex"):
        verdicts[oracle] = oracle_verdict(*getattr(tools, oracle)(path))
    done, bus, _ = tools.gpakcfg_run("run%d" % index, ["-t", "nvm", "-w", path])
    out = done.stdout.decode("latin-1")
    err = done.stderr.decode("latin-1")
    problems = []
    images = {v[1] for v in verdicts.values() if v[0] == "image"}
    certain = all(v[0] == "image" for v in verdicts.values()) and len(images) == 1
    if done.returncode == 0:
        accepted = True
        if not certain:
            problems.append("taken, but the oracles say: %s" % ", ".join(
                "%s %s" % (o, v[0]) for o, v in verdicts.items()))
        else:
            image = images.pop()
            expected_chip = bytearray(image)
            expected_chip[0xCA] = (expected_chip[0xCA] & 0xF0) | CONTROL_CODE
            found = tables(out)
            if len(found) != 2 or found[0] != image:
                problems.append("the file section is not the oracles' image")
            elif found[1] != bytes(expected_chip):
                problems.append("the chip does not hold the oracles' image")
        if expect == "refuse":
            problems.append("taken, but it must be refused")
    elif done.returncode == 255:
        accepted = False
        match = re.fullmatch(r"gpakcfg: %s:(\d+): [^\n]+\n" % re.escape(path), err)
        if not match:
            problems.append("refused without one 'gpakcfg: FILE:LINE: ...' line: %r" % err)
        elif expected_line is not None and int(match.group(1)) != expected_line:
            problems.append("refused at line %s, the damage is at line %d" %
                            (match.group(1), expected_line))
        if bus:
            problems.append("refused, but the bus saw transfers")
        if "Configration file." in out:
            problems.append("refused after the file section")
        if expect == "accept":
            problems.append("refused, but it must be taken: %s" % err.strip())
    else:
        accepted = False
        problems.append("exit status %d: %s" % (done.returncode, err.strip()))
    return path, kind, accepted, problems


def check_save(tools, rng):
    """--save: read back the same by every oracle, and programmed back."""
    problems = []
    work = tools.work
    image = bytes(rng.randrange(256) for _ in range(256))
    source = os.path.join(work, "save-source.hex")
    with open(source, "w", encoding="ascii") as f:
        f.write(join_lines([record(a, 0, image[a:a + 32]) for a in range(0, 256, 32)] + [END],
                           "\n"))
    first, _, state = tools.gpakcfg_run("save-program", ["-t", "nvm", "-w", source])
    saved = os.path.join(work, "saved.hex")
    argv = launcher_argv(tools.emulator, tools.gpak_sim, state,
                         [tools.gpakcfg, "-t", "nvm", "--save", saved])
    save = tools.run(argv)
    if first.returncode != 0 or save.returncode != 0:
        return ["programming or saving failed: %s %s" % (first.stderr, save.stderr)]
    memory = tables(save.stdout.decode())[-1]
    with open(saved, "rb") as f:
        text = f.read()
    lines = text.split(b"\n")
    if (len(lines) != 18 or lines[-1] != b"" or lines[16] != END.encode() or not all(
            re.fullmatch(rb":10%04X00[0-9A-F]{34}" % (16 * p), lines[p]) for p in range(16))):
        problems.append("the saved file is not 16 records of 16 bytes and the end record")
    for oracle in ("srec_cat", "objcopy", "intelhex"):
        verdict = oracle_verdict(*getattr(tools, oracle)(saved))
        if verdict != ("image", memory):
            problems.append("%s reads the saved file as %s" % (oracle, verdict[0]))
    binary = os.path.join(work, "saved.bin")
    tools.run(["srec_cat", saved, "-intel", "-o", binary, "-binary"])
    with open(binary, "rb") as f:
        if f.read() != memory:
            problems.append("srec_cat -binary does not give the NVM byte for byte")
    again, _, _ = tools.gpakcfg_run("save-back", ["-t", "nvm", "-w", saved])
    if again.returncode != 0 or tables(again.stdout.decode())[-1] != memory:
        problems.append("programming the saved file does not give the same NVM")
    return problems


def main():
    parser = parser_for(__doc__)
    parser.add_argument("--images", type=int, default=3, help="random images (default 3)")
    parser.add_argument("--seed", type=int, default=9)
    parser.add_argument("--jobs", type=int, default=2)
    args = parser.parse_args()

    missing = [tool for tool in ("srec_cat", "objcopy") if shutil.which(tool) is None]
    try:
        import intelhex  # pylint: disable=import-outside-toplevel,unused-import
    except ImportError:
        missing.append("python3-intelhex")
    if missing:
        print("reader oracles: skipped, not installed: %s" % ", ".join(missing))
        return SKIP

    fresh_work(args.work)
    tools = Tools(args)
    rng = random.Random(args.seed)
    files = corpus(tools, rng, args.images, args.work)
    with concurrent.futures.ThreadPoolExecutor(max_workers=args.jobs) as pool:
        results = list(pool.map(lambda pair: judge(tools, pair[1], pair[0]), enumerate(files)))

    kinds = {}
    disagreements = []
    for path, kind, accepted, problems in results:
        taken, refused = kinds.get(kind, (0, 0))
        kinds[kind] = (taken + accepted, refused + (not accepted))
        disagreements += ["%s: %s" % (os.path.basename(path), p) for p in problems]
    save_problems = check_save(tools, rng)
    disagreements += ["--save: " + p for p in save_problems]

    accepted = sum(1 for r in results if r[2])
    for kind, (taken, refused) in sorted(kinds.items()):
        print("  %-10s %4d taken, %4d refused" % (kind, taken, refused))
    print("  --save     read back by srec_cat, objcopy and intelhex: %s" %
          ("same bytes" if not save_problems else "DIFFERENT"))
    for line in disagreements[:40]:
        print("DISAGREEMENT " + line)
    print("reader oracles (seed %d): %d files tried, %d accepted, %d refused, %d disagreements" %
          (args.seed, len(results), accepted, len(results) - accepted, len(disagreements)))
    return 1 if disagreements else 0


if __name__ == "__main__":
    sys.exit(main())
