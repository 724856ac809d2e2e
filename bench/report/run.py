#!/usr/bin/python3
"""Performance report of the whole updater under Wine, every figure measured side by side in one run.

Usage: bench/report/run.py [--runs N] [--sizes-mib 16,1024]

- Quiet end: Updater.exe while the update service offers nothing (exit code 3), against its floor, the
  same single HTTPS request made by tools/WebRequestDriver (the address the updater asked, learnt from a
  first run that is not counted), and against the bare start of a trivial program (tools/TestPe), all
  through the same launcher under the same Wine, interleaved; the medians and their differences in
  milliseconds. The line "quiet end over one https request: <N> ms" is the updater's median less the
  floor's. The updater and the driver run stripped, as programs ship (release.sh strips them): Wine's
  loader reads a test build's debug sections at every start (16 MiB in Updater.exe), a cost no user pays.
  With OV_SHIPPED_PROGRAMS the shipped Updater.exe runs as it is.
- Peak memory and download through the whole updater, for each installer size: a signed installer of
  that size (the test installer with padding, signed with the test PKI) offered with its true size and
  hash, run to its hand-off. Peak memory is the peak resident set (VmHWM in /proc) of the Unix process
  that hosts Updater.exe under Wine, sampled every 50 ms: it includes Wine's own mappings, so it is an
  upper bound of the Windows process's peak working set. The download rate is the file server's bytes
  sent over the time from the first request to the last answer.
- For the largest size, the same installer once more from a server that answers 200 with the whole file
  to every request. Printed: the bytes the fresh download was sent beyond the file's size, and the
  range-ignoring server's requests and extra bytes. (A fresh download against one whose plan is known
  is bench/download's comparison: a run of the updater always starts with an empty download folder.)

It installs what is missing and builds first, as scripts/test.sh does; the report starts and stops the
Wine session of the prefix itself.
"""

import argparse
import os
import platform
import statistics
import subprocess
import sys
import threading
import time
from pathlib import Path

sys.path.insert(0, str(Path(__file__).resolve().parent.parent / "reliability"))

from prepare import prepare_build  # noqa: E402

if __name__ == "__main__" and not {"-h", "--help"} & set(sys.argv[1:]):
    prepare_build()  # before the test support is imported: it needs what the set-up installs

from environment import BUILD, RUN_ARGUMENTS, UPDATER, Environment, classify, print_table  # noqa: E402
from harness import SHIPPED, _processes_with_tag, padded_pe, quote_argument, run_windows_program  # noqa: E402
from testservers import Answer  # noqa: E402
from testservers import faults as F  # noqa: E402

import pki  # noqa: E402

TRIVIAL = BUILD / "tools" / "TestPe" / "TestPe.exe"
WEB_REQUEST_DRIVER = BUILD / "tools" / "WebRequestDriver" / "WebRequestDriver.exe"


def as_shipped(program: Path, folder: Path) -> Path:
    """A copy of a test-build program without its debug sections, as release.sh strips the shipped ones."""
    folder.mkdir(parents=True, exist_ok=True)
    stripped = folder / program.name
    subprocess.run(["x86_64-w64-mingw32-strip", "--strip-all", "-o", str(stripped), str(program)], check=True)
    return stripped


def quiet_end(env: Environment, runs: int):
    """Wall times in ms of the updater's quiet end, of the one request it makes, and of a trivial program."""
    updater = UPDATER if SHIPPED else as_shipped(UPDATER, env.work / "stripped")
    driver = as_shipped(WEB_REQUEST_DRIVER, env.work / "stripped")
    env.harness.service.set_answers(Answer(body="{}"))
    tail = " ".join(quote_argument(a) for a in (f"/product={env.product}", *RUN_ARGUMENTS))
    if run_windows_program(updater, tail, timeout_s=60).exit_code != 3:
        raise SystemExit("Updater.exe did not end quietly (exit 3) while the service offered nothing")
    query = env.harness.service.queries[-1]
    host = next(value for name, value in query.headers if name.lower() == "host")
    request = f"--url {quote_argument(f'https://{host}{query.target}')}"
    programs = ((updater, tail, 3), (driver, request, 0), (TRIVIAL, "", 0))
    times = {program: [] for program, _, _ in programs}
    for _ in range(runs):
        for program, arguments, expected in programs:
            started = time.monotonic()
            result = run_windows_program(program, arguments, timeout_s=60)
            elapsed = time.monotonic() - started
            if result.exit_code != expected:
                raise SystemExit(f"{program.name} ended with {result.exit_code}, expected {expected}")
            if program == driver and "status: 200" not in result.stdout:
                raise SystemExit(f"the floor's request was not answered: {result.stdout[-500:]}")
            times[program].append(elapsed * 1000)
    return times[updater], times[driver], times[TRIVIAL]


def padded_signed_installer(env: Environment, size: int) -> bytes:
    """The test installer with an overlay of random bytes up to about `size`, signed by "Orvane, Inc."."""
    padded = padded_pe(env.work, size)
    signed = env.work / f"signed-{size}.exe"
    pki.sign_pe(padded, signed, env.codesign.leaf("orvane-inc"))
    padded.unlink()
    data = signed.read_bytes()
    signed.unlink()
    return data


