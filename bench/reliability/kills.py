"""`kills`: the download engine alone, killed at a random moment and resumed by a new process."""

from __future__ import annotations

import random
import tempfile
import time
from pathlib import Path

from environment import check_build, print_table
from testservers import FileServer

from harness import (correct_extent, download_state_bytes, kill, read_stream_state, run_driver,
                            start_driver, stream_ranges)

NAME = "setup.exe"
RATE = 1_500_000  # bytes per second per connection: slow enough to kill the engine mid-way


def kill_at_random(url: str, target: Path, rng: random.Random, size: int) -> int:
    """Starts the engine, lets it receive a random share of the file (and a random moment more), kills it;
    returns the bytes it had reported by then."""
    threshold = rng.randrange(size // 20, size * 3 // 4)
    process = start_driver(url, target, progress=True, deadline_ms=120000)
    done = 0
    deadline = time.monotonic() + 60
    for line in process.stdout:
        words = line.split()
        if words[:1] == ["progress"]:
            done = int(words[2])
            if done >= threshold:
                break
        if words[:1] == ["finished"] or time.monotonic() > deadline:
            break
    time.sleep(rng.uniform(0.0, 0.5))
    kill(process)
    return done


def resume_points(target: Path, size: int, threads: int):
    """Where each stream resumes: its recorded offset, or its first byte without a usable record."""
    points = []
    for index, (first, _) in enumerate(stream_ranges(size, threads)):
        try:
            state = read_stream_state(target, index)
            points.append(state["Offset"] if state["ThreadsUsed"] == threads else first)
        except (FileNotFoundError, AssertionError):
            points.append(first)
    return points


def run(runs: int, seed: int, verbose: bool) -> int:
    check_build()
    rows = []
    bad = 0
    print(f"kills: {runs} runs, seed {seed}", flush=True)
    with tempfile.TemporaryDirectory(prefix="ov-bench-kills-") as work:
        for index in range(runs):
            rng = random.Random(f"{seed}-{index}")
            size = rng.randrange(2_000_000, 6_000_000)
            data = rng.randbytes(size)
            threads = rng.choice([1, 2])
            folder = Path(work) / f"run-{index}"
            folder.mkdir()
            target = folder / NAME
            if threads == 2:
                # The download state a run leaves for a file of two streams, no progress yet.
                (folder / (NAME + ".downloadstate")).write_bytes(download_state_bytes(size, 2))
            with FileServer({"/" + NAME: data}, rate=RATE, lifetime=600) as server:
                url = server.url("/" + NAME)
                killed_at = kill_at_random(url, target, rng, size)
                cache = folder / (NAME + ".cache")
                ranges = stream_ranges(size, threads)
                held = [correct_extent(cache, data, first, last) if cache.exists() else first
                        for first, last in ranges]
                recorded = resume_points(target, size, threads)
                server.log.clear()
                result = run_driver(url, target, timeout_s=180, deadline_ms=120000)
                asked = [r.range_asked for r in server.log.records() if r.method == "GET"]
            correct = result.exit_code == 0 and target.exists() and target.read_bytes() == data
            # Re-fetched: bytes the killed process had written correctly that the new one asked for again.
            refetched = []
            for (first, last), extent in zip(ranges, held):
                starts = [a[0] if a and a[0] is not None else 0 for a in asked]
                mine = [s for s in starts if first <= s <= last] or ([first] if None in asked else [])
                refetched.append(max(0, extent - min(mine)) if mine else 0)
            bad += 0 if correct else 1
            rows.append([index, size, threads, killed_at, " / ".join(str(n) for n in recorded),
                         " / ".join(str(a) for a in asked), " / ".join(str(n) for n in refetched),
                         "yes" if correct else f"NO (exit {result.exit_code})"])
            if verbose or not correct:
                print(f"  run {index}: {rows[-1]}", flush=True)
    print()
    print(f"kills: {runs} runs, seed {seed} (engine at {RATE // 1000} kB/s per connection, killed hard, "
          "resumed by a new process)")
    print_table(["run", "size", "streams", "bytes done at kill", "recorded offsets", "ranges asked on resume",
                 "re-fetched per stream", "hash-correct"], rows)
    print("re-fetched: bytes the killed process had already written correctly that the new process asked for again")
    print(f"hash-correct after resume: {runs - bad} of {runs}")
    return 1 if bad else 0
