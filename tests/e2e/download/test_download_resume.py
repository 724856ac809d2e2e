"""Resuming the download engine from its state files: after a killed process, and from state files that
belong to something else (another size, another file, another stream)."""

import random
import time

import pytest
from testservers import faults as F

from harness import (BLOCK, correct_extent, download_state_bytes, folder_listing, kill,
                     recorded_offsets, run_driver, start_driver, stream_ranges, stream_state_bytes)

NAME = "setup.exe"


def source(size, seed):
    return random.Random(seed).randbytes(size)


@pytest.fixture
def folder(tmp_path):
    path = tmp_path / "download"
    path.mkdir()
    return path


def kill_mid_download(url, target, rng, threshold):
    """Starts the engine, waits until it has received `threshold` bytes, lets it run a random moment more,
    then kills it."""
    process = start_driver(url, target, progress=True, deadline_ms=60000)
    deadline = time.monotonic() + 30
    for line in process.stdout:
        words = line.split()
        if words[:1] == ["progress"] and int(words[2]) >= threshold:
            break
        assert time.monotonic() < deadline and words[:1] != ["finished"], f"ended before the kill: {line}"
    time.sleep(rng.uniform(0.0, 0.4))
    kill(process)


@pytest.mark.parametrize("plan", ["one-stream", "two-streams", "switched-to-two"])
def test_resumes_after_the_process_was_killed(http_server, folder, plan):
    seed = random.randrange(1 << 30)
    rng = random.Random(seed)
    target = folder / NAME
    threads = 1 if plan == "one-stream" else 2
    if plan == "switched-to-two":
        # Above 20 MiB and one byte a fresh download switches to two streams while its first answer runs.
        data = source(21 * 1024 * 1024 + rng.randrange(200_000), seed)
        server = http_server({"/" + NAME: data}, rate=6_000_000)
        threshold = rng.randrange(BLOCK, 8_000_000)
    else:
        data = source(3_000_000 + rng.randrange(200_000), seed)
        if threads == 2:
            # A download state of two streams (as a run leaves it for a big file) with no progress yet.
            (folder / (NAME + ".downloadstate")).write_bytes(download_state_bytes(len(data), 2))
        server = http_server({"/" + NAME: data}, rate=1_500_000)
        threshold = rng.randrange(BLOCK, 1_000_000)
    kill_mid_download(server.url("/" + NAME), target, rng, threshold=threshold)
    if plan == "switched-to-two":
        assert server.log.records()[0].range_asked == (0, 20 * 1024 * 1024), f"seed {seed}"

    offsets = recorded_offsets(target, len(data), threads)
    cache = folder / (NAME + ".cache")
    for (first, last), offset in zip(stream_ranges(len(data), threads), offsets):
        held = correct_extent(cache, data, first, last)
        # The state never claims more than the cache holds, and at most one written block is fetched again.
        assert offset <= held, f"seed {seed}"
        assert held - offset <= BLOCK, f"seed {seed}: {held - offset} bytes re-fetched"
    assert any(o > first for o, (first, _) in zip(offsets, stream_ranges(len(data), threads))), f"seed {seed}"

    server.log.clear()
    result = run_driver(server.url("/" + NAME), target)
    assert result.exit_code == 0, f"seed {seed}\n{result.output}"
    assert folder_listing(folder) == [NAME]
    assert target.read_bytes() == data, f"seed {seed}"
    asked = sorted(r.range_asked for r in server.log.records())
    if threads == 1:
        assert asked == [(offsets[0], None)], f"seed {seed}"
    else:
        ends = [last for _, last in stream_ranges(len(data), 2)]
        expected = sorted((o, e) for o, e in zip(offsets, ends) if o <= e)
        assert asked == expected, f"seed {seed}"


OLD_DATE = "Mon, 01 Jan 2001 00:00:00 GMT"


