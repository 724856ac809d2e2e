"""Start one test server from a shell: `PYTHONPATH=tools python3 -m testservers <kind> ...`.

Prints "port <n>" on its first line once it serves, then runs until SIGTERM/SIGINT or
its lifetime ends. With --log, every request is appended to that file as a JSON line.

  file   --root DIR [--no-ranges] [--rate BYTES_PER_S] [--faults EXPR]
  update [--answer JSON_TEXT | --answer-file FILE] [--status N] [--delay S]
  sink   [--status N]
  crl    --root DIR

Common: --port N (default: a free one), --tls CERT KEY, --lifetime S, --log FILE.
--faults takes a Python expression over `F` (the faults module) and `FaultPlan`, e.g.
  --faults "[F.drop(1000), None, F.stall(2, after=65536)]"
"""

import argparse
import signal
import sys
import threading

from . import faults as F
from .faults import FaultPlan
from .fileserver import CrlServer, FileServer
from .ga4sink import Ga4Sink
from .updateservice import Answer, UpdateService


def main(argv=None) -> int:
    parser = argparse.ArgumentParser(prog="testservers", description="one loopback test server")
    parser.add_argument("kind", choices=["file", "update", "sink", "crl"])
    parser.add_argument("--port", type=int, default=0)
    parser.add_argument("--tls", nargs=2, metavar=("CERT", "KEY"))
    parser.add_argument("--lifetime", type=float, default=600.0)
    parser.add_argument("--log")
    parser.add_argument("--root")
    parser.add_argument("--no-ranges", action="store_true")
    parser.add_argument("--rate", type=float)
    parser.add_argument("--faults", help="Python expression over F and FaultPlan")
    parser.add_argument("--answer", help="body text of every answer")
    parser.add_argument("--answer-file", help="file whose bytes are the body of every answer")
    parser.add_argument("--status", type=int)
    parser.add_argument("--delay", type=float, default=0.0)
    args = parser.parse_args(argv)

    common = dict(port=args.port, lifetime=args.lifetime, log_file=args.log)
    tls = tuple(args.tls) if args.tls else None
    if args.kind == "file":
        plan = eval(args.faults, {"F": F, "FaultPlan": FaultPlan}) if args.faults else None  # noqa: S307
        server = FileServer(root=args.root, tls=tls, ranges=not args.no_ranges, rate=args.rate, faults=plan,
                            **common)
    elif args.kind == "update":
        body = open(args.answer_file, "rb").read() if args.answer_file else (args.answer or "{}")
        server = UpdateService(Answer(body=body, status=args.status or 200, delay=args.delay), tls=tls, **common)
    elif args.kind == "sink":
        server = Ga4Sink(tls=tls, status=args.status or 204, **common)
    else:
        server = CrlServer(args.root, **common)

    done = threading.Event()
    for signum in (signal.SIGTERM, signal.SIGINT):
        signal.signal(signum, lambda *_: done.set())
    print(f"port {server.port}", flush=True)
    while not done.wait(0.2) and not server.stopped:
        pass
    server.stop()
    return 0


if __name__ == "__main__":
    sys.exit(main())
