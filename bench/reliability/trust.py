"""`trust`: every kind of installer the trust checks reject, through the whole updater."""

from __future__ import annotations

from collections import Counter

from environment import TEST_INSTALLER, Environment, invocations, print_table

INSTALLER_PATH = "/bench/trust/setup.exe"
REJECTED_EXIT = 260  # FailureMainIsFileOrvaneSigned: neither attempt passed the checks


def tampered(signed: bytes) -> bytes:
    """A signed installer with one byte of its code changed after signing."""
    at = 0x1000 + len(signed) // 3
    return signed[:at] + bytes([signed[at] ^ 0x01]) + signed[at + 1:]


def rejected_kinds(env: Environment) -> dict:
    """{kind: installer bytes}, each announced by the service with its true size and hash, so only the
    signature and signer check can refuse it."""
    harness = env.harness
    return {
        "unsigned": TEST_INSTALLER.read_bytes(),
        "tampered after signing": tampered(harness.signed_installer("orvane-inc")),
        "other organisation (Contoso Games Ltd)": harness.signed_installer("contoso"),
        "Orvane AG": harness.signed_installer("orvane-ag"),
        "untrusted root": harness.signed_installer("orvane-inc-untrusted"),
        "revoked certificate": harness.signed_installer("orvane-inc-revoked"),
    }


def run(runs: int, seed: int, verbose: bool) -> int:
    tally = Counter()
    with Environment() as env:
        kinds = rejected_kinds(env)
        names = list(kinds)
        # The seed only chooses which kind goes first; every kind gets its share of the runs. Nothing is
        # cleared between runs: Wine's chain engine remembers a revoked signer as good after its first
        # check, which the program's own check against the CRL must make up for.
        first = seed % len(names)
        order = names[first:] + names[:first]
        print(f"trust: {runs} runs over {len(names)} kinds, seed {seed}", flush=True)
        for index in range(runs):
            name = order[index % len(order)]
            env.harness.offer(env.harness.host(INSTALLER_PATH, kinds[name]))
            result = env.run_updater()
            started = bool(invocations("installer"))
            rejected = result.exit_code == REJECTED_EXIT and not started and not result.timed_out
            tally[(name, "runs")] += 1
            tally[(name, "rejected")] += rejected
            tally[(name, "started")] += started
            if verbose or not rejected:
                print(f"  run {index}: {name} -> exit {result.exit_code}, started {started}, "
                      f"timed out {result.timed_out}, {result.elapsed_s:.1f} s, reported {result.results}", flush=True)
    print()
    print(f"trust: {runs} runs, seed {seed} (each must end with exit code {REJECTED_EXIT}, the installer never started)")
    rows = [[name, tally[(name, "runs")], tally[(name, "rejected")], tally[(name, "started")],
             f"{100.0 * tally[(name, 'rejected')] / tally[(name, 'runs')]:.0f} %" if tally[(name, "runs")] else "-"]
            for name in names]
    total_runs = sum(tally[(n, "runs")] for n in names)
    total_rejected = sum(tally[(n, "rejected")] for n in names)
    rows.append(["all", total_runs, total_rejected, sum(tally[(n, "started")] for n in names),
                 f"{100.0 * total_rejected / total_runs:.0f} %"])
    print_table(["installer", "runs", "rejected (exit 260)", "started", "rejected share"], rows)
    return 0 if total_rejected == total_runs else 1