SIZE = 400_000
FIRST = (0, 20 * 1024 * 1024)  # a fresh start's first request
GOOD_STATE = download_state_bytes(SIZE, 1)
# name: (download state, stream state or None, cache: "garbage" | "none" | "short", the ranges then asked).
# Records that do not read back (cut short, a bit flipped): the unit tests; here, what the engine makes of
# records that read back but do not fit the download.
DAMAGED_CASES = {
    "download-state-of-three-streams": (download_state_bytes(SIZE, 3), None, "garbage", [FIRST]),
    "download-state-of-no-streams": (download_state_bytes(SIZE, 0), None, "garbage", [FIRST]),
    "download-state-of-another-version": (download_state_bytes(SIZE, 1, version=3), None, "garbage", [FIRST]),
    "state-of-another-size": (download_state_bytes(SIZE + 1000, 1),
                              stream_state_bytes(0, 100_000, SIZE + 1000, 1), "garbage", [(100_000, None), None]),
    "state-of-another-file": (GOOD_STATE, stream_state_bytes(0, 200_000, SIZE, 1, OLD_DATE), "garbage",
                              [(200_000, None), None]),
    "stream-state-of-two-streams": (GOOD_STATE, stream_state_bytes(0, SIZE, SIZE, 2), "garbage", [None]),
    "stream-state-of-another-stream": (GOOD_STATE, stream_state_bytes(1, SIZE, SIZE, 1), "garbage", [None]),
    "cache-file-missing": (GOOD_STATE, stream_state_bytes(0, 300_000, SIZE, 1), "none", [None]),
    "cache-file-cut-short": (GOOD_STATE, stream_state_bytes(0, 300_000, SIZE, 1), "short", [None]),
}


def test_damaged_or_foreign_state_files_are_detected_and_the_download_starts_afresh(http_server, tmp_path):
    data = source(SIZE, 5)
    server = http_server({f"/{case}/{NAME}": data for case in DAMAGED_CASES})
    root = tmp_path / "downloads"
    root.mkdir()
    lines = []
    for case, (download_state, stream_state, cache, _) in DAMAGED_CASES.items():
        folder = root / case
        folder.mkdir()
        (folder / (NAME + ".downloadstate")).write_bytes(download_state)
        if stream_state is not None:
            (folder / (NAME + ".0")).write_bytes(stream_state)
        if cache == "garbage":
            (folder / (NAME + ".cache")).write_bytes(b"\xAA" * SIZE)
        elif cache == "short":
            (folder / (NAME + ".cache")).write_bytes(data[:100_000])
        lines.append(f"{server.url(f'/{case}/{NAME}')}\t{'Z:' + str(folder / NAME).replace('/', chr(92))}")
    batch = tmp_path / "batch.txt"
    batch.write_text("\n".join(lines) + "\n")

    result = run_driver(batch=batch, parallel=4)
    assert result.exit_code == 0, result.output
    assert folder_listing(root) == sorted(DAMAGED_CASES), "nothing is written beside the download folders"
    for case, (_, _, _, asked) in DAMAGED_CASES.items():
        folder = root / case
        assert folder_listing(folder) == [NAME], case
        assert (folder / NAME).read_bytes() == data, case
        assert [r.range_asked for r in server.log.records() if r.path == f"/{case}/{NAME}"] == asked, case


def test_complete_streams_are_not_fetched_again(http_server, folder):
    data = source(700_000, 9)
    target = folder / NAME
    (folder / (NAME + ".downloadstate")).write_bytes(download_state_bytes(len(data), 2))
    ranges = stream_ranges(len(data), 2)
    (folder / (NAME + ".0")).write_bytes(stream_state_bytes(0, ranges[0][1] + 1, len(data), 2))
    (folder / (NAME + ".1")).write_bytes(stream_state_bytes(1, ranges[1][0] + 65536, len(data), 2))
    (folder / (NAME + ".cache")).write_bytes(data[:ranges[1][0] + 65536])
    server = http_server({"/" + NAME: data})
    result = run_driver(server.url("/" + NAME), target)
    assert result.exit_code == 0, result.output
    assert target.read_bytes() == data
    assert [r.range_asked for r in server.log.records()] == [(ranges[1][0] + 65536, ranges[1][1])]


def test_restart_that_cannot_write_the_download_state_fails_through_the_watchdog(http_server, folder):
    data = source(200_000, 12)
    target = folder / NAME
    # The first answer (a 416, which asks for a restart) comes late enough to spoil the state file first.
    server = http_server({"/" + NAME: data}, faults=[F.delay(1.0) + F.error(416)])
    process = start_driver(server.url("/" + NAME), target, retries=0)
    server.log.wait(1, timeout=20)
    state = folder / (NAME + ".downloadstate")
    state.unlink()
    state.mkdir()  # no file can be written under this name now
    output, _ = process.communicate(timeout=60)
    lines = output.splitlines()
    failed = [line for line in lines if line.startswith("failed 0 ")]
    assert process.returncode == 1 and failed, output
    assert failed[0].startswith("failed 0 Exception:  HTTPDownload WatchdogThread Execute Function"), failed[0]
    assert "File open failed;  " in failed[0]
    assert len(server.log) == 1  # the restart made no request
    assert not target.exists()
