"""`updater-kills`: whole updater runs killed at a random moment of the download, each followed by a run
that must end with the installer handed off, hash-correct."""

from __future__ import annotations

import random
import time
from collections import Counter

from environment import Environment, classify, print_table
from testservers import faults as F

INSTALLER_PATH = "/bench/kills/setup.exe"
RATE = 1_000_000  # bytes per second per connection: the download takes a few seconds


def run(runs: int, seed: int, verbose: bool) -> int:
    tally = Counter()
    rows = []
    with Environment() as env:
        installer = env.harness.signed_installer("orvane-inc")
        print(f"updater-kills: {runs} runs, seed {seed}, installer {len(installer)} bytes", flush=True)
        for index in range(runs):
            rng = random.Random(f"{seed}-{index}")
            env.harness.offer(env.harness.host(INSTALLER_PATH, installer))
            env.harness.files.set_faults(F.throttle(RATE))
            delay = rng.uniform(0.5, 1.0 + len(installer) / RATE)
            running = env.start_updater()
            time.sleep(delay)
            running.kill()
            killed = running.finish(allow_timeout=True)
            env.harness.files.set_faults(None)
            after = env.run_updater()
            outcome = classify(after, installer)
            tally[outcome] += 1
            sent = sum(r.bytes_sent or 0 for r in killed.file_requests)
            rows.append([index, f"{delay:.2f}", "yes" if killed.killed else "no (it had ended)", sent, after.exit_code,
                         outcome, f"{after.elapsed_s:.1f}"])
            if verbose or outcome != "handed off":
                print(f"  run {index}: {rows[-1]}", flush=True)
    print()
    print(f"updater-kills: {runs} runs, seed {seed} (file server at {RATE // 1000} kB/s while the first run is "
          "killed; the next run is served at full speed)")
    print_table(["run", "killed after s", "killed mid-run", "bytes sent before the kill", "next run's exit", "next run", "next run s"], rows)
    print(f"next run handed off hash-correct: {tally['handed off']} of {runs}")
    return 0 if tally["handed off"] == runs else 1
