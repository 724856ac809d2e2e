"""`updater-kills`: whole updater runs killed at a random moment of the download, each followed by a run
that must end with the installer handed off, hash-correct, having resumed the killed run's partial download.
Reported per run: what the killed run's state files recorded, what the next run fetched beyond that (goal: at
most one block per stream), and the bytes the server sent twice in all. The last also counts what was still
in flight at the kill: the block a stream had in hand, unrecorded, and the throttle's last write."""

from __future__ import annotations

import random
import time
from collections import Counter

from environment import Environment, classify, print_table
from harness import BLOCK, recorded_offsets, stream_ranges
from testservers import faults as F

INSTALLER_PATH = "/bench/kills/setup.exe"
RATE = 1_000_000  # bytes per second per connection: the download takes a few seconds


def recorded_bytes(folder, size: int) -> tuple:
    """(bytes the killed run's state files record as in the cache, streams of its plan); (0, 1) without a
    plan to resume."""
    state = folder / "setup.exe.downloadstate"
    if not state.exists() or len(state.read_bytes()) != 16:
        return 0, 1
    threads = int.from_bytes(state.read_bytes()[8:12], "little")
    offsets = recorded_offsets(folder / "setup.exe", size, threads)
    return sum(offset - first for (first, _), offset in zip(stream_ranges(size, threads), offsets)), threads


def run(runs: int, seed: int, verbose: bool) -> int:
    tally = Counter()
    worst = {"beyond": 0, "again": 0}
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
            recorded, threads = recorded_bytes(env.harness.download_folder(), len(installer))
            env.harness.files.set_faults(None)
            after = env.run_updater()
            outcome = classify(after, installer)
            tally[outcome] += 1
            sent = sum(r.bytes_sent or 0 for r in killed.file_requests)
            sent_after = sum(r.bytes_sent or 0 for r in after.file_requests)
            # A kill after the download had finished interrupted no download: the next run fetches it anew.
            interrupted = sent < len(installer)
            again = sent + sent_after - len(installer)
            beyond = sent_after - (len(installer) - recorded)
            if interrupted:
                tally["interrupted"] += 1
                tally["within a block per stream"] += beyond <= threads * BLOCK
                worst["beyond"] = max(worst["beyond"], beyond)
                worst["again"] = max(worst["again"], again)
            rows.append([index, f"{delay:.2f}", "yes" if killed.killed else "no (it had ended)", sent, recorded,
                         sent_after, beyond if interrupted else "-", again if interrupted else "-",
                         after.exit_code, outcome, f"{after.elapsed_s:.1f}"])
            if verbose or outcome != "handed off":
                print(f"  run {index}: {rows[-1]}", flush=True)
    print()
    print(f"updater-kills: {runs} runs, seed {seed} (file server at {RATE // 1000} kB/s while the first run is "
          "killed; the next run is served at full speed)")
    print_table(["run", "killed after s", "killed mid-run", "sent before the kill", "recorded", "sent to the next run",
                 "next run beyond the record", "sent twice", "next run's exit", "next run", "next run s"], rows)
    print(f"next run handed off hash-correct: {tally['handed off']} of {runs}")
    print(f"killed during the download: {tally['interrupted']}; of these, the next run fetched at most one block "
          f"({BLOCK} bytes) per stream beyond the record: {tally['within a block per stream']} "
          f"(largest {worst['beyond']} bytes); sent twice in all: at most {worst['again']} bytes "
          f"(a block in hand and the throttle's write of {RATE // 20} bytes in flight at the kill)")
    ok = tally["handed off"] == runs and tally["within a block per stream"] == tally["interrupted"]
    return 0 if ok else 1