class PeakSampler:
    """Samples VmHWM of the Unix processes of one run's Updater.exe (found by the run's tag) every 50 ms."""

    def __init__(self, tag: str):
        self.tag = tag
        self.peak = 0
        self._stop = threading.Event()
        self._thread = threading.Thread(target=self._sample, daemon=True)
        self._thread.start()

    def _sample(self):
        while not self._stop.is_set():
            for pid in _processes_with_tag(self.tag, "Updater.exe"):
                try:
                    for line in Path(f"/proc/{pid}/status").read_text().splitlines():
                        if line.startswith("VmHWM:"):
                            self.peak = max(self.peak, int(line.split()[1]) * 1024)
                except OSError:
                    pass
            self._stop.wait(0.05)

    def stop(self) -> int:
        self._stop.set()
        self._thread.join(timeout=10)
        return self.peak


def whole_run(env: Environment, installer: bytes, path: str):
    """One run of the whole updater to its hand-off with `installer` offered under `path`."""
    env.harness.offer(env.harness.host(path, installer))
    running = env.harness.start(*RUN_ARGUMENTS, watch_events=False, timeout_s=1800)
    sampler = PeakSampler(running.tag)
    run = running.finish(allow_timeout=True)
    peak = sampler.stop()
    outcome = classify(run, installer)
    records = [r for r in run.file_requests if r.finished is not None]
    sent = sum(r.bytes_sent or 0 for r in records)
    span = (max(r.finished for r in records) - min(r.started for r in records)) if records else 0
    rate = sent / span / (1 << 20) if span else 0.0
    return {"size": len(installer), "exit": run.exit_code, "outcome": outcome, "peak": peak, "elapsed": run.elapsed_s,
            "requests": len(records), "sent": sent, "span": span, "rate": rate}


def range_ignoring_run(env: Environment, installer: bytes, path: str):
    """The same download from a server that answers 200 with the whole file to every request."""
    env.harness.files.ranges = False
    try:
        return whole_run(env, installer, path)
    finally:
        env.harness.files.ranges = True


def download_rows(env: Environment, size_mib: int, compare: bool):
    installer = padded_signed_installer(env, size_mib << 20)
    rows = [(f"{size_mib} MiB", whole_run(env, installer, f"/report/setup-{size_mib}.exe"))]
    if compare:
        rows.append((f"{size_mib} MiB, server ignores ranges",
                     range_ignoring_run(env, installer, f"/report/no-ranges-{size_mib}.exe")))
    return rows


def main() -> int:
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0],
                                     formatter_class=argparse.RawDescriptionHelpFormatter, epilog=__doc__)
    parser.add_argument("--runs", type=int, default=7, help="runs of each program for the quiet end (default 7)")
    parser.add_argument("--sizes-mib", default="16,1024", help="installer sizes in MiB (default 16,1024)")
    args = parser.parse_args()
    sizes = [int(s) for s in args.sizes_mib.split(",") if s]
    with Environment() as env:
        updater, floor, trivial = quiet_end(env, args.runs)
        downloads = [row for size in sizes for row in download_rows(env, size, size == max(sizes))]

    print(f"report: {time.strftime('%Y-%m-%d %H:%M UTC', time.gmtime())}, {platform.node()}, "
          f"{os.cpu_count()} cores, {platform.machine()}, Python {platform.python_version()}")
    print()
    print(f"Quiet end against its one HTTPS request and a trivial program, wall time through tools/Launch, "
          f"{args.runs} runs each, interleaved; Updater.exe and WebRequestDriver.exe stripped as shipped")
    median_updater, median_floor = statistics.median(updater), statistics.median(floor)
    median_trivial = statistics.median(trivial)
    print_table(["program", "median ms", "min ms", "max ms"],
                [["Updater.exe, service offers nothing (exit 3)", f"{median_updater:.0f}", f"{min(updater):.0f}",
                  f"{max(updater):.0f}"],
                 ["WebRequestDriver.exe, the same HTTPS request", f"{median_floor:.0f}", f"{min(floor):.0f}",
                  f"{max(floor):.0f}"],
                 ["TestPe.exe (prints one line)", f"{median_trivial:.0f}", f"{min(trivial):.0f}", f"{max(trivial):.0f}"],
                 ["updater less the trivial program (medians)", f"{median_updater - median_trivial:.0f}", "", ""]])
    print(f"quiet end over one https request: {median_updater - median_floor:.0f} ms")
    print()
    print("Whole updater with a signed installer of each size (peak: VmHWM of the Wine process of Updater.exe)")
    print_table(["installer", "exit", "outcome", "peak memory MiB", "run s", "requests", "MiB sent",
                 "download MiB/s"],
                [[label, d["exit"], d["outcome"], f"{d['peak'] / (1 << 20):.1f}", f"{d['elapsed']:.1f}",
                  d["requests"], f"{d['sent'] / (1 << 20):.0f}", f"{d['rate']:.1f}"] for label, d in downloads])
    if len(downloads) >= 2:
        (_, fresh), (_, ignoring) = downloads[-2:]
        print(f"fresh download: {(fresh['sent'] - fresh['size']) / (1 << 20):.2f} MiB sent over the file's size")
        print(f"server that ignores ranges: {ignoring['requests']} request(s), "
              f"{(ignoring['sent'] - ignoring['size']) / (1 << 20):.2f} MiB sent over the file's size")
    return 0


if __name__ == "__main__":
    sys.exit(main())
