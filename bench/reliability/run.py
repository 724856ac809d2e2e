#!/usr/bin/python3
"""Reliability suite of the updater under Wine: seeded runs that print a table. Not part of scripts/test.sh.

Usage: bench/reliability/run.py faults|kills|updater-kills|inputs|trust|analytics|service [--runs N] [--seed S]
       [--verbose]

  faults  whole updater runs while the installer's file server follows a random fault plan (drops at
          random offsets, 5xx bursts, stalls, wrong Content-Range, 416, 200 instead of 206, the file
          changed mid-way, throttling, hang-ups, a server that ignores ranges, a trickle): handed off
          hash-correct / documented exit / hung, wrong file, crash (the last three must be 0)
  kills   the download engine alone (tools/DownloadDriver) killed at a random moment, then resumed by
          a new process on the same target: hash-correct, bytes re-fetched per stream
  inputs  generated hostile inputs (service answers, addresses and file names, command lines,
          bit-flipped download state and analytics queue files): crashes and files written outside the
          program's folders (both must be 0)
  trust   every kind of installer the trust checks reject, through the whole updater: rejected and
          never started
  analytics  8 processes x 100 events on one queue file while it uploads: lost, doubled and corrupt
          records (all must be 0)
  service hostile calls to the installed elevation service from a limited process (files, parameters,
          process ids): calls that started anything (must be 0)

It installs what is missing and builds first, as scripts/test.sh does. The suite starts and stops the
Wine session of the prefix itself.
Exit code 0 when every "must be 0" count is 0.
"""

import argparse
import sys
from pathlib import Path

sys.path.insert(0, str(Path(__file__).resolve().parent))

from prepare import prepare_build  # noqa: E402

DEFAULT_RUNS = {"faults": 200, "kills": 20, "updater-kills": 20, "inputs": 200, "trust": 24, "analytics": 3,
                "service": 60}


def main() -> int:
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0],
                                     formatter_class=argparse.RawDescriptionHelpFormatter, epilog=__doc__)
    commands = parser.add_subparsers(dest="command", required=True)
    for name, runs in DEFAULT_RUNS.items():
        command = commands.add_parser(name)
        command.add_argument("--runs", type=int, default=runs, help=f"number of runs (default {runs})")
        command.add_argument("--seed", type=int, default=1, help="seed of the random draws (default 1)")
        command.add_argument("--verbose", action="store_true", help="print one line per run")
    args = parser.parse_args()
    if args.runs < 1:
        parser.error("--runs must be at least 1")
    prepare_build()
    module = __import__(args.command.replace("-", "_"))
    return module.run(args.runs, args.seed, args.verbose)


if __name__ == "__main__":
    sys.exit(main())
