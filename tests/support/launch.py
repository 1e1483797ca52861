"""What the Python checks (the reader oracles, the --log lines, the bench
script) share: the gpak-sim command line, the Python side of the one
end-to-end fixture, which builds the launcher's arguments for the C++
tests; the emulator a cross build runs the programs under; and their
common arguments."""

import argparse
import os
import shutil


def launcher_argv(emulator, gpak_sim, state, command, sim=(), trace=None):
    """EMULATOR... gpak-sim --virtual-time --state STATE [--trace TRACE]
    SIM... -- COMMAND..."""
    argv = list(emulator) + [gpak_sim, "--virtual-time", "--state", state]
    if trace is not None:
        argv += ["--trace", trace]
    return argv + list(sim) + ["--"] + list(command)


def emulator():
    """The command that runs the built programs (see GPAK_SIM_EMULATOR)."""
    return os.environ.get("GPAK_SIM_EMULATOR", "").split()


def parser_for(doc):
    """An argument parser with --gpakcfg, --gpak-sim and --work (a
    directory for the check's files, emptied by fresh_work)."""
    parser = argparse.ArgumentParser(description=doc.splitlines()[0])
    parser.add_argument("--gpakcfg", required=True)
    parser.add_argument("--gpak-sim", required=True)
    parser.add_argument("--work", required=True, help="a directory for the check (emptied)")
    return parser


def fresh_work(path):
    """The directory at path, emptied."""
    shutil.rmtree(path, ignore_errors=True)
    os.makedirs(path)
