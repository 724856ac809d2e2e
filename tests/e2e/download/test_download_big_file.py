"""One big file through the download engine: it switches to two streams, fetches no byte twice and keeps
its memory bounded (each kind of fault, one at a time: test_download_engine.py)."""

import hashlib
import random

from testservers import FileServer

from harness import folder_listing, run_driver

NAME = "setup.exe"


def test_big_file_switches_to_two_streams_and_arrives_whole(tmp_path):
    size = 300 * 1024 * 1024 + 12345
    source_folder = tmp_path / "source"
    source_folder.mkdir()
    digest = hashlib.sha256()
    rng = random.Random(300)
    with open(source_folder / NAME, "wb") as f:
        chunk = rng.randbytes(1 << 20)
        for i in range(size // len(chunk)):
            block = bytes([i & 0xFF]) + chunk[1:]  # no two MiB alike
            f.write(block)
            digest.update(block)
        tail = rng.randbytes(size % len(chunk))
        f.write(tail)
        digest.update(tail)
    folder = tmp_path / "download"
    folder.mkdir()
    with FileServer(root=source_folder, lifetime=240) as server:
        result = run_driver(server.url("/" + NAME), folder / NAME, deadline_ms=150_000, timeout_s=180)
        asked = [r.range_asked for r in server.log.records()]
    assert result.exit_code == 0, result.output
    assert folder_listing(folder) == [NAME]
    assert (folder / NAME).stat().st_size == size
    received = hashlib.sha256()
    with open(folder / NAME, "rb") as f:
        for block in iter(lambda: f.read(1 << 20), b""):
            received.update(block)
    assert received.hexdigest() == digest.hexdigest()
    # Over 20 MiB: the first answer names the size, stream 0 reads it to its end and goes on, stream 1 takes
    # the second half; no byte comes twice.
    half = size // 2
    assert asked[0] == (0, 20 * 1024 * 1024)
    assert sorted(asked[1:]) == [(20 * 1024 * 1024 + 1, half - 1), (half, size - 1)]
    assert sum(r.bytes_sent for r in server.log.records()) == size
    assert result.peak_memory is not None and result.peak_memory < 96 * 1024 * 1024, result.output
