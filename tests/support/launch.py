"""The gpak-sim command line for the Python checks (the reader oracles, the
--log lines, the bench script): the Python side of the one end-to-end
fixture, which builds the launcher's arguments for the C++ tests."""


def launcher_argv(emulator, gpak_sim, state, command, sim=(), trace=None):
    """EMULATOR... gpak-sim --virtual-time --state STATE [--trace TRACE]
    SIM... -- COMMAND..."""
    argv = list(emulator) + [gpak_sim, "--virtual-time", "--state", state]
    if trace is not None:
        argv += ["--trace", trace]
    return argv + list(sim) + ["--"] + list(command)
