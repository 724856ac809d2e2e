"""Runs tools/DownloadDriver (the download engine alone) under Wine, and reads and writes the engine's
state files, for the tests and the benchmark of the download engine."""

from __future__ import annotations

import os
import struct
import subprocess
import time
import zlib
from dataclasses import dataclass, field
from pathlib import Path

from winehost import BUILD, wine_environment, windows_path

DRIVER = BUILD / "tools" / "DownloadDriver" / "DownloadDriver.exe"
BLOCK = 65536


@dataclass
class DriverResult:
    exit_code: int
    lines: list
    elapsed_s: float
    finished: dict = field(default_factory=dict)  # job index -> size
    failed: dict = field(default_factory=dict)  # job index -> description
    hung: list = field(default_factory=list)
    stopped: dict = field(default_factory=dict)  # job index -> ms the release took
    callbacks: dict = field(default_factory=dict)  # job index -> (calls, calls with a failed status)
    peak_memory: int | None = None
    engine_ms: int | None = None

    @property
    def output(self):
        return "\n".join(self.lines)


def driver_arguments(url=None, target=None, *, batch=None, parallel=None, retries=None, timeout_ms=2000,
                     deadline_ms=60000, progress=False, stop_after_ms=None, max_size=None, stall_window_ms=None):
    args = ["wine", str(DRIVER)]
    if url is not None:
        args += ["--url", url, "--target", windows_path(target)]
    if batch is not None:
        args += ["--batch", windows_path(batch)]
    if parallel is not None:
        args += ["--parallel", str(parallel)]
    if retries is not None:
        args += ["--retries", str(retries)]
    if timeout_ms is not None:
        args += ["--timeout-ms", str(timeout_ms)]
    if deadline_ms is not None:
        args += ["--deadline-ms", str(deadline_ms)]
    if progress:
        args.append("--progress")
    if stop_after_ms is not None:
        args += ["--stop-after-ms", str(stop_after_ms)]
    if max_size is not None:
        args += ["--max-size", str(max_size)]
    if stall_window_ms is not None:
        args += ["--stall-window-ms", str(stall_window_ms)]
    return args


def parse_output(text, exit_code, elapsed_s):
    result = DriverResult(exit_code=exit_code, lines=[l.rstrip("\r") for l in text.splitlines()], elapsed_s=elapsed_s)
    for line in result.lines:
        word, _, rest = line.partition(" ")
        if word == "finished":
            index, _, size = rest.partition(" ")
            result.finished[int(index)] = int(size)
        elif word == "failed":
            index, _, text = rest.partition(" ")
            result.failed[int(index)] = text
        elif word == "hung":
            result.hung.append(int(rest))
        elif word == "callbacks":
            index, calls, failed = rest.split()
            result.callbacks[int(index)] = (int(calls), int(failed))
        elif word == "stopped":
            index, _, ms = rest.partition(" ")
            result.stopped[int(index)] = int(ms)
        elif word == "peak-memory":
            result.peak_memory = int(rest)
        elif word == "elapsed-ms":
            result.engine_ms = int(rest)
    return result


def run_driver(url=None, target=None, *, timeout_s=120, **options):
    """Runs the driver to its end and returns what it printed."""
    start = time.monotonic()
    completed = subprocess.run(driver_arguments(url, target, **options), env=wine_environment(),
                               stdin=subprocess.DEVNULL, capture_output=True, timeout=timeout_s)
    return parse_output(completed.stdout.decode("utf-8", "replace"), completed.returncode,
                        time.monotonic() - start)


def start_driver(url, target, **options):
    """Starts the driver and returns the process (stdout piped, text), for tests that kill it."""
    return subprocess.Popen(driver_arguments(url, target, **options), env=wine_environment(),
                            stdin=subprocess.DEVNULL, stdout=subprocess.PIPE, stderr=subprocess.DEVNULL, text=True)


def kill(process):
    """Kills the engine's process the hard way (as TerminateProcess would): no clean-up runs."""
    process.kill()
    process.wait(timeout=30)
    if process.stdout:
        process.stdout.close()


# --- state files -------------------------------------------------------------------------------------


def download_state_bytes(size, threads, version=2):
    body = struct.pack("<3I", version, size, threads)
    return body + struct.pack("<I", zlib.crc32(body))


def stream_state_bytes(index, offset, size, threads, last_modified="UNKNOWN", version=1):
    text = last_modified.encode("latin-1")[:49]
    body = struct.pack("<5I", version, index, offset, size, threads) + text.ljust(50, b"\0") + b"\0\0"
    return body + struct.pack("<I", zlib.crc32(body))


def read_download_state(target):
    data = Path(str(target) + ".downloadstate").read_bytes()
    version, size, threads, checksum = struct.unpack("<4I", data)
    assert checksum == zlib.crc32(data[:12])
    return {"Version": version, "DownloadSize": size, "ThreadsUsed": threads}


def read_stream_state(target, index):
    data = Path(f"{target}.{index}").read_bytes()
    version, stream_index, offset, size, threads = struct.unpack("<5I", data[:20])
    (checksum,) = struct.unpack("<I", data[72:76])
    assert checksum == zlib.crc32(data[:72])
    return {"Version": version, "StreamIndex": stream_index, "Offset": offset, "DownloadSize": size,
            "ThreadsUsed": threads, "LastModified": data[20:70].split(b"\0")[0].decode("latin-1")}


FIRST_REQUEST_LENGTH = 20 * 1024 * 1024 + 1


def stream_ranges(size, threads):
    """(first, last) of each stream, as the engine splits a file: in halves, but the first of two streams of
    a file above the first request's length keeps at least that request's bytes."""
    if threads == 1:
        return [(0, size - 1)]
    split = size // 2
    if size > FIRST_REQUEST_LENGTH:
        split = max(split, FIRST_REQUEST_LENGTH)
    return [(0, split - 1), (split, size - 1)]


def correct_extent(cache, source, first, last):
    """How far from `first` the cache file holds the source's bytes (the end of the correct run)."""
    with open(cache, "rb") as f:
        f.seek(first)
        held = f.read(last + 1 - first)
    expected = source[first:last + 1]
    n, step = 0, 4096
    while n < len(held) and held[n:n + step] == expected[n:n + step]:
        n += step
    while n < len(held) and held[n] == expected[n]:
        n += 1
    return first + min(n, len(held))


def folder_listing(folder):
    return sorted(os.listdir(folder))
