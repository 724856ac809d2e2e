"""`faults`: whole runs of the updater while the installer's file server misbehaves by a random plan."""

from __future__ import annotations

import random
import time
from collections import Counter

from environment import Environment, classify, print_table
from testservers import faults as F

INSTALLER_PATH = "/bench/setup.exe"


def _changed(data: bytes, rng: random.Random) -> bytes:
    at = rng.randrange(len(data))
    return data[:at] + bytes([data[at] ^ 0x5A]) + data[at + 1:]


def fault_plan(rng: random.Random, size: int):
    """A list of (kind, fault-or-faults) drawn for one run; the requests draw them in order, and requests
    past the end of the plan are answered correctly."""
    kinds = {
        "drop": lambda: [F.drop(rng.randrange(size))],
        "5xx burst": lambda: [F.error(rng.choice([500, 502, 503]))] * rng.randint(2, 5),
        "stall": lambda: [F.stall(rng.uniform(0.5, 6.0), after=rng.randrange(size))],
        "wrong Content-Range": lambda: [F.wrong_content_range(shift=rng.choice([-1, 1, 4096]))],
        "416": lambda: [F.error(416)],
        "200 for 206": lambda: [F.ignore_range()],
        "changed mid-way": lambda: [F.drop(rng.randrange(size)), F.change_content(lambda old: _changed(old, rng))],
        "re-stamped mid-way": lambda: [F.drop(rng.randrange(size)), F.change_content(lambda old: old)],
        "throttle": lambda: [F.throttle(rng.choice([64_000, 200_000, 1_000_000]))],
        "hang-up": lambda: [F.hangup()],
        # Every answer of the run, the plain request's included: one stream, at most one more request.
        "server ignores ranges": lambda: [F.no_ranges()] * 12,
        # Below 1 KiB a minute: the connection counts as stalled after 60 s and the next one carries on.
        "trickle": lambda: [F.throttle(rng.choice([2, 10]))],
    }
    names = [rng.choice(sorted(kinds)) for _ in range(rng.randint(1, 4))]
    plan, sequence = [], []
    for name in names:
        faults = kinds[name]()
        plan.append(name)
        # The first fault meets the first request; later ones may let a request or so pass first.
        sequence += ([None] * rng.randint(0, 1) if sequence else []) + faults
    return plan, sequence


def run(runs: int, seed: int, verbose: bool) -> int:
    counts = Counter()
    kinds = Counter()
    rows = []
    with Environment() as env:
        installer = env.harness.signed_installer("orvane-inc")
        print(f"faults: {runs} runs, seed {seed}, installer {len(installer)} bytes", flush=True)
        for index in range(runs):
            rng = random.Random(f"{seed}-{index}")
            plan, sequence = fault_plan(rng, len(installer))
            hosted = env.harness.host(INSTALLER_PATH, installer)  # the original again after a change
            env.harness.offer(hosted)
            env.harness.files.set_faults({INSTALLER_PATH: sequence})
            started = time.monotonic()
            result = env.run_updater()
            outcome = classify(result, installer)
            applied = sum(1 for r in result.file_requests if r.fault)
            counts[outcome] += 1
            counts["faults applied"] += applied
            kinds.update((name, outcome) for name in set(plan))
            line = (f"run {index}: {', '.join(plan)} -> exit {result.exit_code}, {outcome}, "
                    f"{len(result.file_requests)} requests, {applied} faulted, {time.monotonic() - started:.1f} s")
            rows.append(line)
            if verbose or outcome not in ("handed off", "documented exit"):
                print("  " + line, flush=True)
        env.harness.files.set_faults(None)

    print()
    print(f"faults: {runs} runs, seed {seed}")
    print_table(["outcome", "runs"], [[name, counts[name]] for name in
                                      ("handed off", "documented exit", "hung", "wrong file", "crash",
                                       "undocumented exit")])
    print()
    print_table(["fault kind", "runs with it", "handed off", "documented exit", "failed"],
                [[name, sum(n for (k, _), n in kinds.items() if k == name), kinds[(name, "handed off")],
                  kinds[(name, "documented exit")],
                  sum(n for (k, o), n in kinds.items() if k == name and o not in ("handed off", "documented exit"))]
                 for name in sorted({k for k, _ in kinds})])
    print(f"faults applied by the file server: {counts['faults applied']} in {runs} runs")
    failures = counts["hung"] + counts["wrong file"] + counts["crash"] + counts["undocumented exit"]
    return 1 if failures else 0
