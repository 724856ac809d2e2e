"""`analytics`: 8 processes x 100 events appended to one queue file while the queue uploads to the GA4
sink, repeated for --runs rounds: every event must be either sent once or still queued intact."""

from __future__ import annotations

import random
import time
from collections import Counter

from environment import Environment, print_table  # first: it puts tests/e2e on the module path

from harness import ANALYTICS_DRIVER, dump_queue, hit_params, parse_values, remove_queue, start_tool

PROCESSES = 8
EVENTS = 100


def result_of(query: str) -> str:
    return dict(hit_params(query)).get("ep.result", "")


def one_round(env: Environment, tags) -> dict:
    remove_queue()
    mark = len(env.harness.sink.hits)
    started = time.monotonic()
    processes = [start_tool(ANALYTICS_DRIVER, "report", EVENTS, tag) for tag in tags]
    reported = 0
    for process in processes:
        out, _ = process.communicate(timeout=300)
        if process.returncode == 0:
            reported += int(parse_values(out.decode()).get("reported", "0"))
    took = time.monotonic() - started
    queued = dump_queue()
    sent = [result_of(hit.query) for hit in env.harness.sink.hits[mark:]]
    left = [result_of(record.query) for record in queued.records]
    seen = Counter(sent + left)
    expected = {f"{tag}-{i:03d}" for tag in tags for i in range(EVENTS)}
    return {"reported": reported, "sent": len(sent), "queued": len(left),
            "lost": len(expected - set(seen)), "doubled": sum(n - 1 for n in seen.values() if n > 1),
            "corrupt": int(queued.end != "end" or queued.header["pending"] != len(queued.records)),
            "seconds": took}


def run(runs: int, seed: int, verbose: bool) -> int:
    rng = random.Random(seed)
    rows = []
    with Environment(codesign=False) as env:
        print(f"analytics: {runs} rounds of {PROCESSES} processes x {EVENTS} events, seed {seed}", flush=True)
        for index in range(runs):
            tags = [f"R{index}{chr(65 + rng.randrange(26))}{k}" for k in range(PROCESSES)]
            figures = one_round(env, tags)
            rows.append([index, figures["reported"], figures["sent"], figures["queued"], figures["lost"],
                         figures["doubled"], figures["corrupt"], f"{figures['seconds']:.1f}"])
            if verbose:
                print(f"  round {index}: {figures}", flush=True)
        remove_queue()
    print()
    print(f"analytics: {runs} rounds, seed {seed} (lost, doubled and corrupt must be 0)")
    print_table(["round", "reported", "sent during the round", "left queued", "lost", "doubled",
                 "corrupt queue", "seconds"], rows)
    return 0 if all(row[4] == row[5] == row[6] == 0 for row in rows) else 1
